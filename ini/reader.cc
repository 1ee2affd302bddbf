// Reading a configuration file: bytes -> logical lines -> a document built in place.
#include <cstring>
#include <new>

#include "ini/byte_scan.h"
#include "ini/io.h"
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

// The five bytes that mean something to the reader; every other byte is ordinary. NUL is
// ordinary too, but marked, since it ends a line's string for every test that follows.
enum ByteClass : unsigned char {
  kOrdinary,
  kLineFeed,
  kCarriageReturn,
  kSpace,
  kSemicolon,
  kBackslash,
  kNul
};

struct ByteTable {
  unsigned char of[256] = {};
  constexpr ByteTable() {
    of[0x00] = kNul;
    of[0x0A] = kLineFeed;        // '\n'
    of[0x0D] = kCarriageReturn;  // '\r'
    of[0x20] = kSpace;
    of[0x3B] = kSemicolon;
    of[0x5C] = kBackslash;
  }
};
constexpr ByteTable kClass;

// The end of the run of ordinary bytes and spaces that starts at `p`: the first byte in
// [p, end) that is LF, CR, ';', '\' or NUL, or `end`.
const char* RunEnd(const char* p, const char* end) {
  return FindSpecial(
      p, end,
      [](std::uint64_t word) {
        return Flag(word, '\n') | Flag(word, '\r') | Flag(word, ';') | Flag(word, '\\') |
               Flag(word, '\0');
      },
      [](unsigned char byte) { return kClass.of[byte] != kOrdinary && kClass.of[byte] != kSpace; });
}

bool IsSectionHeader(const char* line, std::size_t length) {
  return length >= 3 && line[0] == '[' && line[length - 1] == ']';
}

// The first '=' of a key line, or null when the line is none.
char* KeyLineEquals(char* line, std::size_t length) {
  auto* equals = static_cast<char*>(std::memchr(line, '=', length));
  return equals != line ? equals : nullptr;
}

// Turns "[name]" into "name" in place, so the name starts at the start of its text.
char* StripBrackets(char* line, std::size_t length) {
  std::memmove(line, line + 1, length - 1);
  line[length - 2] = '\0';
  return line;
}

// Splits a key line in place at its first '=', dropping the spaces around it.
void SplitKeyValue(char* line, char* equals, char** key, char** value) {
  *equals = '\0';
  for (char* p = equals - 1; p > line && *p == ' '; --p) *p = '\0';
  char* rest = equals + 1;
  while (*rest == ' ') ++rest;
  *key = line;
  *value = rest;
}

constexpr char kNoHeaderFirst[] = "expected a section header '[name]' on the first line";
constexpr char kNeitherKeyNorHeader[] =
    "expected a key line 'key = value' or a section header '[name]'";

// One load: reads the source into a block of the document's arena, turns the bytes into
// logical lines in place, and builds each line into the document as soon as it is
// complete, while its bytes are still in the processor's cache.
//
// In place: the bytes of each read land where the text of the lines so far ends, and the
// lines are written over them, never ahead of the byte being read, since a byte gives at
// most one byte of text and a line feed gives the NUL that ends its line. Only the last
// line of a file without a final line feed needs one byte more, which the block keeps
// free. So the text takes no more room than the file, and usually less: comments, CRs,
// escapes and outer spaces are gone.
class Loader {
 public:
  Loader(ByteSource& source, IniDocument* document, LineObserver* observer, Build build,
         KeptSource* kept)
      : source_(source),
        document_(document),
        arena_(ArenaOf(document)),
        observer_(observer),
        build_(build == Build::kDocument),
        kept_(kept),
        kept_tail_(kept != nullptr ? &kept->first : nullptr) {}

  // Reads and builds, with a first block of text of `first_block` bytes. False when the
  // load failed: `failure_` says why, and for a syntax error `offence_`, `offence_line_`
  // and `offence_column_` say what and where. With an observer the load goes on past a
  // bad line, so that the observer sees every line, and fails at the end.
  bool Run(std::size_t first_block) {
    if (!ReadAll(first_block)) return false;
    return offence_ == nullptr || Fail(INI_SYNTAX_ERROR);
  }

  IniLoadOutcome failure_ = INI_LOADED;
  const char* offence_ = nullptr;  // the first bad line's
  std::int64_t offence_line_ = 0;
  std::int64_t offence_column_ = 0;
  std::int64_t stopped_line_ = 0;  // where the observer asked to stop
  std::int64_t stopped_column_ = 0;

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

  // A load for editing keeps every byte of the file, before the text is made of them.
  bool Keep(const char* bytes, std::uint32_t size) {
    if (kept_->size + size > kept_room_) {
      std::uint64_t room = kept_room_ == 0 ? kUnknownSizeBlock : kept_room_;
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

  // Where the line just ended stood in the file, for a load for editing.
  void KeepLine(KeptLine* line, bool is_section) {
    *line = {nullptr, logical_start_, line_end_, is_section, true};
    *kept_tail_ = line;
    kept_tail_ = &line->next;
  }

  bool Fail(IniLoadOutcome outcome) {
    failure_ = outcome;
    return false;
  }

  bool NewTextBlock(std::size_t size) {
    std::size_t usable = 0;
    char* block = arena_->AllocateBlock(size, &usable);
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

  // Turns the bytes in [read, end) into text at `write_`, ending lines on the way.
  bool Process(char* read, char* const end) {
    while (read < end) {
      if (comment_) {
        // A comment runs to the end of the physical line: a backslash in it neither
        // escapes nor continues the line.
        auto* lf =
            static_cast<char*>(std::memchr(read, '\n', static_cast<std::size_t>(end - read)));
        if (lf == nullptr) return true;
        read = lf;
        comment_ = false;
      }
      unsigned char kind = kClass.of[static_cast<unsigned char>(*read++)];

      if (kind == kCarriageReturn) continue;  // ignored everywhere, even between '\' and LF
      if (kind == kLineFeed) {
        ++line_feeds_;
        last_line_feed_ = chunk_offset_ + (read - 1 - chunk_);
      }
      if (escape_) {
        escape_ = false;
        // A backslash before LF joins the next physical line; before ';' or '\' it makes an
        // ordinary character of it; before anything else it is simply dropped.
        if (kind == kLineFeed) {
          if (kept_ != nullptr)
            continued_at_ = static_cast<std::uint64_t>(chunk_offset_ + (read - chunk_));
          continue;
        }
        if (kind == kSemicolon || kind == kBackslash) kind = kOrdinary;
      }

      switch (kind) {
        case kLineFeed:
          if (kept_ != nullptr)
            line_end_ = static_cast<std::uint64_t>(chunk_offset_ + (read - chunk_));
          if (write_ == line_) {  // blank and comment-only lines produce nothing
            logical_start_ = line_end_;
            continue;
          }
          if (!EndLine()) return false;
          continue;
        case kSemicolon:
          comment_ = true;
          continue;
        case kBackslash:
          escape_ = true;
          continue;
        case kSpace:
          if (write_ == line_) continue;  // leading spaces, also of a first continuation line
          break;
        default:
          break;
      }

      // This byte and the run of ordinary bytes and spaces behind it go to the text whole.
      if (kind == kNul) nul_in_line_ = true;
      char* run = read - 1;
      read = const_cast<char*>(RunEnd(read, end));
      if (write_ == line_) {
        line_start_ = line_feeds_ + 1;
        column_start_ = chunk_offset_ + (run - chunk_) - last_line_feed_;
      }
      const auto length = static_cast<std::size_t>(read - run);
      if (write_ != run) std::memmove(write_, run, length);
      write_ += length;
    }
    return true;
  }

  // Ends the line gathered at `line_`: its spaces at the end, escaped or not, are removed,
  // a NUL ends it, and it goes into the document. A NUL byte inside ends the line's string
  // there, for every test that follows, as it would for any C string.
  bool EndLine() {
    while (write_ > line_ && write_[-1] == ' ') --write_;
    *write_ = '\0';
    char* line = line_;
    std::size_t length = static_cast<std::size_t>(write_ - line);
    if (nul_in_line_) length = std::strlen(line);
    nul_in_line_ = false;
    line_ = ++write_;
    // The first line must be a header; each later line is tested as a key line first, and
    // only a line that is no key line may be a header.
    const bool first = !seen_line_;
    seen_line_ = true;
    if (!first) {
      if (char* equals = KeyLineEquals(line, length)) return AddEntry(line, equals);
    }
    if (IsSectionHeader(line, length)) return AddSection(StripBrackets(line, length));
    return BadLine(line, first ? kNoHeaderFirst : kNeitherKeyNorHeader);
  }

  // A line that breaks the structure rejects the file. An observer is told, and the load
  // goes on with the next line; the first bad line is the one reported. Kept out of the
  // path of good lines, which it would slow down if it were inlined there.
  [[gnu::noinline]] bool BadLine(const char* line, const char* reason) {
    if (offence_ == nullptr) {
      offence_ = reason;
      offence_line_ = line_start_;
      offence_column_ = column_start_;
    }
    return observer_ == nullptr ? Fail(INI_SYNTAX_ERROR)
                                : Tell(INI_BAD_LINE, nullptr, nullptr, line, reason);
  }

  // Hands a line to the observer; one that asks to stop ends the load there.
  [[gnu::noinline]] bool Tell(IniLineKind kind, const char* key, const char* value,
                              const char* text, const char* reason) {
    if (observer_->OnLine(
            {kind, line_start_, column_start_, section_name_, key, value, text, reason})) {
      return true;
    }
    stopped_line_ = line_start_;
    stopped_column_ = column_start_;
    return Fail(INI_STOPPED);
  }

  bool AddSection(char* name) {
    section_name_ = name;
    if (build_) {
      IniSection* section = NewCarvedSection(arena_, name, kept_ != nullptr);
      if (section == nullptr || !AppendSection(document_, section)) return Fail(INI_OUT_OF_MEMORY);
      section_ = section;
      if (kept_ != nullptr) {
        KeepLine(&KeptOf(section)->line, true);
        KeptOf(section)->body_end = line_end_;
        logical_start_ = line_end_;
      }
    }
    return observer_ == nullptr || Tell(INI_HEADER, nullptr, nullptr, nullptr, nullptr);
  }

  bool AddEntry(char* line, char* equals) {
    IniEntry split;
    IniEntry* entry = &split;
    if (build_) {
      entry = static_cast<IniEntry*>(
          arena_->Allocate(kept_ != nullptr ? sizeof(KeptEntry) : sizeof(IniEntry)));
      if (entry == nullptr) return Fail(INI_OUT_OF_MEMORY);
    }
    SplitKeyValue(line, equals, &entry->key, &entry->value);
    if (kept_ != nullptr && section_ != nullptr) {
      KeepLine(&KeptOf(entry)->line, false);
      KeptOf(entry)->loaded_value = entry->value;
      KeptOf(section_)->body_end = line_end_;
      logical_start_ = line_end_;
    }
    // Only an observed load, past a bad first line, meets key lines before any section.
    if (build_ && section_ != nullptr && !AppendEntry(section_, entry))
      return Fail(INI_OUT_OF_MEMORY);
    return observer_ == nullptr || Tell(INI_ENTRY, entry->key, entry->value, nullptr, nullptr);
  }

  ByteSource& source_;
  IniDocument* document_;
  Arena* arena_;
  IniSection* section_ = nullptr;  // the section that key lines go to
  const char* section_name_ = "";  // and its name, also when no document is built
  char* write_ = nullptr;          // where the next byte of text goes
  char* line_ = nullptr;           // where the line being gathered starts
  char* end_ = nullptr;            // the end of the text block
  std::size_t block_size_ = 0;     // the size of the text block
  LineObserver* observer_;
  const bool build_;  // records are made for a document, not only lines told
  // A load for editing: the file's bytes and lines, where the line being gathered began in
  // the file and where it ended; else null.
  KeptSource* kept_;
  KeptLine** kept_tail_;
  std::uint64_t kept_room_ = 0;
  std::uint64_t logical_start_ = 0;
  std::uint64_t line_end_ = 0;
  std::uint64_t continued_at_ = 0;  // past the last line feed that continued a line
  bool escape_ = false;
  bool comment_ = false;
  bool nul_in_line_ = false;  // the line holds a NUL: its string ends there
  bool seen_line_ = false;    // a logical line has ended
  // Where the current line begins: its physical line, and its byte in it (1-based). The
  // byte is counted from the offsets of the read that holds it (`chunk_` is where that
  // read landed, `chunk_offset_` its offset in the file) and of the last line feed.
  std::int64_t line_start_ = 0;
  std::int64_t column_start_ = 0;
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
                build == Build::kParseOnly ? Build::kParseOnly : Build::kDocument, kept);
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
