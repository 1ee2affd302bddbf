// Editing a file people wrote: the store that writes a document's changes into the text it
// was loaded from, and keeps every other byte of it.
#include <cstddef>
#include <cstring>
#include <new>

#include "ini/format.h"
#include "ini/io.h"
#include "ini/output.h"
#include "ini/project_internal.h"
#include "ini/records.h"

namespace quorva::ini_detail {

using ini_format::kCarriageReturn;
using ini_format::kEscape;
using ini_format::kLineFeed;
using ini_format::kSeparator;
using ini_format::kSpace;

namespace {

const KeptEntry* EntryOf(const KeptLine* line) {
  return reinterpret_cast<const KeptEntry*>(reinterpret_cast<const char*>(line) -
                                            offsetof(KeptEntry, line));
}
const KeptSection* SectionOf(const KeptLine* line) {
  return reinterpret_cast<const KeptSection*>(reinterpret_cast<const char*>(line) -
                                              offsetof(KeptSection, line));
}

// Loaded sections are carved from the document's arena, and so are the entries they were
// loaded with; the operations' own are heap blocks.
bool IsLoaded(const IniSection* section) { return BlockOf(section)->arena != nullptr; }
bool IsLoaded(const IniSection* section, const IniEntry* entry) {
  const SectionBlock* block = BlockOf(section);
  return block->arena != nullptr && (!block->has_heap_pieces || block->arena->Owns(entry));
}
// A value that was never given anew is still the loaded one itself: no text to compare.
bool IsChanged(const IniEntry* entry) {
  const char* loaded = reinterpret_cast<const KeptEntry*>(entry)->loaded_value;
  return entry->value != loaded && std::strcmp(entry->value, loaded) != 0;
}

// What a new value keeps of its entry's lines: the text before the value (the key, the
// spaces around the first '=' on its line) and a comment on the last line with the spaces
// before it, then the line end.
struct Around {
  std::uint64_t prefix_end;    // the value starts here
  std::uint64_t suffix_start;  // a comment, with the spaces before it, from here...
  std::uint64_t suffix_end;    // ...to here, where the line end begins
};

// Scans the entry's lines as the reader reads them: a comment runs to its line's end, and an
// escape takes the byte after it (CRs aside), which for '=' keeps its role.
Around AroundValue(const char* bytes, const KeptLine& line) {
  std::uint64_t at = line.start;
  while (at < line.end && bytes[at] != kSeparator) {
    if (bytes[at] == kEscape) {
      at = ini_format::EscapedByte(bytes, at, line.end);  // taken as text, but for '='
      if (at == line.end || bytes[at] == kSeparator) break;
    } else if (bytes[at] == ini_format::kComment) {
      while (at + 1 < line.end && bytes[at + 1] != kLineFeed) ++at;  // up to its line feed
    }
    ++at;
  }
  Around around{at + 1, 0, line.end};
  while (around.prefix_end < line.end && bytes[around.prefix_end] == kSpace) ++around.prefix_end;
  // The last physical line, without its line end.
  if (around.suffix_end > line.start && bytes[around.suffix_end - 1] == kLineFeed)
    --around.suffix_end;
  if (around.suffix_end > line.start && bytes[around.suffix_end - 1] == kCarriageReturn)
    --around.suffix_end;
  std::uint64_t last = around.suffix_end;
  while (last > around.prefix_end && bytes[last - 1] != kLineFeed) --last;
  around.suffix_start = ini_format::CommentIn(bytes, last, around.suffix_end);
  if (around.suffix_start < around.suffix_end) {
    while (around.suffix_start > last && bytes[around.suffix_start - 1] == kSpace)
      --around.suffix_start;
  }
  return around;
}

// Writes the text of a document loaded for editing with its changes. Its loaded sections,
// and the loaded entries of each, stand in the document in the order of their lines in the
// file, since removals from such a document keep the order of the rest: so one walk over
// the file's lines, with a cursor in the document, tells which lines are still there, and
// puts each section the operations made before the loaded one that follows it.
class Editor {
 public:
  Editor(const IniDocument* document, Output* out)
      : document_(document), kept_(*KeptSourceOf(document)), bytes_(kept_.bytes), out_(out) {
    // The file's line end: CR LF when its first line ends so.
    const void* lf = kept_.size == 0
                         ? nullptr
                         : std::memchr(bytes_, kLineFeed, static_cast<std::size_t>(kept_.size));
    if (lf != nullptr && lf != bytes_ && static_cast<const char*>(lf)[-1] == kCarriageReturn)
      line_end_ = "\r\n";
  }

  bool Write() {
    std::uint64_t at = 0;  // the file's bytes before it are written, or dropped
    std::uint64_t removed_until = 0;
    std::int32_t next_section = 0;      // the document's sections before it are written
    const KeptSection* open = nullptr;  // the loaded section whose lines are being written
    std::int32_t next_entry = 0;        // and its entries before this one
    for (const KeptLine* line = kept_.first; line != nullptr; line = line->next) {
      if (line->start < removed_until) continue;  // a line of a removed section
      if (!Copy(at, line->start)) return false;   // the blank and comment lines before it
      at = line->end;
      if (line->is_section) {
        const KeptSection* section = SectionOf(line);
        const std::int32_t found = NextLoaded(next_section);
        if (found == document_->count || document_->sections[found] != &section->block.section) {
          // A removed section takes its header, its entries and every line between them;
          // the lines after its last entry stay, as they may introduce what follows.
          open = nullptr;
          at = removed_until = section->body_end;
          continue;
        }
        if (!NewSections(next_section, found) || !Copy(line->start, line->end)) return false;
        open = section;
        next_section = found + 1;
        next_entry = 0;
      } else if (open != nullptr && next_entry < open->block.section.count &&
                 open->block.section.entries[next_entry] == &EntryOf(line)->entry) {
        const IniEntry* entry = open->block.section.entries[next_entry++];
        if (!(IsChanged(entry) ? Replace(*line, entry->value) : Copy(line->start, line->end)))
          return false;
      }  // else a removed entry: all its lines go
      if (open != nullptr && line->end == open->body_end &&
          !NewEntries(&open->block.section, next_entry)) {
        return false;
      }
    }
    if (!Copy(at, kept_.size)) return false;
    return NewSections(next_section, document_->count) && out_->Flush();
  }

 private:
  // The position of the first loaded section at or after `from`; count when there is none.
  std::int32_t NextLoaded(std::int32_t from) const {
    while (from < document_->count && !IsLoaded(document_->sections[from])) ++from;
    return from;
  }

  bool Copy(std::uint64_t from, std::uint64_t to) {
    if (to <= from) return true;
    ends_line_ = bytes_[to - 1] == kLineFeed;
    ends_cr_ = bytes_[to - 1] == kCarriageReturn;
    open_ = to == kept_.size && kept_.open_at_end;
    return out_->Put(bytes_ + from, static_cast<std::size_t>(to - from));
  }

  bool Put(const char* text) {
    const std::size_t length = std::strlen(text);
    if (length > 0) {
      ends_line_ = text[length - 1] == kLineFeed;
      ends_cr_ = false;
    }
    return out_->Put(text, length);
  }

  // A line of its own for what follows: the file's last line may have had no line end, or
  // been left open by an escape or a continuation, which one more line end closes.
  bool EndLine() {
    if (open_) {
      open_ = false;
      // A pending escape takes a first line end as a continuation; the next ends the line.
      if (!ends_line_ && !Put(line_end_)) return false;
      return Put(line_end_);
    }
    // A last line that ends in CR needs only the LF of a CR LF line end.
    return ends_line_ || Put(ends_cr_ ? "\n" : line_end_);
  }

  // An entry's lines made one line with the new value.
  bool Replace(const KeptLine& line, const char* value) {
    const Around around = AroundValue(bytes_, line);
    if (!out_->Put(bytes_ + line.start, static_cast<std::size_t>(around.prefix_end - line.start)) ||
        !out_->PutEscaped(value)) {
      return false;
    }
    ends_line_ = false;
    const bool copied =
        Copy(around.suffix_start, around.suffix_end) && Copy(around.suffix_end, line.end);
    open_ = false;  // the old value's escape or continuation went with it
    return copied;
  }

  bool NewEntry(const IniEntry* entry) {
    if (!EndLine() || !out_->PutEscaped(entry->key) || !out_->PutChar(kSeparator) ||
        !out_->PutEscaped(entry->value)) {
      return false;
    }
    ends_line_ = false;
    return Put(line_end_);
  }

  // The entries the operations gave a loaded section, which follow its loaded ones, after
  // its last line.
  bool NewEntries(const IniSection* section, std::int32_t from) {
    for (std::int32_t e = from; e < section->count; ++e) {
      if (!NewEntry(section->entries[e])) return false;
    }
    return true;
  }

  // The sections the operations made at positions `from` to `to`, each a line of its own.
  bool NewSections(std::int32_t from, std::int32_t to) {
    for (std::int32_t s = from; s < to; ++s) {
      IniSection* section = document_->sections[s];
      if (!EndLine() || !Put("[") || !Put(section->name) || !Put("]") || !Put(line_end_))
        return false;
      for (std::int32_t e = 0; e < section->count; ++e) {
        if (!NewEntry(section->entries[e])) return false;
      }
    }
    return true;
  }

  const IniDocument* document_;
  const KeptSource& kept_;
  const char* bytes_;
  Output* out_;
  const char* line_end_ = "\n";
  bool ends_line_ = true;  // what was written so far ends with a line end (or is nothing)
  bool ends_cr_ = false;   // it ends with a CR of the file
  bool open_ = false;      // it ends with the file's end, inside a line
};

// A sink that also takes the fingerprint of what goes through it.
class FingerprintingSink final : public ByteSink {
 public:
  explicit FingerprintingSink(ByteSink& sink) : sink_(sink) {}
  bool Write(const char* data, std::size_t size) override {
    fingerprint_.Add(data, size);
    return sink_.Write(data, size);
  }
  const Fingerprint& fingerprint() const { return fingerprint_; }

 private:
  ByteSink& sink_;
  Fingerprint fingerprint_;
};

// The fingerprint of all an open file holds, read from its start; false when a read fails.
bool FingerprintOf(platform::FileSystem& file_system, platform::File file, Fingerprint* print) {
  if (!file_system.Rewind(file)) return false;
  char block[4096];
  std::uint32_t got = 0;
  while (file_system.Read(file, block, sizeof block, &got)) {
    if (got == 0) return true;
    print->Add(block, got);
  }
  return false;
}

// A store of edits at `place` (null when the path leads nowhere that can be told), with the
// file's edit lock held in `*lock` (null when nothing could be locked, there being no file).
int StoreLocked(platform::FileSystem& file_system, IniDocument* document, const char* path,
                const platform::Place* place, const platform::File* lock, StoreDetail* detail) {
  FileRecord* record = RecordOf(document);
  const bool exists = place != nullptr && place->file.known;
  // A document without a file of its own is written only where no file is yet.
  if (record == nullptr && exists) {
    if (detail != nullptr) detail->no_file_of_its_own = true;
    return -4;
  }
  // The store goes back to the document's own file: at the place it came from (then it must
  // still be that file), or under another name.
  const bool own =
      record != nullptr && place != nullptr &&
      (platform::SamePlace(*place, record->place) || (exists && place->file == record->place.file));
  if (own && place->file != record->place.file) return -4;  // replaced or removed since
  // The record of a document's first store, made before anything is written.
  FileRecord* made = nullptr;
  if (record == nullptr) {
    made = static_cast<FileRecord*>(Allocate(sizeof(FileRecord)));
    if (made == nullptr) return -1;
    new (made) FileRecord();
  }
  ReplacingSink file(file_system, path, platform::AtLink::kFollow);
  FingerprintingSink sink(file);
  int stored = KeptSourceOf(document) != nullptr ? (StoreEdits(document, sink) ? 0 : -2)
                                                 : Store(document, sink);
  if (stored == 0 && !file.Begin()) stored = -2;
  // As late as can be, the file itself, through the lock: another program that does not
  // lock (an editor) may have changed it since it was loaded or last stored.
  Fingerprint now;
  if (stored == 0 && own &&
      (lock == nullptr || !FingerprintOf(file_system, *lock, &now) || !(now == record->on_disk))) {
    stored = -4;
  }
  // Bytes the file holds already need no new file: it stays as it is, its name and times too.
  if (stored == 0 && own && sink.fingerprint() == record->on_disk) {
    Release(made);
    return 0;
  }
  const platform::FileId id = stored == 0 ? file.IdOfNew() : platform::FileId{};
  const platform::Publish publish =
      record == nullptr ? platform::Publish::kOnlyNew : platform::Publish::kReplacing;
  if (stored == -4 || (stored = Written(file, stored, publish, detail)) != 0) {
    if (stored == -4 && detail != nullptr) detail->no_file_of_its_own = record == nullptr;
    Release(made);
    return stored;
  }
  if (made != nullptr) record = RecordOf(document) = made;
  if (place != nullptr) record->place = *place;
  record->place.file = id;
  record->on_disk = sink.fingerprint();
  return 0;
}

}  // namespace

// -3 for what the edits would write that the format cannot carry, or that would not read
// back as given: new sections' names, new entries and changed values. What stays as the file
// had it is read back as it was.
int CheckEdits(const IniDocument* document, IniCheckReport* report) {
  // A document that keeps no text writes every section and entry new; a new section's name
  // is the first line's when no section stands before it.
  const bool kept = document != nullptr && KeptSourceOf(document) != nullptr;
  bool header_before = false;
  for (std::int32_t s = 0; kept && s < document->count; ++s) {
    header_before = header_before || IsLoaded(document->sections[s]);
  }
  return CheckEach(
      document, report,
      [&](std::int32_t, const IniSection* section) {
        const bool first = !header_before;
        header_before = true;
        return kept && IsLoaded(section) ? nullptr : NameProblem(section->name, first);
      },
      [&](const IniSection* section, const IniEntry* entry) -> const char* {
        if (kept && IsLoaded(section) && IsLoaded(section, entry))
          return IsChanged(entry) ? ExactValueProblem(entry->value) : nullptr;
        const char* problem = KeyProblem(entry->key);
        return problem != nullptr ? problem : ExactValueProblem(entry->value);
      });
}

bool StoreEdits(const IniDocument* document, ByteSink& sink) {
  if (KeptSourceOf(document) == nullptr) return Store(document, sink) == 0;
  Output out(sink);
  return Editor(document, &out).Write();
}

int StoreEditsFile(platform::FileSystem& file_system, IniDocument* document, const char* path,
                   StoreDetail* detail) {
  if (document == nullptr) return -1;
  if (CheckEdits(document, nullptr) != 0) return -3;
  FileRecord* record = RecordOf(document);
  platform::Place place;
  bool placed = file_system.PlaceOf(path, &place);
  // The lock a load took serves a store to the file it was taken on; any other store takes
  // the lock of its file for its own time.
  const bool held = record != nullptr && record->lock_owner == &file_system && placed &&
                    platform::SamePlace(place, record->place);
  platform::File lock = held ? record->lock : platform::File{};
  bool locked = held;
  if (!held) {
    switch (file_system.LockForEditing(path, platform::kLockWaitMilliseconds, &lock)) {
      case platform::Locked::kYes:
        locked = true;
        break;
      case platform::Locked::kBusy:
        return -5;
      case platform::Locked::kFailed:
        if (detail != nullptr) detail->failure = file_system.LastFailure();
        return -1;
      default:  // no file, or none that can be locked: a new one is made, or a device written
        break;
    }
    placed = file_system.PlaceOf(path, &place);  // as it is once no other store runs
  }
  const int stored = StoreLocked(file_system, document, path, placed ? &place : nullptr,
                                 locked ? &lock : nullptr, detail);
  if (held && stored == 0) {
    record->lock_owner = nullptr;  // its file is replaced: the lock has done its work
    file_system.Unlock(lock);
  } else if (locked && !held) {
    file_system.Unlock(lock);
  }
  return stored;
}

}  // namespace quorva::ini_detail

extern "C" {

int ini_store_edits(IniDocument* document, const char* path) {
  if (path == nullptr) return -1;
  return ini_detail::StoreEditsFile(platform::RealFileSystem(), document, path);
}

int ini_check_edits(const IniDocument* document, IniCheckReport* report) {
  return ini_detail::CheckEdits(document, report);
}

char* ini_store_edits_memory(const IniDocument* document, size_t* size) {
  if (size == nullptr) return nullptr;
  *size = 0;
  if (ini_detail::CheckEdits(document, nullptr) != 0) return nullptr;
  ini_detail::MemorySink sink;
  if (!ini_detail::StoreEdits(document, sink)) return nullptr;
  return sink.Take(size);
}

}  // extern "C"
