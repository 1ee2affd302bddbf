// Helpers shared by the tests.
#include "tests/test_util.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ini/project_internal.h"
#include "platform/platform.h"

namespace testing_support {

std::vector<std::string> SectionNames(const IniDocument* document) {
  std::vector<std::string> names;
  for (int32_t i = 0; const char* name = ini_section_name_at(document, i); ++i) {
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> Keys(const IniSection* section) {
  std::vector<std::string> keys;
  for (int32_t i = 0; const char* key = ini_key_at(section, i); ++i) keys.push_back(key);
  return keys;
}

std::string Dump(const IniDocument* document) {
  std::string out;
  for (int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    out += "[" + std::string(section->name) + "]\n";
    for (int32_t e = 0; e < section->count; ++e) {
      out += "<" + std::string(section->entries[e]->key) + ">=<" +
             std::string(section->entries[e]->value) + ">\n";
    }
  }
  return out;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == ';') out += '\\';
    out += c;
  }
  return out;
}

std::string RuntimeIni(const std::string& root, const std::string& runtime_bin) {
  return "[quorva]\nBindir=" + Escaped(runtime_bin) + "\nProgname=qrv\nRootdir=" + Escaped(root) +
         "\n";
}

namespace {

// The steps of the library's key hash (ini/document.cc), and their inverses.
constexpr std::uint64_t kLengthFactor = 0x9E3779B97F4A7C15ull;
constexpr std::uint64_t kWordFactor = 0xBF58476D1CE4E5B9ull;

std::uint64_t MixWord(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * kWordFactor;
  return hash ^ (hash >> 29);
}

std::uint64_t Inverse(std::uint64_t odd) {  // modulo 2^64, by Newton's iteration
  std::uint64_t inverse = odd;
  for (int i = 0; i < 6; ++i) inverse *= 2 - odd * inverse;
  return inverse;
}

bool CarriedInKey(unsigned char byte, bool last) {
  return byte != 0 && byte != '\n' && byte != '\r' && byte != ';' && byte != '\\' && byte != '=' &&
         !(last && byte == ' ');
}

}  // namespace

std::vector<std::string> CollidingKeys(std::size_t count, std::uint64_t seed) {
  // A 16-byte key is two words. Any first word leads to some state; the second word is
  // chosen to lead from there to one fixed state, which the rest of the hash then maps to
  // one fixed hash.
  const std::uint64_t start = (16 * kLengthFactor) ^ seed;
  const std::uint64_t target = 0x0123456789ABCDEFull;
  const std::uint64_t unmixed = target ^ (target >> 29) ^ (target >> 58);  // undo the xorshift
  const std::uint64_t before_multiply = unmixed * Inverse(kWordFactor);
  std::vector<std::string> keys;
  for (std::uint64_t n = 0; keys.size() < count; ++n) {
    char first[9];
    std::snprintf(first, sizeof first, "k%07llu", static_cast<unsigned long long>(n));
    std::uint64_t word;
    std::memcpy(&word, first, 8);
    const std::uint64_t second = MixWord(start, word) ^ before_multiply;
    std::string key(first, 8);
    key.append(reinterpret_cast<const char*>(&second), 8);
    bool carried = true;
    for (std::size_t i = 8; i < 16; ++i)
      carried = carried && CarriedInKey(static_cast<unsigned char>(key[i]), i == 15);
    if (carried) keys.push_back(key);
  }
  // The keys are made by running the hash's steps backwards, as written out above: they
  // must still collide under the library's own hash, or every check that uses them would
  // pass without meeting a collision.
  const std::uint64_t previous = ini_detail::SetHashSeedForTesting(seed);
  for (const std::string& key : keys) {
    if (ini_detail::KeyHashForTesting(key.data(), key.size()) !=
        ini_detail::KeyHashForTesting(keys[0].data(), keys[0].size())) {
      std::fprintf(stderr,
                   "CollidingKeys: the keys do not collide under the library's hash, "
                   "whose steps have changed; make them anew\n");
      std::abort();
    }
  }
  ini_detail::SetHashSeedForTesting(previous);
  return keys;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path candidate =
        base / ("qtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate.string();
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& name) const {
  return path_ + platform::kSeparator + name;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  // A fixture that silently fails to be written would let a test pass without its input.
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

unsigned Mode(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) return 0;
  return static_cast<unsigned>(status.permissions()) & 07777;
}

Tree ReadTree(const std::string& root) {
  Tree tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    tree[std::filesystem::relative(entry.path(), root).generic_string()] =
        ReadFileBytes(entry.path().string());
  }
  return tree;
}

}  // namespace testing_support
