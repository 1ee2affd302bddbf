// The arena of a loaded document.
#include "ini/arena.h"

#include <cstdint>

#include "ini/internal.h"

namespace ini_detail {
namespace {

constexpr std::size_t kAlign = alignof(void*);
// Doubling stops here: a block this large is already few among many.
constexpr std::size_t kLargestStep = std::size_t{256} << 20;

std::size_t AlignUp(std::size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

}  // namespace

Arena::Block* Arena::NewBlock(std::size_t size) {
  // Large blocks come straight from the system (huge pages where it has them); small ones
  // from the heap, so that a small file does not cost a large block.
  if (size >= platform::kLargeBlock) size = platform::LargeBlockSize(size);
  void* memory = size >= platform::kLargeBlock ? ini_detail::AllocateLarge(size)
                                                : ini_detail::Allocate(size);
  if (memory == nullptr) return nullptr;
  auto* block = static_cast<Block*>(memory);
  block->next = blocks_;
  block->size = size;
  blocks_ = block;
  return block;
}

void* Arena::Allocate(std::size_t size) {
  size = AlignUp(size);
  if (static_cast<std::size_t>(end_ - next_) < size) {
    const std::size_t wanted = AlignUp(sizeof(Block)) + size;
    Block* block = NewBlock(next_size_ > wanted ? next_size_ : wanted);
    if (block == nullptr) return nullptr;
    if (next_size_ < kLargestStep) next_size_ *= 2;
    next_ = reinterpret_cast<char*>(block) + AlignUp(sizeof(Block));
    end_ = reinterpret_cast<char*>(block) + block->size;
  }
  void* piece = next_;
  next_ += size;
  return piece;
}

char* Arena::AllocateBlock(std::size_t size, std::size_t* usable) {
  const std::size_t header = AlignUp(sizeof(Block));
  Block* block = NewBlock(header + size);
  if (block == nullptr) return nullptr;
  *usable = block->size - header;
  return reinterpret_cast<char*>(block) + header;
}

bool Arena::Owns(const void* piece) const {
  const auto p = reinterpret_cast<std::uintptr_t>(piece);
  for (const Block* block = blocks_; block != nullptr; block = block->next) {
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    if (p >= start && p - start < block->size) return true;
  }
  return false;
}

void Arena::Release() {
  while (blocks_ != nullptr) {
    Block* block = blocks_;
    blocks_ = block->next;
    if (block->size >= platform::kLargeBlock) {
      ini_detail::ReleaseLarge(block, block->size);
    } else {
      ini_detail::Release(block);
    }
  }
  next_ = end_ = nullptr;
}

}  // namespace ini_detail
