// The mixing steps of the library's 64-bit hashes, the fingerprint of a file's bytes
// (records.h) and the hash of a key (repeats.cc): a word taken in, and the last step, which
// makes the top bits as good as the low ones.
#ifndef INI_MIX_H_
#define INI_MIX_H_

#include <cstdint>

namespace quorva::ini_detail {

// Where a hash starts, and the factor that spreads a length over its bits.
inline constexpr std::uint64_t kMixStart = 0x9E3779B97F4A7C15ull;

inline std::uint64_t MixIn(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * 0xBF58476D1CE4E5B9ull;
  return hash ^ (hash >> 29);
}

inline std::uint64_t MixLast(std::uint64_t hash, std::uint64_t last) {
  hash = (hash ^ last) * 0x94D049BB133111EBull;
  return hash ^ (hash >> 31);
}

}  // namespace quorva::ini_detail

#endif  // INI_MIX_H_
