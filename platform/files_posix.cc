// The file system on POSIX systems, as the library uses it: open, read, write and close,
// which file a path names and where, and the edit lock. Linux's own calls (O_PATH, /proc)
// are used where the system has them, with portable POSIX in their place elsewhere.
#include <sys/file.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/shared_posix.h"

namespace quorva::platform {

const char kSeparator = '/';
const char kNotInName[] = "/\\";

namespace posix {

namespace {

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

}  // namespace

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

Kind KindAt(int dir, const char* name, struct stat* st) {
  if (fstatat(dir, name, st, AT_SYMLINK_NOFOLLOW) != 0) return Kind::kNothing;
  if (S_ISREG(st->st_mode)) return Kind::kRegular;
  if (S_ISLNK(st->st_mode)) return Kind::kLink;
  if (S_ISDIR(st->st_mode)) return Kind::kDirectory;
  return Kind::kSpecial;
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

Opened OpenedAfter(int error) {
  switch (error) {
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

// A directory opens fine here but cannot be read as a file; it is refused, as on Windows.
Opened TakeOpened(int fd, Accept accept, File* file) {
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
  if (accept == Accept::kRegularFile) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  file->value = fd;
  file->size_at_open = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
  return opened;
}

// Where only regular files are asked for, O_NONBLOCK keeps a FIFO from blocking the open.
Opened PosixFileSystem::OpenForReading(const char* path, Accept accept, File* file) {
  int flags = O_RDONLY | O_CLOEXEC;
  if (accept == Accept::kRegularFile) flags |= O_NONBLOCK;
  const int fd = open(path, flags);
  return fd < 0 ? OpenedAfter(errno) : TakeOpened(fd, accept, file);
}

bool PosixFileSystem::SizeOf(File file, std::uint64_t* size) {
  if (file.size_at_open >= 0) {
    *size = static_cast<std::uint64_t>(file.size_at_open);
    return true;
  }
  struct stat st;
  if (fstat(Fd(file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool PosixFileSystem::Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) {
  for (;;) {
    ssize_t n = read(Fd(file), buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    *got = static_cast<std::uint32_t>(n);
    return true;
  }
}

bool PosixFileSystem::Write(File file, const void* data, std::uint32_t size,
                            std::uint32_t* written) {
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
bool PosixFileSystem::Close(File file) { return close(Fd(file)) == 0 || errno == EINTR; }

bool PosixFileSystem::Rewind(File file) { return lseek(Fd(file), 0, SEEK_SET) == 0; }

FileId PosixFileSystem::IdOf(File file) { return IdOfFd(Fd(file)); }

bool PosixFileSystem::PlaceOf(const char* path, Place* place) {
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
Locked PosixFileSystem::LockForEditing(const char* path, std::uint32_t wait_milliseconds,
                                       File* file) {
  const std::int64_t deadline = Milliseconds() + wait_milliseconds;
  for (;;) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

void PosixFileSystem::Unlock(File file) { close(Fd(file)); }

Failure PosixFileSystem::LastFailure() {
  switch (errno) {
    case ENOENT:
    case ENOTDIR:
      return Failure::kNoSuchFile;
    case EACCES:
    case EPERM:
      return Failure::kDenied;
    case ENOSPC:
      return Failure::kNoSpace;
    case EDQUOT:
      return Failure::kQuota;
    case EROFS:
      return Failure::kReadOnly;
    case EISDIR:
      return Failure::kIsDirectory;
    case EFBIG:
      return Failure::kTooBig;
    case EIO:
      return Failure::kIo;
    case ENAMETOOLONG:
      return Failure::kNameTooLong;
    default:
      return Failure::kOther;
  }
}

}  // namespace posix

FileSystem& RealFileSystem() {
  static posix::PosixFileSystem file_system(posix::Unnamed::kWhereSupported);
  return file_system;
}

FileSystem& FileSystemWithNamedTemporariesForTesting() {
  static posix::PosixFileSystem file_system(posix::Unnamed::kNever);
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
