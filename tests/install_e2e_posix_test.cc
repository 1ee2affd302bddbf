// The real Install program on trees from elsewhere on POSIX systems, which may hold what a
// Windows tree cannot: set-ID bits, FIFOs, symbolic links at the targets, leftovers of a
// killed run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/real_tree.h"
#include "tests/system.h"
#include "tests/test_util.h"

namespace {

using testing_support::Mode;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// bits, FIFOs, symbolic links.
class PosixInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "dist";
    testing_support::WriteTree(root_, testing_support::Distribution());
  }
  testing_support::ProcessResult Install(const std::vector<std::string>& args) {
    return testing_support::RunProcess(testing_support::InstallProgram(), args, "", dir_.path());
  }
  std::string At(const std::string& relative) const { return root_ + "/" + relative; }
  TempDir dir_;
  std::string root_;
};

// Root installs a tree whose files belong to a user: the copies are the command's own,
// with the source's bits less the umask, never set-ID and never writable by all.
TEST_F(PosixInstall, CopiesGetNoSetIdBitsAndNoWorldWrite) {
  if (geteuid() == 0) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
      ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
    }
  }
  ASSERT_EQ(chmod(At("qcore-4.0.1/bin/qrv.exe").c_str(), 04755),
            0);  // after chown, which clears it
  ASSERT_EQ(chmod(At("qcore-4.0.1/bin/wqrv.exe").c_str(), 0777), 0);
  const mode_t umask_before = umask(022);
  EXPECT_EQ(Install({"-s", root_}).status, 0);
  umask(umask_before);
  EXPECT_EQ(Mode(At("bin/qrv.exe")), 0755u);
  EXPECT_EQ(Mode(At("bin/wqrv.exe")), 0755u);
}

// What a killed run left beside its targets is cleared by the next run, whose tree is then
// that of a clean run; a temporary newer than the run (another run's, going on beside it)
// stays, and so does a name that is not a temporary's.
TEST_F(PosixInstall, LeftoversOfAKilledRunAreCleared) {
  const std::string left_in_bin = "bin/.ini-00000000000000aa.tmp";
  const std::string left_in_runtime = "qcore-4.0.1/bin/.ini-00000000000000bb.tmp";
  const std::string fresh = "bin/.ini-00000000000000cc.tmp", other = "bin/wqrv.exe.partial";
  std::filesystem::create_directory(At("bin"));
  for (const std::string& path : {left_in_bin, left_in_runtime, fresh, other})
    WriteFileBytes(At(path), "MZ half");
  const struct timespec an_hour_ago[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  for (const std::string& path : {left_in_bin, left_in_runtime, other}) {
    ASSERT_EQ(utimensat(AT_FDCWD, At(path).c_str(), an_hour_ago, 0), 0);
  }
  EXPECT_EQ(Install({"-s", root_}).status, 0);
  testing_support::Tree expected = testing_support::Installed(root_, "launch_lean.boot");
  expected[fresh] = expected[other] = "MZ half";
  EXPECT_EQ(testing_support::ReadTree(root_), expected);
}

// A FIFO from an untrusted archive, where the run reads or writes, neither blocks the run
// nor passes for a file: it is refused before anything changes.
TEST_F(PosixInstall, FifosNeitherBlockNorGetCopied) {
  const char* const fifos[] = {"Install.ini", "qcore-4.0.1/bin/qrvc.exe",
                               "releases/26/launch_tolbe.boot", "bin/qrv.exe",
                               "qcore-4.0.1/bin/qrv.ini"};
  for (const char* fifo : fifos) {
    std::filesystem::remove_all(root_);
    testing_support::WriteTree(root_, testing_support::Distribution());
    std::filesystem::create_directories(At("bin"));
    std::filesystem::remove(At(fifo));
    ASSERT_EQ(mkfifo(At(fifo).c_str(), 0644), 0);
    const testing_support::Tree before = testing_support::ReadTree(root_);
    testing_support::ProcessResult r = Install({"-s", root_});
    EXPECT_EQ(r.status, 1) << fifo;
    EXPECT_EQ(r.err, std::string(fifo) == "Install.ini" ? "Cannot open init file " + At(fifo) + "\n"
                                                        : "Not a regular file: " + At(fifo) + "\n");
    EXPECT_EQ(testing_support::ReadTree(root_), before) << fifo;
  }
}

// Links that the tree holds where the run writes are replaced, not written through: the
// run never writes outside the root.
TEST_F(PosixInstall, LinksInTheTreeAreReplacedNotFollowed) {
  const std::string outside = dir_ / "outside";
  WriteFileBytes(outside, "outside");
  std::filesystem::create_directories(At("bin"));
  for (const char* link :
       {"bin/qrv.ini", "bin/launch.boot", "bin/qrv.exe", "qcore-4.0.1/bin/qrv.ini"}) {
    ASSERT_EQ(symlink(outside.c_str(), At(link).c_str()), 0) << link;
  }
  EXPECT_EQ(Install({"-s", root_}).status, 0);
  EXPECT_EQ(ReadFileBytes(outside), "outside");
  EXPECT_EQ(testing_support::ReadTree(root_),
            testing_support::Installed(root_, "launch_lean.boot"));
  EXPECT_FALSE(std::filesystem::is_symlink(At("qcore-4.0.1/bin/qrv.ini")));
}

}  // namespace
