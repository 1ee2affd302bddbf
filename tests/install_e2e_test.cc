// End-to-end tests: the real Install program on real distribution trees in temporary
// directories, checking its streams, its exit status and every file of the tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "install/install.h"
#include "platform/platform.h"
#include "tests/real_tree.h"
#include "tests/system.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Distribution;
using testing_support::Installed;
using testing_support::InstallProgram;
using testing_support::Native;
using testing_support::ProcessResult;
using testing_support::ReadTree;
using testing_support::TempDir;
using testing_support::Tree;
using testing_support::WriteTree;

constexpr char kPrompt[] = "Do you want a minimal startup instead of tolbe [No]: ";
constexpr char kSuccess[] = "Quorva 4.0.1 installed successfully\n";
constexpr char kBail[] = "Cannot continue installation, bailing out.\n";

class InstallEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "dist";
    WriteTree(root_, Distribution());
  }
  ProcessResult Install(const std::vector<std::string>& args, const std::string& input = "") {
    return testing_support::RunProcess(InstallProgram(), args, input, dir_.path());
  }
  TempDir dir_;
  std::string root_;
};

TEST_F(InstallEndToEnd, InteractiveFullProfile) {
  ProcessResult r = Install({root_}, "\r\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kPrompt) + kSuccess);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadTree(root_), Installed(root_, "launch_tolbe.boot"));
}

TEST_F(InstallEndToEnd, SilentMinimalProfile) {
  ProcessResult r = Install({"-s", root_});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadTree(root_), Installed(root_, "launch_lean.boot"));
}

TEST_F(InstallEndToEnd, SwitchAfterRootAndMinimalAnswer) {
  ProcessResult r = Install({root_, "-silent"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadTree(root_), Installed(root_, "launch_lean.boot"));
  r = Install({root_}, "YES\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kPrompt) + kSuccess);
  EXPECT_EQ(ReadTree(root_), Installed(root_, "launch_lean.boot"));
}

// A second run replaces every file, and the other profile replaces launch.boot.
TEST_F(InstallEndToEnd, RerunReplacesEverything) {
  ASSERT_EQ(Install({"-s", root_}).status, 0);
  Tree old = Installed(root_, "launch_lean.boot");
  for (auto& [relative, bytes] : old) {
    if (relative.rfind("bin/", 0) == 0)
      testing_support::WriteFileBytes(root_ + Native("/" + relative), "old");
  }
  ProcessResult r = Install({root_}, "n\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadTree(root_), Installed(root_, "launch_tolbe.boot"));
}

TEST_F(InstallEndToEnd, RelativeRootIsUsedAsTyped) {
  fs::create_directories(fs::u8path(root_) / "sub");
  ProcessResult r =
      testing_support::RunProcess(InstallProgram(), {"-s", ".."}, "", root_ + Native("/sub"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  Tree expected = Installed("..", "launch_lean.boot");
  EXPECT_EQ(ReadTree(root_), expected);
}

TEST_F(InstallEndToEnd, RootWithSemicolon) {
  std::string root = dir_ / "a;b";
  WriteTree(root, Distribution());
  ProcessResult r = Install({"-s", root});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  Tree installed = ReadTree(root);
  EXPECT_EQ(installed, Installed(root, "launch_lean.boot"));
  EXPECT_NE(installed["bin/qrv.ini"].find("a\\;b"), std::string::npos);
}

// Without a root argument the program's own directory is the root.
TEST_F(InstallEndToEnd, NoRootArgumentUsesProgramDirectory) {
  std::string program = root_ + Native("/Install") + testing_support::kProgramSuffix;
  fs::copy_file(InstallProgram(), program);
  ProcessResult r = testing_support::RunProcess(program, {}, "y\n", dir_.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, std::string(kPrompt) + kSuccess);
  Tree installed = ReadTree(root_);
  installed.erase(std::string("Install") + testing_support::kProgramSuffix);
  EXPECT_EQ(installed, Installed(root_, "launch_lean.boot"));
}

TEST_F(InstallEndToEnd, Answers) {
  ProcessResult r = Install({root_}, std::string(150, 'y') + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadTree(root_)["bin/launch.boot"], Distribution()["releases/26/launch_tolbe.boot"]);
  r = Install({root_}, "y");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadTree(root_)["bin/launch.boot"], Distribution()["releases/26/launch_lean.boot"]);
  r = Install({root_}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kPrompt);
  EXPECT_EQ(r.err, "Could not read answer from user.\n");
}

TEST_F(InstallEndToEnd, CommandLineErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"-x", root_}, "Unknown command switch -x\n"},
      {{root_, "other"}, "Only one root directory can be specified, parameter other is illegal\n"},
      {{"-s", dir_ / "none"},
       "Cannot open init file " + (dir_ / "none") + Native("/Install.ini") + "\n"},
      // a root that is a file, not a directory
      {{"-s", root_ + Native("/Install.ini")},
       "Cannot open init file " + root_ + Native("/Install.ini/Install.ini") + "\n"},
  };
  for (const Case& c : cases) {
    ProcessResult r = Install(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
  }
  EXPECT_EQ(ReadTree(root_), Distribution()) << "nothing on disk changed";
}

TEST_F(InstallEndToEnd, ReleaseDescriptionWithoutSystemVersion) {
  testing_support::WriteFileBytes(root_ + Native("/Install.ini"), "[Install]\nVSN=4.0.1\n");
  ProcessResult r = Install({"-s", root_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "No key SYSTEM_VSN in init file " + root_ + Native("/Install.ini") + "\n");
  EXPECT_FALSE(fs::exists(fs::u8path(root_) / "bin"));
}

TEST_F(InstallEndToEnd, MissingLauncher) {
  fs::remove(fs::u8path(root_) / "qcore-4.0.1" / "bin" / "tavlo.exe");
  ProcessResult r = Install({"-s", root_});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Could not find file " + root_ + Native("/qcore-4.0.1/bin/tavlo.exe") + "\n");
  Tree expected = Distribution();
  expected.erase("qcore-4.0.1/bin/tavlo.exe");
  for (int i = 0; i < 4; ++i)
    expected["bin/" + std::string(install::kLaunchers[i])] =
        expected["qcore-4.0.1/bin/" + std::string(install::kLaunchers[i])];
  EXPECT_EQ(ReadTree(root_), expected);
}

// The files a run puts in place, in the order it puts them there.
std::vector<std::string> RunOrder() {
  std::vector<std::string> order;
  for (const char* name : install::kLaunchers) order.push_back(std::string("bin/") + name);
  for (const char* name : install::kBootFiles) order.push_back(std::string("bin/") + name);
  order.push_back(std::string("bin/") + install::kCurrentBootFile);
  order.push_back(std::string("qcore-4.0.1/bin/") + install::kRuntimeIni);
  order.push_back(std::string("bin/") + install::kRuntimeIni);
  return order;
}

// A directory standing where a file is to go makes that step fail on every system.
TEST_F(InstallEndToEnd, TargetsThatCannotBeWritten) {
  struct Case {
    const char* blocked;  // relative path made a directory
    int status;
    std::string err;
  };
  const std::string bin = root_ + Native("/bin/");
  const std::string runtime_bin = root_ + Native("/qcore-4.0.1/bin/");
  const std::string release = root_ + Native("/releases/26/");
  const Case cases[] = {
      {"bin/qrvc.exe", 0,
       "Could not copy file " + runtime_bin + "qrvc.exe to " + bin +
           "qrvc.exe\nContinuing installation anyway...\n"},
      {"bin/launch_tolbe.boot", 1,
       "Could not copy file " + release + "launch_tolbe.boot to " + bin + "launch_tolbe.boot\n" +
           kBail},
      {"bin/launch.boot", 1,
       "Could not copy file " + bin + "launch_lean.boot to " + bin + "launch.boot\n" + kBail},
      {"qcore-4.0.1/bin/qrv.ini", 1, "Could not create file " + runtime_bin + "qrv.ini\n" + kBail},
      {"bin/qrv.ini", 1,
       "Could not copy file " + runtime_bin + "qrv.ini to " + bin + "qrv.ini\n" + kBail},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string root = dir / "dist";
    WriteTree(root, Distribution());
    fs::create_directories(fs::u8path(root) / fs::u8path(c.blocked));
    std::string expected_err = c.err;
    for (std::size_t at; (at = expected_err.find(root_)) != std::string::npos;) {
      expected_err.replace(at, root_.size(), root);
    }
    ProcessResult r = testing_support::RunProcess(InstallProgram(), {"-s", root}, "", dir.path());
    EXPECT_EQ(r.status, c.status) << c.blocked;
    EXPECT_EQ(r.err, expected_err) << c.blocked;
    EXPECT_EQ(r.out, "");
    // Every file the run puts in place before the failure (all but the blocked one, when the
    // run goes on) is there, and nothing else.
    const Tree full = Installed(root, "launch_lean.boot");
    Tree expected = Distribution();
    for (const std::string& relative : RunOrder()) {
      if (relative == c.blocked) {
        if (c.status != 0) break;
        continue;
      }
      expected[relative] = full.at(relative);
    }
    EXPECT_EQ(ReadTree(root), expected) << c.blocked;
  }
}

// Sources unpacked read-only (from read-only media, say) give copies the next run can
// replace: a second run with the other profile succeeds without a warning.
TEST_F(InstallEndToEnd, ReadOnlySourcesGiveReplaceableCopies) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  for (const auto& [relative, bytes] : Distribution()) {
    fs::permissions(fs::u8path(root_) / fs::u8path(relative), write, fs::perm_options::remove);
  }
  ASSERT_EQ(Install({"-s", root_}).status, 0);
  ProcessResult r = Install({root_}, "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadTree(root_), Installed(root_, "launch_tolbe.boot"));
  for (const auto& entry : fs::recursive_directory_iterator(fs::u8path(root_))) {
    if (entry.path().parent_path() == fs::u8path(root_) / "bin") {
      EXPECT_NE(entry.status().permissions() & fs::perms::owner_write, fs::perms::none)
          << entry.path();
    }
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }
}

// A launcher in use by another program cannot be replaced: a warning, not a failure.
TEST_F(InstallEndToEnd, LauncherHeldOpenByAnotherProgram) {
  ASSERT_EQ(Install({"-s", root_}).status, 0);
  const std::string target = root_ + Native("/bin/wqrv.exe");
  testing_support::HeldFile held(target);
  if (!held.held()) GTEST_SKIP() << "this system has no lock that stops a copy over a file";
  ProcessResult r = Install({root_}, "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kPrompt) + kSuccess);
  EXPECT_EQ(r.err, "Could not copy file " + root_ + Native("/qcore-4.0.1/bin/wqrv.exe") + " to " +
                       target + "\nContinuing installation anyway...\n");
}

}  // namespace
