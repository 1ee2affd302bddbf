// What the POSIX files of the platform layer share: descriptors and the kinds of what
// stands at a name, the walk to a path's directory, and the replacing routine that the
// library's stores and Install's copies go through.
#ifndef PLATFORM_SHARED_POSIX_H_
#define PLATFORM_SHARED_POSIX_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/platform.h"

namespace quorva::platform::posix {

inline int Fd(File file) { return static_cast<int>(file.value); }

#ifdef O_PATH
constexpr int kPathOnly = O_PATH;  // opens what a path leads to without reading it
#else
constexpr int kPathOnly = O_RDONLY | O_NONBLOCK | O_NOCTTY;
#endif

// Names tried for a temporary before giving up: another process takes one only by chance.
constexpr unsigned kNameAttempts = 64;

// Opens the directory that holds `path` (relative to `at`) and puts the last name of the
// path into `name`. `path` is cut at its last '/' on the way. False when the path ends in
// '/' or its name does not fit.
bool OpenDirectoryOf(int at, char* path, char* name, int* directory);

// What stands at a name, not following a link there.
enum class Kind { kNothing, kRegular, kLink, kDirectory, kSpecial };
Kind KindAt(int dir, const char* name, struct stat* st);

// Follows a symbolic link at `name` in the open directory `*dir` to the regular file it
// leads to, which need not exist yet, leaving that file's directory in `*dir` and its name
// in `name` (see files_posix.cc). False, touching nothing, when the system refuses, when the
// link leads to anything but a regular file, or when the links changed meanwhile.
bool FollowLinks(int* dir, char* name);

FileId IdOfStat(const struct stat& st);
FileId IdOfFd(int fd);

// Why an open failed, from its errno.
Opened OpenedAfter(int error);
// Takes the descriptor `fd`, just opened for reading, into `*file` when it is what `accept`
// takes (never a directory); else closes it and says why not.
Opened TakeOpened(int fd, Accept accept, File* file);

// Copies the bytes of `from_fd` into `to_fd` from where each stands; false on any failure.
bool CopyContents(int from_fd, int to_fd);

// How a replacement makes its new file.
enum class NewFile {
  kMode,     // `mode` less the umask (a copy)
  kKeepOld,  // the owner and bits of the file it replaces, else `mode` less the umask
};
// Whether a temporary may be a file without a name (off only in tests, to try the named one).
enum class Unnamed { kWhereSupported, kNever };
// Whether the new bytes may go into the target itself where no temporary can serve: a
// directory the process may not write, a device or FIFO named directly.
enum class InPlace { kWhereNeeded, kNever };
struct NewFileRules {
  mode_t mode = 0666;
  NewFile new_file = NewFile::kKeepOld;
  Unnamed unnamed = Unnamed::kWhereSupported;
  InPlace in_place = InPlace::kWhereNeeded;
};

// The one routine behind storing and copying: begins replacing the name `r->target` in the
// open directory `dir`, which the replacement takes over (closed with it, also on failure):
// what stands at the name (links followed or not), whether a temporary can be made there,
// and the temporary. See FileSystem::BeginReplacing.
bool BeginIn(int dir, AtLink at_link, const NewFileRules& rules, Replacement* r);
// BeginIn in the directory of `path`.
bool Begin(const char* path, AtLink at_link, const NewFileRules& rules, Replacement* r);
Finished Finish(Replacement* r, Publish publish);
void Abandon(Replacement* r);
FileId IdOfNew(const Replacement& r);

// The file system of a POSIX system, as the library uses it.
class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(Unnamed unnamed) : unnamed_(unnamed) {}

  Opened OpenForReading(const char* path, Accept accept, File* file) override;
  bool SizeOf(File file, std::uint64_t* size) override;
  bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) override;
  bool Write(File file, const void* data, std::uint32_t size, std::uint32_t* written) override;
  bool Close(File file) override;
  bool Rewind(File file) override;
  FileId IdOf(File file) override;
  bool PlaceOf(const char* path, Place* place) override;
  Locked LockForEditing(const char* path, std::uint32_t wait_milliseconds, File* file) override;
  void Unlock(File file) override;
  Failure LastFailure() override;
  bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) override;
  Finished FinishReplacing(Replacement* replacement, Publish publish) override;
  FileId IdOfNew(const Replacement& replacement) override;
  void AbandonReplacing(Replacement* replacement) override;

 private:
  const Unnamed unnamed_;
};

}  // namespace quorva::platform::posix

#endif  // PLATFORM_SHARED_POSIX_H_
