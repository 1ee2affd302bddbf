// Files opened, renamed and removed relative to an open directory on Windows, through the
// NT calls of ntdll (NtCreateFile, NtSetInformationFile with a root directory): what POSIX
// systems do with openat and renameat. For keeping to a root (tree_win32.cc).
#ifndef PLATFORM_NT_WIN32_H_
#define PLATFORM_NT_WIN32_H_

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cwchar>
#include <string>

#include "platform/shared_win32.h"

namespace quorva::platform::win32 {

inline constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
inline constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
inline constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
inline constexpr NTSTATUS kIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
inline constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
inline constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
inline constexpr FILE_INFORMATION_CLASS kRenameInformation =
    static_cast<FILE_INFORMATION_CLASS>(10);

// FILE_RENAME_INFORMATION, which the headers of user programs lack.
struct RenameInformation {
  union {
    BOOLEAN replace_if_exists;
    ULONG flags;
  };
  HANDLE root_directory;
  ULONG name_length;
  WCHAR name[kWideRoom];
};

// Opens `name` relative to the directory `dir`, as NtCreateFile does; INVALID_HANDLE_VALUE
// on failure, with its status in `*status`.
inline HANDLE OpenRelative(HANDLE dir, const std::wstring& name, ACCESS_MASK access, ULONG share,
                           ULONG disposition, ULONG options, NTSTATUS* status = nullptr) {
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, dir, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  const NTSTATUS result =
      NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                   share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status != nullptr) *status = result;
  return result >= 0 ? handle : INVALID_HANDLE_VALUE;
}

// Gives the open file `file` the name `name` in the directory `dir`.
inline NTSTATUS RenameRelative(HANDLE file, HANDLE dir, const std::wstring& name, bool replace) {
  RenameInformation rename = {};
  if (name.size() >= kWideRoom) return kNameNotFound;
  rename.replace_if_exists = replace ? TRUE : FALSE;
  rename.root_directory = dir;
  rename.name_length = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  std::wmemcpy(rename.name, name.c_str(), name.size());
  IO_STATUS_BLOCK io;
  return NtSetInformationFile(
      file, &io, &rename,
      static_cast<ULONG>(offsetof(RenameInformation, name) + rename.name_length),
      kRenameInformation);
}

inline void DeleteAndClose(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
}

}  // namespace quorva::platform::win32

#endif  // PLATFORM_NT_WIN32_H_
