// The tools' system on Windows: the UTF-16 command line, so that any file name reaches the
// file typed, and standard streams through their handles, which know no text mode.
#include <windows.h>

#include <cstdio>

#include "system.h"

// The C runtime's own parse of the wide command line, which splits it exactly as it split
// the ANSI one into argv.
extern "C" __declspec(dllimport) int __wgetmainargs(int* argc, wchar_t*** argv,
                                                    wchar_t*** environment, int wildcards,
                                                    int* start_info);

namespace tools {

namespace {

// True when `wide` has a form in the ANSI code page without look-alikes.
bool FitsCodePage(const wchar_t* wide) {
  if (GetACP() == CP_UTF8) return true;
  BOOL replaced = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &replaced);
  return n > 0 && !replaced;
}

bool ReadAll(HANDLE handle, std::string* bytes) {
  char block[1 << 14];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(handle, block, sizeof block, &n, nullptr))
      return GetLastError() == ERROR_BROKEN_PIPE;
    if (n == 0) return true;
    bytes->append(block, n);
  }
}

}  // namespace

std::vector<Argument> Arguments(int argc, char** argv) {
  int count = 0, start_info = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  const bool have_wide =
      __wgetmainargs(&count, &wide, &environment, 0, &start_info) >= 0 && count == argc;
  std::vector<Argument> arguments;
  for (int i = 1; i < argc; ++i) {
    if (have_wide) {
      arguments.push_back({argv[i], std::filesystem::path(wide[i]), FitsCodePage(wide[i])});
    } else {
      arguments.push_back({argv[i], std::filesystem::path(argv[i]), true});
    }
  }
  return arguments;
}

bool ReadStandardInput(std::string* bytes) {
  return ReadAll(GetStdHandle(STD_INPUT_HANDLE), bytes);
}

bool WriteStandardOutput(const std::string& bytes) {
  if (std::fflush(stdout) != 0) return false;
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD n = 0;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    if (!WriteFile(output, data, chunk, &n, nullptr) || n == 0) return false;
    data += n;
    left -= n;
  }
  return true;
}

// A name the system lists but gives no attributes of is no file it can read (under Wine, a
// FIFO or a device of the Linux side).
bool IsRegularFile(const std::filesystem::path& path, std::string* reason) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    WIN32_FIND_DATAW found;
    const HANDLE listing = FindFirstFileW(path.c_str(), &found);
    if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
    *reason = listing != INVALID_HANDLE_VALUE ? "cannot open the file: it is not a regular file"
              : error == ERROR_ACCESS_DENIED  ? "cannot open the file: permission denied"
                                              : "cannot open the file: no such file or directory";
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *reason = "cannot open the file: it is a directory";
    return false;
  }
  return true;
}

bool ReadRegularFile(const std::filesystem::path& path, std::string* bytes, std::string* reason) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    *reason = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                  ? "cannot open the file: no such file or directory"
              : attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                  ? "cannot open the file: it is a directory"
              : error == ERROR_ACCESS_DENIED     ? "cannot open the file: permission denied"
              : error == ERROR_SHARING_VIOLATION ? "cannot open the file: another program holds it"
                                                 : "cannot open the file";
    return false;
  }
  bool read = false;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    *reason = "cannot open the file: it is not a regular file";
  } else {
    read = ReadAll(file, bytes);
    if (!read) *reason = "a read from the file failed";
  }
  CloseHandle(file);
  return read;
}

}  // namespace tools
