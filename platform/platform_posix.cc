// The file system on POSIX systems: open/read/close, replacing files whole, mkdir, stat,
// copies. Linux's own calls (O_TMPFILE, O_PATH, copy_file_range, /proc) are used where the
// system has them, with portable POSIX in their place elsewhere.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace quorva::platform {

const char kSeparator = '/';
const char kNotInName[] = "/\\";

namespace {

int Fd(File file) { return static_cast<int>(file.value); }

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the bytes of `from_fd` into `to_fd`; false on any read or write failure. The
// kernel copies without passing the bytes through user space where it can; otherwise the
// bytes go through a block from the heap, or a small one on the stack when the heap has
// none (no static buffer: every thread of a program that links the library would pay).
bool CopyContents(int from_fd, int to_fd) {
#ifdef __linux__
  bool copied_any = false;
  for (;;) {
    ssize_t n = copy_file_range(from_fd, nullptr, to_fd, nullptr, size_t{1} << 30, 0);
    if (n > 0) {
      copied_any = true;
      continue;
    }
    // A first call that copies nothing may be a pseudo-file or a file system that does not
    // copy this way, not an empty source: the plain loop below tells the two apart.
    if (n == 0 && copied_any) return true;
    if (n == 0) break;
    if (errno == EINTR) continue;
    if (copied_any) return false;
    break;  // not supported between these files: fall back to reading and writing
  }
#endif
  char small[4096];
  size_t size = size_t{1} << 16;
  char* block = static_cast<char*>(std::malloc(size));
  if (block == nullptr) {
    block = small;
    size = sizeof small;
  }
  bool ok = true;
  for (;;) {
    ssize_t n = read(from_fd, block, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !WriteAll(to_fd, block, static_cast<size_t>(n))) {
      ok = n == 0;
      break;
    }
  }
  if (block != small) std::free(block);
  return ok;
}

// Names tried for a temporary before giving up: another process takes one only by chance.
constexpr unsigned kNameAttempts = 64;

#ifdef O_PATH
constexpr int kPathOnly = O_PATH;  // opens what a path leads to without reading it
#else
constexpr int kPathOnly = O_RDONLY | O_NONBLOCK | O_NOCTTY;
#endif

// Opens the directory that holds `path` (relative to `at`) and puts the last name of the
// path into `name`. `path` is cut at its last '/' on the way. False when the path ends in
// '/' or its name does not fit.
bool OpenDirectoryOf(int at, char* path, char* name, int* directory) {
  char* slash = std::strrchr(path, '/');
  const char* base = slash == nullptr ? path : slash + 1;
  const size_t length = std::strlen(base);
  if (length == 0 || length >= kReplaceNameRoom) return false;
  std::memcpy(name, base, length + 1);
  const char* dir = ".";
  if (slash == path) {
    dir = "/";
  } else if (slash != nullptr) {
    *slash = '\0';
    dir = path;
  }
  int fd = openat(at, dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) fd = openat(at, dir, kPathOnly | O_DIRECTORY | O_CLOEXEC);  // one we may not list
  *directory = fd;
  return fd >= 0;
}

// Ends a replacement: the target's directory is closed. Returns `ok`.
bool CloseDirectory(Replacement* r, bool ok) {
  if (r->directory >= 0) close(static_cast<int>(r->directory));
  r->directory = -1;
  return ok;
}

// What stands at the target's name, not following a link there.
enum class Kind { kNothing, kRegular, kLink, kDirectory, kSpecial };

Kind KindAt(int dir, const char* name, struct stat* st) {
  if (fstatat(dir, name, st, AT_SYMLINK_NOFOLLOW) != 0) return Kind::kNothing;
  if (S_ISREG(st->st_mode)) return Kind::kRegular;
  if (S_ISLNK(st->st_mode)) return Kind::kLink;
  if (S_ISDIR(st->st_mode)) return Kind::kDirectory;
  return Kind::kSpecial;
}

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

// Follows a symbolic link at `name` in the open directory `*dir` to the regular file it
// leads to, which need not exist yet (a dangling link: the file it names is made), leaving
// that file's directory in `*dir` and its name in `name`. The system follows it first, so
// that its rules for this process apply, such as protected_symlinks for a link another
// user planted in a sticky directory; then the links are read to find the name of what the
// system reached, and that name must still lead to it. False, touching nothing, when the
// system refuses, when the link leads to anything but a regular file, or when the links
// changed meanwhile.
bool FollowLinks(int* dir, char* name) {
  struct stat st;
  if (KindAt(*dir, name, &st) != Kind::kLink) return true;
  const int reached = openat(*dir, name, kPathOnly | O_CLOEXEC);
  const bool exists = reached >= 0;
  if (!exists && errno != ENOENT) return false;
  struct stat end;
  const bool regular = exists && fstat(reached, &end) == 0 && S_ISREG(end.st_mode);
  if (exists) close(reached);
  if (exists && !regular) return false;

  char link[PATH_MAX];
  for (int hops = 0; KindAt(*dir, name, &st) == Kind::kLink; ++hops) {
    const ssize_t n = readlinkat(*dir, name, link, sizeof link);
    if (hops == 40 || n <= 0 || static_cast<size_t>(n) == sizeof link) return false;
    link[n] = '\0';
    int next;  // a relative link is read from the link's own directory
    if (!OpenDirectoryOf(*dir, link, name, &next)) return false;
    close(*dir);
    *dir = next;
  }
  const Kind found = KindAt(*dir, name, &st);
  if (!exists) return found == Kind::kNothing;
  return found == Kind::kRegular && st.st_dev == end.st_dev && st.st_ino == end.st_ino;
}

FileId IdOfStat(const struct stat& st) {
  FileId id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.known = true;
  return id;
}

FileId IdOfFd(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? IdOfStat(st) : FileId{};
}

// Copies `length` bytes at `offset` of the file `from` to the same offset of the file `to`.
bool CopyRange(int from, int to, off_t offset, off_t length) {
  char block[1 << 14];
  while (length > 0) {
    const size_t want = length < off_t{sizeof block} ? static_cast<size_t>(length) : sizeof block;
    const ssize_t got = pread(from, block, want, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = pwrite(to, block + put, static_cast<size_t>(got - put), offset + put);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      put += n;
    }
    offset += got;
    length -= got;
  }
  return true;
}

// Copies the whole of the file `from` over the file `target` in place. The part beyond the
// target's end goes first, so that a full disk or a quota stops the copy before a byte of
// the old file changed (and that part is cut off again); then the rest over the old bytes,
// whose room the file has; then the end is set and the file flushed.
Finished CopyOver(int from, int target) {
  struct stat st, old;
  if (fstat(from, &st) != 0 || fstat(target, &old) != 0) return Finished::kFailed;
  if (st.st_size > old.st_size && !CopyRange(from, target, old.st_size, st.st_size - old.st_size)) {
    return ftruncate(target, old.st_size) == 0 ? Finished::kFailed : Finished::kCutShort;
  }
  const bool copied = CopyRange(from, target, 0, std::min(st.st_size, old.st_size)) &&
                      ftruncate(target, st.st_size) == 0 && fsync(target) == 0;
  return copied ? Finished::kDone : Finished::kCutShort;
}

// Opens the target itself for writing, without changing it: a device or FIFO named
// directly, or a file in a directory this process may not write. O_NONBLOCK keeps a FIFO
// without a reader from blocking for ever.
int OpenTargetForWriting(const Replacement& r) {
  const int fd = openat(static_cast<int>(r.directory), r.target,
                        O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A device or FIFO named directly takes the new bytes as they come.
bool BeginDevice(Replacement* r) {
  const int fd = OpenTargetForWriting(*r);
  if (fd < 0) return false;
  r->file.value = fd;
  r->into = ReplaceInto::kDevice;
  return true;
}

// A private file of the system's temporary directory that no other process can reach: one
// without a name where the system makes such, else one whose name is removed at once.
int MakePrivateFile() {
  const char* directory = P_tmpdir;
#ifdef O_TMPFILE
  const int unnamed = open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) return unnamed;
#endif
  std::string name = std::string(directory) + "/.ini-XXXXXX";
  const int fd = mkstemp(&name[0]);
  if (fd < 0) return -1;
  unlink(name.c_str());
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

// A regular file in a directory this process may not write: the new bytes go to a private
// file first, and over the target only once they are whole (Finish).
bool BeginInPlace(Replacement* r) {
  const int target = OpenTargetForWriting(*r);
  if (target < 0) return false;
  const int fd = MakePrivateFile();
  if (fd < 0) {
    close(target);
    return false;
  }
  r->in_place = target;
  r->file.value = fd;
  r->into = ReplaceInto::kInPlace;
  return true;
}

// Makes the temporary of a replacement beside the target, readable too, so that its bytes
// can be written in place when the target cannot be replaced: without a name where the
// file system can (O_TMPFILE), else under a private name made with O_EXCL, trying another
// name when one is taken. -1 when none can be made.
int MakeTemporary(Replacement* r, mode_t mode, bool unnamed) {
  const int dir = static_cast<int>(r->directory);
#ifdef O_TMPFILE
  if (unnamed) {
    const int fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0) {
      r->into = ReplaceInto::kUnnamedTemporary;
      return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  }
#else
  (void)unnamed;
#endif
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    NameTemporary(r->temporary, attempt);
    const int fd =
        openat(dir, r->temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      r->into = ReplaceInto::kTemporary;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Gives the new file the owner and permission bits of the file it replaces: the owner where
// this process may set it (the group alone where it may set that), then the bits, which a
// change of owner would clear in part. Set-ID bits are kept only with their owner.
bool KeepOwnerAndMode(int fd, const struct stat& old) {
  const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
  if (!owner_kept) (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  return fchmod(fd, old.st_mode & (owner_kept ? 07777 : 0777)) == 0;
}

void Abandon(Replacement* r) {
  close(Fd(r->file));
  if (r->in_place >= 0) close(static_cast<int>(r->in_place));
  r->in_place = -1;
  if (r->into == ReplaceInto::kTemporary) unlinkat(static_cast<int>(r->directory), r->temporary, 0);
  CloseDirectory(r, false);
}

// What a new file gets: `mode` (less the umask), or with kKeepOld the owner and bits of the
// file it replaces.
enum class NewFile { kMode, kKeepOld };
// Whether a temporary may be a file without a name (off only in tests, to try the named one).
enum class Unnamed { kWhereSupported, kNever };

// The one routine behind storing and copying: the target's directory, what stands at the
// target (links followed or not), whether a temporary can be made there, and the temporary.
bool Begin(const char* path, AtLink at_link, mode_t mode, NewFile new_file, Unnamed unnamed,
           const Confinement& confinement, Replacement* r) {
  char buffer[PATH_MAX];
  const size_t length = std::strlen(path);
  if (length >= sizeof buffer) return false;
  std::memcpy(buffer, path, length + 1);
  int dir;
  if (!OpenDirectoryOf(AT_FDCWD, buffer, r->target, &dir)) return false;
  r->directory = dir;
  struct stat old;
  const bool linked = at_link == AtLink::kFollow && KindAt(dir, r->target, &old) == Kind::kLink;
  if (linked && !FollowLinks(&dir, r->target)) {
    r->directory = dir;
    return CloseDirectory(r, false);
  }
  r->directory = dir;
  if (!Beneath(confinement, dir)) return CloseDirectory(r, false);

  const Kind kind = KindAt(dir, r->target, &old);
  switch (kind) {
    case Kind::kDirectory:
      return CloseDirectory(r, false);
    case Kind::kSpecial:  // a device or FIFO named directly is written; one reached by a link not
      return (!linked && BeginDevice(r)) || CloseDirectory(r, false);
    case Kind::kRegular:  // a file this process may not write is not replaced behind its back
      if (faccessat(dir, r->target, W_OK, AT_EACCESS) != 0) return CloseDirectory(r, false);
      break;
    case Kind::kLink:  // AtLink::kReplace: the link itself is replaced
    case Kind::kNothing:
      break;
  }
  const bool exists = kind == Kind::kRegular;
  if (faccessat(dir, ".", W_OK, AT_EACCESS) != 0) {
    return (exists && BeginInPlace(r)) || CloseDirectory(r, false);
  }
  const bool keep = exists && new_file == NewFile::kKeepOld;
  const int fd = MakeTemporary(r, keep ? 0600 : mode, unnamed == Unnamed::kWhereSupported);
  if (fd < 0) return CloseDirectory(r, false);
  r->file.value = fd;
  if (keep && !KeepOwnerAndMode(fd, old)) {
    Abandon(r);
    return false;
  }
  return true;
}

// Gives an unnamed temporary a private name in the target's directory: through /proc, or
// where /proc is missing by the handle, which needs a privilege.
bool NameUnnamed(Replacement* r, int fd) {
  const int dir = static_cast<int>(r->directory);
  char proc[32];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    NameTemporary(r->temporary, attempt);
    bool linked = linkat(AT_FDCWD, proc, dir, r->temporary, AT_SYMLINK_FOLLOW) == 0;
#ifdef AT_EMPTY_PATH
    linked = linked || (errno != EEXIST && linkat(fd, "", dir, r->temporary, AT_EMPTY_PATH) == 0);
#endif
    if (linked) {
      r->into = ReplaceInto::kTemporary;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Gives the complete temporary the target's name only where no file is: a hard link to it
// fails where one is, and where the file system has no hard links, a rename that may not
// replace (Linux). The temporary's own name goes in every case.
Finished PublishOnlyNew(int dir, Replacement* r) {
  bool published = linkat(dir, r->temporary, dir, r->target, 0) == 0;
  int error = errno;
#ifdef RENAME_NOREPLACE
  if (!published && error != EEXIST &&
      renameat2(dir, r->temporary, dir, r->target, RENAME_NOREPLACE) == 0) {
    return Finished::kDone;
  }
  if (!published) error = errno;
#endif
  unlinkat(dir, r->temporary, 0);
  if (published) return Finished::kDone;
  return error == EEXIST ? Finished::kTaken : Finished::kFailed;
}

Finished Finish(Replacement* r, Publish publish) {
  const int fd = Fd(r->file);
  const int dir = static_cast<int>(r->directory);
  if (r->into == ReplaceInto::kDevice) {
    const bool flushed = fsync(fd) == 0 || errno == EINVAL;  // EINVAL: nothing to flush
    const bool closed = close(fd) == 0;
    CloseDirectory(r, true);
    return flushed && closed ? Finished::kDone : Finished::kCutShort;
  }
  if (r->into == ReplaceInto::kInPlace) {
    const int target = static_cast<int>(r->in_place);
    const Finished copied = CopyOver(fd, target);
    const bool closed = close(target) == 0;
    close(fd);
    r->in_place = -1;
    CloseDirectory(r, true);
    return copied == Finished::kDone && !closed ? Finished::kCutShort : copied;
  }
  Finished finished = fsync(fd) == 0 ? Finished::kDone : Finished::kFailed;
  if (finished == Finished::kDone && r->into == ReplaceInto::kUnnamedTemporary &&
      !NameUnnamed(r, fd)) {
    finished = Finished::kFailed;
  }
  bool moved = false;
  if (finished == Finished::kDone && publish == Publish::kOnlyNew) {
    finished = PublishOnlyNew(dir, r);
    moved = finished == Finished::kDone;
  } else if (finished == Finished::kDone) {
    moved = renameat(dir, r->temporary, dir, r->target) == 0;
    // A file mounted over its name cannot be replaced by a move: the new bytes go over it.
    if (!moved) {
      int target = -1;
      finished = (errno == EBUSY || errno == EXDEV) && (target = OpenTargetForWriting(*r)) >= 0
                     ? CopyOver(fd, target)
                     : Finished::kFailed;
      if (target >= 0 && close(target) != 0 && finished == Finished::kDone)
        finished = Finished::kCutShort;
    }
  }
  if (!moved && r->into == ReplaceInto::kTemporary) unlinkat(dir, r->temporary, 0);
  close(fd);
  // The move itself reaches the disk with the directory. Some file systems cannot flush a
  // directory; the file is in place all the same.
  if (moved) fsync(dir);
  CloseDirectory(r, true);
  return finished;
}

// Where `path` leads: its directory open in `*dir`, its last name in `name`, links at that
// name followed to a regular file or to nothing.
bool OpenPlace(const char* path, int* dir, char* name) {
  char buffer[PATH_MAX];
  const size_t length = std::strlen(path);
  if (length >= sizeof buffer) return false;
  std::memcpy(buffer, path, length + 1);
  if (!OpenDirectoryOf(AT_FDCWD, buffer, name, dir)) return false;
  if (FollowLinks(dir, name)) return true;
  close(*dir);
  return false;
}

// Waits a millisecond.
void Pause() {
  struct timespec pause = {0, 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

std::int64_t Milliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

class PosixFileSystem final : public FileSystem {
 public:
  explicit PosixFileSystem(Unnamed unnamed) : unnamed_(unnamed) {}

  // A directory opens fine here but cannot be read as a file; it is refused, as on Windows.
  // Where only regular files are asked for, O_NONBLOCK keeps a FIFO from blocking the open.
  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    int flags = O_RDONLY | O_CLOEXEC;
    if (accept == Accept::kRegularFile) flags |= O_NONBLOCK;
    int fd = OpenBeneath(confinement_, path, flags);
    if (fd < 0) {
      switch (errno) {
        case ENOENT:
        case ENOTDIR:
          return Opened::kMissing;
        case EACCES:
        case EPERM:
          return Opened::kDenied;
        case EISDIR:
          return Opened::kDirectory;
        default:
          return Opened::kFailed;
      }
    }
    struct stat st;
    Opened opened = Opened::kYes;
    if (fstat(fd, &st) != 0) {
      opened = Opened::kFailed;
    } else if (S_ISDIR(st.st_mode)) {
      opened = Opened::kDirectory;
    } else if (accept == Accept::kRegularFile && !S_ISREG(st.st_mode)) {
      opened = Opened::kNotRegular;
    }
    if (opened != Opened::kYes) {
      close(fd);
      return opened;
    }
    file->value = fd;
    file->size_at_open = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
    return opened;
  }

  bool SizeOf(File file, std::uint64_t* size) override {
    if (file.size_at_open >= 0) {
      *size = static_cast<std::uint64_t>(file.size_at_open);
      return true;
    }
    struct stat st;
    if (fstat(Fd(file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) override {
    for (;;) {
      ssize_t n = read(Fd(file), buffer, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      *got = static_cast<std::uint32_t>(n);
      return true;
    }
  }

  bool Write(File file, const void* data, std::uint32_t size, std::uint32_t* written) override {
    for (;;) {
      ssize_t n = write(Fd(file), data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      *written = static_cast<std::uint32_t>(n);
      return true;
    }
  }

  // EINTR is no failure: the descriptor is released all the same on Linux, and retrying
  // could close another file.
  bool Close(File file) override { return close(Fd(file)) == 0 || errno == EINTR; }

  bool Rewind(File file) override { return lseek(Fd(file), 0, SEEK_SET) == 0; }

  FileId IdOf(File file) override { return IdOfFd(Fd(file)); }

  bool PlaceOf(const char* path, Place* place) override {
    int dir;
    if (!OpenPlace(path, &dir, place->name)) return false;
    place->directory = IdOfFd(dir);
    struct stat st;
    place->file = fstatat(dir, place->name, &st, 0) == 0 ? IdOfStat(st) : FileId{};
    close(dir);
    return place->directory.known;
  }

  // flock, not fcntl's locks, which a process loses when it closes any other descriptor of
  // the file (a load of it, say). A file system that cannot lock (some network ones) leaves
  // the file unlocked: the lock guards the check for another's change, which still holds.
  Locked LockForEditing(const char* path, std::uint32_t wait_milliseconds, File* file) override {
    const std::int64_t deadline = Milliseconds() + wait_milliseconds;
    for (;;) {
      const int fd = OpenBeneath(confinement_, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Locked::kMissing : Locked::kFailed;
      struct stat locked;
      if (fstat(fd, &locked) != 0 || !S_ISREG(locked.st_mode)) {
        close(fd);
        return Locked::kNotRegular;
      }
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      while (flock(fd, LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
        if (Milliseconds() >= deadline) {
          close(fd);
          return Locked::kBusy;
        }
        Pause();
      }
      // A store that held the lock may have moved a new file over the name meanwhile.
      struct stat now;
      if (stat(path, &now) != 0 || (now.st_dev == locked.st_dev && now.st_ino == locked.st_ino)) {
        file->value = fd;
        file->size_at_open = -1;
        return Locked::kYes;
      }
      close(fd);
      if (Milliseconds() >= deadline) return Locked::kBusy;
    }
  }

  void Unlock(File file) override { close(Fd(file)); }

  bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) override {
    return Begin(path, at_link, 0666, NewFile::kKeepOld, unnamed_, confinement_, replacement);
  }
  Finished FinishReplacing(Replacement* replacement, Publish publish) override {
    return Finish(replacement, publish);
  }
  FileId IdOfNew(const Replacement& replacement) override {
    return IdOfFd(static_cast<int>(
        replacement.into == ReplaceInto::kInPlace ? replacement.in_place : replacement.file.value));
  }
  void AbandonReplacing(Replacement* replacement) override { Abandon(replacement); }

  bool MakeDirectory(const char* path) override {
    if (!confinement_.active) return mkdir(path, 0777) == 0;
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

  // As cp makes a new file: the source's permission bits less the umask, never set-ID or
  // sticky bits, so a copy made by root of a user's file gives that user nothing. The owner
  // may always write the copy, as on Windows: a source unpacked read-only must not make
  // the next run's copy fail.
  bool CopyReplacing(const char* from, const char* to) override {
    int from_fd = OpenBeneath(confinement_, from, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (from_fd < 0) return false;
    struct stat st;
    Replacement r;
    if (fstat(from_fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !Begin(to, AtLink::kReplace, (st.st_mode & 0777) | S_IWUSR, NewFile::kMode, unnamed_,
               confinement_, &r)) {
      close(from_fd);
      return false;
    }
    const bool copied = CopyContents(from_fd, Fd(r.file));
    close(from_fd);
    if (!copied) {
      Abandon(&r);
      return false;
    }
    return Finish(&r, Publish::kReplacing) == Finished::kDone;
  }

  void RemoveLeftovers(const char* directory, std::int64_t not_after) override {
    const int dir = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    DIR* listing = fdopendir(dup(dir));
    for (struct dirent* entry; listing != nullptr && (entry = readdir(listing)) != nullptr;) {
      struct stat st;
      if (IsTemporaryName(entry->d_name) &&
          fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
          st.st_mtime <= not_after) {
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

  ~PosixFileSystem() override {
    if (confinement_.root >= 0) close(confinement_.root);
  }

 private:
  const Unnamed unnamed_;
  Confinement confinement_;
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system(Unnamed::kWhereSupported);
  return file_system;
}

std::unique_ptr<FileSystem> NewFileSystem() {
  return std::make_unique<PosixFileSystem>(Unnamed::kWhereSupported);
}

FileSystem& FileSystemWithNamedTemporariesForTesting() {
  static PosixFileSystem file_system(Unnamed::kNever);
  return file_system;
}

void NameTemporary(char* name, unsigned attempt) {
  std::uint64_t bits = 0;
  if (getentropy(&bits, sizeof bits) != 0) {
    // No random source: the clock, the process and the attempt still make names that
    // differ, and O_EXCL keeps a taken one from being used.
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    bits = (static_cast<std::uint64_t>(now.tv_sec) << 32 ^ static_cast<std::uint64_t>(now.tv_nsec) ^
            static_cast<std::uint64_t>(getpid()) << 20) +
           attempt * 0x9E3779B97F4A7C15ull;
  }
  FormatTemporaryName(name, bits);
}

// Paths are bytes here: UTF-8 ones need nothing done.
FileSystem& Utf8FileSystem() { return RealFileSystem(); }

bool NativeToUtf8(const std::filesystem::path::value_type* native, std::string* utf8) {
  *utf8 = native;
  return true;
}

void* AllocateLarge(std::size_t size) {
  // Maps one large block more than asked, so that an aligned block can be cut out of it;
  // the unaligned ends go back at once.
  size = LargeBlockSize(size);
  if (size == 0) return nullptr;
  void* mapped =
      mmap(nullptr, size + kLargeBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kLargeBlock - 1) & ~(std::uintptr_t{kLargeBlock} - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const std::uintptr_t end = start + size + kLargeBlock;
  if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(block, size, MADV_HUGEPAGE);  // a hint: where huge pages are off, nothing changes
#endif
  return block;
}

void ReleaseLarge(void* block, std::size_t size) {
  if (block != nullptr) munmap(block, LargeBlockSize(size));
}

}  // namespace quorva::platform
