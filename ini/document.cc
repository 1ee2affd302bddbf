// Sections and entries: their order, ownership, lookups and changes.
#include <cstring>

#include "ini/internal.h"

using ini_detail::Release;

namespace ini_detail {

IniDocument* NewDocument() {
  auto* document = static_cast<IniDocument*>(Allocate(sizeof(IniDocument)));
  if (document == nullptr) return nullptr;
  document->sections = static_cast<IniSection**>(Allocate(sizeof(IniSection*) * kCapacityStep));
  if (document->sections == nullptr) {
    Release(document);
    return nullptr;
  }
  document->count = 0;
  document->capacity = 10;
  return document;
}

IniSection* NewSectionNamed(char* name) {
  static_assert(sizeof(IniSection) % alignof(IniEntry*) == 0, "entries follow the record");
  auto* section = static_cast<IniSection*>(
      Allocate(sizeof(IniSection) + sizeof(IniEntry*) * kCapacityStep));
  if (section == nullptr) return nullptr;
  section->entries = InlineEntries(section);
  section->count = 0;
  section->capacity = 10;
  section->name = name;
  return section;
}

void FreeEntry(IniEntry* entry) {
  Release(entry->key);
  Release(entry);
}

}  // namespace ini_detail

namespace {

char* CopyOrDie(const char* text) {
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(ini_detail::AllocateOrDie(size));
  std::memcpy(copy, text, size);
  return copy;
}

std::int32_t FindSection(const IniDocument* document, const char* name) {
  for (std::int32_t i = 0; i < document->count; ++i) {
    if (std::strcmp(document->sections[i]->name, name) == 0) return i;
  }
  return -1;
}

std::int32_t FindKey(const IniSection* section, const char* key) {
  for (std::int32_t i = 0; i < section->count; ++i) {
    if (std::strcmp(section->entries[i]->key, key) == 0) return i;
  }
  return -1;
}

// Removes slot `position` by moving the last item into it: the others keep their places.
template <typename T>
void RemoveSlot(T** items, std::int32_t* count, std::int32_t position) {
  --*count;
  items[position] = items[*count];
}

}  // namespace

extern "C" {

IniDocument* ini_new_document(void) {
  IniDocument* document = ini_detail::NewDocument();
  if (document == nullptr) ini_detail::OutOfMemory();
  return document;
}

void ini_free_document(IniDocument* document) {
  if (document == nullptr) return;
  for (std::int32_t i = 0; i < document->count; ++i) ini_free_section(document->sections[i]);
  Release(document->sections);
  Release(document);
}

IniSection* ini_new_section(const char* name) {
  char* copy = CopyOrDie(name);
  IniSection* section = ini_detail::NewSectionNamed(copy);
  if (section == nullptr) {
    ini_detail::OutOfMemory();
  }
  return section;
}

void ini_free_section(IniSection* section) {
  if (section == nullptr) return;
  for (std::int32_t i = 0; i < section->count; ++i) ini_detail::FreeEntry(section->entries[i]);
  if (section->entries != ini_detail::InlineEntries(section)) Release(section->entries);
  Release(section->name);
  Release(section);
}

int ini_add_section(IniDocument* document, IniSection* section) {
  // A section the document already holds is left where it is: replacing it would release
  // the section just handed over and leave a dangling reference behind.
  for (std::int32_t i = 0; i < document->count; ++i) {
    if (document->sections[i] == section) return 0;
  }
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
  if (document == nullptr) return nullptr;
  std::int32_t found = FindSection(document, name);
  return found < 0 ? nullptr : document->sections[found];
}

int ini_remove_section(IniDocument* document, const char* name) {
  std::int32_t found = FindSection(document, name);
  if (found < 0) return 1;
  ini_free_section(document->sections[found]);
  RemoveSlot(document->sections, &document->count, found);
  return 0;
}

const char* ini_section_name_at(const IniDocument* document, std::int32_t position) {
  if (document == nullptr || position < 0 || position >= document->count) return nullptr;
  return document->sections[position]->name;
}

int ini_set_value(IniSection* section, const char* key, const char* value) {
  // The new block is made before anything is looked up or released, since key and value
  // may point into the entry that is about to be replaced.
  std::size_t key_size = std::strlen(key) + 1;
  std::size_t value_size = std::strlen(value) + 1;
  auto* block = static_cast<char*>(ini_detail::AllocateOrDie(key_size + value_size));
  std::memcpy(block, key, key_size);
  std::memcpy(block + key_size, value, value_size);

  std::int32_t found = FindKey(section, block);
  if (found >= 0) {
    IniEntry* entry = section->entries[found];
    Release(entry->key);
    entry->key = block;
    entry->value = block + key_size;
    return 0;
  }
  auto* entry = static_cast<IniEntry*>(ini_detail::AllocateOrDie(sizeof(IniEntry)));
  entry->key = block;
  entry->value = block + key_size;
  if (!ini_detail::AppendEntry(section, entry)) ini_detail::OutOfMemory();
  return 1;
}

const char* ini_get_value(const IniSection* section, const char* key) {
  if (section == nullptr) return nullptr;
  std::int32_t found = FindKey(section, key);
  return found < 0 ? nullptr : section->entries[found]->value;
}

const char* ini_key_at(const IniSection* section, std::int32_t position) {
  if (section == nullptr || position < 0 || position >= section->count) return nullptr;
  return section->entries[position]->key;
}

int ini_remove_key(IniSection* section, const char* key) {
  std::int32_t found = FindKey(section, key);
  if (found < 0) return 1;
  ini_detail::FreeEntry(section->entries[found]);
  RemoveSlot(section->entries, &section->count, found);
  return 0;
}

IniSection* ini_copy_section(const IniSection* section, const char* new_name) {
  IniSection* copy = ini_new_section(new_name);
  for (std::int32_t i = 0; i < section->count; ++i) {
    const char* key = section->entries[i]->key;
    ini_set_value(copy, key, ini_get_value(section, key));
  }
  return copy;
}

}  // extern "C"
