// Keeping Install beneath the root of its tree on POSIX systems: every directory is checked
// as it is opened, by walking up from it, so the check and the use are one; the copies,
// directories and the sweep of a killed run's temporaries go through directories so checked.
#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/shared_posix.h"
#include "platform/tree.h"

namespace quorva::platform {

const char kNotInName[] = "/\\";

namespace posix {
namespace {

// The directory a confined file system keeps to, open, and which file it is.
struct Confinement {
  bool active = false;
  int root = -1;  // -1: the root could not be opened, and nothing is beneath it
  dev_t device = 0;
  ino_t inode = 0;
};

// True when the open directory `dir` is the root of `c` or lies beneath it. Its parents are
// walked up through "..", as the system has them now, until the root or the top, so what
// counts is where the open directory is, however it was reached.
bool Beneath(const Confinement& c, int dir) {
  if (!c.active) return true;
  if (c.root < 0) return false;
  struct stat st;
  int at = openat(dir, ".", kPathOnly | O_DIRECTORY | O_CLOEXEC);
  if (at < 0 || fstat(at, &st) != 0) {
    if (at >= 0) close(at);
    return false;
  }
  for (;;) {
    if (st.st_dev == c.device && st.st_ino == c.inode) break;
    const int parent = openat(at, "..", kPathOnly | O_DIRECTORY | O_CLOEXEC);
    close(at);
    at = parent;
    struct stat up;
    if (at < 0 || fstat(at, &up) != 0 || (up.st_dev == st.st_dev && up.st_ino == st.st_ino)) {
      if (at >= 0) close(at);
      return false;  // the top, and the root was not on the way
    }
    st = up;
  }
  close(at);
  return true;
}

// Where resolving a path beneath a confinement ended.
enum class Resolved { kYes, kOutside, kNoDirectory, kFailed };

// Opens the directory of `path` into `*dir` and puts the final name into `name`, following
// links at that name by reading them (`follow_last`), while every directory on the way is
// beneath `c`. On kYes the name is no link (or `follow_last` is false), or nothing.
Resolved Resolve(const Confinement& c, const char* path, bool follow_last, int* dir, char* name) {
  char buffer[PATH_MAX];
  const size_t length = std::strlen(path);
  if (length >= sizeof buffer) return Resolved::kFailed;
  std::memcpy(buffer, path, length + 1);
  if (!OpenDirectoryOf(AT_FDCWD, buffer, name, dir)) {
    return errno == ENOENT || errno == ENOTDIR ? Resolved::kNoDirectory : Resolved::kFailed;
  }
  char link[PATH_MAX];
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (!Beneath(c, *dir)) break;
    if (!follow_last || KindAt(*dir, name, &st) != Kind::kLink) return Resolved::kYes;
    const ssize_t n = readlinkat(*dir, name, link, sizeof link);
    int next;  // a relative link is read from the link's own directory
    if (hops == 40 || n <= 0 || static_cast<size_t>(n) == sizeof link) break;
    link[n] = '\0';
    if (!OpenDirectoryOf(*dir, link, name, &next)) break;
    close(*dir);
    *dir = next;
  }
  close(*dir);
  *dir = -1;
  return Resolved::kOutside;
}

// Opens `path` with `flags` beneath `c`, links followed where they stay beneath it; -1 with
// EXDEV where they do not.
int OpenBeneath(const Confinement& c, const char* path, int flags) {
  if (!c.active) return open(path, flags);
  int dir;
  char name[kReplaceNameRoom];
  switch (Resolve(c, path, true, &dir, name)) {
    case Resolved::kYes:
      break;
    case Resolved::kNoDirectory:
      errno = ENOENT;
      return -1;
    case Resolved::kOutside:
      errno = EXDEV;
      return -1;
    case Resolved::kFailed:
      return -1;
  }
  const int fd = openat(dir, name, flags | O_NOFOLLOW);
  const int error = errno;
  close(dir);
  errno = error;
  return fd;
}

// What a copy or a store of Install makes: never written in place.
NewFileRules InstallRules(NewFile new_file, mode_t mode) {
  NewFileRules rules;
  rules.new_file = new_file;
  rules.mode = mode;
  rules.in_place = InPlace::kNever;
  return rules;
}

// A copy gets the source's group where this process may set it; where it may not, it is in
// the group the directory gives it (a set-group-ID directory's), and gives that group no
// more than the source gave everyone.
bool TakeGroup(int fd, const struct stat& source) {
  struct stat copy;
  if (fchown(fd, static_cast<uid_t>(-1), source.st_gid) == 0) return true;
  if (fstat(fd, &copy) != 0) return false;
  if (copy.st_gid == source.st_gid) return true;
  const mode_t group = copy.st_mode & ((copy.st_mode & S_IRWXO) << 3);
  return fchmod(fd, (copy.st_mode & (S_IRWXU | S_IRWXO)) | (group & S_IRWXG)) == 0;
}

Stands StandsOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return Stands::kRegularFile;
  if (S_ISDIR(st.st_mode)) return Stands::kDirectory;
  if (S_ISLNK(st.st_mode)) return Stands::kLink;
  return Stands::kOther;
}

class PosixTree final : public TreeOver {
 public:
  PosixTree() : TreeOver(RealFileSystem()) {}
  ~PosixTree() override {
    if (confinement_.root >= 0) close(confinement_.root);
  }

  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    int flags = O_RDONLY | O_CLOEXEC;
    if (accept == Accept::kRegularFile) flags |= O_NONBLOCK;
    const int fd = OpenBeneath(confinement_, path, flags);
    return fd < 0 ? OpenedAfter(errno) : TakeOpened(fd, accept, file);
  }

  // The store of qrv.ini: in a directory checked beneath the root.
  bool BeginReplacing(const char* path, AtLink at_link, Replacement* r) override {
    int dir;
    return Resolve(confinement_, path, false, &dir, r->target) == Resolved::kYes &&
           BeginIn(dir, at_link, InstallRules(NewFile::kKeepOld, 0666), r);
  }

  bool MakeDirectory(const char* path) override {
    int dir;
    char name[kReplaceNameRoom];
    if (Resolve(confinement_, path, false, &dir, name) != Resolved::kYes) return false;
    const bool made = mkdirat(dir, name, 0777) == 0;
    close(dir);
    return made;
  }

  bool Exists(const char* path) override {
    struct stat st;
    return stat(path, &st) == 0;
  }

  Stands WhatStands(const char* path, bool follow_links) override {
    int dir;
    char name[kReplaceNameRoom];
    if (Resolve(confinement_, path, follow_links, &dir, name) != Resolved::kYes) {
      return Stands::kNothing;
    }
    struct stat st;
    const bool found = fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
    close(dir);
    return found ? StandsOf(st) : Stands::kNothing;
  }

  // As cp makes a new file: the source's permission bits less the umask, never set-ID or
  // sticky bits, so a copy made by root of a user's file gives that user nothing. The owner
  // may always write the copy, as on Windows: a source unpacked read-only must not make
  // the next run's copy fail.
  bool CopyReplacing(const char* from, const char* to) override {
    const int from_fd = OpenBeneath(confinement_, from, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (from_fd < 0) return false;
    struct stat st;
    Replacement r;
    int dir = -1;
    const bool begun = fstat(from_fd, &st) == 0 && S_ISREG(st.st_mode) &&
                       Resolve(confinement_, to, false, &dir, r.target) == Resolved::kYes &&
                       BeginIn(dir, AtLink::kReplace,
                               InstallRules(NewFile::kMode, (st.st_mode & 0777) | S_IWUSR), &r);
    if (!begun) {
      close(from_fd);
      return false;
    }
    fcntl(from_fd, F_SETFL, fcntl(from_fd, F_GETFL) & ~O_NONBLOCK);
    const bool copied = TakeGroup(Fd(r.file), st) && CopyContents(from_fd, Fd(r.file));
    close(from_fd);
    if (!copied) {
      Abandon(&r);
      return false;
    }
    return Finish(&r, Publish::kReplacing) == Finished::kDone;
  }

  // The directory is opened beneath the root, its own name not followed: a link swapped in
  // for it leads the sweep nowhere. Only this user's files go, by their names in that very
  // directory.
  void RemoveLeftovers(const char* directory, std::int64_t not_after) override {
    const int dir = OpenBeneath(confinement_, directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    DIR* listing = fdopendir(dup(dir));
    for (struct dirent* entry; listing != nullptr && (entry = readdir(listing)) != nullptr;) {
      struct stat st;
      if (IsTemporaryName(entry->d_name) &&
          fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
          st.st_uid == geteuid() && st.st_mtime <= not_after) {
        unlinkat(dir, entry->d_name, 0);
      }
    }
    if (listing != nullptr) closedir(listing);
    close(dir);
  }

  std::int64_t Now() override {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
  }

  // Linux says it through /proc; elsewhere it is not known, and a root must be given.
  bool OwnProgramPath(std::string* path) override {
#ifndef __linux__
    (void)path;
    return false;
#else
    std::string buffer(256, '\0');
    for (;;) {
      ssize_t n = readlink("/proc/self/exe", &buffer[0], buffer.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) < buffer.size()) {
        buffer.resize(static_cast<size_t>(n));
        *path = buffer;
        return true;
      }
      buffer.resize(buffer.size() * 2);
    }
#endif
  }

  bool ArgumentIsExact(int) override { return true; }
  bool OwnProgramPathIsExact() override { return true; }

  bool ConfineTo(const char* root) override {
    if (confinement_.root >= 0) close(confinement_.root);
    confinement_ = Confinement{};
    confinement_.active = true;
    const int fd = open(root, kPathOnly | O_DIRECTORY | O_CLOEXEC);  // its own links followed
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0) {
      confinement_.root = fd;
      confinement_.device = st.st_dev;
      confinement_.inode = st.st_ino;
      return true;
    }
    if (fd >= 0) close(fd);
    return false;
  }

  Location Locate(const char* path) override {
    if (!confinement_.active) return Location::kBeneath;
    int dir;
    char name[kReplaceNameRoom];
    switch (Resolve(confinement_, path, true, &dir, name)) {
      case Resolved::kYes:
        close(dir);
        return Location::kBeneath;
      case Resolved::kNoDirectory: {  // where the directory would be
        std::string parent = path;
        while (!parent.empty() && parent.back() == '/') parent.pop_back();
        const size_t slash = parent.rfind('/');
        if (slash == std::string::npos || slash == 0) return Location::kOutside;
        parent.resize(slash);
        return Locate(parent.c_str());
      }
      default:
        return Location::kOutside;
    }
  }

 private:
  Confinement confinement_;
};

}  // namespace
}  // namespace posix

std::unique_ptr<TreeFileSystem> NewTreeFileSystem() { return std::make_unique<posix::PosixTree>(); }

}  // namespace quorva::platform
