// The operating system as the library and the command see it: files, directories, copies.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// Everything the library defines beside its ini_ functions lives in the project's own
// namespace, so that it cannot clash with an application's names.
namespace quorva::platform {

// An open file. Its value means something only to the FileSystem that opened it.
struct File {
  std::intptr_t value = -1;
};

// Room for a file name, or on Windows a whole path, kept in a Replacement.
constexpr std::size_t kReplaceNameRoom = 1024;  // a UTF-8 path of MAX_PATH characters and more

// A file being replaced whole: the new bytes go to `file`, a temporary beside the target,
// which moves over the target only once every byte is written and flushed to the disk. It
// lives on the caller's stack, so that replacing needs no heap; the other fields mean
// something only to the backend.
struct Replacement {
  File file;
  std::intptr_t directory = -1;         // POSIX: the target's directory, open
  int how = 0;                          // which kind of temporary, or none (in place)
  std::uint32_t attributes = 0;         // Windows: the replaced file's attributes
  char target[kReplaceNameRoom] = {};   // POSIX: the target's name in `directory`; Windows: its path
  char temporary[kReplaceNameRoom] = {};
};

// The temporary of a replacement is the target's name with this ending, the same name
// every time, so that the leftover of a replacement cut short by a crash is cleared by the
// next replacement of that file.
constexpr char kPartialSuffix[] = ".partial";

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

// Every primitive the product uses, behind one interface so that tests can replace the disk
// with a fake that records calls and fails on rule. Paths are byte strings handed to the
// system unchanged. Only an open for reading says why it failed, which a load reports;
// the other methods' callers need only know that one did.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading, shared with other readers but not with writers.
  virtual Opened OpenForReading(const char* path, Accept accept, File* file) = 0;
  // The size of an open file, as the system knows it now: a hint, since a file may grow
  // or shrink while it is read, and pseudo-files say 0. False when it is not known.
  virtual bool SizeOf(File file, std::uint64_t* size) = 0;
  // Reads up to `size` bytes. A successful read of 0 bytes means the end of the file.
  virtual bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) = 0;
  // Writes up to `size` bytes and reports how many were written.
  virtual bool Write(File file, const void* data, std::uint32_t size,
                     std::uint32_t* written) = 0;
  // Closes a file opened for reading. False when the system reports an error on closing.
  virtual bool Close(File file) = 0;

  // Begins replacing the file at `path`; the new bytes are written to `replacement->file`.
  // False, with nothing created and the old file untouched, when the path names a
  // directory, when an existing file there may not be written by this process (POSIX:
  // its effective IDs; Windows: the read-only attribute), or when no file can be made.
  // Where no temporary can be made beside the target (a directory this process may not
  // write, a name too long for the system) but the target itself can be written, and for
  // a target that is no regular file (a device, a FIFO), the new bytes go straight into
  // the target instead: then a failure leaves a part of them there.
  virtual bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) = 0;
  // Flushes the new file to the disk and moves it over the target. A replaced file keeps
  // its permission bits, and its owner where the process may set it (POSIX), or its
  // attributes and security (Windows); a new one gets the system's defaults (POSIX: 0666
  // less the umask). False when the flush or the move failed: the temporary is removed
  // and the old file is whole.
  virtual bool FinishReplacing(Replacement* replacement) = 0;
  // Gives up a replacement: the temporary is removed and the old file is whole.
  virtual void AbandonReplacing(Replacement* replacement) = 0;

  // Creates one directory. False when it could not be created, an existing one included.
  virtual bool MakeDirectory(const char* path) = 0;
  // True when anything, a file or a directory, exists at `path`.
  virtual bool Exists(const char* path) = 0;
  // Copies the regular file `from` onto `to`, replacing it as BeginReplacing does, with a
  // link at `to` replaced. The copy gets the source's permission bits masked by 0777 and
  // the umask, and writable by its owner (POSIX), or the source's attributes without the
  // read-only one (Windows). False when the source is no regular file, or `to` may not be
  // written, and when the copy failed: then `to` is as it was.
  virtual bool CopyReplacing(const char* from, const char* to) = 0;
  // The full path of the running program's own file.
  virtual bool OwnProgramPath(std::string* path) = 0;
  // False when argument `index` of the command line, or the program's own path, reached the
  // program with characters replaced by look-alikes, because the process's ANSI code page
  // lacks them. Always true where arguments and paths are bytes (POSIX).
  virtual bool ArgumentIsExact(int index) = 0;
  virtual bool OwnProgramPathIsExact() = 0;
};

// The characters a single name in a path (a directory's or a file's) may not hold, beside
// NUL: the separators, and on Windows the drive and stream separator ':'.
extern const char kNotInName[];

// The real file system of the platform this program was built for: paths are bytes, given
// to the system unchanged (on Windows, in the process's ANSI code page).
FileSystem& RealFileSystem();

// The same, with paths in UTF-8, which on Windows reach the wide calls and so may name any
// file; elsewhere it is RealFileSystem(). NativeToUtf8 turns the system's own form of a
// path (std::filesystem::path::value_type: UTF-16 on Windows, bytes elsewhere) into what
// this one takes; false when the path does not convert.
FileSystem& Utf8FileSystem();
bool NativeToUtf8(const std::filesystem::path::value_type* native, std::string* utf8);

// Reads standard input to its end as bytes, untranslated (no text mode on Windows). False
// when a read failed.
bool ReadStandardInput(std::string* bytes);

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
