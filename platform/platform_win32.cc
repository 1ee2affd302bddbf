// The file system on Windows, through the ANSI entry points of the Win32 API.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

// The C runtime's own parse of the wide command line, which splits it exactly as it split
// the ANSI one into argv.
extern "C" __declspec(dllimport) int __wgetmainargs(int* argc, wchar_t*** argv,
                                                     wchar_t*** environment, int wildcards,
                                                     int* start_info);

namespace platform {

const char kSeparator = '\\';
const char kNotInName[] = "/\\:";

namespace {

HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file.value); }

bool Open(HANDLE handle, File* file) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  file->value = reinterpret_cast<std::intptr_t>(handle);
  return true;
}

// Where the new bytes of a replacement go.
enum How : int { kInPlace, kTemporary };

// The attributes of what stands at `path` (INVALID_FILE_ATTRIBUTES when nothing does), or
// false when it is a directory, or a file made read-only, which is not replaced.
bool ReplaceableTarget(const char* path, DWORD* attributes) {
  *attributes = GetFileAttributesA(path);
  return *attributes == INVALID_FILE_ATTRIBUTES ||
         (*attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

// Puts the target's path and its temporary's into `r`; false when they do not fit.
bool NameTemporary(const char* path, Replacement* r) {
  const std::size_t length = std::strlen(path);
  if (length + sizeof kPartialSuffix > sizeof r->temporary) return false;
  std::memcpy(r->target, path, length + 1);
  std::memcpy(r->temporary, path, length);
  std::memcpy(r->temporary + length, kPartialSuffix, sizeof kPartialSuffix);
  // A leftover of a replacement cut short may have taken over a read-only attribute.
  SetFileAttributesA(r->temporary, FILE_ATTRIBUTE_NORMAL);
  return true;
}

// After a temporary could not be made: true when the target itself may still be written
// in place (a directory this process may not write, a path too long for a temporary).
bool InPlaceAfter(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_FILENAME_EXCED_RANGE;
}

// Moves the complete temporary over the target. An existing target is replaced with
// ReplaceFileA, which gives the new file the old one's attributes and security; given
// full paths, since Wine's does not accept a bare name. The attributes are set once more,
// since Wine's forgets them.
bool MoveIntoPlace(const Replacement& r) {
  if (r.attributes != INVALID_FILE_ATTRIBUTES) {
    char target[MAX_PATH], temporary[MAX_PATH];
    const DWORD t = GetFullPathNameA(r.target, MAX_PATH, target, nullptr);
    const DWORD p = GetFullPathNameA(r.temporary, MAX_PATH, temporary, nullptr);
    const bool full = t > 0 && t < MAX_PATH && p > 0 && p < MAX_PATH;
    if (ReplaceFileA(full ? target : r.target, full ? temporary : r.temporary, nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      SetFileAttributesA(r.target, r.attributes);
      return true;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  }
  // No file there (any more): the temporary simply takes its name.
  return MoveFileExA(r.temporary, r.target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Flushes a file that is already closed, such as a copy CopyFileA made.
bool FlushClosedFile(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = FlushFileBuffers(handle) != 0;
  CloseHandle(handle);
  return ok;
}

// A copy takes over the source's read-only attribute; the copies are the command's own and
// must stay replaceable by the next run.
bool ClearReadOnly(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         ((attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
          SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY) != 0);
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

class Win32FileSystem final : public FileSystem {
 public:
  bool OpenForReading(const char* path, Accept accept, File* file) override {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE && accept == Accept::kRegularFile &&
        GetFileType(handle) != FILE_TYPE_DISK) {  // a pipe or a device
      CloseHandle(handle);
      return false;
    }
    return Open(handle, file);
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
      HANDLE handle = CreateFileA(r->temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
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
    return Open(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr),
                &r->file);
  }

  bool FinishReplacing(Replacement* r) override {
    const HANDLE handle = Handle(r->file);
    bool ok = GetFileType(handle) != FILE_TYPE_DISK || FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    if (r->how == kInPlace) return ok;
    ok = ok && MoveIntoPlace(*r);
    if (!ok) DeleteFileA(r->temporary);
    return ok;
  }

  void AbandonReplacing(Replacement* r) override {
    CloseHandle(Handle(r->file));
    if (r->how == kTemporary) DeleteFileA(r->temporary);
  }

  bool MakeDirectory(const char* path) override {
    return CreateDirectoryA(path, nullptr) != 0;
  }

  bool Exists(const char* path) override {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  }

  // CopyFileA into the temporary, which then moves over the target; where no temporary can
  // be made, CopyFileA straight onto the target as before.
  bool CopyReplacing(const char* from, const char* to) override {
    const DWORD source = GetFileAttributesA(from);
    DWORD attributes;
    if (source == INVALID_FILE_ATTRIBUTES || (source & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !ReplaceableTarget(to, &attributes)) {
      return false;
    }
    Replacement r;
    r.attributes = INVALID_FILE_ATTRIBUTES;  // a copy is a new file: nothing of the old is kept
    if (NameTemporary(to, &r)) {
      if (CopyFileA(from, r.temporary, FALSE)) {
        const bool ok = ClearReadOnly(r.temporary) && FlushClosedFile(r.temporary) &&
                        MoveIntoPlace(r);
        if (!ok) DeleteFileA(r.temporary);
        return ok;
      }
      const DWORD error = GetLastError();
      DeleteFileA(r.temporary);
      if (!InPlaceAfter(error)) return false;
    }
    return CopyFileA(from, to, FALSE) != 0 && ClearReadOnly(to);
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
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
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

}  // namespace platform
