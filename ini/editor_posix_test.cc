// Storing edits on a real POSIX disk, where other processes edit the same file: stores that
// wait their turn and undo no one's edit, a check by file and not by spelling, and writes in
// place that are checked first and leave a full disk's file whole.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "ini/ini.hpp"
#include "tests/child.h"
#include "tests/test_util.h"

namespace {

using testing_support::InChild;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// The keys of section "s" in the file at `path`.
std::set<std::string> KeysIn(const std::string& path) {
  std::set<std::string> keys;
  ini::LoadResult loaded = ini::Document::LoadFile(path);
  for (const ini::Entry& entry : loaded.document.Find("s")) keys.insert(std::string(entry.key));
  return keys;
}

// Four processes load, change and store one file a hundred times each, as programs that
// keep a document do. Every store that says 0 is in the file; every -4 left it as it was
// (the next load sees the others' edits only). With the lock held from the load, as
// ini-edit holds it, every store says 0.
TEST(PosixEdits, ConcurrentStoresLoseNoEditReportedSaved) {
  for (const bool locked : {false, true}) {
    TempDir dir;
    const std::string path = dir / "shared.ini";
    WriteFileBytes(path, "; shared\n[s]\n");
    for (int writer = 0; writer < 4; ++writer) {
      if (fork() != 0) continue;
      std::string saved;
      for (int i = 0; i < 100; ++i) {
        const std::string key = "w" + std::to_string(writer) + "k" + std::to_string(i);
        IniDocument* document = locked ? ini_load_file_for_editing_locked(path.c_str(), nullptr)
                                       : ini_load_file_for_editing(path.c_str(), nullptr);
        if (document == nullptr) _exit(2);
        ini_set_value(ini_find_section(document, "s"), key.c_str(), "v");
        const int stored = ini_store_edits(document, path.c_str());
        ini_free_document(document);
        if (stored == 0) saved += key + "\n";
        if (stored != 0 && (locked || stored != -4)) _exit(3);
      }
      WriteFileBytes(dir / ("saved" + std::to_string(writer)), saved);
      _exit(0);
    }
    int status = 0, failed = 0;
    while (wait(&status) > 0) failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    EXPECT_EQ(failed, 0) << "locked " << locked;
    const std::set<std::string> in_file = KeysIn(path);
    std::size_t saved = 0;
    for (int writer = 0; writer < 4; ++writer) {
      std::istringstream lines(ReadFileBytes(dir / ("saved" + std::to_string(writer))));
      for (std::string key; std::getline(lines, key); ++saved) {
        EXPECT_EQ(in_file.count(key), 1u) << key << " was reported saved; locked " << locked;
      }
    }
    EXPECT_EQ(saved, in_file.size()) << "locked " << locked;
    if (locked) {
      EXPECT_EQ(saved, 400u);
    }
  }
}

// However the path is spelled, a store back to the file loaded is checked: another
// program's line stays, and -4 says why nothing was written. A link to the file names it too.
TEST(PosixEdits, ChecksTheFileNotItsSpelling) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  const std::string path = dir / "a.ini";
  WriteFileBytes(path, "[s]\nk=1\n");
  ASSERT_EQ(symlink("a.ini", (dir / "link.ini").c_str()), 0);
  IniDocument* document = ini_load_file_for_editing(path.c_str(), nullptr);
  ASSERT_NE(document, nullptr);
  WriteFileBytes(path, "[s]\nk=1\nanother=program's\n");
  ini_set_value(ini_find_section(document, "s"), "k", "2");
  for (const std::string& spelling : {dir / "./a.ini", dir / "sub/../a.ini", dir / "link.ini"}) {
    EXPECT_EQ(ini_store_edits(document, spelling.c_str()), -4) << spelling;
  }
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(ini_store_edits(document, "a.ini"), -4);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(ReadFileBytes(path), "[s]\nk=1\nanother=program's\n");
  ini_free_document(document);
}

// Where the directory may not be written, the file is written in place: the check for
// another program's change comes before any byte of it changes, and on a full disk the
// store gives -2 with the old file byte for byte.
TEST(PosixEdits, InPlaceChecksFirstAndLeavesAFullDisksFileWhole) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root: a user's file in a root-owned directory, a small disk";
  TempDir dir;
  const std::string disk = dir / "disk";
  std::filesystem::create_directory(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  ASSERT_EQ(chmod(disk.c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string path = disk + "/user.ini";
  const std::string old = "; the user's\n[s]\nk=1\n";
  WriteFileBytes(path, old);
  ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);

  // Another program's change after the load: -4, and the file holds that change.
  EXPECT_EQ(InChild(
                [&] {
                  ini::LoadResult loaded = ini::Document::LoadForEditing(path);
                  WriteFileBytes(path, old + "another=program's\n");
                  loaded.document.Set("s", "k", "2");
                  return -loaded.document.StoreEdits(path).code;
                },
                true),
            4);
  EXPECT_EQ(ReadFileBytes(path), old + "another=program's\n");
  WriteFileBytes(path, old);

  // A disk too full for the new text: -2, the old file whole, and the message says so.
  WriteFileBytes(disk + "/filler", std::string(64 * 1024 - 8192, 'x'));
  EXPECT_EQ(
      InChild(
          [&] {
            ini::LoadResult loaded = ini::Document::LoadForEditing(path);
            for (int k = 0; k < 200; ++k)
              loaded.document.Set("s", "key" + std::to_string(k), std::string(60, 'v'));
            const ini::StoreResult stored = loaded.document.StoreEdits(path);
            return stored.code == -2 &&
                           std::strcmp(
                               stored.reason,
                               "a write, the flush or the move failed; the old file is whole") == 0
                       ? 0
                       : 1;
          },
          true),
      0);
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_EQ(umount(disk.c_str()), 0);
}

}  // namespace
