// The file system as Install uses it: kept beneath the root of the tree it installs, with
// the directories, copies, leftovers and own path the command needs besides what the library
// does. Not part of the library that users link.
#ifndef PLATFORM_TREE_H_
#define PLATFORM_TREE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace quorva::platform {

// The characters a single name in a path (a directory's or a file's) may not hold, beside
// NUL: the separators, and on Windows the drive and stream separator ':'.
extern const char kNotInName[];

// Where a path leads, with its links followed: beneath the root a file system is confined to,
// or not (outside it, or nowhere that can be told).
enum class Location { kBeneath, kOutside };

// What stands at a path.
enum class Stands {
  kNothing,
  kRegularFile,
  kDirectory,
  kLink,   // a symbolic link, where links at the last name are not followed
  kOther,  // a device, a FIFO, a socket: what Install never reads or writes
};

// Install's replacements (BeginReplacing) and copies never write in place: where no private
// temporary can be made beside the target, or a device or FIFO stands at its name, they
// fail and write nothing through the name.
class TreeFileSystem : public FileSystem {
 public:
  // Keeps this file system beneath the directory `root` (which may itself be reached
  // through links) from now on: an open for reading, a copy, a replacement, a new directory
  // and the removal of leftovers fail, changing nothing, where a directory on the way or a
  // link that is followed leads outside it. Links that stay beneath it work. Where `root`
  // cannot be opened, nothing is beneath it, and the result is false. Each directory is
  // checked as the system has it when it is used (POSIX: opened and walked up; Windows: held
  // open from its check on, and its files reached relative to it), so a link made
  // meanwhile cannot lead a write outside.
  virtual bool ConfineTo(const char* root) = 0;
  // Where `path` leads, with every link on it followed; a part that does not exist yet is
  // where its existing directory is. Always kBeneath when not confined.
  virtual Location Locate(const char* path) = 0;
  // What stands at `path`, links at its last name followed or not; kNothing also when it
  // cannot be told. Never opens what it looks at, so a FIFO cannot block it.
  virtual Stands WhatStands(const char* path, bool follow_links) = 0;

  // Creates one directory. False when it could not be created, an existing one included.
  virtual bool MakeDirectory(const char* path) = 0;
  // True when anything, a file or a directory, exists at `path`.
  virtual bool Exists(const char* path) = 0;
  // Copies the regular file `from` onto `to`, replacing it as a replacement does, with a
  // link at `to` replaced. The copy gets the source's permission bits masked by 0777 and
  // the umask, and writable by its owner, and the source's group where the process may set
  // it; where it may not, no more for its group than the source gives everyone (POSIX). On
  // Windows it gets the source's attributes without the read-only one. False when the
  // source is no regular file, or `to` may not be written or is no regular file, and when
  // the copy failed: then `to` is as it was.
  virtual bool CopyReplacing(const char* from, const char* to) = 0;
  // Removes the temporaries that replacements in `directory` left when their process was
  // killed: regular files with a temporary's name, last changed at `not_after` (a time of
  // Now()) or before, and (POSIX) owned by the user this process runs as; through the
  // directory as the confinement checked it, never through its path again. Nothing else is
  // touched.
  virtual void RemoveLeftovers(const char* directory, std::int64_t not_after) = 0;
  // The time on the clock that files' modification times are taken from, in seconds.
  virtual std::int64_t Now() = 0;

  // The full path of the running program's own file.
  virtual bool OwnProgramPath(std::string* path) = 0;
  // False when argument `index` of the command line, or the program's own path, reached the
  // program with characters replaced by look-alikes, because the process's ANSI code page
  // lacks them. Always true where arguments and paths are bytes (POSIX).
  virtual bool ArgumentIsExact(int index) = 0;
  virtual bool OwnProgramPathIsExact() = 0;
};

// A tree file system whose plain file operations are those of `files`: the base of the real
// ones, which add the tree's own and confine what needs it.
class TreeOver : public TreeFileSystem {
 public:
  explicit TreeOver(FileSystem& files) : files_(files) {}
  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    return files_.OpenForReading(path, accept, file);
  }
  bool SizeOf(File file, std::uint64_t* size) override { return files_.SizeOf(file, size); }
  bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) override {
    return files_.Read(file, buffer, size, got);
  }
  bool Write(File file, const void* data, std::uint32_t size, std::uint32_t* written) override {
    return files_.Write(file, data, size, written);
  }
  bool Close(File file) override { return files_.Close(file); }
  bool Rewind(File file) override { return files_.Rewind(file); }
  FileId IdOf(File file) override { return files_.IdOf(file); }
  bool PlaceOf(const char* path, Place* place) override { return files_.PlaceOf(path, place); }
  Locked LockForEditing(const char* path, std::uint32_t wait, File* file) override {
    return files_.LockForEditing(path, wait, file);
  }
  void Unlock(File file) override { files_.Unlock(file); }
  Failure LastFailure() override { return files_.LastFailure(); }
  bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) override {
    return files_.BeginReplacing(path, at_link, replacement);
  }
  Finished FinishReplacing(Replacement* replacement, Publish publish) override {
    return files_.FinishReplacing(replacement, publish);
  }
  FileId IdOfNew(const Replacement& replacement) override { return files_.IdOfNew(replacement); }
  void AbandonReplacing(Replacement* replacement) override { files_.AbandonReplacing(replacement); }

 protected:
  FileSystem& files_;
};

// The real one of the platform this program was built for: a new instance, which may be
// confined, with paths in the ANSI code page on Windows.
std::unique_ptr<TreeFileSystem> NewTreeFileSystem();

}  // namespace quorva::platform

#endif  // PLATFORM_TREE_H_
