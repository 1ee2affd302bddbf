// Replays the fuzzers' corpora as ordinary tests, so every build checks the properties on
// the inputs the fuzzers found interesting.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/properties.h"
#include "tests/test_util.h"

namespace {

using Check = std::string (*)(const std::uint8_t*, std::size_t);

void Replay(const char* corpus, Check check) {
  std::filesystem::path directory = std::filesystem::path(FUZZ_CORPUS_DIR) / corpus;
  ASSERT_TRUE(std::filesystem::is_directory(directory)) << directory;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    std::string bytes = testing_support::ReadFileBytes(entry.path().string());
    EXPECT_EQ(check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
        << entry.path();
    ++files;
  }
  EXPECT_GT(files, 10) << "the corpus is there";
}

TEST(FuzzCorpus, Reader) { Replay("reader", fuzz::CheckReader); }
TEST(FuzzCorpus, GrownReader) { Replay("reader", fuzz::CheckGrownReader); }
TEST(FuzzCorpus, RoundTrip) { Replay("reader", fuzz::CheckRoundTrip); }
TEST(FuzzCorpus, Editing) { Replay("reader", fuzz::CheckEditing); }
TEST(FuzzCorpus, DocumentOperations) { Replay("document", fuzz::CheckDocumentOperations); }

}  // namespace
