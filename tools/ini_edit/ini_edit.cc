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
#include "system.h"

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
int NotLoaded(const tools::Argument& file, const ini::LoadResult& loaded) {
  std::string bytes, reason;
  if (loaded.report.outcome == INI_SYNTAX_ERROR &&
      tools::ReadRegularFile(file.path, &bytes, &reason)) {
    tools::CheckAndReport(file.text.c_str(), bytes, false);
  } else {
    std::fprintf(stderr, "%s: error: %s\n", file.text.c_str(), loaded.report.reason);
  }
  return 1;
}

int Get(const tools::Argument& file, const char* section, const char* key) {
  ini::LoadResult loaded = ini::Document::LoadFile(file.path);
  if (!loaded) return NotLoaded(file, loaded);
  const ini::Value value = loaded.document.Get(section, key);
  if (!value) return 1;
  std::fwrite(value->data(), 1, value->size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}

// What one edit of the file came to: a status, or kAgain when a file appeared where there
// was none to load, and the edit is to be made again on it.
constexpr int kAgain = -1;

int EditOnce(const tools::Argument& file, const std::vector<Change>& changes) {
  // The file's edit lock is held from before the load until the store, so that no other
  // ini-edit comes between them: each edit is made on the file another left.
  ini::LoadResult loaded = ini::Document::LoadForEditingOrNew(file.path, ini::Hold::kLock);
  if (!loaded) return NotLoaded(file, loaded);
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
  const char* path = file.text.c_str();
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
  std::string before, reason;
  const ini::Bytes after = document.StoreEditsMemory();
  if (!loaded.created && after && tools::ReadRegularFile(file.path, &before, &reason) &&
      after.View() == before) {
    return 0;
  }
  const ini::StoreResult stored = document.StoreEdits(file.path);
  if (stored) return 0;
  if (stored == -4 && loaded.created) return kAgain;
  std::fprintf(stderr, "%s: error: not saved: %s\n", path, stored.reason);
  return 1;
}

int Edit(const tools::Argument& file, const std::vector<Change>& changes) {
  // A file that another program made meanwhile, where none was: the edit is made on it,
  // as if this one had run after. Bounded: each round needs another program to make the
  // file anew in between.
  for (int round = 0; round < 10; ++round) {
    const int status = EditOnce(file, changes);
    if (status != kAgain) return status;
  }
  std::fprintf(stderr, "%s: error: not saved: other programs kept making the file anew\n",
               file.text.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<tools::Argument> arguments = tools::Arguments(argc, argv);
  for (const tools::Argument& argument : arguments) {
    if (argument.text == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argument.text == "--version") {
      std::fputs(kVersion, stdout);
      return 0;
    }
  }
  const int count = static_cast<int>(arguments.size());
  if (count < 2 || IsOption(arguments[0].text.c_str())) return Usage();
  const tools::Argument& file = arguments[0];
  // Sections, keys and values are the file's text, in the code page: one that a character
  // could not reach as typed is refused rather than written as a look-alike.
  for (int i = 1; i < count; ++i) {
    if (!arguments[i].exact) {
      std::fprintf(stderr,
                   "ini-edit: error: argument %d has characters outside the ANSI code page\n",
                   i + 1);
      return 2;
    }
  }
  const auto text = [&arguments](int i) { return arguments[i].text.c_str(); };
  if (arguments[1].text == "--get") {
    if (count != 4) return Usage();
    return Get(file, text(2), text(3));
  }
  std::vector<Change> changes;
  for (int i = 1; i < count;) {
    if (arguments[i].text == "--set" && i + 3 < count) {
      changes.push_back({true, text(i + 1), text(i + 2), text(i + 3)});
      i += 4;
    } else if (arguments[i].text == "--del" && i + 1 < count) {
      const bool key = i + 2 < count && !IsOption(text(i + 2));
      changes.push_back({false, text(i + 1), key ? text(i + 2) : nullptr, nullptr});
      i += key ? 3 : 2;
    } else {
      return Usage();
    }
  }
  return Edit(file, changes);
}
