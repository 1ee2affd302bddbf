// Loading and storing by a std::filesystem::path, for ini.hpp: the path in the system's own
// form reaches the system whole (on Windows through the wide calls), so any path works.
#include <filesystem>
#include <new>
#include <string>

#include "ini/ini.hpp"
#include "ini/io.h"
#include "ini/project_internal.h"

namespace quorva {

IniDocument* LoadNativePath(const std::filesystem::path::value_type* path, IniLoadReport* report,
                            bool* missing, LoadHow how) {
  IniLoadReport ignored;
  if (report == nullptr) report = &ignored;
  bool ignored_missing;
  if (missing == nullptr) missing = &ignored_missing;
  *missing = false;
  try {
    std::string utf8;
    if (!platform::NativeToUtf8(path, &utf8)) {
      *report = {INI_CANNOT_OPEN, 0, "cannot open the file: the path does not convert", 0};
      return nullptr;
    }
    platform::FileSystem& file_system = platform::Utf8FileSystem();
    IniDocument* document = how == LoadHow::kPlain
                                ? ini_detail::LoadFile(file_system, utf8.c_str(), report)
                                : ini_detail::LoadFileForEditing(file_system, utf8.c_str(), report,
                                                                 how == LoadHow::kEditingLocked
                                                                     ? ini_detail::Hold::kLock
                                                                     : ini_detail::Hold::kNothing);
    *missing = report->reason == ini_detail::kMissingFile;
    return document;
  } catch (const std::bad_alloc&) {
    *report = {INI_OUT_OF_MEMORY, 0, "out of memory", 0};
    return nullptr;
  }
}

int StoreNativePath(const IniDocument* document, const std::filesystem::path::value_type* path,
                    bool edits, StoreNote* note) {
  try {
    std::string utf8;
    if (!platform::NativeToUtf8(path, &utf8)) return -1;
    platform::FileSystem& file_system = platform::Utf8FileSystem();
    ini_detail::StoreDetail detail;
    // A store of edits changes the document's record of its file; Document::StoreEdits is
    // not const for that reason.
    const int code =
        edits ? ini_detail::StoreEditsFile(file_system, const_cast<IniDocument*>(document),
                                           utf8.c_str(), &detail)
              : ini_detail::StoreFile(file_system, document, utf8.c_str(),
                                      platform::AtLink::kFollow, &detail);
    if (note != nullptr) {
      note->cut_short = detail.cut_short;
      note->no_file_of_its_own = detail.no_file_of_its_own;
      note->cause = ini_detail::FailureText(detail.failure);
    }
    return code;
  } catch (const std::bad_alloc&) {
    return -1;  // nothing was created
  }
}

}  // namespace quorva
