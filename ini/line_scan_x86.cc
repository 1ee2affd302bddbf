// The classification of 64 bytes 16 at a time (SSE2) and 32 at a time (AVX2, where the
// processor has it: the caller asks). Each step loads a block of bytes, compares every
// byte with each of the five that mean something and with '=', and turns the comparisons
// into bit masks, one bit a byte, byte 0 in bit 0.
#include <immintrin.h>

#include "ini/format.h"
#include "ini/line_scan.h"

namespace quorva::ini_detail {

using ini_format::kCarriageReturn;
using ini_format::kComment;
using ini_format::kEscape;
using ini_format::kLineFeed;
using ini_format::kNul;
using ini_format::kSeparator;

__attribute__((target("sse2"))) void ClassifySse2(const char* p, std::size_t words,
                                                  std::uint64_t* special, std::uint64_t* equals) {
  const __m128i lf = _mm_set1_epi8(kLineFeed), cr = _mm_set1_epi8(kCarriageReturn),
                semicolon = _mm_set1_epi8(kComment), backslash = _mm_set1_epi8(kEscape),
                nul = _mm_set1_epi8(kNul), eq = _mm_set1_epi8(kSeparator);
  for (std::size_t w = 0; w < words; ++w, p += 64) {
    std::uint64_t s = 0, e = 0;
    for (unsigned i = 0; i < 64; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      // 0xFF for each byte that is LF, CR, ';', '\' or NUL, 0 for every other.
      const __m128i any = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr)),
          _mm_or_si128(
              _mm_or_si128(_mm_cmpeq_epi8(bytes, semicolon), _mm_cmpeq_epi8(bytes, backslash)),
              _mm_cmpeq_epi8(bytes, nul)));
      // The high bit of each byte, as 16 bits, in its place among the 64.
      s |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(any))) << i;
      e |= static_cast<std::uint64_t>(
               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, eq))))
           << i;
    }
    special[w] = s;
    equals[w] = e;
  }
}

__attribute__((target("avx2"))) void ClassifyAvx2(const char* p, std::size_t words,
                                                  std::uint64_t* special, std::uint64_t* equals) {
  const __m256i lf = _mm256_set1_epi8(kLineFeed), cr = _mm256_set1_epi8(kCarriageReturn),
                semicolon = _mm256_set1_epi8(kComment), backslash = _mm256_set1_epi8(kEscape),
                nul = _mm256_set1_epi8(kNul), eq = _mm256_set1_epi8(kSeparator);
  for (std::size_t w = 0; w < words; ++w, p += 64) {
    std::uint64_t s = 0, e = 0;
    for (unsigned i = 0; i < 64; i += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
      const __m256i any = _mm256_or_si256(
          _mm256_or_si256(_mm256_cmpeq_epi8(bytes, lf), _mm256_cmpeq_epi8(bytes, cr)),
          _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(bytes, semicolon),
                                          _mm256_cmpeq_epi8(bytes, backslash)),
                          _mm256_cmpeq_epi8(bytes, nul)));
      s |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(any))) << i;
      e |= static_cast<std::uint64_t>(
               static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, eq))))
           << i;
    }
    special[w] = s;
    equals[w] = e;
  }
}

// Whole words passed while no byte is at most CR (which takes in NUL and LF, and tabs with
// them), ';' or '\' (or '='): a minimum, three comparisons and the bits of 64 bytes tested
// at once.
__attribute__((target("sse2"))) std::size_t PassPlainSse2(const char* p, std::size_t words,
                                                          bool with_equals) {
  const __m128i cr = _mm_set1_epi8(kCarriageReturn), semicolon = _mm_set1_epi8(kComment),
                backslash = _mm_set1_epi8(kEscape),
                eq = _mm_set1_epi8(with_equals ? kSeparator : kComment);
  for (std::size_t w = 0; w < words; ++w, p += 64) {
    __m128i any = _mm_set1_epi8(kNul);
    for (unsigned i = 0; i < 64; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(bytes, cr), bytes);  // bytes <= CR
      any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(low, _mm_cmpeq_epi8(bytes, semicolon)),
                                           _mm_or_si128(_mm_cmpeq_epi8(bytes, backslash),
                                                        _mm_cmpeq_epi8(bytes, eq))));
    }
    if (_mm_movemask_epi8(any) != 0) return w;
  }
  return words;
}

__attribute__((target("avx2"))) std::size_t PassPlainAvx2(const char* p, std::size_t words,
                                                          bool with_equals) {
  const __m256i cr = _mm256_set1_epi8(kCarriageReturn), semicolon = _mm256_set1_epi8(kComment),
                backslash = _mm256_set1_epi8(kEscape),
                eq = _mm256_set1_epi8(with_equals ? kSeparator : kComment);
  for (std::size_t w = 0; w < words; ++w, p += 64) {
    __m256i any = _mm256_set1_epi8(kNul);
    for (unsigned i = 0; i < 64; i += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
      const __m256i low = _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, cr), bytes);
      any = _mm256_or_si256(
          any, _mm256_or_si256(_mm256_or_si256(low, _mm256_cmpeq_epi8(bytes, semicolon)),
                               _mm256_or_si256(_mm256_cmpeq_epi8(bytes, backslash),
                                               _mm256_cmpeq_epi8(bytes, eq))));
    }
    if (!_mm256_testz_si256(any, any)) return w;
  }
  return words;
}

namespace {

// Five comparisons a block (a value's set repeats ';' where a key's has '=' and CR), and
// the bits past the text masked off.
template <bool kKey>
__attribute__((target("sse2"))) bool NeedsCareSse2(const char* p, std::size_t length) {
  const __m128i semicolon = _mm_set1_epi8(kComment), backslash = _mm_set1_epi8(kEscape),
                lf = _mm_set1_epi8(kLineFeed), fourth = _mm_set1_epi8(kKey ? kSeparator : kComment),
                fifth = _mm_set1_epi8(kKey ? kCarriageReturn : kComment);
  for (std::size_t i = 0; i < length; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i any = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, semicolon), _mm_cmpeq_epi8(bytes, backslash)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, fourth)),
                     _mm_cmpeq_epi8(bytes, fifth)));
    unsigned found = static_cast<unsigned>(_mm_movemask_epi8(any));
    if (length - i < 16) found &= (1u << (length - i)) - 1;
    if (found != 0) return true;
  }
  return false;
}

template <bool kKey>
__attribute__((target("avx2"))) bool NeedsCareAvx2(const char* p, std::size_t length) {
  const __m256i semicolon = _mm256_set1_epi8(kComment), backslash = _mm256_set1_epi8(kEscape),
                lf = _mm256_set1_epi8(kLineFeed),
                fourth = _mm256_set1_epi8(kKey ? kSeparator : kComment),
                fifth = _mm256_set1_epi8(kKey ? kCarriageReturn : kComment);
  for (std::size_t i = 0; i < length; i += 32) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i any = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, semicolon), _mm256_cmpeq_epi8(bytes, backslash)),
        _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(bytes, lf), _mm256_cmpeq_epi8(bytes, fourth)),
            _mm256_cmpeq_epi8(bytes, fifth)));
    std::uint64_t found = static_cast<unsigned>(_mm256_movemask_epi8(any));
    if (length - i < 32) found &= (std::uint64_t{1} << (length - i)) - 1;
    if (found != 0) return true;
  }
  return false;
}

}  // namespace

__attribute__((target("sse2"))) bool KeyNeedsCareSse2(const char* p, std::size_t length) {
  return NeedsCareSse2<true>(p, length);
}
__attribute__((target("sse2"))) bool ValueNeedsCareSse2(const char* p, std::size_t length) {
  return NeedsCareSse2<false>(p, length);
}
__attribute__((target("avx2"))) bool KeyNeedsCareAvx2(const char* p, std::size_t length) {
  return NeedsCareAvx2<true>(p, length);
}
__attribute__((target("avx2"))) bool ValueNeedsCareAvx2(const char* p, std::size_t length) {
  return NeedsCareAvx2<false>(p, length);
}

}  // namespace quorva::ini_detail
