// An in-memory file system for tests: records every call and fails the calls a rule picks.
#ifndef TESTS_FAKE_FILE_SYSTEM_H_
#define TESTS_FAKE_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace testing_support {

enum class Op { kOpenRead, kCreate, kSize, kRead, kWrite, kClose, kMakeDirectory, kExists, kCopy,
                kOwnPath };

struct Call {
  Op op;
  std::string path;    // for reads, writes and closes: the path the file was opened with
  std::string target;  // for copies: where to
};

class FakeFileSystem final : public platform::FileSystem {
 public:
  // Files by path, and the directories that exist.
  std::map<std::string, std::string> files;
  std::set<std::string> directories;
  std::string own_path = "C:\\q\\Install.exe";
  // Every call so far, in order; a failed call is recorded too.
  std::vector<Call> calls;
  // Picks the calls that fail, by the call and its index in `calls`.
  std::function<bool(const Call&, std::size_t)> fail_if;
  // Picks the writes that write only half of what they were asked, yet report success.
  std::function<bool(const Call&, std::size_t)> short_write_if;
  // The most bytes one read delivers, however many were asked for.
  std::uint32_t read_limit = UINT32_MAX;

  std::size_t Count(Op op) const;
  std::size_t OpenFiles() const { return open_.size(); }

  bool OpenForReading(const char* path, platform::File* file) override;
  bool CreateForWriting(const char* path, platform::File* file) override;
  bool SizeOf(platform::File file, std::uint64_t* size) override;
  bool Read(platform::File file, void* buffer, std::uint32_t size,
            std::uint32_t* got) override;
  bool Write(platform::File file, const void* data, std::uint32_t size,
             std::uint32_t* written) override;
  bool Close(platform::File file) override;
  bool MakeDirectory(const char* path) override;
  bool Exists(const char* path) override;
  bool CopyReplacing(const char* from, const char* to) override;
  bool OwnProgramPath(std::string* path) override;

 private:
  struct OpenFile {
    std::string path;
    std::size_t offset = 0;
  };
  // Records the call; false when the rule makes it fail.
  bool Record(Op op, const std::string& path, const std::string& target = "");
  platform::File Open(const std::string& path);

  std::map<std::intptr_t, OpenFile> open_;
  std::intptr_t next_ = 3;
};

}  // namespace testing_support

#endif  // TESTS_FAKE_FILE_SYSTEM_H_
