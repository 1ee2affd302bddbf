// Tests of the writer: the exact bytes written, its results, and reading back.
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
