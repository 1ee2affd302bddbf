// The file system on POSIX systems: open/read/close, replacing files whole, mkdir, stat,
// copies.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Where the new bytes of a replacement go.
enum How : int {
  kInPlace,  // into the target itself
  kUnnamed,  // into a file without a name yet (O_TMPFILE), named `temporary` at the end
  kNamed,    // into the file named `temporary`
};

// Opens the directory that holds `path` (relative to `at`) and puts the last name of the
// path into `name`. `path` is cut at its last '/' on the way. False when the path ends in
// '/' or its name does not fit.
bool OpenDirectoryOf(int at, char* path, char* name, int* directory) {
  char* slash = std::strrchr(path, '/');
  const char* base = slash == nullptr ? path : slash + 1;
  const size_t length = std::strlen(base);
  if (length == 0 || length + sizeof kPartialSuffix > kReplaceNameRoom) return false;
  std::memcpy(name, base, length + 1);
  const char* dir = ".";
  if (slash == path) {
    dir = "/";
  } else if (slash != nullptr) {
    *slash = '\0';
    dir = path;
  }
  int fd = openat(at, dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) fd = openat(at, dir, O_PATH | O_DIRECTORY | O_CLOEXEC);  // one we may not list
  *directory = fd;
  return fd >= 0;
}

// Follows symbolic links from the target's name to the file they end at, which need not
// exist: a dangling link is kept and the file it names is made.
bool FollowLinks(Replacement* r) {
  char link[PATH_MAX];
  for (int hops = 0;; ++hops) {
    const int dir = static_cast<int>(r->directory);
    struct stat st;
    if (fstatat(dir, r->target, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) {
      return true;
    }
    ssize_t n = readlinkat(dir, r->target, link, sizeof link);
    if (hops == 40 || n <= 0 || static_cast<size_t>(n) == sizeof link) return false;
    link[n] = '\0';
    int next;  // a relative link is read from the link's own directory
    if (!OpenDirectoryOf(dir, link, r->target, &next)) return false;
    close(dir);
    r->directory = next;
  }
}

// Opens the target itself for writing: for a target that is no regular file, and where no
// temporary can be made. O_NONBLOCK keeps a FIFO without a reader from blocking for ever.
bool OpenInPlace(Replacement* r, bool truncate, AtLink at_link) {
  int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC;
  if (truncate) flags |= O_TRUNC;
  if (at_link == AtLink::kReplace) flags |= O_NOFOLLOW;
  int fd = openat(static_cast<int>(r->directory), r->target, flags, 0666);
  if (fd < 0) return false;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  r->file.value = fd;
  r->how = kInPlace;
  return true;
}

// Makes the temporary of a replacement: a file without a name where the file system has
// them, else the fixed name, after clearing what a replacement cut short left there.
int MakeTemporary(Replacement* r, mode_t mode) {
  const int dir = static_cast<int>(r->directory);
  int fd = openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  r->how = kUnnamed;
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    unlinkat(dir, r->temporary, 0);
    fd = openat(dir, r->temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    r->how = kNamed;
  }
  return fd;
}

// Ends a replacement that could not begin, or an abandoned one: the old file is untouched.
bool GiveUp(Replacement* r) {
  if (r->directory >= 0) close(static_cast<int>(r->directory));
  r->directory = -1;
  return false;
}

void Abandon(Replacement* r) {
  close(Fd(r->file));
  if (r->how == kNamed) unlinkat(static_cast<int>(r->directory), r->temporary, 0);
  GiveUp(r);
}

// The one routine behind storing and copying. The new file gets `new_mode` (less the
// umask), or with `keep_old` the owner and permission bits of the file it replaces.
bool Begin(const char* path, AtLink at_link, mode_t new_mode, bool keep_old, Replacement* r) {
  char buffer[PATH_MAX];
  const size_t length = std::strlen(path);
  if (length >= sizeof buffer) return false;
  std::memcpy(buffer, path, length + 1);
  int dir;
  if (!OpenDirectoryOf(AT_FDCWD, buffer, r->target, &dir)) return false;
  r->directory = dir;
  if (at_link == AtLink::kFollow && !FollowLinks(r)) return GiveUp(r);
  dir = static_cast<int>(r->directory);
  const size_t name_length = std::strlen(r->target);  // room for the suffix: OpenDirectoryOf
  std::memcpy(r->temporary, r->target, name_length);
  std::memcpy(r->temporary + name_length, kPartialSuffix, sizeof kPartialSuffix);

  struct stat old;
  bool exists = fstatat(dir, r->target, &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && S_ISLNK(old.st_mode)) exists = false;  // the link itself is replaced
  if (exists && S_ISDIR(old.st_mode)) return GiveUp(r);
  if (exists && !S_ISREG(old.st_mode)) return OpenInPlace(r, false, at_link) || GiveUp(r);
  // A file this process may not write is not replaced behind its back by a rename.
  if (exists && faccessat(dir, r->target, W_OK, AT_EACCESS) != 0) return GiveUp(r);

  const bool keep = exists && keep_old;
  int fd = MakeTemporary(r, keep ? 0600 : new_mode);
  if (fd < 0) {
    // No temporary beside the target: a directory this process may not write, or a name
    // too long. Writing in place still works where the target itself may be written.
    const bool in_place = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
    return (in_place && OpenInPlace(r, true, at_link)) || GiveUp(r);
  }
  r->file.value = fd;
  if (keep) {
    // The owner where this process may set it (the group alone where it may set that),
    // and then the permission bits, which a change of owner would clear in part. Set-ID
    // bits are kept only with the owner they belong to.
    const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
    if (!owner_kept) (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    if (fchmod(fd, old.st_mode & (owner_kept ? 07777 : 0777)) != 0) {
      Abandon(r);
      return false;
    }
  }
  return true;
}

bool Finish(Replacement* r) {
  const int fd = Fd(r->file);
  const int dir = static_cast<int>(r->directory);
  bool ok = fsync(fd) == 0 || errno == EINVAL;  // EINVAL: a device or FIFO, nothing to flush
  if (r->how == kInPlace) {
    ok = close(fd) == 0 && ok;
    GiveUp(r);
    return ok;
  }
  bool named = r->how == kNamed;
  if (ok && !named) {
    // The unnamed file gets the fixed name (a leftover there is cleared first): through
    // /proc, or where /proc is missing by the handle, which needs a privilege.
    char proc[32];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    unlinkat(dir, r->temporary, 0);
    named = linkat(AT_FDCWD, proc, dir, r->temporary, AT_SYMLINK_FOLLOW) == 0 ||
            linkat(fd, "", dir, r->temporary, AT_EMPTY_PATH) == 0;
    ok = named;
  } else if (ok) {
    // Another replacement of the same file may have cleared this name as a leftover and
    // made its own there: the file under the name must still be this one.
    struct stat mine, there;
    ok = fstat(fd, &mine) == 0 && fstatat(dir, r->temporary, &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
    named = ok;
  }
  ok = close(fd) == 0 && ok;
  ok = ok && renameat(dir, r->temporary, dir, r->target) == 0;
  if (!ok && named) unlinkat(dir, r->temporary, 0);
  // The move itself reaches the disk with the directory. Some file systems cannot flush a
  // directory; the file is in place all the same.
  if (ok) fsync(dir);
  GiveUp(r);
  return ok;
}


class PosixFileSystem final : public FileSystem {
 public:
  // A directory opens fine here but cannot be read as a file; it is refused, as on Windows.
  // Where only regular files are asked for, O_NONBLOCK keeps a FIFO from blocking the open.
  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    int flags = O_RDONLY | O_CLOEXEC;
    if (accept == Accept::kRegularFile) flags |= O_NONBLOCK;
    int fd = open(path, flags);
    if (fd < 0) {
      switch (errno) {
        case ENOENT: case ENOTDIR: return Opened::kMissing;
        case EACCES: case EPERM: return Opened::kDenied;
        case EISDIR: return Opened::kDirectory;
        default: return Opened::kFailed;
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
    return opened;
  }

  bool SizeOf(File file, std::uint64_t* size) override {
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

  bool Write(File file, const void* data, std::uint32_t size,
             std::uint32_t* written) override {
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

  bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) override {
    return Begin(path, at_link, 0666, true, replacement);
  }
  bool FinishReplacing(Replacement* replacement) override { return Finish(replacement); }
  void AbandonReplacing(Replacement* replacement) override { Abandon(replacement); }

  bool MakeDirectory(const char* path) override { return mkdir(path, 0777) == 0; }

  bool Exists(const char* path) override {
    struct stat st;
    return stat(path, &st) == 0;
  }

  // As cp makes a new file: the source's permission bits less the umask, never set-ID or
  // sticky bits, so a copy made by root of a user's file gives that user nothing. The owner
  // may always write the copy, as on Windows: a source unpacked read-only must not make
  // the next run's copy fail.
  bool CopyReplacing(const char* from, const char* to) override {
    int from_fd = open(from, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (from_fd < 0) return false;
    struct stat st;
    Replacement r;
    if (fstat(from_fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !Begin(to, AtLink::kReplace, (st.st_mode & 0777) | S_IWUSR, false, &r)) {
      close(from_fd);
      return false;
    }
    const bool copied = CopyContents(from_fd, Fd(r.file));
    close(from_fd);
    if (!copied) {
      Abandon(&r);
      return false;
    }
    return Finish(&r);
  }

  bool OwnProgramPath(std::string* path) override {
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
  }

  bool ArgumentIsExact(int) override { return true; }
  bool OwnProgramPathIsExact() override { return true; }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

// Paths are bytes here: UTF-8 ones need nothing done.
FileSystem& Utf8FileSystem() { return RealFileSystem(); }

bool NativeToUtf8(const std::filesystem::path::value_type* native, std::string* utf8) {
  *utf8 = native;
  return true;
}

bool ReadStandardInput(std::string* bytes) {
  char block[1 << 14];
  for (;;) {
    ssize_t n = read(0, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(block, static_cast<size_t>(n));
  }
}

void* AllocateLarge(std::size_t size) {
  // Maps one large block more than asked, so that an aligned block can be cut out of it;
  // the unaligned ends go back at once.
  size = LargeBlockSize(size);
  if (size == 0) return nullptr;
  void* mapped = mmap(nullptr, size + kLargeBlock, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
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
