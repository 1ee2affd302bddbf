// The fuzzers' properties: reader guarantees, round trip, and a model of the document.
//
// The oracle: what these properties expect of the format (which bytes a name, key or value
// can carry, what an escape or a comment does) is written out here on its own, in plain
// string operations, and on purpose not taken from ini/format.h, which the library's code
// uses. A rule that the library and its format header get wrong together still disagrees
// with this statement of it.
#include "fuzz/properties.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ini/project_internal.h"
#include "tests/test_util.h"

namespace fuzz {
namespace {

using testing_support::Dump;

// What a file says of its size: the truth, nothing, or a size too small or too large.
enum class SizeHint { kTrue, kUnknown, kTooSmall, kTooLarge };

// One file in memory, as lean as can be, so the fuzzers spend their time in the library.
class OneFile final : public platform::FileSystem {
 public:
  std::string bytes;
  SizeHint size_hint = SizeHint::kTrue;
  // The most bytes each read delivers, in turn; empty: as many as asked.
  std::vector<std::uint32_t> read_lengths;

  platform::Opened OpenForReading(const char*, platform::Accept, platform::File* file) override {
    offset_ = 0;
    reads_ = 0;
    // A true size is one the open can give, as a regular file's: a short read at it ends
    // the file. The others are only what a size asked later may say.
    if (size_hint == SizeHint::kTrue) file->size_at_open = static_cast<std::int64_t>(bytes.size());
    return platform::Opened::kYes;
  }
  bool SizeOf(platform::File, std::uint64_t* size) override {
    switch (size_hint) {
      case SizeHint::kTrue:
        *size = bytes.size();
        return true;
      case SizeHint::kUnknown:
        return false;
      case SizeHint::kTooSmall:
        *size = bytes.size() / 3;
        return true;
      case SizeHint::kTooLarge:
        *size = bytes.size() * 3 + 1000;
        return true;
    }
    return false;
  }
  bool Read(platform::File, void* buffer, std::uint32_t size, std::uint32_t* got) override {
    std::size_t n = std::min<std::size_t>(size, bytes.size() - offset_);
    if (!read_lengths.empty())
      n = std::min<std::size_t>(n, read_lengths[reads_++ % read_lengths.size()]);
    std::memcpy(buffer, bytes.data() + offset_, n);
    offset_ += n;
    *got = static_cast<std::uint32_t>(n);
    return true;
  }
  bool Write(platform::File, const void* data, std::uint32_t size,
             std::uint32_t* written) override {
    bytes.append(static_cast<const char*>(data), size);
    *written = size;
    return true;
  }
  bool Close(platform::File) override { return true; }
  bool BeginReplacing(const char*, platform::AtLink, platform::Replacement*) override {
    bytes.clear();
    return true;
  }
  platform::Finished FinishReplacing(platform::Replacement*, platform::Publish) override {
    return platform::Finished::kDone;
  }
  platform::FileId IdOfNew(const platform::Replacement&) override { return {}; }
  bool Rewind(platform::File) override {
    offset_ = 0;
    return true;
  }
  platform::FileId IdOf(platform::File) override { return {}; }
  bool PlaceOf(const char*, platform::Place*) override { return false; }
  platform::Locked LockForEditing(const char*, std::uint32_t, platform::File*) override {
    return platform::Locked::kFailed;
  }
  void Unlock(platform::File) override {}
  platform::Failure LastFailure() override { return platform::Failure::kOther; }
  void AbandonReplacing(platform::Replacement*) override {}

 private:
  std::size_t offset_ = 0;
  std::size_t reads_ = 0;
};

IniDocument* LoadBytes(const std::string& bytes, IniLoadReport* report = nullptr,
                       SizeHint size_hint = SizeHint::kTrue,
                       const std::vector<std::uint32_t>& read_lengths = {}) {
  OneFile file;
  file.bytes = bytes;
  file.size_hint = size_hint;
  file.read_lengths = read_lengths;
  return ini_detail::LoadFile(file, "f.ini", report);
}

std::string DumpOrReport(const IniDocument* document, const IniLoadReport& report) {
  return (document != nullptr ? Dump(document) : "") + std::to_string(report.outcome) + ":" +
         std::to_string(report.line) + ":" + report.reason;
}

// The bytes stored, or why not: "-3" when the store refused the document.
std::string StoreBytes(const IniDocument* document) {
  OneFile file;
  const int result = ini_detail::StoreFile(file, document, "f.ini");
  if (result != 0) return std::to_string(result);
  return file.bytes;
}

bool HasLineBreak(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

bool HasOuterSpace(const char* text) {
  std::size_t length = std::strlen(text);
  return length > 0 && (text[0] == ' ' || text[length - 1] == ' ');
}

// What every document from the reader satisfies. Outer spaces are only ruled out when the
// input holds no NUL, since a NUL ends a line's string wherever it stands.
std::string CheckGuarantees(const IniDocument* document, bool has_nul) {
  for (int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    if (HasLineBreak(section->name)) return "section name with a line break";
    if (!has_nul && section->name[0] == '\0') return "empty section name";
    for (int32_t e = 0; e < section->count; ++e) {
      const IniEntry* entry = section->entries[e];
      if (entry->key[0] == '\0') return "empty key";
      if (std::strchr(entry->key, '=') != nullptr) return "key with '='";
      if (HasLineBreak(entry->key) || HasLineBreak(entry->value)) return "line break in entry";
      if (!has_nul && (HasOuterSpace(entry->key) || HasOuterSpace(entry->value))) {
        return "key or value with an outer space";
      }
    }
  }
  return "";
}

// What a parse saw: its lines in the shape of Dump(), and its first bad line.
struct Seen {
  std::string dump, first_bad;
};

int See(void* user, const IniLine* line) {
  Seen& seen = *static_cast<Seen*>(user);
  if (line->kind == INI_HEADER) {
    seen.dump += "[" + std::string(line->section) + "]\n";
  } else if (line->kind == INI_ENTRY) {
    seen.dump += "<" + std::string(line->key) + ">=<" + line->value + ">\n";
  } else if (seen.first_bad.empty()) {
    seen.first_bad =
        std::to_string(line->line) + ":" + std::to_string(line->column) + ":" + line->reason;
  }
  return 1;
}

// A parse line by line, which goes on past bad lines, gives the same outcome as the load;
// it sees the lines of the document, or first the line the load's report names.
std::string CheckParsed(const std::string& bytes, const IniDocument* plain,
                        const IniLoadReport& plain_report) {
  Seen seen;
  IniLoadReport report;
  const int outcome = ini_scan_memory(bytes.data(), bytes.size(), See, &seen, &report);
  const std::string where =
      std::to_string(report.line) + ":" + std::to_string(report.column) + ":" + report.reason;
  if (outcome != plain_report.outcome || report.outcome != outcome ||
      (plain == nullptr && where != std::to_string(plain_report.line) + ":" +
                                        std::to_string(plain_report.column) + ":" +
                                        plain_report.reason)) {
    return "a parse gave another result than the load";
  }
  if (plain != nullptr && (seen.dump != Dump(plain) || !seen.first_bad.empty())) {
    return "the parse saw other lines than the document holds";
  }
  if (plain == nullptr && report.outcome == INI_SYNTAX_ERROR && seen.first_bad != where) {
    return "the parse's first bad line is not the one reported";
  }
  return "";
}

// Calls `check` with each scan path (see ini/line_scan.h) this processor has in turn, the
// reference first, until it finds a problem; gives the problem, or "".
template <typename Check>
std::string OnEveryScanPath(Check check) {
  std::string problem;
  const ini_detail::ScanPath previous =
      ini_detail::SetScanPathForTesting(ini_detail::ScanPath::kReference);
  for (ini_detail::ScanPath path :
       {ini_detail::ScanPath::kReference, ini_detail::ScanPath::kPortable,
        ini_detail::ScanPath::kSse2, ini_detail::ScanPath::kAvx2}) {
    if (!ini_detail::Available(path) || !problem.empty()) continue;
    ini_detail::SetScanPathForTesting(path);
    problem = check(path);
  }
  ini_detail::SetScanPathForTesting(previous);
  return problem;
}

// Every scan path stores `document` as the reference does: the same bytes, or a refusal.
std::string CheckStoresAgree(const IniDocument* document) {
  std::string reference;
  return OnEveryScanPath([&](ini_detail::ScanPath path) -> std::string {
    const std::string stored = StoreBytes(document);
    if (path == ini_detail::ScanPath::kReference) reference = stored;
    return stored == reference ? "" : "a scan path stored otherwise than the reference";
  });
}

// Every way the reader can go over the bytes gives what the reference, byte by byte, gives:
// the same document or rejection, and for a load for editing the same text after the same
// edit; and every way the writer goes over a document stores it alike.
std::string CheckScanPaths(const std::string& bytes, const std::string& expected) {
  std::string reference_edit;
  return OnEveryScanPath([&](ini_detail::ScanPath path) -> std::string {
    std::string problem;
    IniLoadReport report;
    IniDocument* document = ini_load_memory(bytes.data(), bytes.size(), &report);
    if (DumpOrReport(document, report) != expected)
      problem = "a scan path gave another result than the reference";
    ini_free_document(document);
    IniDocument* editing = ini_load_memory_for_editing(bytes.data(), bytes.size(), nullptr);
    std::string edited = "none";
    if (editing != nullptr) {
      if (editing->count > 0) ini_set_value(editing->sections[editing->count - 1], "edited", "1");
      std::size_t size = 0;
      char* text = ini_store_edits_memory(editing, &size);
      edited = text != nullptr ? std::string(text, size) : "-3";
      ini_free_memory(text);
      ini_free_document(editing);
    }
    if (path == ini_detail::ScanPath::kReference) reference_edit = edited;
    if (problem.empty() && edited != reference_edit)
      problem = "a scan path kept the text otherwise than the reference";
    return problem;
  });
}

}  // namespace

namespace {

// The loads of CheckReader, over `bytes`: `pick` picks how a second load is served, what
// the file says of its size and the lengths of its reads (`size`, the input's size, picks
// one more). The document must depend on none of it, nor on whether the bytes come from a
// file or from memory, nor on the scan path.
std::string CheckLoads(const std::string& bytes, std::uint8_t pick, std::size_t size) {
  const auto hint = static_cast<SizeHint>(pick & 3);
  const std::vector<std::uint32_t> lengths = {
      static_cast<std::uint32_t>(size % 13 + 1),
      static_cast<std::uint32_t>(((pick >> 2) & 15) * 4099 + 1), 65536, 70000};
  IniLoadReport first_report, second_report, memory_report;
  IniDocument* first = LoadBytes(bytes, &first_report);
  IniDocument* second = LoadBytes(bytes, &second_report, hint, lengths);
  IniDocument* memory = ini_load_memory(bytes.data(), bytes.size(), &memory_report);
  const std::string expected = DumpOrReport(first, first_report);
  std::string problem;
  if (DumpOrReport(second, second_report) != expected) {
    problem = "the same bytes gave different documents";
  } else if (DumpOrReport(memory, memory_report) != expected) {
    problem = "the bytes loaded from memory gave another result than from a file";
  } else if (first != nullptr) {
    problem = CheckGuarantees(first, bytes.find('\0') != std::string::npos);
  }
  if (problem.empty()) problem = CheckParsed(bytes, first, first_report);
  if (problem.empty()) problem = CheckScanPaths(bytes, expected);
  ini_free_document(first);
  ini_free_document(second);
  ini_free_document(memory);
  return problem;
}

}  // namespace

std::string CheckReader(const std::uint8_t* data, std::size_t size) {
  return CheckLoads(std::string(reinterpret_cast<const char*>(data), size), size > 0 ? data[0] : 0,
                    size);
}

std::string CheckGrownReader(const std::uint8_t* data, std::size_t size) {
  const std::string once(reinterpret_cast<const char*>(data), size);
  std::string bytes = once;
  while (!once.empty() && bytes.size() < 150000) bytes += once;
  return CheckLoads(bytes, size > 0 ? data[0] : 0, size);
}

std::string CheckRoundTrip(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.find('\0') != std::string::npos) return "";
  IniDocument* document = LoadBytes(bytes);
  if (document == nullptr) return "";
  // Section names are written unescaped: ';' and '\' cannot be carried, nor '=' in a name
  // that is not the first (its header would read as an entry). Such a document is refused
  // and never written; every other reads back the same.
  bool carried = true;
  for (int32_t s = 0; s < document->count; ++s) {
    const char* name = document->sections[s]->name;
    if (std::strpbrk(name, ";\\") != nullptr || (s > 0 && std::strchr(name, '=') != nullptr)) {
      carried = false;
    }
  }
  std::string problem;
  const std::string written = StoreBytes(document);
  if (!carried) {
    if (written != "-3") problem = "a document the format cannot carry was not refused";
  } else {
    IniDocument* back = LoadBytes(written);
    if (back == nullptr) {
      problem = "a written document was rejected";
    } else {
      if (Dump(back) != Dump(document))
        problem = "a written document read back differently";
      else if (StoreBytes(back) != written)
        problem = "writing again gave other bytes";
      ini_free_document(back);
    }
  }
  if (problem.empty()) problem = CheckStoresAgree(document);
  ini_free_document(document);
  return problem;
}

namespace {

// The physical lines of `text`, without their line ends and CRs at their ends, which the
// reader ignores: a last line without a line end gets one when something is added after it.
std::vector<std::string> PhysicalLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  for (std::string& line : lines) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

// The physical line (from 1) where each header and key line begins, in file order.
int RecordStart(void* user, const IniLine* line) {
  static_cast<std::vector<std::int64_t>*>(user)->push_back(line->line);
  return 1;
}

std::string Stored(const IniDocument* document) {
  std::size_t size = 0;
  char* bytes = ini_store_edits_memory(document, &size);
  if (bytes == nullptr) return "-3";
  std::string stored(bytes, size);
  ini_free_memory(bytes);
  return stored;
}

}  // namespace

namespace {

// The records of a document loaded for editing (each loaded section's header and each
// loaded entry, in file order) and which of them an edit concerns: their lines may change.
class Concerns {
 public:
  explicit Concerns(const IniDocument* document) {
    for (int32_t s = 0; s < document->count; ++s) {
      const IniSection* section = document->sections[s];
      records_[section] = count_++;
      for (int32_t e = 0; e < section->count; ++e) records_[section->entries[e]] = count_++;
    }
    concerned_.assign(count_, false);
  }
  void Section(const IniSection* section) {
    concerned_[records_.at(section)] = true;
    for (int32_t e = 0; e < section->count; ++e) Entry(section, e);
  }
  void Entry(const IniSection* section, int32_t e) {
    const auto found = records_.find(section->entries[e]);
    if (found != records_.end()) concerned_[found->second] = true;
  }
  bool operator[](std::size_t record) const { return concerned_[record]; }

 private:
  std::map<const void*, std::size_t> records_;
  std::size_t count_ = 0;
  std::vector<bool> concerned_;
};

// The position of the first entry of `section` from `from` on with the key: a set changes
// it, and it may be an earlier one.
int32_t FirstWithKey(const IniSection* section, const char* key, int32_t from = 0) {
  while (from < section->count && std::strcmp(section->entries[from]->key, key) != 0) ++from;
  return from;
}

// Edits the document as `pick` says: new values for every third entry, the last entry of
// the first section removed, the first of a repeated key removed, the section of the second
// section's name removed, an entry and a section added; each edit tells `concerns` what it
// touches. Removals keep the order of the rest, so the edited text reads back as the
// document, repeats and all.
void Edit(IniDocument* document, unsigned pick, Concerns* concerns) {
  for (int32_t s = 0; s < document->count; ++s) {
    IniSection* section = document->sections[s];
    for (int32_t e = 0; e < section->count; ++e) {
      if (static_cast<unsigned>(e) % 3 != pick % 3) continue;
      concerns->Entry(section, FirstWithKey(section, section->entries[e]->key));
      ini_set_value(section, section->entries[e]->key, ("x;\\" + std::to_string(e)).c_str());
    }
    const int32_t last = section->count - 1;
    if (s == 0 && (pick & 4) != 0 && last >= 0 &&
        FirstWithKey(section, section->entries[last]->key) == last) {
      concerns->Entry(section, last);
      ini_remove_key(section, section->entries[last]->key);
    }
  }
  // The first entry of the document whose key repeats later in its section.
  for (int32_t s = 0; (pick & 32) != 0 && s < document->count; ++s) {
    IniSection* section = document->sections[s];
    int32_t e = 0;
    while (e < section->count &&
           FirstWithKey(section, section->entries[e]->key, e + 1) == section->count) {
      ++e;
    }
    if (e == section->count) continue;
    concerns->Entry(section, e);
    ini_remove_key(section, std::string(section->entries[e]->key).c_str());
    break;
  }
  if ((pick & 64) != 0 && document->count > 1) {
    const std::string name = document->sections[1]->name;
    concerns->Section(ini_find_section(document, name.c_str()));
    ini_remove_section(document, name.c_str());
  }
  if ((pick & 8) != 0 && document->count > 0) {
    // A key "added" the file had already takes the value: its entry is concerned.
    IniSection* last = document->sections[document->count - 1];
    const int32_t e = FirstWithKey(last, "added");
    if (e < last->count) concerns->Entry(last, e);
    ini_set_value(last, "added", "1");
  }
  if ((pick & 16) != 0 && ini_find_section(document, "fuzzed") == nullptr) {  // would replace it
    IniSection* added = ini_new_section("fuzzed");
    ini_add_section(document, added);
    ini_set_value(added, "k", "v");
  }
}

// Whether the physical line `physical` gives no text and ends in a backslash, so that it
// continues into the entry's first character on the line after it: CRs count for nothing,
// spaces lead, and a backslash is dropped before anything but ';' and '\' (so "\ " is a
// space), or joins the next line at its end.
bool Continues(const std::string& physical) {
  std::string line;
  for (char c : physical) {
    if (c != '\r') line += c;
  }
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') continue;
    if (line[i] != '\\') return false;
    if (i + 1 == line.size()) return true;
    if (line[i + 1] == ';' || line[i + 1] == '\\') return false;
  }
  return false;
}

// Every line of `bytes` that no edit concerns is still in `edited`, in order: all but those
// from a concerned record's first line to the next header or key line. `starts` holds the
// physical line where each record begins. Empty when so, else the first line missing.
std::string UnconcernedLinesKept(const std::string& bytes, const std::string& edited,
                                 const std::vector<std::int64_t>& starts,
                                 const Concerns& concerns) {
  const std::vector<std::string> before = PhysicalLines(bytes), after = PhysicalLines(edited);
  std::vector<bool> kept(before.size(), true);
  for (std::size_t r = 0; r < starts.size(); ++r) {
    if (!concerns[r]) continue;
    std::int64_t from = starts[r];
    while (from > 1 && Continues(before[static_cast<std::size_t>(from - 2)])) --from;
    const std::int64_t end =
        r + 1 < starts.size() ? starts[r + 1] : static_cast<std::int64_t>(before.size()) + 1;
    for (std::int64_t l = from; l < end; ++l) kept[static_cast<std::size_t>(l - 1)] = false;
  }
  std::size_t at = 0;
  for (std::size_t l = 0; l < before.size(); ++l) {
    if (!kept[l]) continue;
    while (at < after.size() && after[at] != before[l]) ++at;
    if (at == after.size()) return "a line no edit concerns is gone: " + std::to_string(l + 1);
    ++at;
  }
  return "";
}

}  // namespace

std::string CheckEditing(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  IniDocument* document = ini_load_memory_for_editing(bytes.data(), bytes.size(), nullptr);
  if (document == nullptr) return "";
  std::string problem;
  if (Stored(document) != bytes) problem = "an unchanged document was not stored byte for byte";
  std::vector<std::int64_t> starts;
  ini_scan_memory(bytes.data(), bytes.size(), RecordStart, &starts, nullptr);
  Concerns concerns(document);
  Edit(document, size > 0 ? data[size - 1] : 0, &concerns);
  const std::string edited = Stored(document);
  IniDocument* back = ini_load_memory(edited.data(), edited.size(), nullptr);
  if (problem.empty() && (back == nullptr || Dump(back) != Dump(document))) {
    problem = "the edited text read back differently";
  }
  ini_free_document(back);
  if (problem.empty()) problem = UnconcernedLinesKept(bytes, edited, starts, concerns);
  ini_free_document(document);
  return problem;
}

namespace {

struct ModelSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;
  int32_t capacity = 10;
};

struct Model {
  std::vector<ModelSection> sections;
  int32_t capacity = 10;
  bool fold = false;  // names compare without regard to ASCII case (ini_set_ignore_case)
};

// Two names or keys are the same one: byte for byte, or with `fold` but for ASCII case.
bool Same(const std::string& a, const std::string& b, bool fold) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = fold && a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    const char y = fold && b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// Reads small names and values from the fuzzer's bytes; few distinct names, so that
// replacing and removing happen often.
class ByteSource {
 public:
  ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ >= size_; }
  std::uint8_t Next() { return empty() ? 0 : data_[position_++]; }
  std::string Name() {
    static const char* const kNames[] = {"", "a", "b", "ab", "A", "a ", "k=v", ";"};
    return kNames[Next() % 8];
  }
  std::string Value() { return std::string(Next() % 4, static_cast<char>('0' + Next() % 10)); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

template <typename List>
int FindIn(const List& list, const std::string& key, bool fold, std::size_t from = 0) {
  for (std::size_t i = from; i < list.size(); ++i) {
    if (Same(list[i].first, key, fold)) return static_cast<int>(i);
  }
  return -1;
}

int FindSection(const Model& model, const std::string& name) {
  for (std::size_t i = 0; i < model.sections.size(); ++i) {
    if (Same(model.sections[i].name, name, model.fold)) return static_cast<int>(i);
  }
  return -1;
}

template <typename T>
void GrowOnAppend(const std::vector<T>& items, int32_t* capacity) {
  if (static_cast<int32_t>(items.size()) == *capacity) *capacity += 10;
}

// Whether the format can carry the model, stated apart from the library's own check:
// names non-empty, without CR, LF, ';' or '\', and without '=' but in the first section;
// keys not of spaces only, without outer spaces, '=', CR or LF; values without LF.
bool Writable(const Model& model) {
  for (std::size_t s = 0; s < model.sections.size(); ++s) {
    const std::string& name = model.sections[s].name;
    if (name.empty() || name.find_first_of(s == 0 ? "\r\n;\\" : "\r\n;\\=") != std::string::npos) {
      return false;
    }
    for (const auto& [key, value] : model.sections[s].entries) {
      if (key.find_first_not_of(' ') == std::string::npos || key.front() == ' ' ||
          key.back() == ' ' || key.find_first_of("=\r\n") != std::string::npos ||
          value.find('\n') != std::string::npos) {
        return false;
      }
    }
  }
  return true;
}

// A document is stored exactly when the model is writable, and then reads back the same.
std::string CheckStore(const IniDocument* document, const Model& model) {
  std::size_t size = 0;
  char* bytes = ini_store_memory(document, &size);
  std::string problem;
  if ((bytes != nullptr) != Writable(model)) {
    problem =
        bytes == nullptr ? "a writable document was refused" : "an unwritable document was stored";
  } else if (bytes != nullptr) {
    IniDocument* back = ini_load_memory(bytes, size, nullptr);
    if (back == nullptr || Dump(back) != Dump(document))
      problem = "a stored document read back differently";
    ini_free_document(back);
  }
  ini_free_memory(bytes);
  return problem.empty() ? CheckStoresAgree(document) : problem;
}

std::string Compare(const IniDocument* document, const Model& model) {
  if (document->count != static_cast<int32_t>(model.sections.size())) return "section count";
  if (document->capacity != model.capacity) return "document capacity";
  testing_support::UseEverySlot(document->sections, document->capacity);
  for (int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    testing_support::UseEverySlot(section->entries, section->capacity);
    const ModelSection& expected = model.sections[static_cast<std::size_t>(s)];
    if (section->name != expected.name) return "section order or name";
    if (section->capacity != expected.capacity) return "section capacity";
    if (section->count != static_cast<int32_t>(expected.entries.size())) return "entry count";
    for (int32_t e = 0; e < section->count; ++e) {
      const auto& pair = expected.entries[static_cast<std::size_t>(e)];
      if (pair.first != section->entries[e]->key || pair.second != section->entries[e]->value) {
        return "entry order, key or value";
      }
    }
    if (ini_key_at(section, section->count) != nullptr || ini_key_at(section, -1) != nullptr) {
      return "key at a position outside the list";
    }
  }
  if (ini_section_name_at(document, document->count) != nullptr) return "name outside the list";
  return "";
}

// Adds `section` (a copy of `expected`) to both, as ini_add_section says.
std::string AddBoth(IniDocument* document, Model* model, IniSection* section,
                    ModelSection expected) {
  int found = FindSection(*model, expected.name);
  int result = ini_add_section(document, section);
  if (found >= 0) {
    model->sections[static_cast<std::size_t>(found)] = std::move(expected);
    if (result != 0) return "add of a held name did not replace";
  } else {
    GrowOnAppend(model->sections, &model->capacity);
    model->sections.push_back(std::move(expected));
    if (result != 1) return "add of a new name did not append";
  }
  return "";
}

// What one step works on: the document and its model, and the section picked by position
// (none when the document is empty).
struct Target {
  IniDocument* document;
  Model* model;
  IniSection* section;
  ModelSection* expected;
};

std::string AddNewSection(ByteSource& in, const Target& t) {
  ModelSection fresh{in.Name(), {}, 10};
  return AddBoth(t.document, t.model, ini_new_section(fresh.name.c_str()), fresh);
}

std::string SetValue(ByteSource& in, const Target& t) {
  if (t.section == nullptr) return "";
  std::string key = in.Name(), value = in.Value();
  int found = FindIn(t.expected->entries, key, t.model->fold);
  IniEntry** kept = t.section->entries;
  const bool full = t.section->count == t.section->capacity;
  int result = ini_set_value(t.section, key.c_str(), value.c_str());
  if (!full && t.section->entries != kept) return "entries moved by a set below capacity";
  if (found >= 0) {
    t.expected->entries[static_cast<std::size_t>(found)].second = value;
    return result == 0 ? "" : "set of a held key did not replace";
  }
  GrowOnAppend(t.expected->entries, &t.expected->capacity);
  t.expected->entries.push_back({key, value});
  return result == 1 ? "" : "set of a new key did not append";
}

std::string RemoveSection(ByteSource& in, const Target& t) {
  std::string name = in.Name();
  int found = FindSection(*t.model, name);
  int result = ini_remove_section(t.document, name.c_str());
  if (found < 0) return result == 1 ? "" : "removed a section not held";
  t.model->sections[static_cast<std::size_t>(found)] = std::move(t.model->sections.back());
  t.model->sections.pop_back();
  return result == 0 ? "" : "did not remove a held section";
}

std::string RemoveKey(ByteSource& in, const Target& t) {
  if (t.section == nullptr) return "";
  std::string key = in.Name();
  int found = FindIn(t.expected->entries, key, t.model->fold);
  IniEntry** kept = t.section->entries;
  int result = ini_remove_key(t.section, key.c_str());
  if (t.section->entries != kept) return "entries moved by a removal";
  if (found < 0) return result == 1 ? "" : "removed a key not held";
  t.expected->entries[static_cast<std::size_t>(found)] = t.expected->entries.back();
  t.expected->entries.pop_back();
  return result == 0 ? "" : "did not remove a held key";
}

std::string CopySection(ByteSource& in, const Target& t) {
  if (t.section == nullptr) return "";
  ModelSection copy{in.Name(), {}, 10};
  for (const auto& pair : t.expected->entries) {
    if (FindIn(copy.entries, pair.first, t.model->fold) < 0) {
      GrowOnAppend(copy.entries, &copy.capacity);
      copy.entries.push_back(pair);
    }
  }
  return AddBoth(t.document, t.model, ini_copy_section(t.section, copy.name.c_str()), copy);
}

// Handing over a section the document already holds changes nothing.
std::string AddHeldSection(ByteSource&, const Target& t) {
  if (t.section == nullptr) return "";
  return ini_add_section(t.document, t.section) == 0 ? "" : "re-adding a held section";
}

std::string LookUp(ByteSource& in, const Target& t) {
  std::string name = in.Name(), key = in.Name();
  int found = FindSection(*t.model, name);
  IniSection* by_name = ini_find_section(t.document, name.c_str());
  if (found < 0) return by_name == nullptr ? "" : "found a section not held";
  if (by_name != t.document->sections[found]) return "find did not give the first match";
  const ModelSection& expected = t.model->sections[static_cast<std::size_t>(found)];
  int entry = FindIn(expected.entries, key, t.model->fold);
  const char* value = ini_get_value(by_name, key.c_str());
  if (entry < 0) return value == nullptr ? "" : "found a key not held";
  return value != nullptr && expected.entries[static_cast<std::size_t>(entry)].second == value
             ? ""
             : "get gave a wrong value";
}

// A repeat appended, and every value of a key read back in order.
std::string AppendAndFindAll(ByteSource& in, const Target& t) {
  if (t.section == nullptr) return "";
  std::string key = in.Name(), value = in.Value();
  if (in.Next() % 2 == 0) {
    if (ini_append_value(t.section, key.c_str(), value.c_str()) != 1) return "append failed";
    GrowOnAppend(t.expected->entries, &t.expected->capacity);
    t.expected->entries.push_back({key, value});
  }
  int32_t p = 0;
  for (int found = FindIn(t.expected->entries, key, t.model->fold); found >= 0;
       found = FindIn(t.expected->entries, key, t.model->fold, static_cast<std::size_t>(p) + 1),
           ++p) {
    const char* got = ini_find_value(t.section, key.c_str(), &p);
    if (got == nullptr || p != found ||
        t.expected->entries[static_cast<std::size_t>(found)].second != got)
      return "find_value missed a repeat";
  }
  return ini_find_value(t.section, key.c_str(), &p) == nullptr ? "" : "find_value found too many";
}

// The document's one switch, and the model's.
std::string ToggleCase(ByteSource&, const Target& t) {
  t.model->fold = !t.model->fold;
  return ini_set_ignore_case(t.document, t.model->fold ? 1 : 0) == 0 ? "" : "switch failed";
}

std::string MakeAndReleaseLooseSection(ByteSource& in, const Target&) {
  IniSection* loose = ini_new_section(in.Name().c_str());
  ini_set_value(loose, "k", in.Value().c_str());
  ini_free_section(loose);
  return "";
}

// One operation, chosen by the next byte, on the document and its model alike; what went
// wrong, or "".
std::string Step(ByteSource& in, IniDocument* document, Model* model) {
  using Operation = std::string (*)(ByteSource&, const Target&);
  static constexpr Operation kOperations[] = {
      AddNewSection,  SetValue, RemoveSection,    RemoveKey,  CopySection,
      AddHeldSection, LookUp,   AppendAndFindAll, ToggleCase, MakeAndReleaseLooseSection};
  const Operation operation = kOperations[in.Next() % std::size(kOperations)];
  // Most operations work on a section picked by position.
  Target target{document, model, nullptr, nullptr};
  if (!model->sections.empty()) {
    std::size_t index = in.Next() % model->sections.size();
    target.expected = &model->sections[index];
    target.section = document->sections[index];
  }
  return operation(in, target);
}

}  // namespace

int Enforce(const std::string& problem) {
  if (problem.empty()) return 0;
  std::fprintf(stderr, "property violated: %s\n", problem.c_str());
  std::abort();
}

std::string CheckDocumentOperations(const std::uint8_t* data, std::size_t size) {
  ByteSource in(data, size);
  // Half the runs start from a loaded document, whose pieces live in its own blocks, so
  // that the operations meet loaded and own pieces side by side.
  IniDocument* document = ini_new_document();
  Model model;
  if (in.Next() % 2 == 1) {
    static const char kLoaded[] = "[a]\nk=1\nab=2\n[b]\na=3\n[a]\nk=4\n";
    ini_free_document(document);
    document = ini_load_memory(kLoaded, sizeof kLoaded - 1, nullptr);
    model.sections = {
        {"a", {{"k", "1"}, {"ab", "2"}}, 10}, {"b", {{"a", "3"}}, 10}, {"a", {{"k", "4"}}, 10}};
  }
  std::string problem;
  while (problem.empty() && !in.empty()) {
    IniSection** kept = document->sections;
    const bool full = document->count == document->capacity;
    problem = Step(in, document, &model);
    if (problem.empty() && !full && document->sections != kept) {
      problem = "sections moved below capacity";
    }
    if (problem.empty()) problem = Compare(document, model);
  }
  if (problem.empty()) problem = CheckStore(document, model);
  ini_free_document(document);
  return problem;
}

}  // namespace fuzz
