// Reading a configuration file: bytes -> logical lines -> a document built in place.
#include <cstring>
#include <new>

#include "ini/format.h"
#include "ini/io.h"
#include "ini/line_builder.h"
#include "ini/line_scan.h"
#include "ini/project_internal.h"
#include "ini/records.h"

namespace quorva::ini_detail {
namespace {

// Reads this large move a file in a sixth of the time of 1 KiB reads, and still fit the
// processor's cache, where the bytes just read are turned into lines.
constexpr std::uint32_t kReadBlock = 64 * 1024;
// The first block for the text of a source that does not know its size; later ones double
// up to this step, and then grow by it.
constexpr std::size_t kUnknownSizeBlock = 64 * 1024;
constexpr std::size_t kLargestTextStep = std::size_t{256} << 20;
// The largest size a source may say it has: its text, its records and their rounding must
// fit the address space together.
constexpr std::uint64_t kLargestSource = SIZE_MAX / 4;
// The first block for records: as large as the file, and at least this much.
constexpr std::size_t kSmallestRecordBlock = 256;
// A text block no larger than this lies in the first block of records.
constexpr std::size_t kCarvedText = 16 * 1024;

// What a byte is to the byte-by-byte reading; every byte not named is ordinary. NUL is
// ordinary too, but marked, since it ends a line's string for every test that follows.
enum ByteClass : unsigned char {
  kOrdinary,
  kLineFeed,
  kCarriageReturn,
  kSpace,
  kComment,
  kEscape,
  kNul
};

struct ByteTable {
  unsigned char of[256] = {};
  constexpr ByteTable() {
    Set(ini_format::kNul, kNul);
    Set(ini_format::kLineFeed, kLineFeed);
    Set(ini_format::kCarriageReturn, kCarriageReturn);
    Set(ini_format::kSpace, kSpace);
    Set(ini_format::kComment, kComment);
    Set(ini_format::kEscape, kEscape);
  }
  constexpr void Set(char byte, ByteClass kind) { of[static_cast<unsigned char>(byte)] = kind; }
};
constexpr ByteTable kClass;

// One load: reads the source into a block of the document's arena, turns the bytes into
// logical lines in place, and builds each line into the document as soon as it is
// complete, while its bytes are still in the processor's cache.
//
// In place: the bytes of each read land where the text of the lines so far ends, and the
// lines are made of them there, never ahead of the byte being read, since a byte gives at
// most one byte of text and a line feed gives the NUL that ends its line. A plain line
// (most lines) keeps its bytes where they are, its outer spaces cut off by NULs; a line
// with escapes, a continuation or CRs of its own is gathered byte by byte towards its
// start. Only the last line of a file without a final line feed needs one byte more,
// which the block keeps free. So the text takes no more room than the file.
class Loader : public LineBuilder {
 public:
  Loader(ByteSource& source, IniDocument* document, LineObserver* observer, Build build,
         KeptSource* kept, ScanPath path)
      : LineBuilder(document, observer, build, kept),
        source_(source),
        scan_(path),
        whole_lines_(path != ScanPath::kReference) {}

  // Reads and builds, with a first block of text of `first_block` bytes. False when the
  // load failed: `failure_` says why, and for a syntax error `offence_`, `offence_line_`
  // and `offence_column_` say what and where. With an observer the load goes on past a
  // bad line, so that the observer sees every line, and fails at the end.
  bool Run(std::size_t first_block) {
    if (!ReadAll(first_block)) return false;
    return offence_ == nullptr || Fail(INI_SYNTAX_ERROR);
  }

 private:
  bool ReadAll(std::size_t first_block) {
    if (!NewTextBlock(first_block)) return false;
    for (;;) {
      std::size_t space = static_cast<std::size_t>(end_ - write_) - 1;  // one kept free
      if (space == 0) {
        if (!GrowTextBlock()) return false;
        space = static_cast<std::size_t>(end_ - write_) - 1;
      }
      std::uint32_t got = 0;
      const auto wanted = static_cast<std::uint32_t>(space < kReadBlock ? space : kReadBlock);
      if (!source_.Read(write_, wanted, &got)) return Fail(INI_READ_FAILED);
      if (got == 0) break;
      if (kept_ != nullptr && !Keep(write_, got)) return false;
      chunk_ = write_;
      scan_.Start(write_, write_ + got);
      if (!Process(write_, write_ + got)) return false;
      chunk_offset_ += got;
    }
    // The end of the file ends the last line; a pending escape or open comment goes with it.
    line_end_ = static_cast<std::uint64_t>(chunk_offset_);
    // A line still open at the end of the file (an escape pending, or a continuation its
    // last byte): text written after it must end it first, or it would join it.
    if (kept_ != nullptr)
      kept_->open_at_end = escape_ || (line_end_ > 0 && continued_at_ == line_end_);
    return write_ == line_ || EndLine();
  }

  // A load for editing keeps every byte of the file, before the text is made of them: in a
  // block as large as the text block at first (the file's size, when it said), which then
  // doubles.
  bool Keep(const char* bytes, std::uint32_t size) {
    if (kept_->size + size > kept_room_) {
      std::uint64_t room = kept_room_ == 0 ? block_size_ : kept_room_;
      while (room < kept_->size + size) room *= 2;
      if (room > SIZE_MAX / 2) return Fail(INI_OUT_OF_MEMORY);
      void* grown = Reallocate(kept_->bytes, static_cast<std::size_t>(room));
      if (grown == nullptr) return Fail(INI_OUT_OF_MEMORY);
      kept_->bytes = static_cast<char*>(grown);
      kept_room_ = room;
    }
    std::memcpy(kept_->bytes + kept_->size, bytes, size);
    kept_->size += size;
    return true;
  }

  // A small text is carved from the records' first block, which Load makes large enough:
  // a small file then costs one block fewer.
  bool NewTextBlock(std::size_t size) {
    std::size_t usable = size;
    char* block = size <= kCarvedText ? static_cast<char*>(arena_->Allocate(size))
                                      : arena_->AllocateBlock(size, &usable);
    if (block == nullptr) return Fail(INI_OUT_OF_MEMORY);
    write_ = line_ = block;
    end_ = block + usable;
    block_size_ = usable;
    return true;
  }

  // The block is full (the source held more than it said, or did not know its size): the
  // line being gathered moves to a new block twice as large as the last, so that a source
  // of any size costs few blocks; the lines before it stay where the document has them.
  bool GrowTextBlock() {
    const auto partial = static_cast<std::size_t>(write_ - line_);
    const char* from = line_;
    std::size_t wanted =
        block_size_ < kLargestTextStep ? 2 * block_size_ : block_size_ + kLargestTextStep;
    if (wanted < partial + kReadBlock + 2) wanted = partial + kReadBlock + 2;
    if (!NewTextBlock(wanted)) return false;
    std::memcpy(write_, from, partial);
    write_ += partial;
    return true;
  }

  // Turns the bytes in [read, end) into text, ending lines on the way. Between logical
  // lines, whole plain lines go at once (WholeLines); the rest, byte by byte.
  bool Process(char* read, char* const end) {
    while (read < end) {
      if (whole_lines_ && !blocked_ && write_ == line_ && !comment_ && !escape_) {
        read = WholeLines(read, end);
        if (read == nullptr) return false;
        if (read == end) break;
        blocked_ = true;  // the byte machine takes the next line
      }
      if (comment_) {
        // A comment runs to the end of the physical line: a backslash in it neither
        // escapes nor continues the line.
        auto* lf = static_cast<char*>(
            std::memchr(read, ini_format::kLineFeed, static_cast<std::size_t>(end - read)));
        if (lf == nullptr) return true;
        read = lf;
        comment_ = false;
      }
      const unsigned char kind = ClassOf(read++);
      switch (kind) {
        case kCarriageReturn:  // ignored everywhere, even between an escape and its byte
        case kEscape:          // the byte behind it is taken with it
          continue;
        case kLineFeed:
          blocked_ = false;
          if (kept_ != nullptr)
            line_end_ = static_cast<std::uint64_t>(chunk_offset_ + (read - chunk_));
          if (write_ == line_) {  // blank and comment-only lines produce nothing
            logical_start_ = line_end_;
            continue;
          }
          if (!EndLine()) return false;
          continue;
        case kComment:
          comment_ = true;
          continue;
        case kSpace:
          if (write_ == line_) continue;  // leading spaces, also of a first continuation line
          break;
        default:
          break;
      }
      if (kind == kNul) nul_in_line_ = true;
      read = TakeText(read - 1);
    }
    return true;
  }

  // What the byte at `at` is to the byte-by-byte reading, counting line feeds and taking
  // escapes as it goes. An escape gives kEscape (nothing to take) until the byte it takes
  // comes: a line feed joins the next line, ';' and '\' become ordinary, and any other
  // byte keeps its class.
  unsigned char ClassOf(const char* at) {
    unsigned char kind = kClass.of[static_cast<unsigned char>(*at)];
    if (kind == kCarriageReturn) return kind;
    if (kind == kLineFeed) {
      ++line_feeds_;
      last_line_feed_ = chunk_offset_ + (at - chunk_);
    }
    if (!escape_) {
      escape_ = kind == kEscape;
      return kind;
    }
    escape_ = false;
    if (kind == kLineFeed) {
      if (kept_ != nullptr)
        continued_at_ = static_cast<std::uint64_t>(chunk_offset_ + (at + 1 - chunk_));
      return kEscape;
    }
    return ini_format::Escapable(*at) ? static_cast<unsigned char>(kOrdinary) : kind;
  }

  // Takes the byte at `run` and the run of ordinary bytes and spaces behind it into the
  // text of the line, whole; gives where the run ends.
  char* TakeText(char* run) {
    const char* equals;
    char* const read = const_cast<char*>(scan_.Next(run + 1, &equals));
    if (write_ == line_) {
      // A line's text starts where its first byte is: the lines before it are not moved
      // up to it, so a file's lines stay where they were read.
      write_ = line_ = run;
      line_start_ = line_feeds_ + 1;
      column_start_ = chunk_offset_ + (run - chunk_) - last_line_feed_;
    }
    const auto length = static_cast<std::size_t>(read - run);
    if (write_ != run) std::memmove(write_, run, length);
    write_ += length;
    return read;
  }

  // Ends the line gathered at `line_`: its spaces at the end, escaped or not, are removed,
  // a NUL ends it, and it goes into the document. A NUL byte inside ends the line's string
  // there, for every test that follows, as it would for any C string.
  bool EndLine() {
    while (write_ > line_ && write_[-1] == ini_format::kSpace) --write_;
    *write_ = ini_format::kNul;
    char* line = line_;
    std::size_t length = static_cast<std::size_t>(write_ - line);
    if (nul_in_line_) length = std::strlen(line);
    nul_in_line_ = false;
    line_ = ++write_;
    return Take(line, length, KeyLineEquals(line, length));
  }

  // Takes, from `read`, whole physical lines that are plain: ordinary bytes and spaces only,
  // ended by LF or CR LF, or by a comment running to LF. Such a line is read by the rules of
  // the byte machine without it: its outer spaces go, a NUL goes where its text ends, and
  // its bytes stay in place. Gives where it stopped, at the start of a line it cannot take
  // (one with an escape, a CR of its own or a NUL, or one not ended in [read, end)), or
  // null when the load failed.
  char* WholeLines(char* read, char* const end) {
    while (read < end) {
      const char* found;
      char* special = const_cast<char*>(scan_.Next(read, &found));
      char* text_end = special;  // the line's text ends here, before its outer spaces go
      char* lf = special;
      if (special == end) return Unended(read, end);
      if (*special == ini_format::kCarriageReturn) {
        if (special + 1 == end || special[1] != ini_format::kLineFeed) return read;
        lf = special + 1;
      } else if (*special == ini_format::kComment) {
        lf = static_cast<char*>(
            std::memchr(special, ini_format::kLineFeed, static_cast<std::size_t>(end - special)));
        if (lf == nullptr) return read;
      } else if (*special != ini_format::kLineFeed) {
        return read;
      }
      const std::int64_t lf_offset = chunk_offset_ + (lf - chunk_);
      if (kept_ != nullptr) line_end_ = static_cast<std::uint64_t>(lf_offset + 1);
      char* text = read;
      while (text < text_end && *text == ini_format::kSpace) ++text;
      if (text == text_end) {  // a blank or comment-only line
        logical_start_ = line_end_;
      } else {
        while (text_end[-1] == ini_format::kSpace) --text_end;
        *text_end = ini_format::kNul;
        line_start_ = line_feeds_ + 1;
        column_start_ = chunk_offset_ + (text - chunk_) - last_line_feed_;
        auto* equals = const_cast<char*>(found);
        if (!Take(text, static_cast<std::size_t>(text_end - text),
                  equals != text ? equals : nullptr)) {
          return nullptr;
        }
      }
      ++line_feeds_;
      last_line_feed_ = lf_offset;
      read = write_ = line_ = lf + 1;
    }
    return read;
  }

  // A plain line that runs past the bytes read so far: its text so far is gathered as the
  // byte machine would have gathered it, which goes on with it, so that a long line is
  // scanned once.
  char* Unended(char* read, char* const end) {
    char* text = read;
    while (text < end && *text == ini_format::kSpace) ++text;
    if (text < end) {
      line_ = text;
      write_ = end;
      line_start_ = line_feeds_ + 1;
      column_start_ = chunk_offset_ + (text - chunk_) - last_line_feed_;
    }
    return end;
  }

  ByteSource& source_;
  char* write_ = nullptr;       // where the next byte of text goes
  char* line_ = nullptr;        // where the line being gathered starts
  char* end_ = nullptr;         // the end of the text block
  std::size_t block_size_ = 0;  // the size of the text block
  bool blocked_ = false;        // the line being read is one WholeLines could not take
  std::uint64_t kept_room_ = 0;
  std::uint64_t continued_at_ = 0;  // past the last line feed that continued a line
  LineScanner scan_;        // finds the bytes that mean something in a read, and each first '='
  const bool whole_lines_;  // plain lines are taken whole, not byte by byte

  bool escape_ = false;
  bool comment_ = false;
  bool nul_in_line_ = false;  // the line holds a NUL: its string ends there
  // Where the current line begins (`line_start_` and `column_start_`) is counted from the
  // offsets of the read that holds it (`chunk_` is where that read landed, `chunk_offset_`
  // its offset in the file) and of the last line feed.
  std::int64_t line_feeds_ = 0;
  const char* chunk_ = nullptr;
  std::int64_t chunk_offset_ = 0;
  std::int64_t last_line_feed_ = -1;
};

}  // namespace

IniDocument* Load(ByteSource& source, IniLoadReport* report, LineObserver* observer, Build build) {
  // The text takes at most the file's bytes and one NUL more, and a read needs a byte of
  // room to find the end. The first block of records is as large as the file, which holds
  // all of them for most files, and small when the size is not known; later blocks double.
  // Large blocks are paid for only as far as they are used.
  std::uint64_t size = 0;
  const bool size_known = source.SizeHint(&size);
  if (size_known && size > kLargestSource) {
    source.Finish();
    return Report(report, INI_OUT_OF_MEMORY);
  }
  const std::size_t text_block =
      size_known ? static_cast<std::size_t>(size) + 2 : kUnknownSizeBlock;
  std::size_t record_block = build != Build::kParseOnly ? static_cast<std::size_t>(size) : 0;
  if (record_block < kSmallestRecordBlock) record_block = kSmallestRecordBlock;
  if (text_block <= kCarvedText) record_block += text_block + 16;  // room for the text too
  IniDocument* document = NewDocument(record_block);
  if (document == nullptr) {
    source.Finish();
    return Report(report, INI_OUT_OF_MEMORY);
  }
  KeptSource* kept = nullptr;
  if (build == Build::kKeepingText) {
    kept = static_cast<KeptSource*>(Allocate(sizeof(KeptSource)));
    if (kept == nullptr) {
      ini_free_document(document);
      source.Finish();
      return Report(report, INI_OUT_OF_MEMORY);
    }
    new (kept) KeptSource();
    reinterpret_cast<DocumentBlock*>(document)->kept = kept;
  }
  Loader loader(source, document, observer,
                build == Build::kParseOnly ? Build::kParseOnly : Build::kDocument, kept,
                ScanPathOfLoads());
  const bool loaded = loader.Run(text_block);
  source.Finish();
  if (!loaded || build == Build::kParseOnly) ini_free_document(document);
  if (!loaded) {
    switch (loader.failure_) {
      case INI_SYNTAX_ERROR:
        return Report(report, INI_SYNTAX_ERROR, loader.offence_line_, loader.offence_column_,
                      loader.offence_);
      case INI_STOPPED:
        return Report(report, INI_STOPPED, loader.stopped_line_, loader.stopped_column_);
      default:
        return Report(report, loader.failure_);
    }
  }
  Report(report, INI_LOADED);
  return build != Build::kParseOnly ? document : nullptr;
}

}  // namespace quorva::ini_detail
