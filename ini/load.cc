// Loading: the sources a load reads (a file, bytes in memory), what it reports, and the
// library's loading and scanning functions over them.
#include <cstring>
#include <new>

#include "ini/allocator.h"
#include "ini/io.h"
#include "ini/project_internal.h"
#include "ini/records.h"

namespace quorva::ini_detail {

const char kMissingFile[] = "cannot open the file: no such file or directory";

namespace {

// What a load reports for each outcome but a syntax error.
const char* const kReasons[] = {"",
                                "cannot open the file",
                                "a read from the file failed",
                                "",
                                "out of memory",
                                "stopped by the handler",
                                "another program held the file's edit lock past the wait"};

// Why a file could not be opened, as the system said.
const char* CannotOpen(platform::Opened opened) {
  switch (opened) {
    case platform::Opened::kMissing:
      return kMissingFile;
    case platform::Opened::kDenied:
      return "cannot open the file: permission denied";
    case platform::Opened::kDirectory:
      return "cannot open the file: it is a directory";
    case platform::Opened::kNotRegular:
      return "cannot open the file: it is not a regular file";
    case platform::Opened::kInUse:
      return "cannot open the file: another program holds it";
    default:
      return kReasons[INI_CANNOT_OPEN];
  }
}

}  // namespace

IniDocument* Report(IniLoadReport* report, IniLoadOutcome outcome, std::int64_t line,
                    std::int64_t column, const char* reason) {
  if (report != nullptr) {
    *report = {outcome, line, reason != nullptr ? reason : kReasons[outcome], column};
  }
  return nullptr;
}

namespace {

// A source over bytes in memory, served in reads as a file would serve them.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const void* bytes, std::size_t size)
      : bytes_(static_cast<const char*>(bytes)), left_(size), size_(size) {}
  bool Read(char* buffer, std::uint32_t size, std::uint32_t* got) override {
    std::size_t n = size < left_ ? size : left_;
    if (n > 0) std::memcpy(buffer, bytes_, n);
    bytes_ += n;
    left_ -= n;
    *got = static_cast<std::uint32_t>(n);
    return true;
  }
  bool SizeHint(std::uint64_t* size) override {
    *size = size_;
    return true;
  }

 private:
  const char* bytes_;
  std::size_t left_;
  std::size_t size_;
};

// A file. One whose reads have given exactly the size it said it has, the last of them
// fewer bytes than asked, is at its end: it is not asked again only to say so, which saves
// a small file a third of its system calls. A file that said nothing, said less, or grew
// before that read (which then gives more than the size) is read until a read gives none.
class FileSource final : public ByteSource {
 public:
  // `close` false: the file stays open after the load, for its caller (a held lock).
  FileSource(platform::FileSystem& file_system, platform::File file, bool close = true)
      : file_system_(file_system), file_(file), close_(close) {}
  bool Read(char* buffer, std::uint32_t size, std::uint32_t* got) override {
    if (ended_) {
      *got = 0;
      return true;
    }
    if (!file_system_.Read(file_, buffer, size, got)) return false;
    read_ += *got;
    // A regular file reads short only at its end: one that reads short at the size it had
    // when it was opened has ended, and needs no read of 0 bytes to say so. Any other file
    // (one a file system reads short at will, one whose size was asked later) ends only
    // at a read of 0 bytes.
    ended_ = file_.size_at_open >= 0 && read_ == static_cast<std::uint64_t>(file_.size_at_open) &&
             *got < size;
    return true;
  }
  bool SizeHint(std::uint64_t* size) override { return file_system_.SizeOf(file_, size); }
  void Finish() override {
    if (close_) file_system_.Close(file_);
  }

 private:
  platform::FileSystem& file_system_;
  platform::File file_;
  bool close_;
  std::uint64_t read_ = 0;
  bool ended_ = false;
};

}  // namespace

namespace {

// Opens `path` for a load into `*source`; false, with the report filled, when it cannot.
bool OpenSource(platform::FileSystem& file_system, const char* path, platform::Accept accept,
                platform::File* file, IniLoadReport* report) {
  const platform::Opened opened = file_system.OpenForReading(path, accept, file);
  if (opened == platform::Opened::kYes) return true;
  Report(report, INI_CANNOT_OPEN, 0, 0, CannotOpen(opened));
  return false;
}

// The C handler of ini_scan_file and ini_scan_memory, as an observer.
class HandlerObserver final : public LineObserver {
 public:
  HandlerObserver(IniLineHandler handler, void* user) : handler_(handler), user_(user) {}
  bool OnLine(const IniLine& line) override { return handler_(user_, &line) != 0; }

 private:
  IniLineHandler handler_;
  void* user_;
};

int Parse(ByteSource& source, IniLineHandler handler, void* user, IniLoadReport* report) {
  IniLoadReport own;
  if (report == nullptr) report = &own;
  HandlerObserver observer(handler, user);
  Load(source, report, &observer, Build::kParseOnly);
  return report->outcome;
}

}  // namespace

IniDocument* LoadFile(platform::FileSystem& file_system, const char* path, IniLoadReport* report,
                      platform::Accept accept) {
  platform::File file;
  if (!OpenSource(file_system, path, accept, &file, report)) return nullptr;
  FileSource source(file_system, file);
  return Load(source, report);
}

IniDocument* LoadFileForEditing(platform::FileSystem& file_system, const char* path,
                                IniLoadReport* report, Hold hold) {
  platform::File file;
  if (hold == Hold::kLock) {
    switch (file_system.LockForEditing(path, platform::kLockWaitMilliseconds, &file)) {
      case platform::Locked::kYes:
        break;
      case platform::Locked::kBusy:
        return Report(report, INI_BUSY);
      case platform::Locked::kMissing:
        return Report(report, INI_CANNOT_OPEN, 0, 0, kMissingFile);
      default:  // the open below tells why
        if (!OpenSource(file_system, path, platform::Accept::kRegularFile, &file, report))
          return nullptr;
        file_system.Close(file);
        return Report(report, INI_CANNOT_OPEN);
    }
  } else if (!OpenSource(file_system, path, platform::Accept::kRegularFile, &file, report)) {
    return nullptr;
  }
  // Which file was read, and where: a store of edits to it checks that it is still that file,
  // holding what was read.
  auto* record = static_cast<FileRecord*>(Allocate(sizeof(FileRecord)));
  if (record != nullptr) new (record) FileRecord();
  const platform::FileId id = file_system.IdOf(file);
  FileSource source(file_system, file, hold == Hold::kNothing);
  IniDocument* document =
      record == nullptr ? nullptr : Load(source, report, nullptr, Build::kKeepingText);
  if (document == nullptr) {
    if (record == nullptr) {
      source.Finish();
      Report(report, INI_OUT_OF_MEMORY);
    }
    if (hold == Hold::kLock) file_system.Unlock(file);
    Release(record);
    return nullptr;
  }
  if (!file_system.PlaceOf(path, &record->place)) record->place = platform::Place();
  record->place.file = id;
  const KeptSource* kept = KeptSourceOf(document);
  record->on_disk.Add(kept->bytes, static_cast<std::size_t>(kept->size));
  if (hold == Hold::kLock) {
    record->lock_owner = &file_system;
    record->lock = file;
  }
  RecordOf(document) = record;
  return document;
}

IniDocument* LoadMemory(const void* bytes, std::size_t size, IniLoadReport* report,
                        LineObserver* observer) {
  MemorySource source(bytes, size);
  return Load(source, report, observer);
}

}  // namespace quorva::ini_detail

extern "C" {

IniDocument* ini_load_file(const char* path) {
  if (path == nullptr) return nullptr;
  return ini_detail::LoadFile(platform::RealFileSystem(), path);
}

IniDocument* ini_load_file_report(const char* path, IniLoadReport* report) {
  if (path == nullptr) return ini_detail::Report(report, INI_CANNOT_OPEN);
  return ini_detail::LoadFile(platform::RealFileSystem(), path, report);
}

IniDocument* ini_load_memory(const void* bytes, size_t size, IniLoadReport* report) {
  if (bytes == nullptr && size > 0) return ini_detail::Report(report, INI_CANNOT_OPEN);
  return ini_detail::LoadMemory(bytes, size, report, nullptr);
}

IniDocument* ini_load_file_for_editing(const char* path, IniLoadReport* report) {
  if (path == nullptr) return ini_detail::Report(report, INI_CANNOT_OPEN);
  return ini_detail::LoadFileForEditing(platform::RealFileSystem(), path, report);
}

IniDocument* ini_load_file_for_editing_locked(const char* path, IniLoadReport* report) {
  if (path == nullptr) return ini_detail::Report(report, INI_CANNOT_OPEN);
  return ini_detail::LoadFileForEditing(platform::RealFileSystem(), path, report,
                                        ini_detail::Hold::kLock);
}

IniDocument* ini_load_memory_for_editing(const void* bytes, size_t size, IniLoadReport* report) {
  if (bytes == nullptr && size > 0) return ini_detail::Report(report, INI_CANNOT_OPEN);
  ini_detail::MemorySource source(bytes, size);
  return ini_detail::Load(source, report, nullptr, ini_detail::Build::kKeepingText);
}

int ini_scan_file(const char* path, IniLineHandler handler, void* user, IniLoadReport* report) {
  if (path == nullptr || handler == nullptr) {
    ini_detail::Report(report, INI_CANNOT_OPEN);
    return INI_CANNOT_OPEN;
  }
  platform::File file;
  platform::FileSystem& file_system = platform::RealFileSystem();
  if (!ini_detail::OpenSource(file_system, path, platform::Accept::kAnyFile, &file, report)) {
    return INI_CANNOT_OPEN;
  }
  ini_detail::FileSource source(file_system, file);
  return ini_detail::Parse(source, handler, user, report);
}

int ini_scan_memory(const void* bytes, size_t size, IniLineHandler handler, void* user,
                    IniLoadReport* report) {
  if ((bytes == nullptr && size > 0) || handler == nullptr) {
    ini_detail::Report(report, INI_CANNOT_OPEN);
    return INI_CANNOT_OPEN;
  }
  ini_detail::MemorySource source(bytes, size);
  return ini_detail::Parse(source, handler, user, report);
}

}  // extern "C"
