// Reading and writing over any source or sink of bytes: the loader, the writer and the
// check of what the writer can carry.
#ifndef INI_IO_H_
#define INI_IO_H_

#include <cstddef>
#include <cstdint>

#include "ini/ini.h"
#include "platform/platform.h"

namespace quorva::ini_detail {

// Where the reader takes its bytes from: an open file, or bytes in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`. False when the read failed; a successful read
  // of 0 bytes is the end.
  virtual bool Read(char* buffer, std::uint32_t size, std::uint32_t* got) = 0;
  // How many bytes the source holds, as far as it knows; false when it does not know.
  // Only a hint for sizing memory: reading goes on until a read delivers nothing.
  virtual bool SizeHint(std::uint64_t*) { return false; }
  // Called once, when the reader needs no more bytes: a file is closed here, before the
  // document is built.
  virtual void Finish() {}
};

// Where the writer puts its bytes: a file, or a growing block in memory.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes all `size` bytes, or fails.
  virtual bool Write(const char* data, std::size_t size) = 0;
};

// Told of each logical line as a load meets it (ini_scan_file and ini_scan_memory).
class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // Called for each logical line in turn; false stops the load, which then fails with
  // INI_STOPPED. A load with an observer goes on past a bad line, so that every line is
  // seen; the document is rejected all the same, and the report names the first bad line.
  virtual bool OnLine(const IniLine& line) = 0;
};

// The reader and the writer, over any source or sink. `report` and `observer` may be null.
// With `build` kParseOnly the lines go to the observer only and no document is given
// (null, with INI_LOADED in the report when every line was good); with kKeepingText the
// document keeps the file's text and where each line stood in it, for StoreEdits.
enum class Build { kDocument, kParseOnly, kKeepingText };
IniDocument* Load(ByteSource& source, IniLoadReport* report, LineObserver* observer = nullptr,
                  Build build = Build::kDocument);
// What a store tells beside its result.
struct StoreDetail {
  // -2: a write in place failed, and the file may hold a part of the new text; else the
  // old file is whole.
  bool cut_short = false;
  // -4: the document had no file of its own, and a file is there.
  bool no_file_of_its_own = false;
  // -1, -2: why the system refused, as far as it said.
  platform::Failure failure = platform::Failure::kNone;
};

// A failure of the system in a few words, "no such file or directory"; "" when there is
// nothing to say.
const char* FailureText(platform::Failure failure);

// 0; -2 when a write failed; -3 when the document holds what would not read back the same
// (see CheckDocument), found on the way, whereupon nothing more is written.
int Store(const IniDocument* document, ByteSink& sink);
// The text of a document loaded for editing with its changes, as ini_store_edits writes it;
// Store for any other document.
bool StoreEdits(const IniDocument* document, ByteSink& sink);
// ini_check_edits: 0, -1 for no document, or -3 with `*report` (which may be null).
int CheckEdits(const IniDocument* document, IniCheckReport* report);
// ini_check_document: 0, -1 for no document, or -3 with `*report` (which may be null).
int CheckDocument(const IniDocument* document, IniCheckReport* report);
// The check walk of every store: each section's name, then each of its entries, in order,
// until a rule gives a reason why it cannot be written so that it reads back: `name_rule`
// (position, section) and `entry_rule` (section, entry), each a reason or null. 0; -1 for
// no document; -3 with `*report` (which may be null) naming the first part at fault.
template <typename NameRule, typename EntryRule>
int CheckEach(const IniDocument* document, IniCheckReport* report, NameRule name_rule,
              EntryRule entry_rule) {
  if (report != nullptr) *report = {-1, -1, ""};
  if (document == nullptr) return -1;
  for (std::int32_t s = 0; s < document->count; ++s) {
    IniSection* section = document->sections[s];
    const char* problem = name_rule(s, section);
    std::int32_t at = -1;
    for (std::int32_t e = 0; problem == nullptr && e < section->count; ++e) {
      problem = entry_rule(section, section->entries[e]);
      if (problem != nullptr) at = e;
    }
    if (problem != nullptr) {
      if (report != nullptr) *report = {s, at, problem};
      return -3;
    }
  }
  return 0;
}

// Why a section name (the first section's when `first`), a key or a value cannot be written
// so that it reads back the same, as CheckDocument says; null when it can.
const char* NameProblem(const char* name, bool first);
const char* KeyProblem(const char* key);
const char* ValueProblem(const char* value);
// ValueProblem, and also what reading drops from a value: spaces at either end, CRs. For
// what a store of edits writes new, which must read back as given.
const char* ExactValueProblem(const char* value);

// The reason a load gives for a file that does not exist, the same pointer every time.
extern const char kMissingFile[];
// Fills `*report` (which may be null) for `outcome` (with the fixed reason of the outcome
// unless `reason` is given) and gives the null a failed load returns.
IniDocument* Report(IniLoadReport* report, IniLoadOutcome outcome, std::int64_t line = 0,
                    std::int64_t column = 0, const char* reason = nullptr);

}  // namespace quorva::ini_detail

namespace ini_detail = quorva::ini_detail;

#endif  // INI_IO_H_
