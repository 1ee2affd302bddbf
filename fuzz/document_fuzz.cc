// libFuzzer entry point: fails on any input for which fuzz::CheckDocumentOperations finds a problem.
#include <cstdio>
#include <cstdlib>

#include "fuzz/properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string problem = fuzz::CheckDocumentOperations(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "property violated: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
