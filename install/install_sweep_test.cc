// Failure sweeps and hostile inputs: every operation and every allocation of a complete
// installation is made to fail in turn, and the command is fed inputs meant to break it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ini/project_internal.h"
#include "install/install.h"
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

constexpr char kBail[] = "Cannot continue installation, bailing out.\n";

// qrv.ini as a complete run over the standard tree writes it.
std::string RuntimeIniBytes() {
  return "[quorva]\nBindir=" + Escaped(kRuntimeBin) + "\nProgname=qrv\nRootdir=Q\n";
}

bool IsLauncher(const std::string& path) { return path.rfind(kRuntimeBin, 0) == 0 && path.find(".exe") != std::string::npos; }

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
    Outcome o = RunInstall(&disk, {"-s", kRoot});
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
  for (const std::string& name : kLaunchers) paths.push_back(JoinPath(kRootBin, name));
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
  Outcome o = RunInstall(&disk, {"-s", kRoot});
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
      EXPECT_EQ(disk.files[JoinPath(kRootBin, "qrv.ini")], RuntimeIniBytes());
    } else if (failing < load_allocations) {
      FailingAllocator allocator(failing);
      Outcome o = RunInstall(&disk, {"-s", kRoot});
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
       "Could not find file " + JoinPath(JoinPath(JoinPath(kRoot, "qcore-4.0"), "bin"), "qrv.exe") + "\n"},
      {"nul_in_header", std::string("[Inst\0all]\nVSN=1\n", 17), 1, cannot_open},
      {"crlf_and_comments", "; r\r\n[Install] ; s\r\nVSN = 4.0.1 ; v\r\nSYSTEM_VSN=26\r\n", 0, ""},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk, c.ini);
    Outcome o = RunInstall(&disk, {"-s", kRoot});
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
    Outcome o = RunInstall(&disk, {"-s", kRoot});
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
  Outcome o = RunInstall(&disk, {"-s", kRoot});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(disk.files[JoinPath(kRootBin, "launch.boot")], "lean");
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
    disk.files[JoinPath(root, "Install.ini")] = "[Install]\nVSN=4\\;0=[1] \t\xE9\nSYSTEM_VSN=2\\;6\n";
    for (const std::string& name : kLaunchers) disk.files[JoinPath(bin, name)] = name;
    for (const char* boot : {"launch_lean.boot", "launch_tolbe.boot"}) {
      disk.files[JoinPath(release, boot)] = boot;
    }
    Outcome o = RunInstall(&disk, {"-s", root});
    EXPECT_EQ(o.status, 0) << first;
    EXPECT_EQ(o.err, "") << first;
    const std::string written = disk.files[JoinPath(JoinPath(root, "bin"), "qrv.ini")];
    EXPECT_EQ(written, "[quorva]\nBindir=" + Escaped(bin) + "\nProgname=qrv\nRootdir=" + Escaped(root) + "\n");
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
      {JoinPath(kRoot, "qcore-4.0.1"), "Could not find file " + JoinPath(kRuntimeBin, "qrv.exe") + "\n"},
      {kRuntimeBin, "Could not find file " + JoinPath(kRuntimeBin, "qrv.exe") + "\n"},
      {JoinPath(kRoot, "releases"), "Could not find file " + JoinPath(kRelease, "launch_lean.boot") + "\n"},
      {kRelease, "Could not find file " + JoinPath(kRelease, "launch_lean.boot") + "\n"},
  };
  for (const Case& c : cases) {
    FakeFileSystem disk;
    AddTree(&disk);
    for (auto it = disk.files.begin(); it != disk.files.end();) {
      it = it->first.rfind(c.removed_prefix, 0) == 0 ? disk.files.erase(it) : std::next(it);
    }
    Outcome o = RunInstall(&disk, {"-s", kRoot});
    EXPECT_EQ(o.status, 1) << c.removed_prefix;
    EXPECT_EQ(o.err, c.err) << c.removed_prefix;
  }
}

TEST(InstallHostile, UnreadableStandardInput) {
  FakeFileSystem disk;
  AddTree(&disk);
  Outcome o = RunInstallWithUnreadableInput(&disk, {kRoot});
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
