// Install's part of the platform layer on a real POSIX file system, from a caller's side:
// copies behave like cp, and a confined file system keeps beneath its root. The library's
// part, replacing a file, is tested with the store that uses it (ini/writer_posix_test.cc).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/tree.h"
#include "tests/child.h"
#include "tests/test_util.h"

namespace {

using testing_support::InChild;
using testing_support::Mode;
using testing_support::Names;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// A copy behaves like cp: the source's permission bits less the umask, never set-ID or
// sticky bits, and writable by its owner so the next copy can replace it. A link at the
// target is replaced, not written through; a FIFO as source fails at once; a target the
// process may not write stays.
TEST(PosixFileSystem, CopiesLikeCp) {
  TempDir dir;
  const std::unique_ptr<platform::TreeFileSystem> tree = platform::NewTreeFileSystem();
  platform::TreeFileSystem& disk = *tree;
  struct Case {
    mode_t source_mode, copy_mode;
  };
  const mode_t umask_before = umask(022);
  for (const Case& c : {Case{04755, 0755}, Case{0777, 0755}, Case{0444, 0644}, Case{02640, 0640}}) {
    const std::string source = dir / "source", copy = dir / "copy";
    WriteFileBytes(source, "bytes");
    ASSERT_EQ(chmod(source.c_str(), c.source_mode), 0);
    ASSERT_TRUE(disk.CopyReplacing(source.c_str(), copy.c_str()));
    EXPECT_EQ(Mode(copy), c.copy_mode) << std::oct << c.source_mode;
    std::filesystem::remove(copy);
    std::filesystem::remove(source);
  }
  umask(umask_before);

  const std::string source = dir / "source", outside = dir / "outside", link = dir / "link";
  WriteFileBytes(source, "new");
  WriteFileBytes(outside, "outside");
  ASSERT_EQ(symlink("outside", link.c_str()), 0);
  ASSERT_TRUE(disk.CopyReplacing(source.c_str(), link.c_str()));
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(link), "new");
  EXPECT_EQ(ReadFileBytes(outside), "outside");

  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);
  EXPECT_FALSE(disk.CopyReplacing((dir / "fifo").c_str(), (dir / "copy").c_str()));

  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  ASSERT_EQ(chmod(outside.c_str(), 0444), 0);
  ASSERT_EQ(chmod(source.c_str(), 0644), 0);
  EXPECT_EQ(
      InChild([&] { return disk.CopyReplacing(source.c_str(), outside.c_str()) ? 1 : 0; }, true),
      0);
  EXPECT_EQ(ReadFileBytes(outside), "outside");
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"fifo", "link", "outside", "source"}));
}

// A file system confined to a root checks each directory as it opens it: links made after
// any look beforehand (as by a tree's owner racing the run) lead nothing outside, and links
// that stay beneath the root work.
TEST(PosixFileSystem, ConfinedOperationsStayBeneathTheRoot) {
  TempDir dir;
  const std::string root = dir / "root", outside = dir / "outside";
  std::filesystem::create_directories(root + "/inside");
  std::filesystem::create_directories(outside);
  WriteFileBytes(root + "/source", "source");
  WriteFileBytes(outside + "/secret", "secret");
  const std::unique_ptr<platform::TreeFileSystem> disk = platform::NewTreeFileSystem();
  ASSERT_TRUE(disk->ConfineTo(root.c_str()));
  ASSERT_EQ(symlink("../outside", (root + "/bin").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/secret").c_str(), (root + "/leak").c_str()), 0);
  ASSERT_EQ(symlink("inside", (root + "/in").c_str()), 0);
  platform::Replacement replacement;
  platform::File file;
  EXPECT_FALSE(disk->CopyReplacing((root + "/source").c_str(), (root + "/bin/copy").c_str()));
  EXPECT_FALSE(disk->CopyReplacing((root + "/leak").c_str(), (root + "/copy").c_str()));
  EXPECT_FALSE(disk->MakeDirectory((root + "/bin/made").c_str()));
  EXPECT_FALSE(disk->BeginReplacing((root + "/bin/new.ini").c_str(), platform::AtLink::kReplace,
                                    &replacement));
  EXPECT_NE(disk->OpenForReading((root + "/leak").c_str(), platform::Accept::kAnyFile, &file),
            platform::Opened::kYes);
  EXPECT_EQ(disk->Locate((root + "/bin/missing/copy").c_str()), platform::Location::kOutside);
  EXPECT_EQ(Names(outside), std::set<std::string>{"secret"});
  EXPECT_TRUE(disk->CopyReplacing((root + "/source").c_str(), (root + "/in/copy").c_str()));
  EXPECT_EQ(ReadFileBytes(root + "/inside/copy"), "source");
  EXPECT_EQ(disk->Locate((root + "/in/missing/copy").c_str()), platform::Location::kBeneath);
}

// Install on a tree from elsewhere, which may hold what a Windows tree cannot: set-ID
TEST(PosixFileSystem, CopiesAPseudoFileWhole) {
  // The kernel's copy_file_range may copy nothing from a pseudo-file that holds bytes (some
  // kernels answer 0 rather than an error), and the copy must not come out empty.
  const std::string source = "/proc/self/cmdline";  // this process's arguments: stable
  TempDir dir;
  const std::string target = dir / "copy";
  ASSERT_TRUE(platform::NewTreeFileSystem()->CopyReplacing(source.c_str(), target.c_str()));
  const std::string expected = ReadFileBytes(source);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(ReadFileBytes(target), expected);
}

}  // namespace
