// Standard input as bytes on POSIX systems.
#include <unistd.h>

#include <cerrno>

#include "ini_check/standard_input.h"

bool ReadStandardInput(std::string* bytes) {
  char block[1 << 14];
  for (;;) {
    const ssize_t n = read(0, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes->append(block, static_cast<std::size_t>(n));
  }
}
