// What a logical line becomes: a section or an entry of the document (or only a line told
// to an observer), or the bad line that rejects the file. The loader (reader.cc) finds the
// lines and hands each over here; kept apart from the bytes, and inline, since it runs for
// nearly every line.
#ifndef INI_LINE_BUILDER_H_
#define INI_LINE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ini/format.h"
#include "ini/io.h"
#include "ini/records.h"

namespace quorva::ini_detail {

// The first '=' of a key line, or null when the line is none.
inline char* KeyLineEquals(char* line, std::size_t length) {
  auto* equals = static_cast<char*>(std::memchr(line, ini_format::kSeparator, length));
  return equals != line ? equals : nullptr;
}

// Turns "[name]" into "name" in place: the name starts behind the '['.
inline char* StripBrackets(char* line, std::size_t length) {
  line[length - 1] = ini_format::kNul;
  return line + 1;
}

// Splits a key line in place at its first '=', dropping the spaces around it.
inline void SplitKeyValue(char* line, char* equals, char** key, char** value) {
  *equals = ini_format::kNul;
  for (char* p = equals - 1; p > line && *p == ini_format::kSpace; --p) *p = ini_format::kNul;
  char* rest = equals + 1;
  while (*rest == ini_format::kSpace) ++rest;
  *key = line;
  *value = rest;
}

inline constexpr char kNoHeaderFirst[] = "expected a section header '[name]' on the first line";
inline constexpr char kNeitherKeyNorHeader[] =
    "expected a key line 'key = value' or a section header '[name]'";

// Builds the document of a load from its logical lines, and remembers the first bad one.
// The loader keeps `line_start_` and `column_start_` at where the line being taken began
// (its physical line and its byte in it, 1-based), for a report; for a load for editing,
// `logical_start_` and `line_end_` at where it stands in the file.
class LineBuilder {
 public:
  LineBuilder(IniDocument* document, LineObserver* observer, Build build, KeptSource* kept)
      : document_(document),
        arena_(ArenaOf(document)),
        observer_(observer),
        build_(build == Build::kDocument),
        kept_(kept),
        kept_tail_(kept != nullptr ? &kept->first : nullptr) {}

  IniLoadOutcome failure_ = INI_LOADED;
  const char* offence_ = nullptr;  // the first bad line's
  std::int64_t offence_line_ = 0;
  std::int64_t offence_column_ = 0;
  std::int64_t stopped_line_ = 0;  // where the observer asked to stop
  std::int64_t stopped_column_ = 0;

 protected:
  // Takes a logical line of `length` bytes at `line`, ended by a NUL, whose first '=' is
  // `equals` (null when none, or when it is the first byte). The first line must be a
  // header; each later line is tested as a key line first, and only a line that is no key
  // line may be a header. Inlined where it is called: the loop of whole lines, which calls
  // it for nearly every line, would otherwise pay for a call of its size on each.
  [[gnu::always_inline]] bool Take(char* line, std::size_t length, char* equals) {
    const bool first = !seen_line_;
    seen_line_ = true;
    if (!first && equals != nullptr) return AddEntry(line, equals);
    if (ini_format::IsHeader(line, length)) return AddSection(StripBrackets(line, length));
    return BadLine(line, first ? kNoHeaderFirst : kNeitherKeyNorHeader);
  }

  bool Fail(IniLoadOutcome outcome) {
    failure_ = outcome;
    return false;
  }

  // Where the line just ended stood in the file, for a load for editing.
  void KeepLine(KeptLine* line, bool is_section) {
    *line = {nullptr, logical_start_, line_end_, is_section};
    *kept_tail_ = line;
    kept_tail_ = &line->next;
  }

  // A line that breaks the structure rejects the file. An observer is told, and the load
  // goes on with the next line; the first bad line is the one reported. Kept out of the
  // path of good lines, which it would slow down if it were inlined there.
  [[gnu::noinline]] bool BadLine(const char* line, const char* reason) {
    if (offence_ == nullptr) {
      offence_ = reason;
      offence_line_ = line_start_;
      offence_column_ = column_start_;
    }
    return observer_ == nullptr ? Fail(INI_SYNTAX_ERROR)
                                : Tell(INI_BAD_LINE, nullptr, nullptr, line, reason);
  }

  // Hands a line to the observer; one that asks to stop ends the load there.
  [[gnu::noinline]] bool Tell(IniLineKind kind, const char* key, const char* value,
                              const char* text, const char* reason) {
    if (observer_->OnLine(
            {kind, line_start_, column_start_, section_name_, key, value, text, reason})) {
      return true;
    }
    stopped_line_ = line_start_;
    stopped_column_ = column_start_;
    return Fail(INI_STOPPED);
  }

  bool AddSection(char* name) {
    section_name_ = name;
    if (build_) {
      IniSection* section = NewCarvedSection(arena_, name, kept_ != nullptr);
      if (section == nullptr || !AppendSection(document_, section)) return Fail(INI_OUT_OF_MEMORY);
      section_ = section;
      if (kept_ != nullptr) {
        KeepLine(&KeptOf(section)->line, true);
        KeptOf(section)->body_end = line_end_;
        logical_start_ = line_end_;
      }
    }
    return observer_ == nullptr || Tell(INI_HEADER, nullptr, nullptr, nullptr, nullptr);
  }

  bool AddEntry(char* line, char* equals) {
    IniEntry split;
    IniEntry* entry = &split;
    if (build_) {
      entry = static_cast<IniEntry*>(
          arena_->Allocate(kept_ != nullptr ? sizeof(KeptEntry) : sizeof(IniEntry)));
      if (entry == nullptr) return Fail(INI_OUT_OF_MEMORY);
    }
    SplitKeyValue(line, equals, &entry->key, &entry->value);
    if (kept_ != nullptr && section_ != nullptr) {
      KeepLine(&KeptOf(entry)->line, false);
      KeptOf(entry)->loaded_value = entry->value;
      KeptOf(section_)->body_end = line_end_;
      logical_start_ = line_end_;
    }
    // Only an observed load, past a bad first line, meets key lines before any section.
    if (build_ && section_ != nullptr && !AppendEntry(section_, entry))
      return Fail(INI_OUT_OF_MEMORY);
    return observer_ == nullptr || Tell(INI_ENTRY, entry->key, entry->value, nullptr, nullptr);
  }

  IniDocument* document_;
  Arena* arena_;
  IniSection* section_ = nullptr;  // the section that key lines go to
  const char* section_name_ = "";  // and its name, also when no document is built
  LineObserver* observer_;
  const bool build_;  // records are made for a document, not only lines told
  // A load for editing: the file's bytes and lines, where the line being gathered began in
  // the file and where it ended; else null.
  KeptSource* kept_;
  KeptLine** kept_tail_;
  std::uint64_t logical_start_ = 0;
  std::uint64_t line_end_ = 0;
  bool seen_line_ = false;  // a logical line has ended
  std::int64_t line_start_ = 0;
  std::int64_t column_start_ = 0;
};

}  // namespace quorva::ini_detail

#endif  // INI_LINE_BUILDER_H_
