// SPDX-License-Identifier: MIT
// INI configuration files from C++17: owners that free themselves, views for lent text,
// range-for and <algorithm> over sections and entries, typed values. A thin layer over
// ini.h: no behaviour of its own, no exceptions thrown by it.
//
//   ini::LoadResult loaded = ini::Document::LoadFile("Install.ini");
//   if (!loaded) std::fprintf(stderr, "%s\n", loaded.report.reason);
//   for (ini::SectionView section : loaded.document)
//     for (ini::Entry entry : section) use(section.Name(), entry.key, entry.value);
//   int port = loaded.document.Get<int>("server", "port").value_or(80);
//
// Lifetimes follow ini.h: a view (SectionView, Entry, a std::string_view) is lent. A section
// view and its name are valid until that section is replaced, removed or released; an
// entry's key and value until that entry receives a new value or is removed, or its section
// is released. Releasing the document releases all of them. Names, keys and values handed
// in are std::string_views (a literal, a std::string or a view all do), copied where they
// are kept; as C strings, they end at a NUL they hold.
#ifndef INI_INI_HPP_
#define INI_INI_HPP_

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "ini/ini.h"

namespace quorva {
// Loading and storing by a path in the system's own form (UTF-16 on Windows, where any
// path then works; bytes elsewhere): part of the library, for Document below.
IniDocument* LoadNativePath(const std::filesystem::path::value_type* path, IniLoadReport* report);
int StoreNativePath(const IniDocument* document, const std::filesystem::path::value_type* path);
}  // namespace quorva

namespace ini {

namespace detail {

// A std::string_view as the NUL-terminated string the C functions take: copied to the
// stack, or for long text to the heap (where memory running out stops the process, as it
// does in the C functions that keep text).
class CText {
 public:
  explicit CText(std::string_view text) {
    char* to = small_;
    if (text.size() >= sizeof small_) {
      large_ = static_cast<char*>(std::malloc(text.size() + 1));
      if (large_ == nullptr) {
        std::fputs("ini: out of memory\n", stderr);
        std::abort();
      }
      to = large_;
    }
    if (!text.empty()) std::memcpy(to, text.data(), text.size());
    to[text.size()] = '\0';
    text_ = to;
  }
  ~CText() { std::free(large_); }
  CText(const CText&) = delete;
  CText& operator=(const CText&) = delete;
  const char* get() const { return text_; }

 private:
  char small_[128];
  char* large_ = nullptr;
  const char* text_;
};

inline bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != word[i]) return false;
  }
  return true;
}

// A value's text as a T; nothing when it is not one. See SectionView::Get<T>.
template <typename T>
std::optional<T> Parse(std::string_view text) {
  if constexpr (std::is_same_v<T, bool>) {
    for (std::string_view yes : {"1", "true", "yes", "on"}) {
      if (EqualsIgnoringAsciiCase(text, yes)) return true;
    }
    for (std::string_view no : {"0", "false", "no", "off"}) {
      if (EqualsIgnoringAsciiCase(text, no)) return false;
    }
    return std::nullopt;
  } else {
    static_assert(std::is_arithmetic_v<T>, "Get<T> reads integers, floating point and bool");
    T value{};
    const char* const end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return value;
  }
}

}  // namespace detail

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
  std::optional<std::string_view> Get(std::string_view key) const {
    const char* value = ini_get_value(section_, detail::CText(key).get());
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
  }
  // The value of the first entry with `key` as a T; nothing when there is no such entry or
  // its value is not a T. The whole value must be the number or truth value:
  //   - integers: decimal digits, with '-' before them for signed types; no '+', no spaces,
  //     no 0x; a value outside T's range is none;
  //   - floating point: as std::from_chars reads it: 1.5, -2e3, inf, nan; no '+';
  //   - bool: 1, true, yes, on and 0, false, no, off, in any ASCII case.
  template <typename T>
  std::optional<T> Get(std::string_view key) const {
    const std::optional<std::string_view> text = Get(key);
    if (!text) return std::nullopt;
    return detail::Parse<T>(*text);
  }
  // Stores copies of `key` and `value`: true when a new entry was appended, false when the
  // first entry with `key` received the new value, or the view is empty (nothing stored).
  bool Set(std::string_view key, std::string_view value) const {
    return section_ != nullptr &&
           ini_set_value(section_, detail::CText(key).get(), detail::CText(value).get()) == 1;
  }
  // True when the first entry with `key` was removed, false when there was none.
  bool Remove(std::string_view key) const {
    return section_ != nullptr && ini_remove_key(section_, detail::CText(key).get()) == 0;
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
  explicit Section(std::string_view name) : section_(ini_new_section(detail::CText(name).get())) {}
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
  static Section Copy(SectionView source, std::string_view new_name) {
    return Adopt(source ? ini_copy_section(source.get(), detail::CText(new_name).get()) : nullptr);
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

  // ini_load_file_report and ini_load_memory: the document, or the report of why not. The
  // path is handed to the system whole: on Windows a path of any characters opens (through
  // the wide calls), where ini_load_file takes only what the ANSI code page holds.
  static LoadResult LoadFile(const std::filesystem::path& path);
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

  // The first section named `name`; an empty view when there is none.
  SectionView Find(std::string_view name) const {
    return SectionView(ini_find_section(get(), detail::CText(name).get()));
  }
  // The value of `key` in the first section named `section`, as text or as a T (see
  // SectionView::Get<T>).
  std::optional<std::string_view> Get(std::string_view section, std::string_view key) const {
    return Find(section).Get(key);
  }
  template <typename T>
  std::optional<T> Get(std::string_view section, std::string_view key) const {
    return Find(section).Get<T>(key);
  }
  // Sets `key` to `value` in the first section named `section`, which is appended first
  // when the document holds none of that name. True when a new entry was appended; false
  // when an entry received the new value, or the document is empty (nothing stored).
  bool Set(std::string_view section, std::string_view key, std::string_view value) {
    if (!*this) return false;
    SectionView found = Find(section);
    if (!found) {
      Section made(section);
      found = made.View();
      Add(std::move(made));
    }
    return found.Set(key, value);
  }
  // Takes `section` over: true when it was appended, false when it took the place of the
  // first section of the same name, which is released. An empty section, or an empty
  // document, adds nothing and gives false (an empty document releases the section).
  bool Add(Section section) {
    if (!*this || !section) return false;
    return ini_add_section(get(), section.release()) == 1;
  }
  // True when the first section named `name` was removed (and released).
  bool Remove(std::string_view name) {
    return *this && ini_remove_section(get(), detail::CText(name).get()) == 0;
  }

  // ini_store_file, with the path handed to the system whole as for LoadFile: 0 (the new
  // file is in place), -1 (nothing could be created; the old file is untouched), -2 (a
  // write, the flush or the move failed; the old file is whole), or -3 (Check() refuses
  // the document; nothing was written).
  int Store(const std::filesystem::path& path) const {
    return quorva::StoreNativePath(get(), path.c_str());
  }
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

inline LoadResult Document::LoadFile(const std::filesystem::path& path) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(quorva::LoadNativePath(path.c_str(), &result.report));
  return result;
}

inline LoadResult Document::LoadMemory(std::string_view bytes) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(ini_load_memory(bytes.data(), bytes.size(), &result.report));
  return result;
}

}  // namespace ini

#endif  // INI_INI_HPP_
