// Tests of the in-memory document: order, ownership, lookups, changes and capacity.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ini/ini.h"
#include "ini/project_internal.h"
#include "ini/records.h"
#include "tests/failing_allocator.h"
#include "tests/test_util.h"

namespace {

using testing_support::FailingAllocator;
using testing_support::UseEverySlot;

using testing_support::Keys;
using testing_support::SectionNames;
using IniDocumentTest = testing_support::ReleasesEverything;

TEST_F(IniDocumentTest, NewDocumentIsEmpty) {
  IniDocument* document = ini_new_document();
  EXPECT_EQ(document->count, 0);
  EXPECT_EQ(document->capacity, 10);
  EXPECT_EQ(ini_find_section(document, "Install"), nullptr);
  EXPECT_EQ(ini_find_section(document, ""), nullptr);
  EXPECT_EQ(ini_section_name_at(document, 0), nullptr);
  EXPECT_EQ(ini_remove_section(document, "x"), 1);
  ini_free_document(document);
}

TEST_F(IniDocumentTest, NewSectionCopiesItsName) {
  std::string name = "quorva";
  IniSection* section = ini_new_section(name.c_str());
  name[0] = 'X';
  EXPECT_STREQ(section->name, "quorva");
  EXPECT_EQ(section->count, 0);
  EXPECT_EQ(section->capacity, 10);
  ini_free_section(section);
}

// `sections` and `entries` are public arrays of `capacity` slots: a caller may keep the
// array and use every slot. Capacity steps by 10, and an array moves only in an append that
// finds it full; removing never shrinks it.
TEST_F(IniDocumentTest, ArraysHoldCapacitySlotsAndMoveOnlyWhenFull) {
  IniDocument* document = ini_new_document();
  UseEverySlot(document->sections, document->capacity);
  std::vector<std::string> expected;
  for (int i = 0; i < 35; ++i) {
    IniSection** kept = document->sections;
    const bool full = document->count == document->capacity;
    expected.push_back("s" + std::to_string(i));
    EXPECT_EQ(ini_add_section(document, ini_new_section(expected.back().c_str())), 1);
    EXPECT_EQ(document->count, i + 1);
    EXPECT_EQ(document->capacity, (i / 10 + 1) * 10) << "after " << i + 1 << " sections";
    if (!full) {
      EXPECT_EQ(document->sections, kept) << "moved by append " << i + 1;
    }
    UseEverySlot(document->sections, document->capacity);
  }
  EXPECT_EQ(SectionNames(document), expected);

  IniSection* section = ini_find_section(document, "s34");
  UseEverySlot(section->entries, section->capacity);
  for (int i = 0; i < 21; ++i) {
    IniEntry** kept = section->entries;
    const bool full = section->count == section->capacity;
    ini_set_value(section, ("k" + std::to_string(i)).c_str(), "v");
    if (!full) {
      EXPECT_EQ(section->entries, kept) << "moved by append " << i + 1;
    }
    UseEverySlot(section->entries, section->capacity);
  }
  EXPECT_EQ(section->capacity, 30);
  IniEntry** kept = section->entries;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 21; ++i) ini_remove_key(section, ("k" + std::to_string(i)).c_str());
    EXPECT_EQ(section->count, 0);
    EXPECT_EQ(section->capacity, 30) << "capacity never shrinks";
    for (int i = 0; i < 30; ++i) ini_set_value(section, ("k" + std::to_string(i)).c_str(), "v");
    EXPECT_EQ(section->entries, kept) << "removing and appending below capacity moved it";
    UseEverySlot(section->entries, section->capacity);
    for (int i = 21; i < 30; ++i) ini_remove_key(section, ("k" + std::to_string(i)).c_str());
  }
  ini_free_document(document);
}

// Every call takes NULL for each pointer it is given, and fails as it says: the lookups
// give NULL, the changes -1, the loads NULL, the stores -1; nothing crashes (under ASan,
// nothing is read or written), and nothing leaks. The chain of a missing section is safe.
TEST_F(IniDocumentTest, EveryCallTakesNull) {
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("s");
  ini_add_section(document, section);
  ini_set_value(section, "k", "v");
  int32_t position = 0;
  std::size_t size = 7;
  IniCheckReport check;
  IniLoadReport report;
  const auto handler = [](void*, const IniLine*) { return 1; };
  struct Case {
    const char* call;
    long long got, expected;
  };
  const auto null = [](const void* p) { return p == nullptr ? 0LL : 1LL; };
  const Case cases[] = {
      {"ini_new_section(NULL)", null(ini_new_section(nullptr)), 0},
      {"ini_add_section(NULL, s)", ini_add_section(nullptr, section), -1},
      {"ini_add_section(d, NULL)", ini_add_section(document, nullptr), -1},
      {"ini_find_section(NULL, n)", null(ini_find_section(nullptr, "s")), 0},
      {"ini_find_section(d, NULL)", null(ini_find_section(document, nullptr)), 0},
      {"ini_remove_section(NULL, n)", ini_remove_section(nullptr, "s"), -1},
      {"ini_remove_section(d, NULL)", ini_remove_section(document, nullptr), -1},
      {"ini_section_name_at(NULL, 0)", null(ini_section_name_at(nullptr, 0)), 0},
      {"ini_set_value(missing section)",
       ini_set_value(ini_find_section(document, "server"), "port", "80"), -1},
      {"ini_set_value(s, NULL, v)", ini_set_value(section, nullptr, "v"), -1},
      {"ini_set_value(s, k, NULL)", ini_set_value(section, "k", nullptr), -1},
      {"ini_append_value(NULL, k, v)", ini_append_value(nullptr, "k", "v"), -1},
      {"ini_append_value(s, k, NULL)", ini_append_value(section, "k", nullptr), -1},
      {"ini_get_value(NULL, k)", null(ini_get_value(nullptr, "k")), 0},
      {"ini_get_value(s, NULL)", null(ini_get_value(section, nullptr)), 0},
      {"ini_find_value(NULL, k, &p)", null(ini_find_value(nullptr, "k", &position)), 0},
      {"ini_find_value(s, NULL, &p)", null(ini_find_value(section, nullptr, &position)), 0},
      {"ini_find_value(s, k, NULL)", null(ini_find_value(section, "k", nullptr)), 0},
      {"ini_key_at(NULL, 0)", null(ini_key_at(nullptr, 0)), 0},
      {"ini_value_at(NULL, 0)", null(ini_value_at(nullptr, 0)), 0},
      {"ini_remove_key(NULL, k)", ini_remove_key(nullptr, "k"), -1},
      {"ini_remove_key(s, NULL)", ini_remove_key(section, nullptr), -1},
      {"ini_copy_section(NULL, n)", null(ini_copy_section(nullptr, "n")), 0},
      {"ini_copy_section(s, NULL)", null(ini_copy_section(section, nullptr)), 0},
      {"ini_set_ignore_case(NULL, 1)", ini_set_ignore_case(nullptr, 1), -1},
      {"ini_load_file(NULL)", null(ini_load_file(nullptr)), 0},
      {"ini_load_file_report(NULL, r)", null(ini_load_file_report(nullptr, &report)), 0},
      {"ini_load_memory(NULL, 3, r)", null(ini_load_memory(nullptr, 3, &report)), 0},
      {"ini_load_file_for_editing(NULL, r)", null(ini_load_file_for_editing(nullptr, &report)), 0},
      {"ini_load_file_for_editing_locked(NULL, r)",
       null(ini_load_file_for_editing_locked(nullptr, &report)), 0},
      {"ini_load_memory_for_editing(NULL, 3, r)",
       null(ini_load_memory_for_editing(nullptr, 3, &report)), 0},
      {"ini_scan_file(NULL, h, u, r)", ini_scan_file(nullptr, handler, nullptr, &report),
       INI_CANNOT_OPEN},
      {"ini_scan_memory(b, 1, NULL, u, r)", ini_scan_memory("x", 1, nullptr, nullptr, &report),
       INI_CANNOT_OPEN},
      {"ini_check_document(NULL, r)", ini_check_document(nullptr, &check), -1},
      {"ini_check_read_back(NULL, r)", ini_check_read_back(nullptr, &check), -1},
      {"ini_check_edits(NULL, r)", ini_check_edits(nullptr, &check), -1},
      {"ini_store_file(NULL, p)", ini_store_file(nullptr, "x.ini"), -1},
      {"ini_store_file(d, NULL)", ini_store_file(document, nullptr), -1},
      {"ini_store_edits(NULL, p)", ini_store_edits(nullptr, "x.ini"), -1},
      {"ini_store_edits(d, NULL)", ini_store_edits(document, nullptr), -1},
      {"ini_store_memory(NULL, &n)", null(ini_store_memory(nullptr, &size)), 0},
      {"ini_store_memory(d, NULL)", null(ini_store_memory(document, nullptr)), 0},
      {"ini_store_edits_memory(NULL, &n)", null(ini_store_edits_memory(nullptr, &size)), 0},
      {"ini_store_edits_memory(d, NULL)", null(ini_store_edits_memory(document, nullptr)), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.call;
  EXPECT_EQ(size, 0u) << "a failed store to memory says 0 bytes";
  EXPECT_STREQ(ini_get_value(section, "k"), "v") << "the failed calls changed nothing";
  EXPECT_EQ(section->count, 1);
  ini_free_document(nullptr);
  ini_free_section(nullptr);
  ini_free_memory(nullptr);
  ini_free_document(document);
}

TEST_F(IniDocumentTest, AddingSameNameReplacesInPlace) {
  IniDocument* document = ini_new_document();
  ini_add_section(document, ini_new_section("a"));
  IniSection* old_b = ini_new_section("b");
  ini_set_value(old_b, "k", "old");
  ini_add_section(document, old_b);
  ini_add_section(document, ini_new_section("c"));

  IniSection* new_b = ini_new_section("b");
  ini_set_value(new_b, "k", "new");
  EXPECT_EQ(ini_add_section(document, new_b), 0);
  EXPECT_EQ(document->count, 3);
  EXPECT_EQ(document->sections[1], new_b);
  EXPECT_STREQ(ini_get_value(ini_find_section(document, "b"), "k"), "new");
  ini_free_document(document);  // the old section was released by the add: no leak, no double free
}

TEST_F(IniDocumentTest, AddingASectionAlreadyHeldChangesNothing) {
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("a");
  ini_set_value(section, "k", "v");
  ASSERT_EQ(ini_add_section(document, section), 1);
  EXPECT_EQ(ini_add_section(document, section), 0);
  EXPECT_EQ(document->count, 1);
  EXPECT_STREQ(ini_get_value(ini_find_section(document, "a"), "k"), "v");
  ini_free_document(document);
}

TEST_F(IniDocumentTest, LookupsAreExactAndFirstMatchWins) {
  IniDocument* document = ini_new_document();
  ini_add_section(document, ini_new_section("install"));
  IniSection* section = ini_new_section("Install");
  ini_add_section(document, section);
  ini_set_value(section, "VSN ", "spaced");
  ini_set_value(section, "VSN", "4.0.1");

  EXPECT_EQ(ini_find_section(document, "Install"), section);
  EXPECT_EQ(ini_find_section(document, "INSTALL"), nullptr);
  EXPECT_EQ(ini_find_section(document, "Instal"), nullptr);
  EXPECT_STREQ(ini_get_value(section, "VSN"), "4.0.1");
  EXPECT_STREQ(ini_get_value(section, "VSN "), "spaced");
  EXPECT_EQ(ini_get_value(section, "vsn"), nullptr);
  EXPECT_EQ(ini_get_value(section, "VS"), nullptr);
  ini_free_document(document);
}

// The reader may put a key twice into one section; only the first is found or changed.
TEST_F(IniDocumentTest, RepeatedKeyOnlyFirstIsFoundAndChanged) {
  IniSection* section = ini_new_section("s");
  ini_set_value(section, "K", "1");
  ini_detail::AppendRepeat(section, "K", "2");  // as the reader does for a file that repeats a key

  EXPECT_STREQ(ini_get_value(section, "K"), "1");
  EXPECT_EQ(ini_set_value(section, "K", "3"), 0);
  EXPECT_STREQ(section->entries[0]->value, "3");
  EXPECT_STREQ(section->entries[1]->value, "2");
  EXPECT_EQ(section->count, 2);
  ini_free_section(section);
}

// Every value of a repeated key, in order; none past the last.
TEST_F(IniDocumentTest, FindValueVisitsEveryRepeat) {
  IniSection* section = ini_new_section("s");
  for (const char* value : {"1", "2", "3"}) ini_append_value(section, "k", value);
  ini_set_value(section, "other", "x");
  ini_append_value(section, "k", "4");
  std::vector<std::string> values;
  std::vector<int32_t> positions;
  const char* value;
  for (int32_t p = 0; (value = ini_find_value(section, "k", &p)) != nullptr; ++p) {
    values.push_back(value);
    positions.push_back(p);
  }
  EXPECT_EQ(values, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(positions, (std::vector<int32_t>{0, 1, 2, 4}));
  int32_t past = 5, negative = -1;
  EXPECT_EQ(ini_find_value(section, "k", &past), nullptr);
  EXPECT_EQ(past, 5) << "unchanged when nothing is found";
  EXPECT_EQ(ini_find_value(section, "k", &negative), nullptr);
  ini_free_section(section);
}

// One switch on the document makes every lookup, replacement and removal by name ignore
// ASCII case; copies follow, and the text stays as written. Off again, all is exact.
TEST_F(IniDocumentTest, IgnoringCaseIsOneSwitch) {
  IniDocument* document = ini_new_document();
  IniSection* server = ini_new_section("Server");
  ini_add_section(document, server);
  ini_set_value(server, "Port", "1");
  ini_append_value(server, "PORT", "2");
  EXPECT_EQ(ini_find_section(document, "server"), nullptr) << "exact by default";
  ASSERT_EQ(ini_set_ignore_case(document, 1), 0);
  EXPECT_EQ(ini_find_section(document, "SERVER"), server);
  EXPECT_STREQ(ini_get_value(server, "port"), "1");
  EXPECT_EQ(ini_set_value(server, "port", "9"), 0) << "the first, whatever its case";
  EXPECT_STREQ(ini_key_at(server, 0), "Port") << "the text stays as written";
  int32_t p = 1;
  EXPECT_STREQ(ini_find_value(server, "port", &p), "2");
  IniSection* copy = ini_copy_section(server, "copy");
  EXPECT_EQ(copy->count, 1) << "PORT repeats Port";
  EXPECT_STREQ(ini_get_value(copy, "pOrT"), "9");
  ini_free_section(copy);
  IniSection* added = ini_new_section("other");
  ini_add_section(document, added);
  ini_set_value(added, "A", "1");
  EXPECT_EQ(ini_set_value(added, "a", "2"), 0) << "a section added later follows";
  EXPECT_EQ(ini_remove_key(server, "PORT"), 0);
  EXPECT_STREQ(ini_get_value(server, "port"), "2");
  EXPECT_EQ(ini_add_section(document, ini_new_section("SERVER")), 0) << "replaced by name";
  EXPECT_EQ(document->count, 2);
  EXPECT_EQ(ini_remove_section(document, "OTHER"), 0);
  ASSERT_EQ(ini_set_ignore_case(document, 0), 0);
  EXPECT_EQ(ini_find_section(document, "server"), nullptr);
  EXPECT_NE(ini_find_section(document, "SERVER"), nullptr);
  ini_free_document(document);
}

TEST_F(IniDocumentTest, SetValueFromItsOwnValueKeepsIt) {
  IniSection* section = ini_new_section("s");
  ini_set_value(section, "key", "value");
  EXPECT_EQ(ini_set_value(section, ini_key_at(section, 0), ini_get_value(section, "key")), 0);
  EXPECT_STREQ(ini_get_value(section, "key"), "value");
  EXPECT_EQ(section->count, 1);
  ini_free_section(section);
}

TEST_F(IniDocumentTest, EmptyKeyAndValueAreStored) {
  IniSection* section = ini_new_section("");
  EXPECT_EQ(ini_set_value(section, "", ""), 1);
  ASSERT_NE(ini_get_value(section, ""), nullptr);
  EXPECT_STREQ(ini_get_value(section, ""), "");
  EXPECT_EQ(ini_set_value(section, "", "x"), 0);
  EXPECT_STREQ(ini_get_value(section, ""), "x");
  // key and value live in one block: the value directly behind the key's NUL
  EXPECT_EQ(section->entries[0]->value, section->entries[0]->key + 1);
  ini_free_section(section);
}

TEST_F(IniDocumentTest, RemoveMovesLastIntoTheGap) {
  IniSection* section = ini_new_section("s");
  for (const char* key : {"K1", "K2", "K3", "K4"}) ini_set_value(section, key, key);
  EXPECT_EQ(ini_remove_key(section, "K2"), 0);
  EXPECT_EQ(Keys(section), (std::vector<std::string>{"K1", "K4", "K3"}));
  EXPECT_EQ(ini_remove_key(section, "K3"), 0);
  EXPECT_EQ(Keys(section), (std::vector<std::string>{"K1", "K4"}));
  EXPECT_EQ(ini_remove_key(section, "K9"), 1);
  EXPECT_EQ(ini_remove_key(section, ini_key_at(section, 0)), 0);
  EXPECT_EQ(Keys(section), (std::vector<std::string>{"K4"}));
  EXPECT_STREQ(ini_get_value(section, "K4"), "K4");
  ini_free_section(section);

  IniDocument* document = ini_new_document();
  for (const char* name : {"a", "b", "c", "d"}) ini_add_section(document, ini_new_section(name));
  EXPECT_EQ(ini_remove_section(document, "a"), 0);
  EXPECT_EQ(SectionNames(document), (std::vector<std::string>{"d", "b", "c"}));
  EXPECT_EQ(ini_remove_section(document, "a"), 1);
  EXPECT_EQ(ini_remove_section(document, "c"), 0);
  EXPECT_EQ(SectionNames(document), (std::vector<std::string>{"d", "b"}));
  EXPECT_EQ(document->capacity, 10);
  ini_free_document(document);
}

TEST_F(IniDocumentTest, PositionsOutsideTheListGiveNull) {
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("s");
  ini_add_section(document, section);
  ini_set_value(section, "k", "v");
  for (int32_t position : {-1, 1, 2, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(ini_section_name_at(document, position), nullptr) << position;
    EXPECT_EQ(ini_key_at(section, position), nullptr) << position;
    EXPECT_EQ(ini_value_at(section, position), nullptr) << position;
  }
  EXPECT_STREQ(ini_section_name_at(document, 0), "s");
  EXPECT_STREQ(ini_key_at(section, 0), "k");
  EXPECT_STREQ(ini_value_at(section, 0), "v");
  ini_free_document(document);
}

// Operations without a failure result stop the process rather than go on half-done.
TEST(IniDocumentDeathTest, OutOfMemoryAbortsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        FailingAllocator allocator(0);
        ini_new_document();
      },
      "ini: out of memory");
  EXPECT_DEATH(
      {
        IniSection* section = ini_new_section("s");
        FailingAllocator allocator(0);
        ini_set_value(section, "k", "v");
      },
      "ini: out of memory");
}

}  // namespace
