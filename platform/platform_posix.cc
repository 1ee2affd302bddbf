// The file system on POSIX systems: open/read/write/close, mkdir, stat, copy by rename.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace platform {

const char kSeparator = '/';

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
// bytes go through a buffer.
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
  static constexpr size_t kBlock = 1 << 16;
  static thread_local char block[kBlock];
  for (;;) {
    ssize_t n = read(from_fd, block, kBlock);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(to_fd, block, static_cast<size_t>(n))) return false;
  }
}

class PosixFileSystem final : public FileSystem {
 public:
  bool OpenForReading(const char* path, File* file) override {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A directory opens fine here but cannot be read as a file; refuse it now, as Windows does.
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      close(fd);
      return false;
    }
    file->value = fd;
    return true;
  }

  bool CreateForWriting(const char* path, File* file) override {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    file->value = fd;
    return true;
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

  // close() may report a write that failed late. EINTR is no such report: the descriptor is
  // released all the same on Linux, and retrying could close another file.
  bool Close(File file) override { return close(Fd(file)) == 0 || errno == EINTR; }

  bool MakeDirectory(const char* path) override { return mkdir(path, 0777) == 0; }

  bool Exists(const char* path) override {
    struct stat st;
    return stat(path, &st) == 0;
  }

  // Copies into a temporary file beside the target and renames it over the target, so the
  // target is either the old file or the complete new one, never a half-written one. The
  // copy keeps the source's permission bits, so launchers stay executable.
  bool CopyReplacing(const char* from, const char* to) override {
    int from_fd = open(from, O_RDONLY | O_CLOEXEC);
    if (from_fd < 0) return false;
    struct stat st;
    if (fstat(from_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(from_fd);
      return false;
    }
    std::string temp = std::string(to) + ".tmpXXXXXX";
    int to_fd = mkostemp(&temp[0], O_CLOEXEC);
    if (to_fd < 0) {
      close(from_fd);
      return false;
    }
    bool ok = CopyContents(from_fd, to_fd) && fchmod(to_fd, st.st_mode & 07777) == 0;
    close(from_fd);
    ok = close(to_fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), to) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
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
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

void* AllocateLarge(std::size_t size) {
  // Maps one large block more than asked, so that an aligned block can be cut out of it;
  // the unaligned ends go back at once.
  size = LargeBlockSize(size);
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

}  // namespace platform
