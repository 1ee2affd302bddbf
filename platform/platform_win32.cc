// The file system on Windows, through the ANSI entry points of the Win32 API, and through
// the wide ones for UTF-8 paths.
#define _CRT_RAND_S  // rand_s in <stdlib.h>
#include <stdlib.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>

#include "platform/platform.h"

// The C runtime's own parse of the wide command line, which splits it exactly as it split
// the ANSI one into argv.
extern "C" __declspec(dllimport) int __wgetmainargs(int* argc, wchar_t*** argv,
                                                    wchar_t*** environment, int wildcards,
                                                    int* start_info);

namespace quorva::platform {

const char kSeparator = '\\';
const char kNotInName[] = "/\\:";

namespace {

HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file.value); }

bool Open(HANDLE handle, File* file) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  file->value = reinterpret_cast<std::intptr_t>(handle);
  return true;
}

// Names tried for a temporary before giving up: another process takes one only by chance.
constexpr unsigned kNameAttempts = 64;
constexpr int kWideRoom = 1100;  // a path of kReplaceNameRoom bytes, made full

// A path in code page `code_page` as the wide calls take it: beyond MAX_PATH made full and
// given the \\?\ prefix, which lifts the limit. Empty when it does not convert or fit.
class WidePath {
 public:
  WidePath(const char* path, UINT code_page) {
    path_[0] = L'\0';
    wchar_t given[kWideRoom];
    const DWORD flags = code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    if (MultiByteToWideChar(code_page, flags, path, -1, given, kWideRoom) == 0) return;
    if (std::wcslen(given) < MAX_PATH) {
      std::wcscpy(path_, given);
      return;
    }
    wchar_t full[kWideRoom];
    const DWORD n = GetFullPathNameW(given, kWideRoom, full, nullptr);
    if (n == 0 || n >= kWideRoom - 8) return;
    const bool unc = full[0] == L'\\' && full[1] == L'\\';  // \\server\share
    std::wcscpy(path_, unc ? L"\\\\?\\UNC" : L"\\\\?\\");
    std::wcscat(path_, unc ? full + 1 : full);
  }
  const wchar_t* get() const { return path_; }

 private:
  wchar_t path_[kWideRoom + 8];
};

// The Win32 calls that name files by path. The ANSI ones take paths in the process's code
// page, unchanged, as the command and the C functions use them; a path too long for them
// (a temporary beside a target close to MAX_PATH) goes to the wide calls instead.
struct AnsiCalls {
  static constexpr UINT kCodePage = CP_ACP;
  static bool Long(const char* path) { return std::strlen(path) >= MAX_PATH; }
  static HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition) {
    if (Long(path)) {
      return CreateFileW(WidePath(path, kCodePage).get(), access, share, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static DWORD Attributes(const char* path) {
    return Long(path) ? GetFileAttributesW(WidePath(path, kCodePage).get())
                      : GetFileAttributesA(path);
  }
  static bool SetAttributes(const char* path, DWORD attributes) {
    return (Long(path) ? SetFileAttributesW(WidePath(path, kCodePage).get(), attributes)
                       : SetFileAttributesA(path, attributes)) != 0;
  }
  static bool Delete(const char* path) {
    return (Long(path) ? DeleteFileW(WidePath(path, kCodePage).get()) : DeleteFileA(path)) != 0;
  }
  // `replace`: an existing `to` is replaced; else the move fails where one is.
  static bool Move(const char* from, const char* to, bool replace = true) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (Long(from) || Long(to)) {
      return MoveFileExW(WidePath(from, kCodePage).get(), WidePath(to, kCodePage).get(), flags) !=
             0;
    }
    return MoveFileExA(from, to, flags) != 0;
  }
  // `only_new`: fails when `to` exists, as CREATE_NEW does.
  static bool Copy(const char* from, const char* to, bool only_new) {
    if (Long(from) || Long(to)) {
      return CopyFileW(WidePath(from, kCodePage).get(), WidePath(to, kCodePage).get(), only_new) !=
             0;
    }
    return CopyFileA(from, to, only_new) != 0;
  }
  static bool MakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }
  // Opens a file or directory only to ask about it, following links and junctions.
  static HANDLE OpenToAsk(const char* path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  // ReplaceFile given full paths, since Wine's does not accept a bare name.
  static bool Replace(const char* target, const char* replacement) {
    char full_target[MAX_PATH], full_replacement[MAX_PATH];
    const DWORD t = GetFullPathNameA(target, MAX_PATH, full_target, nullptr);
    const DWORD r = GetFullPathNameA(replacement, MAX_PATH, full_replacement, nullptr);
    if (t > 0 && t < MAX_PATH && r > 0 && r < MAX_PATH) {
      return ReplaceFileA(full_target, full_replacement, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                          nullptr, nullptr) != 0;
    }
    return ReplaceFileW(WidePath(target, kCodePage).get(), WidePath(replacement, kCodePage).get(),
                        nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
  }
};

// The wide calls, given UTF-8 paths: what std::filesystem::path opens and stores through.
struct Utf8Calls {
  static constexpr UINT kCodePage = CP_UTF8;
  static HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(WidePath(path, kCodePage).get(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static DWORD Attributes(const char* path) {
    return GetFileAttributesW(WidePath(path, kCodePage).get());
  }
  static bool SetAttributes(const char* path, DWORD attributes) {
    return SetFileAttributesW(WidePath(path, kCodePage).get(), attributes) != 0;
  }
  static bool Delete(const char* path) { return DeleteFileW(WidePath(path, kCodePage).get()) != 0; }
  static bool Move(const char* from, const char* to, bool replace = true) {
    return MoveFileExW(WidePath(from, kCodePage).get(), WidePath(to, kCodePage).get(),
                       MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
  }
  static bool Copy(const char* from, const char* to, bool only_new) {
    return CopyFileW(WidePath(from, kCodePage).get(), WidePath(to, kCodePage).get(), only_new) != 0;
  }
  static bool MakeDirectory(const char* path) {
    return CreateDirectoryW(WidePath(path, kCodePage).get(), nullptr) != 0;
  }
  static HANDLE OpenToAsk(const char* path) {
    return CreateFileW(WidePath(path, kCodePage).get(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  static bool Replace(const char* target, const char* replacement) {
    wchar_t full_target[kWideRoom], full_replacement[kWideRoom];
    const WidePath wide_target(target, kCodePage), wide_replacement(replacement, kCodePage);
    const DWORD t = GetFullPathNameW(wide_target.get(), kWideRoom, full_target, nullptr);
    const DWORD r = GetFullPathNameW(wide_replacement.get(), kWideRoom, full_replacement, nullptr);
    const bool full = t > 0 && t < kWideRoom && r > 0 && r < kWideRoom;
    return ReplaceFileW(full ? full_target : wide_target.get(),
                        full ? full_replacement : wide_replacement.get(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
  }
};

// The ANSI form of `wide` in the process's code page; false when a character had to be
// replaced by a look-alike or a default character.
bool FitsCodePage(const wchar_t* wide) {
  if (GetACP() == CP_UTF8) return true;  // every character has a form there
  BOOL replaced = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &replaced);
  return n > 0 && !replaced;
}

// The length of the directory part of `path`: up to its last separator, or the ':' of a
// drive.
std::size_t DirectoryLength(const char* path) {
  std::size_t length = std::strlen(path);
  while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/' &&
         path[length - 1] != ':') {
    --length;
  }
  return length;
}

// `path` without its last part: its directory, or "." when it names none.
std::string DirectoryPart(const char* path) {
  std::size_t length = DirectoryLength(path);
  if (length == 0) return ".";
  if (length > 1 && (path[length - 1] == '\\' || path[length - 1] == '/') &&
      path[length - 2] != ':')
    --length;
  return std::string(path, length);
}

// The final path of an open file: links and junctions resolved, as the system has it.
bool FinalPath(HANDLE handle, std::wstring* final) {
  wchar_t buffer[kWideRoom];
  const DWORD n = GetFinalPathNameByHandleW(handle, buffer, kWideRoom, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= kWideRoom) return false;
  final->assign(buffer, n);
  return true;
}

// True when `path` is `root` or lies beneath it; paths compare without regard to case, as
// Windows names do.
bool IsBeneath(const std::wstring& path, const std::wstring& root) {
  if (root.empty() || path.size() < root.size() ||
      CompareStringOrdinal(path.c_str(), static_cast<int>(root.size()), root.c_str(),
                           static_cast<int>(root.size()), TRUE) != CSTR_EQUAL) {
    return false;
  }
  return path.size() == root.size() || root.back() == L'\\' || path[root.size()] == L'\\';
}

// What came of making a temporary.
enum class Made { kYes, kDenied, kFailed };

FileId IdOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information;
  FileId id;
  if (!GetFileInformationByHandle(handle, &information)) return id;
  id.device = information.dwVolumeSerialNumber;
  id.index = std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  id.known = true;
  return id;
}

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

// Copies the whole of the file `from` over the file `target` in place. The part beyond the
// target's end goes first, so that a full disk or a quota stops the copy before a byte of
// the old file changed (and that part is cut off again); then the rest over the old bytes,
// whose room the file has; then the end is set and the file flushed.
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

// A final path without the \\?\ prefix that GetFinalPathNameByHandle gives it: a drive
// path as X:\..., a network one as \\server\share\....
std::wstring WithoutPrefix(const std::wstring& final) {
  if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + final.substr(7);
  if (final.compare(0, 4, L"\\\\?\\") == 0) return final.substr(4);
  return final;
}

// `wide` in `code_page`, exactly: false when a character has no form there.
bool ToCodePage(const std::wstring& wide, UINT code_page, std::string* text) {
  BOOL replaced = FALSE;
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int n = WideCharToMultiByte(code_page, flags, wide.c_str(), -1, nullptr, 0, nullptr,
                                    utf8 ? nullptr : &replaced);
  if (n <= 0 || replaced) return false;
  text->assign(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, flags, wide.c_str(), -1, &(*text)[0], n, nullptr,
                      utf8 ? nullptr : &replaced);
  text->resize(static_cast<std::size_t>(n - 1));
  return !replaced;
}

// A byte of a file far beyond the end of any file, which the edit lock locks: locking it
// hinders no read or write of the file's bytes.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

bool LockByte(HANDLE handle, DWORD flags) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(handle, flags, 0, 1, 0, &at) != 0;
}

void UnlockByte(HANDLE handle) {
  OVERLAPPED at = {};
  at.Offset = kLockOffsetLow;
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(handle, 0, 1, 0, &at);
}

// Seconds since 1970 of a file time (100 ns since 1601).
std::int64_t UnixSeconds(const FILETIME& time) {
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;
}

template <typename Calls>
class Win32FileSystem final : public FileSystem {
 public:
  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    if (Outside(path)) return Opened::kFailed;
    HANDLE handle = Calls::Create(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
      switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
          return Opened::kMissing;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
          return Opened::kInUse;
        case ERROR_ACCESS_DENIED: {  // also what opening a directory gives
          const DWORD attributes = Calls::Attributes(path);
          return attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                     ? Opened::kDirectory
                     : Opened::kDenied;
        }
        default:
          return Opened::kFailed;
      }
    }
    if (accept == Accept::kRegularFile &&
        GetFileType(handle) != FILE_TYPE_DISK) {  // a pipe or a device
      CloseHandle(handle);
      return Opened::kNotRegular;
    }
    Open(handle, file);
    return Opened::kYes;
  }

  bool SizeOf(File file, std::uint64_t* size) override {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(Handle(file), &n)) return false;
    *size = static_cast<std::uint64_t>(n.QuadPart);
    return true;
  }

  bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) override {
    DWORD n = 0;
    if (!ReadFile(Handle(file), buffer, size, &n, nullptr)) return false;
    *got = n;
    return true;
  }

  bool Write(File file, const void* data, std::uint32_t size, std::uint32_t* written) override {
    DWORD n = 0;
    if (!WriteFile(Handle(file), data, size, &n, nullptr)) return false;
    *written = n;
    return true;
  }

  bool Close(File file) override { return CloseHandle(Handle(file)) != 0; }

  bool Rewind(File file) override {
    LARGE_INTEGER start = {};
    return SetFilePointerEx(Handle(file), start, nullptr, FILE_BEGIN) != 0;
  }

  FileId IdOf(File file) override { return IdOfHandle(Handle(file)); }

  // The final path of what the path leads to, or for a file not there yet of its directory
  // and the name given; the name upper-cased, as Windows compares names.
  bool PlaceOf(const char* path, Place* place) override {
    *place = Place();
    std::wstring directory, name;
    const HANDLE handle = Calls::OpenToAsk(path);
    if (handle != INVALID_HANDLE_VALUE) {
      std::wstring final;
      const bool known = FinalPath(handle, &final);
      place->file = IdOfHandle(handle);
      CloseHandle(handle);
      const std::size_t separator = final.rfind(L'\\');
      if (!known || separator == std::wstring::npos) return false;
      directory = final.substr(0, separator + 1);
      name = final.substr(separator + 1);
    } else {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND) return false;
      const std::string parent = DirectoryPart(path);
      if (!ToWide(parent.c_str(), &directory) || !ToWide(path + DirectoryLength(path), &name)) {
        return false;
      }
    }
    const HANDLE parent =
        CreateFileW(directory.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (parent == INVALID_HANDLE_VALUE) return false;
    place->directory = IdOfHandle(parent);
    CloseHandle(parent);
    if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    std::string utf8;
    if (!ToCodePage(name, CP_UTF8, &utf8) || utf8.size() >= sizeof place->name) return false;
    std::memcpy(place->name, utf8.c_str(), utf8.size() + 1);
    return place->directory.known;
  }

  // The handle shares reading, writing and deleting with everyone, so the lock hinders no
  // reader, and the store that holds it may replace the file.
  Locked LockForEditing(const char* path, std::uint32_t wait_milliseconds, File* file) override {
    const ULONGLONG deadline = GetTickCount64() + wait_milliseconds;
    for (;;) {
      const HANDLE handle =
          Calls::Create(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        OPEN_EXISTING);
      if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Locked::kMissing;
        const DWORD attributes = Calls::Attributes(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
          return Locked::kNotRegular;
        // A file in the middle of being replaced (deleted, but still open) is denied for a
        // moment, and one another program holds without sharing is refused while it does.
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
            GetTickCount64() >= deadline) {
          return error == ERROR_SHARING_VIOLATION ? Locked::kBusy : Locked::kFailed;
        }
        Sleep(1);
        continue;
      }
      if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return Locked::kNotRegular;
      }
      bool locked = false;
      while (!(locked = LockByte(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) &&
             GetLastError() == ERROR_LOCK_VIOLATION) {
        if (GetTickCount64() >= deadline) {
          CloseHandle(handle);
          return Locked::kBusy;
        }
        Sleep(1);
      }
      // A store that held the lock may have moved a new file over the name meanwhile.
      const HANDLE now = Calls::OpenToAsk(path);
      const bool same = now == INVALID_HANDLE_VALUE || IdOfHandle(now) == IdOfHandle(handle);
      if (now != INVALID_HANDLE_VALUE) CloseHandle(now);
      if (same) {
        Open(handle, file);
        return Locked::kYes;
      }
      if (locked) UnlockByte(handle);
      CloseHandle(handle);
      if (GetTickCount64() >= deadline) return Locked::kBusy;
    }
  }

  // Unlocked before it is closed: a lock that goes with its handle is released at the
  // system's leisure.
  void Unlock(File file) override {
    UnlockByte(Handle(file));
    CloseHandle(Handle(file));
  }

  // With AtLink::kFollow, an existing file is replaced at its final path, so that a link to
  // it stays a link (ReplaceFile through the link would put a file in its place and delete
  // the one it led to; Wine does not even show such a link as one). With AtLink::kReplace,
  // what stands at the path is replaced by a move, never by ReplaceFile, so that a link is
  // replaced itself.
  bool BeginReplacing(const char* given, AtLink at_link, Replacement* r) override {
    std::string final;
    const char* path = given;
    if (at_link == AtLink::kFollow && Calls::Attributes(given) != INVALID_FILE_ATTRIBUTES &&
        !IsDevice(given)) {
      if (!FinalPathOf(given, &final)) return false;
      path = final.c_str();
    }
    DWORD attributes;
    if (Outside(DirectoryPart(path).c_str()) || !ReplaceableTarget(path, r, &attributes))
      return false;
    r->attributes = at_link == AtLink::kFollow ? attributes : INVALID_FILE_ATTRIBUTES;
    if (IsDevice(path)) return BeginDevice(path, r);  // NUL, CON: written as they are
    HANDLE handle = INVALID_HANDLE_VALUE;
    const Made made = MakeTemporary(r, [&](const char* temporary) {
      handle = Calls::Create(temporary, GENERIC_WRITE, 0, CREATE_NEW);
      return handle != INVALID_HANDLE_VALUE;
    });
    if (made == Made::kYes) {
      r->into = ReplaceInto::kTemporary;
      return Open(handle, &r->file);
    }
    return made == Made::kDenied && attributes != INVALID_FILE_ATTRIBUTES && BeginInPlace(path, r);
  }

  Finished FinishReplacing(Replacement* r, Publish publish) override {
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
      if (Calls::Move(r->temporary, r->target, false)) {
        finished = Finished::kDone;
      } else if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) {
        finished = Finished::kTaken;
      }
    } else if (flushed && MoveIntoPlace(*r)) {
      finished = Finished::kDone;
    }
    if (finished != Finished::kDone) Calls::Delete(r->temporary);
    return finished;
  }

  FileId IdOfNew(const Replacement& r) override {
    return IdOfHandle(r.into == ReplaceInto::kInPlace ? reinterpret_cast<HANDLE>(r.in_place)
                                                      : Handle(r.file));
  }

  void AbandonReplacing(Replacement* r) override {
    CloseHandle(Handle(r->file));
    if (r->into == ReplaceInto::kInPlace) CloseHandle(reinterpret_cast<HANDLE>(r->in_place));
    r->in_place = -1;
    if (r->into == ReplaceInto::kTemporary) Calls::Delete(r->temporary);
  }

  void RemoveLeftovers(const char* directory, std::int64_t not_after) override {
    char pattern[kReplaceNameRoom];
    const int n = std::snprintf(pattern, sizeof pattern, "%s\\%s*%s", directory, kTemporaryPrefix,
                                kTemporarySuffix);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof pattern) return;
    WIN32_FIND_DATAW found;
    const HANDLE listing = FindFirstFileW(WidePath(pattern, Calls::kCodePage).get(), &found);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
      char name[kTemporaryNameLength + 2] = {};
      const bool ascii = WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, name, sizeof name,
                                             nullptr, nullptr) > 0;
      char path[kReplaceNameRoom];
      if (ascii && IsTemporaryName(name) &&
          (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          UnixSeconds(found.ftLastWriteTime) <= not_after &&
          std::snprintf(path, sizeof path, "%s\\%s", directory, name) <
              static_cast<int>(sizeof path)) {
        Calls::Delete(path);
      }
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
  }

  std::int64_t Now() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixSeconds(now);
  }

  bool MakeDirectory(const char* path) override {
    return !Outside(DirectoryPart(path).c_str()) && Calls::MakeDirectory(path);
  }

  bool Exists(const char* path) override {
    return Calls::Attributes(path) != INVALID_FILE_ATTRIBUTES;
  }

  // CopyFile into a new temporary, which then moves over the target; where the target's
  // directory may not be written, CopyFile straight onto the target.
  bool CopyReplacing(const char* from, const char* to) override {
    const DWORD source = Calls::Attributes(from);
    Replacement r;
    DWORD attributes;
    if (source == INVALID_FILE_ATTRIBUTES || (source & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        Outside(from) || Outside(DirectoryPart(to).c_str()) ||
        !ReplaceableTarget(to, &r, &attributes)) {
      return false;
    }
    r.attributes = INVALID_FILE_ATTRIBUTES;  // a copy is a new file: nothing of the old is kept
    const Made made = MakeTemporary(&r, [&](const char* temporary) {
      if (Calls::Copy(from, temporary, true)) return true;
      // A copy cut short (a full disk) may leave what it made; a name that was taken is
      // not this copy's to remove.
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
          Calls::Attributes(temporary) != INVALID_FILE_ATTRIBUTES &&
          (Calls::Attributes(temporary) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Calls::Delete(temporary);
      }
      SetLastError(error);
      return false;
    });
    if (made == Made::kYes) {
      const bool ok =
          ClearReadOnly(r.temporary) && FlushClosedFile(r.temporary) && MoveIntoPlace(r);
      if (!ok) Calls::Delete(r.temporary);
      return ok;
    }
    return made == Made::kDenied && Calls::Copy(from, to, false) && ClearReadOnly(to);
  }

  // Asks with a growing buffer, so a path of any length comes back whole; the caller decides
  // whether it is too long to use.
  bool OwnProgramPath(std::string* path) override {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
      DWORD n = GetModuleFileNameA(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
      if (n == 0) return false;
      if (n < buffer.size()) {
        buffer.resize(n);
        *path = buffer;
        return true;
      }
      buffer.resize(buffer.size() * 2);
    }
  }

  bool ArgumentIsExact(int index) override {
    int count = 0, start_info = 0;
    wchar_t** arguments = nullptr;
    wchar_t** environment = nullptr;
    if (__wgetmainargs(&count, &arguments, &environment, 0, &start_info) < 0 || index < 0 ||
        index >= count) {
      return true;  // nothing to compare with: the ANSI argument is all there is
    }
    return FitsCodePage(arguments[index]);
  }

  bool ConfineTo(const char* root) override {
    confined_ = true;
    root_.clear();
    const HANDLE handle = Calls::OpenToAsk(root);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = FinalPath(handle, &root_);
    CloseHandle(handle);
    if (!known) root_.clear();
    return known;
  }

  // The final path of `path`, or of the nearest directory above it that exists.
  Location Locate(const char* path) override {
    if (!confined_) return Location::kBeneath;
    std::string at = path;
    for (int up = 0; up < 256; ++up) {
      const HANDLE handle = Calls::OpenToAsk(at.c_str());
      if (handle != INVALID_HANDLE_VALUE) {
        std::wstring final;
        const bool known = FinalPath(handle, &final);
        CloseHandle(handle);
        return known && IsBeneath(final, root_) ? Location::kBeneath : Location::kOutside;
      }
      const DWORD error = GetLastError();
      const std::string parent = DirectoryPart(at.c_str());
      if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || parent == at) break;
      at = parent;
    }
    return Location::kOutside;
  }

  bool OwnProgramPathIsExact() override {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
      DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
      if (n == 0) return true;  // the ANSI path is all there is
      if (n < buffer.size()) return FitsCodePage(buffer.c_str());
      buffer.resize(buffer.size() * 2);
    }
  }

 private:
  // True when this file system is confined and `path` leads outside its root. The look
  // and the use that follows are two steps here: unlike the POSIX one, this backend does
  // not hold the directory it looked at.
  bool Outside(const char* path) { return confined_ && Locate(path) != Location::kBeneath; }

  bool confined_ = false;
  std::wstring root_;  // the final path of the root; empty: nothing is beneath it

  // Puts `path` into `r->target` and the attributes of what stands there into `*attributes`
  // (INVALID_FILE_ATTRIBUTES when nothing does); false when it does not fit, or names a
  // directory or a file made read-only, which is not replaced.
  static bool ReplaceableTarget(const char* path, Replacement* r, DWORD* attributes) {
    const std::size_t length = std::strlen(path);
    if (length >= sizeof r->target) return false;
    std::memcpy(r->target, path, length + 1);
    *attributes = Calls::Attributes(path);
    return *attributes == INVALID_FILE_ATTRIBUTES ||
           (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  }

  // True when `path` names a device (NUL, CON, a COM port), which has no directory entry to
  // replace.
  static bool IsDevice(const char* path) {
    const HANDLE handle = Calls::Create(
        path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool device = GetFileType(handle) != FILE_TYPE_DISK;
    CloseHandle(handle);
    return device;
  }

  static bool BeginDevice(const char* path, Replacement* r) {
    r->into = ReplaceInto::kDevice;
    return Open(Calls::Create(path, GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS), &r->file);
  }

  // A file in a directory this process may not write: the new bytes go to a private file
  // first, and over the target only once they are whole (FinishReplacing).
  static bool BeginInPlace(const char* path, Replacement* r) {
    const HANDLE target = Calls::Create(path, GENERIC_READ | GENERIC_WRITE,
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
  static bool FinalPathOf(const char* path, std::string* final) {
    const HANDLE handle = Calls::OpenToAsk(path);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::wstring wide;
    const bool known = FinalPath(handle, &wide);
    CloseHandle(handle);
    return known && ToCodePage(WithoutPrefix(wide), Calls::kCodePage, final);
  }

  static bool ToWide(const char* text, std::wstring* wide) {
    const DWORD flags = Calls::kCodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(Calls::kCodePage, flags, text, -1, nullptr, 0);
    if (n <= 0) return false;
    wide->assign(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(Calls::kCodePage, flags, text, -1, &(*wide)[0], n);
    wide->resize(static_cast<std::size_t>(n - 1));
    return true;
  }

  // Makes a temporary beside `r->target` with `make`, which must fail when its name is taken,
  // under new names until one is free. kDenied: the directory may not be written.
  template <typename Make>
  static Made MakeTemporary(Replacement* r, Make make) {
    const std::size_t directory = DirectoryLength(r->target);
    if (directory + kTemporaryNameLength >= sizeof r->temporary) return Made::kFailed;
    std::memcpy(r->temporary, r->target, directory);
    for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
      NameTemporary(r->temporary + directory, attempt);
      if (make(r->temporary)) return Made::kYes;
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      // Denied: a directory that took the name first, or a directory this process may not
      // write.
      if (error != ERROR_ACCESS_DENIED) return Made::kFailed;
      if (Calls::Attributes(r->temporary) == INVALID_FILE_ATTRIBUTES) return Made::kDenied;
    }
    return Made::kFailed;
  }

  // Moves the complete temporary over the target. An existing target is replaced with
  // ReplaceFile, which gives the new file the old one's attributes and security; the
  // attributes are set once more, since Wine's forgets them.
  static bool MoveIntoPlace(const Replacement& r) {
    if (r.attributes != INVALID_FILE_ATTRIBUTES) {
      if (Calls::Replace(r.target, r.temporary)) {
        Calls::SetAttributes(r.target, r.attributes);
        return true;
      }
      if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    }
    // No file there (any more): the temporary simply takes its name.
    return Calls::Move(r.temporary, r.target);
  }

  // Flushes a file that is already closed, such as a copy CopyFile made.
  static bool FlushClosedFile(const char* path) {
    HANDLE handle = Calls::Create(path, GENERIC_WRITE, 0, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return ok;
  }

  // A copy takes over the source's read-only attribute; the copies are the command's own and
  // must stay replaceable by the next run.
  static bool ClearReadOnly(const char* path) {
    const DWORD attributes = Calls::Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           ((attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
            Calls::SetAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY));
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem<AnsiCalls> file_system;
  return file_system;
}

FileSystem& Utf8FileSystem() {
  static Win32FileSystem<Utf8Calls> file_system;
  return file_system;
}

std::unique_ptr<FileSystem> NewFileSystem() {
  return std::make_unique<Win32FileSystem<AnsiCalls>>();
}

// Windows has no unnamed files: every temporary has a name.
FileSystem& FileSystemWithNamedTemporariesForTesting() { return RealFileSystem(); }

// From the C runtime's rand_s, which asks the system's random source; where it fails, the
// clock, the process and the attempt still make names that differ, and CREATE_NEW keeps a
// taken one from being used.
void NameTemporary(char* name, unsigned attempt) {
  unsigned int high = 0, low = 0;
  std::uint64_t bits = 0;
  if (rand_s(&high) == 0 && rand_s(&low) == 0) {
    bits = std::uint64_t{high} << 32 | low;
  } else {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    bits = (static_cast<std::uint64_t>(now.QuadPart) ^ std::uint64_t{GetCurrentProcessId()} << 40) +
           attempt * 0x9E3779B97F4A7C15ull;
  }
  FormatTemporaryName(name, bits);
}

bool NativeToUtf8(const std::filesystem::path::value_type* native, std::string* utf8) {
  const int n =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, native, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8->assign(static_cast<std::size_t>(n - 1), '\0');
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, native, -1, &(*utf8)[0], n, nullptr,
                             nullptr) == n;
}

// Committed pages are zero and backed only once touched; no privilege is needed, unlike
// large pages.
void* AllocateLarge(std::size_t size) {
  size = LargeBlockSize(size);
  if (size == 0) return nullptr;
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseLarge(void* block, std::size_t) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace quorva::platform
