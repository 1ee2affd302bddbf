// A distribution tree on the in-memory disk, and a way to run the command over it with
// its standard streams captured.
#ifndef TESTS_INSTALL_FIXTURE_H_
#define TESTS_INSTALL_FIXTURE_H_

#include <cstdio>
#include <string>
#include <vector>

#include "install/install.h"
#include "tests/fake_file_system.h"
#include "tests/test_util.h"

namespace testing_support {
namespace install_tree {

using install::kLaunchers;
using testing_support::Escaped;
using testing_support::ProcessResult;

// The tree's paths, joined with the platform's separator.
extern const std::string kRoot;        // "Q"
extern const std::string kRuntimeBin;  // Q, qcore-4.0.1, bin
extern const std::string kRelease;     // Q, releases, 26
extern const std::string kRootBin;     // Q, bin
extern const std::string kIniPath;     // Q, Install.ini

// The sample distribution tree at kRoot, with `ini` as its release description.
void AddTree(FakeFileSystem* disk,
             const std::string& ini = "[Install]\nVSN=4.0.1\nSYSTEM_VSN=26\n");
// The bytes of the sample tree's launcher `name`, and of its boot file of `profile`
// ("lean" or "tolbe").
std::string LauncherBytes(const std::string& name);
std::string BootBytes(const std::string& profile);

// Runs the command with `args` (without the program name) and `input` on standard input.
ProcessResult RunInstall(FakeFileSystem* disk, std::vector<std::string> args,
                         const std::string& input = "");
// The same with a standard input that cannot be read at all.
ProcessResult RunInstallWithUnreadableInput(FakeFileSystem* disk, std::vector<std::string> args);

// True when the run created a directory, copied or created a file.
bool DiskTouched(const FakeFileSystem& disk);

}  // namespace install_tree
}  // namespace testing_support

#endif  // TESTS_INSTALL_FIXTURE_H_
