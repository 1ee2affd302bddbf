// Replacing a file whole on Windows: a private temporary beside the target, flushed and moved
// over it (ReplaceFile for an existing file, which keeps its attributes and security); in
// place, the whole new text first and the part beyond the old end before a byte of the old
// changes; only where no file is, as one step.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/shared_win32.h"

namespace quorva::platform::win32 {

namespace {

bool SizeOfHandle(HANDLE handle, std::uint64_t* size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(handle, &n)) return false;
  *size = static_cast<std::uint64_t>(n.QuadPart);
  return true;
}

bool SetEnd(HANDLE handle, std::uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Copies `length` bytes at `offset` of the file `from` to the same offset of the file `to`.
bool CopyRange(HANDLE from, HANDLE to, std::uint64_t offset, std::uint64_t length) {
  char block[1 << 14];
  while (length > 0) {
    const DWORD want = length < sizeof block ? static_cast<DWORD>(length) : sizeof block;
    DWORD got = 0, put = 0;
    OVERLAPPED read_at = At(offset), write_at = At(offset);
    if (!ReadFile(from, block, want, &got, &read_at) || got == 0 ||
        !WriteFile(to, block, got, &put, &write_at) || put != got) {
      return false;
    }
    offset += got;
    length -= got;
  }
  return true;
}

// A private file of the system's temporary directory, removed when it is closed.
HANDLE MakePrivateFile() {
  wchar_t directory[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, directory);
  if (n == 0 || n > MAX_PATH) return INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    char name[kTemporaryNameLength + 1];
    NameTemporary(name, attempt);
    std::wstring path = directory;
    for (const char* c = name; *c != '\0'; ++c) path += static_cast<wchar_t>(*c);
    const HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return handle;
  }
  return INVALID_HANDLE_VALUE;
}

// What came of making a temporary.
enum class Made { kYes, kDenied, kFailed };

// Puts `path` into `r->target` and the attributes of what stands there into `*attributes`
// (INVALID_FILE_ATTRIBUTES when nothing does); false when it does not fit, or names a
// directory or a file made read-only, which is not replaced.
bool ReplaceableTarget(const Calls& calls, const char* path, Replacement* r, DWORD* attributes) {
  const std::size_t length = std::strlen(path);
  if (length >= sizeof r->target) return false;
  std::memcpy(r->target, path, length + 1);
  *attributes = calls.Attributes(path);
  return *attributes == INVALID_FILE_ATTRIBUTES ||
         (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

// True when `path` names a device (NUL, CON, a COM port), which has no directory entry to
// replace.
bool IsDevice(const Calls& calls, const char* path) {
  const HANDLE handle =
      calls.Create(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool device = GetFileType(handle) != FILE_TYPE_DISK;
  CloseHandle(handle);
  return device;
}

bool BeginDevice(const Calls& calls, const char* path, Replacement* r) {
  r->into = ReplaceInto::kDevice;
  return Open(calls.Create(path, GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS), &r->file);
}

// A file in a directory this process may not write: the new bytes go to a private file
// first, and over the target only once they are whole (Finish).
bool BeginInPlace(const Calls& calls, const char* path, Replacement* r) {
  const HANDLE target = calls.Create(path, GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (target == INVALID_HANDLE_VALUE) return false;
  const HANDLE temporary = MakePrivateFile();
  if (temporary == INVALID_HANDLE_VALUE) {
    CloseHandle(target);
    return false;
  }
  r->in_place = reinterpret_cast<std::intptr_t>(target);
  r->into = ReplaceInto::kInPlace;
  return Open(temporary, &r->file);
}

// The final path of what `path` leads to, in the calls' code page; false when nothing is
// there, or the code page cannot name it.
bool FinalPathOf(const Calls& calls, const char* path, std::string* final) {
  const HANDLE handle = calls.OpenToAsk(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::wstring wide;
  const bool known = FinalPath(handle, &wide);
  CloseHandle(handle);
  return known && ToCodePage(WithoutPrefix(wide), calls.code_page(), final);
}

// Makes a temporary beside `r->target` with CREATE_NEW, under new names until one is free.
// kDenied: the directory may not be written.
Made MakeTemporary(const Calls& calls, Replacement* r, HANDLE* handle) {
  const std::size_t directory = DirectoryLength(r->target);
  if (directory + kTemporaryNameLength >= sizeof r->temporary) return Made::kFailed;
  std::memcpy(r->temporary, r->target, directory);
  for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
    NameTemporary(r->temporary + directory, attempt);
    *handle = calls.Create(r->temporary, GENERIC_WRITE, 0, CREATE_NEW);
    if (*handle != INVALID_HANDLE_VALUE) return Made::kYes;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // Denied: a directory that took the name first, or a directory this process may not
    // write.
    if (error != ERROR_ACCESS_DENIED) return Made::kFailed;
    if (calls.Attributes(r->temporary) == INVALID_FILE_ATTRIBUTES) return Made::kDenied;
  }
  return Made::kFailed;
}

// Moves the complete temporary over the target. An existing target is replaced with
// ReplaceFile, which gives the new file the old one's attributes and security; the
// attributes are set once more, since Wine's forgets them.
bool MoveIntoPlace(const Calls& calls, const Replacement& r) {
  if (r.attributes != INVALID_FILE_ATTRIBUTES) {
    if (calls.Replace(r.target, r.temporary)) {
      calls.SetAttributes(r.target, r.attributes);
      return true;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  }
  // No file there (any more): the temporary simply takes its name.
  return calls.Move(r.temporary, r.target, true);
}

}  // namespace

// The part beyond the target's end goes first, so that a full disk or a quota stops the copy
// before a byte of the old file changed (and that part is cut off again); then the rest over
// the old bytes, whose room the file has; then the end is set and the file flushed.
Finished CopyOver(HANDLE from, HANDLE target) {
  std::uint64_t size = 0, old_size = 0;
  if (!SizeOfHandle(from, &size) || !SizeOfHandle(target, &old_size)) return Finished::kFailed;
  if (size > old_size && !CopyRange(from, target, old_size, size - old_size)) {
    return SetEnd(target, old_size) ? Finished::kFailed : Finished::kCutShort;
  }
  const bool copied = CopyRange(from, target, 0, size < old_size ? size : old_size) &&
                      SetEnd(target, size) && FlushFileBuffers(target);
  return copied ? Finished::kDone : Finished::kCutShort;
}

// With AtLink::kFollow, an existing file is replaced at its final path, so that a link to it
// stays a link (ReplaceFile through the link would put a file in its place and delete the
// one it led to; Wine does not even show such a link as one). With AtLink::kReplace, what
// stands at the path is replaced by a move, never by ReplaceFile, so that a link is replaced
// itself.
bool Win32FileSystem::BeginReplacing(const char* given, AtLink at_link, Replacement* r) {
  std::string final;
  const char* path = given;
  if (at_link == AtLink::kFollow && calls_.Attributes(given) != INVALID_FILE_ATTRIBUTES &&
      !IsDevice(calls_, given)) {
    if (!FinalPathOf(calls_, given, &final)) return false;
    path = final.c_str();
  }
  DWORD attributes;
  if (!ReplaceableTarget(calls_, path, r, &attributes)) return false;
  r->attributes = at_link == AtLink::kFollow ? attributes : INVALID_FILE_ATTRIBUTES;
  if (IsDevice(calls_, path)) return BeginDevice(calls_, path, r);  // NUL, CON: as they are
  HANDLE handle = INVALID_HANDLE_VALUE;
  const Made made = MakeTemporary(calls_, r, &handle);
  if (made == Made::kYes) {
    r->into = ReplaceInto::kTemporary;
    return Open(handle, &r->file);
  }
  return made == Made::kDenied && attributes != INVALID_FILE_ATTRIBUTES &&
         BeginInPlace(calls_, path, r);
}

Finished Win32FileSystem::FinishReplacing(Replacement* r, Publish publish) {
  const HANDLE handle = Handle(r->file);
  if (r->into == ReplaceInto::kDevice) {
    const bool flushed = GetFileType(handle) != FILE_TYPE_DISK || FlushFileBuffers(handle);
    return CloseHandle(handle) && flushed ? Finished::kDone : Finished::kCutShort;
  }
  if (r->into == ReplaceInto::kInPlace) {
    const HANDLE target = reinterpret_cast<HANDLE>(r->in_place);
    const Finished copied = CopyOver(handle, target);
    const bool closed = CloseHandle(target) != 0;
    CloseHandle(handle);  // the private file goes with it
    r->in_place = -1;
    return copied == Finished::kDone && !closed ? Finished::kCutShort : copied;
  }
  const bool flushed = FlushFileBuffers(handle) != 0;
  CloseHandle(handle);
  Finished finished = Finished::kFailed;
  if (flushed && publish == Publish::kOnlyNew) {
    if (calls_.Move(r->temporary, r->target, false)) {
      finished = Finished::kDone;
    } else if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) {
      finished = Finished::kTaken;
    }
  } else if (flushed && MoveIntoPlace(calls_, *r)) {
    finished = Finished::kDone;
  }
  if (finished != Finished::kDone) calls_.Delete(r->temporary);
  return finished;
}

FileId Win32FileSystem::IdOfNew(const Replacement& r) {
  return IdOfHandle(r.into == ReplaceInto::kInPlace ? reinterpret_cast<HANDLE>(r.in_place)
                                                    : Handle(r.file));
}

void Win32FileSystem::AbandonReplacing(Replacement* r) {
  CloseHandle(Handle(r->file));
  if (r->into == ReplaceInto::kInPlace) CloseHandle(reinterpret_cast<HANDLE>(r->in_place));
  r->in_place = -1;
  if (r->into == ReplaceInto::kTemporary) calls_.Delete(r->temporary);
}

}  // namespace quorva::platform::win32
