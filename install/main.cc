// The entry point of Install: the argument vector in, the exit status out.
#include <cstdio>
#include <memory>

#include "install/install.h"

int main(int argc, char** argv) {
  const install::Console console{stdin, stdout, stderr};
  // A file system of its own, which the run confines to the install root.
  const std::unique_ptr<platform::TreeFileSystem> file_system = platform::NewTreeFileSystem();
  return install::Main(argc, argv, *file_system, console);
}
