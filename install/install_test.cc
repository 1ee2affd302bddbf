// Tests of the Install command over the in-memory disk: command line, root, question,
// release description, every failure of the run and the files it leaves; then the sweeps,
// which make every operation and every allocation fail in turn and stop the machine at
// each, and inputs meant to break the command.
#include "install/install.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ini/project_internal.h"
#include "tests/failing_allocator.h"
#include "tests/fake_file_system.h"
#include "tests/install_fixture.h"

namespace {

using install::JoinPath;
using namespace testing_support::install_tree;
using testing_support::Call;
using testing_support::FailingAllocator;
using testing_support::FakeFileSystem;
using testing_support::Op;

constexpr char kPrompt[] = "Do you want a minimal startup instead of tolbe [No]: ";
constexpr char kBail[] = "Cannot continue installation, bailing out.\n";

TEST(InstallCommand, CompleteInstallation) {
  FakeFileSystem disk;
  AddTree(&disk);
  ProcessResult o = RunInstall(&disk, {kRoot}, "\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string(kPrompt) + "Quorva 4.0.1 installed successfully\n");
  EXPECT_EQ(o.err, "");
  for (const std::string name : kLaunchers)
    EXPECT_EQ(disk.files[JoinPath(kRootBin, name)], LauncherBytes(name));
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch_lean.boot")], BootBytes("lean"));
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch_tolbe.boot")], BootBytes("tolbe"));
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], BootBytes("tolbe"));
  const std::string ini = testing_support::RuntimeIni(kRoot, kRuntimeBin);
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
  ProcessResult o = RunInstall(&disk, {"-s", kRoot}, "yes\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.rest_of_input, "yes\n") << "no question, so nothing is read";
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], BootBytes("lean"));
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
      {{kRoot, "other"},
       1,
       "Only one root directory can be specified, parameter other is illegal\n"},
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
    ProcessResult o = RunInstall(&disk, c.args);
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
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], BootBytes("lean"));

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
      {JoinPath("xa", "Install.exe"), false,
       "Root directory xa has characters outside the ANSI code page\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem failing;
    failing.own_path = c.own_path;
    failing.own_path_exact = c.own_path.find("xa") == std::string::npos;
    if (c.fails)
      failing.fail_if = [](const Call& call, std::size_t) { return call.op == Op::kOwnPath; };
    ProcessResult o = RunInstall(&failing, {"-s"});
    EXPECT_EQ(o.status, 1) << c.own_path;
    EXPECT_EQ(o.err, c.err) << c.own_path;
  }
}

TEST(InstallCommand, Answers) {
  struct Case {
    std::string input;
    const char* boot;  // the profile whose boot file is made current
    std::string rest;  // input left unread
  };
  const std::string long_line(150, 'y');
  const std::string line_99(99, 'n');
  const Case cases[] = {
      {"Y\r\n", "lean", ""},
      {"YES\r\n", "lean", ""},
      {"yes\n", "lean", ""},
      {"y\nnext\n", "lean", "next\n"},
      {"y", "lean", ""},
      {"yEs\n", "lean", ""},
      {"no\n", "tolbe", ""},
      {"n\n", "tolbe", ""},
      {"yess\n", "tolbe", ""},
      {"\n", "tolbe", ""},
      {" y\n", "tolbe", ""},
      {"yes \n", "tolbe", ""},
      {long_line + "\nnext\n", "tolbe", "next\n"},
      {line_99 + "\nnext\n", "tolbe", "next\n"},
      {"y\ry\n", "lean", ""},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    ProcessResult o = RunInstall(&disk, {kRoot}, c.input);
    EXPECT_EQ(o.status, 0) << c.input;
    EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], BootBytes(c.boot)) << c.input;
    EXPECT_EQ(o.rest_of_input, c.rest) << c.input;
  }
}

// The question comes before the release description is looked at.
TEST(InstallCommand, NoAnswerFailsBeforeReadingTheReleaseDescription) {
  FakeFileSystem disk;
  ProcessResult o = RunInstall(&disk, {kRoot}, "");
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
      {"no_section", "[install]\nVSN=1\nSYSTEM_VSN=2\n",
       "No [Install] section in init file " + path + "\n"},
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
      {"release_dot", "[Install]\nVSN=1\nSYSTEM_VSN=.\n",
       "Illegal SYSTEM_VSN . in init file " + path + "\n"},
      {"release_dot_dot", "[Install]\nVSN=1\nSYSTEM_VSN=..\n",
       "Illegal SYSTEM_VSN .. in init file " + path + "\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    if (c.ini == nullptr) {
      disk.files.erase(kIniPath);
    } else {
      disk.files[kIniPath] = c.ini;
    }
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
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
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
    const std::string err =
        colon_refused && version == "a:b"
            ? "Illegal VSN a:b in init file " + kIniPath + "\n"
            : "Could not find file " +
                  JoinPath(JoinPath(JoinPath(kRoot, "qcore-" + version), "bin"), "qrv.exe") + "\n";
    EXPECT_EQ(o.err, err) << version;
  }
}

TEST(InstallCommand, EmptyVersionGivesBareDirectoryName) {
  FakeFileSystem disk;
  disk.files[kIniPath] = "[Install]\nVSN=\nSYSTEM_VSN=26\n";
  ProcessResult o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Could not find file " +
                       JoinPath(JoinPath(JoinPath(kRoot, "qcore-"), "bin"), "qrv.exe") + "\n");
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
       "Path too long: " +
           JoinPath(JoinPath(JoinPath(kRoot, "qcore-" + long_version), "bin"), "qrv.exe") + "\n"},
      {"system_version", kRoot, "[Install]\nVSN=1\nSYSTEM_VSN=" + long_version + "\n",
       "Path too long: " +
           JoinPath(JoinPath(JoinPath(kRoot, "releases"), long_version), "launch_lean.boot") +
           "\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    disk.files[JoinPath(c.root, "Install.ini")] = c.ini;
    ProcessResult o = RunInstall(&disk, {"-s", c.root});
    EXPECT_EQ(o.status, 1) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
    EXPECT_FALSE(DiskTouched(disk)) << c.name;
  }
  // The limit itself is allowed: a root whose longest composed path is exactly 259 bytes.
  const std::string root(259 - std::string("/releases/2/launch_tolbe.boot").size(), 'x');
  FakeFileSystem disk;
  disk.files[JoinPath(root, "Install.ini")] = "[Install]\nVSN=4.0.1\nSYSTEM_VSN=2\n";
  ProcessResult o = RunInstall(&disk, {"-s", root});
  EXPECT_EQ(o.err, "Could not find file " +
                       JoinPath(JoinPath(JoinPath(root, "qcore-4.0.1"), "bin"), "qrv.exe") + "\n");
}

// Each failure of the run, by the operation that fails and the path it is given.
TEST(InstallCommand, RunFailures) {
  struct Case {
    const char* name;
    Op op;
    std::string path;     // the failing call's path (a copy's source)
    bool remove_instead;  // remove that file from the tree instead of failing the call
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
       "Could not copy file " + lean + " to " + JoinPath(kRootBin, "launch_lean.boot") + "\n" +
           kBail},
      {"current_boot_copy_fails", Op::kCopy, current, false, 1,
       "Could not copy file " + current + " to " + JoinPath(kRootBin, "launch.boot") + "\n" +
           kBail},
      {"ini_not_created", Op::kReplace, ini, false, 1,
       "Could not create file " + ini + "\n" + kBail},
      {"ini_not_written", Op::kWrite, ini, false, 1, "Could not create file " + ini + "\n" + kBail},
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
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
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
  for (std::size_t i = 0; i < std::size(kLaunchers); ++i) {
    EXPECT_EQ(disk.files.count(JoinPath(kRootBin, kLaunchers[i])), i < 4 ? 1u : 0u)
        << kLaunchers[i];
  }
  EXPECT_EQ(disk.files.count(JoinPath(kRootBin, "launch_lean.boot")), 0u);
  EXPECT_EQ(disk.files.count(JoinPath(kRuntimeBin, "qrv.ini")), 0u);
}

// Both boot files are copied whatever the profile.
TEST(InstallCommand, MinimalProfileStillNeedsBothBootFiles) {
  FakeFileSystem disk;
  AddTree(&disk);
  disk.files.erase(JoinPath(kRelease, "launch_tolbe.boot"));
  ProcessResult o = RunInstall(&disk, {kRoot}, "y\n");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Could not find file " + JoinPath(kRelease, "launch_tolbe.boot") + "\n");
}

// A failing mkdir is passed over; the copies that follow report the problem.
TEST(InstallCommand, FailedDirectoryCreationIsPassedOver) {
  FakeFileSystem disk;
  AddTree(&disk);
  disk.fail_if = [](const Call& call, std::size_t) { return call.op == Op::kMakeDirectory; };
  ProcessResult o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
}

TEST(InstallCommand, RootWithSemicolonIsEscapedInRuntimeIni) {
  const std::string root = "a;b";
  FakeFileSystem disk;
  disk.files[JoinPath(root, "Install.ini")] = "[Install]\nVSN=1\nSYSTEM_VSN=2\n";
  const std::string bin = JoinPath(JoinPath(root, "qcore-1"), "bin");
  for (const std::string name : kLaunchers) disk.files[JoinPath(bin, name)] = name;
  for (const char* boot : {"launch_lean.boot", "launch_tolbe.boot"}) {
    disk.files[JoinPath(JoinPath(JoinPath(root, "releases"), "2"), boot)] = boot;
  }
  ASSERT_EQ(RunInstall(&disk, {"-s", root}).status, 0);
  EXPECT_EQ(disk.files[JoinPath(JoinPath(root, "bin"), "qrv.ini")],
            testing_support::RuntimeIni(root, bin));
  EXPECT_NE(disk.files[JoinPath(JoinPath(root, "bin"), "qrv.ini")].find("Rootdir=a\\;b\n"),
            std::string::npos);
}

// The sweeps and hostile inputs.

bool IsLauncher(const std::string& path) {
  return path.rfind(kRuntimeBin, 0) == 0 && path.find(".exe") != std::string::npos;
}

// What the command does when `call` fails: its exit status and standard error.
std::pair<int, std::string> ExpectedFailure(const Call& call) {
  const std::string runtime_ini = JoinPath(kRuntimeBin, "qrv.ini");
  switch (call.op) {
    case Op::kOpenRead:
    case Op::kRead:
      return {1, "Cannot open init file " + kIniPath + "\n"};
    case Op::kExists:
      return {1, "Could not find file " + call.path + "\n"};
    case Op::kLocate:  // a path that cannot be located is not known to stay in the tree
      return {1, "Path " + call.path + " leads outside the root directory " + kRoot + "\n"};
    case Op::kCopy:
      return {IsLauncher(call.path) ? 0 : 1,
              "Could not copy file " + call.path + " to " + call.target + "\n" +
                  (IsLauncher(call.path) ? "Continuing installation anyway...\n" : kBail)};
    case Op::kReplace:
    case Op::kWrite:
    case Op::kCommit:
      return {1, "Could not create file " + runtime_ini + "\n" + kBail};
    default:  // a failed mkdir, or close of Install.ini, is passed over
      return {0, ""};
  }
}

std::vector<Call> ReferenceRun() {
  FakeFileSystem disk;
  AddTree(&disk);
  EXPECT_EQ(RunInstall(&disk, {"-s", kRoot}).status, 0);
  return disk.calls;
}

// Each operation of a complete installation fails in turn: the documented status and
// messages, no file left open, every copy before a fatal failure in place, none after.
TEST(InstallSweep, EveryOperationFailsInTurn) {
  const std::vector<Call> reference = ReferenceRun();
  ASSERT_GT(reference.size(), 25u);
  for (std::size_t failing = 0; failing < reference.size(); ++failing) {
    const Call& call = reference[failing];
    FakeFileSystem disk;
    AddTree(&disk);
    disk.fail_if = [failing](const Call&, std::size_t index) { return index == failing; };
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
    auto [status, err] = ExpectedFailure(call);
    SCOPED_TRACE("call " + std::to_string(failing) + " on " + call.path);
    EXPECT_EQ(o.status, status);
    EXPECT_EQ(o.err, err);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(disk.OpenFiles(), 0u);
    for (std::size_t i = 0; i < reference.size(); ++i) {
      if (reference[i].op != Op::kCopy || i == failing) continue;
      bool done = i < failing || status == 0;
      EXPECT_EQ(disk.files.count(reference[i].target), done ? 1u : 0u) << reference[i].target;
    }
  }
}

// Every file the run puts under a final name.
std::vector<std::string> FinalPaths() {
  std::vector<std::string> paths;
  for (const std::string name : kLaunchers) paths.push_back(JoinPath(kRootBin, name));
  for (const char* name : {"launch_lean.boot", "launch_tolbe.boot", "launch.boot", "qrv.ini"}) {
    paths.push_back(JoinPath(kRootBin, name));
  }
  paths.push_back(JoinPath(kRuntimeBin, "qrv.ini"));
  return paths;
}

// The machine stops at each operation of a run in turn, also halfway through a write or a
// copy, as a crash or a power cut would stop it. No file under a final name is ever
// partial: each holds what an earlier run left or what this run makes. One complete run
// afterwards leaves exactly the tree of a run that was never stopped: no leftovers.
TEST(InstallSweep, CrashAtEveryOperation) {
  FakeFileSystem earlier;
  AddTree(&earlier);
  for (const std::string& path : FinalPaths()) earlier.files[path] = "earlier " + path;
  FakeFileSystem clean = earlier;
  ASSERT_EQ(RunInstall(&clean, {"-s", kRoot}).status, 0);
  ASSERT_GT(clean.calls.size(), 25u);
  for (std::size_t crash = 0; crash < clean.calls.size(); ++crash) {
    FakeFileSystem disk = earlier;
    disk.crash_at = crash;
    RunInstall(&disk, {"-s", kRoot});
    for (const std::string& path : FinalPaths()) {
      const std::string& now = disk.files[path];
      EXPECT_TRUE(now == "earlier " + path || now == clean.files[path]) << crash << ": " << path;
    }
    disk.Restart();
    EXPECT_EQ(RunInstall(&disk, {"-s", kRoot}).status, 0) << crash;
    EXPECT_EQ(disk.files, clean.files) << crash;
  }
}

// A short write of the runtime ini file fails the run; the working qrv.ini of an earlier
// run is kept whole.
TEST(InstallSweep, ShortWriteOfRuntimeIniKeepsTheOldOne) {
  FakeFileSystem disk;
  AddTree(&disk);
  const std::string runtime_ini = JoinPath(kRuntimeBin, "qrv.ini");
  disk.files[runtime_ini] = "[quorva]\nProgname=qrv\n";
  disk.short_write_if = [](const Call& call, std::size_t) { return call.op == Op::kWrite; };
  ProcessResult o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Could not create file " + runtime_ini + "\n" + kBail);
  EXPECT_EQ(disk.files[runtime_ini], "[quorva]\nProgname=qrv\n");
  EXPECT_EQ(disk.Temporaries(), std::vector<std::string>{});
  EXPECT_EQ(disk.files.count(JoinPath(kRootBin, "qrv.ini")), 0u);
}

// Allocations while reading Install.ini make the load fail, reported as for a bad file;
// allocations while building the runtime ini document stop the process with a message.
// The last one, the writer's block, falls back to a small block: the run still succeeds.
TEST(InstallSweep, EveryAllocationFailsInTurn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  long load_allocations;
  {
    FakeFileSystem disk;
    AddTree(&disk);
    FailingAllocator counting;
    IniDocument* document = ini_detail::LoadFile(disk, kIniPath.c_str());
    ASSERT_NE(document, nullptr);
    ini_free_document(document);
    load_allocations = counting.Allocations();
  }
  long total;
  {
    FakeFileSystem disk;
    AddTree(&disk);
    FailingAllocator counting;
    ASSERT_EQ(RunInstall(&disk, {"-s", kRoot}).status, 0);
    total = counting.Allocations();
    EXPECT_EQ(counting.LiveBlocks(), 0u);
  }
  ASSERT_GT(total, load_allocations);
  for (long failing = 0; failing < total; ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing));
    FakeFileSystem disk;
    AddTree(&disk);
    if (failing == total - 1) {
      FailingAllocator allocator(failing);
      EXPECT_EQ(RunInstall(&disk, {"-s", kRoot}).status, 0);
      EXPECT_EQ(disk.files[JoinPath(kRootBin, "qrv.ini")],
                testing_support::RuntimeIni(kRoot, kRuntimeBin));
    } else if (failing < load_allocations) {
      FailingAllocator allocator(failing);
      ProcessResult o = RunInstall(&disk, {"-s", kRoot});
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.err, "Cannot open init file " + kIniPath + "\n");
      EXPECT_EQ(allocator.LiveBlocks(), 0u);
      EXPECT_FALSE(DiskTouched(disk));
    } else {
      EXPECT_DEATH(
          {
            FailingAllocator allocator(failing);
            RunInstall(&disk, {"-s", kRoot});
          },
          "ini: out of memory");
    }
  }
}

TEST(InstallHostile, ReleaseDescriptions) {
  struct Case {
    const char* name;
    std::string ini;
    int status;
    std::string err;
  };
  const std::string cannot_open = "Cannot open init file " + kIniPath + "\n";
  const Case cases[] = {
      {"byte_order_mark", "\xEF\xBB\xBF[Install]\nVSN=4.0.1\nSYSTEM_VSN=26\n", 1, cannot_open},
      {"cr_only_line_ends", "[Install]\rVSN=4.0.1\rSYSTEM_VSN=26\r", 1, cannot_open},
      {"nul_cuts_the_value", std::string("[Install]\nVSN=4.0\0.1\nSYSTEM_VSN=26\n", 33), 1,
       "Could not find file " + JoinPath(JoinPath(JoinPath(kRoot, "qcore-4.0"), "bin"), "qrv.exe") +
           "\n"},
      {"nul_in_header", std::string("[Inst\0all]\nVSN=1\n", 17), 1, cannot_open},
      {"crlf_and_comments", "; r\r\n[Install] ; s\r\nVSN = 4.0.1 ; v\r\nSYSTEM_VSN=26\r\n", 0, ""},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk, c.ini);
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
    EXPECT_EQ(o.status, c.status) << c.name;
    EXPECT_EQ(o.err, c.err) << c.name;
  }
}

TEST(InstallHostile, RandomBytesAreRejectedWithoutHarm) {
  std::mt19937 random(20261208);
  for (int i = 0; i < 200; ++i) {
    std::string bytes(random() % 2000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    if (i % 2 == 0) bytes = "[Install]\n" + bytes;
    FakeFileSystem disk;
    AddTree(&disk, bytes);
    FailingAllocator allocator;
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err, "");
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
  }
}

// 100 MB of release description, one line of it 50 MB long: read whole, used as usual.
TEST(InstallHostile, HugeReleaseDescription) {
  std::string ini = "[Install]\nVSN=4.0.1\nHuge=" + std::string(50u << 20, 'x') + "\n";
  while (ini.size() < (100u << 20)) ini += "; padding padding padding padding padding padding\n";
  ini += "SYSTEM_VSN=26\n";
  FakeFileSystem disk;
  AddTree(&disk, ini);
  ProcessResult o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], BootBytes("lean"));
}

// Whatever bytes the root and the version hold, they reach the paths as they are, and the
// runtime ini file, with ';' and '\' escaped: the command's own document is never refused.
TEST(InstallHostile, AnyRootAndVersionGiveAWritableRuntimeIni) {
  const std::string version = "4;0=[1] \t\xE9";
  for (int first = 1; first < 256; first += 50) {
    std::string root;  // every byte but NUL, LF and CR, in runs of 50
    for (int b = first; b < first + 50 && b < 256; ++b) {
      if (b != '\n' && b != '\r') root += static_cast<char>(b);
    }
    FakeFileSystem disk;
    const std::string bin = JoinPath(JoinPath(root, "qcore-" + version), "bin");
    const std::string release = JoinPath(JoinPath(root, "releases"), "2;6");
    disk.files[JoinPath(root, "Install.ini")] =
        "[Install]\nVSN=4\\;0=[1] \t\xE9\nSYSTEM_VSN=2\\;6\n";
    for (const std::string name : kLaunchers) disk.files[JoinPath(bin, name)] = name;
    for (const char* boot : {"launch_lean.boot", "launch_tolbe.boot"}) {
      disk.files[JoinPath(release, boot)] = boot;
    }
    ProcessResult o = RunInstall(&disk, {"-s", root});
    EXPECT_EQ(o.status, 0) << first;
    EXPECT_EQ(o.err, "") << first;
    const std::string written = disk.files[JoinPath(JoinPath(root, "bin"), "qrv.ini")];
    EXPECT_EQ(written, testing_support::RuntimeIni(root, bin));
    // What the launchers will read: every value byte for byte.
    IniDocument* back = ini_load_memory(written.data(), written.size(), nullptr);
    const IniSection* section = ini_find_section(back, "quorva");
    EXPECT_STREQ(ini_get_value(section, "Bindir"), bin.c_str()) << first;
    EXPECT_STREQ(ini_get_value(section, "Rootdir"), root.c_str()) << first;
    ini_free_document(back);
  }
}

TEST(InstallHostile, MissingDirectoriesAtEveryLevel) {
  struct Case {
    std::string removed_prefix;  // every file below this path is taken away
    std::string err;
  };
  const Case cases[] = {
      {kRoot, "Cannot open init file " + kIniPath + "\n"},
      {JoinPath(kRoot, "qcore-4.0.1"),
       "Could not find file " + JoinPath(kRuntimeBin, "qrv.exe") + "\n"},
      {kRuntimeBin, "Could not find file " + JoinPath(kRuntimeBin, "qrv.exe") + "\n"},
      {JoinPath(kRoot, "releases"),
       "Could not find file " + JoinPath(kRelease, "launch_lean.boot") + "\n"},
      {kRelease, "Could not find file " + JoinPath(kRelease, "launch_lean.boot") + "\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    for (auto it = disk.files.begin(); it != disk.files.end();) {
      it = it->first.rfind(c.removed_prefix, 0) == 0 ? disk.files.erase(it) : std::next(it);
    }
    ProcessResult o = RunInstall(&disk, {"-s", kRoot});
    EXPECT_EQ(o.status, 1) << c.removed_prefix;
    EXPECT_EQ(o.err, c.err) << c.removed_prefix;
  }
}

TEST(InstallHostile, UnreadableStandardInput) {
  FakeFileSystem disk;
  AddTree(&disk);
  ProcessResult o = RunInstallWithUnreadableInput(&disk, {kRoot});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Could not read answer from user.\n");
  EXPECT_FALSE(DiskTouched(disk));
}

// Each directory of the layout, made too long on its own, is caught at the first path the
// run would compose from it.
TEST(InstallHostile, EveryComposedPathIsChecked) {
  const std::string fits(200, 'd');
  const std::string too_long(255, 'd');
  install::InstallLayout layout;
  layout.runtime_bin_dir = layout.release_dir = layout.root_bin_dir = fits;
  EXPECT_EQ(install::FirstPathTooLong(layout), "");

  struct Case {
    std::string install::InstallLayout::*field;
    const char* first_name;
  };
  const Case cases[] = {
      {&install::InstallLayout::runtime_bin_dir, "qrv.exe"},
      {&install::InstallLayout::root_bin_dir, "qrv.exe"},
      {&install::InstallLayout::release_dir, "launch_lean.boot"},
  };
  for (const Case& c : cases) {
    install::InstallLayout one = layout;
    one.*c.field = too_long;
    EXPECT_EQ(install::FirstPathTooLong(one), JoinPath(too_long, c.first_name)) << c.first_name;
  }
  // The longest names decide at the edge: "launch_tolbe.boot" is the longest file name.
  install::InstallLayout edge = layout;
  edge.root_bin_dir = std::string(install::kMaxPath - 1 - 11, 'd');  // fits "zembrat.exe"
  EXPECT_EQ(install::FirstPathTooLong(edge), JoinPath(edge.root_bin_dir, "launch_lean.boot"));
}

}  // namespace
