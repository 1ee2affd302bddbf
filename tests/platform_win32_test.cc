// Saving and copying through the Win32 calls, from a caller's side: a file is replaced whole
// and keeps its attributes, a read-only file stays as it is, and the command's copies do
// not take over a source's read-only attribute.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ini/ini.h"
#include "platform/platform.h"
#include "tests/test_util.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Stored(const IniDocument* document) {
  std::size_t size = 0;
  char* bytes = ini_store_memory(document, &size);
  std::string stored(bytes, size);
  ini_free_memory(bytes);
  return stored;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(Win32Store, ReplacesWholeKeepsAttributesAndSparesReadOnlyFiles) {
  TempDir dir;
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("s");
  ini_add_section(document, section);
  ini_set_value(section, "k", "v");

  const std::string hidden = dir / "hidden.ini";
  WriteFileBytes(hidden, "old");
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
  WriteFileBytes(hidden + platform::kPartialSuffix, "left by a crash");
  ASSERT_TRUE(SetFileAttributesA((hidden + platform::kPartialSuffix).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ini_store_file(document, hidden.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(hidden), Stored(document));
  EXPECT_NE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_FALSE(Exists(hidden + platform::kPartialSuffix));

  const std::string read_only = dir / "read-only.ini";
  WriteFileBytes(read_only, "kept");
  ASSERT_TRUE(SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ini_store_file(document, read_only.c_str()), -1);
  EXPECT_EQ(ReadFileBytes(read_only), "kept");
  SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_EQ(ini_store_file(document, "NUL"), 0) << "a device is written in place";
  ini_free_document(document);
}

TEST(Win32Copy, CopiesAreNeverReadOnlyAndReadOnlyTargetsStay) {
  TempDir dir;
  platform::FileSystem& disk = platform::RealFileSystem();
  const std::string source = dir / "source.exe", copy = dir / "copy.exe", kept = dir / "kept.exe";
  WriteFileBytes(source, "launcher");
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(disk.CopyReplacing(source.c_str(), copy.c_str())) << run;
    EXPECT_EQ(GetFileAttributesA(copy.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << run;
    EXPECT_EQ(ReadFileBytes(copy), "launcher");
  }
  WriteFileBytes(kept, "made read-only by a user");
  ASSERT_TRUE(SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(disk.CopyReplacing(source.c_str(), kept.c_str()));
  EXPECT_EQ(ReadFileBytes(kept), "made read-only by a user");
  EXPECT_FALSE(Exists(kept + platform::kPartialSuffix));
  SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
