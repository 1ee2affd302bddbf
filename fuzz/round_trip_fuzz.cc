// libFuzzer entry point: any input for which fuzz::CheckRoundTrip or fuzz::CheckEditing
// finds a problem is a finding.
#include "fuzz/properties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string problem = fuzz::CheckRoundTrip(data, size);
  if (problem.empty()) problem = fuzz::CheckEditing(data, size);
  return fuzz::Enforce(problem);
}
