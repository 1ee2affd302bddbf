// The file system on Windows, through the ANSI entry points of the Win32 API.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace platform {

const char kSeparator = '\\';

namespace {

HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file.value); }

bool Open(HANDLE handle, File* file) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  file->value = reinterpret_cast<std::intptr_t>(handle);
  return true;
}

class Win32FileSystem final : public FileSystem {
 public:
  bool OpenForReading(const char* path, File* file) override {
    return Open(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr),
                file);
  }

  bool CreateForWriting(const char* path, File* file) override {
    return Open(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr),
                file);
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

  // The result of CloseHandle is not looked at: once the handle is closed there is nothing
  // left to retry or to report, and every write has already been checked.
  bool Close(File file) override {
    CloseHandle(Handle(file));
    return true;
  }

  bool MakeDirectory(const char* path) override {
    return CreateDirectoryA(path, nullptr) != 0;
  }

  bool Exists(const char* path) override {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  }

  bool CopyReplacing(const char* from, const char* to) override {
    return CopyFileA(from, to, FALSE) != 0;
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
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
}

// Committed pages are zero and backed only once touched; no privilege is needed, unlike
// large pages.
void* AllocateLarge(std::size_t size) {
  return VirtualAlloc(nullptr, LargeBlockSize(size), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseLarge(void* block, std::size_t) {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace platform
