// Gathering the bytes a store writes, and handing them to a sink in large blocks, with ';'
// and '\\' escaped where text needs it: for the writer and the editor.
#ifndef INI_OUTPUT_H_
#define INI_OUTPUT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ini/allocator.h"
#include "ini/byte_scan.h"
#include "ini/format.h"
#include "ini/io.h"
#include "ini/line_scan.h"
#include "platform/platform.h"

namespace quorva::ini_detail {

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
  explicit Output(ByteSink& sink) : sink_(sink), care_(CareChecksOf(ScanPathOfLoads())) {
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

  // Puts the `length` bytes of a key (or a later section name) or a value as they are, in
  // pieces the block has room for, as long as no byte needs care (see NeedsCare): no escape
  // is needed then, and it reads back. Each piece is copied first and looked at where it landed, 16
  // or 32 bytes at a time, since the block, unlike the text, may be read past its end. Gives how
  // many bytes went out so: all of them, or fewer when a piece needs care (the caller checks and
  // escapes the rest byte by byte), or when a write failed (`*failed`); none for the
  // reference path.
  std::size_t PutPlain(const char* text, std::size_t length, bool key, bool* failed) {
    const NeedsCare needs_care = key ? care_.key : care_.value;
    if (needs_care == nullptr) return 0;
    constexpr std::size_t kLookBeyond = 64;  // what a kernel may read past a piece
    std::size_t done = 0;
    while (done < length) {
      if (size_ - used_ <= kLookBeyond && !Flush()) {
        *failed = true;
        return done;
      }
      const std::size_t n = std::min(length - done, size_ - used_ - kLookBeyond);
      std::memcpy(block_ + used_, text + done, n);
      if (needs_care(block_ + used_, n)) return done;
      used_ += n;
      done += n;
    }
    return done;
  }

  // Puts a whole key line, "key=value" and its line feed, as PutPlain would put its key and
  // its value, when the block has room for it and neither needs care; false, with nothing
  // put, otherwise. One step for the common entry instead of four.
  bool PutPlainEntry(const char* key, std::size_t key_length, const char* value,
                     std::size_t value_length) {
    if (care_.key == nullptr || size_ - used_ < key_length + value_length + 2 + 64) return false;
    char* out = block_ + used_;
    std::memcpy(out, key, key_length);
    out[key_length] = ini_format::kSeparator;
    std::memcpy(out + key_length + 1, value, value_length);
    out[key_length + 1 + value_length] = ini_format::kLineFeed;
    if (care_.key(out, key_length) || care_.value(out + key_length + 1, value_length)) return false;
    used_ += key_length + value_length + 2;
    return true;
  }

  // Puts a section header, "[name]" and its line feed, when the block has room for it and
  // the name needs no care as a key would not (the bytes that rule out a key rule out a
  // name after the first); false, with nothing put, otherwise.
  bool PutPlainHeader(const char* name, std::size_t length) {
    if (care_.key == nullptr || size_ - used_ < length + 3 + 64) return false;
    char* out = block_ + used_;
    out[0] = ini_format::kOpen;
    std::memcpy(out + 1, name, length);
    std::memcpy(out + 1 + length, "]\n", 2);
    if (care_.key(out + 1, length)) return false;
    used_ += length + 3;
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
    if ((Flag(word, ini_format::kComment) | Flag(word, ini_format::kEscape)) != 0) return false;
    std::memcpy(to, &word, sizeof word);
    return true;
  }

  bool PutEscapedInRuns(const char* text, const char* const end) {
    for (;;) {
      const char* special = FindSpecial(
          text, end,
          [](std::uint64_t word) {
            return Flag(word, ini_format::kComment) | Flag(word, ini_format::kEscape);
          },
          [](char byte) { return ini_format::Escapable(byte); });
      if (!Put(text, static_cast<std::size_t>(special - text))) return false;
      if (special == end) return true;
      if (size_ - used_ < 2 && !Flush()) return false;
      used_ = static_cast<std::size_t>(PutOne(block_ + used_, *special) - block_);
      text = special + 1;
    }
  }

  static char* PutOne(char* out, char c) {
    if (ini_format::Escapable(c)) *out++ = ini_format::kEscape;
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
  const CareChecks care_;  // of the scan path loads take; null for the reference
  char* block_;
  std::size_t size_;
  std::size_t used_ = 0;
  char fallback_[kFallbackBlock];
};

// The file that replaces `path`, begun at the first write: a document refused before its
// first block is full (every document of less than a block) creates nothing. A write that
// fails or writes fewer bytes than asked fails. What is begun and not finished is abandoned.
class ReplacingSink final : public ByteSink {
 public:
  ReplacingSink(platform::FileSystem& file_system, const char* path, platform::AtLink at_link)
      : file_system_(file_system), path_(path), at_link_(at_link) {}
  ~ReplacingSink() override {
    if (begun_) file_system_.AbandonReplacing(&replacement_);
  }

  // False when the file could not be created.
  bool Begin() {
    if (!begun_ && !failed_) {
      begun_ = file_system_.BeginReplacing(path_, at_link_, &replacement_);
      failed_ = !begun_;
      if (failed_) failure_ = file_system_.LastFailure();
    }
    return begun_;
  }
  bool Write(const char* data, std::size_t size) override {
    std::uint32_t written = 0;
    if (!Begin()) return false;
    const bool wrote =
        file_system_.Write(replacement_.file, data, static_cast<std::uint32_t>(size), &written);
    if (wrote && written == size) return true;
    // A write that takes fewer bytes than asked has run out of room.
    failure_ = wrote ? platform::Failure::kNoSpace : file_system_.LastFailure();
    return false;
  }
  // Which file the new one will be; asked of a begun replacement before Finish.
  platform::FileId IdOfNew() const { return file_system_.IdOfNew(replacement_); }
  platform::Finished Finish(platform::Publish publish = platform::Publish::kReplacing) {
    begun_ = false;
    const platform::Finished finished = file_system_.FinishReplacing(&replacement_, publish);
    if (finished != platform::Finished::kDone) failure_ = file_system_.LastFailure();
    return finished;
  }
  bool created() const { return !failed_; }
  // Why the file could not be created, written or put in place.
  platform::Failure failure() const { return failure_; }

 private:
  platform::FileSystem& file_system_;
  const char* path_;
  platform::AtLink at_link_;
  platform::Replacement replacement_;
  bool begun_ = false;
  bool failed_ = false;
  platform::Failure failure_ = platform::Failure::kNone;
};

// The result of a store whose text went to `sink` with `stored` (0, -2 or -3): where it was
// written whole, the new file published (kOnlyNew: only where no file is, else -4).
int Written(ReplacingSink& sink, int stored, platform::Publish publish, StoreDetail* detail);

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
    bytes_[size_] = ini_format::kNul;
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

}  // namespace quorva::ini_detail

#endif  // INI_OUTPUT_H_
