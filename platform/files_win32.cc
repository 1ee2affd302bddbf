// The file system on Windows, as the library uses it: open, read, write and close, which file
// a path names and where, and the edit lock; through the ANSI entry points of the Win32
// API, and through the wide ones for UTF-8 paths.
#define _CRT_RAND_S  // rand_s in <stdlib.h>
#include <stdlib.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>

#include "platform/shared_win32.h"

namespace quorva::platform {

const char kSeparator = '\\';

namespace win32 {

WidePath::WidePath(const char* path, UINT code_page) {
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

bool Calls::Ansi(const char* path) const {
  return code_page_ == CP_ACP && std::strlen(path) < MAX_PATH;
}

HANDLE Calls::Create(const char* path, DWORD access, DWORD share, DWORD disposition) const {
  if (Ansi(path)) {
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  return CreateFileW(WidePath(path, code_page_).get(), access, share, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD Calls::Attributes(const char* path) const {
  return Ansi(path) ? GetFileAttributesA(path)
                    : GetFileAttributesW(WidePath(path, code_page_).get());
}

bool Calls::SetAttributes(const char* path, DWORD attributes) const {
  return (Ansi(path) ? SetFileAttributesA(path, attributes)
                     : SetFileAttributesW(WidePath(path, code_page_).get(), attributes)) != 0;
}

bool Calls::Delete(const char* path) const {
  return (Ansi(path) ? DeleteFileA(path) : DeleteFileW(WidePath(path, code_page_).get())) != 0;
}

bool Calls::Move(const char* from, const char* to, bool replace) const {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (Ansi(from) && Ansi(to)) return MoveFileExA(from, to, flags) != 0;
  return MoveFileExW(WidePath(from, code_page_).get(), WidePath(to, code_page_).get(), flags) != 0;
}

HANDLE Calls::OpenToAsk(const char* path) const {
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (Ansi(path)) {
    return CreateFileA(path, 0, kShare, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
  }
  return CreateFileW(WidePath(path, code_page_).get(), 0, kShare, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool Calls::Replace(const char* target, const char* replacement) const {
  wchar_t full_target[kWideRoom], full_replacement[kWideRoom];
  const WidePath wide_target(target, code_page_), wide_replacement(replacement, code_page_);
  const DWORD t = GetFullPathNameW(wide_target.get(), kWideRoom, full_target, nullptr);
  const DWORD r = GetFullPathNameW(wide_replacement.get(), kWideRoom, full_replacement, nullptr);
  const bool full = t > 0 && t < kWideRoom && r > 0 && r < kWideRoom;
  return ReplaceFileW(full ? full_target : wide_target.get(),
                      full ? full_replacement : wide_replacement.get(), nullptr,
                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
}

bool Calls::ToWide(const char* text, std::wstring* wide) const {
  const DWORD flags = code_page_ == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  const int n = MultiByteToWideChar(code_page_, flags, text, -1, nullptr, 0);
  if (n <= 0) return false;
  wide->assign(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page_, flags, text, -1, &(*wide)[0], n);
  wide->resize(static_cast<std::size_t>(n - 1));
  return true;
}

bool FitsCodePage(const wchar_t* wide) {
  if (GetACP() == CP_UTF8) return true;  // every character has a form there
  BOOL replaced = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &replaced);
  return n > 0 && !replaced;
}

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

std::size_t DirectoryLength(const char* path) {
  std::size_t length = std::strlen(path);
  while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/' &&
         path[length - 1] != ':') {
    --length;
  }
  return length;
}

std::string DirectoryPart(const char* path) {
  std::size_t length = DirectoryLength(path);
  if (length == 0) return ".";
  if (length > 1 && (path[length - 1] == '\\' || path[length - 1] == '/') &&
      path[length - 2] != ':')
    --length;
  return std::string(path, length);
}

bool FinalPath(HANDLE handle, std::wstring* final) {
  wchar_t buffer[kWideRoom];
  const DWORD n = GetFinalPathNameByHandleW(handle, buffer, kWideRoom, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= kWideRoom) return false;
  final->assign(buffer, n);
  return true;
}

std::wstring WithoutPrefix(const std::wstring& final) {
  if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + final.substr(7);
  if (final.compare(0, 4, L"\\\\?\\") == 0) return final.substr(4);
  return final;
}

FileId IdOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information;
  FileId id;
  if (!GetFileInformationByHandle(handle, &information)) return id;
  id.device = information.dwVolumeSerialNumber;
  id.index = std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  id.known = true;
  return id;
}

std::int64_t UnixSeconds(const FILETIME& time) {
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000) - 11644473600;
}

namespace {

// A byte of a file far beyond the end of any file, which the edit lock locks: locking it
// hinders no read or write of the file's bytes.
OVERLAPPED LockByte() {
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFE;
  at.OffsetHigh = 0x7FFFFFFF;
  return at;
}

}  // namespace

Opened Win32FileSystem::OpenForReading(const char* path, Accept accept, File* file) {
  HANDLE handle = calls_.Create(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
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
        const DWORD attributes = calls_.Attributes(path);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                   ? Opened::kDirectory
                   : Opened::kDenied;
      }
      default:
        return Opened::kFailed;
    }
  }
  if (accept == Accept::kRegularFile &&
      GetFileType(handle) != FILE_TYPE_DISK) {  // a pipe, a device
    CloseHandle(handle);
    return Opened::kNotRegular;
  }
  Open(handle, file);
  return Opened::kYes;
}

bool Win32FileSystem::SizeOf(File file, std::uint64_t* size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(Handle(file), &n)) return false;
  *size = static_cast<std::uint64_t>(n.QuadPart);
  return true;
}

bool Win32FileSystem::Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) {
  DWORD n = 0;
  if (!ReadFile(Handle(file), buffer, size, &n, nullptr)) return false;
  *got = n;
  return true;
}

bool Win32FileSystem::Write(File file, const void* data, std::uint32_t size,
                            std::uint32_t* written) {
  DWORD n = 0;
  if (!WriteFile(Handle(file), data, size, &n, nullptr)) return false;
  *written = n;
  return true;
}

bool Win32FileSystem::Close(File file) { return CloseHandle(Handle(file)) != 0; }

bool Win32FileSystem::Rewind(File file) {
  LARGE_INTEGER start = {};
  return SetFilePointerEx(Handle(file), start, nullptr, FILE_BEGIN) != 0;
}

FileId Win32FileSystem::IdOf(File file) { return IdOfHandle(Handle(file)); }

// The final path of what the path leads to, or for a file not there yet of its directory
// and the name given; the name upper-cased, as Windows compares names.
bool Win32FileSystem::PlaceOf(const char* path, Place* place) {
  *place = Place();
  std::wstring directory, name;
  const HANDLE handle = calls_.OpenToAsk(path);
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
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    const std::string parent = DirectoryPart(path);
    if (!calls_.ToWide(parent.c_str(), &directory) ||
        !calls_.ToWide(path + DirectoryLength(path), &name)) {
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
Locked Win32FileSystem::LockForEditing(const char* path, std::uint32_t wait_milliseconds,
                                       File* file) {
  const ULONGLONG deadline = GetTickCount64() + wait_milliseconds;
  for (;;) {
    const HANDLE handle = calls_.Create(
        path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Locked::kMissing;
      const DWORD attributes = calls_.Attributes(path);
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
    OVERLAPPED at = LockByte();
    bool locked = false;
    while (!(locked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                                 0, &at) != 0) &&
           GetLastError() == ERROR_LOCK_VIOLATION) {
      if (GetTickCount64() >= deadline) {
        CloseHandle(handle);
        return Locked::kBusy;
      }
      Sleep(1);
      at = LockByte();
    }
    // A store that held the lock may have moved a new file over the name meanwhile.
    const HANDLE now = calls_.OpenToAsk(path);
    const bool same = now == INVALID_HANDLE_VALUE || IdOfHandle(now) == IdOfHandle(handle);
    if (now != INVALID_HANDLE_VALUE) CloseHandle(now);
    if (same) {
      Open(handle, file);
      return Locked::kYes;
    }
    at = LockByte();
    if (locked) UnlockFileEx(handle, 0, 1, 0, &at);
    CloseHandle(handle);
    if (GetTickCount64() >= deadline) return Locked::kBusy;
  }
}

// Unlocked before it is closed: a lock that goes with its handle is released at the
// system's leisure.
void Win32FileSystem::Unlock(File file) {
  OVERLAPPED at = LockByte();
  UnlockFileEx(Handle(file), 0, 1, 0, &at);
  CloseHandle(Handle(file));
}

Failure Win32FileSystem::LastFailure() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Failure::kNoSuchFile;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return Failure::kDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Failure::kNoSpace;
    case 1295:  // ERROR_DISK_QUOTA_EXCEEDED, which mingw's headers lack
      return Failure::kQuota;
    case ERROR_WRITE_PROTECT:
      return Failure::kReadOnly;
    case ERROR_DIRECTORY:
      return Failure::kIsDirectory;
    case ERROR_FILE_TOO_LARGE:
      return Failure::kTooBig;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
      return Failure::kIo;
    case ERROR_FILENAME_EXCED_RANGE:
      return Failure::kNameTooLong;
    default:
      return Failure::kOther;
  }
}

}  // namespace win32

FileSystem& RealFileSystem() {
  static win32::Win32FileSystem file_system(CP_ACP);
  return file_system;
}

FileSystem& Utf8FileSystem() {
  static win32::Win32FileSystem file_system(CP_UTF8);
  return file_system;
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
