// Finding the repeated keys of a section: the seeded hash, and the search by buckets.
#include "ini/repeats.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "ini/allocator.h"
#include "ini/mix.h"
#include "ini/project_internal.h"
#include "platform/platform.h"

namespace quorva::ini_detail {

Scratch::Scratch(std::size_t count, std::size_t each) {
  if (count > SIZE_MAX / each) OutOfMemory();
  size_ = count * each;
  large_ = size_ >= platform::kLargeBlock;
  block_ = large_ ? AllocateLarge(size_) : Allocate(size_);
  if (block_ == nullptr) OutOfMemory();
}

Scratch::~Scratch() {
  if (large_) {
    ReleaseLarge(block_, size_);
  } else {
    Release(block_);
  }
}

namespace {

std::uint64_t& Seed() {
  static std::uint64_t seed = [] {
    int local = 0;
    std::uint64_t mixed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    mixed ^= reinterpret_cast<std::uintptr_t>(&local) * 0x9E3779B97F4A7C15ull;
    mixed ^= reinterpret_cast<std::uintptr_t>(&Seed) * 0xC2B2AE3D27D4EB4Full;
    mixed = (mixed ^ (mixed >> 33)) * 0xFF51AFD7ED558CCDull;
    return mixed ^ (mixed >> 33);
  }();
  return seed;
}

}  // namespace

std::uint64_t HashSeed() { return Seed(); }

std::uint64_t SetHashSeedForTesting(std::uint64_t seed) {
  const std::uint64_t previous = Seed();
  Seed() = seed;
  return previous;
}

std::uint64_t KeyHashForTesting(const char* bytes, std::size_t length) {
  return Hash(bytes, length);
}

// A hash of `length` bytes, eight at a time, mixed so that its top bits are as good as its
// low ones. It starts from a seed that differs from process to process, so that a file
// cannot be made of keys whose hashes it knows.
std::uint64_t Hash(const char* bytes, std::size_t length) {
  std::uint64_t hash = (length * kMixStart) ^ HashSeed();
  for (; length >= 8; bytes += 8, length -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    hash = MixIn(hash, word);
  }
  // The last 1 to 7 bytes, read as two loads that overlap (or three bytes) rather than
  // byte by byte into a word, which the processor could not forward to the word's load.
  std::uint64_t last = 0;
  if (length >= 4) {
    std::uint32_t low, high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + length - 4, 4);
    last = low | (std::uint64_t{high} << 32);
  } else if (length > 0) {
    last = static_cast<unsigned char>(bytes[0]) |
           static_cast<unsigned char>(bytes[length / 2]) << 8 |
           static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[length - 1])) << 16;
  }
  return MixLast(hash, last);
}

std::uint64_t HashFolded(const char* bytes, std::size_t length) {
  // Folded a block at a time into a buffer on the stack; a long key is hashed in one piece.
  char small[256];
  if (length <= sizeof small) {
    for (std::size_t i = 0; i < length; ++i) {
      const char c = bytes[i];
      small[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    return Hash(small, length);
  }
  auto* folded = static_cast<char*>(AllocateOrDie(length));
  for (std::size_t i = 0; i < length; ++i) {
    const char c = bytes[i];
    folded[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  }
  const std::uint64_t hash = Hash(folded, length);
  Release(folded);
  return hash;
}

namespace {

// Keys compared as the search was asked to: exactly, or without regard to ASCII case.
int Compare(const char* a, const char* b, bool fold) {
  if (!fold) return std::strcmp(a, b);
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(*a >= 'A' && *a <= 'Z' ? *a + 32 : *a);
    const auto y = static_cast<unsigned char>(*b >= 'A' && *b <= 'Z' ? *b + 32 : *b);
    if (x != y || x == 0) return x - y;
  }
}

// An entry in the repeat search: its position, and the low half of its key's hash, which
// tells most keys apart without fetching them.
struct Keyed {
  std::uint32_t check;
  std::int32_t entry;
};

// Finds the repeats among `keyed[begin, end)` by sorting them by key, then by position:
// O(m log m) comparisons whatever the hashes, for a bucket whose keys the hash could not
// spread out.
void FindRepeatsBySorting(IniEntry* const* entries, Keyed* begin, Keyed* end, bool* repeat,
                          bool fold) {
  auto key_of = [entries](const Keyed& k) { return entries[k.entry]->key; };
  std::sort(begin, end, [&](const Keyed& a, const Keyed& b) {
    const int order = Compare(key_of(a), key_of(b), fold);
    return order < 0 || (order == 0 && a.entry < b.entry);
  });
  for (Keyed* k = begin; k != end; ++k) {
    repeat[k->entry] = k != begin && Compare(key_of(k[-1]), key_of(*k), fold) == 0;
  }
}

}  // namespace

// Sets `repeat[i]` when an earlier one of the `n` entries has entry i's key, in O(n)
// expected, from the keys' hashes: the entries are first sorted by the top bits of their
// hash into buckets small enough for the processor's cache, and a small hash table finds
// the repeats in each bucket. One table over all the keys would be faster to write but, for
// a large section, pays a cache miss for nearly every key. A bucket whose table needs far
// more probes than its keys (keys that collide, which the seed makes a matter of chance) is
// done again by sorting, so no input costs more than O(n log n).
void FindRepeats(IniEntry* const* entries, const std::uint64_t* hashes, std::size_t n, bool* repeat,
                 bool fold) {
  int bits = 0;  // buckets of about 2,048 entries, told apart by the hash's top bits
  while ((std::size_t{2048} << bits) < n) ++bits;
  const std::size_t buckets = std::size_t{1} << bits;
  auto bucket_of = [bits](std::uint64_t hash) {
    return bits == 0 ? std::size_t{0} : static_cast<std::size_t>(hash >> (64 - bits));
  };

  Scratch keyed_scratch(n, sizeof(Keyed)), starts_scratch(buckets + 1, sizeof(std::size_t));
  auto* keyed = keyed_scratch.As<Keyed>();
  auto* starts = starts_scratch.As<std::size_t>();
  for (std::size_t b = 0; b <= buckets; ++b) starts[b] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    repeat[i] = false;
    ++starts[bucket_of(hashes[i]) + 1];
  }
  for (std::size_t b = 0; b < buckets; ++b) starts[b + 1] += starts[b];
  // Within a bucket the entries keep their order, so the first of a key comes first.
  for (std::size_t i = 0; i < n; ++i) {
    keyed[starts[bucket_of(hashes[i])]++] = {static_cast<std::uint32_t>(hashes[i]),
                                             static_cast<std::int32_t>(i)};
  }

  std::size_t largest = 0;
  for (std::size_t b = 0, begin = 0; b < buckets; begin = starts[b++]) {
    largest = starts[b] - begin > largest ? starts[b] - begin : largest;
  }
  std::size_t slots = 16;
  while (slots < 2 * largest) slots *= 2;
  Scratch table_scratch(slots, sizeof(std::int32_t));
  // Positions in `keyed`. A slot holding a position before the bucket's first is empty:
  // it belongs to an earlier bucket, so the table is cleared once, not for each bucket.
  auto* table = table_scratch.As<std::int32_t>();
  for (std::size_t i = 0; i < slots; ++i) table[i] = -1;
  for (std::size_t b = 0, begin = 0; b < buckets; begin = starts[b++]) {
    std::size_t probes_left = 8 * (starts[b] - begin) + 64;
    for (std::size_t k = begin; k < starts[b] && probes_left > 0; ++k) {
      const std::uint32_t hash = keyed[k].check;
      // The key itself is fetched only when the hashes agree: it lies anywhere in memory.
      auto key_of = [entries, keyed](std::size_t at) { return entries[keyed[at].entry]->key; };
      for (std::size_t t = hash & (slots - 1); probes_left > 0; t = (t + 1) & (slots - 1)) {
        --probes_left;
        const std::int32_t other = table[t];
        if (other < static_cast<std::int32_t>(begin)) {
          table[t] = static_cast<std::int32_t>(k);
          break;
        }
        if (keyed[other].check == hash &&
            Compare(key_of(static_cast<std::size_t>(other)), key_of(k), fold) == 0) {
          repeat[keyed[k].entry] = true;
          break;
        }
      }
    }
    if (probes_left == 0) {
      FindRepeatsBySorting(entries, keyed + begin, keyed + starts[b], repeat, fold);
    }
  }
}

}  // namespace quorva::ini_detail
