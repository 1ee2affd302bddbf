// Tests of the Install command over the in-memory disk: command line, root, question,
// release description, every failure of the run, and the files it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "install/install.h"
#include "tests/fake_file_system.h"
#include "tests/install_fixture.h"

namespace {

using install::JoinPath;
using namespace testing_support::install_tree;
using testing_support::Call;
using testing_support::FakeFileSystem;
using testing_support::Op;

constexpr char kPrompt[] = "Do you want a minimal startup instead of tolbe [No]: ";
constexpr char kBail[] = "Cannot continue installation, bailing out.\n";

TEST(InstallCommand, CompleteInstallation) {
  FakeFileSystem disk;
  AddTree(&disk);
  Outcome o = RunInstall(&disk, {kRoot}, "\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string(kPrompt) + "Quorva 4.0.1 installed successfully\n");
  EXPECT_EQ(o.err, "");
  for (const std::string& name : kLaunchers) EXPECT_EQ(disk.files[JoinPath(kRootBin, name)], "exe " + name);
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch_lean.boot")], "lean");
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch_tolbe.boot")], "tolbe");
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], "tolbe");
  const std::string ini = "[quorva]\nBindir=" + Escaped(kRuntimeBin) + "\nProgname=qrv\nRootdir=" +
                          Escaped(kRoot) + "\n";
  EXPECT_EQ(disk.files[JoinPath(kRuntimeBin, "qrv.ini")], ini);
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "qrv.ini")], ini);
  EXPECT_EQ(disk.directories.count(kRootBin), 1u);
  // launch.boot comes from the copy in the root's bin, not from the release directory
  bool found = false;
  for (const Call& call : disk.calls) {
    if (call.op == Op::kCopy && call.path == JoinPath(kRootBin, "launch_tolbe.boot")) found = true;
  }
  EXPECT_TRUE(found);
}

TEST(InstallCommand, SilentModeTakesMinimalAndSaysNothing) {
  FakeFileSystem disk;
  AddTree(&disk);
  Outcome o = RunInstall(&disk, {"-s", kRoot}, "yes\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.rest_of_input, "yes\n") << "no question, so nothing is read";
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], "lean");
}

TEST(InstallCommand, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::set<int> inexact = {};  // arguments that arrived with look-alikes
  };
  const Case cases[] = {
      {{kRoot, "-s"}, 0, ""},
      {{"-silent", kRoot, "-sx", "-s"}, 0, ""},
      {{"-x"}, 1, "Unknown command switch -x\n"},
      {{kRoot, "-S"}, 1, "Unknown command switch -S\n"},
      {{"-"}, 1, "Unknown command switch -\n"},
      {{kRoot, "other"}, 1, "Only one root directory can be specified, parameter other is illegal\n"},
      {{kRoot, "-x", "other"}, 1, "Unknown command switch -x\n"},
      {{"-s", "/s"}, 1, "Cannot open init file " + JoinPath("/s", "Install.ini") + "\n"},
      {{"-s", ""}, 1, "Cannot open init file " + JoinPath("", "Install.ini") + "\n"},
      {{"-s", "a\nb"}, 1, "Line break in root directory a\nb is illegal\n"},
      {{"-s", "a\rb"}, 1, "Line break in root directory a\rb is illegal\n"},
      // Rootdir would read back without the space, naming another directory.
      {{"-s", " Q"}, 1, "Leading or trailing space in root directory  Q is illegal\n"},
      {{"-s", "Q "}, 1, "Leading or trailing space in root directory Q  is illegal\n"},
      // The root argument arrived with look-alikes for characters the code page lacks; a
      // switch with them is no root and does no harm.
      {{"-s", kRoot}, 1, "Root directory Q has characters outside the ANSI code page\n", {2}},
      {{kRoot, "-s"}, 0, "", {2}},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    disk.inexact_arguments = c.inexact;
    Outcome o = RunInstall(&disk, c.args);
    EXPECT_EQ(o.status, c.status) << c.args[0];
    EXPECT_EQ(o.err, c.err) << c.args[0];
    EXPECT_EQ(o.out, "");
    if (c.status != 0) {
      EXPECT_FALSE(DiskTouched(disk));
    }
  }
}

TEST(InstallCommand, RootFromProgramPath) {
  FakeFileSystem disk;
  AddTree(&disk);
  disk.own_path = JoinPath(kRoot, "Install.exe");
  EXPECT_EQ(RunInstall(&disk, {"-s"}).status, 0);
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], "lean");

  struct Case {
    std::string own_path;
    bool fails;
    std::string err;
  };
  const std::string long_path(300, 'p');
  const Case cases[] = {
      {"", true, "Could not GetModuleFileName()\n"},
      {"Install.exe", false, "GetModuleFileName returned broken path\n"},
      {"", false, "GetModuleFileName returned broken path\n"},
      {JoinPath("", "Install.exe"), false,
       "Cannot open init file " + JoinPath("", "Install.ini") + "\n"},
      {long_path, false, "Path too long: " + long_path + "\n"},
      {JoinPath("a\nb", "Install.exe"), false, "Line break in root directory a\nb is illegal\n"},
      {JoinPath("xa", "Install.exe"), false, "Root directory xa has characters outside the ANSI code page\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem failing;
    failing.own_path = c.own_path;
    failing.own_path_exact = c.own_path.find("xa") == std::string::npos;
    if (c.fails) failing.fail_if = [](const Call& call, std::size_t) { return call.op == Op::kOwnPath; };
    Outcome o = RunInstall(&failing, {"-s"});
    EXPECT_EQ(o.status, 1) << c.own_path;
    EXPECT_EQ(o.err, c.err) << c.own_path;
  }
}

TEST(InstallCommand, Answers) {
  struct Case {
    std::string input;
    const char* boot;  // the boot file made current
    std::string rest;  // input left unread
  };
  const std::string long_line(150, 'y');
  const std::string line_99(99, 'n');
  const Case cases[] = {
      {"Y\r\n", "lean", ""},        {"YES\r\n", "lean", ""},  {"yes\n", "lean", ""},
      {"y\nnext\n", "lean", "next\n"}, {"y", "lean", ""},    {"yEs\n", "lean", ""},
      {"no\n", "tolbe", ""},        {"n\n", "tolbe", ""},     {"yess\n", "tolbe", ""},
      {"\n", "tolbe", ""},          {" y\n", "tolbe", ""},    {"yes \n", "tolbe", ""},
      {long_line + "\nnext\n", "tolbe", "next\n"},
      {line_99 + "\nnext\n", "tolbe", "next\n"},
      {"y\ry\n", "lean", ""},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    Outcome o = RunInstall(&disk, {kRoot}, c.input);
    EXPECT_EQ(o.status, 0) << c.input;
    EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], c.boot) << c.input;
    EXPECT_EQ(o.rest_of_input, c.rest) << c.input;
  }
}

// The question comes before the release description is looked at.
TEST(InstallCommand, NoAnswerFailsBeforeReadingTheReleaseDescription) {
  FakeFileSystem disk;
  Outcome o = RunInstall(&disk, {kRoot}, "");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, kPrompt);
  EXPECT_EQ(o.err, "Could not read answer from user.\n");
  EXPECT_TRUE(disk.calls.empty());
}

TEST(InstallCommand, ReleaseDescriptionProblems) {
  struct Case {
    const char* name;
    const char* ini;  // null: no Install.ini at all
    std::string err;
  };
  const std::string path = kIniPath;
  const Case cases[] = {
      {"missing", nullptr, "Cannot open init file " + path + "\n"},
      {"rejected", "VSN=1\n", "Cannot open init file " + path + "\n"},
      {"no_section", "[install]\nVSN=1\nSYSTEM_VSN=2\n", "No [Install] section in init file " + path + "\n"},
      {"no_vsn", "[Install]\nvsn=1\nSYSTEM_VSN=2\n", "No key VSN in init file " + path + "\n"},
      {"no_system_vsn", "[Install]\nVSN=1\n", "No key SYSTEM_VSN in init file " + path + "\n"},
      {"second_section_ignored", "[Install]\nVSN=1\n[Install]\nVSN=2\nSYSTEM_VSN=3\n",
       "No key SYSTEM_VSN in init file " + path + "\n"},
      // Versions that would lead the run out of the root.
      {"vsn_with_slash", "[Install]\nVSN=x/../../outside\nSYSTEM_VSN=2\n",
       "Illegal VSN x/../../outside in init file " + path + "\n"},
      {"vsn_with_backslash", "[Install]\nVSN=..\\\\..\\\\outside\n",
       "Illegal VSN ..\\..\\outside in init file " + path + "\n"},
      {"release_with_slash", "[Install]\nVSN=1\nSYSTEM_VSN=../../evil\n",
       "Illegal SYSTEM_VSN ../../evil in init file " + path + "\n"},
      {"release_dot", "[Install]\nVSN=1\nSYSTEM_VSN=.\n", "Illegal SYSTEM_VSN . in init file " + path + "\n"},
      {"release_dot_dot", "[Install]\nVSN=1\nSYSTEM_VSN=..\n", "Illegal SYSTEM_VSN .. in init file " + path + "\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    if (c.ini == nullptr) {
      disk.files.erase(kIniPath);
    } else {
      disk.files[kIniPath] = c.ini;
    }
    Outcome o = RunInstall(&disk, {"-s", kRoot});
    EXPECT_EQ(o.status, 1) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
    EXPECT_FALSE(DiskTouched(disk)) << c.name;
  }
}

// Odd versions that stay in their folder are used as they are. ':' names a drive or a
// stream only on Windows, and is refused there alone.
TEST(InstallCommand, OddVersionsStayAccepted) {
  const bool colon_refused = std::strchr(platform::kNotInName, ':') != nullptr;
  for (const std::string version : {"..", "4.0.1 beta", "a:b", "...", "-"}) {
    FakeFileSystem disk;
    disk.files[kIniPath] = "[Install]\nVSN=" + version + "\nSYSTEM_VSN=x..y\n";
    Outcome o = RunInstall(&disk, {"-s", kRoot});
    const std::string err = colon_refused && version == "a:b"
        ? "Illegal VSN a:b in init file " + kIniPath + "\n"
        : "Could not find file " + JoinPath(JoinPath(JoinPath(kRoot, "qcore-" + version), "bin"), "qrv.exe") + "\n";
    EXPECT_EQ(o.err, err) << version;
  }
}

TEST(InstallCommand, EmptyVersionGivesBareDirectoryName) {
  FakeFileSystem disk;
  disk.files[kIniPath] = "[Install]\nVSN=\nSYSTEM_VSN=26\n";
  Outcome o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Could not find file " + JoinPath(JoinPath(JoinPath(kRoot, "qcore-"), "bin"), "qrv.exe") + "\n");
}

// Every path the run composes is checked before the disk changes.
TEST(InstallCommand, PathsTooLongAreRefusedBeforeAnythingChanges) {
  const std::string long_root(250, 'r');
  const std::string long_version(240, 'v');
  struct Case {
    const char* name;
    std::string root;
    std::string ini;
    std::string err;
  };
  const Case cases[] = {
      {"root", long_root, "", "Path too long: " + JoinPath(long_root, "Install.ini") + "\n"},
      {"version", kRoot, "[Install]\nVSN=" + long_version + "\nSYSTEM_VSN=26\n",
       "Path too long: " + JoinPath(JoinPath(JoinPath(kRoot, "qcore-" + long_version), "bin"), "qrv.exe") + "\n"},
      {"system_version", kRoot, "[Install]\nVSN=1\nSYSTEM_VSN=" + long_version + "\n",
       "Path too long: " + JoinPath(JoinPath(JoinPath(kRoot, "releases"), long_version), "launch_lean.boot") + "\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    disk.files[JoinPath(c.root, "Install.ini")] = c.ini;
    Outcome o = RunInstall(&disk, {"-s", c.root});
    EXPECT_EQ(o.status, 1) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
    EXPECT_FALSE(DiskTouched(disk)) << c.name;
  }
  // The limit itself is allowed: a root whose longest composed path is exactly 259 bytes.
  const std::string root(259 - std::string("/releases/2/launch_tolbe.boot").size(), 'x');
  FakeFileSystem disk;
  disk.files[JoinPath(root, "Install.ini")] = "[Install]\nVSN=4.0.1\nSYSTEM_VSN=2\n";
  Outcome o = RunInstall(&disk, {"-s", root});
  EXPECT_EQ(o.err, "Could not find file " + JoinPath(JoinPath(JoinPath(root, "qcore-4.0.1"), "bin"), "qrv.exe") + "\n");
}

// Each failure of the run, by the operation that fails and the path it is given.
TEST(InstallCommand, RunFailures) {
  struct Case {
    const char* name;
    Op op;
    std::string path;       // the failing call's path (a copy's source)
    bool remove_instead;    // remove that file from the tree instead of failing the call
    int status;
    std::string err;
  };
  const std::string tavlo = JoinPath(kRuntimeBin, "tavlo.exe");
  const std::string qrv = JoinPath(kRuntimeBin, "qrv.exe");
  const std::string lean = JoinPath(kRelease, "launch_lean.boot");
  const std::string tolbe = JoinPath(kRelease, "launch_tolbe.boot");
  const std::string ini = JoinPath(kRuntimeBin, "qrv.ini");
  const std::string current = JoinPath(kRootBin, "launch_lean.boot");
  const Case cases[] = {
      {"launcher_missing", Op::kExists, tavlo, true, 1, "Could not find file " + tavlo + "\n"},
      {"launcher_copy_fails", Op::kCopy, qrv, false, 0,
       "Could not copy file " + qrv + " to " + JoinPath(kRootBin, "qrv.exe") +
           "\nContinuing installation anyway...\n"},
      {"boot_missing", Op::kExists, tolbe, true, 1, "Could not find file " + tolbe + "\n"},
      {"boot_copy_fails", Op::kCopy, lean, false, 1,
       "Could not copy file " + lean + " to " + JoinPath(kRootBin, "launch_lean.boot") + "\n" + kBail},
      {"current_boot_copy_fails", Op::kCopy, current, false, 1,
       "Could not copy file " + current + " to " + JoinPath(kRootBin, "launch.boot") + "\n" + kBail},
      {"ini_not_created", Op::kReplace, ini, false, 1, "Could not create file " + ini + "\n" + kBail},
      {"ini_not_written", Op::kWrite, ini, false, 1,
       "Could not create file " + ini + "\n" + kBail},
      {"ini_not_moved", Op::kCommit, ini, false, 1, "Could not create file " + ini + "\n" + kBail},
      {"ini_not_copied", Op::kCopy, ini, false, 1,
       "Could not copy file " + ini + " to " + JoinPath(kRootBin, "qrv.ini") + "\n" + kBail},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    if (c.remove_instead) {
      disk.files.erase(c.path);
    } else {
      disk.fail_if = [&c](const Call& call, std::size_t) {
        // A write goes to a temporary beside its file.
        return call.op == c.op && (c.op == Op::kWrite ? testing_support::DirectoryOf(call.path) ==
                                                            testing_support::DirectoryOf(c.path)
                                                      : call.path == c.path);
      };
    }
    Outcome o = RunInstall(&disk, {"-s", kRoot});
    EXPECT_EQ(o.status, c.status) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
    EXPECT_EQ(o.out, "") << c.name;
    EXPECT_EQ(disk.OpenFiles(), 0u) << c.name;
  }
}

// A missing launcher stops the run there: the ones before it are copied, nothing after.
TEST(InstallCommand, MissingLauncherLeavesEarlierCopies) {
  FakeFileSystem disk;
  AddTree(&disk);
  disk.files.erase(JoinPath(kRuntimeBin, "tavlo.exe"));
  EXPECT_EQ(RunInstall(&disk, {"-s", kRoot}).status, 1);
  for (std::size_t i = 0; i < kLaunchers.size(); ++i) {
    EXPECT_EQ(disk.files.count(JoinPath(kRootBin, kLaunchers[i])), i < 4 ? 1u : 0u) << kLaunchers[i];
  }
  EXPECT_EQ(disk.files.count(JoinPath(kRootBin, "launch_lean.boot")), 0u);
  EXPECT_EQ(disk.files.count(JoinPath(kRuntimeBin, "qrv.ini")), 0u);
}

// Both boot files are copied whatever the profile.
TEST(InstallCommand, MinimalProfileStillNeedsBothBootFiles) {
  FakeFileSystem disk;
  AddTree(&disk);
  disk.files.erase(JoinPath(kRelease, "launch_tolbe.boot"));
  Outcome o = RunInstall(&disk, {kRoot}, "y\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Could not find file " + JoinPath(kRelease, "launch_tolbe.boot") + "\n");
}

// A failing mkdir is passed over; the copies that follow report the problem.
TEST(InstallCommand, FailedDirectoryCreationIsPassedOver) {
  FakeFileSystem disk;
  AddTree(&disk);
  disk.fail_if = [](const Call& call, std::size_t) { return call.op == Op::kMakeDirectory; };
  Outcome o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
}

TEST(InstallCommand, RootWithSemicolonIsEscapedInRuntimeIni) {
  const std::string root = "a;b";
  FakeFileSystem disk;
  disk.files[JoinPath(root, "Install.ini")] = "[Install]\nVSN=1\nSYSTEM_VSN=2\n";
  const std::string bin = JoinPath(JoinPath(root, "qcore-1"), "bin");
  for (const std::string& name : kLaunchers) disk.files[JoinPath(bin, name)] = name;
  for (const char* boot : {"launch_lean.boot", "launch_tolbe.boot"}) {
    disk.files[JoinPath(JoinPath(JoinPath(root, "releases"), "2"), boot)] = boot;
  }
  ASSERT_EQ(RunInstall(&disk, {"-s", root}).status, 0);
  EXPECT_EQ(disk.files[JoinPath(JoinPath(root, "bin"), "qrv.ini")],
            "[quorva]\nBindir=" + Escaped(bin) + "\nProgname=qrv\nRootdir=a\\;b\n");
}

}  // namespace
