// Deterministic corpora: a typical file, one huge value, many sections, many keys, and the
// doubled sizes that show whether loading stays linear.
#include "bench/corpora.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace bench {
namespace {

// A small deterministic generator, so every run and every machine sees the same bytes.
class Random {
 public:
  std::uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  std::string Word(std::size_t min, std::size_t max) {
    std::string word(min + Next() % (max - min + 1), 'a');
    for (char& c : word) c = static_cast<char>('a' + Next() % 26);
    return word;
  }

 private:
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

std::string Typical(std::size_t sections) {
  Random random;
  std::string out;
  out.reserve(sections * 500);
  for (std::size_t s = 0; s < sections; ++s) {
    out += "; " + random.Word(20, 60) + " " + random.Word(5, 30) + "\n";
    out += "[section_" + std::to_string(s) + "_" + random.Word(3, 10) + "]\n";
    for (int k = 0; k < 9; ++k) {
      out += random.Word(4, 12) + " = " + random.Word(10, 40) + " " + random.Word(5, 20);
      if (k == 4) out += " ; " + random.Word(5, 20);
      out += "\n";
    }
    out += "\n";
  }
  return out;
}

std::string OneValue(std::size_t bytes) {
  Random random;
  std::string out = "[one]\nvalue = ";
  out.reserve(bytes + 32);
  while (out.size() < bytes) out += random.Word(3, 12) + " ";
  out += "\n";
  return out;
}

std::string ManySections(std::size_t sections) {
  std::string out;
  for (std::size_t s = 0; s < sections; ++s) {
    out += "[s" + std::to_string(s) + "]\nkey = value " + std::to_string(s) + "\n";
  }
  return out;
}

std::string ManyKeys(std::size_t keys) {
  std::string out = "[keys]\n";
  for (std::size_t k = 0; k < keys; ++k) {
    out += "key" + std::to_string(k) + " = value " + std::to_string(k) + "\n";
  }
  return out;
}

// The typical shape, cut at the last whole line within `bytes`: a release description.
std::string Small(std::size_t bytes) {
  std::string out = Typical(bytes / 100 + 1);
  return out.substr(0, out.rfind('\n', bytes - 1) + 1);
}

std::string Generate(const std::string& name) {
  if (name == "typical") return Typical(130000);
  if (name == "small-1K") return Small(1024);
  if (name == "one-value-16M") return OneValue(16u << 20);
  if (name == "one-value-32M") return OneValue(32u << 20);
  if (name == "sections-1M") return ManySections(1000000);
  if (name == "sections-2M") return ManySections(2000000);
  if (name == "keys-1M") return ManyKeys(1000000);
  if (name == "keys-2M") return ManyKeys(2000000);
  throw std::invalid_argument("unknown corpus " + name);
}

}  // namespace

const std::vector<Corpus>& Corpora() {
  static const std::vector<Corpus> corpora = {
      {"typical", "130,000 sections of 9 keys, comments, blank lines"},
      {"one-value-16M", "one 16 MB value on one line"},
      {"one-value-32M", "one 32 MB value on one line"},
      {"sections-1M", "1,000,000 sections of one key"},
      {"sections-2M", "2,000,000 sections of one key"},
      {"keys-1M", "one section of 1,000,000 keys"},
      {"keys-2M", "one section of 2,000,000 keys"},
  };
  return corpora;
}

void MakeCorpus(const std::string& name, const std::string& path) {
  std::string bytes = Generate(name);
  std::error_code error;
  if (std::filesystem::file_size(path, error) == bytes.size()) return;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    throw std::runtime_error("cannot write " + path);
  }
  std::fclose(file);
}

}  // namespace bench
