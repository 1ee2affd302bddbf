// The library's one allocator: every block, record and array comes from here.
#ifndef INI_ALLOCATOR_H_
#define INI_ALLOCATOR_H_

#include <cstddef>

namespace quorva::ini_detail {

// Every block, record and array of the library comes from here, so that the document can
// release what the reader allocated, and tests can make any allocation fail.
struct Allocator {
  void* (*allocate)(std::size_t size);
  void* (*reallocate)(void* block, std::size_t size);
  void (*release)(void* block);
  // Large blocks for the arenas of loaded documents (platform::AllocateLarge).
  void* (*allocate_large)(std::size_t size);
  void (*release_large)(void* block, std::size_t size);
};

// The installed allocator; read through the functions below, set only by the test hook.
extern Allocator g_allocator;

// Inline, so that an allocation costs one call (the allocator's), not two.
inline void* Allocate(std::size_t size) { return g_allocator.allocate(size); }
inline void* Reallocate(void* block, std::size_t size) {
  return g_allocator.reallocate(block, size);
}
inline void Release(void* block) { g_allocator.release(block); }
inline void* AllocateLarge(std::size_t size) { return g_allocator.allocate_large(size); }
inline void ReleaseLarge(void* block, std::size_t size) { g_allocator.release_large(block, size); }

// The same for the operations that have no failure result: on failure they report and
// abort rather than go on with a half-made change.
[[noreturn]] void OutOfMemory();
void* AllocateOrDie(std::size_t size);

// Test hook: installs `allocator` and returns the one it replaces.
Allocator SetAllocatorForTesting(Allocator allocator);

}  // namespace quorva::ini_detail

namespace ini_detail = quorva::ini_detail;

#endif  // INI_ALLOCATOR_H_
