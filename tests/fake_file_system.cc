// The in-memory file system for tests.
#include "tests/fake_file_system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace testing_support {

std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.rfind(platform::kSeparator);
  return separator == std::string::npos ? "" : path.substr(0, separator);
}

bool IsTemporaryPath(const std::string& path) {
  const std::size_t separator = path.rfind(platform::kSeparator);
  return platform::IsTemporaryName(path.c_str() +
                                   (separator == std::string::npos ? 0 : separator + 1));
}

std::string FakeFileSystem::MakeTemporary(const std::string& target) {
  char name[platform::kTemporaryNameLength + 1];
  platform::FormatTemporaryName(name, ++temporaries_);
  const std::string directory = DirectoryOf(target);
  const std::string path = directory.empty() ? name : directory + platform::kSeparator + name;
  Put(path, "");
  return path;
}

void FakeFileSystem::Put(const std::string& path, const std::string& bytes) {
  if (files.count(path) == 0) ids.erase(path);
  files[path] = bytes;
  modified[path] = Now();
}

std::size_t FakeFileSystem::Count(Op op) const {
  return static_cast<std::size_t>(
      std::count_if(calls.begin(), calls.end(), [op](const Call& c) { return c.op == op; }));
}

std::vector<std::string> FakeFileSystem::Temporaries() const {
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : files) {
    if (IsTemporaryPath(path)) paths.push_back(path);
  }
  return paths;
}

void FakeFileSystem::Restart() {
  crash_at = SIZE_MAX;
  crashed_ = false;
  open_.clear();
}

bool FakeFileSystem::Record(Op op, const std::string& path, const std::string& target) {
  calls.push_back({op, path, target});
  if (calls.size() - 1 == crash_at) crashed_ = true;
  return !crashed_ && !(fail_if && fail_if(calls.back(), calls.size() - 1));
}

platform::File FakeFileSystem::Open(const std::string& path) {
  platform::File file;
  file.value = next_++;
  open_[file.value] = {path, 0};
  return file;
}

platform::Opened FakeFileSystem::OpenForReading(const char* path, platform::Accept accept,
                                                platform::File* file) {
  if (!Record(Op::kOpenRead, path) || Outside(path)) return platform::Opened::kFailed;
  if (directories.count(path) != 0) return platform::Opened::kDirectory;
  if (files.count(path) == 0) return platform::Opened::kMissing;
  if (accept == platform::Accept::kRegularFile && special.count(path) != 0) {
    return platform::Opened::kNotRegular;
  }
  *file = Open(path);
  // A regular file, whose size the open finds, as the platform's does; not a file whose
  // size a test makes the disk misreport.
  if (special.count(path) == 0 && !reported_size)
    file->size_at_open = static_cast<std::int64_t>(files.at(path).size());
  return platform::Opened::kYes;
}

bool FakeFileSystem::SizeOf(platform::File file, std::uint64_t* size) {
  const std::string& path = open_.at(file.value).path;
  if (!Record(Op::kSize, path)) return false;
  *size = reported_size ? *reported_size : files.at(path).size();
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
  std::uint32_t n = size;
  if (!Record(Op::kWrite, path)) {
    if (CrashesNow()) files[path].append(static_cast<const char*>(data), size / 2);
    return false;
  }
  if (short_write_if && short_write_if(calls.back(), calls.size() - 1)) n = size / 2;
  files[path].append(static_cast<const char*>(data), n);
  modified[path] = Now();
  *written = n;
  return true;
}

bool FakeFileSystem::Close(platform::File file) {
  bool ok = Record(Op::kClose, open_.at(file.value).path);
  open_.erase(file.value);  // closed even when the close reports a failure
  return ok;
}

bool FakeFileSystem::BeginReplacing(const char* path, platform::AtLink,
                                    platform::Replacement* replacement) {
  if (!Record(Op::kReplace, path) || Outside(DirectoryOf(path)) || directories.count(path) != 0 ||
      read_only.count(path) != 0) {
    return false;
  }
  std::snprintf(replacement->target, sizeof replacement->target, "%s", path);
  const std::string temporary = MakeTemporary(path);
  std::snprintf(replacement->temporary, sizeof replacement->temporary, "%s", temporary.c_str());
  replacement->file = Open(temporary);
  return true;
}

platform::Finished FakeFileSystem::FinishReplacing(platform::Replacement* replacement,
                                                   platform::Publish publish) {
  const std::string target = replacement->target, temporary = replacement->temporary;
  const bool ok = Record(Op::kCommit, target);
  if (crashed_) return platform::Finished::kFailed;  // the temporary stays where the crash left it
  open_.erase(replacement->file.value);
  const bool taken = publish == platform::Publish::kOnlyNew && files.count(target) != 0;
  if (ok && !taken) {
    Put(target, files[temporary]);
    ids[target] = IdAt(temporary).index;
  }
  files.erase(temporary);
  ids.erase(temporary);
  if (taken) return platform::Finished::kTaken;
  return ok ? platform::Finished::kDone : platform::Finished::kFailed;
}

platform::FileId FakeFileSystem::IdAt(const std::string& path) {
  platform::FileId id;
  if (files.count(path) == 0) return id;
  auto found = ids.find(path);
  if (found == ids.end()) found = ids.emplace(path, next_id_++).first;
  id.device = 1;
  id.index = found->second;
  id.known = true;
  return id;
}

platform::FileId FakeFileSystem::IdOfNew(const platform::Replacement& replacement) {
  return IdAt(replacement.temporary);
}

bool FakeFileSystem::Rewind(platform::File file) {
  OpenFile& open = open_.at(file.value);
  if (!Record(Op::kRead, open.path)) return false;
  open.offset = 0;
  return true;
}

platform::FileId FakeFileSystem::IdOf(platform::File file) {
  return IdAt(open_.at(file.value).path);
}

// Paths name places as they are spelled: the fake has no other spellings.
bool FakeFileSystem::PlaceOf(const char* path, platform::Place* place) {
  if (!Record(Op::kPlace, path)) return false;
  const std::string directory = DirectoryOf(path);
  place->directory.device = 1;
  place->directory.index = std::hash<std::string>()(directory);
  place->directory.known = true;
  std::snprintf(place->name, sizeof place->name, "%s",
                path + (directory.empty() ? 0 : directory.size() + 1));
  place->file = IdAt(path);
  return true;
}

platform::Locked FakeFileSystem::LockForEditing(const char* path, std::uint32_t,
                                                platform::File* file) {
  if (!Record(Op::kLock, path)) return platform::Locked::kFailed;
  if (files.count(path) == 0) return platform::Locked::kMissing;
  if (special.count(path) != 0) return platform::Locked::kNotRegular;
  if (locked_by_others.count(path) != 0 || locked.count(path) != 0) return platform::Locked::kBusy;
  *file = Open(path);
  locked.insert(path);
  return platform::Locked::kYes;
}

void FakeFileSystem::Unlock(platform::File file) {
  locked.erase(open_.at(file.value).path);
  open_.erase(file.value);
}

void FakeFileSystem::AbandonReplacing(platform::Replacement* replacement) {
  Record(Op::kAbandon, replacement->target);
  if (crashed_) return;
  open_.erase(replacement->file.value);
  files.erase(replacement->temporary);
}

bool FakeFileSystem::MakeDirectory(const char* path) {
  if (!Record(Op::kMakeDirectory, path) || Outside(DirectoryOf(path)) || files.count(path) != 0) {
    return false;
  }
  return directories.insert(path).second;
}

bool FakeFileSystem::Exists(const char* path) {
  if (!Record(Op::kExists, path)) return false;
  return files.count(path) != 0 || directories.count(path) != 0;
}

// The fake's links are followed only by a confined disk: what stands at a path is what the
// maps hold for it.
platform::Stands FakeFileSystem::WhatStands(const char* path, bool) {
  if (directories.count(path) != 0) return platform::Stands::kDirectory;
  if (files.count(path) == 0) return platform::Stands::kNothing;
  return special.count(path) != 0 ? platform::Stands::kOther : platform::Stands::kRegularFile;
}

bool FakeFileSystem::CopyReplacing(const char* from, const char* to) {
  if (!Record(Op::kCopy, from, to)) {
    if (CrashesNow() && files.count(from) != 0) {
      files[MakeTemporary(to)] = files[from].substr(0, files[from].size() / 2);
    }
    return false;
  }
  if (Outside(from) || Outside(DirectoryOf(to)) || files.count(from) == 0 ||
      special.count(from) != 0 || directories.count(to) != 0 || read_only.count(to) != 0) {
    return false;
  }
  Put(to, files[from]);
  ids.erase(to);  // a new file
  return true;
}

bool FakeFileSystem::ConfineTo(const char* root) {
  root_ = root;
  root_exists_ = directories.count(root) != 0 ||
                 std::any_of(files.begin(), files.end(),
                             [root](const auto& file) { return DirectoryOf(file.first) == root; });
  return root_exists_;
}

bool FakeFileSystem::Outside(const std::string& path) const {
  if (!root_) return false;
  if (!root_exists_) return true;  // nothing is beneath a root that is not there
  std::string resolved = path;
  for (int hops = 0; hops < 40; ++hops) {
    bool followed = false;
    for (const auto& [link, target] : links) {
      const bool on_the_way =
          resolved.compare(0, link.size(), link) == 0 &&
          (resolved.size() == link.size() || resolved[link.size()] == platform::kSeparator);
      if (on_the_way) {
        resolved = target + resolved.substr(link.size());
        followed = true;
        break;
      }
    }
    if (!followed) {
      return !(resolved == *root_ ||
               resolved.compare(0, root_->size() + 1, *root_ + platform::kSeparator) == 0);
    }
  }
  return true;  // a loop leads nowhere beneath
}

platform::Location FakeFileSystem::Locate(const char* path) {
  if (!Record(Op::kLocate, path) || Outside(path)) return platform::Location::kOutside;
  return platform::Location::kBeneath;
}

void FakeFileSystem::RemoveLeftovers(const char* directory, std::int64_t not_after) {
  if (!Record(Op::kRemoveLeftovers, directory)) return;
  for (auto it = files.begin(); it != files.end();) {
    bool open = false;
    for (const auto& [handle, file] : open_) open = open || file.path == it->first;
    if (DirectoryOf(it->first) == directory && IsTemporaryPath(it->first) && !open &&
        modified[it->first] <= not_after) {
      modified.erase(it->first);
      it = files.erase(it);
    } else {
      ++it;
    }
  }
}

bool FakeFileSystem::OwnProgramPath(std::string* path) {
  if (!Record(Op::kOwnPath, own_path)) return false;
  *path = own_path;
  return true;
}

}  // namespace testing_support
