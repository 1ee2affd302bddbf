// Finding the first of a few special bytes in text, eight bytes at a time: the reader looks
// for the bytes that end a run of ordinary text, the writer for the bytes it escapes.
#ifndef INI_BYTE_SCAN_H_
#define INI_BYTE_SCAN_H_

#include <cstdint>
#include <cstring>

namespace quorva::ini_detail {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;

// Flags the bytes of `word` equal to `byte`: the high bit of each such byte. The first of
// them is flagged exactly; a flag may spill into higher bytes behind a true one, never
// before it.
inline std::uint64_t Flag(std::uint64_t word, unsigned char byte) {
  const std::uint64_t x = word ^ (kOnes * byte);
  return (x - kOnes) & ~x & (kOnes << 7);
}

inline bool LittleEndian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

// The first byte in [p, end) that `is_special` picks, or `end`. `flags` gives the Flag()s
// of the special bytes in an eight-byte word; it only saves time, so `is_special` decides.
template <typename Flags, typename IsSpecial>
const char* FindSpecial(const char* p, const char* end, Flags flags, IsSpecial is_special) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t found = flags(word);
    if (found != 0) {
      if (!LittleEndian()) break;  // the byte loop below finds which
      // Byte k of memory is byte k of the word: count the whole bytes below the first flag.
      const std::uint64_t below = ((found & (~found + 1)) - 1) >> 7;
      return p + (((below & kOnes) * kOnes) >> 56);
    }
    p += 8;
  }
  while (p < end && !is_special(static_cast<unsigned char>(*p))) ++p;
  return p;
}

}  // namespace quorva::ini_detail

#endif  // INI_BYTE_SCAN_H_
