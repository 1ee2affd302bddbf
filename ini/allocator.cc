// The library's one allocator, replaceable by tests.
#include "ini/allocator.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace quorva::ini_detail {

Allocator g_allocator = {std::malloc, std::realloc, std::free, platform::AllocateLarge,
                         platform::ReleaseLarge};

void OutOfMemory() {
  std::fputs("ini: out of memory\n", stderr);
  std::abort();
}

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
