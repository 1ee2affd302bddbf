// What the end-to-end tests need from the operating system: run a program, hold a file.
#ifndef TESTS_SYSTEM_H_
#define TESTS_SYSTEM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tree.h"
#include "tests/test_util.h"

namespace testing_support {

// Runs `program` with `args` in `directory`, with `input` as its standard input, and
// waits for it to end.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& directory);

// The ending of program files: ".exe" on Windows, nothing elsewhere.
extern const char kProgramSuffix[];

// The program `name` (without its ending) built beside the running test program.
inline std::string ProgramBesideTests(const std::string& name) {
  std::string own;
  platform::NewTreeFileSystem()->OwnProgramPath(&own);
  return own.substr(0, own.rfind(platform::kSeparator) + 1) + name + kProgramSuffix;
}

// Holds a file open, the way a running program holds its own file, so that nobody may
// write to it or copy over it. `held()` is false where the system has no such lock.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool held() const { return handle_ != -1; }

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace testing_support

#endif  // TESTS_SYSTEM_H_
