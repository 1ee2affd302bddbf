// What each byte means to the format, and the rules built from those meanings. The reader's
// two paths (byte by byte, and whole plain lines), the kernels that find the bytes, the
// writer, the editor and ini-check's diagnostics take them from here, and the line scan's
// test checks every kernel against the sets below, byte by byte. Not installed: the
// project's programs may include it, as they may include ini/project_internal.h.
#ifndef INI_FORMAT_H_
#define INI_FORMAT_H_

#include <cstddef>

namespace quorva::ini_format {

// Ends a physical line.
inline constexpr char kLineFeed = '\n';
// Ignored wherever it stands: a line may end in CR LF, and an escape reaches past CRs.
inline constexpr char kCarriageReturn = '\r';
// Starts a comment, which runs to the end of its physical line, escapes inside it included.
inline constexpr char kComment = ';';
// Escapes the next byte that is no CR: a line feed joins the next physical line to this
// one; ';' and '\' become ordinary text; before any other byte the escape is dropped, and
// that byte keeps its role.
inline constexpr char kEscape = '\\';
// Parts a key line into its key and its value, at the line's first one.
inline constexpr char kSeparator = '=';
// The one space: a line's text, a key and a value lose the spaces at their ends. A tab is
// an ordinary byte.
inline constexpr char kSpace = ' ';
// Around a section header's name: a line's text that starts with '[' and ends with ']'.
inline constexpr char kOpen = '[';
inline constexpr char kClose = ']';
// Ends the string of a line's text where it stands, as in any C string.
inline constexpr char kNul = '\0';

// The bytes that end a run of text the reader can take as it stands: the kernels' first
// set. (Their second is kSeparator alone.)
constexpr bool EndsPlainText(char c) {
  return c == kLineFeed || c == kCarriageReturn || c == kComment || c == kEscape || c == kNul;
}

// The bytes an escape makes ordinary text, and so the ones the writer escapes.
constexpr bool Escapable(char c) { return c == kComment || c == kEscape; }

// The bytes of a key that the writer cannot put as they stand: it escapes some and refuses
// the others (a key would end at '=', and a line break would cut it).
constexpr bool KeyNeedsCare(char c) {
  return Escapable(c) || c == kLineFeed || c == kCarriageReturn || c == kSeparator;
}
// The same for a value, which runs to the end of its line.
constexpr bool ValueNeedsCare(char c) { return Escapable(c) || c == kLineFeed; }

// Whether a line's text (its outer spaces gone) is a section header.
constexpr bool IsHeader(const char* text, std::size_t length) {
  return length >= 3 && text[0] == kOpen && text[length - 1] == kClose;
}

// Where the byte that the escape at `at` takes stands in bytes[at, end): behind the CRs that
// follow the escape, or `end` when the bytes end first.
constexpr std::size_t EscapedByte(const char* bytes, std::size_t at, std::size_t end) {
  std::size_t i = at + 1;
  while (i < end && bytes[i] == kCarriageReturn) ++i;
  return i;
}

// Where a comment starts in the physical line bytes[start, end) (without its line feed),
// as the reader finds it: the first ';' that no escape takes; `end` when there is none.
constexpr std::size_t CommentIn(const char* bytes, std::size_t start, std::size_t end) {
  for (std::size_t i = start; i < end; ++i) {
    if (bytes[i] == kEscape) {
      i = EscapedByte(bytes, i, end);
    } else if (bytes[i] == kComment) {
      return i;
    }
  }
  return end;
}

}  // namespace quorva::ini_format

namespace ini_format = quorva::ini_format;

#endif  // INI_FORMAT_H_
