// The operating system as the library and the command see it: files, directories, copies.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An open file. Its value means something only to the FileSystem that opened it.
struct File {
  std::intptr_t value = -1;
};

// Every primitive the product uses, behind one interface so that tests can replace the disk
// with a fake that records calls and fails on rule. Paths are byte strings handed to the
// system unchanged. No method reports why it failed: callers only need to know that it did.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file for reading, shared with other readers but not with writers.
  virtual bool OpenForReading(const char* path, File* file) = 0;
  // Creates a file, or empties an existing one, for writing; others may write but not read.
  virtual bool CreateForWriting(const char* path, File* file) = 0;
  // The size of an open file, as the system knows it now: a hint, since a file may grow
  // or shrink while it is read, and pseudo-files say 0. False when it is not known.
  virtual bool SizeOf(File file, std::uint64_t* size) = 0;
  // Reads up to `size` bytes. A successful read of 0 bytes means the end of the file.
  virtual bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) = 0;
  // Writes up to `size` bytes and reports how many were written.
  virtual bool Write(File file, const void* data, std::uint32_t size,
                     std::uint32_t* written) = 0;
  // Closes a file. False when the system reports that bytes written earlier may not have
  // reached the disk (a delayed write error, as NFS or a full quota give it on POSIX).
  // Windows reports no such thing here: its backend always returns true.
  virtual bool Close(File file) = 0;

  // Creates one directory. False when it could not be created, an existing one included.
  virtual bool MakeDirectory(const char* path) = 0;
  // True when anything, a file or a directory, exists at `path`.
  virtual bool Exists(const char* path) = 0;
  // Copies a file onto `to`, replacing an existing file there.
  virtual bool CopyReplacing(const char* from, const char* to) = 0;
  // The full path of the running program's own file.
  virtual bool OwnProgramPath(std::string* path) = 0;
};

// The real file system of the platform this program was built for.
FileSystem& RealFileSystem();

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

inline std::size_t LargeBlockSize(std::size_t size) {
  return (size + kLargeBlock - 1) / kLargeBlock * kLargeBlock;
}

}  // namespace platform

#endif  // PLATFORM_PLATFORM_H_
