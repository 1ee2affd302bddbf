// The library's one allocator, replaceable by tests.
#include <cstdio>
#include <cstdlib>

#include "ini/internal.h"

namespace quorva::ini_detail {
namespace {

Allocator g_allocator = {std::malloc, std::realloc, std::free, platform::AllocateLarge,
                         platform::ReleaseLarge};

}  // namespace

void OutOfMemory() {
  std::fputs("ini: out of memory\n", stderr);
  std::abort();
}

void* Allocate(std::size_t size) { return g_allocator.allocate(size); }
void* Reallocate(void* block, std::size_t size) { return g_allocator.reallocate(block, size); }
void Release(void* block) { g_allocator.release(block); }
void* AllocateLarge(std::size_t size) { return g_allocator.allocate_large(size); }
void ReleaseLarge(void* block, std::size_t size) { g_allocator.release_large(block, size); }

void* AllocateOrDie(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) OutOfMemory();
  return block;
}

Allocator SetAllocatorForTesting(Allocator allocator) {
  Allocator previous = g_allocator;
  g_allocator = allocator;
  return previous;
}

}  // namespace quorva::ini_detail
