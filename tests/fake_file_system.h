// An in-memory file system for tests: records every call and fails the calls a rule picks.
#ifndef TESTS_FAKE_FILE_SYSTEM_H_
#define TESTS_FAKE_FILE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/tree.h"

namespace testing_support {

enum class Op {
  kOpenRead,
  kSize,
  kRead,
  kWrite,
  kClose,
  kReplace,
  kCommit,
  kAbandon,
  kMakeDirectory,
  kExists,
  kCopy,
  kOwnPath,
  kRemoveLeftovers,
  kLocate,
  kLock,
  kPlace
};

struct Call {
  Op op;
  std::string path;    // for reads, writes and closes: the path the file was opened with
  std::string target;  // for copies: where to
};

// Replacements and copies work as the real ones do: the new bytes go to a private
// temporary in the target's directory (named as platform::IsTemporaryName says), which
// takes the target's name only when complete.
class FakeFileSystem final : public platform::TreeFileSystem {
 public:
  // Files by path, and the directories that exist.
  std::map<std::string, std::string> files;
  std::set<std::string> directories;
  // Files that exist but may not be written or replaced (read-only), and files that exist
  // but are no regular files (FIFOs): opened only by a load that accepts any file.
  std::set<std::string> read_only;
  std::set<std::string> special;
  std::string own_path = "C:\\q\\Install.exe";
  // Arguments (by index), and whether the program's own path, arrived with characters the
  // code page lacks replaced by look-alikes.
  std::set<int> inexact_arguments;
  bool own_path_exact = true;
  // Every call so far, in order; a failed call is recorded too.
  std::vector<Call> calls;
  // Picks the calls that fail, by the call and its index in `calls`.
  std::function<bool(const Call&, std::size_t)> fail_if;
  // Picks the writes that write only half of what they were asked, yet report success.
  std::function<bool(const Call&, std::size_t)> short_write_if;
  // The most bytes one read delivers, however many were asked for.
  std::uint32_t read_limit = UINT32_MAX;
  // The size SizeOf reports for every file, instead of its true size.
  std::optional<std::uint64_t> reported_size;
  // The call at this index crashes the machine: a write or copy gets half its bytes to
  // disk, and from then on nothing reaches the disk and every call fails.
  std::size_t crash_at = SIZE_MAX;

  // Symbolic links: a path, and the path it leads to. Only where a confined disk locates
  // paths (Locate, and the calls it refuses) are they followed.
  std::map<std::string, std::string> links;
  // Every call counts one tick of the clock that Now() reads and files are stamped with.
  std::map<std::string, std::int64_t> modified;
  // Which file stands at each path (its inode): a file written anew by a replacement is a
  // new file; one changed through `files` stays the file it was. A path with none yet gets
  // one when first asked. A test replaces a file as another program would by erasing it.
  std::map<std::string, std::uint64_t> ids;
  // Files whose edit lock another program holds for longer than any wait.
  std::set<std::string> locked_by_others;
  // The edit locks this process holds, by path.
  std::set<std::string> locked;
  // What LastFailure says of every failed call.
  platform::Failure failure = platform::Failure::kOther;

  std::size_t Count(Op op) const;
  // The paths of the temporaries on the disk.
  std::vector<std::string> Temporaries() const;
  std::size_t OpenFiles() const { return open_.size(); }
  // The machine comes back after a crash: the disk as the crash left it, no file open.
  void Restart();

  platform::Opened OpenForReading(const char* path, platform::Accept accept,
                                  platform::File* file) override;
  bool SizeOf(platform::File file, std::uint64_t* size) override;
  bool Read(platform::File file, void* buffer, std::uint32_t size, std::uint32_t* got) override;
  bool Write(platform::File file, const void* data, std::uint32_t size,
             std::uint32_t* written) override;
  bool Close(platform::File file) override;
  bool BeginReplacing(const char* path, platform::AtLink at_link,
                      platform::Replacement* replacement) override;
  platform::Finished FinishReplacing(platform::Replacement* replacement,
                                     platform::Publish publish) override;
  platform::FileId IdOfNew(const platform::Replacement& replacement) override;
  bool Rewind(platform::File file) override;
  platform::FileId IdOf(platform::File file) override;
  bool PlaceOf(const char* path, platform::Place* place) override;
  platform::Locked LockForEditing(const char* path, std::uint32_t wait_milliseconds,
                                  platform::File* file) override;
  void Unlock(platform::File file) override;
  platform::Failure LastFailure() override { return failure; }
  void AbandonReplacing(platform::Replacement* replacement) override;
  bool MakeDirectory(const char* path) override;
  bool Exists(const char* path) override;
  platform::Stands WhatStands(const char* path, bool follow_links) override;
  bool CopyReplacing(const char* from, const char* to) override;
  bool OwnProgramPath(std::string* path) override;
  void RemoveLeftovers(const char* directory, std::int64_t not_after) override;
  bool ConfineTo(const char* root) override;
  platform::Location Locate(const char* path) override;
  std::int64_t Now() override { return static_cast<std::int64_t>(calls.size()); }
  bool ArgumentIsExact(int index) override { return inexact_arguments.count(index) == 0; }
  bool OwnProgramPathIsExact() override { return own_path_exact; }

 private:
  struct OpenFile {
    std::string path;
    std::size_t offset = 0;
  };
  // Records the call; false when the rule makes it fail, or the machine has crashed.
  bool Record(Op op, const std::string& path, const std::string& target = "");
  // True for the call that crashes the machine, which may leave half its work behind.
  bool CrashesNow() const { return crashed_ && calls.size() - 1 == crash_at; }
  platform::File Open(const std::string& path);
  // A new temporary's path beside `target`, and the file there made empty.
  std::string MakeTemporary(const std::string& target);
  void Put(const std::string& path, const std::string& bytes);
  platform::FileId IdAt(const std::string& path);

  std::map<std::intptr_t, OpenFile> open_;
  std::intptr_t next_ = 3;
  std::uint64_t temporaries_ = 0;
  std::uint64_t next_id_ = 1;
  std::optional<std::string> root_;  // the root the disk is confined to
  bool root_exists_ = false;
  // True when the disk is confined and `path` leads outside its root; not recorded.
  bool Outside(const std::string& path) const;
  bool crashed_ = false;
};

// The directory part of `path`: up to its last separator, or "" when it has none.
std::string DirectoryOf(const std::string& path);
// True when `path` names a replacement's temporary.
bool IsTemporaryPath(const std::string& path);

}  // namespace testing_support

#endif  // TESTS_FAKE_FILE_SYSTEM_H_
