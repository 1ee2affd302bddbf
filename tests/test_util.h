// Small helpers shared by the tests: a readable dump of a document and temporary folders.
#ifndef TESTS_TEST_UTIL_H_
#define TESTS_TEST_UTIL_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ini/ini.h"

namespace testing_support {

// "[name]\n<key>=<value>\n..." for every section and entry in position order, so a test can
// compare a whole document, spaces and all, with one string.
std::string Dump(const IniDocument* document);
// The names of the sections, and the keys of a section, in position order.
std::vector<std::string> SectionNames(const IniDocument* document);
std::vector<std::string> Keys(const IniSection* section);

// Reads and writes back every slot below `capacity`, as a caller of the public arrays may:
// under AddressSanitizer a slot that the memory behind the array does not hold is an error.
template <typename T>
void UseEverySlot(T** items, int32_t capacity) {
  T* volatile* slots = items;  // volatile: the compiler may not drop the round trip
  for (int32_t i = 0; i < capacity; ++i) slots[i] = slots[i];
}

// `text` with a backslash before each ';' and '\', as the writer puts it.
std::string Escaped(const std::string& text);

// qrv.ini as a complete installation writes it, for the root `root` whose runtime's bin is
// `runtime_bin`: the expected bytes, the one statement of them for every test.
std::string RuntimeIni(const std::string& root, const std::string& runtime_bin);

// `count` distinct keys of 16 bytes that all have the same hash under `seed` (set with
// ini_detail::SetHashSeedForTesting), made by running the hash backwards: the input an
// attacker would need the seed for. Every byte is one a key line carries unchanged. Checked
// against the library's own hash: stops the program when they do not collide there.
std::vector<std::string> CollidingKeys(std::size_t count, std::uint64_t seed);

// What a run of a program gave, the real one or the command run over the in-memory disk.
struct ProcessResult {
  int status = -1;            // the exit status, or -1 when the program could not be run
  std::string out;            // standard output, with the console's CR LF folded to LF
  std::string err;            // standard error, likewise
  std::string rest_of_input;  // in memory: what the command left unread on standard input
};

// A fresh, empty directory under the system's temporary folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // `name` inside this directory, joined with the platform's separator.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// The names in the directory `dir`, and the permission bits of the file `path` leads to (0
// when there is none).
std::set<std::string> Names(const std::string& dir);
unsigned Mode(const std::string& path);

using Tree = std::map<std::string, std::string>;  // relative path with '/' -> bytes

// Every regular file below `root`, so stray files show up as well as missing ones.
Tree ReadTree(const std::string& root);
// The sample distribution tree, examples/sample-dist, as it is unpacked before Install
// runs: the one tree every test of Install starts from (on the in-memory disk, on the real
// one, and in the shell tests), and the demo's. Read once.
const Tree& SampleTree();

}  // namespace testing_support

#endif  // TESTS_TEST_UTIL_H_
