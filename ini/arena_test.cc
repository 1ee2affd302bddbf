// Tests of where a document's pieces live: what a load read stays in the document's arena
// until the document goes, and the operations' own blocks are released as they are
// replaced.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ini/ini.h"
#include "tests/failing_allocator.h"
#include "tests/test_util.h"

namespace {

using IniArena = testing_support::ReleasesEverything;
using testing_support::SectionNames;

// A loaded document keeps what it read in a few blocks of its own: removing or replacing a
// loaded item releases nothing at once, while the operations' own blocks come and go as
// ever. Everything returns with the document (the fixture checks), and no release path
// frees a carved piece (ASan checks).
TEST_F(IniArena, LoadedPiecesReturnWithTheDocument) {
  const std::string text = "[a]\nk=1\nj=2\n[b]\nx=3\n[c]\ny=4\n";
  IniDocument* document = ini_load_memory(text.data(), text.size(), nullptr);
  ASSERT_NE(document, nullptr);
  IniSection* a = ini_find_section(document, "a");
  const std::size_t loaded = allocator_.LiveBlocks();

  EXPECT_EQ(ini_remove_key(a, "j"), 0);
  EXPECT_EQ(allocator_.LiveBlocks(), loaded) << "a loaded entry is kept until the end";
  EXPECT_EQ(ini_set_value(a, "k", "own"), 0);
  EXPECT_EQ(allocator_.LiveBlocks(), loaded + 1) << "the new value has a block of its own";
  EXPECT_EQ(ini_set_value(a, "k", "own again"), 0);
  EXPECT_EQ(allocator_.LiveBlocks(), loaded + 1) << "an own block is released at once";
  EXPECT_EQ(ini_set_value(a, "new", "v"), 1);
  EXPECT_EQ(ini_remove_key(a, "new"), 0);
  EXPECT_EQ(allocator_.LiveBlocks(), loaded + 1);
  for (int i = 0; i < 12; ++i) ini_set_value(a, ("n" + std::to_string(i)).c_str(), "v");

  IniSection* copy = ini_copy_section(a, "b");
  EXPECT_EQ(ini_add_section(document, copy), 0) << "replaces the loaded section b";
  EXPECT_EQ(ini_remove_section(document, "c"), 0);
  EXPECT_EQ(ini_remove_section(document, "a"), 0);
  EXPECT_EQ(SectionNames(document), std::vector<std::string>{"b"});
  EXPECT_STREQ(ini_get_value(ini_find_section(document, "b"), "k"), "own again");
  ini_free_document(document);
}

// A large value made by an operation is released as soon as it is replaced, the first
// value of an entry too; what an entry keeps of its first text is bounded.
TEST_F(IniArena, ReplacedValuesAreReleased) {
  IniSection* section = ini_new_section("s");
  const std::string large(1 << 20, 'v');
  ini_set_value(section, "short", "v");
  const std::size_t before = allocator_.LiveBytes();
  ini_set_value(section, "k", large.c_str());
  EXPECT_GT(allocator_.LiveBytes(), before + large.size());
  ini_set_value(section, "k", "small");
  ini_set_value(section, "short", "w");
  EXPECT_LT(allocator_.LiveBytes(), before + 200) << "the 1 MiB first value was kept";
  for (int i = 0; i < 100; ++i) ini_set_value(section, "short", std::to_string(i).c_str());
  EXPECT_LT(allocator_.LiveBytes(), before + 200) << "replacing again and again adds up";
  EXPECT_STREQ(ini_get_value(section, "k"), "small");
  ini_free_section(section);
}

}  // namespace
