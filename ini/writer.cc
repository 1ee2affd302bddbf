// Writing a document: sections and entries -> bytes in a file, which replaces the old one
// whole; and the check that what is written reads back the same.
#include <algorithm>
#include <cstring>

#include "ini/allocator.h"
#include "ini/io.h"
#include "ini/output.h"
#include "ini/project_internal.h"

namespace quorva::ini_detail {
namespace {

bool WriteDocument(const IniDocument* document, Output* out) {
  for (std::int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    // Section names are written as they are: the format has no escape for them.
    if (!out->PutChar('[') || !out->Put(section->name, std::strlen(section->name)) ||
        !out->Put("]\n", 2)) {
      return false;
    }
    for (std::int32_t e = 0; e < section->count; ++e) {
      const IniEntry* entry = section->entries[e];
      if (!out->PutEscaped(entry->key) || !out->PutChar('=') || !out->PutEscaped(entry->value) ||
          !out->PutChar('\n')) {
        return false;
      }
    }
  }
  return out->Flush();
}

// Why a document cannot be written so that it reads back the same: the texts of
// IniCheckReport.reason.
constexpr char kEmptyName[] = "empty section name";
constexpr char kNameBreak[] = "section name with CR or LF";
constexpr char kNameSemicolon[] = "section name with ';', which would start a comment";
constexpr char kNameBackslash[] = "section name with '\\', which would be read as an escape";
constexpr char kNameEquals[] = "section name with '=' after the first section";
constexpr char kEmptyKey[] = "empty key, or a key of spaces only";
constexpr char kKeySpace[] = "key with a space at its start or end";
constexpr char kKeyEquals[] = "key with '='";
constexpr char kKeyBreak[] = "key with CR or LF";
constexpr char kValueBreak[] = "value with a line feed";

}  // namespace

// Names are written as they are: the format has no escape for them. The first section's
// name may hold '=', since the first line is always read as a header.
const char* NameProblem(const char* name, bool first) {
  if (*name == '\0') return kEmptyName;
  const char* bad = name + std::strcspn(name, first ? "\r\n;\\" : "\r\n;\\=");
  switch (*bad) {
    case '\0':
      return nullptr;
    case ';':
      return kNameSemicolon;
    case '\\':
      return kNameBackslash;
    case '=':
      return kNameEquals;
    default:
      return kNameBreak;
  }
}

// Keys are escaped, but a reader drops a key's outer spaces and ends it at the first '='.
const char* KeyProblem(const char* key) {
  const std::size_t length = std::strlen(key);
  if (std::strspn(key, " ") == length) return kEmptyKey;
  if (key[0] == ' ' || key[length - 1] == ' ') return kKeySpace;
  const char* bad = key + std::strcspn(key, "=\r\n");
  if (*bad == '\0') return nullptr;
  return *bad == '=' ? kKeyEquals : kKeyBreak;
}

// A value's outer spaces and CRs are lost on reading, as the format says; a line feed would
// make the rest of it a line of its own.
const char* ValueProblem(const char* value) {
  return std::strchr(value, '\n') != nullptr ? kValueBreak : nullptr;
}

int CheckDocument(const IniDocument* document, IniCheckReport* report) {
  if (report != nullptr) *report = {-1, -1, ""};
  if (document == nullptr) return -1;
  for (std::int32_t s = 0; s < document->count; ++s) {
    const IniSection* section = document->sections[s];
    const char* problem = NameProblem(section->name, s == 0);
    std::int32_t at = -1;
    for (std::int32_t e = 0; problem == nullptr && e < section->count; ++e) {
      const IniEntry* entry = section->entries[e];
      problem = KeyProblem(entry->key);
      if (problem == nullptr) problem = ValueProblem(entry->value);
      if (problem != nullptr) at = e;
    }
    if (problem != nullptr) {
      if (report != nullptr) *report = {s, at, problem};
      return -3;
    }
  }
  return 0;
}

bool Store(const IniDocument* document, ByteSink& sink) {
  Output out(sink);
  return WriteDocument(document, &out);
}

int StoreFile(platform::FileSystem& file_system, const IniDocument* document, const char* path,
              platform::AtLink at_link) {
  if (document == nullptr) return -1;
  if (CheckDocument(document, nullptr) != 0) return -3;
  platform::Replacement replacement;
  if (!file_system.BeginReplacing(path, at_link, &replacement)) return -1;
  FileSink sink(file_system, replacement.file);
  if (!Store(document, sink)) {
    file_system.AbandonReplacing(&replacement);
    return -2;
  }
  return file_system.FinishReplacing(&replacement) ? 0 : -2;
}

}  // namespace quorva::ini_detail

extern "C" {

int ini_store_file(const IniDocument* document, const char* path) {
  return ini_detail::StoreFile(platform::RealFileSystem(), document, path,
                               platform::AtLink::kFollow);
}

int ini_check_document(const IniDocument* document, IniCheckReport* report) {
  return ini_detail::CheckDocument(document, report);
}

char* ini_store_memory(const IniDocument* document, size_t* size) {
  *size = 0;
  if (ini_detail::CheckDocument(document, nullptr) != 0) return nullptr;
  ini_detail::MemorySink sink;
  if (!ini_detail::Store(document, sink)) return nullptr;
  return sink.Take(size);
}

void ini_free_memory(char* bytes) { ini_detail::Release(bytes); }

}  // extern "C"
