// The Install command: settles the install root, the start-up profile and the release
// description, then copies the launchers and boot files and writes the runtime ini file.
#ifndef INSTALL_INSTALL_H_
#define INSTALL_INSTALL_H_

#include <cstdio>
#include <string>

#include "platform/tree.h"

namespace install {

// The boot file the runtime starts from: launch_lean.boot or launch_tolbe.boot.
enum class StartupProfile { kMinimal, kFull };

// Everything the installation run needs, settled before the disk is touched. Every path
// the run composes from it fits kMaxPath.
struct InstallLayout {
  std::string root;     // as given, or the directory of the program's own file
  bool silent = false;  // -s: no question and no success message
  StartupProfile profile = StartupProfile::kFull;
  std::string runtime_version;  // VSN of the release description
  std::string runtime_bin_dir;  // root, "qcore-" VSN, "bin"
  std::string release_dir;      // root, "releases", SYSTEM_VSN
  std::string root_bin_dir;     // root, "bin"
};

// What the run puts into the root's bin: the launchers, copied from the runtime's bin in
// this order, the boot files, copied from the release directory, the current boot file and
// the runtime ini file, which is also written into the runtime's bin. The one list of them:
// the tests, scripts/launchers.sh and the setup program take theirs from here.
inline constexpr const char* kLaunchers[] = {"qrv.exe",   "wqrv.exe",  "qrvc.exe", "zembrat.exe",
                                             "tavlo.exe", "tulsk.exe", "pelox.exe"};
inline constexpr const char* kBootFiles[] = {"launch_lean.boot", "launch_tolbe.boot"};
inline constexpr char kCurrentBootFile[] = "launch.boot";
inline constexpr char kRuntimeIni[] = "qrv.ini";

// The longest path, in bytes without the NUL, the command composes or accepts.
constexpr std::size_t kMaxPath = 259;

// The standard streams the command talks through.
struct Console {
  std::FILE* in;
  std::FILE* out;
  std::FILE* err;
};

// The front half: command line, install root, start-up profile, release description.
// Fills `layout` and returns true, or prints the reason on `console.err` and returns false.
bool PrepareInstall(int argc, const char* const* argv, platform::TreeFileSystem& file_system,
                    const Console& console, InstallLayout* layout);

// The first path the installation run of `layout` would compose that is longer than
// kMaxPath, or an empty string when all of them fit.
std::string FirstPathTooLong(const InstallLayout& layout);

// True when `path`, links followed, stays beneath the root `file_system` is confined to;
// else says so on `console.err` ("Path PATH leads outside the root directory ROOT").
bool StaysInRoot(platform::TreeFileSystem& file_system, const Console& console,
                 const std::string& root, const std::string& path);

// True when every directory the installation run of `layout` writes into and every file it
// reads stays beneath the root; else says which first leads outside, as StaysInRoot does.
bool FirstPathOutsideRoot(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                          const Console& console);

// True when no file the installation run of `layout` reads, and no name it writes, is a
// device, a FIFO or a socket; else says which first is ("Not a regular file: PATH").
bool NothingButRegularFiles(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                            const Console& console);

// The installation run. Returns the exit status: 0 when the tree is complete (a launcher
// that cannot be copied only warns), 1 after the messages of the first fatal failure.
int RunInstallation(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                    const Console& console);

// The whole command: the front half, then the run. Returns the exit status, 0 or 1.
int Main(int argc, const char* const* argv, platform::TreeFileSystem& file_system,
         const Console& console);

// `directory` and `name` joined by the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& name);

}  // namespace install

#endif  // INSTALL_INSTALL_H_
