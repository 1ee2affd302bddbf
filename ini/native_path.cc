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
                            bool* missing, bool for_editing) {
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
    IniDocument* document = for_editing
                                ? ini_detail::LoadFileForEditing(file_system, utf8.c_str(), report)
                                : ini_detail::LoadFile(file_system, utf8.c_str(), report);
    *missing = report->reason == ini_detail::kMissingFile;
    return document;
  } catch (const std::bad_alloc&) {
    *report = {INI_OUT_OF_MEMORY, 0, "out of memory", 0};
    return nullptr;
  }
}

int StoreNativePath(const IniDocument* document, const std::filesystem::path::value_type* path,
                    bool edits) {
  try {
    std::string utf8;
    if (!platform::NativeToUtf8(path, &utf8)) return -1;
    platform::FileSystem& file_system = platform::Utf8FileSystem();
    return edits ? ini_detail::StoreEditsFile(file_system, document, utf8.c_str())
                 : ini_detail::StoreFile(file_system, document, utf8.c_str());
  } catch (const std::bad_alloc&) {
    return -1;  // nothing was created
  }
}

}  // namespace quorva
