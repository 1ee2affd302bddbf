// What the Windows files of the platform layer share: handles, the calls that name files by
// path in a code page, final paths and file ids, and the replacing routine.
#ifndef PLATFORM_SHARED_WIN32_H_
#define PLATFORM_SHARED_WIN32_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace quorva::platform::win32 {

inline HANDLE Handle(File file) { return reinterpret_cast<HANDLE>(file.value); }

inline bool Open(HANDLE handle, File* file) {
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
  WidePath(const char* path, UINT code_page);
  const wchar_t* get() const { return path_; }

 private:
  wchar_t path_[kWideRoom + 8];
};

// The Win32 calls that name files by path, in a code page: with CP_ACP the ANSI ones, which
// take paths in the process's code page unchanged, as the command and the C functions use
// them (a path too long for them goes to the wide calls instead); with CP_UTF8 the wide ones,
// given UTF-8 paths, which std::filesystem::path opens and stores through.
class Calls {
 public:
  explicit Calls(UINT code_page) : code_page_(code_page) {}
  UINT code_page() const { return code_page_; }
  HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition) const;
  DWORD Attributes(const char* path) const;
  bool SetAttributes(const char* path, DWORD attributes) const;
  bool Delete(const char* path) const;
  // `replace`: an existing `to` is replaced; else the move fails where one is.
  bool Move(const char* from, const char* to, bool replace) const;
  // Opens a file or directory only to ask about it, following links and junctions.
  HANDLE OpenToAsk(const char* path) const;
  // ReplaceFile given full paths, since Wine's does not accept a bare name.
  bool Replace(const char* target, const char* replacement) const;
  // `text` in this code page as UTF-16; false when it does not convert.
  bool ToWide(const char* text, std::wstring* wide) const;

 private:
  bool Ansi(const char* path) const;
  const UINT code_page_;
};

// True when `wide` has a form in the ANSI code page without look-alikes.
bool FitsCodePage(const wchar_t* wide);
// `wide` in `code_page`, exactly: false when a character has no form there.
bool ToCodePage(const std::wstring& wide, UINT code_page, std::string* text);

// The length of the directory part of `path`: up to its last separator, or the ':' of a
// drive; and that part itself, or "." when it names none.
std::size_t DirectoryLength(const char* path);
std::string DirectoryPart(const char* path);

// The final path of an open file: links and junctions resolved, as the system has it.
bool FinalPath(HANDLE handle, std::wstring* final);
// A final path without the \\?\ prefix that GetFinalPathNameByHandle gives it.
std::wstring WithoutPrefix(const std::wstring& final);
FileId IdOfHandle(HANDLE handle);
// Seconds since 1970 of a file time (100 ns since 1601).
std::int64_t UnixSeconds(const FILETIME& time);

// Copies the whole of the file `from` over the file `target` in place (see replace_win32.cc).
Finished CopyOver(HANDLE from, HANDLE target);

// The file system of Windows, as the library uses it, with paths in `code_page`.
class Win32FileSystem : public FileSystem {
 public:
  explicit Win32FileSystem(UINT code_page) : calls_(code_page) {}

  Opened OpenForReading(const char* path, Accept accept, File* file) override;
  bool SizeOf(File file, std::uint64_t* size) override;
  bool Read(File file, void* buffer, std::uint32_t size, std::uint32_t* got) override;
  bool Write(File file, const void* data, std::uint32_t size, std::uint32_t* written) override;
  bool Close(File file) override;
  bool Rewind(File file) override;
  FileId IdOf(File file) override;
  bool PlaceOf(const char* path, Place* place) override;
  Locked LockForEditing(const char* path, std::uint32_t wait_milliseconds, File* file) override;
  void Unlock(File file) override;
  Failure LastFailure() override;
  bool BeginReplacing(const char* path, AtLink at_link, Replacement* replacement) override;
  Finished FinishReplacing(Replacement* replacement, Publish publish) override;
  FileId IdOfNew(const Replacement& replacement) override;
  void AbandonReplacing(Replacement* replacement) override;

  const Calls& calls() const { return calls_; }

 private:
  const Calls calls_;
};

}  // namespace quorva::platform::win32

#endif  // PLATFORM_SHARED_WIN32_H_
