// ini-edit: reads a setting of an INI file, or changes settings, for scripts and
// administrators. Only what is asked changes: every other byte of the file stays, its
// comments, blank lines, spacing and line ends included, and the file is written once,
// whole, and not over another program's change.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "ini/ini.hpp"

namespace {

constexpr char kUsage[] =
    "usage: ini-edit FILE --get SECTION KEY\n"
    "       ini-edit FILE (--set SECTION KEY VALUE | --del SECTION [KEY])...\n"
    "Changes only what is asked and keeps every other byte of FILE, which is written once,\n"
    "whole. Exit status: 0 done, 1 failed (FILE untouched), 2 bad arguments.\n";
constexpr char kVersion[] = "ini-edit " QUORVA_VERSION "\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

struct Change {
  bool set;  // --set, else --del
  const char* section;
  const char* key;  // null: --del of the whole section
  const char* value;
};

bool IsOption(const char* argument) { return std::strncmp(argument, "--", 2) == 0; }

// Why a file did not load, as ini-check says it.
int NotLoaded(const char* path, const ini::LoadResult& loaded) {
  std::string bytes;
  IniLoadReport report;
  if (loaded.report.outcome == INI_SYNTAX_ERROR && tools::ReadFileBytes(path, &bytes, &report)) {
    tools::CheckAndReport(path, bytes, false);
  } else {
    std::fprintf(stderr, "%s: error: %s\n", path, loaded.report.reason);
  }
  return 1;
}

int Get(const char* path, const char* section, const char* key) {
  ini::LoadResult loaded = ini::Document::LoadFile(path);
  if (!loaded) return NotLoaded(path, loaded);
  const ini::Value value = loaded.document.Get(section, key);
  if (!value) return 1;
  std::fwrite(value->data(), 1, value->size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

int Edit(const char* path, const std::vector<Change>& changes) {
  ini::LoadResult loaded = ini::Document::LoadForEditingOrNew(path);
  if (!loaded) return NotLoaded(path, loaded);
  ini::Document& document = loaded.document;
  for (const Change& change : changes) {
    if (change.set) {
      document.Set(change.section, change.key, change.value);
    } else if (change.key != nullptr) {
      document.Find(change.section).Remove(change.key);
    } else {
      document.Remove(change.section);
    }
  }
  if (const std::optional<IniCheckReport> fault = document.CheckEdits()) {
    const IniSection* section = document.get()->sections[fault->section];
    const std::string name = "section '" + tools::Visible(section->name, tools::Part::kName) + "'";
    const std::string what =
        fault->entry < 0
            ? name
            : "key '" + tools::Visible(ini_key_at(section, fault->entry), tools::Part::kKey) +
                  "' in " + name;
    std::fprintf(stderr, "%s: error: cannot write %s: %s\n", path, what.c_str(), fault->reason);
    return 1;
  }
  if (loaded.created && document.Size() == 0) return 0;  // only removals from no file
  // A file that would not change is not written at all.
  std::string before;
  IniLoadReport report;
  const ini::Bytes after = document.StoreEditsMemory();
  if (!loaded.created && after && tools::ReadFileBytes(path, &before, &report) &&
      after.View() == before) {
    return 0;
  }
  const ini::StoreResult stored = document.StoreEdits(path);
  if (stored) return 0;
  std::fprintf(stderr, "%s: error: not saved: %s\n", path, stored.reason);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs(kVersion, stdout);
      return 0;
    }
  }
  if (argc < 3 || IsOption(argv[1])) return Usage();
  const char* path = argv[1];
  if (std::strcmp(argv[2], "--get") == 0) {
    if (argc != 5) return Usage();
    return Get(path, argv[3], argv[4]);
  }
  std::vector<Change> changes;
  for (int i = 2; i < argc;) {
    if (std::strcmp(argv[i], "--set") == 0 && i + 3 < argc) {
      changes.push_back({true, argv[i + 1], argv[i + 2], argv[i + 3]});
      i += 4;
    } else if (std::strcmp(argv[i], "--del") == 0 && i + 1 < argc) {
      const bool key = i + 2 < argc && !IsOption(argv[i + 2]);
      changes.push_back({false, argv[i + 1], key ? argv[i + 2] : nullptr, nullptr});
      i += key ? 3 : 2;
    } else {
      return Usage();
    }
  }
  return Edit(path, changes);
}
