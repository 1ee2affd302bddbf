// The library's one allocator: every block, record and array comes from here.
#ifndef INI_ALLOCATOR_H_
#define INI_ALLOCATOR_H_

#include <cstddef>

#include "ini/project_internal.h"  // Allocator, SetAllocatorForTesting

namespace quorva::ini_detail {

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

}  // namespace quorva::ini_detail

namespace ini_detail = quorva::ini_detail;

#endif  // INI_ALLOCATOR_H_
