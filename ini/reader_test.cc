// Tests of the reader: the byte rules of logical lines, the structure of a file, building
// in place, and failures of the disk and of memory.
#include <gtest/gtest.h>

#include <string>

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

// How a rejection shows in the table: the physical line, the byte of its first character
// in it, and which rule the line broke.
std::string Where(int line, int column) {
  return "(line " + std::to_string(line) + ":" + std::to_string(column) + ": ";
}
std::string NoHeaderAt(int line, int column = 1) {
  return Where(line, column) + "expected a section header '[name]' on the first line)";
}
std::string RejectedAt(int line, int column = 1) {
  return Where(line, column) + "expected a key line 'key = value' or a section header '[name]')";
}

// Loads `bytes` through the fake disk, delivering at most `read_limit` bytes per read, and
// dumps the document, or the rejection. Also checks that the file was closed, nothing
// leaked, and loading the same bytes from memory gives the same.
std::string Load(const std::string& bytes, std::uint32_t read_limit = UINT32_MAX) {
  FailingAllocator allocator;
  FakeFileSystem disk;
  disk.files["t.ini"] = bytes;
  disk.read_limit = read_limit;
  IniLoadReport report;
  IniDocument* document = ini_detail::LoadFile(disk, "t.ini", &report);
  EXPECT_EQ(disk.OpenFiles(), 0u);
  EXPECT_EQ(report.outcome, document == nullptr ? INI_SYNTAX_ERROR : INI_LOADED);
  std::string dump = document != nullptr
                         ? Dump(document)
                         : Where(static_cast<int>(report.line), static_cast<int>(report.column)) +
                               report.reason + ")";
  ini_free_document(document);
  EXPECT_EQ(allocator.LiveBlocks(), 0u);
  return dump;
}

struct ReaderCase {
  const char* name;
  std::string bytes;
  std::string expected;  // Dump() of the document, or the rejection
};

// `name` with a section header in front, for cases about one line.
std::string InSection(const std::string& lines) { return "[s]\n" + lines; }
std::string Entries(const std::string& dump) { return "[s]\n" + dump; }

const ReaderCase kCases[] = {
    // Comments, spaces and the equals sign.
    {"comment_and_spaces_dropped", InSection("name = left side ; remark\n"),
     Entries("<name>=<left side>\n")},
    {"doubled_backslashes", InSection("dir=C:\\\\r\\\\bin\n"), Entries("<dir>=<C:\\r\\bin>\n")},
    {"escaped_semicolon", InSection("dir=a\\;b\n"), Entries("<dir>=<a;b>\n")},
    {"backslash_before_other_byte_dropped", InSection("dir=a\\b\n"), Entries("<dir>=<ab>\n")},
    {"continuation_keeps_inner_spaces", InSection("list = a \\\r\n   b\n"),
     Entries("<list>=<a    b>\n")},
    {"continuation_of_empty_line", InSection("\\\nk=v\n"), Entries("<k>=<v>\n")},
    {"continuation_leading_spaces_dropped", InSection("\\\n   k=v\n"), Entries("<k>=<v>\n")},
    {"backslash_in_comment_does_not_continue", InSection("k=v ; note \\\nx=1\n"),
     Entries("<k>=<v>\n<x>=<1>\n")},
    {"escaped_semicolon_then_continuation", InSection("k=v\\;c \\\nx=1\n"),
     Entries("<k>=<v;c x=1>\n")},
    {"escaped_leading_space_dropped", InSection("\\ x=1\n"), Entries("<x>=<1>\n")},
    {"escaped_trailing_space_removed", InSection("k=v\\ \n"), Entries("<k>=<v>\n")},
    {"cr_between_backslash_and_lf_continues", InSection("k=a\\\r\nb\n"), Entries("<k>=<ab>\n")},
    {"cr_ignored_anywhere", InSection("k\r=\rv\r\n"), Entries("<k>=<v>\n")},
    {"skipped_lines", InSection("\n   \n\r\n; only a comment\n; comment \\\nk=v\n\\\n"),
     Entries("<k>=<v>\n")},
    {"empty_key_rejects", InSection("=v\n"), RejectedAt(2)},
    {"first_equals_opens_line_rejects", InSection("=a=b\n"), RejectedAt(2)},
    {"no_equals_rejects", InSection("k\n"), RejectedAt(2)},
    {"equals_in_value", InSection("k==v\np = q = r\n"), Entries("<k>=<=v>\n<p>=<q = r>\n")},
    {"empty_value", InSection("k =   \n"), Entries("<k>=<>\n")},
    {"number_sign_is_ordinary", InSection("#x=1\n"), Entries("<#x>=<1>\n")},
    {"number_sign_comment_rejects", InSection("# note\n"), RejectedAt(2)},
    {"tabs_are_ordinary", InSection("\tk\t=v\t\n"), Entries("<\tk\t>=<v\t>\n")},
    {"last_line_without_lf", InSection("k=v"), Entries("<k>=<v>\n")},
    {"last_line_ends_in_comment", InSection("k=v ;c"), Entries("<k>=<v>\n")},
    {"last_line_ends_in_backslash", InSection("k=v\\"), Entries("<k>=<v>\n")},
    // Section headers.
    {"two_characters_too_short", "[]\n", NoHeaderAt(1)},
    {"section_without_entries", "[a]\n", "[a]\n"},
    {"spaces_inside_brackets_kept", "[ a ]\n", "[ a ]\n"},
    {"spaces_around_header", "  [a]   ; remark\n", "[a]\n"},
    {"nested_brackets", "[[a]]\n", "[[a]]\n"},
    {"bracket_inside_name", "[a]b]\n", "[a]b]\n"},
    {"text_after_header_rejects", "[a] x\n", NoHeaderAt(1)},
    {"semicolon_cuts_header", "[a;b]\n", NoHeaderAt(1)},
    {"escaped_semicolon_in_header", "[a\\;b]\n", "[a;b]\n"},
    {"key_before_first_header_rejects", "k=v\n[a]\n", NoHeaderAt(1)},
    {"later_bracket_line_with_equals_is_key", "[a]\n[b=c]\n", "[a]\n<[b>=<c]>\n"},
    {"first_bracket_line_with_equals_is_header", "[b=c]\n", "[b=c]\n"},
    {"cr_alone_is_no_line_end", "[a]\rk=v\r", NoHeaderAt(1)},
    {"byte_order_mark_rejects", "\xEF\xBB\xBF[a]\n", NoHeaderAt(1)},
    {"nul_ends_the_string", InSection(std::string("k=v\0x\n", 6)), Entries("<k>=<v>\n")},
    {"nul_at_start_rejects", InSection(std::string("\0k=v\n", 5)), RejectedAt(2)},
    {"high_bytes_ordinary", "[\xE4]\n\xFC=\xDF\n", "[\xE4]\n<\xFC>=<\xDF>\n"},
    // Whole files.
    {"repeats_kept_in_order", "[a]\nk=1\n[a]\nk=2\nk=3\n", "[a]\n<k>=<1>\n[a]\n<k>=<2>\n<k>=<3>\n"},
    {"empty_file", "", ""},
    {"only_comments_and_blanks", "; c\n\n   \n;x\\\n", ""},
    // The line of a rejection: where the offending logical line's first character stands.
    {"line_after_continuations", "[s]\nk=a\\\nb\n\\\n\nbad\n", RejectedAt(6)},
    {"line_where_continued_line_begins", "[s]\nba\\\r\nd\nx=1\n", RejectedAt(2)},
    {"line_of_first_character_after_empty_continuation", "[s]\n\\\n  bad\n", RejectedAt(3, 3)},
    {"column_of_first_character", "[s]\n\t k=1\n \r  # x\n", RejectedAt(3, 5)},
    {"column_after_a_long_line",
     "[s]\n" + std::string(5000, 'k') + "=1\n" + std::string(70, ' ') + "bad", RejectedAt(3, 71)},
    {"column_of_first_header", "   x=1\n", NoHeaderAt(1, 4)},
    {"line_after_comments_and_cr", "; c\n[a]\n; d \\\n \r\r\n  ;e\nbad ; f\n", RejectedAt(6)},
    {"line_after_many_reads",
     "[a]\n;" + std::string(1500, 'c') + "\n" + std::string(3000, '\n') + "bad", RejectedAt(3003)},
    {"first_offence_counts", "[a]\nbad\n[b]\nworse\n", RejectedAt(2)},
    {"written_form_reads_back", "[quorva]\nBindir=C:\\\\r\\\\qcore-4.0.1\\\\bin\n",
     "[quorva]\n<Bindir>=<C:\\r\\qcore-4.0.1\\bin>\n"},
};

class IniReaderCases : public ::testing::TestWithParam<std::uint32_t> {};

// Every case is read whole and also one and three bytes per read, so that no rule depends
// on where a read happens to end.
TEST_P(IniReaderCases, EachCaseGivesItsDocument) {
  for (const ReaderCase& c : kCases) {
    EXPECT_EQ(Load(c.bytes, GetParam()), c.expected) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, IniReaderCases, ::testing::Values(UINT32_MAX, 1u, 3u));

TEST(IniReader, RepeatedNamesFindTheFirst) {
  FakeFileSystem disk;
  disk.files["t.ini"] = "[a]\nk=1\n[a]\nk=2\nk=3\n";
  IniDocument* document = ini_detail::LoadFile(disk, "t.ini");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(ini_find_section(document, "a"), document->sections[0]);
  EXPECT_STREQ(ini_get_value(document->sections[1], "k"), "2");
  ini_free_document(document);
}

TEST(IniReader, LongLinesSpanManyReads) {
  std::string huge(200000, 'h');
  EXPECT_EQ(Load("[s]\nk=" + huge + "   \nnext=1\n"), "[s]\n<k>=<" + huge + ">\n<next>=<1>\n");
  std::string value(5000, 'x');
  value[1023] = 'y';
  value[1024] = 'z';
  EXPECT_EQ(Load("[s]\nk=" + value + "\n"), "[s]\n<k>=<" + value + ">\n");
  std::string name(3000, 'n');
  EXPECT_EQ(Load("[" + name + "]"), "[" + name + "]\n");
}

TEST(IniReader, ReadsInBlocksOf64KiB) {
  FakeFileSystem disk;
  disk.files["t.ini"] = "[s]\n" + std::string(200000, ';');
  IniDocument* document = ini_detail::LoadFile(disk, "t.ini");
  ASSERT_NE(document, nullptr);
  // 200,004 bytes: four reads. The last gives fewer bytes than asked, at the size the file
  // said it has: that is its end, which no fifth read is made to find.
  EXPECT_EQ(disk.Count(Op::kRead), 4u);
  ini_free_document(document);
}

// The document is built in the text itself, where its lines were read: an entry's value
// lies behind its key.
TEST(IniReader, BuildsInPlace) {
  FakeFileSystem disk;
  disk.files["t.ini"] = "[quorva]\nBindir  =  C:\\\\r\n";
  IniDocument* document = ini_detail::LoadFile(disk, "t.ini");
  ASSERT_NE(document, nullptr);
  const IniEntry* entry = document->sections[0]->entries[0];
  EXPECT_STREQ(entry->key, "Bindir");
  EXPECT_EQ(entry->value, entry->key + 11);
  EXPECT_STREQ(entry->value, "C:\\r");
  ini_free_document(document);
}

TEST(IniReader, ManySectionsAndEntriesGrowByTen) {
  std::string bytes;
  for (int s = 0; s < 25; ++s) {
    bytes += "[s" + std::to_string(s) + "]\n";
    for (int k = 0; k < s; ++k) bytes += "k" + std::to_string(k) + "=" + std::to_string(s) + "\n";
  }
  FakeFileSystem disk;
  disk.files["t.ini"] = bytes;
  IniDocument* document = ini_detail::LoadFile(disk, "t.ini");
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->count, 25);
  EXPECT_EQ(document->capacity, 30);
  EXPECT_EQ(document->sections[24]->count, 24);
  EXPECT_EQ(document->sections[24]->capacity, 30);
  EXPECT_EQ(document->sections[0]->capacity, 10);
  EXPECT_STREQ(ini_get_value(document->sections[24], "k23"), "24");
  // Every slot below `capacity` is there, in the loaded arrays as in made ones.
  testing_support::UseEverySlot(document->sections, document->capacity);
  for (int32_t s = 0; s < document->count; ++s) {
    testing_support::UseEverySlot(document->sections[s]->entries, document->sections[s]->capacity);
  }
  ini_free_document(document);
}

// A file that cannot be opened gives the system's reason, and costs no allocation.
TEST(IniReader, FileThatCannotBeOpenedSaysWhy) {
  FailingAllocator allocator;
  FakeFileSystem disk;
  disk.directories.insert("dir.ini");
  disk.files["fifo.ini"] = "";
  disk.special.insert("fifo.ini");
  const std::pair<const char*, const char*> cases[] = {
      {"missing.ini", "cannot open the file: no such file or directory"},
      {"dir.ini", "cannot open the file: it is a directory"},
  };
  for (const auto& [path, reason] : cases) {
    IniLoadReport report;
    EXPECT_EQ(ini_detail::LoadFile(disk, path, &report), nullptr);
    EXPECT_EQ(report.outcome, INI_CANNOT_OPEN);
    EXPECT_EQ(report.line, 0);
    EXPECT_EQ(report.column, 0);
    EXPECT_STREQ(report.reason, reason);
  }
  IniLoadReport report;
  EXPECT_EQ(ini_detail::LoadFile(disk, "fifo.ini", &report, platform::Accept::kRegularFile),
            nullptr);
  EXPECT_STREQ(report.reason, "cannot open the file: it is not a regular file");
  EXPECT_EQ(allocator.Allocations(), 0);
}

// A read that fails part-way must not pass off the part read so far as the whole file.
TEST(IniReader, FailedReadRejectsTheWholeFile) {
  std::string bytes = "[s]\n" + std::string(150000, 'k') + "=v\n";  // three reads
  for (std::size_t failing = 1; failing <= 3; ++failing) {
    FailingAllocator allocator;
    FakeFileSystem disk;
    disk.files["t.ini"] = bytes;
    disk.fail_if = [&](const testing_support::Call& call, std::size_t) {
      return call.op == Op::kRead && disk.Count(Op::kRead) == failing;
    };
    IniLoadReport report;
    EXPECT_EQ(ini_detail::LoadFile(disk, "t.ini", &report), nullptr) << "read " << failing;
    EXPECT_EQ(report.outcome, INI_READ_FAILED);
    EXPECT_STREQ(report.reason, "a read from the file failed");
    EXPECT_EQ(disk.OpenFiles(), 0u);
    EXPECT_EQ(allocator.LiveBlocks(), 0u);
  }
}

// Every allocation of a load is made to fail in turn: the load gives null, releases all it
// held and closes the file. Once with the file's size known, once not: then the first
// blocks are small, and every way of growing them is met.
TEST(IniReader, EveryAllocationFailureGivesNullAndLeaksNothing) {
  std::string bytes = "; header\n[a]\nk=1\n";
  for (int s = 0; s < 12; ++s)
    bytes += "[s" + std::to_string(s) + "]\nk=" + std::string(70, 'v') + "\n";
  for (int k = 0; k < 12; ++k) bytes += "key" + std::to_string(k) + "=v\n";
  bytes += "long=" + std::string(70000, 'x') + "\nafter=1\n";  // longer than a first block
  for (bool size_known : {true, false}) {
    auto load = [&](IniLoadReport* report) {
      FakeFileSystem disk;
      disk.files["t.ini"] = bytes;
      if (!size_known)
        disk.fail_if = [](const testing_support::Call& call, std::size_t) {
          return call.op == Op::kSize;
        };
      IniDocument* document = ini_detail::LoadFile(disk, "t.ini", report);
      EXPECT_EQ(disk.OpenFiles(), 0u);
      return document;
    };
    long total;
    {
      FailingAllocator counting;
      IniDocument* document = load(nullptr);
      ASSERT_NE(document, nullptr);
      ini_free_document(document);
      total = counting.Allocations();
    }
    ASSERT_GT(total, size_known ? 4 : 8);
    for (long fail_at = 0; fail_at < total; ++fail_at) {
      FailingAllocator allocator(fail_at);
      IniLoadReport report;
      EXPECT_EQ(load(&report), nullptr) << "allocation " << fail_at;
      EXPECT_EQ(report.outcome, INI_OUT_OF_MEMORY);
      EXPECT_EQ(allocator.LiveBlocks(), 0u) << "allocation " << fail_at;
    }
  }
}

// A source that does not know its size costs a few blocks that double, not one block per
// read: releasing pieces of the document asks which block they lie in.
TEST(IniReader, UnknownSizeCostsFewBlocks) {
  std::string bytes = "[s]\n";
  while (bytes.size() < (16u << 20)) bytes += "key" + std::to_string(bytes.size()) + "=value\n";
  FakeFileSystem disk;
  disk.files["t.ini"] = bytes;
  disk.fail_if = [](const testing_support::Call& call, std::size_t) {
    return call.op == Op::kSize;
  };
  FailingAllocator counting;
  IniDocument* document = ini_detail::LoadFile(disk, "t.ini");
  ASSERT_NE(document, nullptr);
  EXPECT_LT(counting.Allocations(), 80) << "16 MiB in reads of 64 KiB would be 256 blocks";
  ini_free_document(document);
}

// Whatever size the source reports, true or not: a size that cannot be held gives
// INI_OUT_OF_MEMORY, and any other gives the document, never a block too small for what
// is read into it (sizes near a multiple of 4 GiB wrapped on 32-bit systems).
TEST(IniReader, AnyReportedSizeIsSafe) {
  const std::string bytes = "[s]\n" + std::string(100000, 'k') + "=v\n";
  const std::string expected = "[s]\n<" + std::string(100000, 'k') + ">=<v>\n";
  for (std::uint64_t size :
       {std::uint64_t{SIZE_MAX}, std::uint64_t{SIZE_MAX} - 1, std::uint64_t{SIZE_MAX} - (1u << 20),
        std::uint64_t{SIZE_MAX} - (2u << 20), std::uint64_t{UINT64_MAX} / 2,
        std::uint64_t{UINT32_MAX} - 1, std::uint64_t{UINT32_MAX} - (1u << 20),
        (std::uint64_t{8} << 30) - 2, std::uint64_t{0}, std::uint64_t{10}, std::uint64_t{70000}}) {
    FakeFileSystem disk;
    disk.files["t.ini"] = bytes;
    disk.reported_size = size;
    IniLoadReport report;
    IniDocument* document = ini_detail::LoadFile(disk, "t.ini", &report);
    if (document == nullptr) {
      EXPECT_EQ(report.outcome, INI_OUT_OF_MEMORY) << size;
    } else {
      EXPECT_EQ(Dump(document), expected) << size;
    }
    // Only a size beyond a quarter of a 32-bit address space may fail to be held at all.
    EXPECT_TRUE(document != nullptr || size >= (std::uint64_t{1} << 30)) << size;
    ini_free_document(document);
    EXPECT_EQ(disk.OpenFiles(), 0u);
  }
}

TEST(IniReader, LoadsARealFile) {
  testing_support::TempDir dir;
  std::string path = dir / "Install.ini";
  testing_support::WriteFileBytes(path, "[Install]\r\nVSN = 4.0.1\r\nSYSTEM_VSN=26\r\n");
  IniDocument* document = ini_load_file(path.c_str());
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(Dump(document), "[Install]\n<VSN>=<4.0.1>\n<SYSTEM_VSN>=<26>\n");
  ini_free_document(document);
  EXPECT_EQ(ini_load_file((dir / "missing.ini").c_str()), nullptr);
  EXPECT_EQ(ini_load_file(dir.path().c_str()), nullptr) << "a directory is no file";
}

}  // namespace
