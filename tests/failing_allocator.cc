// The test allocator: counts, fails on demand, and tracks live blocks.
#include "tests/failing_allocator.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace testing_support {
namespace {

long g_fail_at = -1;
long g_allocations = 0;
std::map<void*, std::size_t>* g_live = nullptr;  // block -> size

bool ShouldFail() {
  long index = g_allocations++;
  return g_fail_at >= 0 && index >= g_fail_at;
}

void* Allocate(std::size_t size) {
  if (ShouldFail()) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) (*g_live)[block] = size;
  return block;
}

void* Reallocate(void* block, std::size_t size) {
  if (ShouldFail()) return nullptr;
  void* grown = std::realloc(block, size == 0 ? 1 : size);
  if (grown != nullptr) {
    g_live->erase(block);
    (*g_live)[grown] = size;
  }
  return grown;
}

void Release(void* block) {
  if (block == nullptr) return;
  g_live->erase(block);
  std::free(block);
}

// Large blocks come from the heap here too, so that the sanitizers watch them; zeroed, as
// the system's are.
void* AllocateLarge(std::size_t size) {
  void* block = Allocate(size);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}
void ReleaseLarge(void* block, std::size_t) { Release(block); }

}  // namespace

FailingAllocator::FailingAllocator(long fail_at) {
  g_fail_at = fail_at;
  g_allocations = 0;
  g_live = new std::map<void*, std::size_t>;
  previous_ = ini_detail::SetAllocatorForTesting(
      {Allocate, Reallocate, Release, AllocateLarge, ReleaseLarge});
}

FailingAllocator::~FailingAllocator() {
  ini_detail::SetAllocatorForTesting(previous_);
  delete g_live;
  g_live = nullptr;
}

long FailingAllocator::Allocations() const { return g_allocations; }
std::size_t FailingAllocator::LiveBlocks() const { return g_live->size(); }

std::size_t FailingAllocator::LiveBytes() const {
  std::size_t bytes = 0;
  for (const auto& [block, size] : *g_live) bytes += size;
  return bytes;
}

}  // namespace testing_support
