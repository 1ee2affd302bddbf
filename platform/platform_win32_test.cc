// The platform layer through the Win32 calls, from a caller's side: a file is replaced
// whole (through ini_store_file) and keeps its attributes, a read-only file stays as it is,
// and the command's copies do not take over a source's read-only attribute.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ini/ini.h"
#include "platform/platform.h"
#include "platform/tree.h"
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

// Names in `dir` that are temporaries of a replacement.
std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (platform::IsTemporaryName(name.c_str())) found.push_back(name);
  }
  return found;
}

// A store replaces a file whole and keeps its attributes, spares a read-only file, is
// neither blocked nor steered by what stands at the names an earlier version used for its
// temporary (a read-only file, a directory), and stores a path so close to MAX_PATH that
// its temporary's is longer.
TEST(Win32Store, ReplacesWholeKeepsAttributesAndSparesReadOnlyFiles) {
  TempDir dir;
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("s");
  ini_add_section(document, section);
  ini_set_value(section, "k", "v");

  const std::string hidden = dir / "hidden.ini";
  WriteFileBytes(hidden, "old");
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
  WriteFileBytes(hidden + ".partial", "planted");
  ASSERT_TRUE(SetFileAttributesA((hidden + ".partial").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryA((dir / "planted.ini.partial").c_str(), nullptr));
  EXPECT_EQ(ini_store_file(document, hidden.c_str()), 0);
  EXPECT_EQ(ini_store_file(document, (dir / "planted.ini").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(hidden), Stored(document));
  EXPECT_EQ(ReadFileBytes(dir / "planted.ini"), Stored(document));
  EXPECT_NE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(ReadFileBytes(hidden + ".partial"), "planted");
  EXPECT_NE(GetFileAttributesA((dir / "planted.ini.partial").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            0u);
  SetFileAttributesA((hidden + ".partial").c_str(), FILE_ATTRIBUTE_NORMAL);

  const std::string read_only = dir / "read-only.ini";
  WriteFileBytes(read_only, "kept");
  ASSERT_TRUE(SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ini_store_file(document, read_only.c_str()), -1);
  EXPECT_EQ(ReadFileBytes(read_only), "kept");
  SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);

  std::string deep = dir.path();
  while (deep.size() < MAX_PATH - 20) {
    deep += "\\" + std::string(std::min<std::size_t>(40, MAX_PATH - 20 - deep.size()), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
  }
  const std::string near_the_limit = deep + "\\k.ini";  // its temporary's path is longer
  ASSERT_LT(near_the_limit.size(), std::size_t{MAX_PATH});
  EXPECT_EQ(ini_store_file(document, near_the_limit.c_str()), 0);
  EXPECT_EQ(ini_store_file(document, near_the_limit.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(near_the_limit), Stored(document));
  EXPECT_EQ(Temporaries(deep), std::vector<std::string>{});
  EXPECT_EQ(Temporaries(dir.path()), std::vector<std::string>{});

  EXPECT_EQ(ini_store_file(document, "NUL"), 0) << "a device is written in place";
  ini_free_document(document);
}

TEST(Win32Copy, CopiesAreNeverReadOnlyAndReadOnlyTargetsStay) {
  TempDir dir;
  const std::unique_ptr<platform::TreeFileSystem> tree = platform::NewTreeFileSystem();
  platform::TreeFileSystem& disk = *tree;
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
  EXPECT_EQ(Temporaries(dir.path()), std::vector<std::string>{});
  SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Every directory a tree file system uses is held open without FILE_SHARE_DELETE from its
// first use until the file system is gone: no program may rename it (or replace it by a
// junction) in between, so the directory checked is the directory written.
TEST(Win32Tree, HoldsEveryDirectoryItUsesUntilItEnds) {
  TempDir dir;
  const std::string root = dir / "root", bin = root + "\\bin";
  ASSERT_TRUE(CreateDirectoryA(root.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(bin.c_str(), nullptr));
  WriteFileBytes(root + "\\source", "launcher");
  {
    const std::unique_ptr<platform::TreeFileSystem> tree = platform::NewTreeFileSystem();
    ASSERT_TRUE(tree->ConfineTo(root.c_str()));
    ASSERT_TRUE(tree->CopyReplacing((root + "\\source").c_str(), (bin + "\\copy").c_str()));
    EXPECT_FALSE(MoveFileExA(bin.c_str(), (bin + ".moved").c_str(), 0)) << "bin is held";
    EXPECT_FALSE(MoveFileExA(root.c_str(), (dir / "moved").c_str(), 0)) << "the root is held";
  }
  EXPECT_TRUE(MoveFileExA(bin.c_str(), (bin + ".moved").c_str(), 0)) << "released at the end";
  EXPECT_EQ(ReadFileBytes(bin + ".moved\\copy"), "launcher");
}

}  // namespace
