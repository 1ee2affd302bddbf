// ini-check: says why and where INI files are rejected, or shows one file as the library
// reads it, with every byte that would not show spelled out.
#include <cstdio>
#include <cstring>
#include <string>

#include "ini/ini.h"

namespace {

constexpr char kUsage[] = "usage: ini-check FILE...  |  ini-check --dump FILE\n";

// FILE:LINE: reason, as compilers put it, so that editors and CI logs can point at it.
void ReportRejection(const char* path, const IniLoadReport& report) {
  if (report.line > 0) {
    std::fprintf(stderr, "%s:%lld: %s\n", path, static_cast<long long>(report.line),
                 report.reason);
  } else {
    std::fprintf(stderr, "%s: %s\n", path, report.reason);
  }
}

// `text` with the bytes a reader of the dump could not see written as escapes: tab and CR
// as \t and \r, other control bytes and bytes above 0x7E as \xHH, and a backslash as \\ so
// that the escapes stay unambiguous. A space at the very end is \x20 where nothing after it
// would show it (keys and values; names stand in brackets).
std::string Visible(const char* text, bool trailing_space_shows) {
  std::string out;
  const std::size_t length = std::strlen(text);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char hex[8];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c > 0x7E || (c == ' ' && i + 1 == length && !trailing_space_shows)) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void Dump(const IniDocument* document) {
  for (int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    std::printf("[%s]\n", Visible(section->name, true).c_str());
    for (int32_t e = 0; e < section->count; ++e) {
      std::printf("%s=%s\n", Visible(section->entries[e]->key, false).c_str(),
                  Visible(section->entries[e]->value, false).c_str());
    }
  }
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool dump = false;
  int first = 1;
  // Options stand before the files; "--" ends them, so that a file may begin with '-'.
  for (; first < argc && argv[first][0] == '-' && argv[first][1] != '\0'; ++first) {
    if (std::strcmp(argv[first], "--") == 0) {
      ++first;
      break;
    }
    if (std::strcmp(argv[first], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[first], "--dump") != 0 || dump) return Usage();
    dump = true;
  }
  const int files = argc - first;
  if (files == 0 || (dump && files != 1)) return Usage();

  int status = 0;
  for (int i = first; i < argc; ++i) {
    IniLoadReport report;
    IniDocument* document = ini_load_file_report(argv[i], &report);
    if (document == nullptr) {
      ReportRejection(argv[i], report);
      status = 1;
      continue;
    }
    if (dump) Dump(document);
    ini_free_document(document);
  }
  return status;
}
