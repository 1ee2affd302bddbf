// Tests of the writer: the exact bytes written, its results, and reading back; and of the
// editor, which writes a document's changes into the text it was loaded from.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ini/project_internal.h"
#include "ini/records.h"
#include "tests/failing_allocator.h"
#include "tests/fake_file_system.h"
#include "tests/test_util.h"

namespace {

using testing_support::Dump;
using testing_support::FailingAllocator;
using testing_support::FakeFileSystem;
using testing_support::Op;

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> entries;
};

// A document with exactly these sections and entries, repeats included, built by hand as
// the reader would build it (ini_add_section and ini_set_value would merge repeats).
IniDocument* MakeDocument(const std::vector<Section>& sections) {
  IniDocument* document = ini_new_document();
  for (const Section& s : sections) {
    IniSection* section = ini_new_section(s.name.c_str());
    for (const auto& [key, value] : s.entries)
      ini_detail::AppendRepeat(section, key.c_str(), value.c_str());
    ini_detail::AppendSection(document, section);
  }
  return document;
}

// The bytes stored for `sections`. Storing to memory gives the same bytes. Storing never
// fails for lack of memory: with no heap block for its output the writer uses a small one
// of its own, and writes the same bytes.
std::string Store(const std::vector<Section>& sections) {
  IniDocument* document = MakeDocument(sections);
  FakeFileSystem disk, without_heap;
  EXPECT_EQ(ini_detail::StoreFile(disk, document, "out.ini"), 0);
  {
    FailingAllocator no_memory(0);
    EXPECT_EQ(ini_detail::StoreFile(without_heap, document, "out.ini"), 0);
  }
  std::size_t size = 1;
  char* bytes = ini_store_memory(document, &size);
  EXPECT_EQ(std::string(bytes, size), disk.files["out.ini"]);
  EXPECT_EQ(bytes[size], '\0');
  ini_free_memory(bytes);
  ini_free_document(document);
  EXPECT_EQ(disk.OpenFiles(), 0u);
  EXPECT_EQ(without_heap.files["out.ini"], disk.files["out.ini"]);
  return disk.files["out.ini"];
}

TEST(IniWriter, WritesExactBytes) {
  struct Case {
    const char* name;
    std::vector<Section> sections;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty_document", {}, ""},
      {"runtime_ini",
       {{"quorva",
         {{"Bindir", "C:\\r\\qcore-4.0.1\\bin"}, {"Progname", "qrv"}, {"Rootdir", "C:\\r"}}}},
       "[quorva]\nBindir=C:\\\\r\\\\qcore-4.0.1\\\\bin\nProgname=qrv\nRootdir=C:\\\\r\n"},
      {"sections_without_entries", {{"a", {}}, {"b", {}}}, "[a]\n[b]\n"},
      {"escapes_in_key_and_value", {{"s", {{"a;b", "c\\d"}}}}, "[s]\na\\;b=c\\\\d\n"},
      {"escapes_in_the_last_bytes_of_long_text",
       {{"s", {{"abcdefgh;ij", "0123456789\\"}, {"k", "12345678;x;\\"}}}},
       "[s]\nabcdefgh\\;ij=0123456789\\\\\nk=12345678\\;x\\;\\\\\n"},
      {"names_written_as_they_are", {{" a]b[c=d ", {}}}, "[ a]b[c=d ]\n"},
      {"other_bytes_unchanged", {{"s", {{"\tk [", "]= \r\xE9 "}}}}, "[s]\n\tk [=]= \r\xE9 \n"},
      {"empty_value", {{"s", {{"k", ""}}}}, "[s]\nk=\n"},
      {"repeats_written_in_order",
       {{"a", {{"k", "1"}, {"k", "2"}}}, {"a", {{"k", "3"}}}},
       "[a]\nk=1\nk=2\n[a]\nk=3\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Store(c.sections), c.bytes) << c.name;
}

TEST(IniWriter, ReplacesAnExistingFileWhole) {
  IniDocument* document = ini_new_document();
  FakeFileSystem disk;
  disk.files["out.ini"] = "old contents";
  disk.files["out.ini.partial"] = "not the store's";  // a name it did not make stays
  EXPECT_EQ(ini_detail::StoreFile(disk, document, "out.ini"), 0);
  EXPECT_EQ(disk.files, (std::map<std::string, std::string>{
                            {"out.ini", ""}, {"out.ini.partial", "not the store's"}}));
  ini_free_document(document);
}

TEST(IniWriter, FileThatCannotBeCreatedGivesMinusOne) {
  IniDocument* document = MakeDocument({{"s", {{"k", "v"}}}});
  FakeFileSystem disk;
  disk.directories.insert("out.ini");
  disk.files["kept.ini"] = "kept";
  disk.read_only.insert("kept.ini");
  EXPECT_EQ(ini_detail::StoreFile(disk, document, "out.ini"), -1);
  EXPECT_EQ(ini_detail::StoreFile(disk, document, "kept.ini"), -1) << "a file it may not write";
  EXPECT_EQ(disk.Count(Op::kWrite), 0u);
  ini_free_document(document);

  // No document: nothing is created, and a file already there keeps its bytes.
  disk.read_only.clear();
  EXPECT_EQ(ini_detail::StoreFile(disk, nullptr, "kept.ini"), -1);
  EXPECT_EQ(disk.files, (std::map<std::string, std::string>{{"kept.ini", "kept"}}));
  EXPECT_EQ(disk.Count(Op::kReplace), 2u);
  std::size_t size = 1;
  EXPECT_EQ(ini_store_memory(nullptr, &size), nullptr);
  EXPECT_EQ(size, 0u);
}

// A document large enough for several writes; each write in turn fails outright or writes
// short, and then the flush-and-move fails. The result is -2, and the old file is whole,
// with no temporary left beside it.
TEST(IniWriter, FailedOrShortWriteGivesMinusTwoAndKeepsTheOldFile) {
  std::vector<Section> sections;
  for (int s = 0; s < 300; ++s) {
    Section section{"section" + std::to_string(s), {}};
    for (int k = 0; k < 20; ++k)
      section.entries.push_back({"key;" + std::to_string(k), std::string(40, '\\')});
    sections.push_back(section);
  }
  IniDocument* document = MakeDocument(sections);
  FakeFileSystem counting;
  ASSERT_EQ(ini_detail::StoreFile(counting, document, "out.ini"), 0);
  const std::size_t writes = counting.Count(Op::kWrite);
  ASSERT_GT(writes, 2u);

  const std::map<std::string, std::string> old = {{"out.ini", "old"}};
  for (int how = 0; how < 3; ++how) {
    for (std::size_t failing = 1; failing <= (how == 2 ? 1 : writes); ++failing) {
      FakeFileSystem disk;
      disk.files = old;
      auto pick = [&](const testing_support::Call& call, std::size_t) {
        return how == 2 ? call.op == Op::kCommit
                        : call.op == Op::kWrite && disk.Count(Op::kWrite) == failing;
      };
      (how == 1 ? disk.short_write_if : disk.fail_if) = pick;
      EXPECT_EQ(ini_detail::StoreFile(disk, document, "out.ini"), -2) << how << " " << failing;
      EXPECT_EQ(disk.Count(Op::kWrite), how == 2 ? writes : failing)
          << "nothing is written after a failure";
      EXPECT_EQ(disk.files, old);
      EXPECT_EQ(disk.OpenFiles(), 0u);
    }
  }
  ini_free_document(document);
}

// What the writer writes, the reader reads back: the kinds of text that survive.
TEST(IniWriter, RoundTripKeepsWhatSurvives) {
  const std::vector<Section> sections = {
      {" spaced name ", {{"a;b\\c", "x;y\\z"}, {"k", "p = q = r"}, {"e", ""}}},
      {"[br]ack]", {{"in ner", "in  ner"}, {"\xE4[", "]\xFF"}, {"k", "1"}, {"k", "2"}}},
      {"empty", {}},
      {"tabs", {{"\tk", "v\t"}}},
  };
  IniDocument* document = MakeDocument(sections);
  testing_support::TempDir dir;
  std::string path = dir / "round.ini";
  ASSERT_EQ(ini_store_file(document, path.c_str()), 0);
  IniDocument* back = ini_load_file(path.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Dump(back), Dump(document));
  ini_free_document(back);
  ini_free_document(document);

  IniDocument* empty = ini_new_document();
  ASSERT_EQ(ini_store_file(empty, path.c_str()), 0);
  EXPECT_EQ(testing_support::ReadFileBytes(path), "");
  IniDocument* empty_back = ini_load_file(path.c_str());
  ASSERT_NE(empty_back, nullptr);
  EXPECT_EQ(empty_back->count, 0);
  ini_free_document(empty_back);
  ini_free_document(empty);
}

// What the format cannot carry is refused with -3, naming the first section and entry at
// fault, before anything is created; what it documents as lost on reading is written.
TEST(IniWriter, RefusesWhatWouldNotReadBack) {
  struct Case {
    const char* name;
    std::vector<Section> sections;
    std::string read_back;  // Dump() of what the reader makes of it, or the refusal's reason
    int32_t section = -1, entry = -1;
  };
  const Case cases[] = {
      {"outer_spaces_of_value_lost", {{"s", {{"k", " v "}}}}, "[s]\n<k>=<v>\n"},
      {"cr_of_value_lost", {{"s", {{"k", "\rv\rw \r"}}}}, "[s]\n<k>=<vw>\n"},
      {"outer_spaces_of_name_kept", {{" s ", {{"\tk\t", "v"}}}}, "[ s ]\n<\tk\t>=<v>\n"},
      {"equals_in_first_name", {{"a=b", {}}}, "[a=b]\n"},
      {"empty_name", {{"", {}}}, "empty section name", 0},
      {"cr_in_name", {{"s\r", {}}}, "section name with CR or LF", 0},
      {"lf_in_name", {{"s", {}}, {"a\nb", {}}}, "section name with CR or LF", 1},
      {"semicolon_in_name", {{"a;b", {}}}, "section name with ';', which would start a comment", 0},
      {"backslash_in_name",
       {{"a\\b", {}}},
       "section name with '\\', which would be read as an escape",
       0},
      {"equals_in_later_name",
       {{"s", {}}, {"a=b", {}}},
       "section name with '=' after the first section",
       1},
      {"empty_key", {{"s", {{"", "v"}}}}, "empty key, or a key of spaces only", 0, 0},
      {"key_of_spaces",
       {{"s", {{"k", "1"}, {"  ", "v"}}}},
       "empty key, or a key of spaces only",
       0,
       1},
      {"leading_space_in_key",
       {{"s", {{" k", "v"}}}},
       "key with a space at its start or end",
       0,
       0},
      {"trailing_space_in_key",
       {{"s", {{"k ", "v"}}}},
       "key with a space at its start or end",
       0,
       0},
      {"equals_in_key", {{"s", {{"a=b", "c"}}}}, "key with '='", 0, 0},
      {"cr_in_key", {{"s", {{"k\r", "v"}}}}, "key with CR or LF", 0, 0},
      {"lf_in_key", {{"s", {{"k\nx", "v"}}}}, "key with CR or LF", 0, 0},
      {"lf_in_value",
       {{"s", {{"k", "v"}}}, {"t", {{"a", "1"}, {"b", "v\nx=y"}}}},
       "value with a line feed",
       1,
       1},
  };
  for (const Case& c : cases) {
    IniDocument* document = MakeDocument(c.sections);
    FakeFileSystem disk;
    disk.files["f.ini"] = "old";
    IniCheckReport report;
    const int checked = ini_check_document(document, &report);
    const int stored = ini_detail::StoreFile(disk, document, "f.ini");
    std::size_t size = 1;
    char* bytes = ini_store_memory(document, &size);
    if (checked == 0) {
      EXPECT_EQ(stored, 0) << c.name;
      EXPECT_NE(bytes, nullptr) << c.name;
      IniDocument* back = ini_detail::LoadFile(disk, "f.ini");
      EXPECT_EQ(back == nullptr ? "(rejected)" : Dump(back), c.read_back) << c.name;
      ini_free_document(back);
    } else {
      EXPECT_EQ(checked, -3) << c.name;
      EXPECT_EQ(stored, -3) << c.name;
      EXPECT_EQ(std::string(report.reason) + " " + std::to_string(report.section) + " " +
                    std::to_string(report.entry),
                c.read_back + " " + std::to_string(c.section) + " " + std::to_string(c.entry))
          << c.name;
      EXPECT_EQ(disk.Count(Op::kReplace), 0u) << c.name << ": nothing created";
      EXPECT_EQ(disk.files["f.ini"], "old") << c.name;
      EXPECT_EQ(bytes, nullptr) << c.name;
      EXPECT_EQ(size, 0u) << c.name;

      // The same refusal behind a first section larger than the writer's block, so that it
      // is found after the file was begun: the old file stays, with nothing beside it, and
      // where no file can be created the refusal is still what is reported.
      std::vector<Section> behind = c.sections;
      behind.insert(behind.begin(), Section{"big", {}});
      for (int k = 0; k < 12000; ++k) behind[0].entries.push_back({"k" + std::to_string(k), "v"});
      IniDocument* large = MakeDocument(behind);
      FakeFileSystem late, blocked;
      late.files["f.ini"] = "old";
      blocked.directories.insert("f.ini");
      EXPECT_EQ(ini_detail::StoreFile(late, large, "f.ini"), -3) << c.name;
      EXPECT_GT(late.Count(Op::kWrite), 0u) << c.name << ": found after a write";
      EXPECT_EQ(late.files, (std::map<std::string, std::string>{{"f.ini", "old"}})) << c.name;
      EXPECT_EQ(late.OpenFiles(), 0u) << c.name;
      EXPECT_EQ(ini_detail::StoreFile(blocked, large, "f.ini"), -3) << c.name;
      ini_free_document(large);
    }
    ini_free_memory(bytes);
    ini_free_document(document);
  }
}

TEST(IniWriter, MissingDirectoryGivesMinusOne) {
  testing_support::TempDir dir;
  IniDocument* document = ini_new_document();
  std::string path = dir / "no" + platform::kSeparator + "such.ini";
  EXPECT_EQ(ini_store_file(document, path.c_str()), -1);
  ini_free_document(document);
}

}  // namespace

// Storing the edits of a document loaded for editing: every line no change concerns stays
// byte for byte, and each kind of change lands where it should.
TEST(IniEditor, WritesOnlyTheChanges) {
  // Comments, blank lines, spaced '=', a comment after a value, an escape, a continuation,
  // CR LF line ends and a last line without a line feed.
  const std::string file =
      "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
      "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\n; about the client\r\n[client]\r\n"
      "retries = 3 ; how often\r\n; between\r\ntimeout = 5";
  struct Case {
    const char* name;
    void (*edit)(IniDocument*);
    std::string expected;            // "" for the file as it was
    const char* own_file = nullptr;  // the file edited, when not the one above
  };
  const Case cases[] = {
      {"nothing", [](IniDocument*) {}, ""},
      {"the same values",
       [](IniDocument* d) {
         ini_set_value(ini_find_section(d, "server"), "path", "C:\\r;x");
         ini_set_value(ini_find_section(d, "client"), "timeout", "5");
       },
       ""},
      {"a value with a comment after it",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "server"), "host", "127.0.0.1"); },
       "; settings\r\n\r\n[server]\r\nhost    = 127.0.0.1   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 5"},
      {"a continued value, escaped as the writer escapes",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "server"), "list", "x;y"); },
       "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = x\\;y ; joined\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 5"},
      {"the last line, which had no line feed",
       [](IniDocument* d) {
         ini_set_value(ini_find_section(d, "client"), "timeout", "9");
         ini_set_value(ini_find_section(d, "client"), "new", "1");
       },
       "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 9\r\nnew=1\r\n"},
      {"new entries after the section's last, a new section at the end",
       [](IniDocument* d) {
         ini_set_value(ini_find_section(d, "server"), "port", "80");
         IniSection* added = ini_new_section("added");
         ini_add_section(d, added);
         ini_set_value(added, "k", "v");
       },
       "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\nport=80\r\n; about the client\r\n"
       "[client]\r\nretries = 3 ; how often\r\n; between\r\ntimeout = 5\r\n[added]\r\nk=v\r\n"},
      {"a removed entry, all its lines; the comments stay; the moved entry keeps its place",
       [](IniDocument* d) {
         ini_remove_key(ini_find_section(d, "server"), "host");
         ini_remove_key(ini_find_section(d, "server"), "list");
       },
       "; settings\r\n\r\n[server]\r\npath = C:\\\\r\\;x\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 5"},
      {"a removed section: header to last entry; what follows it stays",
       [](IniDocument* d) { ini_remove_section(d, "server"); },
       "; settings\r\n\r\n; about the client\r\n[client]\r\nretries = 3 ; how often\r\n"
       "; between\r\ntimeout = 5"},
      // Removals among repeats keep the order of the rest, the file's order, so the first
      // match is the same in the document and in the file.
      {"a removal before a repeated key",
       [](IniDocument* d) { ini_remove_key(ini_find_section(d, "s"), "x"); }, "[s]\na=1\na=2\n",
       "[s]\nx=1\na=1\na=2\n"},
      {"a removal, then a change of a repeated key",
       [](IniDocument* d) {
         ini_remove_key(ini_find_section(d, "s"), "x");
         ini_set_value(ini_find_section(d, "s"), "a", "9");
       },
       "[s]\na=9\na=2\n", "[s]\nx=1\na=1\na=2\n"},
      {"two removals of a key held three times",
       [](IniDocument* d) {
         ini_remove_key(ini_find_section(d, "s"), "a");
         ini_remove_key(ini_find_section(d, "s"), "a");
       },
       "[s]\na=3\n", "[s]\na=1\na=2\na=3\n"},
      {"a new section in the place of a loaded one of a repeated name",
       [](IniDocument* d) {
         IniSection* added = ini_new_section("a");
         ini_set_value(added, "k", "9");
         ini_add_section(d, added);
       },
       "; b\n[a]\nk=9\n[a]\nk=2\n", "[a]\nk=1\n; b\n[a]\nk=2\n"},
      // A backslash escapes the next byte but CRs, in the comment's search as in the reader.
      {"an escape before a CR",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "s"), "k", "x"); }, "[s]\nk = x\n",
       "[s]\nk = a\\\r;b\n"},
      {"an escaped backslash after a CR, then a comment",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "s"), "k", "x"); },
       "[s]\nk = x; note\n", "[s]\nk = a\\\r\\; note\n"},
  };
  for (const Case& c : cases) {
    const std::string own = c.own_file != nullptr ? c.own_file : file;
    IniDocument* document = ini_load_memory_for_editing(own.data(), own.size(), nullptr);
    ASSERT_NE(document, nullptr);
    c.edit(document);
    std::size_t size = 0;
    char* bytes = ini_store_edits_memory(document, &size);
    ASSERT_NE(bytes, nullptr) << c.name;
    const std::string stored(bytes, size);
    EXPECT_EQ(stored, c.expected.empty() ? own : c.expected) << c.name;
    // What was stored reads back as the edited document: every lookup finds the same.
    IniDocument* back = ini_load_memory(bytes, size, nullptr);
    ASSERT_NE(back, nullptr) << c.name;
    for (int32_t s = 0; s < document->count; ++s) {
      const IniSection* edited = document->sections[s];
      for (int32_t e = 0; e < edited->count; ++e) {
        const char* key = edited->entries[e]->key;
        EXPECT_STREQ(ini_get_value(ini_find_section(back, edited->name), key),
                     ini_get_value(ini_find_section(document, edited->name), key))
            << c.name;
      }
    }
    ini_free_document(back);
    ini_free_memory(bytes);
    ini_free_document(document);
  }
}

// A file that ends inside a line, with an escape pending or a continuation as its last
// bytes, is closed before what is added after it, which would otherwise join that line.
TEST(IniEditor, ClosesALineLeftOpenAtTheEnd) {
  for (const std::string file :
       {"[s]\nk=v\\", "[s]\nk=v\\\n", "[s]\nk=v\\\r\n", "[s]\nk=v ; c\\"}) {
    IniDocument* document = ini_load_memory_for_editing(file.data(), file.size(), nullptr);
    ini_set_value(ini_find_section(document, "s"), "n", "1");
    std::size_t size = 0;
    char* bytes = ini_store_edits_memory(document, &size);
    IniDocument* back = ini_load_memory(bytes, size, nullptr);
    EXPECT_EQ(testing_support::Dump(back), "[s]\n<k>=<v>\n<n>=<1>\n") << file;
    ini_free_document(back);
    ini_free_memory(bytes);
    ini_free_document(document);
  }
}

// A store refuses what the format cannot carry, and will not undo another program's change:
// the file changed since the load, or one created where none was.
TEST(IniEditor, RefusesAndKeepsOtherProgramsChanges) {
  FakeFileSystem disk;
  disk.files["a.ini"] = "[s]\nk = 1 ; note\n";
  IniDocument* document = ini_detail::LoadFileForEditing(disk, "a.ini");
  ASSERT_NE(document, nullptr);
  ini_set_value(ini_find_section(document, "s"), "k", "two\nlines");
  IniCheckReport why;
  EXPECT_EQ(ini_check_edits(document, &why), -3);
  EXPECT_STREQ(why.reason, "value with a line feed");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), -3);

  ini_set_value(ini_find_section(document, "s"), "k", "2");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), 0);
  EXPECT_EQ(disk.files["a.ini"], "[s]\nk = 2 ; note\n");
  ini_set_value(ini_find_section(document, "s"), "k", "3");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), 0) << "its own store is no change";
  disk.files["a.ini"] = "[s]\nk = 3 ; another program's\n";
  ini_set_value(ini_find_section(document, "s"), "k", "4");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), -4);
  EXPECT_EQ(disk.files["a.ini"], "[s]\nk = 3 ; another program's\n");
  EXPECT_EQ(disk.Temporaries(), std::vector<std::string>{});
  disk.files.erase("a.ini");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), -4) << "removed meanwhile";
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), 0)
      << "saved elsewhere: nothing to undo";
  EXPECT_EQ(disk.files["b.ini"], "[s]\nk = 4 ; note\n");
  disk.files["a.ini"] = "[s]\n";
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), 0)
      << "b.ini is the document's file now, unchanged since its store";
  disk.ids.erase("b.ini");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), -4) << "replaced meanwhile";
  EXPECT_TRUE(disk.locked.empty());
  disk.locked_by_others.insert("b.ini");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), -5)
      << "its lock held past the wait";
  ini_free_document(document);

  IniDocument* fresh = ini_new_document();
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, fresh, "a.ini"), -4) << "a file is there already";
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, fresh, "c.ini"), 0);
  IniSection* added = ini_new_section("n");
  ini_add_section(fresh, added);
  ini_set_value(added, "k", "1");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, fresh, "c.ini"), 0) << "its own first store";
  EXPECT_EQ(disk.files["c.ini"], "[n]\nk=1\n");
  ini_free_document(fresh);
}
