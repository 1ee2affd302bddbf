// Reading a configuration file: bytes -> logical lines -> a document built in place.
#include <cstring>

#include "ini/internal.h"

namespace ini_detail {
namespace {

constexpr std::uint32_t kReadBlock = 1024;

// The state of one file being read. It lives on the loader's stack for one load.
struct IniLineReader {
  platform::FileSystem* file_system;
  platform::File handle;
  std::int32_t at_end = 0;    // 1 once a read delivered nothing or failed
  std::uint32_t filled = 0;   // bytes the last read placed in `buffer`
  std::int32_t position = 0;  // index in `buffer` of the next byte to take
  bool failed = false;        // a read or an allocation failed: the load is refused
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
  if (!reader->file_system->Read(reader->handle, reader->buffer, kReadBlock, &got)) {
    reader->failed = true;
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
    reader->failed = true;
    return nullptr;
  }
  std::memcpy(line, reader->scratch, length);
  line[length] = '\0';
  return line;
}

// The next logical line, owned by the caller, or null when there is none. Every line
// delivered is at least one byte long, does not begin or end with a space and holds no LF
// and no CR. After a failed read or allocation, `failed` is set and the line is dropped.
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
      reader->failed = true;
      reader->at_end = 1;
      return nullptr;
    }
    std::memcpy(reader->scratch + length, buffer + position - 1, run);
    length += run;
    reader->position = static_cast<std::int32_t>(end);
  }
  // The end of the file ends the last line; a pending escape or open comment goes with it.
  if (length == 0 || reader->failed) return nullptr;
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

// The first line must be a header; each later line is tested as a key line first, and only
// a line that is no key line may be a header.
bool Valid(const LineList& list) {
  std::size_t i = 0;
  while (i < list.count) {
    if (!IsSectionHeader(list.lines[i])) return false;
    ++i;
    while (i < list.count && IsKeyLine(list.lines[i])) ++i;
  }
  return true;
}

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

}  // namespace

IniDocument* LoadFile(platform::FileSystem& file_system, const char* path) {
  IniLineReader reader;
  reader.file_system = &file_system;
  if (!file_system.OpenForReading(path, &reader.handle)) return nullptr;

  LineList list;
  while (char* line = ReadLine(&reader)) {
    if (!list.Add(line)) {
      Release(line);
      reader.failed = true;
      break;
    }
  }
  Release(reader.scratch);
  file_system.Close(reader.handle);

  if (reader.failed || !Valid(list)) {
    list.ReleaseFrom(0);
    return nullptr;
  }
  return Build(&list);
}

}  // namespace ini_detail

extern "C" IniDocument* ini_load_file(const char* path) {
  return ini_detail::LoadFile(platform::RealFileSystem(), path);
}
