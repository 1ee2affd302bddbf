// Diagnostics of INI files as compilers give them, for the tools built on the library.
#ifndef TOOLS_DIAGNOSTICS_H_
#define TOOLS_DIAGNOSTICS_H_

#include <string>

#include "ini/ini.h"

namespace tools {

// How a text stands in the dump: a key, a value or a name.
enum class Part { kKey, kValue, kName };

// `text` with tabs, CRs and other bytes that would not show written as escapes, and a
// backslash as \\ so that the escapes stay unambiguous; see ini-check --dump.
std::string Visible(const char* text, Part part);

// What checking a file found.
struct Checked {
  int outcome = INI_LOADED;  // an IniLoadOutcome
  int warnings = 0;
  std::string dump;  // the file as the library reads it: "[name]" and "key=value" lines
};

// Reads `bytes`, the contents of the file `path`, as the library does, and prints each bad
// line (up to 20), and with `warnings` each warning, on standard error: `FILE:LINE:COLUMN:
// error: reason`, the line, a caret, and a note with a hint where one helps.
Checked CheckAndReport(const char* path, const std::string& bytes, bool warnings);

}  // namespace tools

#endif  // TOOLS_DIAGNOSTICS_H_
