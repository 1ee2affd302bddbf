// The entry point of Install: the argument vector in, the exit status out.
#include <cstdio>

#include "install/install.h"

int main(int argc, char** argv) {
  const install::Console console{stdin, stdout, stderr};
  return install::Main(argc, argv, platform::RealFileSystem(), console);
}
