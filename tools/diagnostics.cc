// Diagnostics of INI files as compilers give them, for the tools: FILE:LINE:COLUMN: error:
// reason, the line, a caret, and a note with a hint; warnings of what a file surely does
// not mean; and the file as the library reads it.
#include "diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ini/format.h"
#include "ini/ini.h"

namespace tools {

using ini_format::kCarriageReturn;
using ini_format::kComment;
using ini_format::kEscape;
using ini_format::kLineFeed;
using ini_format::kSeparator;
using ini_format::kSpace;

namespace {

constexpr int kErrorLimit = 20;  // bad lines shown for one file
constexpr std::size_t kShownBytes = 160;

// One diagnostic: where, what kind, why, and a hint when one helps.
struct Diagnostic {
  std::int64_t line;
  std::int64_t column;
  const char* kind;  // "error" or "warning"
  std::string message;
  std::string note;                             // a hint, or empty
  std::int64_t note_line = 0, note_column = 0;  // where the note points, when elsewhere
};

// The physical lines of a file, for showing the line of a diagnostic.
class Lines {
 public:
  explicit Lines(const std::string& bytes) : bytes_(bytes) {
    starts_.push_back(0);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == kLineFeed) starts_.push_back(i + 1);
    }
  }
  std::int64_t count() const { return static_cast<std::int64_t>(starts_.size()); }
  // Physical line `line` (from 1), without its line feed and a CR before it.
  std::string At(std::int64_t line) const {
    const auto index = static_cast<std::size_t>(line - 1);
    if (line < 1 || index >= starts_.size()) return "";
    const std::size_t start = starts_[index];
    std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] - 1 : bytes_.size();
    if (end > start && bytes_[end - 1] == kCarriageReturn) --end;
    return bytes_.substr(start, end - start);
  }

 private:
  const std::string& bytes_;
  std::vector<std::size_t> starts_;
};

// `text` as shown in a diagnostic: control bytes but tab become '?', so that the caret
// below stays aligned; a long line is cut behind the column.
std::string Shown(const std::string& text, std::int64_t column) {
  std::string shown = text;
  const std::size_t keep =
      std::max<std::size_t>(kShownBytes, static_cast<std::size_t>(column) + 40);
  if (shown.size() > keep) shown = shown.substr(0, keep) + " ...";
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t') c = '?';
  }
  return shown;
}

// Spaces up to `column`, with the line's own tabs kept so the caret lines up, and UTF-8
// continuation bytes taking no room.
std::string Indent(const std::string& text, std::int64_t column) {
  std::string indent;
  for (std::size_t i = 0; i + 1 < static_cast<std::size_t>(column) && i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\t') {
      indent += '\t';
    } else if ((c & 0xC0) != 0x80) {
      indent += ' ';
    }
  }
  return indent;
}

bool HasLoneCr(const std::string& line) {
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (line[i] == kCarriageReturn && line[i + 1] != kLineFeed) return true;
  }
  return false;
}

// What the reader makes of one physical line's bytes, as far as the diagnostics need them.
struct Scan {
  std::size_t comment = std::string::npos;  // where a ';' starts a comment
  std::size_t lone = std::string::npos;     // the first '\' that escapes nothing, dropped
  char lone_before = 0;                     // and the byte after it, which it leaves alone
  bool continues = false;                   // the line ends in a '\' outside a comment
};

// Scans the physical line `raw` as the reader reads it: a '\' makes the next byte but CRs
// an ordinary one when it is ';' or '\', joins the next line at the line's end, and is
// dropped before any other byte, which keeps its role.
Scan ScanLine(const std::string& raw) {
  Scan scan;
  scan.comment = ini_format::CommentIn(raw.data(), 0, raw.size());
  for (std::size_t i = 0; i < scan.comment; ++i) {
    if (raw[i] != kEscape) continue;
    const std::size_t next = ini_format::EscapedByte(raw.data(), i, raw.size());
    if (next == raw.size()) {
      scan.continues = true;
    } else if (ini_format::Escapable(raw[next])) {
      i = next;
    } else if (scan.lone == std::string::npos) {
      scan.lone = i;
      scan.lone_before = raw[next];
    }
  }
  if (scan.comment == raw.size()) scan.comment = std::string::npos;
  return scan;
}

std::size_t CommentStart(const std::string& raw) { return ScanLine(raw).comment; }

// True when `raw`, a physical line on its own, reads as a key line or a section header.
bool ReadsAsALine(const std::string& raw) {
  const std::size_t start = raw.find_first_not_of(kSpace);
  if (start == std::string::npos) return false;
  const std::string text = raw.substr(start, CommentStart(raw) - start);
  const std::size_t equals = text.find(kSeparator);
  const std::size_t end = text.find_last_not_of(kSpace);
  return (equals != std::string::npos && equals > 0) ||
         (end != std::string::npos && ini_format::IsHeader(text.data(), end + 1));
}

// What probably went wrong on a bad line, from its bytes as written and as read, and the
// physical line before it. `first` tells the file's first logical line.
std::string HintFor(const IniLine& event, const std::string& raw, const std::string& before,
                    const std::string& bytes, bool first) {
  const std::string text = event.text;
  if (event.line == 1 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    return "the file begins with a UTF-8 byte order mark, which the format does not know; "
           "save the file without it";
  }
  if (HasLoneCr(raw)) return "CR alone does not end a line; end lines with LF or CR LF";
  if (!first && !raw.empty() && (raw[0] == ' ' || raw[0] == '\t')) {
    return "an indented line does not continue the line before; end that line with '\\' to "
           "continue it";
  }
  if (text[0] == '#') return "'#' does not start a comment; start comments with ';'";
  const std::size_t comment = CommentStart(raw);
  if (text == "[]") return "a section needs a name between its brackets";
  if (text[0] == '[') {
    if (comment != std::string::npos && raw.find(']', comment) != std::string::npos) {
      return "';' starts a comment, also in a section header; write '\\;' for a ';' in a name";
    }
    return "a section header ends with ']'";
  }
  if (first) return "a file's first line must be a section header, '[name]'";
  if (text[0] == '=') return "a key line needs a key before its '='";
  if (text.find('=') == std::string::npos && comment != std::string::npos &&
      raw.find('=', comment) != std::string::npos) {
    return "';' starts a comment, also in a key, and the line ends before it; write '\\;' for a "
           "';' in a key";
  }
  if (text.find('=') != std::string::npos)
    return "key lines belong to a section: put a header before it";
  if (text.find(':') != std::string::npos) return "use '=' between a key and its value";
  if (!before.empty() && before.back() == '\\' && before.find(';') != std::string::npos) {
    return "the line before ends in '\\' inside a comment, where it does not continue a line";
  }
  return "a key line needs '=' between its key and its value";
}

// Gathers the errors and warnings of one file as the library reads it, line by line, and
// what --dump shows of it.
class Checker {
 public:
  Checker(const std::string& bytes, bool warnings)
      : bytes_(bytes), lines_(bytes), warnings_(warnings) {}

  // An IniLineHandler, with the checker as its user.
  static int Handle(void* checker, const IniLine* line) {
    return static_cast<Checker*>(checker)->OnLine(*line);
  }

  bool OnLine(const IniLine& event) {
    const std::string raw = lines_.At(event.line);
    switch (event.kind) {
      case INI_BAD_LINE:
        diagnostics_.push_back(
            {event.line, event.column, "error", event.reason,
             HintFor(event, raw, lines_.At(event.line - 1), bytes_, !seen_line_)});
        ++errors_;
        break;
      case INI_HEADER:
        if (warnings_) {
          Repeated(&sections_, event, event.section,
                   "section '" + Visible(event.section, Part::kName) + "'");
          HeaderWarnings(event);
          EscapeWarnings(event);
        }
        keys_.clear();
        dump_ += "[" + Visible(event.section, Part::kName) + "]\n";
        break;
      case INI_ENTRY:
        if (warnings_) {
          EntryWarnings(event, raw);
          EscapeWarnings(event);
        }
        dump_ += Visible(event.key, Part::kKey) + "=" + Visible(event.value, Part::kValue) + "\n";
        break;
    }
    seen_line_ = true;
    return errors_ < kErrorLimit;
  }

  const std::vector<Diagnostic>& diagnostics() const { return diagnostics_; }
  int errors() const { return errors_; }
  const Lines& lines() const { return lines_; }
  // The file as the library reads it, a line for each header and each entry.
  const std::string& dump() const { return dump_; }

 private:
  using Firsts = std::map<std::string, std::pair<std::int64_t, std::int64_t>>;

  // A name seen before in the same scope: lookups find only the first.
  void Repeated(Firsts* firsts, const IniLine& event, const char* name, const std::string& what) {
    const auto [first, fresh] = firsts->insert({name, {event.line, event.column}});
    if (fresh) return;
    diagnostics_.push_back({event.line, event.column, "warning",
                            what + " is repeated; lookups find only the first", "the first is here",
                            first->second.first, first->second.second});
  }

  // Spaces inside the brackets are part of the name: [ server ] is not found as server.
  void HeaderWarnings(const IniLine& event) {
    const std::string name = event.section;
    if (name.front() != ' ' && name.back() != ' ') return;
    const std::size_t start = name.find_first_not_of(' ');
    const std::string bare = start == std::string::npos
                                 ? ""
                                 : name.substr(start, name.find_last_not_of(' ') - start + 1);
    diagnostics_.push_back({event.line, event.column, "warning",
                            "section name '" + Visible(event.section, Part::kName) +
                                "' has spaces inside its brackets, which are part of the name",
                            "lookups must spell them; write [" +
                                Visible(bare.c_str(), Part::kName) + "] for a section named '" +
                                Visible(bare.c_str(), Part::kName) + "'"});
  }

  // Over the physical lines of a key line or header: a '\' that escapes nothing, which is
  // dropped (a Windows path loses its separators), and a '\' at a line's end that joins a
  // next line reading as one of its own.
  void EscapeWarnings(const IniLine& event) {
    for (std::int64_t line = event.line;; ++line) {
      const std::string raw = lines_.At(line);
      const Scan scan = ScanLine(raw);
      if (scan.lone != std::string::npos) {
        diagnostics_.push_back(
            {line, static_cast<std::int64_t>(scan.lone) + 1, "warning",
             "'\\' before '" + Visible(std::string(1, scan.lone_before).c_str(), Part::kValue) +
                 "' escapes nothing and is dropped",
             "write '\\\\' for a backslash: a Windows path is written C:\\\\new\\\\tools"});
      }
      if (!scan.continues || line >= lines_.count()) return;
      const std::string next = lines_.At(line + 1);
      if (ReadsAsALine(next)) {
        diagnostics_.push_back(
            {line, static_cast<std::int64_t>(raw.find_last_of('\\')) + 1, "warning",
             "'\\' at the end of the line joins line " + std::to_string(line + 1) + ", '" +
                 Shown(next, 0) + "', into this one",
             "to end a value with a backslash, write '\\\\'"});
        return;
      }
    }
  }

  void EntryWarnings(const IniLine& event, const std::string& raw) {
    const std::string key = event.key, value = event.value;
    Repeated(&keys_, event, event.key, "key '" + Visible(event.key, Part::kKey) + "'");
    if (key.front() == '\t' || key.back() == '\t') {
      diagnostics_.push_back({event.line, event.column, "warning",
                              "key '" + Visible(event.key, Part::kKey) +
                                  "' begins or ends with a tab, which is part of the key",
                              "only spaces around a key are dropped"});
    }
    // A ';' right behind the value's text ends it, with no space to show a comment was meant:
    // a list such as MimeType=a;b;c; keeps only its first item.
    const std::size_t semicolon = CommentStart(raw);
    if (semicolon == std::string::npos) return;
    const bool in_quotes =
        !value.empty() && value.front() == '"' && (value.size() == 1 || value.back() != '"');
    if (in_quotes || (semicolon > 0 && raw[semicolon - 1] != ' ')) {
      diagnostics_.push_back(
          {event.line, static_cast<std::int64_t>(semicolon) + 1, "warning",
           in_quotes ? "';' starts a comment, also inside quotes: the value ends before it"
                     : "';' starts a comment: the value ends before it",
           "write '\\;' for a ';' in a value"});
    }
  }

  const std::string& bytes_;
  Lines lines_;
  bool warnings_;
  std::vector<Diagnostic> diagnostics_;
  int errors_ = 0;
  bool seen_line_ = false;
  Firsts sections_, keys_;
  std::string dump_;
};

void Print(const char* path, const Diagnostic& d, const Lines& lines) {
  const std::string raw = lines.At(d.line);
  std::fprintf(stderr, "%s:%lld:%lld: %s: %s\n", path, static_cast<long long>(d.line),
               static_cast<long long>(d.column), d.kind, d.message.c_str());
  std::fprintf(stderr, "%5lld | %s\n", static_cast<long long>(d.line),
               Shown(raw, d.column).c_str());
  std::fprintf(stderr, "      | %s^\n", Indent(raw, d.column).c_str());
  if (d.note.empty()) return;
  const bool elsewhere = d.note_line != 0;
  std::fprintf(stderr, "%s:%lld:%lld: note: %s\n", path,
               static_cast<long long>(elsewhere ? d.note_line : d.line),
               static_cast<long long>(elsewhere ? d.note_column : d.column), d.note.c_str());
}

}  // namespace

// `text` with tabs, CRs and other bytes that would not show written as escapes, and a
// backslash as \\ so that the escapes stay unambiguous. A space at the very end of a key
// or value is \x20, where nothing after it would show it; a key beginning with '[' starts
// \x5B, so that no entry looks like a header.
std::string Visible(const char* text, Part part) {
  std::string out;
  const std::size_t length = std::strlen(text);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char hex[8];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c > 0x7E || (part != Part::kName && c == ' ' && i + 1 == length) ||
               (part == Part::kKey && c == '[' && i == 0)) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

Checked CheckAndReport(const char* path, const std::string& bytes, bool warnings) {
  Checker checker(bytes, warnings);
  IniLoadReport report;
  Checked checked;
  checked.outcome = ini_scan_memory(bytes.data(), bytes.size(), Checker::Handle, &checker, &report);
  for (const Diagnostic& d : checker.diagnostics()) {
    Print(path, d, checker.lines());
    checked.warnings += std::strcmp(d.kind, "warning") == 0;
  }
  if (checker.errors() >= kErrorLimit) {
    std::fprintf(stderr, "%s: note: stopped after %d errors\n", path, kErrorLimit);
  }
  if (checked.outcome != INI_LOADED && checker.errors() == 0) {  // out of memory, say
    std::fprintf(stderr, "%s: error: %s\n", path, report.reason);
  }
  checked.dump = checker.dump();
  return checked;
}

}  // namespace tools
