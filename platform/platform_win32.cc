// The file system on Windows, through the ANSI entry points of the Win32 API, and through
// the wide ones for UTF-8 paths.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The Win32 calls that name files by path. The ANSI ones take paths in the process's code
// page, unchanged, as the command and the C functions use them.
struct AnsiCalls {
  static HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static DWORD Attributes(const char* path) { return GetFileAttributesA(path); }
  static bool SetAttributes(const char* path, DWORD attributes) {
    return SetFileAttributesA(path, attributes) != 0;
  }
  static bool Delete(const char* path) { return DeleteFileA(path) != 0; }
  static bool Move(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  static bool Copy(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != 0; }
  static bool MakeDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != 0; }
  // ReplaceFileA given full paths, since Wine's does not accept a bare name.
  static bool Replace(const char* target, const char* replacement) {
    char full_target[MAX_PATH], full_replacement[MAX_PATH];
    const DWORD t = GetFullPathNameA(target, MAX_PATH, full_target, nullptr);
    const DWORD r = GetFullPathNameA(replacement, MAX_PATH, full_replacement, nullptr);
    const bool full = t > 0 && t < MAX_PATH && r > 0 && r < MAX_PATH;
    return ReplaceFileA(full ? full_target : target, full ? full_replacement : replacement,
                        nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
  }
};

// A UTF-8 path as UTF-16 for the wide calls, which take any path; empty when it does not
// convert or is longer than a path may be.
class WidePath {
 public:
  explicit WidePath(const char* utf8) {
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, path_, kRoom) == 0) path_[0] = L'\0';
  }
  const wchar_t* get() const { return path_; }

 private:
  static constexpr int kRoom = 1024;
  wchar_t path_[kRoom];
};

// The wide calls, given UTF-8 paths: what std::filesystem::path opens and stores through.
struct Utf8Calls {
  static HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileW(WidePath(path).get(), access, share, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static DWORD Attributes(const char* path) { return GetFileAttributesW(WidePath(path).get()); }
  static bool SetAttributes(const char* path, DWORD attributes) {
    return SetFileAttributesW(WidePath(path).get(), attributes) != 0;
  }
  static bool Delete(const char* path) { return DeleteFileW(WidePath(path).get()) != 0; }
  static bool Move(const char* from, const char* to) {
    return MoveFileExW(WidePath(from).get(), WidePath(to).get(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  static bool Copy(const char* from, const char* to) {
    return CopyFileW(WidePath(from).get(), WidePath(to).get(), FALSE) != 0;
  }
  static bool MakeDirectory(const char* path) {
    return CreateDirectoryW(WidePath(path).get(), nullptr) != 0;
  }
  static bool Replace(const char* target, const char* replacement) {
    wchar_t full_target[MAX_PATH], full_replacement[MAX_PATH];
    const WidePath wide_target(target), wide_replacement(replacement);
    const DWORD t = GetFullPathNameW(wide_target.get(), MAX_PATH, full_target, nullptr);
    const DWORD r = GetFullPathNameW(wide_replacement.get(), MAX_PATH, full_replacement, nullptr);
    const bool full = t > 0 && t < MAX_PATH && r > 0 && r < MAX_PATH;
    return ReplaceFileW(full ? full_target : wide_target.get(),
                        full ? full_replacement : wide_replacement.get(), nullptr,
                        REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
  }
};

// Where the new bytes of a replacement go.
enum How : int { kInPlace, kTemporary };

// After a temporary could not be made: true when the target itself may still be written
// in place (a directory this process may not write, a path too long for a temporary).
bool InPlaceAfter(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE;
}

// The ANSI form of `wide` in the process's code page; false when a character had to be
// replaced by a look-alike or a default character.
bool FitsCodePage(const wchar_t* wide) {
  if (GetACP() == CP_UTF8) return true;  // every character has a form there
  BOOL replaced = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0,
                                    nullptr, &replaced);
  return n > 0 && !replaced;
}

template <typename Calls>
class Win32FileSystem final : public FileSystem {
 public:
  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    HANDLE handle = Calls::Create(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) {
      switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME:
          return Opened::kMissing;
        case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: return Opened::kInUse;
        case ERROR_ACCESS_DENIED: {  // also what opening a directory gives
          const DWORD attributes = Calls::Attributes(path);
          return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                     ? Opened::kDirectory
                     : Opened::kDenied;
        }
        default: return Opened::kFailed;
      }
    }
    if (accept == Accept::kRegularFile && GetFileType(handle) != FILE_TYPE_DISK) {  // a pipe or a device
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

  bool Write(File file, const void* data, std::uint32_t size,
             std::uint32_t* written) override {
    DWORD n = 0;
    if (!WriteFile(Handle(file), data, size, &n, nullptr)) return false;
    *written = n;
    return true;
  }

  bool Close(File file) override { return CloseHandle(Handle(file)) != 0; }

  // Links on Windows need a privilege to make and are followed by the calls below.
  bool BeginReplacing(const char* path, AtLink, Replacement* r) override {
    DWORD attributes;
    if (!ReplaceableTarget(path, &attributes)) return false;
    r->attributes = attributes;
    if (NameTemporary(path, r)) {
      // No sharing: a second replacement of the same file at the same time fails here.
      HANDLE handle = Calls::Create(r->temporary, GENERIC_WRITE, 0, CREATE_ALWAYS);
      if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK) {
        r->how = kTemporary;
        return Open(handle, &r->file);
      }
      // A device name (NUL, CON) is a device with any ending: it is written in place.
      const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_ACCESS_DENIED;
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      if (!InPlaceAfter(error)) return false;
    }
    r->how = kInPlace;
    return Open(Calls::Create(path, GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS), &r->file);
  }

  bool FinishReplacing(Replacement* r) override {
    const HANDLE handle = Handle(r->file);
    bool ok = GetFileType(handle) != FILE_TYPE_DISK || FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    if (r->how == kInPlace) return ok;
    ok = ok && MoveIntoPlace(*r);
    if (!ok) Calls::Delete(r->temporary);
    return ok;
  }

  void AbandonReplacing(Replacement* r) override {
    CloseHandle(Handle(r->file));
    if (r->how == kTemporary) Calls::Delete(r->temporary);
  }

  bool MakeDirectory(const char* path) override { return Calls::MakeDirectory(path); }

  bool Exists(const char* path) override {
    return Calls::Attributes(path) != INVALID_FILE_ATTRIBUTES;
  }

  // CopyFile into the temporary, which then moves over the target; where no temporary can
  // be made, CopyFile straight onto the target as before.
  bool CopyReplacing(const char* from, const char* to) override {
    const DWORD source = Calls::Attributes(from);
    DWORD attributes;
    if (source == INVALID_FILE_ATTRIBUTES || (source & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !ReplaceableTarget(to, &attributes)) {
      return false;
    }
    Replacement r;
    r.attributes = INVALID_FILE_ATTRIBUTES;  // a copy is a new file: nothing of the old is kept
    if (NameTemporary(to, &r)) {
      if (Calls::Copy(from, r.temporary)) {
        const bool ok = ClearReadOnly(r.temporary) && FlushClosedFile(r.temporary) &&
                        MoveIntoPlace(r);
        if (!ok) Calls::Delete(r.temporary);
        return ok;
      }
      const DWORD error = GetLastError();
      Calls::Delete(r.temporary);
      if (!InPlaceAfter(error)) return false;
    }
    return Calls::Copy(from, to) && ClearReadOnly(to);
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
    if (__wgetmainargs(&count, &arguments, &environment, 0, &start_info) < 0 ||
        index < 0 || index >= count) {
      return true;  // nothing to compare with: the ANSI argument is all there is
    }
    return FitsCodePage(arguments[index]);
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
  // The attributes of what stands at `path` (INVALID_FILE_ATTRIBUTES when nothing does), or
  // false when it is a directory, or a file made read-only, which is not replaced.
  static bool ReplaceableTarget(const char* path, DWORD* attributes) {
    *attributes = Calls::Attributes(path);
    return *attributes == INVALID_FILE_ATTRIBUTES ||
           (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  }

  // Puts the target's path and its temporary's into `r`; false when they do not fit.
  static bool NameTemporary(const char* path, Replacement* r) {
    const std::size_t length = std::strlen(path);
    if (length + sizeof kPartialSuffix > sizeof r->temporary) return false;
    std::memcpy(r->target, path, length + 1);
    std::memcpy(r->temporary, path, length);
    std::memcpy(r->temporary + length, kPartialSuffix, sizeof kPartialSuffix);
    // A leftover of a replacement cut short may have taken over a read-only attribute.
    Calls::SetAttributes(r->temporary, FILE_ATTRIBUTE_NORMAL);
    return true;
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

bool NativeToUtf8(const std::filesystem::path::value_type* native, std::string* utf8) {
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, native, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  utf8->assign(static_cast<std::size_t>(n - 1), '\0');
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, native, -1, &(*utf8)[0], n, nullptr, nullptr) == n;
}

bool ReadStandardInput(std::string* bytes) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char block[1 << 14];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(input, block, sizeof block, &n, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
    if (n == 0) return true;
    bytes->append(block, n);
  }
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
