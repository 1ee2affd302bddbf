// The store on a real POSIX file system: a file is replaced whole or not at all, keeps what
// it carried (mode, owner, links), cannot be steered by what other users plant, and is
// written in place where a move cannot replace it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ini/ini.h"
#include "ini/project_internal.h"
#include "platform/platform.h"
#include "tests/child.h"
#include "tests/test_util.h"

namespace {

using testing_support::InChild;
using testing_support::Mode;
using testing_support::Names;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// A document of one section with `keys` entries of about 60 bytes each.
IniDocument* Document(int keys) {
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("s");
  ini_add_section(document, section);
  for (int k = 0; k < keys; ++k) {
    ini_set_value(section, ("key" + std::to_string(k)).c_str(), std::string(50, 'v').c_str());
  }
  return document;
}

std::string Stored(int keys) {
  IniDocument* document = Document(keys);
  std::size_t size = 0;
  char* bytes = ini_store_memory(document, &size);
  std::string stored(bytes, size);
  ini_free_memory(bytes);
  ini_free_document(document);
  return stored;
}

TEST(PosixStore, FailedStoreLeavesTheOldFileWholeAndNoTemporary) {
  TempDir dir;
  const std::string path = dir / "precious.ini";
  IniDocument* small = Document(2);
  ASSERT_EQ(ini_store_file(small, path.c_str()), 0);
  const std::string old = ReadFileBytes(path);
  IniDocument* large = Document(60);  // 3.7 KB, beyond a file-size limit of 2 KiB
  EXPECT_EQ(InChild(
                [&] {
                  struct rlimit limit = {2048, 2048};
                  signal(SIGXFSZ, SIG_IGN);
                  return setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
                                 ini_store_file(large, path.c_str()) == -2
                             ? 0
                             : 1;
                },
                false),
            0);
  EXPECT_EQ(ReadFileBytes(path), old);
  EXPECT_EQ(Names(dir.path()), std::set<std::string>{"precious.ini"});
  ini_free_document(small);
  ini_free_document(large);
}

TEST(PosixStore, KeepsModeOwnerAndLinks) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  const std::string target = dir / "real/kept.ini";
  WriteFileBytes(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(symlink("real/kept.ini", (dir / "link.ini").c_str()), 0);
  ASSERT_EQ(symlink("real/made.ini", (dir / "dangling.ini").c_str()), 0);

  IniDocument* document = Document(3);
  ASSERT_EQ(ini_store_file(document, (dir / "link.ini").c_str()), 0);
  ASSERT_EQ(ini_store_file(document, (dir / "dangling.ini").c_str()), 0);
  for (const char* link : {"link.ini", "dangling.ini"}) {
    EXPECT_TRUE(std::filesystem::is_symlink(dir / link)) << link;
    EXPECT_EQ(ReadFileBytes(dir / link), Stored(3)) << link;
  }
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_uid, root ? 65534u : geteuid());
  EXPECT_EQ(st.st_gid, root ? 65534u : getegid());
  EXPECT_EQ(Names(dir / "real"), (std::set<std::string>{"kept.ini", "made.ini"}));

  // A new file gets 0666 less the umask.
  const mode_t umask_before = umask(027);
  EXPECT_EQ(ini_store_file(document, (dir / "new.ini").c_str()), 0);
  umask(umask_before);
  EXPECT_EQ(Mode(dir / "new.ini"), 0640u);
  ini_free_document(document);
}

// Writes a kernel setting for the life of the object, where this process may (as root).
class KernelSetting {
 public:
  KernelSetting(const char* path, const char* value) : path_(path), old_(ReadFileBytes(path)) {
    set_ = !old_.empty() && Write(value);
  }
  ~KernelSetting() {
    if (set_) Write(old_);
  }
  bool set() const { return set_; }

 private:
  bool Write(const std::string& value) {
    std::FILE* file = std::fopen(path_, "w");
    if (file == nullptr) return false;
    const bool ok = std::fputs(value.c_str(), file) >= 0;
    return std::fclose(file) == 0 && ok;
  }
  const char* path_;
  std::string old_;
  bool set_ = false;
};

// What another user plants beside a file, or makes of its name, neither steers a store nor
// blocks it: uid 65534 plants in a directory that all may write, sticky as /tmp is, and this
// process (root, in CI) stores there. Links are followed as the kernel follows them for
// this process; every name the file system takes can be stored.
TEST(PosixStore, PlantedNamesAndLinksNeitherSteerNorBlock) {
  TempDir dir;
  const std::string shared = dir / "shared", secret = dir / "secret", outside = dir / "outside";
  const std::string long_name = shared + "/" + std::string(250, 'n');
  std::filesystem::create_directories(shared);
  std::filesystem::create_directories(secret);
  WriteFileBytes(secret + "/config", "root only");
  WriteFileBytes(outside, "outside");
  ASSERT_EQ(chmod(secret.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  // The names an earlier version of the store used for its temporary, and a link to a file
  // this user may not read.
  ASSERT_EQ(InChild(
                [&] {
                  WriteFileBytes(shared + "/v.ini.partial", "planted");
                  return symlink(outside.c_str(), (shared + "/w.ini.partial").c_str()) == 0 &&
                                 mkdir((shared + "/x.ini.partial").c_str(), 0755) == 0 &&
                                 symlink((secret + "/config").c_str(),
                                         (shared + "/app.ini").c_str()) == 0
                             ? 0
                             : 1;
                },
                true),
            0);
  ASSERT_EQ(symlink("/dev/null", (dir / "device.ini").c_str()), 0);
  KernelSetting protect("/proc/sys/fs/protected_symlinks", "1");
  struct Case {
    std::string path;
    int result;
  };
  std::vector<Case> cases = {
      {shared + "/v.ini", 0},   {shared + "/w.ini", 0}, {shared + "/x.ini", 0},
      {long_name, 0},           {long_name, 0},  // new, then replaced
      {dir / "device.ini", -1},                  // a device reached through a link is refused
      {"/dev/null", 0},                          // one named directly is written
  };
  if (geteuid() == 0 && protect.set()) cases.push_back({shared + "/app.ini", -1});
  IniDocument* document = Document(3);
  for (const Case& c : cases)
    EXPECT_EQ(ini_store_file(document, c.path.c_str()), c.result) << c.path;
  ini_free_document(document);
  for (const std::string& stored :
       {shared + "/v.ini", shared + "/w.ini", shared + "/x.ini", long_name}) {
    EXPECT_EQ(ReadFileBytes(stored), Stored(3)) << stored;
  }
  EXPECT_EQ(ReadFileBytes(shared + "/v.ini.partial"), "planted");
  EXPECT_TRUE(std::filesystem::is_symlink(shared + "/w.ini.partial"));
  EXPECT_TRUE(std::filesystem::is_directory(shared + "/x.ini.partial"));
  EXPECT_EQ(ReadFileBytes(outside), "outside");
  EXPECT_EQ(ReadFileBytes(secret + "/config"), "root only");
  EXPECT_EQ(Names(shared),
            (std::set<std::string>{"app.ini", "v.ini", "v.ini.partial", "w.ini", "w.ini.partial",
                                   "x.ini", "x.ini.partial", std::string(250, 'n')}));
}

// A store replaces the name: a hard link to the old file keeps the old text. A file mounted
// over the name (a container's configuration, bound from the host) cannot be replaced by a
// move, and is written in place.
TEST(PosixStore, ReplacesTheNameAndWritesOverAMountedFile) {
  TempDir dir;
  const std::unique_ptr<IniDocument, void (*)(IniDocument*)> document(Document(3),
                                                                      ini_free_document);
  WriteFileBytes(dir / "a.ini", "old");
  ASSERT_EQ(link((dir / "a.ini").c_str(), (dir / "b.ini").c_str()), 0);
  EXPECT_EQ(ini_store_file(document.get(), (dir / "a.ini").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), Stored(3));
  EXPECT_EQ(ReadFileBytes(dir / "b.ini"), "old");

  if (geteuid() != 0) GTEST_SKIP() << "mounting a file over another needs root";
  WriteFileBytes(dir / "host.ini", "old");
  WriteFileBytes(dir / "app.ini", "");
  ASSERT_EQ(mount((dir / "host.ini").c_str(), (dir / "app.ini").c_str(), nullptr, MS_BIND, nullptr),
            0)
      << std::strerror(errno);
  EXPECT_EQ(ini_store_file(document.get(), (dir / "app.ini").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(dir / "app.ini"), Stored(3));
  EXPECT_EQ(umount((dir / "app.ini").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(dir / "host.ini"), Stored(3));
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"a.ini", "app.ini", "b.ini", "host.ini"}));
}

// Two processes store the same path over and over while a third reads it: every read sees
// one store's file whole, and no store fails. Both with temporaries without a name and with
// named ones, as on file systems that have no unnamed files.
TEST(PosixStore, ConcurrentStoresPublishOnlyWholeFiles) {
  constexpr int kStores = 300;
  const std::string a = Stored(700), b = Stored(650);  // about 40 KB each
  for (platform::FileSystem* disk :
       {&platform::RealFileSystem(), &platform::FileSystemWithNamedTemporariesForTesting()}) {
    TempDir dir;
    const std::string path = dir / "c.ini";
    WriteFileBytes(path, a);
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
      writers[w] = fork();
      if (writers[w] == 0) {
        IniDocument* document = Document(w == 0 ? 700 : 650);
        int failed = 0;
        for (int i = 0; i < kStores; ++i)
          failed += ini_detail::StoreFile(*disk, document, path.c_str()) != 0;
        _exit(failed > 0 ? 1 : 0);
      }
    }
    int torn = 0, running = 2, failed_writers = 0;
    while (running > 0) {
      const std::string seen = ReadFileBytes(path);
      torn += seen != a && seen != b;
      for (pid_t& writer : writers) {
        int status = 0;
        if (writer > 0 && waitpid(writer, &status, WNOHANG) == writer) {
          failed_writers += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
          writer = 0;
          --running;
        }
      }
    }
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(failed_writers, 0);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"c.ini"});
  }
}

// A file the process may not write is not replaced by a rename behind its back; a file it
// may write, in a directory it may not, is written in place as before.
TEST(PosixStore, RespectsWhatTheProcessMayNotWrite) {
  TempDir dir;
  std::filesystem::create_directory(dir / "open");
  std::filesystem::create_directory(dir / "closed");
  const std::string protected_file = dir / "open/protected.ini";
  const std::string writable_file = dir / "closed/writable.ini";
  WriteFileBytes(protected_file, "protected");
  WriteFileBytes(writable_file, "old");
  ASSERT_EQ(chmod((dir / "open").c_str(), 0777), 0);
  ASSERT_EQ(chmod(protected_file.c_str(), 0444), 0);
  ASSERT_EQ(chmod(writable_file.c_str(), 0666), 0);
  ASSERT_EQ(chmod((dir / "closed").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  IniDocument* document = Document(3);
  EXPECT_EQ(InChild([&] { return -ini_store_file(document, protected_file.c_str()); }, true), 1);
  EXPECT_EQ(InChild([&] { return -ini_store_file(document, writable_file.c_str()); }, true), 0);
  EXPECT_EQ(ReadFileBytes(protected_file), "protected");
  EXPECT_EQ(ReadFileBytes(writable_file), Stored(3));
  EXPECT_EQ(Names(dir / "closed"), std::set<std::string>{"writable.ini"});
  ASSERT_EQ(chmod((dir / "closed").c_str(), 0755), 0);
  ini_free_document(document);
}

}  // namespace
