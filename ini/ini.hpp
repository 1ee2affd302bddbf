// SPDX-License-Identifier: MIT
// INI configuration files from C++17: owners that free themselves, views for lent text,
// range-for over sections and entries. A thin layer over ini.h: no behaviour of its own, no
// exceptions thrown by it.
//
//   ini::LoadResult loaded = ini::Document::LoadFile("Install.ini");
//   if (!loaded) std::fprintf(stderr, "line %lld: %s\n", (long long)loaded.report.line,
//                             loaded.report.reason);
//   for (ini::SectionView section : loaded.document)
//     for (ini::Entry entry : section) use(section.Name(), entry.key, entry.value);
//
// Lifetimes follow ini.h: a view (SectionView, Entry, a std::string_view) is lent. A section
// view and its name are valid until that section is replaced, removed or released; an
// entry's key and value until that entry receives a new value or is removed, or its section
// is released. Releasing the document releases all of them. Keys, names and values handed
// in are NUL-terminated (const char*) and copied where they are kept.
#ifndef INI_INI_HPP_
#define INI_INI_HPP_

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

#include "ini/ini.h"

namespace ini {

// One entry, lent: valid until the entry receives a new value or is removed, or its
// section is released.
struct Entry {
  std::string_view key;
  std::string_view value;
};

// Positions 0 to count-1 of a document or section, for range-for and <algorithm> (an input
// iterator: *it gives a view by value). `Container` is IniDocument or IniSection;
// `Traits::At` gives what one position holds.
//
// An iterator compares its position with the live count, so a loop whose body removes or
// appends items stays valid: it goes on with the items in the positions after the current
// one, as they are when it gets there, and sees appended items too. Removing moves the last
// item into the gap, so after removing the current item, or one before it, the loop skips
// the item moved there; to remove items as you go, loop over positions and step only past
// the items you keep.
template <typename Container, typename Traits>
class PositionIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = typename Traits::Value;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = value_type;

  PositionIterator() = default;
  PositionIterator(Container* container, std::int32_t position)
      : container_(container), position_(position) {}
  reference operator*() const { return Traits::At(container_, position_); }
  PositionIterator& operator++() {
    ++position_;
    return *this;
  }
  PositionIterator operator++(int) {
    PositionIterator before = *this;
    ++position_;
    return before;
  }
  // Equal when both are past the last item (as end() always is), or at the same position.
  bool operator==(const PositionIterator& other) const {
    const bool at_end = AtEnd(), other_at_end = other.AtEnd();
    return at_end || other_at_end ? at_end == other_at_end : position_ == other.position_;
  }
  bool operator!=(const PositionIterator& other) const { return !(*this == other); }

  // The end of any container: past the last item, however many it holds.
  static PositionIterator End(Container* container) { return {container, INT32_MAX}; }

 private:
  bool AtEnd() const { return container_ == nullptr || position_ >= container_->count; }

  Container* container_ = nullptr;
  std::int32_t position_ = 0;
};

struct EntryAt {
  using Value = Entry;
  static Entry At(IniSection* section, std::int32_t position) {
    const IniEntry* entry = section->entries[position];
    return {entry->key, entry->value};
  }
};

// A section held elsewhere (by a document, or by a Section): lent, valid until that
// section is replaced, removed or released. May be empty (from a lookup that found
// nothing, or an empty owner): then it tests false, and every operation does nothing and
// says so: Name() is empty, Size() 0, Get() nothing, Set() and Remove() false, and the
// loop over it sees no entry.
class SectionView {
 public:
  SectionView() = default;
  explicit SectionView(IniSection* section) : section_(section) {}
  explicit operator bool() const { return section_ != nullptr; }
  IniSection* get() const { return section_; }

  // Lent like the section.
  std::string_view Name() const { return section_ == nullptr ? std::string_view() : section_->name; }
  std::int32_t Size() const { return section_ == nullptr ? 0 : section_->count; }

  // The value of the first entry with `key`; lent like an Entry.
  std::optional<std::string_view> Get(const char* key) const {
    const char* value = ini_get_value(section_, key);
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
  }
  // Stores copies of `key` and `value`: true when a new entry was appended, false when the
  // first entry with `key` received the new value, or the view is empty (nothing stored).
  bool Set(const char* key, const char* value) const {
    return section_ != nullptr && ini_set_value(section_, key, value) == 1;
  }
  // True when the first entry with `key` was removed, false when there was none.
  bool Remove(const char* key) const {
    return section_ != nullptr && ini_remove_key(section_, key) == 0;
  }

  // The entries in position order.
  using iterator = PositionIterator<IniSection, EntryAt>;
  iterator begin() const { return {section_, 0}; }
  iterator end() const { return iterator::End(section_); }

 private:
  IniSection* section_ = nullptr;
};

// What the owners below release their pointers with.
struct FreeDocument {
  void operator()(IniDocument* document) const { ini_free_document(document); }
};
struct FreeSection {
  void operator()(IniSection* section) const { ini_free_section(section); }
};
struct FreeMemory {
  void operator()(char* bytes) const { ini_free_memory(bytes); }
};

struct SectionAt {
  using Value = SectionView;
  static SectionView At(IniDocument* document, std::int32_t position) {
    return SectionView(document->sections[position]);
  }
};

// A section that no document holds yet, owned: released with it unless given to a
// document with Document::Add. Move-only; a moved-from or empty owner tests false, and its
// View() is empty.
class Section {
 public:
  // A new empty section with its own copy of `name`.
  explicit Section(const char* name) : section_(ini_new_section(name)) {}
  // Takes over a section that no document holds (from ini_new_section or
  // ini_copy_section); null gives an empty owner.
  static Section Adopt(IniSection* section) {
    Section owner;
    owner.section_.reset(section);
    return owner;
  }
  // A new section named `new_name` with one copy of each distinct key of `source`, with the
  // value of its first occurrence, in the order of first occurrences; an empty owner when
  // `source` is empty.
  static Section Copy(SectionView source, const char* new_name) {
    return Adopt(source ? ini_copy_section(source.get(), new_name) : nullptr);
  }

  explicit operator bool() const { return section_ != nullptr; }

  // Lent: valid while this owner holds the section (and, once it is added, as long as
  // the document holds it).
  SectionView View() const { return SectionView(section_.get()); }
  IniSection* get() const { return section_.get(); }
  // Gives up ownership: the caller releases the section or hands it to a document.
  IniSection* release() { return section_.release(); }

 private:
  Section() = default;
  std::unique_ptr<IniSection, FreeSection> section_;
};

// Bytes written by Document::StoreMemory, owned and released with the object. Move-only.
class Bytes {
 public:
  Bytes() = default;
  Bytes(char* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

  // False when storing failed (no document, one Check() refuses, or no memory).
  explicit operator bool() const { return bytes_ != nullptr; }
  // Lent: valid as long as this object holds the bytes.
  std::string_view View() const {
    return bytes_ ? std::string_view(bytes_.get(), size_) : std::string_view();
  }

 private:
  std::unique_ptr<char, FreeMemory> bytes_;
  std::size_t size_ = 0;
};

struct LoadResult;

// A document, owned: released with the object. Move-only; a moved-from or failed-to-load
// document is empty: it tests false, holds no section, finds nothing, adds, removes and
// stores nothing.
//
// Views into a document live only as long as the document: keep the Document (or the
// LoadResult) in a variable. `auto view = ini::Document::LoadFile(p).document.Find("s");`
// keeps a view into a document released at the end of that statement; so does a
// std::string_view taken from Get() on a temporary document.
class Document {
 public:
  // A new empty document.
  Document() : document_(ini_new_document()) {}
  // Takes over a document from the C functions; null gives an empty owner.
  static Document Adopt(IniDocument* document) { return Document(document); }

  // ini_load_file_report and ini_load_memory: the document, or the report of why not.
  static LoadResult LoadFile(const char* path);
  static LoadResult LoadMemory(std::string_view bytes);

  explicit operator bool() const { return document_ != nullptr; }
  IniDocument* get() const { return document_.get(); }
  // Gives up ownership: the caller releases the document with ini_free_document.
  IniDocument* release() { return document_.release(); }

  std::int32_t Size() const { return document_ == nullptr ? 0 : document_->count; }
  // The sections in position order, as SectionViews.
  using iterator = PositionIterator<IniDocument, SectionAt>;
  iterator begin() const { return {get(), 0}; }
  iterator end() const { return iterator::End(get()); }

  // The first section named `name`; a null view when there is none.
  SectionView Find(const char* name) const {
    return SectionView(ini_find_section(get(), name));
  }
  // The value of `key` in the first section named `section`.
  std::optional<std::string_view> Get(const char* section, const char* key) const {
    return Find(section).Get(key);
  }
  // Takes `section` over: true when it was appended, false when it took the place of the
  // first section of the same name, which is released. An empty section, or an empty
  // document, adds nothing and gives false (an empty document releases the section).
  bool Add(Section section) {
    if (!*this || !section) return false;
    return ini_add_section(get(), section.release()) == 1;
  }
  // True when the first section named `name` was removed (and released).
  bool Remove(const char* name) { return *this && ini_remove_section(get(), name) == 0; }

  // ini_store_file: 0 (the new file is in place), -1 (nothing could be created; the old
  // file is untouched), -2 (a write, the flush or the move failed; the old file is whole),
  // or -3 (Check() refuses the document; nothing was written).
  int Store(const char* path) const { return ini_store_file(get(), path); }
  // ini_check_document: nothing when every name, key and value can be written and read
  // back the same; else where and why not.
  std::optional<IniCheckReport> Check() const {
    IniCheckReport report;
    const int result = ini_check_document(get(), &report);
    if (result == 0) return std::nullopt;
    if (result == -1) report.reason = "no document";
    return report;
  }
  // The bytes Store would write; tests false when Check() refuses the document or memory
  // ran out.
  Bytes StoreMemory() const {
    std::size_t size = 0;
    char* bytes = ini_store_memory(get(), &size);
    return Bytes(bytes, size);
  }

 private:
  explicit Document(IniDocument* document) : document_(document) {}
  std::unique_ptr<IniDocument, FreeDocument> document_;
};

// What a load gives: the document, or an empty one and the report of why.
struct LoadResult {
  Document document;
  IniLoadReport report;
  explicit operator bool() const { return static_cast<bool>(document); }
};

inline LoadResult Document::LoadFile(const char* path) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(ini_load_file_report(path, &result.report));
  return result;
}

inline LoadResult Document::LoadMemory(std::string_view bytes) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(ini_load_memory(bytes.data(), bytes.size(), &result.report));
  return result;
}

}  // namespace ini

#endif  // INI_INI_HPP_
