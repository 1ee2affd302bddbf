// libFuzzer entry point: any input for which fuzz::CheckGrownReader finds a problem is a
// finding.
#include "fuzz/properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::Enforce(fuzz::CheckGrownReader(data, size));
}
