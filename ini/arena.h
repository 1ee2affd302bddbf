// The memory a loaded document keeps its text and records in: a few large blocks, carved
// in order and released together with the document.
#ifndef INI_ARENA_H_
#define INI_ARENA_H_

#include <cstddef>
#include <cstdint>

namespace quorva::ini_detail {

// A bump allocator over a list of blocks. Nothing carved from it is released on its own:
// everything returns when the arena is released, which is what lets a load cost a few
// allocations instead of one per line and record. The release paths of the document ask
// Owns() to tell its pieces from heap blocks of their own.
class Arena {
 public:
  // `first_block`: the size of the first block of records, chosen from the size of the
  // file, so that a small file costs a small block.
  explicit Arena(std::size_t first_block) : next_size_(first_block) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `size` bytes aligned for pointers, carved from the current block or from a new one
  // twice as large as the last; null when memory runs out.
  void* Allocate(std::size_t size);
  // A block of its own of at least `size` usable bytes, for the reader's text, which it
  // fills itself; `*usable` receives the usable size. Null when memory runs out.
  char* AllocateBlock(std::size_t size, std::size_t* usable);
  // True when `piece` lies in one of the arena's blocks: a binary search over them, so
  // O(log blocks) however many pieces are asked about.
  bool Owns(const void* piece) const;
  // Returns every block; the arena is empty afterwards.
  void Release();

 private:
  struct Block {
    Block* next;
    std::size_t size;  // the whole block, this header included
  };
  // Where a block lies, for Owns(); kept sorted by `start`.
  struct Range {
    std::uintptr_t start;
    std::size_t size;
  };
  static constexpr std::size_t kInlineRanges = 8;  // enough for the blocks of most files

  Block* NewBlock(std::size_t size);
  bool AddRange(const Block* block);

  Block* blocks_ = nullptr;
  char* next_ = nullptr;  // the free part of the current block of records
  char* end_ = nullptr;
  std::size_t next_size_;
  Range inline_ranges_[kInlineRanges] = {};
  Range* ranges_ = inline_ranges_;
  std::size_t range_count_ = 0;
  std::size_t range_room_ = kInlineRanges;
};

}  // namespace quorva::ini_detail

#endif  // INI_ARENA_H_
