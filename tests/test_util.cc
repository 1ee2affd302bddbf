// Helpers shared by the tests.
#include "tests/test_util.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace testing_support {

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
}

}  // namespace testing_support
