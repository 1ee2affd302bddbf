// The operating system as the library and the command see it: files, directories, copies.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

// Everything the library defines beside its ini_ functions lives in the project's own
// namespace, so that it cannot clash with an application's names.
namespace quorva::platform {

// An open file. Its value means something only to the FileSystem that opened it.
struct File {
  std::intptr_t value = -1;
  // The size of a regular file as it was found when it was opened for reading, where that
  // look came at no cost; -1 when not known (SizeOf then asks the system). Set only for a
  // regular file, which reads short of what was asked only at its end.
  std::int64_t size_at_open = -1;
};

// Room for a file name, or on Windows a whole path, kept in a Replacement.
constexpr std::size_t kReplaceNameRoom = 1024;  // a UTF-8 path of MAX_PATH characters and more

// Where the new bytes of a replacement go.
enum class ReplaceInto {
  kTemporary,         // a private temporary beside the target, named `temporary`
  kUnnamedTemporary,  // one without a name until it is published (Linux: O_TMPFILE)
  kInPlace,           // a private temporary elsewhere, copied over the target in place once whole
  kDevice,            // the target itself, a device or FIFO named directly, written as they come
};

// A file being replaced whole: the new bytes go to `file`, a private temporary beside the
// target, which moves over the target only once every byte is written and flushed to the
// disk. It lives on the caller's stack, so that replacing needs no heap; the fields but
// `file` mean something only to the backend.
struct Replacement {
  File file;
  ReplaceInto into = ReplaceInto::kTemporary;
  std::intptr_t directory = -1;        // POSIX: the target's directory, open
  std::intptr_t in_place = -1;         // ReplaceInto::kInPlace: the target, open for writing
  std::uint32_t attributes = 0;        // Windows: the replaced file's attributes
  char target[kReplaceNameRoom] = {};  // POSIX: the target's name in `directory`; Windows: its path
  char temporary[kReplaceNameRoom] = {};  // likewise for the temporary
};

// A temporary is named ".ini-", 16 random hexadecimal digits and ".tmp", whatever the
// target's name, so that no other process can foresee it or take it first, and every name
// the file system takes can be replaced. It is made with O_EXCL (Windows: CREATE_NEW), and a
// replacement never opens, removes or renames a name it did not make itself. Only a
// process killed between making it and moving it into place leaves one behind (on Linux,
// where the temporary has no name until then, only one killed in that instant).
constexpr char kTemporaryPrefix[] = ".ini-";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;
constexpr std::size_t kTemporaryNameLength =
    sizeof kTemporaryPrefix - 1 + kTemporaryDigits + sizeof kTemporarySuffix - 1;
// The name of the temporary made on `attempt` (0, 1, ...) into `name`, which has room for
// kTemporaryNameLength bytes and a NUL: random digits, different from one call to the next.
void NameTemporary(char* name, unsigned attempt);

// Writes a temporary's name with the digits of `bits` into `name`.
inline void FormatTemporaryName(char* name, std::uint64_t bits) {
  constexpr char kDigits[] = "0123456789abcdef";
  char* p = name;
  for (const char* c = kTemporaryPrefix; *c != '\0'; ++c) *p++ = *c;
  for (std::size_t i = 0; i < kTemporaryDigits; ++i) *p++ = kDigits[(bits >> (60 - 4 * i)) & 15];
  for (const char* c = kTemporarySuffix; *c != '\0'; ++c) *p++ = *c;
  *p = '\0';
}

// True when `name`, a name without a directory, is a temporary's.
inline bool IsTemporaryName(const char* name) {
  std::size_t at = 0;
  for (const char* c = kTemporaryPrefix; *c != '\0'; ++c) {
    if (name[at++] != *c) return false;
  }
  for (std::size_t i = 0; i < kTemporaryDigits; ++i, ++at) {
    const char c = name[at];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  for (const char* c = kTemporarySuffix; *c != '\0'; ++c) {
    if (name[at++] != *c) return false;
  }
  return name[at] == '\0';
}

// What replacing does when it finds a symbolic link at the target's path.
enum class AtLink {
  kFollow,   // the file the link points to is replaced; the link stays
  kReplace,  // the link itself is replaced by the new file
};

// Which files an open for reading accepts.
enum class Accept {
  kAnyFile,      // also a pipe, a FIFO or a device, which may block until written to
  kRegularFile,  // only a regular file; anything else fails at once, without blocking
};

// What came of an open for reading: opened, or why not.
enum class Opened {
  kYes,
  kMissing,     // no such file, or a directory on the way missing
  kDenied,      // the process may not read it
  kDirectory,   // a directory stands there
  kNotRegular,  // a pipe, FIFO or device, where only a regular file was accepted
  kInUse,       // another program holds it (Windows sharing)
  kFailed,      // any other failure
};

// Which file an open file or a path is: POSIX its device and inode, Windows its volume's
// serial number and its file index. Two ids are equal only when both are known.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool known = false;
  bool operator==(const FileId& other) const {
    return known && other.known && device == other.device && index == other.index;
  }
  bool operator!=(const FileId& other) const { return !(*this == other); }
};

// Where a path leads once its links are followed: the directory holding the name it ends
// at, that name (on Windows as the system spells it, for a file that exists), and the file
// that stands there now (`file.known` false when none does). However a path is spelled,
// relative, absolute or through links, it names the same place as another exactly when
// SamePlace says so.
struct Place {
  FileId directory;
  char name[kReplaceNameRoom] = {};
  FileId file;
};
inline bool SamePlace(const Place& a, const Place& b) {
  return a.directory == b.directory && std::strcmp(a.name, b.name) == 0;
}

// What came of taking the edit lock of a file (FileSystem::LockForEditing).
enum class Locked {
  kYes,
  kMissing,     // no file is at the path (the lock holds nothing then)
  kNotRegular,  // a directory, FIFO, device or socket stands there
  kBusy,        // another holder kept the lock for the whole wait
  kFailed,      // the file could not be opened or locked
};

// How long a store of edits waits for another's edit lock before it gives up: an upper
// bound, so that whoever may read a file can delay an edit of it but never block it.
constexpr std::uint32_t kLockWaitMilliseconds = 5000;

// Why a call of the system failed, as far as a message needs it.
enum class Failure {
  kNone,
  kNoSuchFile,   // a directory on the way is missing
  kDenied,       // permission denied, or not permitted
  kNoSpace,      // no space left on the device
  kQuota,        // the disk quota is used up
  kReadOnly,     // a read-only file system
  kIsDirectory,  // a directory stands where a file is wanted
  kTooBig,       // the file would be too large
  kIo,           // an input/output error
  kNameTooLong,  // a name or path too long
  kOther,
};

// What a finished replacement did.
enum class Finished {
  kDone,      // the new file is in place
  kFailed,    // the flush or the move failed: the old file is whole, the temporary gone
  kTaken,     // Publish::kOnlyNew found a file at the name: nothing changed
  kCutShort,  // a write in place failed: the target may hold a part of the new bytes
};

// Whether a replacement may take the place of a file that is there.
enum class Publish {
  kReplacing,  // the new file takes the name, whatever stands there
  kOnlyNew,    // only where no file is: an atomic create, refused when one appeared
};

// Every primitive the library uses, behind one interface so that tests can replace the disk
// with a fake that records calls and fails on rule (Install's own, beside these, are in
// platform/tree.h). Paths are byte strings handed to the system unchanged. Only an open for
// reading says why it failed, which a load reports; the other methods' callers need only
// know that one did.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading, shared with other readers but not with writers.
  virtual Opened OpenForReading(const char* path, Accept accept, File* file) = 0;
  // The size of an open file, as the system knows it now (or as it knew it at the open,
  // File::size_at_open): a hint, since a file may grow or shrink while it is read, and
  // pseudo-files say 0. False when it is not known.
  virtual bool SizeOf(File file, std::uint64_t* size) = 0;
  // Reads up to `size` bytes. A successful read of 0 bytes means the end of the file.
  virtual bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) = 0;
  // Writes up to `size` bytes and reports how many were written.
  virtual bool Write(File file, const void* data, std::uint32_t size, std::uint32_t* written) = 0;
  // Closes a file opened for reading. False when the system reports an error on closing.
  virtual bool Close(File file) = 0;
  // Goes back to the start of a file opened for reading, for a read from the start.
  virtual bool Rewind(File file) = 0;
  // Which file an open file is.
  virtual FileId IdOf(File file) = 0;
  // Where `path` leads (see Place). False when its directory cannot be found.
  virtual bool PlaceOf(const char* path, Place* place) = 0;

  // Opens the regular file at `path` for reading, its links followed, and takes its edit
  // lock: an advisory lock that every store of edits of the file takes too (POSIX: flock;
  // Windows: LockFileEx on a byte far beyond any file's end, so reads are not hindered),
  // waiting up to `wait_milliseconds` while another holds it. Once locked, the path must
  // still name the locked file, since a store moves a new file over the name while the
  // old one is locked; else the lock is taken again on the file now there. The lock does
  // not keep the file from being replaced by a store of edits that holds it, which the
  // handle allows (Windows: FILE_SHARE_DELETE). Released with Unlock.
  virtual Locked LockForEditing(const char* path, std::uint32_t wait_milliseconds, File* file) = 0;
  // Releases an edit lock and closes its file.
  virtual void Unlock(File file) = 0;
  // Why the last call of this thread that failed did (errno; GetLastError on Windows), asked
  // right after it, before any other call.
  virtual Failure LastFailure() = 0;

  // Begins replacing the file at `path`; the new bytes are written to `replacement->file`.
  // A symbolic link at the path is followed (AtLink::kFollow) as the system follows links
  // for this process, so its rules for links that other users planted apply (Linux:
  // protected_symlinks), or is itself replaced (AtLink::kReplace). False, with nothing
  // created and the old file untouched, when the path names a directory, when a link may
  // not be followed or leads to a directory, device, FIFO or socket, when an existing file
  // there may not be written by this process (POSIX: its effective IDs; Windows: the
  // read-only attribute), or when no temporary can be made.
  // Two kinds of target are written in place, since no move can serve them. A target in a
  // directory this process may not write (POSIX: access() with the effective IDs; Windows:
  // making the temporary is denied), which the process may write: the new bytes go to a
  // private temporary in the system's temporary directory and are copied over the target
  // only at FinishReplacing. And a target named directly that is no regular file (a device,
  // a FIFO), which takes the bytes as they come.
  virtual bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) = 0;
  // Flushes the new file to the disk and moves it over the target, replacing the name: a
  // hard link to the old file keeps the old bytes. A replaced file keeps its permission
  // bits, and its owner where the process may set it (POSIX), or its attributes and
  // security (Windows); a new one gets the system's defaults (POSIX: 0666 less the umask).
  // With Publish::kOnlyNew the new file takes the name only where none is, as one step.
  // A target written in place, and one that a move cannot replace (a file mounted over its
  // name: the move fails with EBUSY or EXDEV), gets the new bytes copied over it: the room
  // for them is reserved first, so that a full disk or a quota refuses with the old file
  // whole (kFailed); where the file system cannot reserve room, a failure of the copy
  // leaves a part of them (kCutShort). The temporary is gone afterwards in every case.
  virtual Finished FinishReplacing(Replacement* replacement,
                                   Publish publish = Publish::kReplacing) = 0;
  // Which file the new file of a begun replacement will be once in place (for one in
  // place, the target); asked before FinishReplacing.
  virtual FileId IdOfNew(const Replacement& replacement) = 0;
  // Gives up a replacement: the temporary is removed and the old file is whole.
  virtual void AbandonReplacing(Replacement* replacement) = 0;
};

// The real file system of the platform this program was built for: paths are bytes, given
// to the system unchanged (on Windows, in the process's ANSI code page).
FileSystem& RealFileSystem();

// The same, with paths in UTF-8, which on Windows reach the wide calls and so may name any
// file; elsewhere it is RealFileSystem(). NativeToUtf8 turns the system's own form of a
// path (std::filesystem::path::value_type: UTF-16 on Windows, bytes elsewhere) into what
// this one takes; false when the path does not convert.
FileSystem& Utf8FileSystem();
bool NativeToUtf8(const std::filesystem::path::value_type* native, std::string* utf8);

// Test hook: the real file system, with temporaries that always have a name, as on file
// systems without unnamed files (POSIX; elsewhere it is RealFileSystem()).
FileSystem& FileSystemWithNamedTemporariesForTesting();

// The separator between the parts of a path: '\' on Windows, '/' elsewhere.
extern const char kSeparator;

// Large blocks of fresh memory straight from the system, for blocks of kLargeBlock bytes
// or more: `size` is rounded up to a multiple of kLargeBlock. On Linux they are aligned to
// kLargeBlock and asked to be backed by transparent huge pages, which halves the cost of
// faulting fresh memory in; elsewhere they are the system's ordinary page allocation. Pages
// are only paid for when first touched, and come filled with zeros. Null when the system
// has no memory to give.
constexpr std::size_t kLargeBlock = std::size_t{2} << 20;
void* AllocateLarge(std::size_t size);
// Returns a block of AllocateLarge, with the `size` it was asked for.
void ReleaseLarge(void* block, std::size_t size);

// `size` rounded up to a multiple of kLargeBlock, or 0 when that would not fit a size_t
// with a large block to spare (AllocateLarge then gives null).
inline std::size_t LargeBlockSize(std::size_t size) {
  if (size > SIZE_MAX - 2 * kLargeBlock) return 0;
  return (size + kLargeBlock - 1) / kLargeBlock * kLargeBlock;
}

}  // namespace quorva::platform

namespace platform = quorva::platform;

#endif  // PLATFORM_PLATFORM_H_
