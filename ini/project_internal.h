// What the project's own programs, tests, fuzzers and benchmarks take from the library
// beyond its public headers: loading and storing through a platform::FileSystem, and the
// test hooks. Not installed, and not on the include path of the library's users.
#ifndef INI_PROJECT_INTERNAL_H_
#define INI_PROJECT_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "ini/allocator.h"
#include "ini/ini.h"
#include "ini/line_scan.h"
#include "platform/platform.h"

namespace quorva::ini_detail {

// ini_load_file_report and ini_store_file over any file system. `accept` says which files
// a load opens, `at_link` what a store does with a symbolic link at the path.
IniDocument* LoadFile(platform::FileSystem& file_system, const char* path,
                      IniLoadReport* report = nullptr,
                      platform::Accept accept = platform::Accept::kAnyFile);
struct StoreDetail;
int StoreFile(platform::FileSystem& file_system, const IniDocument* document, const char* path,
              platform::AtLink at_link = platform::AtLink::kFollow, StoreDetail* detail = nullptr);
// ini_load_file_for_editing (with `hold` kLock, ini_load_file_for_editing_locked) and
// ini_store_edits over any file system.
enum class Hold { kNothing, kLock };
IniDocument* LoadFileForEditing(platform::FileSystem& file_system, const char* path,
                                IniLoadReport* report = nullptr, Hold hold = Hold::kNothing);
int StoreEditsFile(platform::FileSystem& file_system, IniDocument* document, const char* path,
                   StoreDetail* detail = nullptr);
// Test hooks for the search that finds repeated keys when a section is copied: sets the
// seed of its hash, which is chosen afresh in each process, and returns the one it
// replaces; and the hash of `length` bytes under the present seed. With them a test or
// benchmark can make keys that collide, and check that they do.
std::uint64_t SetHashSeedForTesting(std::uint64_t seed);
std::uint64_t KeyHashForTesting(const char* bytes, std::size_t length);
// Test hook: the path loads take from now on (see ini/line_scan.h), so that a test can load
// the same bytes every way and compare; returns the one it replaces.
ScanPath SetScanPathForTesting(ScanPath path);

}  // namespace quorva::ini_detail

namespace ini_detail = quorva::ini_detail;

#endif  // INI_PROJECT_INTERNAL_H_
