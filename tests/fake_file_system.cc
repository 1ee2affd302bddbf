// The in-memory file system for tests.
#include "tests/fake_file_system.h"

#include <algorithm>
#include <cstring>

namespace testing_support {

std::size_t FakeFileSystem::Count(Op op) const {
  return static_cast<std::size_t>(
      std::count_if(calls.begin(), calls.end(), [op](const Call& c) { return c.op == op; }));
}

bool FakeFileSystem::Record(Op op, const std::string& path, const std::string& target) {
  calls.push_back({op, path, target});
  return !(fail_if && fail_if(calls.back(), calls.size() - 1));
}

platform::File FakeFileSystem::Open(const std::string& path) {
  platform::File file;
  file.value = next_++;
  open_[file.value] = {path, 0};
  return file;
}

bool FakeFileSystem::OpenForReading(const char* path, platform::File* file) {
  if (!Record(Op::kOpenRead, path) || files.count(path) == 0) return false;
  *file = Open(path);
  return true;
}

bool FakeFileSystem::CreateForWriting(const char* path, platform::File* file) {
  if (!Record(Op::kCreate, path) || directories.count(path) != 0) return false;
  files[path].clear();
  *file = Open(path);
  return true;
}

bool FakeFileSystem::SizeOf(platform::File file, std::uint64_t* size) {
  const std::string& path = open_.at(file.value).path;
  if (!Record(Op::kSize, path)) return false;
  *size = files.at(path).size();
  return true;
}

bool FakeFileSystem::Read(platform::File file, void* buffer, std::uint32_t size,
                          std::uint32_t* got) {
  OpenFile& open = open_.at(file.value);
  if (!Record(Op::kRead, open.path)) return false;
  const std::string& data = files.at(open.path);
  std::size_t n = std::min<std::size_t>({size, read_limit, data.size() - open.offset});
  std::memcpy(buffer, data.data() + open.offset, n);
  open.offset += n;
  *got = static_cast<std::uint32_t>(n);
  return true;
}

bool FakeFileSystem::Write(platform::File file, const void* data, std::uint32_t size,
                           std::uint32_t* written) {
  const std::string& path = open_.at(file.value).path;
  if (!Record(Op::kWrite, path)) return false;
  std::uint32_t n = size;
  if (short_write_if && short_write_if(calls.back(), calls.size() - 1)) n = size / 2;
  files[path].append(static_cast<const char*>(data), n);
  *written = n;
  return true;
}

bool FakeFileSystem::Close(platform::File file) {
  bool ok = Record(Op::kClose, open_.at(file.value).path);
  open_.erase(file.value);  // closed even when the close reports a failure
  return ok;
}

bool FakeFileSystem::MakeDirectory(const char* path) {
  if (!Record(Op::kMakeDirectory, path) || files.count(path) != 0) return false;
  return directories.insert(path).second;
  return true;
}

bool FakeFileSystem::Exists(const char* path) {
  if (!Record(Op::kExists, path)) return false;
  return files.count(path) != 0 || directories.count(path) != 0;
}

bool FakeFileSystem::CopyReplacing(const char* from, const char* to) {
  if (!Record(Op::kCopy, from, to) || files.count(from) == 0 || directories.count(to) != 0) {
    return false;
  }
  files[to] = files[from];
  return true;
}

bool FakeFileSystem::OwnProgramPath(std::string* path) {
  if (!Record(Op::kOwnPath, own_path)) return false;
  *path = own_path;
  return true;
}

}  // namespace testing_support
