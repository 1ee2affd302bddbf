// Editing a file people wrote: the store that writes a document's changes into the text it
// was loaded from, and keeps every other byte of it.
#include <cstddef>
#include <cstring>

#include "ini/io.h"
#include "ini/output.h"
#include "ini/project_internal.h"
#include "ini/records.h"

namespace quorva::ini_detail {
namespace {

KeptEntry* EntryOf(KeptLine* line) {
  return reinterpret_cast<KeptEntry*>(reinterpret_cast<char*>(line) - offsetof(KeptEntry, line));
}
KeptSection* SectionOf(KeptLine* line) {
  return reinterpret_cast<KeptSection*>(reinterpret_cast<char*>(line) -
                                        offsetof(KeptSection, line));
}

// Loaded sections are carved from the document's arena, and so are the entries they were
// loaded with; the operations' own are heap blocks.
bool IsLoaded(const IniSection* section) { return BlockOf(section)->arena != nullptr; }
bool IsLoaded(const IniSection* section, const IniEntry* entry) {
  const SectionBlock* block = BlockOf(section);
  return block->arena != nullptr && (!block->has_heap_pieces || block->arena->Owns(entry));
}
bool IsChanged(IniEntry* entry) {
  return std::strcmp(entry->value, KeptOf(entry)->loaded_value) != 0;
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
  bool comment = false, escape = false;
  std::uint64_t at = line.start;
  for (; at < line.end; ++at) {
    const char c = bytes[at];
    if (comment) {
      comment = c != '\n';
      continue;
    }
    if (escape) {
      if (c == '\r') continue;
      escape = false;
      if (c == ';' || c == '\\' || c == '\n') continue;
    } else if (c == '\\') {
      escape = true;
      continue;
    } else if (c == ';') {
      comment = true;
      continue;
    }
    if (c == '=') break;
  }
  Around around{at + 1, 0, line.end};
  while (around.prefix_end < line.end && bytes[around.prefix_end] == ' ') ++around.prefix_end;
  // The last physical line, without its line end.
  if (around.suffix_end > line.start && bytes[around.suffix_end - 1] == '\n') --around.suffix_end;
  if (around.suffix_end > line.start && bytes[around.suffix_end - 1] == '\r') --around.suffix_end;
  std::uint64_t last = around.suffix_end;
  while (last > around.prefix_end && bytes[last - 1] != '\n') --last;
  std::uint64_t semicolon = around.suffix_end;
  for (std::uint64_t i = last; i < around.suffix_end; ++i) {
    if (bytes[i] == '\\') {
      ++i;
    } else if (bytes[i] == ';') {
      semicolon = i;
      break;
    }
  }
  around.suffix_start = semicolon;
  if (semicolon < around.suffix_end) {
    while (around.suffix_start > last && bytes[around.suffix_start - 1] == ' ')
      --around.suffix_start;
  }
  return around;
}

// Writes the text of a document loaded for editing with its changes.
class Editor {
 public:
  Editor(const IniDocument* document, Output* out)
      : document_(const_cast<IniDocument*>(document)),
        kept_(*KeptSourceOf(document)),
        bytes_(kept_.bytes),
        out_(out) {
    // The file's line end: CR LF when its first line ends so.
    const void* lf =
        kept_.size == 0 ? nullptr : std::memchr(bytes_, '\n', static_cast<std::size_t>(kept_.size));
    if (lf != nullptr && lf != bytes_ && static_cast<const char*>(lf)[-1] == '\r')
      line_end_ = "\r\n";
  }

  bool Write() {
    MarkPresent();
    std::uint64_t at = 0, removed_until = 0;
    KeptSection* open = nullptr;  // the section whose lines are being written
    for (KeptLine* line = kept_.first; line != nullptr; line = line->next) {
      if (line->start < removed_until) continue;  // a line of a removed section
      if (!Copy(at, line->start)) return false;
      at = line->end;
      if (line->is_section) {
        KeptSection* section = SectionOf(line);
        open = line->present ? section : nullptr;
        if (open == nullptr) {
          // A removed section takes its header, its entries and every line between them; the
          // lines after its last entry stay, as they may introduce what follows.
          at = removed_until = section->body_end;
          continue;
        }
        if (!Copy(line->start, line->end)) return false;
      } else if (line->present) {
        IniEntry* entry = &EntryOf(line)->entry;
        if (!(IsChanged(entry) ? Replace(*line, entry->value) : Copy(line->start, line->end)))
          return false;
      }
      if (open != nullptr && line->end == open->body_end && !NewEntries(&open->block.section))
        return false;
    }
    if (!Copy(at, kept_.size)) return false;
    return NewSections() && out_->Flush();
  }

 private:
  // Which of the loaded lines are still in the document.
  void MarkPresent() {
    for (KeptLine* line = kept_.first; line != nullptr; line = line->next) line->present = false;
    for (std::int32_t s = 0; s < document_->count; ++s) {
      IniSection* section = document_->sections[s];
      if (!IsLoaded(section)) continue;
      KeptOf(section)->line.present = true;
      for (std::int32_t e = 0; e < section->count; ++e) {
        if (IsLoaded(section, section->entries[e]))
          KeptOf(section->entries[e])->line.present = true;
      }
    }
  }

  bool Copy(std::uint64_t from, std::uint64_t to) {
    if (to <= from) return true;
    ends_line_ = bytes_[to - 1] == '\n';
    ends_cr_ = bytes_[to - 1] == '\r';
    open_ = to == kept_.size && kept_.open_at_end;
    return out_->Put(bytes_ + from, static_cast<std::size_t>(to - from));
  }

  bool Put(const char* text) {
    const std::size_t length = std::strlen(text);
    if (length > 0) {
      ends_line_ = text[length - 1] == '\n';
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
    if (!EndLine() || !out_->PutEscaped(entry->key) || !out_->PutChar('=') ||
        !out_->PutEscaped(entry->value)) {
      return false;
    }
    ends_line_ = false;
    return Put(line_end_);
  }

  // The entries the operations gave a loaded section, in their order, after its last line.
  bool NewEntries(IniSection* section) {
    for (std::int32_t e = 0; e < section->count; ++e) {
      if (!IsLoaded(section, section->entries[e]) && !NewEntry(section->entries[e])) return false;
    }
    return true;
  }

  // Sections the operations made, in their order, after the end of the file.
  bool NewSections() {
    for (std::int32_t s = 0; s < document_->count; ++s) {
      IniSection* section = document_->sections[s];
      if (IsLoaded(section)) continue;
      if (!EndLine() || !Put("[") || !Put(section->name) || !Put("]") || !Put(line_end_))
        return false;
      for (std::int32_t e = 0; e < section->count; ++e) {
        if (!NewEntry(section->entries[e])) return false;
      }
    }
    return true;
  }

  IniDocument* document_;
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

// True when the file at `path` holds what the document's file held when it was loaded or
// last stored: read through and fingerprinted.
bool Unchanged(platform::FileSystem& file_system, const char* path, const KeptSource& kept) {
  platform::File file;
  if (file_system.OpenForReading(path, platform::Accept::kRegularFile, &file) !=
      platform::Opened::kYes) {
    return false;
  }
  Fingerprint now;
  char block[4096];
  std::uint32_t got = 0;
  bool read = true;
  while ((read = file_system.Read(file, block, sizeof block, &got)) && got > 0) now.Add(block, got);
  file_system.Close(file);
  return read && now == kept.on_disk;
}

}  // namespace

// -3 for what the edits would write that the format cannot carry: new sections' names, new
// entries and changed values. What stays as the file had it is read back as it was.
int CheckEdits(const IniDocument* document, IniCheckReport* report) {
  if (report != nullptr) *report = {-1, -1, ""};
  if (document == nullptr) return -1;
  if (KeptSourceOf(document) == nullptr) return CheckDocument(document, report);
  bool header_before = false;
  for (std::int32_t s = 0; s < document->count; ++s) {
    header_before = header_before || IsLoaded(document->sections[s]);
  }
  for (std::int32_t s = 0; s < document->count; ++s) {
    IniSection* section = document->sections[s];
    const bool loaded = IsLoaded(section);
    const char* problem = loaded ? nullptr : NameProblem(section->name, !header_before);
    std::int32_t at = -1;
    header_before = true;
    for (std::int32_t e = 0; problem == nullptr && e < section->count; ++e) {
      IniEntry* entry = section->entries[e];
      if (loaded && IsLoaded(section, entry)) {
        if (IsChanged(entry)) problem = ValueProblem(entry->value);
      } else {
        problem = KeyProblem(entry->key);
        if (problem == nullptr) problem = ValueProblem(entry->value);
      }
      if (problem != nullptr) at = e;
    }
    if (problem != nullptr) {
      if (report != nullptr) *report = {s, at, problem};
      return -3;
    }
  }
  return 0;
}

bool StoreEdits(const IniDocument* document, ByteSink& sink) {
  if (KeptSourceOf(document) == nullptr) return Store(document, sink) == 0;
  Output out(sink);
  return Editor(document, &out).Write();
}

int StoreEditsFile(platform::FileSystem& file_system, const IniDocument* document,
                   const char* path) {
  if (document == nullptr) return -1;
  KeptSource* kept = KeptSourceOf(document);
  if (CheckEdits(document, nullptr) != 0) return -3;
  if (kept == nullptr) {  // nothing was loaded: the file must still not be there
    return file_system.Exists(path) ? -4 : StoreFile(file_system, document, path);
  }
  platform::Replacement replacement;
  if (!file_system.BeginReplacing(path, platform::AtLink::kFollow, &replacement)) return -1;
  FileSink file(file_system, replacement.file);
  FingerprintingSink sink(file);
  if (!StoreEdits(document, sink)) {
    file_system.AbandonReplacing(&replacement);
    return -2;
  }
  // As late as can be: another program's change since the load is not undone.
  const bool same_file = kept->path != nullptr && std::strcmp(path, kept->path) == 0;
  if (same_file && !Unchanged(file_system, path, *kept)) {
    file_system.AbandonReplacing(&replacement);
    return -4;
  }
  if (!file_system.FinishReplacing(&replacement)) return -2;
  if (same_file) kept->on_disk = sink.fingerprint();
  return 0;
}

}  // namespace quorva::ini_detail

extern "C" {

int ini_store_edits(const IniDocument* document, const char* path) {
  return ini_detail::StoreEditsFile(platform::RealFileSystem(), document, path);
}

int ini_check_edits(const IniDocument* document, IniCheckReport* report) {
  return ini_detail::CheckEdits(document, report);
}

char* ini_store_edits_memory(const IniDocument* document, size_t* size) {
  *size = 0;
  if (ini_detail::CheckEdits(document, nullptr) != 0) return nullptr;
  ini_detail::MemorySink sink;
  if (!ini_detail::StoreEdits(document, sink)) return nullptr;
  return sink.Take(size);
}

}  // extern "C"
