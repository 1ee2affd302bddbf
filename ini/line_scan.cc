// The portable line scan, eight bytes at a time, and the choice of the kernel loads use.
#include "ini/line_scan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ini/byte_scan.h"
#include "ini/format.h"

namespace quorva::ini_detail {

using ini_format::kCarriageReturn;
using ini_format::kComment;
using ini_format::kEscape;
using ini_format::kLineFeed;
using ini_format::kNul;
using ini_format::kSeparator;

const char* ScanPortable(const char* p, const char* end, const char** equals) {
  const char* special = FindSpecial(
      p, end,
      [](std::uint64_t word) {
        return Flag(word, kLineFeed) | Flag(word, kCarriageReturn) | Flag(word, kComment) |
               Flag(word, kEscape) | Flag(word, kNul);
      },
      [](char byte) { return ini_format::EndsPlainText(byte); });
  *equals =
      static_cast<const char*>(std::memchr(p, kSeparator, static_cast<std::size_t>(special - p)));
  return special;
}

namespace {

// The high bit of each byte of `word` that equals `byte`, and no other bit: the low seven
// bits are added without a carry leaving the byte, so no byte marks its neighbour.
std::uint64_t Exact(std::uint64_t word, unsigned char byte) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const std::uint64_t x = word ^ (kOnes * byte);
  return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}

// The high bits of the eight bytes, as eight bits, byte 0 in bit 0: each bit is multiplied
// into its own place of the top byte, with no two products meeting.
std::uint64_t Gather(std::uint64_t high_bits) {
  return ((high_bits >> 7) * 0x0102040810204080ull) >> 56;
}

}  // namespace

void ClassifyPortable(const char* p, std::size_t words, std::uint64_t* special,
                      std::uint64_t* equals) {
  for (std::size_t w = 0; w < words; ++w, p += 64) {
    std::uint64_t s = 0, e = 0;
    if (LittleEndian()) {
      for (unsigned i = 0; i < 64; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        const std::uint64_t found = Exact(word, kLineFeed) | Exact(word, kCarriageReturn) |
                                    Exact(word, kComment) | Exact(word, kEscape) |
                                    Exact(word, kNul);
        s |= Gather(found) << i;
        e |= Gather(Exact(word, kSeparator)) << i;
      }
    } else {
      for (unsigned i = 0; i < 64; ++i) {
        const char c = p[i];
        s |= std::uint64_t{ini_format::EndsPlainText(c)} << i;
        e |= std::uint64_t{c == kSeparator} << i;
      }
    }
    special[w] = s;
    equals[w] = e;
  }
}

namespace {

// A value's set repeats ';' where a key's has '=' and CR.
template <bool kKey>
bool NeedsCarePortable(const char* p, std::size_t length) {
  constexpr unsigned char kFourth = kKey ? kSeparator : kComment,
                          kFifth = kKey ? kCarriageReturn : kComment;
  if (!LittleEndian()) {
    for (std::size_t i = 0; i < length; ++i) {
      if (kKey ? ini_format::KeyNeedsCare(p[i]) : ini_format::ValueNeedsCare(p[i])) return true;
    }
    return false;
  }
  for (std::size_t i = 0; i < length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, sizeof word);
    std::uint64_t found = Exact(word, kComment) | Exact(word, kEscape) | Exact(word, kLineFeed) |
                          Exact(word, kFourth) | Exact(word, kFifth);
    if (length - i < 8) found &= (std::uint64_t{1} << (8 * (length - i))) - 1;  // past the text
    if (found != 0) return true;
  }
  return false;
}

}  // namespace

bool KeyNeedsCarePortable(const char* p, std::size_t length) {
  return NeedsCarePortable<true>(p, length);
}
bool ValueNeedsCarePortable(const char* p, std::size_t length) {
  return NeedsCarePortable<false>(p, length);
}

std::size_t PassPlainPortable(const char* p, std::size_t words, bool with_equals) {
  // Whether a word holds a byte below 0x0E, or one of the others: exact for whether, if not
  // for which byte.
  constexpr std::uint64_t kHigh = kOnes << 7;
  for (std::size_t w = 0; w < words; ++w, p += 64) {
    std::uint64_t found = 0;
    for (unsigned i = 0; i < 64; i += 8) {
      std::uint64_t x;
      std::memcpy(&x, p + i, sizeof x);
      found |= ((x - kOnes * 0x0E) & ~x & kHigh) | Flag(x, kComment) | Flag(x, kEscape) |
               (with_equals ? Flag(x, kSeparator) : 0);
    }
    if (found != 0) return w;
  }
  return words;
}

#ifndef INI_X86_KERNELS
// No x86 kernels in this build: the paths that need them are never available.
void ClassifySse2(const char* p, std::size_t words, std::uint64_t* special, std::uint64_t* equals) {
  ClassifyPortable(p, words, special, equals);
}
void ClassifyAvx2(const char* p, std::size_t words, std::uint64_t* special, std::uint64_t* equals) {
  ClassifyPortable(p, words, special, equals);
}
std::size_t PassPlainSse2(const char* p, std::size_t words, bool with_equals) {
  return PassPlainPortable(p, words, with_equals);
}
std::size_t PassPlainAvx2(const char* p, std::size_t words, bool with_equals) {
  return PassPlainPortable(p, words, with_equals);
}
bool KeyNeedsCareSse2(const char* p, std::size_t length) { return KeyNeedsCarePortable(p, length); }
bool ValueNeedsCareSse2(const char* p, std::size_t length) {
  return ValueNeedsCarePortable(p, length);
}
bool KeyNeedsCareAvx2(const char* p, std::size_t length) { return KeyNeedsCarePortable(p, length); }
bool ValueNeedsCareAvx2(const char* p, std::size_t length) {
  return ValueNeedsCarePortable(p, length);
}
#endif

bool Available(ScanPath path) {
  switch (path) {
    case ScanPath::kReference:
    case ScanPath::kPortable:
      return true;
#ifdef INI_X86_KERNELS
    case ScanPath::kSse2:
      return __builtin_cpu_supports("sse2");
    case ScanPath::kAvx2:
      return __builtin_cpu_supports("avx2");
#else
    default:
      return false;
#endif
  }
  return false;
}

Classify ClassifierOf(ScanPath path) {
  switch (path) {
    case ScanPath::kPortable:
      return ClassifyPortable;
    case ScanPath::kSse2:
      return ClassifySse2;
    case ScanPath::kAvx2:
      return ClassifyAvx2;
    default:
      return nullptr;
  }
}

LineScanner::LineScanner(ScanPath path) : classify_(ClassifierOf(path)) {
  switch (path) {
    case ScanPath::kSse2:
      pass_plain_ = PassPlainSse2;
      break;
    case ScanPath::kAvx2:
      pass_plain_ = PassPlainAvx2;
      break;
    default:
      pass_plain_ = PassPlainPortable;
      break;
  }
}

const char* LineScanner::NextInLaterWords(const char* p, const char** equals) {
  const char* first_equals = nullptr;
  for (;;) {
    auto offset = static_cast<std::size_t>(p - begin_);
    std::size_t word = offset / 64;
    if (word - first_word_ >= kWords) {
      // Out of the window at the start of a word: the whole words with nothing in them are
      // passed over before the next window is classified.
      if (offset % 64 == 0) {
        const auto whole = static_cast<std::size_t>(end_ - p) / 64;
        p += 64 * pass_plain_(p, whole, first_equals == nullptr);
        if (p == end_) {
          *equals = first_equals;
          return end_;
        }
        offset = static_cast<std::size_t>(p - begin_);
        word = offset / 64;
      }
      Fill(word);
    }
    const unsigned bit = offset % 64;
    const std::uint64_t special = special_[word - first_word_] >> bit;
    std::uint64_t eq = equals_[word - first_word_] >> bit;
    if (special != 0) eq &= (special & (0 - special)) - 1;
    if (first_equals == nullptr && eq != 0) first_equals = p + __builtin_ctzll(eq);
    if (special != 0) {
      *equals = first_equals;
      return p + __builtin_ctzll(special);
    }
    p += 64 - bit;
    if (p >= end_) {
      *equals = first_equals;
      return end_;
    }
  }
}

void LineScanner::Fill(std::size_t word) {
  first_word_ = word;
  const char* p = begin_ + 64 * word;
  const auto whole = static_cast<std::size_t>(end_ - p) / 64;
  const std::size_t words = whole < kWords ? whole : kWords;
  classify_(p, words, special_, equals_);
  if (words < kWords) {
    // The rest of the bytes, fewer than 64, padded with ordinary ones.
    char last[64];
    const auto rest = static_cast<std::size_t>(end_ - p) - 64 * words;
    std::memset(last, 'x', sizeof last);
    std::memcpy(last, p + 64 * words, rest);
    classify_(last, 1, special_ + words, equals_ + words);
    for (std::size_t w = words + 1; w < kWords; ++w) special_[w] = equals_[w] = 0;
  }
}

CareChecks CareChecksOf(ScanPath path) {
  switch (path) {
    case ScanPath::kPortable:
      return {KeyNeedsCarePortable, ValueNeedsCarePortable};
    case ScanPath::kSse2:
      return {KeyNeedsCareSse2, ValueNeedsCareSse2};
    case ScanPath::kAvx2:
      return {KeyNeedsCareAvx2, ValueNeedsCareAvx2};
    default:
      return {nullptr, nullptr};
  }
}

namespace {

ScanPath Choose() {
  const char* asked = std::getenv("INI_SCAN");
  if (asked != nullptr) {
    const struct {
      const char* name;
      ScanPath path;
    } kNames[] = {{"reference", ScanPath::kReference},
                  {"portable", ScanPath::kPortable},
                  {"sse2", ScanPath::kSse2},
                  {"avx2", ScanPath::kAvx2}};
    for (const auto& n : kNames) {
      if (std::strcmp(asked, n.name) == 0 && Available(n.path)) return n.path;
    }
  }
  for (ScanPath path : {ScanPath::kAvx2, ScanPath::kSse2}) {
    if (Available(path)) return path;
  }
  return ScanPath::kPortable;
}

}  // namespace

ScanPath ChosenScanPath() {
  static const ScanPath chosen = Choose();
  return chosen;
}

namespace {

ScanPath& PathOfLoads() {
  static ScanPath path = ChosenScanPath();
  return path;
}

}  // namespace

ScanPath ScanPathOfLoads() { return PathOfLoads(); }

ScanPath SetScanPathForTesting(ScanPath path) {
  const ScanPath previous = PathOfLoads();
  PathOfLoads() = path;
  return previous;
}

}  // namespace quorva::ini_detail
