// What the library's own files share: the allocator, growable pointer arrays, and the
// loader and writer over a replaceable file system.
#ifndef INI_INTERNAL_H_
#define INI_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ini/ini.h"
#include "platform/platform.h"

namespace ini_detail {

// Every block, record and array of the library comes from here, so that the document can
// release what the reader allocated, and tests can make any allocation fail.
struct Allocator {
  void* (*allocate)(std::size_t size);
  void* (*reallocate)(void* block, std::size_t size);
  void (*release)(void* block);
};

void* Allocate(std::size_t size);
void* Reallocate(void* block, std::size_t size);
void Release(void* block);

// The same for the operations that have no failure result: on failure they report and
// abort rather than go on with a half-made change.
[[noreturn]] void OutOfMemory();
void* AllocateOrDie(std::size_t size);

// Test hook: installs `allocator` and returns the one it replaces.
Allocator SetAllocatorForTesting(Allocator allocator);

// The arrays of sections and entries show a `capacity` of 10, 20, 30, ... as items are
// appended, but the memory behind them is sized apart from it: it starts with room for 2
// and doubles whenever `count` reaches a power of two, so a file of a million small
// sections does not pay for ten slots each, and appending n items costs O(n) in all. The
// room is a function of the count alone, so it needs no field of its own; after removals
// it may be larger than the count asks for, which only means a later doubling is early.
constexpr std::size_t kInitialSlots = 2;

// Appends `item` at `*count`, growing `*capacity` by 10 when it is reached. `inline_items`
// is the array's first room when that lies inside another block (a section's record): it
// is never reallocated or released, but left behind when the array outgrows it. Returns
// false, changing nothing, when the array cannot grow.
template <typename T>
bool Append(T*** items, std::int32_t* count, std::int32_t* capacity, T* item,
            T** inline_items = nullptr) {
  const std::int32_t n = *count;
  if (n >= static_cast<std::int32_t>(kInitialSlots) && (n & (n - 1)) == 0) {
    const std::size_t size = sizeof(T*) * 2 * static_cast<std::size_t>(n);
    void* block;
    if (*items == inline_items) {
      block = Allocate(size);
      if (block != nullptr) std::memcpy(block, *items, sizeof(T*) * static_cast<std::size_t>(n));
    } else {
      block = Reallocate(*items, size);
    }
    if (block == nullptr) return false;
    *items = static_cast<T**>(block);
  }
  if (n == *capacity) *capacity += 10;
  (*items)[n] = item;
  *count = n + 1;
  return true;
}

// A section's entries array starts inside the section's own block, right behind the
// record, so a new section costs one allocation instead of two.
inline IniEntry** InlineEntries(IniSection* section) {
  return reinterpret_cast<IniEntry**>(section + 1);
}

inline bool AppendEntry(IniSection* section, IniEntry* entry) {
  return Append(&section->entries, &section->count, &section->capacity, entry,
                InlineEntries(section));
}

inline bool AppendSection(IniDocument* document, IniSection* section) {
  return Append(&document->sections, &document->count, &document->capacity, section);
}

// Records made without going through the public operations, for the loader: null when
// memory runs out. A new section takes over `name`, a heap block, only on success.
IniDocument* NewDocument();
IniSection* NewSectionNamed(char* name);
void FreeEntry(IniEntry* entry);

// ini_load_file and ini_store_file over any file system.
IniDocument* LoadFile(platform::FileSystem& file_system, const char* path);
int StoreFile(platform::FileSystem& file_system, const IniDocument* document,
              const char* path);

}  // namespace ini_detail

#endif  // INI_INTERNAL_H_
