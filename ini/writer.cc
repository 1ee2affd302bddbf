// Writing a document: sections and entries -> bytes in a file, which replaces the old one
// whole; and the check that what is written reads back the same.
#include <algorithm>
#include <cstring>

#include "ini/allocator.h"
#include "ini/byte_scan.h"
#include "ini/io.h"
#include "ini/project_internal.h"

namespace quorva::ini_detail {
namespace {

constexpr std::size_t kOutputBlock = 64 * 1024;
constexpr std::size_t kFallbackBlock = 512;

// Gathers the output and writes it in blocks. Lines are not written one call each: a
// document of many short lines would otherwise cost one system call per line. The file
// always holds exactly the bytes that were written successfully, in order.
//
// The block comes from the heap, not the stack, so that storing is safe on threads with
// small stacks. When the heap has no room for it, a small block inside the object serves
// instead: storing then takes more writes, but it never fails for lack of memory.
class Output {
 public:
  explicit Output(ByteSink& sink) : sink_(sink) {
    block_ = static_cast<char*>(Allocate(kOutputBlock));
    size_ = kOutputBlock;
    if (block_ == nullptr) {
      block_ = fallback_;
      size_ = kFallbackBlock;
    }
  }
  ~Output() {
    if (block_ != fallback_) Release(block_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool Put(const char* data, std::size_t size) {
    while (size > 0) {
      if (used_ == size_ && !Flush()) return false;
      std::size_t n = std::min(size, size_ - used_);
      std::memcpy(block_ + used_, data, n);
      used_ += n;
      data += n;
      size -= n;
    }
    return true;
  }

  bool PutChar(char c) {
    if (used_ == size_ && !Flush()) return false;
    block_[used_++] = c;
    return true;
  }

  // Puts `text` with a backslash before each ';' and each backslash. Text that fits the
  // block even with every byte escaped is escaped straight into it, eight bytes at a time
  // where none needs it; longer text goes in runs between the bytes that need it, each
  // copied whole, which keeps a long value at memcpy speed across flushes.
  bool PutEscaped(const char* text) {
    const std::size_t length = std::strlen(text);
    if (size_ - used_ < 2 * length + 8) return PutEscapedInRuns(text, text + length);
    char* out = block_ + used_;
    const char* p = text;
    const char* const end = text + length;
    for (; end - p >= 8; p += 8) {
      if (!Copy8(p, out)) {
        for (int i = 0; i < 8; ++i) out = PutOne(out, p[i]);
      } else {
        out += 8;
      }
    }
    // The last bytes: as the eight that end the text when they need no escape (the ones
    // before them already went out unchanged), else one by one.
    if (p != end && length >= 8 && Copy8(end - 8, out - (8 - (end - p)))) {
      out += end - p;
      p = end;
    }
    for (; p < end; ++p) out = PutOne(out, *p);
    used_ = static_cast<std::size_t>(out - block_);
    return true;
  }

  // Copies the eight bytes at `from` to `to` when none of them needs an escape.
  static bool Copy8(const char* from, char* to) {
    std::uint64_t word;
    std::memcpy(&word, from, sizeof word);
    if ((Flag(word, ';') | Flag(word, '\\')) != 0) return false;
    std::memcpy(to, &word, sizeof word);
    return true;
  }

  bool PutEscapedInRuns(const char* text, const char* const end) {
    for (;;) {
      const char* special = FindSpecial(
          text, end, [](std::uint64_t word) { return Flag(word, ';') | Flag(word, '\\'); },
          [](unsigned char byte) { return byte == ';' || byte == '\\'; });
      if (!Put(text, static_cast<std::size_t>(special - text))) return false;
      if (special == end) return true;
      if (size_ - used_ < 2 && !Flush()) return false;
      used_ = static_cast<std::size_t>(PutOne(block_ + used_, *special) - block_);
      text = special + 1;
    }
  }

  static char* PutOne(char* out, char c) {
    if (c == ';' || c == '\\') *out++ = '\\';
    *out++ = c;
    return out;
  }

  // Hands what is gathered to the sink.
  bool Flush() {
    if (used_ == 0) return true;
    bool ok = sink_.Write(block_, used_);
    used_ = 0;
    return ok;
  }

 private:
  ByteSink& sink_;
  char* block_;
  std::size_t size_;
  std::size_t used_ = 0;
  char fallback_[kFallbackBlock];
};

bool WriteDocument(const IniDocument* document, Output* out) {
  for (std::int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    // Section names are written as they are: the format has no escape for them.
    if (!out->PutChar('[') || !out->Put(section->name, std::strlen(section->name)) ||
        !out->Put("]\n", 2)) {
      return false;
    }
    for (std::int32_t e = 0; e < section->count; ++e) {
      const IniEntry* entry = section->entries[e];
      if (!out->PutEscaped(entry->key) || !out->PutChar('=') || !out->PutEscaped(entry->value) ||
          !out->PutChar('\n')) {
        return false;
      }
    }
  }
  return out->Flush();
}

// A file being replaced: a write that fails or writes fewer bytes than asked fails.
class FileSink final : public ByteSink {
 public:
  FileSink(platform::FileSystem& file_system, platform::File file)
      : file_system_(file_system), file_(file) {}
  bool Write(const char* data, std::size_t size) override {
    std::uint32_t written = 0;
    return file_system_.Write(file_, data, static_cast<std::uint32_t>(size), &written) &&
           written == size;
  }

 private:
  platform::FileSystem& file_system_;
  platform::File file_;
};

// A heap block that doubles as it fills, with room for a NUL behind the bytes.
class MemorySink final : public ByteSink {
 public:
  ~MemorySink() { Release(bytes_); }
  bool Write(const char* data, std::size_t size) override {
    if (size_ + size + 1 > room_) {
      std::size_t room = room_ == 0 ? 256 : room_;
      while (room < size_ + size + 1) {
        if (room > SIZE_MAX / 2) return false;
        room *= 2;
      }
      void* grown = Reallocate(bytes_, room);
      if (grown == nullptr) return false;
      bytes_ = static_cast<char*>(grown);
      room_ = room;
    }
    std::memcpy(bytes_ + size_, data, size);
    size_ += size;
    return true;
  }
  // The bytes with a NUL behind them, now owned by the caller; null when memory ran out.
  char* Take(std::size_t* size) {
    if (bytes_ == nullptr && !Write("", 0)) return nullptr;
    bytes_[size_] = '\0';
    *size = size_;
    char* bytes = bytes_;
    bytes_ = nullptr;
    return bytes;
  }

 private:
  char* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t room_ = 0;
};

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

// Names are written as they are: the format has no escape for them. The first section's
// name may hold '=', since the first line is always read as a header.
const char* NameProblem(const char* name, bool first) {
  if (*name == '\0') return kEmptyName;
  const char* bad = name + std::strcspn(name, first ? "\r\n;\\" : "\r\n;\\=");
  switch (*bad) {
    case '\0':
      return nullptr;
    case ';':
      return kNameSemicolon;
    case '\\':
      return kNameBackslash;
    case '=':
      return kNameEquals;
    default:
      return kNameBreak;
  }
}

// Keys are escaped, but a reader drops a key's outer spaces and ends it at the first '='.
const char* KeyProblem(const char* key) {
  const std::size_t length = std::strlen(key);
  if (std::strspn(key, " ") == length) return kEmptyKey;
  if (key[0] == ' ' || key[length - 1] == ' ') return kKeySpace;
  const char* bad = key + std::strcspn(key, "=\r\n");
  if (*bad == '\0') return nullptr;
  return *bad == '=' ? kKeyEquals : kKeyBreak;
}

}  // namespace

int CheckDocument(const IniDocument* document, IniCheckReport* report) {
  if (report != nullptr) *report = {-1, -1, ""};
  if (document == nullptr) return -1;
  for (std::int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    const char* problem = NameProblem(section->name, s == 0);
    std::int32_t at = -1;
    for (std::int32_t e = 0; problem == nullptr && e < section->count; ++e) {
      const IniEntry* entry = section->entries[e];
      problem = KeyProblem(entry->key);
      // A value's outer spaces and CRs are lost on reading, as the format says; a line
      // feed would make the rest of it a line of its own.
      if (problem == nullptr && std::strchr(entry->value, '\n') != nullptr) problem = kValueBreak;
      if (problem != nullptr) at = e;
    }
    if (problem != nullptr) {
      if (report != nullptr) *report = {s, at, problem};
      return -3;
    }
  }
  return 0;
}

bool Store(const IniDocument* document, ByteSink& sink) {
  Output out(sink);
  return WriteDocument(document, &out);
}

int StoreFile(platform::FileSystem& file_system, const IniDocument* document, const char* path,
              platform::AtLink at_link) {
  if (document == nullptr) return -1;
  if (CheckDocument(document, nullptr) != 0) return -3;
  platform::Replacement replacement;
  if (!file_system.BeginReplacing(path, at_link, &replacement)) return -1;
  FileSink sink(file_system, replacement.file);
  if (!Store(document, sink)) {
    file_system.AbandonReplacing(&replacement);
    return -2;
  }
  return file_system.FinishReplacing(&replacement) ? 0 : -2;
}

}  // namespace quorva::ini_detail

extern "C" {

int ini_store_file(const IniDocument* document, const char* path) {
  return ini_detail::StoreFile(platform::RealFileSystem(), document, path,
                               platform::AtLink::kFollow);
}

int ini_check_document(const IniDocument* document, IniCheckReport* report) {
  return ini_detail::CheckDocument(document, report);
}

char* ini_store_memory(const IniDocument* document, size_t* size) {
  *size = 0;
  if (ini_detail::CheckDocument(document, nullptr) != 0) return nullptr;
  ini_detail::MemorySink sink;
  if (!ini_detail::Store(document, sink)) return nullptr;
  return sink.Take(size);
}

void ini_free_memory(char* bytes) { ini_detail::Release(bytes); }

}  // extern "C"
