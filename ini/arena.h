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
  // twice as large as the last; null when memory runs out. Inline: the loader carves two
  // pieces a line.
  void* Allocate(std::size_t size) {
    const std::size_t rounded = (size + kAlign - 1) & ~(kAlign - 1);
    // A size so large that rounding wrapped goes the slow way too, which refuses it.
    if (rounded > static_cast<std::size_t>(end_ - next_) || rounded < size) {
      return AllocateInNewBlock(size);
    }
    void* piece = next_;
    next_ += rounded;
    return piece;
  }
  // A block of its own of at least `size` usable bytes, for the reader's text, which it
  // fills itself; `*usable` receives the usable size. Null when memory runs out.
  char* AllocateBlock(std::size_t size, std::size_t* usable);
  // True when `piece` lies in one of the arena's blocks: a binary search over them, so
  // O(log blocks) however many pieces are asked about.
  bool Owns(const void* piece) const;
  // Returns every block; the arena is empty afterwards.
  void Release();

  // Whether a section of the document holds pieces of the heap (a record, a text, an
  // array) or is a heap section: only then must its release look at each section.
  void NoteHeapPieces() const { heap_pieces_ = true; }
  bool HasHeapPieces() const { return heap_pieces_; }

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

  static constexpr std::size_t kAlign = alignof(void*);

  void* AllocateInNewBlock(std::size_t size);
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
  mutable bool heap_pieces_ = false;
};

}  // namespace quorva::ini_detail

#endif  // INI_ARENA_H_
