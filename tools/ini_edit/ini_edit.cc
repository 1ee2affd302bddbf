// ini-edit: reads, lists or changes settings of an INI file, for scripts and administrators.
// Only what is asked changes: every other byte of the file stays, its comments, blank
// lines, spacing and line ends included, and the file is written once, whole, under its
// edit lock, and not over another program's change.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "ini/ini.hpp"
#include "system.h"

namespace {

constexpr char kUsage[] =
    "usage: ini-edit [--] FILE --get SECTION KEY\n"
    "       ini-edit [--] FILE --get-all SECTION KEY\n"
    "       ini-edit [--] FILE --list [SECTION]\n"
    "       ini-edit [--] FILE --sections\n"
    "       ini-edit [--] FILE (--set SECTION KEY VALUE | --add SECTION KEY VALUE |\n"
    "                           --del SECTION [KEY] | --del-all SECTION [KEY])...\n"
    "FILE - is standard input, and changes then go to standard output, whole. Only what is\n"
    "asked changes: every other byte of FILE stays, and it is written once, whole.\n"
    "Exit status: 0 done or found; 1 --get or --get-all found nothing; 2 bad arguments;\n"
    "3 FILE cannot be read or does not load; 4 another program changed FILE, or held its\n"
    "lock, meanwhile; 5 FILE could not be written; 6 a text FILE would not give back as\n"
    "given. FILE is unchanged unless the status is 0.\n";
constexpr char kVersion[] = "ini-edit " QUORVA_VERSION "\n";

// What a run ends with, the same for every operation.
enum Status {
  kDone = 0,
  kNotFound = 1,
  kBadArguments = 2,
  kUnreadable = 3,
  kChangedMeanwhile = 4,
  kNotWritten = 5,
  kNotCarried = 6,
};

// The operations, as they are spelled.
enum class Op { kGet, kGetAll, kList, kSections, kSet, kAdd, kDel, kDelAll };
struct Spelling {
  const char* name;
  Op op;
  int needed;    // arguments it needs
  int optional;  // and may have after them
};
constexpr Spelling kSpellings[] = {
    {"--get", Op::kGet, 2, 0},   {"--get-all", Op::kGetAll, 2, 0},
    {"--list", Op::kList, 0, 1}, {"--sections", Op::kSections, 0, 0},
    {"--set", Op::kSet, 3, 0},   {"--add", Op::kAdd, 3, 0},
    {"--del", Op::kDel, 1, 1},   {"--del-all", Op::kDelAll, 1, 1},
};

const Spelling* SpellingOf(const std::string& argument) {
  for (const Spelling& s : kSpellings) {
    if (argument == s.name) return &s;
  }
  return nullptr;
}

bool Reads(Op op) {
  return op == Op::kGet || op == Op::kGetAll || op == Op::kList || op == Op::kSections;
}

// One operation and its arguments, with the place of its first one on the command line.
struct Operation {
  Op op;
  const char* name;
  std::vector<const char*> texts;  // SECTION, KEY, VALUE as given
  int first;                       // 1-based place of the operation's name
};

int BadArguments(const std::string& why) {
  std::fprintf(stderr, "ini-edit: %s\n%s", why.c_str(), kUsage);
  return kBadArguments;
}

// Reads the operations from `arguments`, from `at` on. Each takes the arguments it needs,
// whatever they look like; an optional one is taken unless it is spelled as an operation.
int Parse(const std::vector<tools::Argument>& arguments, std::size_t at,
          std::vector<Operation>* operations) {
  while (at < arguments.size()) {
    const std::string& name = arguments[at].text;
    const Spelling* spelling = SpellingOf(name);
    if (spelling == nullptr) {
      if (name.find('.') != std::string::npos && name[0] != '-') {
        return BadArguments("'" + name +
                            "' is no operation; a section and a key are two arguments, as in "
                            "--get SECTION KEY");
      }
      return BadArguments("'" + name + "' is no operation");
    }
    Operation operation{spelling->op, spelling->name, {}, static_cast<int>(at) + 1};
    ++at;
    for (int i = 0; i < spelling->needed; ++i, ++at) {
      if (at == arguments.size()) {
        return BadArguments(std::string(spelling->name) + " needs " +
                            (spelling->needed == 1   ? "SECTION"
                             : spelling->needed == 2 ? "SECTION and KEY"
                                                     : "SECTION, KEY and VALUE"));
      }
      operation.texts.push_back(arguments[at].text.c_str());
    }
    if (spelling->optional > 0 && at < arguments.size() &&
        SpellingOf(arguments[at].text) == nullptr) {
      operation.texts.push_back(arguments[at++].text.c_str());
    }
    operations->push_back(operation);
  }
  if (operations->empty()) return BadArguments("an operation is needed after FILE");
  for (const Operation& operation : *operations) {
    if (Reads(operation.op) && operations->size() > 1) {
      return BadArguments(std::string(operation.name) +
                          " stands alone: it reads, and cannot go with other operations");
    }
  }
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (!arguments[i].exact && i > 0) {
      return BadArguments("argument " + std::to_string(i + 1) +
                          " has characters the ANSI code page lacks, which would be written as "
                          "look-alikes");
    }
  }
  return kDone;
}

// Reads FILE's bytes: standard input for "-", else a regular file (a FIFO or a device is
// refused at once). False after saying why.
bool ReadBytes(const tools::Argument& file, std::string* bytes) {
  std::string reason;
  const bool standard_input = file.text == "-";
  if (standard_input ? tools::ReadStandardInput(bytes)
                     : tools::ReadRegularFile(file.path, bytes, &reason)) {
    return true;
  }
  std::fprintf(stderr, "%s: error: %s\n", file.text.c_str(),
               standard_input ? "a read from standard input failed" : reason.c_str());
  return false;
}

// Why bytes did not load, as ini-check says it.
int NotLoaded(const tools::Argument& file, const std::string& bytes, const IniLoadReport& report) {
  if (report.outcome == INI_SYNTAX_ERROR) {
    tools::CheckAndReport(file.text.c_str(), bytes, false);
  } else {
    std::fprintf(stderr, "%s: error: %s\n", file.text.c_str(), report.reason);
  }
  return kUnreadable;
}

// The reading operations, on the file as the library reads it.
int Read(const ini::Document& document, const Operation& operation) {
  std::string out;
  const auto line = [&out](std::string_view text) {
    out.append(text.data(), text.size());
    out += '\n';
  };
  switch (operation.op) {
    case Op::kGet: {
      const ini::Value value = document.Get(operation.texts[0], operation.texts[1]);
      if (!value) return kNotFound;
      line(*value);
      break;
    }
    case Op::kGetAll:
      for (const ini::ConstSectionView section : document) {
        if (section.Name() != operation.texts[0]) continue;
        for (const std::string_view value : section.GetAll(operation.texts[1])) line(value);
      }
      if (out.empty()) return kNotFound;
      break;
    case Op::kSections: {
      std::set<std::string_view> seen;
      for (const ini::ConstSectionView section : document) {
        if (seen.insert(section.Name()).second) line(section.Name());
      }
      break;
    }
    default:  // --list: each section as the library's plain store writes it, repeats kept
      for (const ini::ConstSectionView section : document) {
        if (!operation.texts.empty() && section.Name() != operation.texts[0]) continue;
        ini::Document one;
        ini::Section copy(section.Name());
        for (const ini::Entry& entry : section) copy.View().Append(entry.key, entry.value);
        one.Add(std::move(copy));
        out += one.StoreMemory().View();
      }
      break;
  }
  return tools::WriteStandardOutput(out) ? kDone : kNotWritten;
}

// Applies one change; false when the file could not carry what it gives, after saying which
// argument and why.
bool Apply(ini::Document& document, const Operation& change, const char* file) {
  const char* section = change.texts[0];
  const char* key = change.texts.size() > 1 ? change.texts[1] : nullptr;
  ini::Changed changed = ini::Changed::kAppended;
  switch (change.op) {
    case Op::kSet:
      changed = document.Set(section, key, change.texts[2]);
      break;
    case Op::kAdd: {
      ini::SectionView found = document.Find(section);
      changed =
          found ? found.Append(key, change.texts[2]) : document.Set(section, key, change.texts[2]);
      break;
    }
    case Op::kDel:
      if (key != nullptr) {
        document.Find(section).Remove(key);
      } else {
        document.Remove(section);
      }
      break;
    default: {  // --del-all: in every section of the name, or every such section
      IniDocument* d = document.get();
      for (std::int32_t s = 0; s < d->count;) {
        IniSection* found = d->sections[s];
        if (std::strcmp(found->name, section) != 0) {
          ++s;
        } else if (key == nullptr) {
          ini_remove_section(d, section);  // the first of the name, which is this one
        } else {
          while (ini_remove_key(found, key) == 0) {
          }
          ++s;
        }
      }
      break;
    }
  }
  const char* refused = nullptr;
  if (changed == ini::Changed::kRefused) {
    refused = ini::Refusal(key, change.texts[2]);
    if (refused == nullptr) refused = ini::NameRefusal(section);
  } else if (const std::optional<IniCheckReport> fault = document.CheckEdits()) {
    refused = fault->reason;
  }
  if (refused == nullptr) return true;
  std::fprintf(stderr, "%s: error: %s at argument %d: %s\n", file, change.name, change.first,
               refused);
  return false;
}

int Edit(const tools::Argument& file, const std::vector<Operation>& changes);

// Makes the changes on FILE's text and writes the whole of it to standard output.
int EditStream(const tools::Argument& file, const std::vector<Operation>& changes) {
  std::string bytes;
  if (!ReadBytes(file, &bytes)) return kUnreadable;
  ini::LoadResult loaded = ini::Document::LoadMemoryForEditing(bytes);
  if (!loaded) return NotLoaded(file, bytes, loaded.report);
  for (const Operation& change : changes) {
    if (!Apply(loaded.document, change, file.text.c_str())) return kNotCarried;
  }
  const ini::Bytes after = loaded.document.StoreEditsMemory();
  return tools::WriteStandardOutput(std::string(after.View())) ? kDone : kNotWritten;
}

// What one edit of the file came to: a status, or kAgain when a file appeared where there
// was none to load, and the edit is to be made again on it.
constexpr int kAgain = -1;

int EditOnce(const tools::Argument& file, const std::vector<Operation>& changes) {
  // The file's edit lock is held from before the load until the store, so that no other
  // ini-edit comes between them: each edit is made on the file another left.
  std::string bytes;
  ini::LoadResult loaded = ini::Document::LoadForEditingOrNew(file.path, ini::Hold::kLock);
  if (!loaded) {
    if (loaded.report.outcome == INI_BUSY) {
      std::fprintf(stderr, "%s: error: not saved: %s\n", file.text.c_str(), loaded.report.reason);
      return kChangedMeanwhile;
    }
    if (loaded.report.outcome == INI_SYNTAX_ERROR && !ReadBytes(file, &bytes)) return kUnreadable;
    return NotLoaded(file, bytes, loaded.report);
  }
  ini::Document& document = loaded.document;
  for (const Operation& change : changes) {
    if (!Apply(document, change, file.text.c_str())) return kNotCarried;
  }
  if (loaded.created && document.Size() == 0) return kDone;  // only removals from no file
  // A file that would not change is left as it is by the store itself.
  const ini::StoreResult stored = document.StoreEdits(file.path);
  if (stored) return kDone;
  if (stored == -4 && loaded.created) return kAgain;
  std::fprintf(stderr, "%s: error: not saved: %s\n", file.text.c_str(), stored.Message().c_str());
  return stored == -4 || stored == -5 ? kChangedMeanwhile
         : stored == -3               ? kNotCarried
                                      : kNotWritten;
}

int Edit(const tools::Argument& file, const std::vector<Operation>& changes) {
  if (file.text == "-") return EditStream(file, changes);
  // A file that another program made meanwhile, where none was: the edit is made on it,
  // as if this one had run after. Bounded: each round needs another program to make the
  // file anew in between.
  for (int round = 0; round < 10; ++round) {
    const int status = EditOnce(file, changes);
    if (status != kAgain) return status;
  }
  std::fprintf(stderr, "%s: error: not saved: other programs kept making the file anew\n",
               file.text.c_str());
  return kChangedMeanwhile;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<tools::Argument> arguments = tools::Arguments(argc, argv);
  // --help and --version where an operation could start: first, or right after FILE.
  for (std::size_t i = 0; i < arguments.size() && i < 2; ++i) {
    if (arguments[i].text == "--help") {
      std::fputs(kUsage, stdout);
      return kDone;
    }
    if (arguments[i].text == "--version") {
      std::fputs(kVersion, stdout);
      return kDone;
    }
  }
  std::size_t at = 0;
  if (at < arguments.size() && arguments[at].text == "--") ++at;  // FILE may begin with '-'
  if (at == arguments.size()) return BadArguments("FILE is missing");
  const tools::Argument& file = arguments[at];
  if (at == 0 && file.text.size() > 1 && file.text[0] == '-') {
    return BadArguments("FILE '" + file.text + "' begins with '-'; write -- before it");
  }
  std::vector<Operation> operations;
  if (const int status = Parse(arguments, at + 1, &operations); status != kDone) return status;
  if (!Reads(operations[0].op)) return Edit(file, operations);
  // A file is loaded from its path, looked at first so that a FIFO cannot block the load;
  // its bytes are read only to show why it did not load.
  std::string bytes, reason;
  ini::LoadResult loaded;
  if (file.text == "-") {
    if (!ReadBytes(file, &bytes)) return kUnreadable;
    loaded = ini::Document::LoadMemory(bytes);
  } else if (!tools::IsRegularFile(file.path, &reason)) {
    std::fprintf(stderr, "%s: error: %s\n", file.text.c_str(), reason.c_str());
    return kUnreadable;
  } else {
    loaded = ini::Document::LoadFile(file.path);
  }
  if (!loaded) {
    if (loaded.report.outcome == INI_SYNTAX_ERROR && bytes.empty() && !ReadBytes(file, &bytes))
      return kUnreadable;
    return NotLoaded(file, bytes, loaded.report);
  }
  return Read(loaded.document, operations[0]);
}
