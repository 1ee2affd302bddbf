// What the library's own files share: the allocator, growable pointer arrays, and the
// loader and writer over a replaceable file system.
#ifndef INI_INTERNAL_H_
#define INI_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ini/arena.h"
#include "ini/ini.h"
#include "platform/platform.h"

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
inline void* Reallocate(void* block, std::size_t size) { return g_allocator.reallocate(block, size); }
inline void Release(void* block) { g_allocator.release(block); }
inline void* AllocateLarge(std::size_t size) { return g_allocator.allocate_large(size); }
inline void ReleaseLarge(void* block, std::size_t size) { g_allocator.release_large(block, size); }

// The same for the operations that have no failure result: on failure they report and
// abort rather than go on with a half-made change.
[[noreturn]] void OutOfMemory();
void* AllocateOrDie(std::size_t size);

// Test hook: installs `allocator` and returns the one it replaces.
Allocator SetAllocatorForTesting(Allocator allocator);

// The seed of the hash that finds repeated keys when a section is copied: chosen afresh in
// each process, from the clock and where the program was loaded, so that a file cannot be
// made of keys that collide.
std::uint64_t HashSeed();
// Test hook: sets the seed, so that a benchmark can make keys that collide, and returns the
// one it replaces.
std::uint64_t SetHashSeedForTesting(std::uint64_t seed);

// `sections` and `entries` are public: a caller may keep the array pointer and use every
// slot below `capacity`, so the memory behind an array always has at least `capacity`
// slots, moves only inside an append that finds `count` equal to `capacity`, and never
// shrinks. `capacity` itself shows 10, 20, 30, ... as items are appended. The room behind
// it grows geometrically (10, 20, 40, 80, ... slots), so appending n items costs O(n) in
// all; it is a function of `capacity` alone and needs no field of its own.
constexpr std::int32_t kCapacityStep = 10;

inline std::size_t RoomFor(std::int32_t capacity) {
  std::size_t room = kCapacityStep;
  while (room < static_cast<std::size_t>(capacity)) room *= 2;
  return room;
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

// Appends `item` at `*count`. An array found full gets `capacity` 10 larger, and new room
// when its present room is smaller than that. Returns false, changing nothing, when the
// array cannot grow.
template <typename T>
bool Append(T*** items, std::int32_t* count, std::int32_t* capacity, T* item,
            T** inline_items = nullptr) {
  const std::int32_t n = *count;
  if (n == *capacity) {
    if (n > INT32_MAX - kCapacityStep || !GrowRoom(items, n, n, n + kCapacityStep, inline_items)) {
      return false;
    }
    *capacity = n + kCapacityStep;
  }
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
// (`touched`), and its release paths ask the arena which pieces are whose.
struct SectionBlock {
  IniSection section;
  IniEntry* slots[kCapacityStep];
  const Arena* arena;  // the arena the section was carved from, or null for a heap section
  bool touched;        // it holds pieces of the heap beside carved ones
};

inline SectionBlock* BlockOf(const IniSection* section) {
  return reinterpret_cast<SectionBlock*>(const_cast<IniSection*>(section));
}

inline IniEntry** InlineEntries(IniSection* section) { return BlockOf(section)->slots; }

// A document's record and the arena of a loaded document (empty for a new one).
struct DocumentBlock {
  IniDocument document;
  Arena arena;
};

inline Arena* ArenaOf(IniDocument* document) {
  return &reinterpret_cast<DocumentBlock*>(document)->arena;
}

inline bool AppendEntry(IniSection* section, IniEntry* entry) {
  return Append(&section->entries, &section->count, &section->capacity, entry,
                InlineEntries(section));
}

inline bool AppendSection(IniDocument* document, IniSection* section) {
  return Append(&document->sections, &document->count, &document->capacity, section);
}

// Records made without going through the public operations, for the loader: null when
// memory runs out. `arena_block` is the first block size of the document's arena. A new
// heap section takes over `name`, a heap block, only on success.
IniDocument* NewDocument(std::size_t arena_block = 0);
IniSection* NewSectionNamed(char* name);
// A section carved from `arena`, named by `name`, which lies in the arena too.
IniSection* NewCarvedSection(Arena* arena, char* name);

// Where the reader takes its bytes from: an open file, or bytes in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`. False when the read failed; a successful read
  // of 0 bytes is the end.
  virtual bool Read(char* buffer, std::uint32_t size, std::uint32_t* got) = 0;
  // How many bytes the source holds, as far as it knows; false when it does not know.
  // Only a hint for sizing memory: reading goes on until a read delivers nothing.
  virtual bool SizeHint(std::uint64_t*) { return false; }
  // Called once, when the reader needs no more bytes: a file is closed here, before the
  // document is built.
  virtual void Finish() {}
};

// Where the writer puts its bytes: a file, or a growing block in memory.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes all `size` bytes, or fails.
  virtual bool Write(const char* data, std::size_t size) = 0;
};

// What a load tells an observer of each logical line, for tools that check files: what
// it is and where it begins. The texts are lent for the call only.
struct LineEvent {
  enum Kind { kHeader, kEntry, kBad } kind;
  std::int64_t line;    // the physical line that holds its first character, from 1
  std::int64_t column;  // that character's byte in the physical line, from 1
  const char* text;     // a header's name, an entry's key, or the whole bad line
  const char* value;    // an entry's value; null for the others
  const char* reason;   // why a bad line is bad; null for the others
};

class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // Called for each logical line in turn; false stops the load, which then fails. A load
  // with an observer goes on past a bad line, so that every line is seen; the document is
  // rejected all the same, and the report names the first bad line.
  virtual bool OnLine(const LineEvent& event) = 0;
};

// The reader and the writer, over any source or sink. `report` and `observer` may be null.
IniDocument* Load(ByteSource& source, IniLoadReport* report, LineObserver* observer = nullptr);
// False when a write failed. Writes whatever the document holds: see CheckDocument.
bool Store(const IniDocument* document, ByteSink& sink);
// ini_check_document: 0, -1 for no document, or -3 with `*report` (which may be null).
int CheckDocument(const IniDocument* document, IniCheckReport* report);

// ini_load_file_report and ini_store_file over any file system. `accept` says which files
// a load opens, `at_link` what a store does with a symbolic link at the path.
IniDocument* LoadFile(platform::FileSystem& file_system, const char* path,
                      IniLoadReport* report = nullptr,
                      platform::Accept accept = platform::Accept::kAnyFile,
                      LineObserver* observer = nullptr);
int StoreFile(platform::FileSystem& file_system, const IniDocument* document, const char* path,
              platform::AtLink at_link = platform::AtLink::kFollow);
// The reason a load gives for a file that does not exist, the same pointer every time.
extern const char kMissingFile[];
// ini_load_memory with an observer.
IniDocument* LoadMemory(const void* bytes, std::size_t size, IniLoadReport* report,
                        LineObserver* observer);

}  // namespace quorva::ini_detail

namespace ini_detail = quorva::ini_detail;

#endif  // INI_INTERNAL_H_
