// What the project's own programs, tests, fuzzers and benchmarks take from the library
// beyond its public headers: loading and storing through a platform::FileSystem, and the
// test hooks. Not installed, and not on the include path of the library's users. It
// includes none of the library's private headers, so that what it declares is all a file
// outside ini/ can reach.
#ifndef INI_PROJECT_INTERNAL_H_
#define INI_PROJECT_INTERNAL_H_

#include <cstddef>
#include <cstdint>

#include "ini/ini.h"
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

// Every block, record and array of the library comes from the installed allocator, so that
// the document can release what the reader allocated, and tests can make any allocation
// fail.
struct Allocator {
  void* (*allocate)(std::size_t size);
  void* (*reallocate)(void* block, std::size_t size);
  void (*release)(void* block);
  // Large blocks for the arenas of loaded documents (platform::AllocateLarge).
  void* (*allocate_large)(std::size_t size);
  void (*release_large)(void* block, std::size_t size);
};
// Test hook: installs `allocator` and returns the one it replaces.
Allocator SetAllocatorForTesting(Allocator allocator);

// How the reader goes over the bytes: the reference is the byte-by-byte reading alone, with
// an eight-bytes-at-a-time search for runs of ordinary bytes; the others first take whole
// plain lines from the masks of a kernel, portable or 16 or 32 bytes a step, and leave the
// rest to the byte-by-byte reading.
enum class ScanPath { kReference, kPortable, kSse2, kAvx2 };
// True when this processor and build can run `path`.
bool Available(ScanPath path);
// Test hook: the path loads take from now on, so that a test can load the same bytes every
// way and compare; returns the one it replaces.
ScanPath SetScanPathForTesting(ScanPath path);

}  // namespace quorva::ini_detail

namespace ini_detail = quorva::ini_detail;

#endif  // INI_PROJECT_INTERNAL_H_
