// The records behind the public structs, and their growable pointer arrays.
#ifndef INI_RECORDS_H_
#define INI_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ini/allocator.h"
#include "ini/arena.h"
#include "ini/ini.h"
#include "ini/mix.h"
#include "platform/platform.h"

namespace quorva::ini_detail {

// `sections` and `entries` are public: a caller may keep the array pointer and use every
// slot below `capacity`, so the memory behind an array always has at least `capacity`
// slots, moves only inside an append that finds `count` equal to `capacity`, and never
// shrinks. `capacity` itself shows 10, 20, 30, ... as items are appended. The room behind
// it grows geometrically (10, 20, 40, 80, ... slots), so appending n items costs O(n) in
// all; it is a function of `capacity` alone and needs no field of its own.
constexpr std::int32_t kCapacityStep = 10;

inline std::size_t RoomFor(std::int32_t capacity) {
  if (capacity <= kCapacityStep) return kCapacityStep;
  // kCapacityStep times the least power of two of steps that holds `capacity`.
  const auto steps = static_cast<std::uint64_t>(capacity - 1) / kCapacityStep;  // at least 1
  return std::size_t{kCapacityStep} << (64 - __builtin_clzll(steps));
}

// Gives the array of `count` items the room of `capacity` slots, when its present room
// (that of `old_capacity`) is smaller. `inline_items` is the array's first room when that
// lies inside another block (a section's record): it is never reallocated or released, but
// left behind when the array outgrows it. False, changing nothing, when there is no room.
template <typename T>
bool GrowRoom(T*** items, std::int32_t count, std::int32_t old_capacity, std::int32_t capacity,
              T** inline_items) {
  const std::size_t room = RoomFor(capacity);
  if (room <= RoomFor(old_capacity)) return true;
  if (room > SIZE_MAX / sizeof(T*)) return false;  // a 32-bit address space
  void* block;
  if (*items == inline_items) {
    block = Allocate(sizeof(T*) * room);
    if (block != nullptr) std::memcpy(block, *items, sizeof(T*) * static_cast<std::size_t>(count));
  } else {
    block = Reallocate(*items, sizeof(T*) * room);
  }
  if (block == nullptr) return false;
  *items = static_cast<T**>(block);
  return true;
}

// A full array: `capacity` 10 larger, with new room when its present room is smaller.
template <typename T>
[[gnu::noinline]] bool GrowFull(T*** items, std::int32_t* capacity, T** inline_items) {
  const std::int32_t n = *capacity;
  if (n > INT32_MAX - kCapacityStep || !GrowRoom(items, n, n, n + kCapacityStep, inline_items)) {
    return false;
  }
  *capacity = n + kCapacityStep;
  return true;
}

// Appends `item` at `*count`. An array found full gets `capacity` 10 larger, and new room
// when its present room is smaller than that. Returns false, changing nothing, when the
// array cannot grow.
template <typename T>
inline bool Append(T*** items, std::int32_t* count, std::int32_t* capacity, T* item,
                   T** inline_items = nullptr) {
  const std::int32_t n = *count;
  if (n == *capacity && !GrowFull(items, capacity, inline_items)) return false;
  (*items)[n] = item;
  *count = n + 1;
  return true;
}

// Gives an array of `count` items, about to receive `more` by Append, the `capacity` and the
// room those appends would give it, at once. False, changing nothing, when it cannot grow.
template <typename T>
bool PrepareAppends(T*** items, std::int32_t count, std::int32_t* capacity, std::int32_t more,
                    T** inline_items = nullptr) {
  if (more > INT32_MAX - kCapacityStep - count) return false;
  const std::int32_t total = count + more;
  const std::int32_t wanted =
      total <= *capacity ? *capacity : (total + kCapacityStep - 1) / kCapacityStep * kCapacityStep;
  if (!GrowRoom(items, count, *capacity, wanted, inline_items)) return false;
  *capacity = wanted;
  return true;
}

// Behind a section's record, in the same block: its first 10 entry slots, so a new section
// costs one allocation instead of two, and where its pieces live. A section of a loaded
// document is carved from the document's arena together with its name and the records and
// text of the entries it was loaded with; later operations give it heap blocks of their own
// (`has_heap_pieces`), and its release paths ask the arena which pieces are whose.
struct SectionBlock {
  IniSection section;
  // Before the slots, so that releasing a document reads one cache line of each section.
  const Arena* arena;    // the arena the section was carved from, or null for a heap section
  bool has_heap_pieces;  // it holds pieces of the heap beside carved ones
  // Removals keep the order of the entries that remain, instead of moving the last entry
  // into the gap: set for a section of a document that keeps its file's text, so that the
  // document's order stays the order in which a store of its edits writes them.
  bool keeps_order;
  // Lookups, replacements and removals by key compare keys without regard to ASCII case:
  // set for a section of a document so switched (ini_set_ignore_case), and for its copies.
  bool ignore_case;
  IniEntry* slots[kCapacityStep];
};

inline SectionBlock* BlockOf(const IniSection* section) {
  return reinterpret_cast<SectionBlock*>(const_cast<IniSection*>(section));
}

inline IniEntry** InlineEntries(IniSection* section) { return BlockOf(section)->slots; }

// Where a header or key line of a document loaded for editing stood in its file: from the
// start of its first physical line to past the line end of its last. Kept in file order,
// for the store that writes changes into the text (editor.cc).
struct KeptLine {
  KeptLine* next;  // the next header or key line of the file
  std::uint64_t start;
  std::uint64_t end;
  bool is_section;
};

// The records a load for editing carves instead of IniEntry and SectionBlock, with where
// their lines were. `loaded_value` is the text the entry was loaded with, which stays in
// the arena when the entry gets a new value. `body_end` is where the section's last entry
// line ended in the file (its header's end when it had none): new entries go there.
struct KeptEntry {
  IniEntry entry;
  KeptLine line;
  const char* loaded_value;
};
struct KeptSection {
  SectionBlock block;
  KeptLine line;
  std::uint64_t body_end;
};

inline KeptEntry* KeptOf(IniEntry* entry) { return reinterpret_cast<KeptEntry*>(entry); }
inline KeptSection* KeptOf(IniSection* section) { return reinterpret_cast<KeptSection*>(section); }

// A fingerprint of bytes given in pieces, the same however they are cut: their number and a
// 64-bit hash of them, eight bytes at a time. It tells whether a file still holds what was
// loaded from it or stored to it.
class Fingerprint {
 public:
  void Add(const char* data, std::size_t size) {
    size_ += size;
    while (size > 0 && pending_bytes_ != 0) {
      TakeByte(static_cast<unsigned char>(*data++));
      --size;
    }
    for (; size >= 8; data += 8, size -= 8) {
      std::uint64_t word;
      std::memcpy(&word, data, sizeof word);
      Mix(word);
    }
    for (; size > 0; --size) TakeByte(static_cast<unsigned char>(*data++));
  }
  bool operator==(const Fingerprint& other) const {
    return size_ == other.size_ && Value() == other.Value();
  }

 private:
  void Mix(std::uint64_t word) { hash_ = MixIn(hash_, word); }
  void TakeByte(unsigned char byte) {
    pending_ |= std::uint64_t{byte} << (8 * pending_bytes_);
    if (++pending_bytes_ == 8) {
      Mix(pending_);
      pending_ = 0;
      pending_bytes_ = 0;
    }
  }
  std::uint64_t Value() const { return MixLast(hash_, pending_ ^ size_); }

  std::uint64_t hash_ = kMixStart;
  std::uint64_t size_ = 0;
  std::uint64_t pending_ = 0;
  unsigned pending_bytes_ = 0;
};

// What a document loaded for editing keeps of its file: every byte and its lines in file
// order. Heap blocks, released with the document.
struct KeptSource {
  char* bytes = nullptr;
  std::uint64_t size = 0;
  KeptLine* first = nullptr;
  bool open_at_end = false;  // the file ends inside a line: an escape or a continuation
};

// The file a document was loaded from for editing, or last stored to by ini_store_edits, and
// the fingerprint of what it held then: a later store of edits to it first checks that no
// other program changed it since. While the document holds the file's edit lock (a load
// that takes it), `lock` is that lock, taken through `lock_owner`.
struct FileRecord {
  platform::Place place;
  Fingerprint on_disk;
  platform::FileSystem* lock_owner = nullptr;
  platform::File lock;
};

// A document's record and the arena of a loaded document (empty for a new one); for one
// loaded for editing, its file's text (`kept`, null for every other); and for one loaded
// for editing or stored by ini_store_edits, its file (`record`, null for every other).
struct DocumentBlock {
  IniDocument document;
  Arena arena;
  KeptSource* kept;
  FileRecord* record;
  bool ignore_case;  // names compare without regard to ASCII case (ini_set_ignore_case)
};

inline bool IgnoresCase(const IniDocument* document) {
  return reinterpret_cast<const DocumentBlock*>(document)->ignore_case;
}

inline KeptSource* KeptSourceOf(const IniDocument* document) {
  return reinterpret_cast<const DocumentBlock*>(document)->kept;
}

inline FileRecord*& RecordOf(IniDocument* document) {
  return reinterpret_cast<DocumentBlock*>(document)->record;
}

inline Arena* ArenaOf(IniDocument* document) {
  return &reinterpret_cast<DocumentBlock*>(document)->arena;
}

// A section given pieces of the heap: its own flag, and its arena's, for the release of its
// document.
inline void MarkHeapPieces(IniSection* section) {
  SectionBlock* block = BlockOf(section);
  block->has_heap_pieces = true;
  if (block->arena != nullptr) block->arena->NoteHeapPieces();
}

inline bool AppendEntry(IniSection* section, IniEntry* entry) {
  // An array about to outgrow its inline slots takes a heap block.
  const Arena* arena = BlockOf(section)->arena;
  if (section->count == section->capacity && arena != nullptr) arena->NoteHeapPieces();
  return Append(&section->entries, &section->count, &section->capacity, entry,
                InlineEntries(section));
}

inline bool AppendSection(IniDocument* document, IniSection* section) {
  if (BlockOf(section)->arena != ArenaOf(document)) ArenaOf(document)->NoteHeapPieces();
  return Append(&document->sections, &document->count, &document->capacity, section);
}

// Records made without going through the public operations, for the loader: null when
// memory runs out. `arena_block` is the first block size of the document's arena. A new
// heap section takes over `name`, a heap block, only on success.
IniDocument* NewDocument(std::size_t arena_block = 0);
IniSection* NewSectionNamed(char* name);
// A section record in `block`, empty, with its 10 inline slots; `arena` is the one it was
// carved from, or null.
inline IniSection* InitSection(SectionBlock* block, char* name, const Arena* arena) {
  IniSection* section = &block->section;
  section->entries = block->slots;
  section->count = 0;
  section->capacity = kCapacityStep;
  section->name = name;
  block->arena = arena;
  block->has_heap_pieces = false;
  block->keeps_order = false;
  block->ignore_case = false;
  return section;
}

// A section carved from `arena`, named by `name`, which lies in the arena too; with `kept`
// a KeptSection, whose line the caller fills. Inline: the loader makes one a header line.
inline IniSection* NewCarvedSection(Arena* arena, char* name, bool kept = false) {
  auto* block = static_cast<SectionBlock*>(
      arena->Allocate(kept ? sizeof(KeptSection) : sizeof(SectionBlock)));
  if (block == nullptr) return nullptr;
  IniSection* section = InitSection(block, name, arena);
  block->keeps_order = kept;
  return section;
}
// Releases what a document loaded for editing keeps of its file, and its file's record (with
// the edit lock it holds).
void ReleaseKept(IniDocument* document);

// Appends an entry holding copies of `key` and `value` after the section's last, with no
// lookup, as the reader appends a line that repeats a key: for building, in tests, the
// documents a file with repeats gives, which ini_set_value would merge.
void AppendRepeat(IniSection* section, const char* key, const char* value);

}  // namespace quorva::ini_detail

#endif  // INI_RECORDS_H_
