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

#include "ini/ini.h"

namespace tools {
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
      if (bytes[i] == '\n') starts_.push_back(i + 1);
    }
  }
  // Physical line `line` (from 1), without its line feed and a CR before it.
  std::string At(std::int64_t line) const {
    const auto index = static_cast<std::size_t>(line - 1);
    if (line < 1 || index >= starts_.size()) return "";
    const std::size_t start = starts_[index];
    std::size_t end = index + 1 < starts_.size() ? starts_[index + 1] - 1 : bytes_.size();
    if (end > start && bytes_[end - 1] == '\r') --end;
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
    if (line[i] == '\r' && line[i + 1] != '\n') return true;
  }
  return false;
}

// Where a ';' starts a comment in the physical line `raw`: the first one that no '\'
// escapes; npos when there is none.
std::size_t CommentStart(const std::string& raw) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\') {
      ++i;
    } else if (raw[i] == ';') {
      return i;
    }
  }
  return std::string::npos;
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
  if (text[0] == '[') {
    if (comment != std::string::npos && raw.find(']', comment) != std::string::npos) {
      return "';' starts a comment, also in a section header; write '\\;' for a ';' in a name";
    }
    return "a section header ends with ']'";
  }
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
        if (warnings_)
          Repeated(&sections_, event, event.section,
                   "section '" + Visible(event.section, Part::kName) + "'");
        keys_.clear();
        dump_ += "[" + Visible(event.section, Part::kName) + "]\n";
        break;
      case INI_ENTRY:
        if (warnings_) EntryWarnings(event, raw);
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
