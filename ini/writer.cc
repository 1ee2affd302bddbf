// Writing a document: sections and entries -> bytes in a file, which replaces the old one
// whole; and the check that what is written reads back the same.
#include <algorithm>
#include <cstring>

#include "ini/allocator.h"
#include "ini/format.h"
#include "ini/io.h"
#include "ini/output.h"
#include "ini/project_internal.h"

namespace quorva::ini_detail {

using ini_format::kCarriageReturn;
using ini_format::kClose;
using ini_format::kComment;
using ini_format::kEscape;
using ini_format::kLineFeed;
using ini_format::kNul;
using ini_format::kOpen;
using ini_format::kSeparator;
using ini_format::kSpace;

namespace {

// What a text of the document is to the writer.
enum class Text { kKey, kValue, kName, kFirstName };

// Why `text` cannot be written so that it reads back the same, or null; for a value, only
// its bytes from `from` are looked at, the ones before having gone out good.
const char* ProblemOf(const char* text, Text kind, std::size_t from) {
  switch (kind) {
    case Text::kKey:
      return KeyProblem(text);
    case Text::kValue:
      return ValueProblem(text + from);
    default:
      return NameProblem(text, kind == Text::kFirstName);
  }
}

// Puts a key or a value escaped, or a section name as it is (the format has no escape for
// names), when it reads back the same: at memcpy speed as long as none of its bytes needs
// care (Output::PutPlain), the rest checked and, but for a name, escaped byte by byte. A
// name after the first rules out the bytes a key does, so that a key's check serves for
// it; the first name may hold '='. 0, -2 when a write failed, -3 when the text cannot be
// carried.
int PutText(Output* out, const char* text, Text kind) {
  const std::size_t length = std::strlen(text);
  const bool plain_ends =
      kind == Text::kValue || (kind == Text::kName && length > 0) ||
      (kind == Text::kKey && length > 0 && text[0] != kSpace && text[length - 1] != kSpace);
  std::size_t done = 0;
  if (plain_ends) {
    bool failed = false;
    done = out->PutPlain(text, length, kind != Text::kValue, &failed);
    if (failed) return -2;
    if (done == length) return 0;
  }
  if (ProblemOf(text, kind, done) != nullptr) return -3;
  const bool put = kind == Text::kKey || kind == Text::kValue
                       ? out->PutEscapedInRuns(text + done, text + length)
                       : out->Put(text + done, length - done);
  return put ? 0 : -2;
}

// A section header: whole, when its name needs no care, else its name checked on its own.
int PutHeader(Output* out, const char* name, bool first) {
  const std::size_t length = std::strlen(name);
  if (!first && length > 0 && out->PutPlainHeader(name, length)) return 0;
  int result =
      out->PutChar(kOpen) ? PutText(out, name, first ? Text::kFirstName : Text::kName) : -2;
  if (result == 0 && !(out->PutChar(kClose) && out->PutChar(kLineFeed))) result = -2;
  return result;
}

// A key line: whole, when neither key nor value needs care, else text by text.
int PutEntry(Output* out, const IniEntry* entry) {
  const std::size_t key_length = std::strlen(entry->key);
  if (key_length > 0 && entry->key[0] != kSpace && entry->key[key_length - 1] != kSpace &&
      out->PutPlainEntry(entry->key, key_length, entry->value, std::strlen(entry->value))) {
    return 0;
  }
  int result = PutText(out, entry->key, Text::kKey);
  if (result == 0)
    result = out->PutChar(kSeparator) ? PutText(out, entry->value, Text::kValue) : -2;
  if (result == 0 && !out->PutChar(kLineFeed)) result = -2;
  return result;
}

// Writes the document, checking on the way what CheckDocument checks, so that its text is
// gone over once: 0, -2 when a write failed, -3 at the first part that cannot be carried.
int WriteDocument(const IniDocument* document, Output* out) {
  for (std::int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    int result = PutHeader(out, section->name, s == 0);
    for (std::int32_t e = 0; result == 0 && e < section->count; ++e) {
      result = PutEntry(out, section->entries[e]);
    }
    if (result != 0) return result;
  }
  return out->Flush() ? 0 : -2;
}

// Why a document cannot be written so that it reads back the same: the texts of
// IniCheckReport.reason.
constexpr char kEmptyName[] = "empty section name";
constexpr char kNameBreak[] = "section name with CR or LF";
constexpr char kNameSemicolon[] = "section name with ';', which would start a comment";
constexpr char kNameBackslash[] = "section name with '\\', which would be read as an escape";
constexpr char kNameEquals[] = "section name with '=' after the first section";
constexpr char kEmptyKey[] = "empty key, or a key of spaces only";
constexpr char kKeySpace[] = "key with a space at its start or end";
constexpr char kKeyEquals[] = "key with '='";
constexpr char kKeyBreak[] = "key with CR or LF";
constexpr char kValueBreak[] = "value with a line feed";
constexpr char kValueSpace[] = "value with a space at its start or end, which reading drops";
constexpr char kValueCr[] = "value with CR, which reading drops";

}  // namespace

// The bytes a name cannot hold, and a key even escaped, for strcspn. Names are written as
// they are: the format has no escape for them. The first section's name may hold '=',
// since the first line is always read as a header.
constexpr char kNotInFirstName[] = {kCarriageReturn, kLineFeed, kComment, kEscape, kNul};
constexpr char kNotInName[] = {kCarriageReturn, kLineFeed, kComment, kEscape, kSeparator, kNul};
constexpr char kNotInKey[] = {kSeparator, kCarriageReturn, kLineFeed, kNul};

const char* NameProblem(const char* name, bool first) {
  if (*name == kNul) return kEmptyName;
  const char* bad = name + std::strcspn(name, first ? kNotInFirstName : kNotInName);
  switch (*bad) {
    case kNul:
      return nullptr;
    case kComment:
      return kNameSemicolon;
    case kEscape:
      return kNameBackslash;
    case kSeparator:
      return kNameEquals;
    default:
      return kNameBreak;
  }
}

// Keys are escaped, but a reader drops a key's outer spaces and ends it at the first '='.
const char* KeyProblem(const char* key) {
  // Most keys are good, which one look tells: no '=', CR or LF, and no space at either end.
  const std::size_t clean = std::strcspn(key, kNotInKey);
  if (key[clean] == kNul && clean > 0 && key[0] != kSpace && key[clean - 1] != kSpace)
    return nullptr;
  const std::size_t length = std::strlen(key);
  std::size_t spaces = 0;
  while (key[spaces] == kSpace) ++spaces;
  if (spaces == length) return kEmptyKey;
  if (key[0] == kSpace || key[length - 1] == kSpace) return kKeySpace;
  const char* bad = key + clean;
  if (*bad == kNul) return nullptr;
  return *bad == kSeparator ? kKeyEquals : kKeyBreak;
}

// A value's outer spaces and CRs are lost on reading, as the format says; a line feed would
// make the rest of it a line of its own.
const char* ValueProblem(const char* value) {
  return std::strchr(value, kLineFeed) != nullptr ? kValueBreak : nullptr;
}

const char* ExactValueProblem(const char* value) {
  if (const char* problem = ValueProblem(value)) return problem;
  const std::size_t length = std::strlen(value);
  if (length > 0 && (value[0] == kSpace || value[length - 1] == kSpace)) return kValueSpace;
  return std::strchr(value, kCarriageReturn) != nullptr ? kValueCr : nullptr;
}

namespace {

// ini_check_document, with values checked by `value_problem`.
int Check(const IniDocument* document, IniCheckReport* report,
          const char* (*value_problem)(const char*)) {
  return CheckEach(
      document, report,
      [](std::int32_t s, const IniSection* section) { return NameProblem(section->name, s == 0); },
      [value_problem](const IniSection*, const IniEntry* entry) {
        const char* problem = KeyProblem(entry->key);
        return problem != nullptr ? problem : value_problem(entry->value);
      });
}

}  // namespace

int CheckDocument(const IniDocument* document, IniCheckReport* report) {
  return Check(document, report, ValueProblem);
}

int Store(const IniDocument* document, ByteSink& sink) {
  Output out(sink);
  return WriteDocument(document, &out);
}

const char* FailureText(platform::Failure failure) {
  switch (failure) {
    case platform::Failure::kNoSuchFile:
      return "no such file or directory";
    case platform::Failure::kDenied:
      return "permission denied";
    case platform::Failure::kNoSpace:
      return "no space left on the device";
    case platform::Failure::kQuota:
      return "the disk quota is used up";
    case platform::Failure::kReadOnly:
      return "a read-only file system";
    case platform::Failure::kIsDirectory:
      return "a directory stands there";
    case platform::Failure::kTooBig:
      return "the file would be too large";
    case platform::Failure::kIo:
      return "an input/output error";
    case platform::Failure::kNameTooLong:
      return "the name is too long";
    default:
      return "";
  }
}

int Written(ReplacingSink& sink, int stored, platform::Publish publish, StoreDetail* detail) {
  if (stored == 0 && !sink.Begin()) stored = -2;  // a document with no text: an empty file
  if (detail != nullptr && (stored == -2 || !sink.created())) detail->failure = sink.failure();
  if (stored == -2 && !sink.created()) return -1;
  if (stored != 0) return stored;  // the sink abandons what it began
  const platform::Finished finished = sink.Finish(publish);
  if (detail != nullptr && finished != platform::Finished::kDone) detail->failure = sink.failure();
  switch (finished) {
    case platform::Finished::kDone:
      return 0;
    case platform::Finished::kTaken:
      return -4;
    case platform::Finished::kCutShort:
      if (detail != nullptr) detail->cut_short = true;
      return -2;
    default:
      return -2;
  }
}

int StoreFile(platform::FileSystem& file_system, const IniDocument* document, const char* path,
              platform::AtLink at_link, StoreDetail* detail) {
  if (document == nullptr) return -1;
  ReplacingSink sink(file_system, path, at_link);
  int stored = Store(document, sink);
  // A document that cannot be carried is refused as such, also when the file could not be
  // created or written before the store came to the part that cannot be.
  if (stored == -2 && CheckDocument(document, nullptr) != 0) stored = -3;
  return Written(sink, stored, platform::Publish::kReplacing, detail);
}

}  // namespace quorva::ini_detail

extern "C" {

int ini_store_file(const IniDocument* document, const char* path) {
  if (path == nullptr) return -1;
  return ini_detail::StoreFile(platform::RealFileSystem(), document, path,
                               platform::AtLink::kFollow);
}

int ini_check_document(const IniDocument* document, IniCheckReport* report) {
  return ini_detail::CheckDocument(document, report);
}

const char* ini_check_entry(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return "no text";
  const char* problem = ini_detail::KeyProblem(key);
  return problem != nullptr ? problem : ini_detail::ExactValueProblem(value);
}

const char* ini_check_name(const char* name) {
  return name == nullptr ? "no text" : ini_detail::NameProblem(name, false);
}

int ini_check_read_back(const IniDocument* document, IniCheckReport* report) {
  return ini_detail::Check(document, report, ini_detail::ExactValueProblem);
}

char* ini_store_memory(const IniDocument* document, size_t* size) {
  if (size == nullptr) return nullptr;
  *size = 0;
  if (document == nullptr) return nullptr;
  ini_detail::MemorySink sink;
  if (ini_detail::Store(document, sink) != 0) return nullptr;
  return sink.Take(size);
}

void ini_free_memory(char* bytes) { ini_detail::Release(bytes); }

}  // extern "C"
