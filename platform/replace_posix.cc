// Replacing a file whole on POSIX systems: a private temporary beside the target, flushed
// and moved over it; in place, the whole new text first and room for it before a byte of the
// old changes; only where no file is, as one step.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/shared_posix.h"

namespace quorva::platform::posix {

namespace {

// Ends a replacement: the target's directory is closed. Returns `ok`.
bool CloseDirectory(Replacement* r, bool ok) {
  if (r->directory >= 0) close(static_cast<int>(r->directory));
  r->directory = -1;
  return ok;
}

// Copies `length` bytes at `offset` of the file `from` to the same offset of the file `to`.
bool CopyRange(int from, int to, off_t offset, off_t length) {
  char block[1 << 14];
  while (length > 0) {
    const size_t want = length < off_t{sizeof block} ? static_cast<size_t>(length) : sizeof block;
    const ssize_t got = pread(from, block, want, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = pwrite(to, block + put, static_cast<size_t>(got - put), offset + put);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      put += n;
    }
    offset += got;
    length -= got;
  }
  return true;
}

// Copies the whole of the file `from` over the file `target` in place. The part beyond the
// target's end goes first, so that a full disk or a quota stops the copy before a byte of
// the old file changed (and that part is cut off again); then the rest over the old bytes,
// whose room the file has; then the end is set and the file flushed.
Finished CopyOver(int from, int target) {
  struct stat st, old;
  if (fstat(from, &st) != 0 || fstat(target, &old) != 0) return Finished::kFailed;
  if (st.st_size > old.st_size && !CopyRange(from, target, old.st_size, st.st_size - old.st_size)) {
    return ftruncate(target, old.st_size) == 0 ? Finished::kFailed : Finished::kCutShort;
  }
  const bool copied = CopyRange(from, target, 0, std::min(st.st_size, old.st_size)) &&
                      ftruncate(target, st.st_size) == 0 && fsync(target) == 0;
  return copied ? Finished::kDone : Finished::kCutShort;
}

// Opens the target itself for writing, without changing it: a device or FIFO named
// directly, or a file in a directory this process may not write. O_NONBLOCK keeps a FIFO
// without a reader from blocking for ever.
int OpenTargetForWriting(const Replacement& r) {
  const int fd = openat(static_cast<int>(r.directory), r.target,
                        O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// A device or FIFO named directly takes the new bytes as they come.
bool BeginDevice(Replacement* r) {
  const int fd = OpenTargetForWriting(*r);
  if (fd < 0) return false;
  r->file.value = fd;
  r->into = ReplaceInto::kDevice;
  return true;
}

// A private file of the system's temporary directory that no other process can reach: one
// without a name where the system makes such, else one whose name is removed at once.
int MakePrivateFile() {
  const char* directory = P_tmpdir;
#ifdef O_TMPFILE
  const int unnamed = open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) return unnamed;
#endif
  std::string name = std::string(directory) + "/.ini-XXXXXX";
  const int fd = mkstemp(&name[0]);
  if (fd < 0) return -1;
  unlink(name.c_str());
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

// A regular file in a directory this process may not write: the new bytes go to a private
// file first, and over the target only once they are whole (Finish).
bool BeginInPlace(Replacement* r) {
  const int target = OpenTargetForWriting(*r);
  if (target < 0) return false;
  const int fd = MakePrivateFile();
  if (fd < 0) {
    close(target);
    return false;
  }
  r->in_place = target;
  r->file.value = fd;
  r->into = ReplaceInto::kInPlace;
  return true;
}

// Makes the temporary of a replacement beside the target, readable too, so that its bytes
// can be written in place when the target cannot be replaced: without a name where the
// file system can (O_TMPFILE), else under a private name made with O_EXCL, trying another
// name when one is taken. -1 when none can be made.
int MakeTemporary(Replacement* r, mode_t mode, bool unnamed) {
  const int dir = static_cast<int>(r->directory);
#ifdef O_TMPFILE
  if (unnamed) {
    const int fd = openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0) {
      r->into = ReplaceInto::kUnnamedTemporary;
      return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  }
#else
  (void)unnamed;
#endif
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    NameTemporary(r->temporary, attempt);
    const int fd =
        openat(dir, r->temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      r->into = ReplaceInto::kTemporary;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Gives the new file the owner and permission bits of the file it replaces: the owner where
// this process may set it (the group alone where it may set that), then the bits, which a
// change of owner would clear in part. Set-ID bits are kept only with their owner.
bool KeepOwnerAndMode(int fd, const struct stat& old) {
  const bool owner_kept = fchown(fd, old.st_uid, old.st_gid) == 0;
  if (!owner_kept) (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  return fchmod(fd, old.st_mode & (owner_kept ? 07777 : 0777)) == 0;
}

}  // namespace

void Abandon(Replacement* r) {
  close(Fd(r->file));
  if (r->in_place >= 0) close(static_cast<int>(r->in_place));
  r->in_place = -1;
  if (r->into == ReplaceInto::kTemporary) unlinkat(static_cast<int>(r->directory), r->temporary, 0);
  CloseDirectory(r, false);
}

bool BeginIn(int dir, AtLink at_link, const NewFileRules& rules, Replacement* r) {
  r->directory = dir;
  struct stat old;
  const bool linked = at_link == AtLink::kFollow && KindAt(dir, r->target, &old) == Kind::kLink;
  if (linked && !FollowLinks(&dir, r->target)) {
    r->directory = dir;
    return CloseDirectory(r, false);
  }
  r->directory = dir;
  const bool in_place = rules.in_place == InPlace::kWhereNeeded;
  const Kind kind = KindAt(dir, r->target, &old);
  switch (kind) {
    case Kind::kDirectory:
      return CloseDirectory(r, false);
    case Kind::kSpecial:  // a device or FIFO named directly is written; one reached by a link not
      return (in_place && !linked && BeginDevice(r)) || CloseDirectory(r, false);
    case Kind::kRegular:  // a file this process may not write is not replaced behind its back
      if (faccessat(dir, r->target, W_OK, AT_EACCESS) != 0) return CloseDirectory(r, false);
      break;
    case Kind::kLink:  // AtLink::kReplace: the link itself is replaced
    case Kind::kNothing:
      break;
  }
  const bool exists = kind == Kind::kRegular;
  if (faccessat(dir, ".", W_OK, AT_EACCESS) != 0) {
    return (in_place && exists && BeginInPlace(r)) || CloseDirectory(r, false);
  }
  const bool keep = exists && rules.new_file == NewFile::kKeepOld;
  const int fd =
      MakeTemporary(r, keep ? 0600 : rules.mode, rules.unnamed == Unnamed::kWhereSupported);
  if (fd < 0) return CloseDirectory(r, false);
  r->file.value = fd;
  if (keep && !KeepOwnerAndMode(fd, old)) {
    Abandon(r);
    return false;
  }
  return true;
}

bool Begin(const char* path, AtLink at_link, const NewFileRules& rules, Replacement* r) {
  char buffer[PATH_MAX];
  const size_t length = std::strlen(path);
  if (length >= sizeof buffer) return false;
  std::memcpy(buffer, path, length + 1);
  int dir;
  return OpenDirectoryOf(AT_FDCWD, buffer, r->target, &dir) && BeginIn(dir, at_link, rules, r);
}

namespace {

// Gives an unnamed temporary a private name in the target's directory: through /proc, or
// where /proc is missing by the handle, which needs a privilege.
bool NameUnnamed(Replacement* r, int fd) {
  const int dir = static_cast<int>(r->directory);
  char proc[32];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    NameTemporary(r->temporary, attempt);
    bool linked = linkat(AT_FDCWD, proc, dir, r->temporary, AT_SYMLINK_FOLLOW) == 0;
#ifdef AT_EMPTY_PATH
    linked = linked || (errno != EEXIST && linkat(fd, "", dir, r->temporary, AT_EMPTY_PATH) == 0);
#endif
    if (linked) {
      r->into = ReplaceInto::kTemporary;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Gives the complete temporary the target's name only where no file is: a hard link to it
// fails where one is, and where the file system has no hard links, a rename that may not
// replace (Linux). The temporary's own name goes in every case.
Finished PublishOnlyNew(int dir, Replacement* r) {
  bool published = linkat(dir, r->temporary, dir, r->target, 0) == 0;
  int error = errno;
#ifdef RENAME_NOREPLACE
  if (!published && error != EEXIST &&
      renameat2(dir, r->temporary, dir, r->target, RENAME_NOREPLACE) == 0) {
    return Finished::kDone;
  }
  if (!published) error = errno;
#endif
  unlinkat(dir, r->temporary, 0);
  if (published) return Finished::kDone;
  return error == EEXIST ? Finished::kTaken : Finished::kFailed;
}

}  // namespace

Finished Finish(Replacement* r, Publish publish) {
  const int fd = Fd(r->file);
  const int dir = static_cast<int>(r->directory);
  if (r->into == ReplaceInto::kDevice) {
    const bool flushed = fsync(fd) == 0 || errno == EINVAL;  // EINVAL: nothing to flush
    const bool closed = close(fd) == 0;
    CloseDirectory(r, true);
    return flushed && closed ? Finished::kDone : Finished::kCutShort;
  }
  if (r->into == ReplaceInto::kInPlace) {
    const int target = static_cast<int>(r->in_place);
    const Finished copied = CopyOver(fd, target);
    const bool closed = close(target) == 0;
    close(fd);
    r->in_place = -1;
    CloseDirectory(r, true);
    return copied == Finished::kDone && !closed ? Finished::kCutShort : copied;
  }
  Finished finished = fsync(fd) == 0 ? Finished::kDone : Finished::kFailed;
  if (finished == Finished::kDone && r->into == ReplaceInto::kUnnamedTemporary &&
      !NameUnnamed(r, fd)) {
    finished = Finished::kFailed;
  }
  bool moved = false;
  if (finished == Finished::kDone && publish == Publish::kOnlyNew) {
    finished = PublishOnlyNew(dir, r);
    moved = finished == Finished::kDone;
  } else if (finished == Finished::kDone) {
    moved = renameat(dir, r->temporary, dir, r->target) == 0;
    // A file mounted over its name cannot be replaced by a move: the new bytes go over it.
    if (!moved) {
      int target = -1;
      finished = (errno == EBUSY || errno == EXDEV) && (target = OpenTargetForWriting(*r)) >= 0
                     ? CopyOver(fd, target)
                     : Finished::kFailed;
      if (target >= 0 && close(target) != 0 && finished == Finished::kDone)
        finished = Finished::kCutShort;
    }
  }
  if (!moved && r->into == ReplaceInto::kTemporary) unlinkat(dir, r->temporary, 0);
  close(fd);
  // The move itself reaches the disk with the directory. Some file systems cannot flush a
  // directory; the file is in place all the same.
  if (moved) fsync(dir);
  CloseDirectory(r, true);
  return finished;
}

FileId IdOfNew(const Replacement& r) {
  return IdOfFd(static_cast<int>(r.into == ReplaceInto::kInPlace ? r.in_place : r.file.value));
}

bool PosixFileSystem::BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) {
  NewFileRules rules;
  rules.unnamed = unnamed_;
  return Begin(path, at_link, rules, replacement);
}

Finished PosixFileSystem::FinishReplacing(Replacement* replacement, Publish publish) {
  return Finish(replacement, publish);
}

FileId PosixFileSystem::IdOfNew(const Replacement& replacement) {
  return posix::IdOfNew(replacement);
}

void PosixFileSystem::AbandonReplacing(Replacement* replacement) { Abandon(replacement); }

}  // namespace quorva::platform::posix
