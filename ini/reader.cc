// Reading a configuration file: bytes -> logical lines -> a document built in place.
#include <cstring>

#include "ini/internal.h"

namespace ini_detail {
namespace {

constexpr std::uint32_t kReadBlock = 1024;

// The state of one file being read. It lives on the loader's stack for one load.
struct IniLineReader {
  ByteSource* source;
  std::int32_t at_end = 0;    // 1 once a read delivered nothing or failed
  std::uint32_t filled = 0;   // bytes the last read placed in `buffer`
  std::int32_t position = 0;  // index in `buffer` of the next byte to take
  // INI_LOADED until a read or an allocation fails, which refuses the load.
  IniLoadOutcome failure = INI_LOADED;
  // Line feeds taken so far, and the physical line that holds the first character of the
  // line being gathered: what a rejection reports.
  std::int64_t line_feeds = 0;
  std::int64_t line_start = 0;
  char buffer[kReadBlock];
  // The line being gathered. It is reused for every line and copied into a block of the
  // exact size once the line is complete, so a long line costs amortised linear time and
  // each delivered line is a heap block of its own.
  char* scratch = nullptr;
  std::size_t scratch_size = 0;
};

// The five bytes that mean something to the reader; every other byte is ordinary.
enum ByteClass : unsigned char { kOrdinary, kLineFeed, kCarriageReturn, kSpace, kSemicolon,
                                 kBackslash };

struct ByteTable {
  unsigned char of[256] = {};
  constexpr ByteTable() {
    of[0x0A] = kLineFeed;        // '\n'
    of[0x0D] = kCarriageReturn;  // '\r'
    of[0x20] = kSpace;
    of[0x3B] = kSemicolon;
    of[0x5C] = kBackslash;
  }
};
constexpr ByteTable kClass;

// Makes room for `extra` more bytes behind `length` in the scratch line.
bool Reserve(IniLineReader* reader, std::size_t length, std::size_t extra) {
  if (length + extra <= reader->scratch_size) return true;
  std::size_t size = reader->scratch_size == 0 ? 64 : reader->scratch_size;
  while (size < length + extra) size *= 2;
  void* grown = Reallocate(reader->scratch, size);
  if (grown == nullptr) return false;
  reader->scratch = static_cast<char*>(grown);
  reader->scratch_size = size;
  return true;
}

// Refills `buffer` with one read of up to 1024 bytes. False at the end of the file, and for
// good after a failed read, which also marks the load as failed.
bool Fill(IniLineReader* reader) {
  std::uint32_t got = 0;
  if (!reader->source->Read(reader->buffer, kReadBlock, &got)) {
    reader->failure = INI_READ_FAILED;
    got = 0;
  }
  if (got == 0) {
    reader->at_end = 1;
    return false;
  }
  reader->filled = got;
  reader->position = 0;
  return true;
}

// Turns the gathered line into a heap block of its own, of the exact size: trailing
// spaces, escaped or not, are removed, and a NUL ends it. Null when memory runs out.
char* FinishLine(IniLineReader* reader, std::size_t length) {
  while (length > 0 && reader->scratch[length - 1] == ' ') --length;
  auto* line = static_cast<char*>(Allocate(length + 1));
  if (line == nullptr) {
    reader->failure = INI_OUT_OF_MEMORY;
    return nullptr;
  }
  std::memcpy(line, reader->scratch, length);
  line[length] = '\0';
  return line;
}

// The next logical line, owned by the caller, or null when there is none. Every line
// delivered is at least one byte long, does not begin or end with a space and holds no LF
// and no CR. After a failed read or allocation, `failure` is set and the line is dropped.
char* ReadLine(IniLineReader* reader) {
  if (reader->at_end) return nullptr;
  std::size_t length = 0;
  bool escape = false;
  bool comment = false;
  for (;;) {
    if (static_cast<std::uint32_t>(reader->position) == reader->filled && !Fill(reader)) break;
    const char* buffer = reader->buffer;
    std::size_t position = static_cast<std::size_t>(reader->position);
    const std::size_t filled = reader->filled;

    if (comment) {
      // A comment runs to the end of the physical line: a backslash in it neither escapes
      // nor continues the line.
      const void* lf = std::memchr(buffer + position, '\n', filled - position);
      if (lf == nullptr) {
        reader->position = static_cast<std::int32_t>(filled);
        continue;
      }
      position = static_cast<std::size_t>(static_cast<const char*>(lf) - buffer);
      comment = false;
    }

    unsigned char byte = static_cast<unsigned char>(buffer[position++]);
    reader->position = static_cast<std::int32_t>(position);
    unsigned char kind = kClass.of[byte];

    if (kind == kCarriageReturn) continue;  // ignored everywhere, even between '\' and LF
    if (kind == kLineFeed) ++reader->line_feeds;
    if (escape) {
      escape = false;
      // A backslash before LF joins the next physical line; before ';' or '\' it makes an
      // ordinary character of it; before anything else it is simply dropped.
      if (kind == kLineFeed) continue;
      if (kind == kSemicolon || kind == kBackslash) kind = kOrdinary;
    }

    switch (kind) {
      case kLineFeed:
        if (length == 0) continue;  // blank and comment-only lines produce nothing
        return FinishLine(reader, length);
      case kSemicolon:
        comment = true;
        continue;
      case kBackslash:
        escape = true;
        continue;
      case kSpace:
        if (length == 0) continue;  // leading spaces, also of a first continuation line
        break;
      default:
        break;
    }

    // Store this byte and the run of ordinary bytes and spaces behind it in one go.
    std::size_t end = position;
    while (end < filled) {
      unsigned char next = kClass.of[static_cast<unsigned char>(buffer[end])];
      if (next != kOrdinary && next != kSpace) break;
      ++end;
    }
    std::size_t run = end - position + 1;
    if (!Reserve(reader, length, run)) {
      reader->failure = INI_OUT_OF_MEMORY;
      reader->at_end = 1;
      return nullptr;
    }
    if (length == 0) reader->line_start = reader->line_feeds + 1;
    std::memcpy(reader->scratch + length, buffer + position - 1, run);
    length += run;
    reader->position = static_cast<std::int32_t>(end);
  }
  // The end of the file ends the last line; a pending escape or open comment goes with it.
  if (length == 0 || reader->failure != INI_LOADED) return nullptr;
  return FinishLine(reader, length);
}

bool IsSectionHeader(const char* line) {
  std::size_t length = std::strlen(line);
  return length >= 3 && line[0] == '[' && line[length - 1] == ']';
}

bool IsKeyLine(const char* line) {
  const char* equals = std::strchr(line, '=');
  return equals != nullptr && equals != line;
}

// Turns "[name]" into "name" in place, so the name starts at the start of the block.
char* StripBrackets(char* line) {
  std::size_t length = std::strlen(line);
  std::memmove(line, line + 1, length - 1);
  line[length - 2] = '\0';
  return line;
}

// Splits a key line in place at its first '=', dropping the spaces around it.
void SplitKeyValue(char* line, char** key, char** value) {
  char* equals = std::strchr(line, '=');
  *equals = '\0';
  for (char* p = equals - 1; p > line && *p == ' '; --p) *p = '\0';
  char* rest = equals + 1;
  while (*rest == ' ') ++rest;
  *key = line;
  *value = rest;
}

// The logical lines of a file, in order. Owns the lines until they are handed over.
struct LineList {
  char** lines = nullptr;
  std::size_t count = 0;
  std::size_t size = 0;

  bool Add(char* line) {
    if (count == size) {
      std::size_t grown = size == 0 ? 16 : size * 2;
      void* block = Reallocate(lines, sizeof(char*) * grown);
      if (block == nullptr) return false;
      lines = static_cast<char**>(block);
      size = grown;
    }
    lines[count++] = line;
    return true;
  }

  // Releases lines[from..count) and the array itself.
  void ReleaseFrom(std::size_t from) {
    for (std::size_t i = from; i < count; ++i) Release(lines[i]);
    Release(lines);
  }
};

// Hands each validated line block over to `document`, as a section name or an entry's
// block. `*next` is the first line not yet handed over. False when memory runs out.
bool BuildInto(IniDocument* document, LineList* list, std::size_t* next) {
  std::size_t& i = *next;
  while (i < list->count) {
    IniSection* section = NewSectionNamed(list->lines[i]);
    if (section == nullptr) return false;
    ++i;
    StripBrackets(section->name);
    if (!AppendSection(document, section)) {
      ini_free_section(section);
      return false;
    }
    for (; i < list->count && IsKeyLine(list->lines[i]); ++i) {
      auto* entry = static_cast<IniEntry*>(Allocate(sizeof(IniEntry)));
      if (entry == nullptr) return false;
      SplitKeyValue(list->lines[i], &entry->key, &entry->value);
      if (!AppendEntry(section, entry)) {
        FreeEntry(entry);
        ++i;
        return false;
      }
    }
  }
  return true;
}

// The document built from validated lines, or null (with everything released) when memory
// runs out.
IniDocument* Build(LineList* list) {
  IniDocument* document = NewDocument();
  std::size_t next = 0;
  if (document != nullptr && BuildInto(document, list, &next)) {
    Release(list->lines);
    return document;
  }
  list->ReleaseFrom(next);
  if (document != nullptr) ini_free_document(document);
  return nullptr;
}

// What a load reports for each outcome but a syntax error.
const char* const kReasons[] = {"", "cannot open the file", "a read from the file failed", "",
                                "out of memory"};
constexpr char kNoHeaderFirst[] = "expected a section header '[name]' on the first line";
constexpr char kNeitherKeyNorHeader[] =
    "expected a key line 'key = value' or a section header '[name]'";

IniDocument* Fail(IniLoadReport* report, IniLoadOutcome outcome, std::int64_t line = 0,
                  const char* reason = nullptr) {
  if (report != nullptr) *report = {outcome, line, reason != nullptr ? reason : kReasons[outcome]};
  return nullptr;
}

// A source over bytes in memory, served in reads as a file would serve them.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* bytes, std::size_t size)
      : bytes_(static_cast<const char*>(bytes)), left_(size) {}
  bool Read(char* buffer, std::uint32_t size, std::uint32_t* got) override {
    std::size_t n = size < left_ ? size : left_;
    if (n > 0) std::memcpy(buffer, bytes_, n);
    bytes_ += n;
    left_ -= n;
    *got = static_cast<std::uint32_t>(n);
    return true;
  }

 private:
  const char* bytes_;
  std::size_t left_;
};

class FileSource final : public ByteSource {
 public:
  FileSource(platform::FileSystem& file_system, platform::File file)
      : file_system_(file_system), file_(file) {}
  bool Read(char* buffer, std::uint32_t size, std::uint32_t* got) override {
    return file_system_.Read(file_, buffer, size, got);
  }
  void Finish() override { file_system_.Close(file_); }

 private:
  platform::FileSystem& file_system_;
  platform::File file_;
};

}  // namespace

IniDocument* Load(ByteSource& source, IniLoadReport* report) {
  IniLineReader reader;
  reader.source = &source;
  LineList list;
  // The structure is checked as the lines arrive, so the first offending line is known by
  // its place in the file: the first line must be a header, and each later line is tested
  // as a key line first, and only a line that is no key line may be a header.
  const char* offence = nullptr;
  while (char* line = ReadLine(&reader)) {
    if (list.count == 0 ? !IsSectionHeader(line) : !IsKeyLine(line) && !IsSectionHeader(line)) {
      offence = list.count == 0 ? kNoHeaderFirst : kNeitherKeyNorHeader;
      Release(line);
      break;
    }
    if (!list.Add(line)) {
      Release(line);
      reader.failure = INI_OUT_OF_MEMORY;
      break;
    }
  }
  Release(reader.scratch);
  source.Finish();

  if (offence != nullptr || reader.failure != INI_LOADED) {
    list.ReleaseFrom(0);
    if (offence != nullptr) return Fail(report, INI_SYNTAX_ERROR, reader.line_start, offence);
    return Fail(report, reader.failure);
  }
  IniDocument* document = Build(&list);
  if (document == nullptr) return Fail(report, INI_OUT_OF_MEMORY);
  if (report != nullptr) *report = {INI_LOADED, 0, kReasons[INI_LOADED]};
  return document;
}

IniDocument* LoadFile(platform::FileSystem& file_system, const char* path,
                      IniLoadReport* report) {
  platform::File file;
  if (!file_system.OpenForReading(path, &file)) return Fail(report, INI_CANNOT_OPEN);
  FileSource source(file_system, file);
  return Load(source, report);
}

}  // namespace ini_detail

extern "C" {

IniDocument* ini_load_file(const char* path) {
  return ini_detail::LoadFile(platform::RealFileSystem(), path);
}

IniDocument* ini_load_file_report(const char* path, IniLoadReport* report) {
  return ini_detail::LoadFile(platform::RealFileSystem(), path, report);
}

IniDocument* ini_load_memory(const void* bytes, size_t size, IniLoadReport* report) {
  ini_detail::MemorySource source(bytes, size);
  return ini_detail::Load(source, report);
}

}  // extern "C"
