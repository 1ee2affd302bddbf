// Deterministic corpora for the benchmarks.
#ifndef BENCH_CORPORA_H_
#define BENCH_CORPORA_H_

#include <string>
#include <vector>

namespace bench {

struct Corpus {
  std::string name;
  std::string description;
};

// The corpora, in the order the table lists them.
const std::vector<Corpus>& Corpora();

// Writes corpus `name` to `path` unless a file of the right size is already there.
void MakeCorpus(const std::string& name, const std::string& path);

}  // namespace bench

#endif  // BENCH_CORPORA_H_
