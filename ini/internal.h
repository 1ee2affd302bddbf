// What the library's own files share: the allocator, growable pointer arrays, and the
// loader and writer over a replaceable file system.
#ifndef INI_INTERNAL_H_
#define INI_INTERNAL_H_

#include <cstddef>
#include <cstdint>

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
// appended, but the memory behind them doubles, so appending n items costs O(n) in all.
// Returns the number of slots actually allocated for a given capacity.
std::int32_t SlotsFor(std::int32_t capacity);

// Appends `item` at `*count`, growing `*capacity` by 10 when the array is full. Returns
// false, changing nothing, when the array cannot grow.
template <typename T>
bool Append(T*** items, std::int32_t* count, std::int32_t* capacity, T* item) {
  if (*count == *capacity) {
    std::int32_t grown = *capacity + 10;
    if (SlotsFor(grown) != SlotsFor(*capacity)) {
      void* block = Reallocate(*items, sizeof(T*) * static_cast<std::size_t>(SlotsFor(grown)));
      if (block == nullptr) return false;
      *items = static_cast<T**>(block);
    }
    *capacity = grown;
  }
  (*items)[(*count)++] = item;
  return true;
}

// A new array with room for the initial capacity of 10, or null.
template <typename T>
T** NewArray() {
  return static_cast<T**>(Allocate(sizeof(T*) * static_cast<std::size_t>(SlotsFor(10))));
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
