// What the tools need from the system that the library does not give: their arguments as
// the user typed them, standard input and output as bytes, and a file's bytes read
// without blocking.
#ifndef TOOLS_SYSTEM_H_
#define TOOLS_SYSTEM_H_

#include <filesystem>
#include <string>
#include <vector>

namespace tools {

// A command-line argument.
struct Argument {
  // As text: bytes in the process's code page (on Windows, the ANSI code page, in which
  // the library's texts are), as `main` gets it.
  std::string text;
  // As a file name, exactly as typed: on Windows from the UTF-16 command line, so that a
  // name with characters the code page lacks still names that file and no other.
  std::filesystem::path path;
  // False when `text` is not what was typed: a character the code page lacks became a
  // look-alike or a default character.
  bool exact = true;
};

// Arguments 1 to argc - 1.
std::vector<Argument> Arguments(int argc, char** argv);

// Reads standard input to its end as bytes, untranslated (no text mode on Windows). False
// when a read failed.
bool ReadStandardInput(std::string* bytes);

// Writes `bytes` to standard output as they are (no text mode on Windows), after what the
// C runtime holds for it. False when a write failed.
bool WriteStandardOutput(const std::string& bytes);

// True when a regular file stands at `path` (links followed), looked at without opening it,
// so that a FIFO cannot block; false with a reason as ReadRegularFile gives it.
bool IsRegularFile(const std::filesystem::path& path, std::string* reason);

// Reads the regular file at `path` whole. False, with a short reason ("cannot open the file:
// no such file or directory", "... it is not a regular file", ...), when it cannot be
// opened, is no regular file (a FIFO or a device is refused at once, without waiting for a
// writer or reading without end), or a read fails.
bool ReadRegularFile(const std::filesystem::path& path, std::string* bytes, std::string* reason);

}  // namespace tools

#endif  // TOOLS_SYSTEM_H_
