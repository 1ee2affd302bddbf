// The arena of a loaded document.
#include "ini/arena.h"

#include <cstring>

#include "ini/allocator.h"
#include "platform/platform.h"

namespace quorva::ini_detail {
namespace {

// Doubling stops here: a block this large is already few among many.
constexpr std::size_t kLargestStep = std::size_t{256} << 20;
// No single request may come near the end of the address space, so that adding a header
// or rounding up can never wrap.
constexpr std::size_t kLargestRequest = SIZE_MAX / 4;

std::size_t AlignUp(std::size_t n) { return (n + alignof(void*) - 1) & ~(alignof(void*) - 1); }

}  // namespace

Arena::Block* Arena::NewBlock(std::size_t size) {
  // Large blocks come straight from the system (huge pages where it has them); small ones
  // from the heap, so that a small file does not cost a large block.
  const bool large = size >= platform::kLargeBlock;
  if (large) size = platform::LargeBlockSize(size);
  void* memory = size == 0 ? nullptr
                 : large   ? ini_detail::AllocateLarge(size)
                           : ini_detail::Allocate(size);
  if (memory == nullptr) return nullptr;
  auto* block = static_cast<Block*>(memory);
  block->size = size;
  if (!AddRange(block)) {
    if (large) {
      ini_detail::ReleaseLarge(block, size);
    } else {
      ini_detail::Release(block);
    }
    return nullptr;
  }
  block->next = blocks_;
  blocks_ = block;
  return block;
}

bool Arena::AddRange(const Block* block) {
  if (range_count_ == range_room_) {
    const std::size_t room = 2 * range_room_;
    auto* grown = static_cast<Range*>(ini_detail::Allocate(sizeof(Range) * room));
    if (grown == nullptr) return false;
    std::memcpy(grown, ranges_, sizeof(Range) * range_count_);
    if (ranges_ != inline_ranges_) ini_detail::Release(ranges_);
    ranges_ = grown;
    range_room_ = room;
  }
  const Range range = {reinterpret_cast<std::uintptr_t>(block), block->size};
  std::size_t at = range_count_;
  for (; at > 0 && ranges_[at - 1].start > range.start; --at) ranges_[at] = ranges_[at - 1];
  ranges_[at] = range;
  ++range_count_;
  return true;
}

void* Arena::AllocateInNewBlock(std::size_t size) {
  if (size > kLargestRequest) return nullptr;
  size = AlignUp(size);
  const std::size_t wanted = AlignUp(sizeof(Block)) + size;
  Block* block = NewBlock(next_size_ > wanted ? next_size_ : wanted);
  if (block == nullptr) return nullptr;
  if (next_size_ < kLargestStep) next_size_ *= 2;
  next_ = reinterpret_cast<char*>(block) + AlignUp(sizeof(Block));
  end_ = reinterpret_cast<char*>(block) + block->size;
  void* piece = next_;
  next_ += size;
  return piece;
}

char* Arena::AllocateBlock(std::size_t size, std::size_t* usable) {
  if (size > kLargestRequest) return nullptr;
  const std::size_t header = AlignUp(sizeof(Block));
  Block* block = NewBlock(header + size);
  if (block == nullptr) return nullptr;
  *usable = block->size - header;
  return reinterpret_cast<char*>(block) + header;
}

bool Arena::Owns(const void* piece) const {
  const auto p = reinterpret_cast<std::uintptr_t>(piece);
  // The last range that starts at or before `piece` is the only one that can hold it.
  std::size_t low = 0, high = range_count_;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (ranges_[middle].start <= p) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low > 0 && p - ranges_[low - 1].start < ranges_[low - 1].size;
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
  if (ranges_ != inline_ranges_) ini_detail::Release(ranges_);
  ranges_ = inline_ranges_;
  range_count_ = 0;
  range_room_ = kInlineRanges;
  next_ = end_ = nullptr;
  heap_pieces_ = false;
}

}  // namespace quorva::ini_detail
