// Finding, in the bytes of a read, the ones that mean something to the reader (LF, CR,
// ';', '\' and NUL) and the first '=' before each: the reader's one look at most bytes.
//
// A kernel classifies 64 bytes at a time into two bit masks, and the scanner walks the
// masks, so that the reader pays one call per 512 bytes rather than one per line, and a
// line costs a few bit operations. Every kernel gives the same masks; the widest one the
// processor has is used.
#ifndef INI_LINE_SCAN_H_
#define INI_LINE_SCAN_H_

#include <cstddef>
#include <cstdint>

#include "ini/project_internal.h"  // ScanPath, Available

namespace quorva::ini_detail {

// Classifies `words` times 64 bytes from `p`: bit i of special[w] is set when byte 64w + i
// is LF, CR, ';', '\' or NUL, and bit i of equals[w] when it is '='.
using Classify = void (*)(const char* p, std::size_t words, std::uint64_t* special,
                          std::uint64_t* equals);
void ClassifyPortable(const char* p, std::size_t words, std::uint64_t* special,
                      std::uint64_t* equals);
void ClassifySse2(const char* p, std::size_t words, std::uint64_t* special, std::uint64_t* equals);
void ClassifyAvx2(const char* p, std::size_t words, std::uint64_t* special, std::uint64_t* equals);

// The kernel of a path, which the processor must have; null for the reference.
Classify ClassifierOf(ScanPath path);

// How many of the `words` times 64 bytes from `p`, from the first on, surely hold none of
// LF, CR, ';', '\' and NUL (nor '=', `with_equals`): a quick look that lets a long run of
// ordinary bytes pass without being classified. It may stop early, at a tab or another
// control byte, where the classification then says what is there.
using PassPlain = std::size_t (*)(const char* p, std::size_t words, bool with_equals);
std::size_t PassPlainPortable(const char* p, std::size_t words, bool with_equals);
std::size_t PassPlainSse2(const char* p, std::size_t words, bool with_equals);
std::size_t PassPlainAvx2(const char* p, std::size_t words, bool with_equals);

// For the writer: true when one of the `length` bytes at `p` is one it cannot copy as it
// is into a key: ';' or '\', which it escapes, or LF, '=' or CR, which would not read back
// (the same bytes rule out a section name after the first); into a value: ';', '\' or LF.
// Reads up to 63 bytes past them, which must be readable: the writer looks at text it has
// copied into its block, where they are.
using NeedsCare = bool (*)(const char* p, std::size_t length);
struct CareChecks {
  NeedsCare key, value;
};
// The checks of a path; null for the reference.
CareChecks CareChecksOf(ScanPath path);
bool KeyNeedsCarePortable(const char* p, std::size_t length);
bool ValueNeedsCarePortable(const char* p, std::size_t length);
bool KeyNeedsCareSse2(const char* p, std::size_t length);
bool ValueNeedsCareSse2(const char* p, std::size_t length);
bool KeyNeedsCareAvx2(const char* p, std::size_t length);
bool ValueNeedsCareAvx2(const char* p, std::size_t length);

// The first of LF, CR, ';', '\' and NUL in [p, end), or `end`; `*equals` receives the first
// '=' before it, or null. The reference, eight bytes at a time.
const char* ScanPortable(const char* p, const char* end, const char** equals);

// The path loads take: the widest available, or what the environment variable INI_SCAN
// names ("reference", "portable", "sse2", "avx2"), which tests use to run every path; a name
// the processor cannot run gives the widest it can.
ScanPath ChosenScanPath();
// The path loads take now: ChosenScanPath(), unless a test set another.
ScanPath ScanPathOfLoads();

// Scans the bytes of one read, [begin, end), front to back, from the masks of a window of
// 512 bytes, which it classifies again when a scan leaves it.
class LineScanner {
 public:
  explicit LineScanner(ScanPath path);

  void Start(const char* begin, const char* end) {
    begin_ = begin;
    end_ = end;
    first_word_ = kNoWindow;
  }

  // As ScanPortable(p, end, equals), for p in [begin, end].
  const char* Next(const char* p, const char** equals) {
    if (classify_ == nullptr) return ScanPortable(p, end_, equals);
    const auto offset = static_cast<std::size_t>(p - begin_);
    const std::size_t word = offset / 64;
    if (word - first_word_ >= kWords) {
      if (p == end_) return Ended(equals);
      Fill(word);
    }
    const unsigned bit = offset % 64;
    const std::uint64_t special = special_[word - first_word_] >> bit;
    if (special == 0) return NextInLaterWords(p, equals);
    // The first '=' counts only before the special byte: the bits below its lowest.
    const std::uint64_t eq = (equals_[word - first_word_] >> bit) & ((special & (0 - special)) - 1);
    *equals = eq != 0 ? p + __builtin_ctzll(eq) : nullptr;
    return p + __builtin_ctzll(special);
  }

 private:
  static constexpr std::size_t kWords = 8;
  static constexpr std::size_t kNoWindow = ~std::size_t{0} / 2;

  // Classifies the window of kWords words from `word`; a last word the bytes do not fill is
  // classified from a copy padded with ordinary bytes.
  void Fill(std::size_t word);
  // Next() when no special byte follows `p` in its word: the words after it, in turn.
  const char* NextInLaterWords(const char* p, const char** equals);
  const char* Ended(const char** equals) {
    *equals = nullptr;
    return end_;
  }

  Classify classify_;  // null for the reference
  PassPlain pass_plain_;
  const char* begin_ = nullptr;
  const char* end_ = nullptr;
  std::size_t first_word_ = kNoWindow;  // the window's first word
  std::uint64_t special_[kWords] = {};
  std::uint64_t equals_[kWords] = {};
};

}  // namespace quorva::ini_detail

#endif  // INI_LINE_SCAN_H_
