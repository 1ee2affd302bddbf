// Replaces the library's allocator for a test: counts allocations, fails the chosen one and
// keeps track of the blocks still held, so every test can check that nothing leaks.
#ifndef TESTS_FAILING_ALLOCATOR_H_
#define TESTS_FAILING_ALLOCATOR_H_

#include <gtest/gtest.h>

#include <cstddef>

#include "ini/project_internal.h"

namespace testing_support {

class FailingAllocator {
 public:
  // Fails allocation number `fail_at` (counting from 0, allocations and reallocations
  // alike) and every one after it; a negative value fails none.
  explicit FailingAllocator(long fail_at = -1);
  ~FailingAllocator();
  FailingAllocator(const FailingAllocator&) = delete;
  FailingAllocator& operator=(const FailingAllocator&) = delete;

  // Allocations asked for so far, failed ones included.
  long Allocations() const;
  // Blocks handed out and not yet released, and their bytes.
  std::size_t LiveBlocks() const;
  std::size_t LiveBytes() const;

 private:
  ini_detail::Allocator previous_;
};

// A test fixture that checks at the test's end that every block it made was released.
class ReleasesEverything : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(allocator_.LiveBlocks(), 0u); }
  FailingAllocator allocator_;
};

}  // namespace testing_support

#endif  // TESTS_FAILING_ALLOCATOR_H_
