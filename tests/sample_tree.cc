// The sample distribution tree, read from where the build says it is.
#include "tests/test_util.h"

namespace testing_support {

const Tree& SampleTree() {
  static const Tree tree = ReadTree(QUORVA_SAMPLE_TREE);
  return tree;
}

}  // namespace testing_support
