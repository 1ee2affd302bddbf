// Tests of the search for repeated keys that a copy of a section makes: first occurrences
// kept in order, in small sections, in large ones and against keys made to collide.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ini/ini.h"
#include "ini/project_internal.h"
#include "ini/records.h"
#include "tests/failing_allocator.h"
#include "tests/test_util.h"

namespace {

using IniRepeats = testing_support::ReleasesEverything;

using testing_support::Keys;

TEST_F(IniRepeats, CopySectionKeepsFirstOccurrences) {
  IniSection* source = ini_new_section("src");
  ini_set_value(source, "K", "1");
  ini_set_value(source, "J", "2");
  ini_set_value(source, "X", "3");
  // Rename X to K in place, giving a repeated key as a file with K twice does.
  source->entries[2]->key[0] = 'K';

  IniSection* copy = ini_copy_section(source, "dst");
  EXPECT_STREQ(copy->name, "dst");
  EXPECT_EQ(Keys(copy), (std::vector<std::string>{"K", "J"}));
  EXPECT_STREQ(ini_get_value(copy, "K"), "1");
  EXPECT_STREQ(ini_get_value(copy, "J"), "2");
  EXPECT_EQ(source->count, 3);
  EXPECT_NE(copy->entries[0]->key, source->entries[0]->key) << "copies live in new blocks";
  ini_free_section(copy);
  ini_free_section(source);

  // A section too large for one bucket of the repeat search: 3,000 keys, each three times
  // with its round in the value; the copy keeps round 0 of each, in first-occurrence order.
  std::string text = "[big]\n";
  for (int round = 0; round < 3; ++round) {
    for (int k = 0; k < 3000; ++k)
      text += "k" + std::to_string(k * 7919 % 3000) + "=" + std::to_string(round) + "\n";
  }
  IniDocument* loaded = ini_load_memory(text.data(), text.size(), nullptr);
  IniSection* big = ini_copy_section(loaded->sections[0], "copy");
  ASSERT_EQ(big->count, 3000);
  for (int32_t i = 0; i < big->count; ++i) {
    EXPECT_STREQ(big->entries[i]->key, loaded->sections[0]->entries[i]->key);
    EXPECT_STREQ(big->entries[i]->value, "0");
  }
  ini_free_section(big);
  ini_free_document(loaded);

  // Keys made to collide under a known seed, as a file could make them if the seed were
  // known: the search falls back to sorting and still keeps exactly the first ones.
  const std::uint64_t seed = ini_detail::SetHashSeedForTesting(42);
  const std::vector<std::string> colliding = testing_support::CollidingKeys(2000, 42);
  IniSection* crafted = ini_new_section("crafted");
  for (int round = 0; round < 2; ++round) {
    for (const std::string& key : colliding) {
      ini_detail::AppendRepeat(crafted, key.c_str(), std::to_string(round).c_str());
    }
  }
  IniSection* crafted_copy = ini_copy_section(crafted, "copy");
  ini_detail::SetHashSeedForTesting(seed);
  ASSERT_EQ(crafted_copy->count, 2000);
  for (int32_t i = 0; i < crafted_copy->count; ++i) {
    EXPECT_EQ(crafted_copy->entries[i]->key, colliding[static_cast<std::size_t>(i)]);
    EXPECT_STREQ(crafted_copy->entries[i]->value, "0");
  }
  ini_free_section(crafted_copy);
  ini_free_section(crafted);

  IniSection* empty = ini_new_section("e");
  IniSection* empty_copy = ini_copy_section(empty, "f");
  EXPECT_EQ(empty_copy->count, 0);
  EXPECT_STREQ(empty_copy->name, "f");
  ini_free_section(empty_copy);
  ini_free_section(empty);
}

}  // namespace
