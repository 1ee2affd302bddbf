// The POSIX backend's own odd case: the kernel's copy_file_range may copy nothing from a
// pseudo-file that holds bytes (some kernels answer 0 rather than an error), and the copy
// must not come out empty.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/test_util.h"

namespace {

TEST(PosixFileSystem, CopiesAPseudoFileWhole) {
  const std::string source = "/proc/self/cmdline";  // this process's arguments: stable
  testing_support::TempDir dir;
  const std::string target = dir / "copy";
  ASSERT_TRUE(platform::RealFileSystem().CopyReplacing(source.c_str(), target.c_str()));
  const std::string expected = testing_support::ReadFileBytes(source);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(testing_support::ReadFileBytes(target), expected);
}

}  // namespace
