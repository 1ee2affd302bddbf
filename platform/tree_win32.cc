// Keeping Install beneath the root of its tree on Windows. Each directory the run uses is
// opened once, checked on that very handle (its final path lies beneath the root), and held
// open without FILE_SHARE_DELETE until the end of the run, so no program may rename, remove
// or replace it by a link or junction meanwhile; and every file under it is made, opened,
// renamed and removed relative to that handle (NtCreateFile and NtSetInformationFile with a
// root directory), never through its path again.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>

#include "platform/nt_win32.h"
#include "platform/shared_win32.h"
#include "platform/tree.h"

// The C runtime's own parse of the wide command line, which splits it exactly as it split
// the ANSI one into argv.
extern "C" __declspec(dllimport) int __wgetmainargs(int* argc, wchar_t*** argv,
                                                    wchar_t*** environment, int wildcards,
                                                    int* start_info);

namespace quorva::platform {

const char kNotInName[] = "/\\:";

namespace win32 {
namespace {

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

Opened OpenedAfter(NTSTATUS status) {
  switch (status) {
    case kNameNotFound:
    case kPathNotFound:
      return Opened::kMissing;
    case kIsADirectory:
      return Opened::kDirectory;
    case kSharingViolation:
      return Opened::kInUse;
    case kAccessDenied:
      return Opened::kDenied;
    default:
      return Opened::kFailed;
  }
}

// Gives each entry of the open directory `dir`, listed through its handle, to `visit`, until
// `visit` returns true; true when it did.
template <typename Visit>
bool AnyListed(HANDLE dir, Visit visit) {
  alignas(8) char buffer[1 << 14];
  for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
       GetFileInformationByHandleEx(dir, kind, buffer, sizeof buffer);
       kind = FileIdBothDirectoryInfo) {
    for (auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(buffer);;
         entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(reinterpret_cast<char*>(entry) +
                                                          entry->NextEntryOffset)) {
      if (visit(*entry)) return true;
      if (entry->NextEntryOffset == 0) break;
    }
  }
  return false;
}

class Win32Tree final : public TreeOver {
 public:
  Win32Tree() : TreeOver(RealFileSystem()), calls_(CP_ACP) {}
  ~Win32Tree() override {
    for (const auto& [path, handle] : held_) CloseHandle(handle);
  }

  bool ConfineTo(const char* root) override {
    confined_ = true;
    root_.clear();
    const HANDLE handle = OpenDirectory(root);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (!FinalPath(handle, &root_)) {
      CloseHandle(handle);
      root_.clear();
      return false;
    }
    held_[root] = handle;
    root_key_ = root;
    return true;
  }

  // The final path of `path`, or of the nearest directory above it that exists.
  Location Locate(const char* path) override {
    if (!confined_) return Location::kBeneath;
    std::string at = path;
    for (int up = 0; up < 256; ++up) {
      const HANDLE handle = calls_.OpenToAsk(at.c_str());
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

  // Asks without opening: a name the system lists but cannot give attributes of is no file
  // (under Wine, a FIFO, a device or a socket of the Linux side).
  Stands WhatStands(const char* path, bool follow_links) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
      WIN32_FIND_DATAA found;
      const HANDLE listing = FindFirstFileA(path, &found);
      if (listing == INVALID_HANDLE_VALUE) return Stands::kNothing;
      FindClose(listing);
      return Stands::kOther;
    }
    DWORD attributes = data.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      if (!follow_links) return Stands::kLink;
      BY_HANDLE_FILE_INFORMATION information;
      const HANDLE handle = calls_.OpenToAsk(path);
      if (handle == INVALID_HANDLE_VALUE) return Stands::kNothing;
      const bool known = GetFileInformationByHandle(handle, &information) != 0;
      CloseHandle(handle);
      if (!known) return Stands::kNothing;
      attributes = information.dwFileAttributes;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Stands::kDirectory : Stands::kRegularFile;
  }

  Opened OpenForReading(const char* path, Accept accept, File* file) override {
    HANDLE dir;
    std::wstring name;
    if (!Split(path, &dir, &name)) return Opened::kFailed;
    NTSTATUS status;
    const HANDLE handle = OpenRelative(dir, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                       FILE_NON_DIRECTORY_FILE, &status);
    if (handle == INVALID_HANDLE_VALUE) return OpenedAfter(status);
    if (!StaysBeneath(handle)) {
      CloseHandle(handle);
      return Opened::kFailed;
    }
    if (accept == Accept::kRegularFile && GetFileType(handle) != FILE_TYPE_DISK) {
      CloseHandle(handle);
      return Opened::kNotRegular;
    }
    Open(handle, file);
    return Opened::kYes;
  }

  // The store of qrv.ini: a temporary made in the held directory, renamed over the target
  // there (a link at the target is replaced itself), never written in place.
  bool BeginReplacing(const char* path, AtLink, Replacement* r) override {
    HANDLE dir;
    std::wstring name;
    if (!Split(path, &dir, &name) || !Replaceable(dir, name)) return false;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof r->target) return false;
    std::memcpy(r->target, path, length + 1);
    r->directory = reinterpret_cast<std::intptr_t>(dir);
    r->into = ReplaceInto::kTemporary;
    for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
      NameTemporary(r->temporary, attempt);
      std::wstring temporary;
      calls_.ToWide(r->temporary, &temporary);
      NTSTATUS status;
      const HANDLE handle = OpenRelative(dir, temporary, GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                         FILE_NON_DIRECTORY_FILE, &status);
      if (handle != INVALID_HANDLE_VALUE) return Open(handle, &r->file);
      if (status != kNameCollision) break;
    }
    r->directory = -1;
    return false;
  }

  Finished FinishReplacing(Replacement* r, Publish publish) override {
    if (r->directory == -1) return files_.FinishReplacing(r, publish);
    const HANDLE handle = Handle(r->file);
    const HANDLE dir = reinterpret_cast<HANDLE>(r->directory);
    std::wstring name;
    Finished finished = Finished::kFailed;
    if (FlushFileBuffers(handle) && calls_.ToWide(r->target + DirectoryLength(r->target), &name)) {
      const NTSTATUS status = RenameRelative(handle, dir, name, publish == Publish::kReplacing);
      finished = status >= 0                ? Finished::kDone
                 : status == kNameCollision ? Finished::kTaken
                                            : Finished::kFailed;
    }
    if (finished == Finished::kDone) {
      CloseHandle(handle);
    } else {
      DeleteAndClose(handle);
    }
    r->directory = -1;
    return finished;
  }

  FileId IdOfNew(const Replacement& r) override {
    return r.directory == -1 ? files_.IdOfNew(r) : IdOfHandle(Handle(r.file));
  }

  void AbandonReplacing(Replacement* r) override {
    if (r->directory == -1) return files_.AbandonReplacing(r);
    DeleteAndClose(Handle(r->file));
    r->directory = -1;
  }

  bool MakeDirectory(const char* path) override {
    HANDLE dir;
    std::wstring name;
    if (!Split(path, &dir, &name)) return false;
    const HANDLE made =
        OpenRelative(dir, name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_CREATE, FILE_DIRECTORY_FILE);
    if (made == INVALID_HANDLE_VALUE) return false;
    CloseHandle(made);
    return true;
  }

  bool Exists(const char* path) override {
    return calls_.Attributes(path) != INVALID_FILE_ATTRIBUTES;
  }

  // The source is read relative to its held directory and must stay beneath the root; the
  // copy is made in the target's held directory and renamed over the target there, with the
  // source's attributes but the read-only one, and its time of last change.
  bool CopyReplacing(const char* from, const char* to) override {
    File source;
    if (OpenForReading(from, Accept::kRegularFile, &source) != Opened::kYes) return false;
    BY_HANDLE_FILE_INFORMATION information;
    Replacement r;
    if (!GetFileInformationByHandle(Handle(source), &information) ||
        !BeginReplacing(to, AtLink::kReplace, &r)) {
      CloseHandle(Handle(source));
      return false;
    }
    char block[1 << 14];
    DWORD got = 0, put = 0;
    bool copied = true;
    while (copied && ReadFile(Handle(source), block, sizeof block, &got, nullptr) && got > 0) {
      copied = WriteFile(Handle(r.file), block, got, &put, nullptr) && put == got;
    }
    copied = copied && GetLastError() != ERROR_HANDLE_EOF && got == 0;
    CloseHandle(Handle(source));
    FILE_BASIC_INFO basic = {};
    basic.LastWriteTime.LowPart = information.ftLastWriteTime.dwLowDateTime;
    basic.LastWriteTime.HighPart = static_cast<LONG>(information.ftLastWriteTime.dwHighDateTime);
    basic.FileAttributes =
        information.dwFileAttributes &
        ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    copied =
        copied && SetFileInformationByHandle(Handle(r.file), FileBasicInfo, &basic, sizeof basic);
    if (!copied) {
      AbandonReplacing(&r);
      return false;
    }
    return FinishReplacing(&r, Publish::kReplacing) == Finished::kDone;
  }

  // Lists the held directory by its handle and removes by names relative to it. Windows
  // names a file's owner through its security, which Wine does not keep: every leftover of
  // the name and age goes.
  void RemoveLeftovers(const char* directory, std::int64_t not_after) override {
    const HANDLE dir = Held(directory);
    if (dir == nullptr) return;
    AnyListed(dir, [&](const FILE_ID_BOTH_DIR_INFO& entry) {
      RemoveIfLeftover(dir, entry, not_after);
      return false;
    });
  }

  std::int64_t Now() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return UnixSeconds(now);
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
  // A directory opened to be held: others may read and write in it, but not rename, remove
  // or replace it while it is open.
  HANDLE OpenDirectory(const char* path) const {
    constexpr DWORD kAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_ADD_FILE |
                              FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    return CreateFileW(WidePath(path, calls_.code_page()).get(), kAccess,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }

  // True when the open file or directory lies beneath the root, or nothing is confined: its
  // final path does, and that path names this very file. The second look is for Wine, which
  // takes a handle's path from the name it was opened by, resolved apart from the open
  // itself: a link swapped in between the two would make the name say beneath while the
  // handle is elsewhere. Windows asks the file itself.
  bool StaysBeneath(HANDLE handle) const {
    if (!confined_) return true;
    std::wstring final;
    if (!FinalPath(handle, &final) || !IsBeneath(final, root_)) return false;
    const HANDLE named =
        CreateFileW(final.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    const bool same = IdOfHandle(named) == IdOfHandle(handle);
    CloseHandle(named);
    return same;
  }

  // The directory `directory`, held open from its first use on when it lies beneath the
  // root (checked on the handle that is then used); null when it cannot be opened or does
  // not lie beneath the root. Where its parent is held, the parent's own listing must show
  // it: an entry that is no link and is this very directory lies where the parent does,
  // whatever its path says. A link in the tree is checked by its final path.
  HANDLE Held(const std::string& directory) {
    const auto found = held_.find(directory);
    if (found != held_.end()) return found->second;
    // Its parents first, down from the root, each held and checked the same way.
    const std::string above = DirectoryPart(directory.c_str());
    if (confined_ && above != directory && above.size() > root_key_.size() &&
        above.compare(0, root_key_.size(), root_key_) == 0 &&
        (above[root_key_.size()] == '\\' || above[root_key_.size()] == '/') &&
        Held(above) == nullptr) {
      return nullptr;
    }
    const HANDLE handle = OpenDirectory(directory.c_str());
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const auto parent = held_.find(above);
    const Listed listed =
        parent == held_.end()
            ? Listed::kNotFound
            : ListedIn(parent->second, directory.c_str() + DirectoryLength(directory.c_str()),
                       handle);
    if (listed == Listed::kOther || (listed != Listed::kThisDirectory && !StaysBeneath(handle))) {
      CloseHandle(handle);
      return nullptr;
    }
    held_[directory] = handle;
    return handle;
  }

  // What the listing of the directory `dir` shows under `name`, compared with the open
  // directory `handle`.
  enum class Listed { kThisDirectory, kLink, kOther, kNotFound };
  Listed ListedIn(HANDLE dir, const char* name, HANDLE handle) const {
    std::wstring wide;
    BY_HANDLE_FILE_INFORMATION information;
    if (!calls_.ToWide(name, &wide) || !GetFileInformationByHandle(handle, &information)) {
      return Listed::kNotFound;
    }
    const std::uint64_t index =
        std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
    Listed listed = Listed::kNotFound;
    AnyListed(dir, [&](const FILE_ID_BOTH_DIR_INFO& entry) {
      const std::size_t length = entry.FileNameLength / sizeof(wchar_t);
      if (CompareStringOrdinal(entry.FileName, static_cast<int>(length), wide.c_str(),
                               static_cast<int>(wide.size()), TRUE) != CSTR_EQUAL) {
        return false;
      }
      listed = (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0   ? Listed::kLink
               : static_cast<std::uint64_t>(entry.FileId.QuadPart) == index ? Listed::kThisDirectory
                                                                            : Listed::kOther;
      return true;
    });
    return listed;
  }

  // The held directory of `path`, and its last name.
  bool Split(const char* path, HANDLE* dir, std::wstring* name) {
    *dir = Held(DirectoryPart(path));
    return *dir != nullptr && calls_.ToWide(path + DirectoryLength(path), name) && !name->empty();
  }

  // False for a directory or a read-only file at `name` in `dir`, which is not replaced.
  static bool Replaceable(HANDLE dir, const std::wstring& name) {
    const HANDLE handle = OpenRelative(dir, name, FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       FILE_OPEN, FILE_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) return true;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    return known && (information.dwFileAttributes &
                     (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  }

  static void RemoveIfLeftover(HANDLE dir, const FILE_ID_BOTH_DIR_INFO& entry,
                               std::int64_t not_after) {
    const std::wstring name(entry.FileName, entry.FileNameLength / sizeof(wchar_t));
    std::string narrow;
    FILETIME written;
    written.dwLowDateTime = entry.LastWriteTime.LowPart;
    written.dwHighDateTime = static_cast<DWORD>(entry.LastWriteTime.HighPart);
    if (!ToCodePage(name, CP_ACP, &narrow) || !IsTemporaryName(narrow.c_str()) ||
        (entry.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        UnixSeconds(written) > not_after) {
      return;
    }
    const HANDLE handle =
        OpenRelative(dir, name, DELETE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
    if (handle != INVALID_HANDLE_VALUE) DeleteAndClose(handle);
  }

  const Calls calls_;
  bool confined_ = false;
  std::wstring root_;     // the final path of the root; empty: nothing is beneath it
  std::string root_key_;  // the root as given, under which held_ keeps its handle
  std::map<std::string, HANDLE> held_;
};

}  // namespace
}  // namespace win32

std::unique_ptr<TreeFileSystem> NewTreeFileSystem() { return std::make_unique<win32::Win32Tree>(); }

}  // namespace quorva::platform
