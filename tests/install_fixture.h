// A distribution tree on the in-memory disk, and a way to run the command over it with
// its standard streams captured.
#ifndef TESTS_INSTALL_FIXTURE_H_
#define TESTS_INSTALL_FIXTURE_H_

#include <cstdio>
#include <string>
#include <vector>

#include "tests/fake_file_system.h"
#include "tests/test_util.h"

namespace testing_support {
namespace install_tree {

using testing_support::Escaped;

// The tree's paths, joined with the platform's separator.
extern const std::string kRoot;        // "Q"
extern const std::string kRuntimeBin;  // Q, qcore-4.0.1, bin
extern const std::string kRelease;     // Q, releases, 26
extern const std::string kRootBin;     // Q, bin
extern const std::string kIniPath;     // Q, Install.ini
extern const std::vector<std::string> kLaunchers;

// A complete distribution tree at kRoot.
void AddTree(FakeFileSystem* disk,
             const std::string& ini = "[Install]\nVSN=4.0.1\nSYSTEM_VSN=26\n");

struct Outcome {
  int status;
  std::string out;
  std::string err;
  std::string rest_of_input;  // what the command left unread on standard input
};

// Runs the command with `args` (without the program name) and `input` on standard input.
Outcome RunInstall(FakeFileSystem* disk, std::vector<std::string> args,
                   const std::string& input = "");
// The same with a standard input that cannot be read at all.
Outcome RunInstallWithUnreadableInput(FakeFileSystem* disk, std::vector<std::string> args);

// True when the run created a directory, copied or created a file.
bool DiskTouched(const FakeFileSystem& disk);

}  // namespace install_tree
}  // namespace testing_support

#endif  // TESTS_INSTALL_FIXTURE_H_
