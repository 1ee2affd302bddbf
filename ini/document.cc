// Sections and entries: their order, ownership, lookups and changes.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "ini/allocator.h"
#include "ini/records.h"
#include "ini/repeats.h"

using quorva::ini_detail::FindRepeats;
using quorva::ini_detail::Hash;
using quorva::ini_detail::HashFolded;
using quorva::ini_detail::Release;
using quorva::ini_detail::Scratch;

namespace quorva::ini_detail {

IniDocument* NewDocument(std::size_t arena_block) {
  auto* block = static_cast<DocumentBlock*>(Allocate(sizeof(DocumentBlock)));
  if (block == nullptr) return nullptr;
  IniDocument* document = &block->document;
  document->sections = static_cast<IniSection**>(Allocate(sizeof(IniSection*) * kCapacityStep));
  if (document->sections == nullptr) {
    Release(block);
    return nullptr;
  }
  document->count = 0;
  document->capacity = 10;
  new (&block->arena) Arena(arena_block);
  block->kept = nullptr;
  block->record = nullptr;
  block->ignore_case = false;
  return document;
}

void ReleaseKept(IniDocument* document) {
  auto* block = reinterpret_cast<DocumentBlock*>(document);
  if (block->kept != nullptr) {
    Release(block->kept->bytes);
    Release(block->kept);
    block->kept = nullptr;
  }
  if (block->record != nullptr) {
    if (block->record->lock_owner != nullptr)
      block->record->lock_owner->Unlock(block->record->lock);
    Release(block->record);
    block->record = nullptr;
  }
}

IniSection* NewSectionNamed(char* name) {
  auto* block = static_cast<SectionBlock*>(Allocate(sizeof(SectionBlock)));
  return block == nullptr ? nullptr : InitSection(block, name, nullptr);
}

}  // namespace quorva::ini_detail

namespace {

using ini_detail::BlockOf;

char* CopyOrDie(const char* text) {
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(ini_detail::AllocateOrDie(size));
  std::memcpy(copy, text, size);
  return copy;
}

// Exact lookups cost what they always did: the case-blind compare is a function of its own,
// and the exact loop stays small enough to be inlined into each lookup, as it was before
// there was a choice.
[[gnu::noinline]] std::int32_t FindSectionIgnoringCase(const IniDocument* document,
                                                       const char* name) {
  for (std::int32_t i = 0; i < document->count; ++i) {
    if (ini_detail::EqualIgnoringCase(document->sections[i]->name, name)) return i;
  }
  return -1;
}

inline std::int32_t FindSection(const IniDocument* document, const char* name) {
  if (ini_detail::IgnoresCase(document)) return FindSectionIgnoringCase(document, name);
  for (std::int32_t i = 0; i < document->count; ++i) {
    if (std::strcmp(document->sections[i]->name, name) == 0) return i;
  }
  return -1;
}

[[gnu::noinline]] std::int32_t FindKeyIgnoringCase(const IniSection* section, const char* key,
                                                   std::int32_t from) {
  for (std::int32_t i = from; i < section->count; ++i) {
    if (ini_detail::EqualIgnoringCase(section->entries[i]->key, key)) return i;
  }
  return -1;
}

// The first entry at or after `from` with `key`.
inline std::int32_t FindKey(const IniSection* section, const char* key, std::int32_t from = 0) {
  if (BlockOf(section)->ignore_case) return FindKeyIgnoringCase(section, key, from);
  for (std::int32_t i = from; i < section->count; ++i) {
    if (std::strcmp(section->entries[i]->key, key) == 0) return i;
  }
  return -1;
}

// Removes slot `position` by moving the last item into it: the others keep their places.
// With `keep_order` the items after it move up one instead, so the order of the rest holds:
// for a document that keeps its file's text, whose order is the order its store writes.
template <typename T>
void RemoveSlot(T** items, std::int32_t* count, std::int32_t position, bool keep_order) {
  --*count;
  if (keep_order) {
    std::memmove(items + position, items + position + 1,
                 sizeof(T*) * static_cast<std::size_t>(*count - position));
  } else {
    items[position] = items[*count];
  }
}

// Releases `piece` of `section` unless it was carved from the section's arena: carved
// pieces return with the document. A section with no heap pieces beside carved ones
// (never `has_heap_pieces`) holds carved pieces only.
void ReleasePiece(const IniSection* section, void* piece) {
  const ini_detail::SectionBlock* block = BlockOf(section);
  if (block->arena == nullptr || (block->has_heap_pieces && !block->arena->Owns(piece))) {
    Release(piece);
  }
}

// An entry made by the operations holds a short key and value in the record's own block,
// right behind it: one allocation instead of two. A new value goes to a block of its own,
// and the first text's room, at most kInlineText bytes, stays until the entry is released.
// Longer text always has a block of its own, so that a large value is released as soon as
// it is replaced.
constexpr std::size_t kInlineText = 64;

char* InlineText(IniEntry* entry) { return reinterpret_cast<char*>(entry + 1); }

// Releases the block holding `entry`'s key and value, unless it is the record's own.
void ReleaseText(const IniSection* section, IniEntry* entry) {
  if (entry->key != InlineText(entry)) ReleasePiece(section, entry->key);
}

void ReleaseEntry(const IniSection* section, IniEntry* entry) {
  ReleaseText(section, entry);
  ReleasePiece(section, entry);
}

// The size of a key and a value with their NULs, which must leave room for a record too:
// a key and a value that overlap could add up to more than the address space.
std::size_t TextSize(std::size_t key_size, std::size_t value_size) {
  if (value_size > SIZE_MAX - sizeof(IniEntry) - key_size) ini_detail::OutOfMemory();
  return key_size + value_size;
}

// Copies `key`, a NUL, `value` and a NUL to `text`; the sizes count the NULs.
void PutText(IniEntry* entry, char* text, const char* key, std::size_t key_size, const char* value,
             std::size_t value_size) {
  std::memcpy(text, key, key_size);
  std::memcpy(text + key_size, value, value_size);
  entry->key = text;
  entry->value = text + key_size;
}

// A new entry of the operations' own, in no section yet.
IniEntry* MakeEntry(const char* key, std::size_t key_size, const char* value,
                    std::size_t value_size) {
  const std::size_t text_size = TextSize(key_size, value_size);
  const bool inline_text = text_size <= kInlineText;
  auto* entry = static_cast<IniEntry*>(
      ini_detail::AllocateOrDie(sizeof(IniEntry) + (inline_text ? text_size : 0)));
  char* text =
      inline_text ? InlineText(entry) : static_cast<char*>(ini_detail::AllocateOrDie(text_size));
  PutText(entry, text, key, key_size, value, value_size);
  return entry;
}

void AppendEntryOrDie(IniSection* section, IniEntry* entry) {
  ini_detail::MarkHeapPieces(section);
  if (!ini_detail::AppendEntry(section, entry)) ini_detail::OutOfMemory();
}

}  // namespace

void ini_detail::AppendRepeat(IniSection* section, const char* key, const char* value) {
  AppendEntryOrDie(section, MakeEntry(key, std::strlen(key) + 1, value, std::strlen(value) + 1));
}

extern "C" {

IniDocument* ini_new_document(void) {
  IniDocument* document = ini_detail::NewDocument();
  if (document == nullptr) ini_detail::OutOfMemory();
  return document;
}

void ini_free_document(IniDocument* document) {
  if (document == nullptr) return;
  // Sections as they were loaded lie wholly in the arena, with nothing to release alone:
  // the sections are only looked at when some of them hold heap pieces.
  if (ini_detail::ArenaOf(document)->HasHeapPieces()) {
    for (std::int32_t i = 0; i < document->count; ++i) ini_free_section(document->sections[i]);
  }
  Release(document->sections);
  ini_detail::ArenaOf(document)->Release();
  ini_detail::ReleaseKept(document);
  Release(document);
}

IniSection* ini_new_section(const char* name) {
  if (name == nullptr) return nullptr;
  char* copy = CopyOrDie(name);
  IniSection* section = ini_detail::NewSectionNamed(copy);
  if (section == nullptr) {
    ini_detail::OutOfMemory();
  }
  return section;
}

void ini_free_section(IniSection* section) {
  if (section == nullptr) return;
  const ini_detail::SectionBlock* block = BlockOf(section);
  // A carved section's pieces return with its arena, unless operations gave it heap ones.
  if (block->arena == nullptr || block->has_heap_pieces) {
    for (std::int32_t i = 0; i < section->count; ++i) ReleaseEntry(section, section->entries[i]);
  }
  if (section->entries != ini_detail::InlineEntries(section)) Release(section->entries);
  if (block->arena == nullptr) {
    Release(section->name);
    Release(section);
  }
}

int ini_add_section(IniDocument* document, IniSection* section) {
  if (document == nullptr || section == nullptr) return -1;
  // A section the document already holds is left where it is: replacing it would release
  // the section just handed over and leave a dangling reference behind.
  for (std::int32_t i = 0; i < document->count; ++i) {
    if (document->sections[i] == section) return 0;
  }
  ini_detail::ArenaOf(document)->NoteHeapPieces();  // a section from outside the arena
  if (ini_detail::KeptSourceOf(document) != nullptr) BlockOf(section)->keeps_order = true;
  BlockOf(section)->ignore_case = ini_detail::IgnoresCase(document);
  std::int32_t found = FindSection(document, section->name);
  if (found >= 0) {
    IniSection* old = document->sections[found];
    document->sections[found] = section;
    ini_free_section(old);
    return 0;
  }
  if (!ini_detail::AppendSection(document, section)) ini_detail::OutOfMemory();
  return 1;
}

IniSection* ini_find_section(const IniDocument* document, const char* name) {
  if (document == nullptr || name == nullptr) return nullptr;
  std::int32_t found = FindSection(document, name);
  return found < 0 ? nullptr : document->sections[found];
}

int ini_remove_section(IniDocument* document, const char* name) {
  if (document == nullptr || name == nullptr) return -1;
  std::int32_t found = FindSection(document, name);
  if (found < 0) return 1;
  ini_free_section(document->sections[found]);
  RemoveSlot(document->sections, &document->count, found,
             ini_detail::KeptSourceOf(document) != nullptr);
  return 0;
}

const char* ini_section_name_at(const IniDocument* document, std::int32_t position) {
  if (document == nullptr || position < 0 || position >= document->count) return nullptr;
  return document->sections[position]->name;
}

int ini_set_value(IniSection* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return -1;
  const std::size_t key_size = std::strlen(key) + 1;
  const std::size_t value_size = std::strlen(value) + 1;
  std::int32_t found = FindKey(section, key);
  if (found < 0) {
    AppendEntryOrDie(section, MakeEntry(key, key_size, value, value_size));
    return 1;
  }
  // The new text is copied before the old is released, since key and value may point into
  // the very entry that receives them. Where case is ignored, the key keeps its spelling.
  IniEntry* entry = section->entries[found];
  char* old = entry->key;
  const char* kept_key = BlockOf(section)->ignore_case ? old : key;
  const std::size_t kept_key_size = std::strlen(kept_key) + 1;
  auto* text = static_cast<char*>(ini_detail::AllocateOrDie(TextSize(kept_key_size, value_size)));
  const bool old_inline = old == InlineText(entry);
  PutText(entry, text, kept_key, kept_key_size, value, value_size);
  if (!old_inline) ReleasePiece(section, old);
  ini_detail::MarkHeapPieces(section);
  return 0;
}

int ini_append_value(IniSection* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr) return -1;
  ini_detail::AppendRepeat(section, key, value);
  return 1;
}

const char* ini_get_value(const IniSection* section, const char* key) {
  if (section == nullptr || key == nullptr) return nullptr;
  std::int32_t found = FindKey(section, key);
  return found < 0 ? nullptr : section->entries[found]->value;
}

const char* ini_find_value(const IniSection* section, const char* key, int32_t* position) {
  if (section == nullptr || key == nullptr || position == nullptr || *position < 0) {
    return nullptr;
  }
  const std::int32_t found = FindKey(section, key, *position);
  if (found < 0) return nullptr;
  *position = found;
  return section->entries[found]->value;
}

int ini_set_ignore_case(IniDocument* document, int ignore) {
  if (document == nullptr) return -1;
  reinterpret_cast<ini_detail::DocumentBlock*>(document)->ignore_case = ignore != 0;
  for (std::int32_t i = 0; i < document->count; ++i) {
    BlockOf(document->sections[i])->ignore_case = ignore != 0;
  }
  return 0;
}

const char* ini_key_at(const IniSection* section, std::int32_t position) {
  if (section == nullptr || position < 0 || position >= section->count) return nullptr;
  return section->entries[position]->key;
}

const char* ini_value_at(const IniSection* section, std::int32_t position) {
  if (section == nullptr || position < 0 || position >= section->count) return nullptr;
  return section->entries[position]->value;
}

int ini_remove_key(IniSection* section, const char* key) {
  if (section == nullptr || key == nullptr) return -1;
  std::int32_t found = FindKey(section, key);
  if (found < 0) return 1;
  ReleaseEntry(section, section->entries[found]);
  RemoveSlot(section->entries, &section->count, found, BlockOf(section)->keeps_order);
  return 0;
}

IniSection* ini_copy_section(const IniSection* section, const char* new_name) {
  if (section == nullptr || new_name == nullptr) return nullptr;
  IniSection* copy = ini_new_section(new_name);
  const bool fold = BlockOf(section)->ignore_case;
  BlockOf(copy)->ignore_case = fold;
  // Every entry is copied, and its key hashed while its bytes are at hand; then the copies
  // of later repeats are found and released, and the others appended in order, so that
  // the copy's arrays grow as if only first occurrences had been appended.
  const auto n = static_cast<std::size_t>(section->count);
  Scratch made_scratch(n + 1, sizeof(IniEntry*)), hashes_scratch(n + 1, sizeof(std::uint64_t)),
      repeat_scratch(n + 1, sizeof(bool));
  auto* made = made_scratch.As<IniEntry*>();
  auto* hashes = hashes_scratch.As<std::uint64_t>();
  auto* repeat = repeat_scratch.As<bool>();
  for (std::size_t i = 0; i < n; ++i) {
    const IniEntry* entry = section->entries[i];
    const std::size_t key_length = std::strlen(entry->key);
    made[i] = MakeEntry(entry->key, key_length + 1, entry->value, std::strlen(entry->value) + 1);
    hashes[i] = fold ? HashFolded(made[i]->key, key_length) : Hash(made[i]->key, key_length);
  }
  FindRepeats(made, hashes, n, repeat, fold);
  std::int32_t firsts = 0;
  for (std::size_t i = 0; i < n; ++i) firsts += repeat[i] ? 0 : 1;
  if (!ini_detail::PrepareAppends(&copy->entries, 0, &copy->capacity, firsts,
                                  ini_detail::InlineEntries(copy))) {
    ini_detail::OutOfMemory();
  }
  ini_detail::MarkHeapPieces(copy);
  for (std::size_t i = 0; i < n; ++i) {
    // A later repeat of a key is left out: the copy keeps the first one's value.
    if (repeat[i]) {
      ReleaseEntry(copy, made[i]);
    } else {
      copy->entries[copy->count++] = made[i];
    }
  }
  return copy;
}

}  // extern "C"
