// Distribution trees on the real disk, for the end-to-end tests of the Install program.
#ifndef TESTS_REAL_TREE_H_
#define TESTS_REAL_TREE_H_

#include <string>
#include <vector>

#include "tests/test_util.h"

namespace testing_support {

// `relative` with '/' turned into the platform's separator.
std::string Native(const std::string& relative);

// The distribution tree as it is unpacked, before Install runs: the sample tree.
inline Tree Distribution() { return SampleTree(); }
// The tree after a complete installation with `root` as the root it was given, and `boot`
// (launch_lean.boot or launch_tolbe.boot) made current.
Tree Installed(const std::string& root, const char* boot);

void WriteTree(const std::string& root, const Tree& tree);

// The Install program built beside the tests.
std::string InstallProgram();

}  // namespace testing_support

#endif  // TESTS_REAL_TREE_H_
