// The front half of Install: command line, install root, start-up profile and the release
// description, settled before anything on disk changes.
#include <cstring>
#include <string>

#include "ini/ini.h"
#include "ini/project_internal.h"
#include "install/install.h"

namespace install {
namespace {

// Reads the answer to the profile question: one line of at most 99 bytes; the rest of a
// longer line is read and dropped, so the next read starts after its line feed. False
// when input ends, or fails, before the first byte.
bool ReadAnswer(std::FILE* in, std::string* answer) {
  constexpr int kBuffer = 100;
  answer->clear();
  int c = EOF;
  while (answer->size() < kBuffer - 1 && (c = std::getc(in)) != EOF) {
    answer->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  if (answer->empty()) return false;
  std::size_t lf = answer->find('\n');
  if (lf == std::string::npos) {
    while ((c = std::getc(in)) != EOF && c != '\n') {
    }
  } else {
    answer->resize(lf);
  }
  std::size_t cr = answer->find('\r');
  if (cr != std::string::npos) answer->resize(cr);
  return true;
}

bool EqualsIgnoringAsciiCase(const char* text, const char* word) {
  for (; *text != '\0' && *word != '\0'; ++text, ++word) {
    char a = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
    if (a != *word) return false;
  }
  return *text == *word;
}

bool Fits(const std::string& path, const Console& console) {
  if (path.size() <= kMaxPath) return true;
  std::fprintf(console.err, "Path too long: %s\n", path.c_str());
  return false;
}

// Reads the switches and the root; `*root_index` receives the root's place in `argv`, or 0
// when none was given.
bool ParseCommandLine(int argc, const char* const* argv, const Console& console,
                      InstallLayout* layout, int* root_index) {
  *root_index = 0;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] == '-') {
      if (argument[1] != 's') {
        std::fprintf(console.err, "Unknown command switch %s\n", argument);
        return false;
      }
      layout->silent = true;
    } else if (*root_index != 0) {
      std::fprintf(console.err,
                   "Only one root directory can be specified, parameter %s is illegal\n", argument);
      return false;
    } else {
      layout->root = argument;
      *root_index = i;
    }
  }
  return true;
}

// A line break in the root would be written into the runtime ini file unescaped and start
// lines of its own there. No Windows path can hold one, but a POSIX directory name can,
// whether it was given or is the program's own directory.
//
// On Windows the root reaches the program in the ANSI code page, where a character the
// code page lacks becomes a look-alike (α becomes a): the run would install into another
// tree, a sibling with the look-alike name. Such a root is refused.
//
// Spaces at either end of the root would be lost when qrv.ini is read back (a value's
// outer spaces are dropped), and the runtime would work in another directory.
bool RootIsUsable(const std::string& root, bool exact, const Console& console) {
  const char* const shown = root.c_str();
  if (root.find_first_of("\r\n") != std::string::npos) {
    std::fprintf(console.err, "Line break in root directory %s is illegal\n", shown);
    return false;
  }
  if (!root.empty() && (root.front() == ' ' || root.back() == ' ')) {
    std::fprintf(console.err, "Leading or trailing space in root directory %s is illegal\n", shown);
    return false;
  }
  if (!exact) {
    std::fprintf(console.err, "Root directory %s has characters outside the ANSI code page\n",
                 shown);
    return false;
  }
  return true;
}

// A version names one directory: a separator, or "." and ".." as the release, would lead the
// run out of the root, to write qrv.ini or read boot files anywhere.
bool IsPlainName(const char* version, bool is_release) {
  if (std::strpbrk(version, platform::kNotInName) != nullptr) return false;
  return !is_release || (std::strcmp(version, ".") != 0 && std::strcmp(version, "..") != 0);
}

// The root when none is given: the directory that holds the program's own file.
bool RootFromProgramPath(platform::TreeFileSystem& file_system, const Console& console,
                         std::string* root) {
  std::string path;
  if (!file_system.OwnProgramPath(&path)) {
    std::fputs("Could not GetModuleFileName()\n", console.err);
    return false;
  }
  if (!Fits(path, console)) return false;
  std::size_t separator = path.rfind(platform::kSeparator);
  if (separator == std::string::npos) {
    std::fputs("GetModuleFileName returned broken path\n", console.err);
    return false;
  }
  *root = path.substr(0, separator);
  return true;
}

bool AskForProfile(const Console& console, StartupProfile* profile) {
  std::fputs("Do you want a minimal startup instead of tolbe [No]: ", console.out);
  std::fflush(console.out);
  std::string answer;
  if (!ReadAnswer(console.in, &answer)) {
    std::fputs("Could not read answer from user.\n", console.err);
    return false;
  }
  bool minimal = EqualsIgnoringAsciiCase(answer.c_str(), "yes") ||
                 EqualsIgnoringAsciiCase(answer.c_str(), "y");
  *profile = minimal ? StartupProfile::kMinimal : StartupProfile::kFull;
  return true;
}

}  // namespace

bool StaysInRoot(platform::TreeFileSystem& file_system, const Console& console,
                 const std::string& root, const std::string& path) {
  if (file_system.Locate(path.c_str()) == platform::Location::kBeneath) return true;
  std::fprintf(console.err, "Path %s leads outside the root directory %s\n", path.c_str(),
               root.c_str());
  return false;
}

namespace {

// Takes VSN and SYSTEM_VSN from the section Install of the release description at `path`
// and derives the three directories from them; false after saying what is missing or
// wrong.
bool TakeVersions(const IniDocument* document, const std::string& path, const Console& console,
                  InstallLayout* layout) {
  const char* const file = path.c_str();
  const IniSection* section = ini_find_section(document, "Install");
  if (section == nullptr) {
    std::fprintf(console.err, "No [Install] section in init file %s\n", file);
    return false;
  }
  const char* version = ini_get_value(section, "VSN");
  if (version == nullptr) {
    std::fprintf(console.err, "No key VSN in init file %s\n", file);
    return false;
  }
  if (!IsPlainName(version, false)) {
    std::fprintf(console.err, "Illegal VSN %s in init file %s\n", version, file);
    return false;
  }
  const char* system_version = ini_get_value(section, "SYSTEM_VSN");
  if (system_version == nullptr) {
    std::fprintf(console.err, "No key SYSTEM_VSN in init file %s\n", file);
    return false;
  }
  if (!IsPlainName(system_version, true)) {
    std::fprintf(console.err, "Illegal SYSTEM_VSN %s in init file %s\n", system_version, file);
    return false;
  }
  layout->runtime_version = version;
  layout->runtime_bin_dir =
      JoinPath(JoinPath(layout->root, "qcore-" + layout->runtime_version), "bin");
  layout->release_dir = JoinPath(JoinPath(layout->root, "releases"), system_version);
  layout->root_bin_dir = JoinPath(layout->root, "bin");
  return true;
}

// Reads root/Install.ini, the release description, into the layout.
bool ReadReleaseDescription(platform::TreeFileSystem& file_system, const Console& console,
                            InstallLayout* layout, bool root_opened) {
  const std::string path = JoinPath(layout->root, "Install.ini");
  if (!Fits(path, console)) return false;
  if (root_opened && !StaysInRoot(file_system, console, layout->root, path)) return false;
  // Only a regular file: a FIFO or a device would block the run, or feed it anything. It is
  // looked at before it is opened, since not every system opens a FIFO without waiting.
  IniDocument* document = file_system.WhatStands(path.c_str(), true) == platform::Stands::kOther
                              ? nullptr
                              : ini_detail::LoadFile(file_system, path.c_str(), nullptr,
                                                     platform::Accept::kRegularFile);
  if (document == nullptr) {
    std::fprintf(console.err, "Cannot open init file %s\n", path.c_str());
    return false;
  }
  const bool taken = TakeVersions(document, path, console, layout);
  ini_free_document(document);  // nothing of it is kept: the versions were copied
  return taken;
}

}  // namespace

std::string JoinPath(const std::string& directory, const std::string& name) {
  std::string path;
  path.reserve(directory.size() + 1 + name.size());
  path += directory;
  path += platform::kSeparator;
  path += name;
  return path;
}

bool PrepareInstall(int argc, const char* const* argv, platform::TreeFileSystem& file_system,
                    const Console& console, InstallLayout* layout) {
  int root_index = 0;
  if (!ParseCommandLine(argc, argv, console, layout, &root_index)) return false;
  if (root_index == 0 && !RootFromProgramPath(file_system, console, &layout->root)) return false;
  const bool exact = root_index != 0 ? file_system.ArgumentIsExact(root_index)
                                     : file_system.OwnProgramPathIsExact();
  if (!RootIsUsable(layout->root, exact, console)) return false;
  // From here on nothing is read or written through a link that leads out of the tree, which
  // may come from an archive. A root that cannot be opened contains nothing: then the
  // release description cannot be opened either.
  const bool root_opened = file_system.ConfineTo(layout->root.c_str());
  // Silent mode takes the minimal profile; an empty answer to the question means full.
  layout->profile = StartupProfile::kMinimal;
  if (!layout->silent && !AskForProfile(console, &layout->profile)) return false;
  if (!ReadReleaseDescription(file_system, console, layout, root_opened)) return false;
  std::string too_long = FirstPathTooLong(*layout);
  if (!too_long.empty()) return Fits(too_long, console);
  return NothingButRegularFiles(*layout, file_system, console) &&
         FirstPathOutsideRoot(*layout, file_system, console);
}

int Main(int argc, const char* const* argv, platform::TreeFileSystem& file_system,
         const Console& console) {
  InstallLayout layout;
  if (!PrepareInstall(argc, argv, file_system, console, &layout)) return 1;
  return RunInstallation(layout, file_system, console);
}

}  // namespace install
