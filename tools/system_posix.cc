// The tools' system on POSIX systems: arguments are bytes, as typed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "system.h"

namespace tools {

std::vector<Argument> Arguments(int argc, char** argv) {
  std::vector<Argument> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back({argv[i], argv[i], true});
  return arguments;
}

namespace {

bool ReadAll(int fd, std::string* bytes) {
  char block[1 << 14];
  for (;;) {
    const ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(block, static_cast<std::size_t>(n));
  }
}

}  // namespace

bool ReadStandardInput(std::string* bytes) { return ReadAll(0, bytes); }

bool WriteStandardOutput(const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
         std::fflush(stdout) == 0;
}

namespace {

// Why a file could not be opened, from errno.
const char* CannotOpen(int error) {
  return error == ENOENT || error == ENOTDIR ? "cannot open the file: no such file or directory"
         : error == EACCES || error == EPERM ? "cannot open the file: permission denied"
                                             : "cannot open the file";
}

// Why the file `st` is no regular file; null when it is one.
const char* NotRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return nullptr;
  return S_ISDIR(st.st_mode) ? "cannot open the file: it is a directory"
                             : "cannot open the file: it is not a regular file";
}

}  // namespace

bool IsRegularFile(const std::filesystem::path& path, std::string* reason) {
  struct stat st;
  const char* why = stat(path.c_str(), &st) != 0 ? CannotOpen(errno) : NotRegular(st);
  if (why != nullptr) *reason = why;
  return why == nullptr;
}

bool ReadRegularFile(const std::filesystem::path& path, std::string* bytes, std::string* reason) {
  // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and is refused below.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *reason = CannotOpen(errno);
    return false;
  }
  struct stat st;
  const char* why = fstat(fd, &st) != 0 ? "cannot open the file" : NotRegular(st);
  if (why == nullptr) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!ReadAll(fd, bytes)) why = "a read from the file failed";
  }
  close(fd);
  if (why != nullptr) *reason = why;
  return why == nullptr;
}

}  // namespace tools
