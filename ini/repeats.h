// Finding the repeated keys of a section, for copying it: a hash seeded afresh in each
// process, and a search that costs O(n) expected and O(n log n) at worst on any keys.
#ifndef INI_REPEATS_H_
#define INI_REPEATS_H_

#include <cstddef>
#include <cstdint>

#include "ini/ini.h"

namespace quorva::ini_detail {

// Scratch memory for one call, `count` items of `each` bytes: from the system for large
// sizes (huge pages where it has them), from the heap otherwise. Aborts when there is none,
// as the operations do.
class Scratch {
 public:
  Scratch(std::size_t count, std::size_t each);
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  template <typename T>
  T* As() const {
    return static_cast<T*>(block_);
  }

 private:
  void* block_;
  std::size_t size_;
  bool large_;
};

// The seed of the hash: chosen afresh in each process, from the clock and where the program
// was loaded, so that a file cannot be made of keys that collide.
std::uint64_t HashSeed();
// A hash of `length` bytes under the seed; HashFolded of the same with ASCII letters taken
// as lower case, so that keys equal but for case hash alike.
std::uint64_t Hash(const char* bytes, std::size_t length);
std::uint64_t HashFolded(const char* bytes, std::size_t length);

// Sets `repeat[i]` when an earlier one of the `n` entries has entry i's key (with `fold`,
// without regard to ASCII case), from the keys' `hashes`.
void FindRepeats(IniEntry* const* entries, const std::uint64_t* hashes, std::size_t n, bool* repeat,
                 bool fold = false);

// True when `a` and `b` are equal but for the case of ASCII letters.
inline bool EqualIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
    const char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

}  // namespace quorva::ini_detail

#endif  // INI_REPEATS_H_
