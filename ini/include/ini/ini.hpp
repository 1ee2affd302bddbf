// SPDX-License-Identifier: MIT
// INI configuration files from C++17: owners that free themselves, views for lent text,
// range-for and <algorithm> over sections and entries, typed values. A thin layer over
// ini.h: no behaviour of its own, no exceptions thrown by it.
//
//   ini::LoadResult loaded = ini::Document::LoadOrNew("settings.ini");  // new on a first run
//   if (!loaded) std::fprintf(stderr, "%s\n", loaded.report.reason);
//   int port = loaded.document.Get<int>("server", "port").value_or(80);
//   std::string host = loaded.document.Get("server", "host").value_or(std::string("localhost"));
//   loaded.document.Set("server", "port", port + 1);  // written as 81
//   if (!loaded.document.Store("settings.ini")) ...
//
// Lent and copied: a view (SectionView, Entry, a std::string_view, what Get() finds) is lent.
// A section view and its name are valid until that section is replaced, removed or
// released; an entry's key and value until that entry receives a new value or is removed,
// or its section is released. Releasing the document releases all of them. Copies are
// yours: Get<std::string>(), Get<int>() and the like, and value_or() given a std::string.
// Names, keys and values handed in are Text (a literal, a std::string or a
// std::string_view), copied where they are kept; as C strings, they end at a NUL they hold.
#ifndef INI_INI_HPP_
#define INI_INI_HPP_

#if __cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L)
#error "ini/ini.hpp needs C++17 or later (-std=c++17; in CMake, cxx_std_17)"
#endif

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
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

#include "ini/ini.h"

namespace quorva {
// Loading and storing by a path in the system's own form (UTF-16 on Windows, where any
// path then works; bytes elsewhere): part of the library, for Document below.
// `*missing` (which may be null) tells whether the load failed only because the file is not
// there; `how` kEditing loads as ini_load_file_for_editing, kEditingLocked as
// ini_load_file_for_editing_locked. A store with `edits` stores as ini_store_edits (and then
// changes the document's record of its file); `*note` (which may be null) tells more of a
// failed one.
enum class LoadHow { kPlain, kEditing, kEditingLocked };
IniDocument* LoadNativePath(const std::filesystem::path::value_type* path, IniLoadReport* report,
                            bool* missing = nullptr, LoadHow how = LoadHow::kPlain);
struct StoreNote {
  bool cut_short = false;  // -2: a write in place failed; the file may hold a part of the text
  bool no_file_of_its_own = false;  // -4: the document had no file, and one is there
  const char* cause = "";           // -1, -2: the system's reason, static; "" when none
};
int StoreNativePath(const IniDocument* document, const std::filesystem::path::value_type* path,
                    bool edits = false, StoreNote* note = nullptr);
}  // namespace quorva

namespace ini {

// Text handed to the library: a literal, a std::string or a std::string_view (one the library
// lent too). A null `const char*` is no text: the call that gets it does nothing and says so
// (it finds nothing, stores nothing, gives Changed::kFailed). `nullptr` itself does not
// compile.
class Text {
 public:
  Text(std::string_view text) : text_(text) {}    // NOLINT: implicit by design
  Text(const std::string& text) : text_(text) {}  // NOLINT
  Text(const char* text)
      : text_(text == nullptr ? std::string_view() : text), null_(text == nullptr) {}  // NOLINT
  Text(std::nullptr_t) = delete;
  std::string_view view() const { return text_; }
  bool null() const { return null_; }

 private:
  std::string_view text_;
  bool null_ = false;
};

// What a change did.
enum class Changed {
  kAppended,  // a new entry, or a new section, went after the last
  kReplaced,  // the first entry with the key got the value, or the section took the place
              // (and position) of the first one of its name, which was released
  kRemoved,   // the first entry or section of that name was removed and released
  kNotFound,  // there was nothing of that name to remove
  kFailed,    // nothing changed: an empty view or owner, an empty section, or no text
  kRefused,   // nothing changed: the name, key or value would not read back from a file as
              // given (see Refusal), or a number is no finite one
};

// Why a typed read gave no value.
enum class Problem {
  kNone,        // it gave one
  kMissing,     // there is no such entry (or section)
  kNotA,        // the value is not a T: a typo, such as "80x" for an int
  kOutOfRange,  // the value is a number outside T's range
};

// What a typed read found: a std::optional<T>, whose value_or gives the fallback both for a
// missing entry and for a value that is not a T, and which also tells the two apart
// (problem()) and where the entry stands (position(), -1 when it is missing). So
// `Get<int>("net", "port").value_or(8080)` takes 8080 for "port = 80x" as for no port; ask
// problem() to tell the user that their setting is broken.
template <typename T>
class Parsed : public std::optional<T> {
 public:
  Parsed(Problem problem, std::int32_t position) : problem_(problem), position_(position) {}
  Parsed(T value, std::int32_t position)
      : std::optional<T>(std::move(value)), position_(position) {}
  Problem problem() const { return problem_; }
  std::int32_t position() const { return position_; }

 private:
  Problem problem_ = Problem::kNone;
  std::int32_t position_ = -1;
};

// A value found, lent like an Entry, or none: a std::optional<std::string_view> whose
// value_or gives the fallback's own kind of text. With a std::string fallback it gives a
// std::string, a copy that cannot dangle; with a literal or a view, a view.
class Value : public std::optional<std::string_view> {
 public:
  using std::optional<std::string_view>::optional;
  Value(std::optional<std::string_view> found)
      : std::optional<std::string_view>(found) {}  // NOLINT
  std::string value_or(const std::string& fallback) const {
    return has_value() ? std::string(**this) : fallback;
  }
  std::string value_or(std::string&& fallback) const {
    return has_value() ? std::string(**this) : std::move(fallback);
  }
  std::string_view value_or(const char* fallback) const {
    return has_value()           ? **this
           : fallback == nullptr ? std::string_view()
                                 : std::string_view(fallback);
  }
  std::string_view value_or(std::string_view fallback) const {
    return has_value() ? **this : fallback;
  }
};

namespace detail {

// A std::string_view as the NUL-terminated string the C functions take: copied to the
// stack, or for long text to the heap (where memory running out stops the process, as it
// does in the C functions that keep text).
class CText {
 public:
  explicit CText(Text given) {
    const std::string_view text = given.view();
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
    const char c =
        text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
    if (c != word[i]) return false;
  }
  return true;
}

// A value's text, found at `position`, as a T. See SectionView::Get<T>.
template <typename T>
Parsed<T> Parse(std::string_view text, std::int32_t position) {
  if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
    return {T(text), position};
  } else if constexpr (std::is_same_v<T, bool>) {
    for (std::string_view yes : {"1", "true", "yes", "on"}) {
      if (EqualsIgnoringAsciiCase(text, yes)) return {true, position};
    }
    for (std::string_view no : {"0", "false", "no", "off"}) {
      if (EqualsIgnoringAsciiCase(text, no)) return {false, position};
    }
    return {Problem::kNotA, position};
  } else {
    static_assert(std::is_arithmetic_v<T>,
                  "Get<T> reads integers, floating point, bool, std::string and std::string_view");
    T value{};
    const char* const end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, value);
    if (result.ec == std::errc::result_out_of_range && result.ptr == end) {
      return {Problem::kOutOfRange, position};
    }
    if (result.ec != std::errc() || result.ptr != end) return {Problem::kNotA, position};
    return {value, position};
  }
}

// Why `key` = `value`, or a section named `name`, would not read back from a file as
// given; null when it would. A NUL inside the text is caught here, where the C functions
// would see the text end at it.
inline const char* EntryRefusal(std::string_view key, std::string_view value) {
  if (key.find('\0') != std::string_view::npos || value.find('\0') != std::string_view::npos) {
    return "text with a NUL, at which it would end";
  }
  return ini_check_entry(CText(key).get(), CText(value).get());
}
inline const char* NameRefusal(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return "text with a NUL, at which it would end";
  return ini_check_name(CText(name).get());
}

// Types that are characters, not numbers: Set() takes them as text only.
template <typename T>
constexpr bool kIsCharacter = std::is_same_v<T, char> || std::is_same_v<T, wchar_t> ||
                              std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;

// `value` as Get<T> reads it back exactly: decimal, the shortest floating point form that
// reads back the same, true or false.
template <typename T>
class Formatted {
 public:
  explicit Formatted(T value) {
    if constexpr (std::is_same_v<T, bool>) {
      text_ = value ? "true" : "false";
    } else {
      const std::to_chars_result end = std::to_chars(digits_, digits_ + sizeof digits_, value);
      text_ = std::string_view(digits_, static_cast<std::size_t>(end.ptr - digits_));
    }
  }
  std::string_view view() const { return text_; }

 private:
  char digits_[64];  // room for any long double's shortest form
  std::string_view text_;
};

// True for a null C string, which is no text.
template <typename V>
bool IsNull(const V& value) {
  if constexpr (std::is_same_v<V, Text>) {
    return value.null();
  } else if constexpr (std::is_convertible_v<const V&, const char*> && !std::is_array_v<V>) {
    return static_cast<const char*>(value) == nullptr;
  } else {
    return false;
  }
}

inline Changed Added(int added) { return added == 1 ? Changed::kAppended : Changed::kReplaced; }
inline Changed Removed(int removed) {
  return removed == 0 ? Changed::kRemoved : Changed::kNotFound;
}

}  // namespace detail

// Why Set() or Append() refuses `key` = `value` (Changed::kRefused), or null when it takes
// them: a key that is empty, or begins or ends with a space, or holds '=', CR or LF; a value
// that begins or ends with a space, or holds CR or LF; a NUL in either. A file would give
// back something else. NameRefusal: why Document::Set refuses to make a section of that
// name: empty, or with CR, LF, ';', '\\' or '='.
inline const char* Refusal(Text key, Text value) {
  return detail::EntryRefusal(key.view(), value.view());
}
inline const char* NameRefusal(Text name) { return detail::NameRefusal(name.view()); }

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
  static Entry At(const IniSection* section, std::int32_t position) {
    const IniEntry* entry = section->entries[position];
    return {entry->key, entry->value};
  }
};

// Every value of one key in a section, in position order, for range-for: lent like an
// Entry's value.
class Values {
 public:
  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;
    iterator() = default;
    iterator(const Values* values, std::int32_t position) : values_(values), position_(position) {
      Seek();
    }
    std::string_view operator*() const { return value_; }
    iterator& operator++() {
      ++position_;
      Seek();
      return *this;
    }
    bool operator==(const iterator& other) const { return position_ == other.position_; }
    bool operator!=(const iterator& other) const { return position_ != other.position_; }

   private:
    void Seek() {
      const char* found =
          values_ == nullptr || position_ < 0
              ? nullptr
              : ini_find_value(values_->section_, values_->key_.c_str(), &position_);
      value_ = found == nullptr ? std::string_view() : std::string_view(found);
      if (found == nullptr) position_ = -1;
    }
    const Values* values_ = nullptr;
    std::int32_t position_ = -1;
    std::string_view value_;
  };
  Values(const IniSection* section, std::string key) : section_(section), key_(std::move(key)) {}
  iterator begin() const { return {this, section_ == nullptr ? -1 : 0}; }
  iterator end() const { return {}; }

 private:
  const IniSection* section_;
  std::string key_;
};

// A section held elsewhere (by a document, or by a Section), to read: lent, valid until
// that section is replaced, removed or released. A const Document gives only these. May be
// empty (from a lookup that found nothing, or an empty owner): then it tests false, and
// every read finds nothing: Name() is empty, Size() 0, Get() nothing, and the loop over it
// sees no entry.
class ConstSectionView {
 public:
  ConstSectionView() = default;
  explicit ConstSectionView(const IniSection* section) : section_(section) {}
  explicit operator bool() const { return section_ != nullptr; }
  const IniSection* get() const { return section_; }

  // Lent like the section.
  std::string_view Name() const {
    return section_ == nullptr ? std::string_view() : section_->name;
  }
  std::int32_t Size() const { return section_ == nullptr ? 0 : section_->count; }

  // The value of the first entry with `key`; lent like an Entry.
  Value Get(Text key) const {
    const char* value = key.null() ? nullptr : ini_get_value(section_, detail::CText(key).get());
    if (value == nullptr) return std::nullopt;
    return std::string_view(value);
  }
  // The value of the first entry with `key` as a T (a Parsed<T>): nothing, with
  // Problem::kMissing, when there is no such entry; nothing, with kNotA or kOutOfRange, when
  // its value is not a T. The whole value must be the number or truth value:
  //   - integers: decimal digits, with '-' before them for signed types; no '+', no spaces,
  //     no 0x;
  //   - floating point: as std::from_chars reads it: 1.5, -2e3, inf, nan; no '+';
  //   - bool: 1, true, yes, on and 0, false, no, off, in any ASCII case;
  //   - std::string: a copy of the value; std::string_view: the value, lent.
  // A character type (char) is text, not a number: read a std::string instead.
  template <typename T, std::enable_if_t<!detail::kIsCharacter<T>, int> = 0>
  Parsed<T> Get(Text key) const {
    std::int32_t position = 0;
    const char* value =
        key.null() ? nullptr : ini_find_value(section_, detail::CText(key).get(), &position);
    if (value == nullptr) return {Problem::kMissing, -1};
    return detail::Parse<T>(value, position);
  }
  template <typename T, std::enable_if_t<detail::kIsCharacter<T>, int> = 0>
  Parsed<T> Get(Text key) const = delete;
  // Every value of `key`, in position order: a repeated key's too.
  Values GetAll(Text key) const {
    return Values(key.null() ? nullptr : section_, std::string(key.view()));
  }

  // The entries in position order.
  using iterator = PositionIterator<const IniSection, EntryAt>;
  iterator begin() const { return {section_, 0}; }
  iterator end() const { return iterator::End(section_); }

 protected:
  const IniSection* section_ = nullptr;
};

// A section held elsewhere, to read and change: what a Document that is not const gives.
// An empty view changes nothing and says so: Set() and Remove() give Changed::kFailed.
class SectionView : public ConstSectionView {
 public:
  SectionView() = default;
  explicit SectionView(IniSection* section) : ConstSectionView(section) {}
  IniSection* get() const { return const_cast<IniSection*>(section_); }

  // Stores copies of `key` and `value`: kAppended for a new entry, kReplaced when the first
  // entry with `key` got the value, kFailed (nothing stored) for an empty view or no text,
  // kRefused (nothing stored) for a key or value a file would not give back as given (see
  // Refusal). A number or bool is written as Get<T> reads it back exactly: integers in
  // decimal, floating point in the shortest form that reads back the same (std::to_chars),
  // bool as true or false; NaN and the infinities are refused. A character (char) is
  // refused at compile time: pass a string.
  Changed Set(Text key, Text value) const {
    if (section_ == nullptr || key.null() || value.null()) return Changed::kFailed;
    if (detail::EntryRefusal(key.view(), value.view()) != nullptr) return Changed::kRefused;
    return detail::Added(
        ini_set_value(get(), detail::CText(key).get(), detail::CText(value).get()));
  }
  template <typename T,
            std::enable_if_t<std::is_arithmetic_v<T> && !detail::kIsCharacter<T>, int> = 0>
  Changed Set(Text key, T value) const {
    if constexpr (std::is_floating_point_v<T>) {
      if (!(value - value == 0)) return section_ == nullptr ? Changed::kFailed : Changed::kRefused;
    }
    return Set(key, Text(detail::Formatted<T>(value).view()));
  }
  // A character would be written as its number: pass a string instead.
  template <typename T, std::enable_if_t<detail::kIsCharacter<T>, int> = 0>
  Changed Set(Text key, T value) const = delete;
  // Appends another entry with copies of `key` and `value`, also where `key` is held
  // already (a repeat: lookups find the first): kAppended, kFailed for an empty view or no
  // text, kRefused as for Set.
  Changed Append(Text key, Text value) const {
    if (section_ == nullptr || key.null() || value.null()) return Changed::kFailed;
    if (detail::EntryRefusal(key.view(), value.view()) != nullptr) return Changed::kRefused;
    return ini_append_value(get(), detail::CText(key).get(), detail::CText(value).get()) == 1
               ? Changed::kAppended
               : Changed::kFailed;
  }
  // kRemoved when the first entry with `key` was removed, kNotFound when there was none,
  // kFailed for an empty view or no text.
  Changed Remove(Text key) const {
    if (section_ == nullptr || key.null()) return Changed::kFailed;
    return detail::Removed(ini_remove_key(get(), detail::CText(key).get()));
  }
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
struct ConstSectionAt {
  using Value = ConstSectionView;
  static ConstSectionView At(const IniDocument* document, std::int32_t position) {
    return ConstSectionView(document->sections[position]);
  }
};

// A section that no document holds yet, owned: released with it unless given to a
// document with Document::Add. Move-only; a moved-from or empty owner tests false, and its
// View() is empty.
class Section {
 public:
  // A new empty section with its own copy of `name`; an empty owner when `name` is no text.
  explicit Section(Text name)
      : section_(name.null() ? nullptr : ini_new_section(detail::CText(name).get())) {}
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
  static Section Copy(SectionView source, Text new_name) {
    return Adopt(source && !new_name.null()
                     ? ini_copy_section(source.get(), detail::CText(new_name).get())
                     : nullptr);
  }

  explicit operator bool() const { return section_ != nullptr; }
  // Lent: valid while this owner holds the section (and, once it is added, as long as
  // the document holds it). A const owner gives a view to read.
  SectionView View() { return SectionView(section_.get()); }
  ConstSectionView View() const { return ConstSectionView(section_.get()); }
  IniSection* get() { return section_.get(); }
  const IniSection* get() const { return section_.get(); }
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

// Whether a load for editing holds the file's edit lock until the store (see
// ini_load_file_for_editing_locked).
enum class Hold { kNothing, kLock };

// What a store did: `code` is ini_store_file's (0 saved, -1 nothing created, -2 not
// saved, -3 refused; for StoreEdits also -4 and -5), and `reason` says why not in short
// English (static; "" for 0): "no document" for an empty owner, Check()'s reason for -3.
// `cause` is the system's reason for -1 and -2 where it gave one ("no such file or
// directory", "no space left on the device"; "" else), and `section` and `key` name what
// -3 refuses (lent from the document, like a view; an empty key for a section's name).
// Message() joins them into one line.
struct StoreResult {
  StoreResult(int code_, const char* reason_, const char* cause_ = "",
              std::string_view section_ = {}, std::string_view key_ = {})
      : code(code_), reason(reason_), cause(cause_), section(section_), key(key_) {}
  int code;
  const char* reason;
  const char* cause;
  std::string_view section;
  std::string_view key;
  explicit operator bool() const { return code == 0; }
  std::string Message() const {
    std::string message = reason;
    if (*cause != '\0') message += std::string(": ") + cause;
    if (!section.empty() || !key.empty()) {
      message = (key.empty()
                     ? "section '" + std::string(section) + "'"
                     : "key '" + std::string(key) + "' in section '" + std::string(section) + "'") +
                ": " + message;
    }
    return message;
  }
};
inline bool operator==(const StoreResult& result, int code) { return result.code == code; }
inline bool operator!=(const StoreResult& result, int code) { return result.code != code; }

// A document, owned: released with the object. Move-only; a moved-from or failed-to-load
// document is empty: it tests false, holds no section, finds nothing, adds, removes and
// stores nothing (Changed::kFailed; Store gives -1, "no document").
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
  // LoadFile, giving a new empty document (and `created`) when, and only when, the file
  // does not exist: the first run of a program whose settings file is yet to be written.
  // A file that exists but cannot be read or is rejected is an error as for LoadFile.
  static LoadResult LoadOrNew(const std::filesystem::path& path);
  // ini_load_file_for_editing and ini_load_memory_for_editing: a document that keeps its
  // file's text, for StoreEdits, which writes only the changes into it and keeps every other
  // byte (comments, blank lines, spacing, escapes, line ends). See ini.h.
  // With Hold::kLock, as ini_load_file_for_editing_locked: the file's edit lock is held
  // from before the read until StoreEdits puts the next file in place, or the document is
  // released (INI_BUSY in the report when another held it past the wait).
  static LoadResult LoadForEditing(const std::filesystem::path& path, Hold hold = Hold::kNothing);
  static LoadResult LoadMemoryForEditing(std::string_view bytes);
  // LoadForEditing, or a new empty document as LoadOrNew gives one when the file does not
  // exist; StoreEdits then writes it only where no file is yet.
  static LoadResult LoadForEditingOrNew(const std::filesystem::path& path,
                                        Hold hold = Hold::kNothing);

  explicit operator bool() const { return document_ != nullptr; }
  // A const document lends a pointer that cannot change it.
  IniDocument* get() { return document_.get(); }
  const IniDocument* get() const { return document_.get(); }
  // Gives up ownership: the caller releases the document with ini_free_document.
  IniDocument* release() { return document_.release(); }

  std::int32_t Size() const { return document_ == nullptr ? 0 : document_->count; }
  // The sections in position order: SectionViews, or ConstSectionViews of a const document.
  using iterator = PositionIterator<IniDocument, SectionAt>;
  using const_iterator = PositionIterator<const IniDocument, ConstSectionAt>;
  iterator begin() { return {get(), 0}; }
  iterator end() { return iterator::End(get()); }
  const_iterator begin() const { return {get(), 0}; }
  const_iterator end() const { return const_iterator::End(get()); }

  // The first section named `name`; an empty view when there is none. A const document
  // gives a view that can only read.
  SectionView Find(Text name) {
    return SectionView(name.null() ? nullptr : ini_find_section(get(), detail::CText(name).get()));
  }
  ConstSectionView Find(Text name) const {
    return ConstSectionView(name.null() ? nullptr
                                        : ini_find_section(get(), detail::CText(name).get()));
  }
  // The value of `key` in the first section named `section`, as text or as a T (see
  // ConstSectionView::Get<T>).
  Value Get(Text section, Text key) const { return Find(section).Get(key); }
  template <typename T, std::enable_if_t<!detail::kIsCharacter<T>, int> = 0>
  Parsed<T> Get(Text section, Text key) const {
    return Find(section).template Get<T>(key);
  }
  template <typename T, std::enable_if_t<detail::kIsCharacter<T>, int> = 0>
  Parsed<T> Get(Text section, Text key) const = delete;
  // Every value of `key` in the first section named `section`.
  Values GetAll(Text section, Text key) const { return Find(section).GetAll(key); }
  // Sets `key` to `value` in the first section named `section`, which is appended first
  // when the document holds none of that name; numbers and bool as SectionView::Set writes
  // them. kAppended, kReplaced, kFailed (nothing stored) for an empty document or no text,
  // or kRefused (nothing stored, no section made) for a name, key or value a file would not
  // give back as given.
  template <typename V, typename = decltype(std::declval<SectionView>().Set(
                            std::declval<Text>(), std::declval<const V&>()))>
  Changed Set(Text section, Text key, const V& value) {
    if (!*this || section.null() || key.null() || detail::IsNull(value)) return Changed::kFailed;
    SectionView found = Find(section);
    if (!found) {
      if (detail::NameRefusal(section.view()) != nullptr) return Changed::kRefused;
      Section made(section);
      const Changed set = made.View().Set(key, value);
      if (set != Changed::kAppended) return set;  // refused: the section is not kept
      Add(std::move(made));
      return set;
    }
    return found.Set(key, value);
  }
  // Makes every lookup, replacement and removal by name in this document ignore ASCII case
  // (see ini_set_ignore_case), or, with false, compare byte for byte again. False for an
  // empty document.
  bool IgnoreCase(bool ignore = true) { return ini_set_ignore_case(get(), ignore ? 1 : 0) == 0; }
  // Takes `section` over: kAppended, or kReplaced when it took the place of the first section
  // of the same name, which is released. An empty section, or an empty document, adds
  // nothing and gives kFailed (an empty document releases the section).
  Changed Add(Section section) {
    if (!*this || !section) return Changed::kFailed;
    return detail::Added(ini_add_section(get(), section.release()));
  }
  // kRemoved when the first section named `name` was removed (and released), kNotFound when
  // there was none, kFailed for an empty document or no text.
  Changed Remove(Text name) {
    if (!*this || name.null()) return Changed::kFailed;
    return detail::Removed(ini_remove_section(get(), detail::CText(name).get()));
  }

  // ini_store_file, with the path handed to the system whole as for LoadFile; see
  // StoreResult.
  StoreResult Store(const std::filesystem::path& path) const {
    if (!*this) return {-1, "no document"};
    quorva::StoreNote note;
    return Result(quorva::StoreNativePath(get(), path.c_str(), false, &note), note);
  }
  // ini_store_edits, with the path handed to the system whole: as Store, -4 when the file
  // changed since it was loaded or last stored (or, for a document with no file of its
  // own, when one is there), and -5 when another program held the file's edit lock past the
  // wait. Changes the document's record of its file, hence not const.
  StoreResult StoreEdits(const std::filesystem::path& path) {
    if (!*this) return {-1, "no document"};
    quorva::StoreNote note;
    const int code = quorva::StoreNativePath(get(), path.c_str(), true, &note);
    switch (code) {
      case -3:
        return Refused(CheckEdits());
      case -4:
        return {-4,
                note.no_file_of_its_own
                    ? "a file is there, and the document has none of its own; load it to edit it"
                    : "the file changed since it was loaded or last stored; load it again"};
      case -5:
        return {-5, "another program held the file's edit lock past the wait"};
      default:
        return Result(code, note);
    }
  }
  // ini_check_edits: Check() for what StoreEdits would write.
  std::optional<IniCheckReport> CheckEdits() const {
    IniCheckReport report;
    const int result = ini_check_edits(get(), &report);
    if (result == 0) return std::nullopt;
    if (result == -1) report.reason = "no document";
    return report;
  }
  // The bytes StoreEdits would write; tests false for -3 or when memory ran out.
  Bytes StoreEditsMemory() const {
    std::size_t size = 0;
    char* bytes = ini_store_edits_memory(get(), &size);
    return Bytes(bytes, size);
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
  StoreResult Result(int code, const quorva::StoreNote& note) const {
    switch (code) {
      case 0:
        return {0, ""};
      case -1:
        return {-1, "the file cannot be created, or may not be written", note.cause};
      case -2:
        return {-2,
                note.cut_short ? "a write in place failed; the file may be cut short"
                               : "a write, the flush or the move failed; the old file is whole",
                note.cause};
      default:
        return Refused(Check());
    }
  }
  // -3, naming what is refused.
  StoreResult Refused(const std::optional<IniCheckReport>& fault) const {
    if (!fault || fault->section < 0 || fault->section >= Size()) {
      return {-3, "the document cannot be written"};
    }
    const IniSection* section = get()->sections[fault->section];
    StoreResult result{-3, fault->reason, "", section->name};
    if (fault->entry >= 0) result.key = ini_key_at(section, fault->entry);
    return result;
  }
  std::unique_ptr<IniDocument, FreeDocument> document_;
};

// What a load gives: the document, or an empty one and the report of why.
struct LoadResult {
  Document document;
  IniLoadReport report;
  bool created = false;  // LoadOrNew: the file was not there, and the document is new
  explicit operator bool() const { return static_cast<bool>(document); }
};

inline LoadResult Document::LoadFile(const std::filesystem::path& path) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(quorva::LoadNativePath(path.c_str(), &result.report));
  return result;
}

namespace detail {

// LoadOrNew and LoadForEditingOrNew.
inline LoadResult LoadOrNew(const std::filesystem::path& path, quorva::LoadHow how) {
  LoadResult result{Document::Adopt(nullptr), {}};
  if (path.empty()) {  // no file: not one that does not exist yet
    result.report = {INI_CANNOT_OPEN, 0, "cannot open the file: no path was given", 0};
    return result;
  }
  bool missing = false;
  result.document =
      Document::Adopt(quorva::LoadNativePath(path.c_str(), &result.report, &missing, how));
  if (missing) {
    result.document = Document();
    result.report = {INI_LOADED, 0, "", 0};
    result.created = true;
  }
  return result;
}

}  // namespace detail

inline LoadResult Document::LoadOrNew(const std::filesystem::path& path) {
  return detail::LoadOrNew(path, quorva::LoadHow::kPlain);
}

namespace detail {
inline quorva::LoadHow ForEditing(Hold hold) {
  return hold == Hold::kLock ? quorva::LoadHow::kEditingLocked : quorva::LoadHow::kEditing;
}
}  // namespace detail

inline LoadResult Document::LoadForEditingOrNew(const std::filesystem::path& path, Hold hold) {
  return detail::LoadOrNew(path, detail::ForEditing(hold));
}

inline LoadResult Document::LoadForEditing(const std::filesystem::path& path, Hold hold) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(
      quorva::LoadNativePath(path.c_str(), &result.report, nullptr, detail::ForEditing(hold)));
  return result;
}

inline LoadResult Document::LoadMemoryForEditing(std::string_view bytes) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(ini_load_memory_for_editing(bytes.data(), bytes.size(), &result.report));
  return result;
}

inline LoadResult Document::LoadMemory(std::string_view bytes) {
  LoadResult result{Adopt(nullptr), {}};
  result.document = Adopt(ini_load_memory(bytes.data(), bytes.size(), &result.report));
  return result;
}

}  // namespace ini

#endif  // INI_INI_HPP_
