// Load and store benchmarks: this library against inih, SimpleIni and the two floors, each
// run in fresh child processes for its time (the least of 7, interleaved) and its peak memory.
// Also times Install copying a large tree against cp doing the same copies.
//
// Usage: ini_bench CORPUS_DIR [INSTALL_PROGRAM|-] [ONLY_CORPORA_CONTAINING]
#include <fcntl.h>
#include <ini.h>  // inih
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#define SI_NO_CONVERSION  // bytes in, bytes out, like this library
#include <SimpleIni.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/corpora.h"
#include "ini/ini.h"
#include "ini/project_internal.h"
#include "install/install.h"
#include "platform/platform.h"
#include "tests/test_util.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The hash seed the colliding corpus is made for.
constexpr std::uint64_t kBenchSeed = 0x5EEDull;

// The document floor: every non-empty line in an exact-size heap block, a 16-byte record
// pointing at it, and the records in one array. No syntax work at all.
struct FloorRecord {
  char* line;
  std::size_t length;
};

// The model floor adds what the public data model requires of every section on top: a
// 24-byte record and its 10 entry slots, in one block per section header line.
constexpr std::size_t kSectionModelBytes = 24 + 10 * sizeof(void*);

struct FloorDocument {
  bool model = false;  // the model floor: a section block for every header line
  std::vector<FloorRecord*> records;
  std::vector<void*> sections;
  ~FloorDocument() {
    for (FloorRecord* record : records) {
      std::free(record->line);
      std::free(record);
    }
    for (void* section : sections) std::free(section);
  }
};

void AddFloorLine(FloorDocument* document, const char* bytes, std::size_t length) {
  if (length == 0) return;
  if (document->model && bytes[0] == '[') {
    auto* section = static_cast<char*>(std::malloc(kSectionModelBytes));
    section[0] = 0;  // touched, as a real record would be
    document->sections.push_back(section);
  }
  auto* record = static_cast<FloorRecord*>(std::malloc(sizeof(FloorRecord)));
  record->line = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(record->line, bytes, length);
  record->line[length] = '\0';
  record->length = length;
  document->records.push_back(record);
}

bool LoadFloor(const char* path, FloorDocument* document) {
  platform::FileSystem& disk = platform::RealFileSystem();
  platform::File file;
  if (disk.OpenForReading(path, platform::Accept::kAnyFile, &file) != platform::Opened::kYes)
    return false;
  char block[1024];
  std::string partial;
  std::uint32_t got = 0;
  while (disk.Read(file, block, sizeof block, &got) && got > 0) {
    const char* start = block;
    const char* end = block + got;
    while (const char* lf = static_cast<const char*>(std::memchr(start, '\n', end - start))) {
      if (partial.empty()) {
        AddFloorLine(document, start, lf - start);
      } else {
        partial.append(start, lf);
        AddFloorLine(document, partial.data(), partial.size());
        partial.clear();
      }
      start = lf + 1;
    }
    partial.append(start, end);
  }
  AddFloorLine(document, partial.data(), partial.size());
  disk.Close(file);
  return true;
}

// The store floor: the document floor's lines, each with its line feed, copied into a
// reused 64 KiB buffer that is written whenever it is full. `durable` takes the steps that
// make a save safe, as the library's store does: a temporary beside the target, flushed to
// the disk and moved over it. Without them the file is simply written in place, which
// shows what the flush costs.
bool StoreFloor(const FloorDocument& document, const char* path, bool durable) {
  platform::FileSystem& disk = platform::RealFileSystem();
  platform::Replacement replacement;
  platform::File file;
  if (durable) {
    if (!disk.BeginReplacing(path, platform::AtLink::kFollow, &replacement)) return false;
    file = replacement.file;
  } else {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    file.value = fd;
  }
  static char buffer[64 * 1024];
  std::size_t used = 0;
  std::uint32_t written = 0;
  bool ok = true;
  auto flush = [&] {
    ok = ok && disk.Write(file, buffer, static_cast<std::uint32_t>(used), &written) &&
         written == used;
    used = 0;
  };
  for (const FloorRecord* record : document.records) {
    const char* line = record->line;
    std::size_t left = record->length + 1;  // with its line feed
    while (left > 0) {
      if (used == sizeof buffer) flush();
      std::size_t n = std::min(left, sizeof buffer - used);
      std::memcpy(buffer + used, line, n);
      if (n == left) buffer[used + n - 1] = '\n';
      used += n;
      line += n;
      left -= n;
    }
  }
  flush();
  if (!durable) return disk.Close(file) && ok;
  if (!ok) {
    disk.AbandonReplacing(&replacement);
    return false;
  }
  return disk.FinishReplacing(&replacement) == platform::Finished::kDone;
}

// The model store floor: the least any store of this data model costs. It walks a loaded
// document's sections and entries, as the library's store does, and copies each name, key
// and value (whose lengths the model does not keep) with the bytes around it into the same
// reused 64 KiB buffer, through the same durable steps; no check and no escape.
bool StoreModelFloor(const IniDocument* document, const char* path) {
  platform::FileSystem& disk = platform::RealFileSystem();
  platform::Replacement replacement;
  if (!disk.BeginReplacing(path, platform::AtLink::kFollow, &replacement)) return false;
  static char buffer[64 * 1024];
  std::size_t used = 0;
  std::uint32_t written = 0;
  bool ok = true;
  auto put = [&](const char* text, std::size_t length) {
    while (length > 0) {
      if (used == sizeof buffer) {
        ok = ok && disk.Write(replacement.file, buffer, static_cast<std::uint32_t>(used), &written);
        used = 0;
      }
      const std::size_t n = std::min(length, sizeof buffer - used);
      std::memcpy(buffer + used, text, n);
      used += n;
      text += n;
      length -= n;
    }
  };
  for (std::int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    put("[", 1);
    put(section->name, std::strlen(section->name));
    put("]\n", 2);
    for (std::int32_t e = 0; e < section->count; ++e) {
      put(section->entries[e]->key, std::strlen(section->entries[e]->key));
      put("=", 1);
      put(section->entries[e]->value, std::strlen(section->entries[e]->value));
      put("\n", 1);
    }
  }
  ok = ok && disk.Write(replacement.file, buffer, static_cast<std::uint32_t>(used), &written);
  if (!ok) {
    disk.AbandonReplacing(&replacement);
    return false;
  }
  return disk.FinishReplacing(&replacement) == platform::Finished::kDone;
}

// inih building an ordered document of sections and entries from its callbacks.
struct PeerSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;
};

int InihHandler(void* user, const char* section, const char* key, const char* value) {
  auto* sections = static_cast<std::vector<PeerSection>*>(user);
  if (sections->empty() || sections->back().name != section) sections->push_back({section, {}});
  sections->back().entries.emplace_back(key, value);
  return 1;
}

std::size_t Entries(const IniDocument* document) {
  std::size_t n = 0;
  for (int32_t s = 0; s < document->count; ++s)
    n += static_cast<std::size_t>(document->sections[s]->count);
  return n;
}

// One measured run of `what` on `path`: returns the seconds taken and the number of
// entries it saw (0 when it failed), so runs of different readers can be checked alike.
// What one measure runs on: the corpus file, and where a store writes.
struct Job {
  const std::string& path;
  const std::string& out;
};

// The seconds `body` takes.
template <typename Body>
double Timed(Body body) {
  const auto start = Clock::now();
  body();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double LoadFloorOf(const Job& job, std::size_t* entries, bool model) {
  return Timed([&] {
    FloorDocument document;
    document.model = model;
    LoadFloor(job.path.c_str(), &document);
    *entries = document.records.size();
  });
}

double LoadOurs(const Job& job, std::size_t* entries) {
  return Timed([&] {
    IniDocument* document = ini_load_file(job.path.c_str());
    if (document != nullptr) *entries = Entries(document);
    ini_free_document(document);
  });
}

double LoadInih(const Job& job, std::size_t* entries) {
  return Timed([&] {
    std::vector<PeerSection> sections;
    if (ini_parse(job.path.c_str(), InihHandler, &sections) == 0) {
      for (const PeerSection& s : sections) *entries += s.entries.size();
    }
  });
}

double LoadSimpleIni(const Job& job, std::size_t* entries) {
  return Timed([&] {
    CSimpleIniCaseA ini(false, true, false);
    if (ini.LoadFile(job.path.c_str()) == SI_OK) {
      CSimpleIniCaseA::TNamesDepend sections;
      ini.GetAllSections(sections);
      for (const auto& s : sections)
        *entries += static_cast<std::size_t>(ini.GetSectionSize(s.pItem));
    }
  });
}

// What the data model asks of every section at least: a record (name, entries, count,
// capacity) with its 10 entry slots, 104 bytes.
constexpr std::size_t kSectionRecord = 24 + 10 * sizeof(void*);

// The machine's floor: the file read whole into one fresh block of huge pages (the cheapest
// memory there is) in 64 KiB reads, and one memchr pass over it for the line ends, the least
// any reader does with the bytes. With `records`, each line that opens with '[' also gets a
// section record, carved from a second such block and filled: what the data model adds.
double ReadFloor(const Job& job, std::size_t* entries, bool records) {
  return Timed([&] {
    platform::FileSystem& disk = platform::RealFileSystem();
    platform::File file;
    const std::uint64_t size = std::filesystem::file_size(job.path);
    if (disk.OpenForReading(job.path.c_str(), platform::Accept::kAnyFile, &file) !=
        platform::Opened::kYes)
      return;
    auto* block = static_cast<char*>(platform::AllocateLarge(size + 1));
    std::uint64_t filled = 0;
    std::uint32_t got = 0;
    while (disk.Read(file, block + filled,
                     static_cast<std::uint32_t>(std::min<std::uint64_t>(65536, size + 1 - filled)),
                     &got) &&
           got > 0) {
      filled += got;
    }
    disk.Close(file);
    std::size_t lines = 0;
    for (const char* p = block;
         (p = static_cast<const char*>(std::memchr(p, '\n', block + filled - p))) != nullptr; ++p) {
      ++lines;
    }
    *entries = lines + 1;
    if (records) {
      const std::size_t room = (lines + 1) * kSectionRecord;
      auto* carved = static_cast<char*>(platform::AllocateLarge(room));
      char* next = carved;
      for (const char* line = block; line < block + filled; ++line) {
        if (*line == '[') {
          IniSection* section = reinterpret_cast<IniSection*>(next);
          *section = {0, 10, const_cast<char*>(line), reinterpret_cast<IniEntry**>(next + 24)};
          next += kSectionRecord;
        }
        line = static_cast<const char*>(std::memchr(line, '\n', block + filled - line));
        if (line == nullptr) break;
      }
      platform::ReleaseLarge(carved, room);
    }
    platform::ReleaseLarge(block, size + 1);
  });
}

double StoreFloorOf(const Job& job, std::size_t* entries, bool durable) {
  FloorDocument document;
  LoadFloor(job.path.c_str(), &document);
  return Timed([&] {
    if (StoreFloor(document, job.out.c_str(), durable)) *entries = document.records.size();
  });
}

double StoreOurs(const Job& job, std::size_t* entries) {
  IniDocument* document = ini_load_file(job.path.c_str());
  const double seconds = Timed([&] {
    if (document != nullptr && ini_store_file(document, job.out.c_str()) == 0)
      *entries = Entries(document);
  });
  ini_free_document(document);
  return seconds;
}

double StoreModelFloorOf(const Job& job, std::size_t* entries) {
  IniDocument* document = ini_load_file(job.path.c_str());
  const double seconds = Timed([&] {
    if (document != nullptr && StoreModelFloor(document, job.out.c_str()))
      *entries = Entries(document);
  });
  ini_free_document(document);
  return seconds;
}

double StoreSimpleIni(const Job& job, std::size_t* entries) {
  CSimpleIniCaseA ini(false, true, false);
  ini.LoadFile(job.path.c_str());
  return Timed([&] {
    if (ini.SaveFile(job.out.c_str(), false) == SI_OK) *entries = 1;
  });
}

// Copying the first section, against loading it: the load is done before the clock.
// `seeded` fixes the hash seed to the one the colliding corpus was made for. The floor is
// the least any copy costs that gives each entry a block of its own: one heap block per key
// (all keys here differ), key and value copied into it, then released.
double CopyOf(const Job& job, std::size_t* entries, bool floor, bool seeded) {
  IniDocument* document = ini_load_file(job.path.c_str());
  if (document == nullptr || document->count == 0) return 0;
  if (seeded) ini_detail::SetHashSeedForTesting(kBenchSeed);
  const IniSection* source = document->sections[0];
  const double seconds = Timed([&] {
    if (floor) {
      std::vector<char*> blocks(static_cast<std::size_t>(source->count));
      for (int32_t i = 0; i < source->count; ++i) {
        const std::size_t key = std::strlen(source->entries[i]->key) + 1;
        const std::size_t value = std::strlen(source->entries[i]->value) + 1;
        char* block = static_cast<char*>(std::malloc(16 + key + value));
        std::memcpy(block + 16, source->entries[i]->key, key);
        std::memcpy(block + 16 + key, source->entries[i]->value, value);
        blocks[static_cast<std::size_t>(i)] = block;
      }
      *entries = blocks.size();
      for (char* block : blocks) std::free(block);
    } else {
      IniSection* copy = ini_copy_section(source, "copy");
      *entries = static_cast<std::size_t>(copy->count);
      ini_free_section(copy);
    }
  });
  ini_free_document(document);
  return seconds;
}

// A document loaded, a key added to every section (which gives each section heap pieces
// beside its loaded ones), and released: from the file, or through a pipe, where the size
// is not known.
double Touch(const Job& job, std::size_t* entries, bool through_pipe) {
  int fds[2] = {-1, -1};
  std::thread writer;
  std::string from = job.path;
  if (through_pipe) {
    if (pipe(fds) != 0) return 0;
    from = "/dev/fd/" + std::to_string(fds[0]);
    writer = std::thread([&path = job.path, fd = fds[1]] {
      std::FILE* file = std::fopen(path.c_str(), "rb");
      char block[1 << 16];
      for (std::size_t n; file != nullptr && (n = std::fread(block, 1, sizeof block, file)) > 0;) {
        if (write(fd, block, n) != static_cast<ssize_t>(n)) break;
      }
      if (file != nullptr) std::fclose(file);
      close(fd);
    });
  }
  bool loaded = false;
  const double seconds = Timed([&] {
    IniDocument* document = ini_load_file(from.c_str());
    if (writer.joinable()) writer.join();
    if (document == nullptr) return;
    loaded = true;
    for (int32_t s = 0; s < document->count; ++s)
      ini_set_value(document->sections[s], "added", "1");
    *entries = Entries(document);
    ini_free_document(document);
  });
  if (fds[0] >= 0) close(fds[0]);
  return loaded ? seconds : 0;
}

// A plain load and store of the corpus, against a load that keeps the text and a store of
// its edits back to the same path (which reads the file again to know it unchanged); the
// file stored to is a copy of the corpus, made before the clock.
double LoadAndStore(const Job& job, std::size_t* entries, bool keeping) {
  std::filesystem::copy_file(job.path, job.out, std::filesystem::copy_options::overwrite_existing);
  return Timed([&] {
    IniDocument* document = keeping ? ini_load_file_for_editing(job.out.c_str(), nullptr)
                                    : ini_load_file(job.path.c_str());
    if (document != nullptr && (keeping ? ini_store_edits(document, job.out.c_str())
                                        : ini_store_file(document, job.out.c_str())) == 0) {
      *entries = Entries(document);
    }
    ini_free_document(document);
  });
}

// Lookups by name in typical, loaded before the clock: every key of every section through
// ini_get_value, and 20 section names spread over the file through ini_find_section (each a
// walk of the sections before it). Exact by default; `fold` switches the document to ignore
// case first. The names are copied out first, so no lookup compares a text with itself.
double Lookups(const Job& job, std::size_t* entries, bool fold) {
  IniDocument* document = ini_load_file(job.path.c_str());
  if (document == nullptr || document->count == 0) return 0;
  if (fold) ini_set_ignore_case(document, 1);
  std::vector<std::string> keys, sections;
  for (int32_t s = 0; s < document->count; ++s) {
    for (int32_t e = 0; e < document->sections[s]->count; ++e)
      keys.emplace_back(document->sections[s]->entries[e]->key);
  }
  for (int32_t i = 0; i < 20; ++i)
    sections.emplace_back(document->sections[document->count / 20 * i]->name);
  std::size_t found = 0;
  const double seconds = Timed([&] {
    std::size_t k = 0;
    for (int32_t s = 0; s < document->count; ++s) {
      const IniSection* section = document->sections[s];
      for (int32_t e = 0; e < section->count; ++e)
        found += ini_get_value(section, keys[k++].c_str()) != nullptr;
    }
    for (const std::string& name : sections)
      found += ini_find_section(document, name.c_str()) != nullptr;
  });
  *entries = found == keys.size() + sections.size() ? found : 0;
  ini_free_document(document);
  return seconds;
}

// Every measure by the name the driver gives it.
using Timing = double (*)(const Job&, std::size_t* entries);
const struct {
  const char* what;
  Timing timing;
} kTimings[] = {
    {"load:floor", [](const Job& j, std::size_t* e) { return LoadFloorOf(j, e, false); }},
    {"load:model-floor", [](const Job& j, std::size_t* e) { return LoadFloorOf(j, e, true); }},
    {"load:ours", LoadOurs},
    {"load:inih", LoadInih},
    {"load:simpleini", LoadSimpleIni},
    {"load:read-floor", [](const Job& j, std::size_t* e) { return ReadFloor(j, e, false); }},
    {"load:records-floor", [](const Job& j, std::size_t* e) { return ReadFloor(j, e, true); }},
    {"store:floor", [](const Job& j, std::size_t* e) { return StoreFloorOf(j, e, true); }},
    {"store:floor-in-place",
     [](const Job& j, std::size_t* e) { return StoreFloorOf(j, e, false); }},
    {"store:ours", StoreOurs},
    {"store:model-floor", StoreModelFloorOf},
    {"store:simpleini", StoreSimpleIni},
    {"edit:plain", [](const Job& j, std::size_t* e) { return LoadAndStore(j, e, false); }},
    {"edit:keeping", [](const Job& j, std::size_t* e) { return LoadAndStore(j, e, true); }},
    {"copy:ours", [](const Job& j, std::size_t* e) { return CopyOf(j, e, false, false); }},
    {"copy:floor", [](const Job& j, std::size_t* e) { return CopyOf(j, e, true, false); }},
    {"copy:seeded", [](const Job& j, std::size_t* e) { return CopyOf(j, e, false, true); }},
    {"touch:file", [](const Job& j, std::size_t* e) { return Touch(j, e, false); }},
    {"touch:pipe", [](const Job& j, std::size_t* e) { return Touch(j, e, true); }},
    {"lookup:exact", [](const Job& j, std::size_t* e) { return Lookups(j, e, false); }},
    {"lookup:ignoring-case", [](const Job& j, std::size_t* e) { return Lookups(j, e, true); }},
};

double RunOnce(const std::string& what, const std::string& path, const std::string& out,
               std::size_t* entries) {
  *entries = 0;
  for (const auto& t : kTimings) {
    if (what == t.what) return t.timing(Job{path, out}, entries);
  }
  return 0;  // "none": the memory of an idle child
}

// The peak resident memory of this process so far, in KiB.
long PeakKib() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  long kib = 0;
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  if (status != nullptr) std::fclose(status);
  return kib;
}

// A small file, loaded again and again: prints the time of one load and free (the least of
// 15 rounds of 2,000 loads) and the heap bytes one loaded document holds.
int SmallChild(const std::string& path) {
  // The heap one document holds, measured first, while no freed block can be reused.
  const std::size_t before = mallinfo2().uordblks;
  IniDocument* document = ini_load_file(path.c_str());
  const std::size_t held = mallinfo2().uordblks - before;
  if (document == nullptr) return 1;
  const std::size_t entries = Entries(document);
  ini_free_document(document);
  std::vector<double> per_load;
  for (int round = 0; round < 15; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < 2000; ++i) ini_free_document(ini_load_file(path.c_str()));
    per_load.push_back(std::chrono::duration<double>(Clock::now() - start).count() / 2000);
  }
  // Its floor: the file opened, asked its size, read whole and closed, as the loader must.
  std::vector<double> per_read;
  char bytes[4096];
  for (int round = 0; round < 15; ++round) {
    auto start = Clock::now();
    for (int i = 0; i < 2000; ++i) {
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      struct stat st;
      if (fd < 0 || fstat(fd, &st) != 0 || read(fd, bytes, sizeof bytes) <= 0) return 1;
      close(fd);
    }
    per_read.push_back(std::chrono::duration<double>(Clock::now() - start).count() / 2000);
  }
  const double load = *std::min_element(per_load.begin(), per_load.end());
  const double floor = *std::min_element(per_read.begin(), per_read.end());
  std::printf(
      "%.2f us per load; floor (open, fstat, read, close) %.2f us, ratio %.2f; %zu heap bytes held "
      "by the document; %zu entries\n",
      load * 1e6, floor * 1e6, load / floor, held, entries);
  return 0;
}

// The child: runs `what` `runs` times and prints "min median entries peak_kib".
int Child(const std::string& what, const std::string& path, const std::string& out, int runs) {
  std::vector<double> times;
  std::size_t entries = 0;
  for (int i = 0; i < runs; ++i) times.push_back(RunOnce(what, path, out, &entries));
  std::sort(times.begin(), times.end());
  std::printf("%.6f %.6f %zu %ld\n", times.front(), times[times.size() / 2], entries, PeakKib());
  return 0;
}

struct Measure {
  // The least time of the runs, which the table shows. What disturbs a run here (other
  // work, the host's handling of fresh memory) only ever adds time, so the least is the
  // figure that repeats from one run of the benchmark to the next; medians wandered by
  // 10 to 20 percent between runs.
  double min = 0;
  std::size_t entries = 0;
  long peak_kib = 0;
  bool ok = false;
};

// Starts `argv` and waits for it, collecting its standard output.
bool Spawn(const std::vector<std::string>& args, std::string* output) {
  std::string capture = std::filesystem::temp_directory_path() / "ini_bench_child.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  bool ok = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (ok) ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (output != nullptr) {
    std::FILE* file = std::fopen(capture.c_str(), "r");
    char line[256] = {};
    if (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) *output = line;
    if (file != nullptr) std::fclose(file);
  }
  return ok;
}

// Runs each of `whats` in `runs` fresh child processes, one run each: a program loads its
// configuration once, into fresh memory, and that is what is measured. The runs are
// interleaved (one of each, then again), so that a slow spell of the machine, and fresh
// memory costs here wander by tens of percent, falls on all of them alike.
std::vector<Measure> Measured(const std::string& self, const std::vector<std::string>& whats,
                              const std::string& path, const std::string& out, int runs) {
  std::vector<Measure> measures(whats.size());
  std::vector<std::vector<double>> times(whats.size());
  std::vector<bool> failed(whats.size(), false);
  for (int i = 0; i < runs; ++i) {
    for (std::size_t w = 0; w < whats.size(); ++w) {
      Measure& m = measures[w];
      std::string line;
      double seconds = 0;
      long peak = 0;
      if (failed[w] || !Spawn({self, "--child", whats[w], path, out, "1"}, &line) ||
          std::sscanf(line.c_str(), "%lf %*f %zu %ld", &seconds, &m.entries, &peak) != 3) {
        failed[w] = true;
        continue;
      }
      times[w].push_back(seconds);
      m.peak_kib = std::max(m.peak_kib, peak);
    }
  }
  for (std::size_t w = 0; w < whats.size(); ++w) {
    if (failed[w]) continue;
    measures[w].min = *std::min_element(times[w].begin(), times[w].end());
    measures[w].ok = measures[w].entries > 0;
  }
  return measures;
}

std::string Cell(const Measure& m) {
  if (!m.ok) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, "%.1f ms", m.min * 1000);
  return text;
}

std::string Ratio(const Measure& a, const Measure& b) {
  if (!a.ok || !b.ok) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", a.min / b.min);
  return text;
}

double TimeCommand(const std::vector<std::string>& args, int runs) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    if (!Spawn(args, nullptr)) return -1;
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  return *std::min_element(times.begin(), times.end());
}

// ini-edit setting one key in a copy of `path`, as a script runs it: the least time of `runs`
// and the most memory a run held at once (its peak resident size), in KiB.
void TimeEditTool(const std::string& tool, const std::string& path, const std::string& out,
                  int runs, double* seconds, long* peak_kib) {
  *seconds = -1;
  *peak_kib = 0;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    std::filesystem::copy_file(path, out, std::filesystem::copy_options::overwrite_existing);
    std::vector<std::string> args = {tool, out, "--set", "section000042", "tool", "set"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return;
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      return;
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    *peak_kib = std::max(*peak_kib, usage.ru_maxrss);
  }
  *seconds = *std::min_element(times.begin(), times.end());
}

// Cases whose shape is chosen to hurt: a document read through a pipe, whose size is not
// known, and a section whose keys all have one hash (made for a known seed); each against
// the same work on an ordinary input.
void BenchWorstCases(const std::string& self, const std::string& dir, const std::string& out,
                     const std::string& tool) {
  const std::string typical = dir + "/typical.ini";
  bench::MakeCorpus("typical", typical);
  const std::vector<Measure> touch = Measured(self, {"touch:file", "touch:pipe"}, typical, out, 5);
  std::printf(
      "Loading typical, a key added to every section, released: from the file %s; "
      "through a pipe %s; ratio %s\n",
      Cell(touch[0]).c_str(), Cell(touch[1]).c_str(), Ratio(touch[1], touch[0]).c_str());
  const std::vector<Measure> lookup =
      Measured(self, {"lookup:exact", "lookup:ignoring-case"}, typical, out, 7);
  std::printf(
      "Lookups in typical, every key of every section and 20 sections by name: exact %s; "
      "ignoring case %s; ratio %s\n",
      Cell(lookup[0]).c_str(), Cell(lookup[1]).c_str(), Ratio(lookup[1], lookup[0]).c_str());
  const std::vector<Measure> edit = Measured(self, {"edit:plain", "edit:keeping"}, typical, out, 7);
  std::printf(
      "Loading typical and storing it: plain (ini_load_file, ini_store_file) %s; keeping its "
      "text (ini_load_file_for_editing, ini_store_edits back to it) %s; ratio %s\n",
      Cell(edit[0]).c_str(), Cell(edit[1]).c_str(), Ratio(edit[1], edit[0]).c_str());
  std::printf("  peak memory: plain %.1f MiB, keeping %.1f MiB; the file %.1f MiB\n",
              edit[0].peak_kib / 1024.0, edit[1].peak_kib / 1024.0,
              std::filesystem::file_size(typical) / 1048576.0);
  if (!tool.empty()) {
    // Both as whole programs, start and exit included: ini-edit, and a child that loads and
    // stores plainly.
    double seconds;
    long peak;
    TimeEditTool(tool, typical, out, 7, &seconds, &peak);
    const double plain = TimeCommand({self, "--child", "edit:plain", typical, out, "1"}, 7);
    std::printf(
        "ini-edit --set on typical: %.1f ms; a program's plain load and store %.1f ms, ratio "
        "%.2f; ini-edit's peak memory %.1f MiB, %.2f times the file\n",
        seconds * 1000, plain * 1000, seconds / plain, peak / 1024.0,
        peak * 1024.0 / static_cast<double>(std::filesystem::file_size(typical)));
  }

  const std::size_t count = 80000;
  const std::string colliding = dir + "/colliding-80K.ini", ordinary = dir + "/ordinary-80K.ini";
  const std::vector<std::string> keys = testing_support::CollidingKeys(count, kBenchSeed);
  std::string colliding_text = "[keys]\n", ordinary_text = "[keys]\n";
  for (std::size_t i = 0; i < count; ++i) {
    colliding_text += keys[i] + "=" + std::to_string(i) + "\n";
    char key[17];
    std::snprintf(key, sizeof key, "k%07zuordinary", i);  // 16 bytes, as the colliding keys
    ordinary_text += std::string(key) + "=" + std::to_string(i) + "\n";
  }
  testing_support::WriteFileBytes(colliding, colliding_text);
  testing_support::WriteFileBytes(ordinary, ordinary_text);
  const Measure colliding_copy = Measured(self, {"copy:seeded"}, colliding, out, 5)[0];
  const Measure ordinary_copy = Measured(self, {"copy:seeded"}, ordinary, out, 5)[0];
  std::printf(
      "Copying a section of 80,000 keys of one hash: %s; of 80,000 ordinary keys: %s; "
      "ratio %s\n",
      Cell(colliding_copy).c_str(), Cell(ordinary_copy).c_str(),
      Ratio(colliding_copy, ordinary_copy).c_str());
}

// Install on a tree of seven 16 MB launchers and two 4 MB boot files, against cp making
// the same copies.
void BenchInstall(const std::string& dir, const std::string& install) {
  namespace fs = std::filesystem;
  const std::string root = dir + "/install-tree";
  fs::create_directories(root + "/qcore-4.0.1/bin");
  fs::create_directories(root + "/releases/26");
  auto fill = [](const std::string& path, std::size_t size) {
    std::error_code error;
    if (fs::file_size(path, error) == size) return;
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  };
  std::string launchers;
  for (const char* name : install::kLaunchers) {
    fill(root + "/qcore-4.0.1/bin/" + name, 16u << 20);
    launchers += " " + root + "/qcore-4.0.1/bin/" + name;
  }
  fill(root + "/releases/26/launch_lean.boot", 4u << 20);
  fill(root + "/releases/26/launch_tolbe.boot", 4u << 20);
  std::FILE* ini = std::fopen((root + "/Install.ini").c_str(), "wb");
  std::fputs("[Install]\nVSN=4.0.1\nSYSTEM_VSN=26\n", ini);
  std::fclose(ini);

  const std::string bin = root + "/bin";
  const std::string cp = "mkdir -p " + bin + " && cp" + launchers + " " + root +
                         "/releases/26/launch_lean.boot " + root +
                         "/releases/26/launch_tolbe.boot " + bin + " && cp " + bin +
                         "/launch_lean.boot " + bin + "/launch.boot";
  // Install flushes each copy to the disk before it moves it into place; cp does not, so
  // cp followed by sync of the copies is the floor for copies that survive a power cut.
  double ours = TimeCommand({install, "-s", root}, 9);
  double theirs = TimeCommand({"/bin/sh", "-c", cp}, 9);
  double durable = TimeCommand({"/bin/sh", "-c", cp + " && sync " + bin + "/*"}, 9);
  std::printf(
      "\nInstall copying 7 x 16 MB + 2 x 4 MB: %.1f ms; cp making the same copies: %.1f ms, "
      "ratio %.2f; cp and sync of the copies: %.1f ms, ratio %.2f\n",
      ours * 1000, theirs * 1000, ours / theirs, durable * 1000, ours / durable);
}

// The lines printed under the table: what the corpora showed beside their row.
struct Notes {
  std::string copy, records, model_store;
};

void PrintTableHeader() {
  std::printf(
      "%-14s %8s | %10s %10s %11s %10s %10s %10s | %6s %7s %7s %6s %6s | %9s %9s %6s | %10s %10s "
      "%10s %6s %10s\n",
      "corpus", "MB", "ours", "floor", "model floor", "read floor", "inih", "SimpleIni", "ours/f",
      "ours/mf", "ours/rf", "inih/f", "SI/f", "ours MiB", "floor MiB", "mem/f", "store", "st.floor",
      "SI store", "st/f", "in place");
}

// Measures one corpus, made at `path` first: its row of the table, its load times in `tsv`
// (milliseconds, -1 where a program could not read it), and its notes.
void BenchCorpus(const std::string& self, const std::string& path, const std::string& out,
                 const std::string& name, const Measure& idle, std::FILE* tsv, Notes* notes) {
  bench::MakeCorpus(name, path);
  const int runs = 7;
  std::vector<std::string> whats = {
      "load:ours",  "load:floor",  "load:model-floor", "load:inih",       "load:simpleini",
      "store:ours", "store:floor", "store:simpleini",  "load:read-floor", "store:floor-in-place"};
  const bool copy = name == "keys-1M";  // one section of a million keys
  if (copy) {
    whats.push_back("copy:ours");
    whats.push_back("copy:floor");
  }
  whats.push_back("store:model-floor");
  // Of many sections, what their records cost even the read floor.
  const bool records = name.rfind("sections", 0) == 0;
  if (records) whats.push_back("load:records-floor");
  const std::vector<Measure> m = Measured(self, whats, path, out, runs);
  const Measure &ours = m[0], &floor = m[1], &model_floor = m[2], &store = m[5],
                &store_floor = m[6], &store_simple = m[7], &read_floor = m[8];
  const Measure& store_in_place = m[9];
  if (copy) {
    notes->copy = "Copying the section of " + name + ": " + Cell(m[10]) +
                  "; its copy floor: " + Cell(m[11]) + ", ratio " + Ratio(m[10], m[11]) +
                  "; loading it: " + Cell(ours) + ", ratio " + Ratio(m[10], ours) + "\n";
  }
  const Measure& store_model_floor = m[whats.size() - (records ? 2 : 1)];
  notes->model_store += name + ": store " + Ratio(store, store_model_floor) +
                        " times the model store floor (" + Cell(store_model_floor) + ")\n";
  if (records) {
    const Measure& with_records = m.back();
    notes->records += name + ": the read floor with a section record and its 10 slots " +
                      "for each header line " + Cell(with_records) + ", " +
                      Ratio(with_records, read_floor) + " times the read floor; ours " +
                      Ratio(ours, with_records) + " times that\n";
  }
  Measure inih = m[3], simple = m[4];
  // A peer that saw fewer entries than we did did not read the file whole.
  if (inih.entries != ours.entries) inih.ok = false;
  if (simple.entries != ours.entries) simple.ok = false;
  double mib = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  std::printf(
      "%-14s %8.1f | %10s %10s %11s %10s %10s %10s | %6s %7s %7s %6s %6s | %9.1f %9.1f %6.2f | "
      "%10s %10s %10s %6s %10s\n",
      name.c_str(), mib, Cell(ours).c_str(), Cell(floor).c_str(), Cell(model_floor).c_str(),
      Cell(read_floor).c_str(), Cell(inih).c_str(), Cell(simple).c_str(),
      Ratio(ours, floor).c_str(), Ratio(ours, model_floor).c_str(), Ratio(ours, read_floor).c_str(),
      Ratio(inih, floor).c_str(), Ratio(simple, floor).c_str(),
      (ours.peak_kib - idle.peak_kib) / 1024.0, (floor.peak_kib - idle.peak_kib) / 1024.0,
      static_cast<double>(ours.peak_kib - idle.peak_kib) /
          static_cast<double>(floor.peak_kib - idle.peak_kib),
      Cell(store).c_str(), Cell(store_floor).c_str(), Cell(store_simple).c_str(),
      Ratio(store, store_floor).c_str(), Cell(store_in_place).c_str());
  std::fflush(stdout);
  auto ms = [](const Measure& measure) { return measure.ok ? measure.min * 1000 : -1.0; };
  std::fprintf(tsv, "%s\t%.2f\t%.2f\t%.2f\t%.2f\t%.2f\n", name.c_str(), ms(ours), ms(floor),
               ms(inih), ms(simple), ms(model_floor));
}

// A small file: the time of one load and the heap it holds, from a child of its own.
void BenchSmallFile(const std::string& self, const std::string& dir) {
  const std::string small = dir + "/small-1K.ini";
  bench::MakeCorpus("small-1K", small);
  std::string line;
  Spawn({self, "--small", small}, &line);
  std::printf("A 1 KiB file: %s", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "--child") == 0) {
    return Child(argv[2], argv[3], argv[4], std::atoi(argv[5]));
  }
  if (argc == 3 && std::strcmp(argv[1], "--small") == 0) return SmallChild(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [INSTALL_PROGRAM|- [ONLY]]\n", argv[0]);
    return 2;
  }
  // Every child, floors and peers included, gets the cheapest memory the machine has: glibc
  // backs its heap with transparent huge pages, as the library backs its large blocks.
  // Fresh 4 KiB pages cost about thirty times as much here, and would make the floors
  // measure the host's page faults rather than the least work a load must do.
  setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1);
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();
  const std::string dir = argv[1];
  std::filesystem::create_directories(dir);
  const std::string out = dir + "/stored.ini";
  const std::string install = argc >= 3 && std::strcmp(argv[2], "-") != 0 ? argv[2] : "";
  const std::string only = argc >= 4 ? argv[3] : "";
  Measure idle = Measured(self, {"none"}, "", out, 1)[0];
  idle.ok = true;

  std::FILE* tsv = std::fopen((dir + "/results.tsv").c_str(), "w");
  std::fprintf(tsv, "corpus\tours\tfloor\tinih\tSimpleIni\tmodel floor\n");
  PrintTableHeader();
  Notes notes;
  for (const bench::Corpus& corpus : bench::Corpora()) {
    if (corpus.name.find(only) != std::string::npos)
      BenchCorpus(self, dir + "/" + corpus.name + ".ini", out, corpus.name, idle, tsv, &notes);
  }
  std::fclose(tsv);
  std::printf("\n%s%s%s", notes.records.c_str(), notes.model_store.c_str(), notes.copy.c_str());
  // ini-edit, built beside Install.
  const std::string tool =
      install.empty() ? "" : (std::filesystem::path(install).parent_path() / "ini-edit").string();
  if (only.empty() || only == "extra") BenchWorstCases(self, dir, out, tool);
  if (only.empty() || std::string("small-1K").find(only) != std::string::npos)
    BenchSmallFile(self, dir);
  if (!install.empty()) BenchInstall(dir, install);
  return 0;
}
