// Running a part of a test in a child process, for tests of what processes do to each other
// (POSIX systems only).
#ifndef TESTS_CHILD_H_
#define TESTS_CHILD_H_

#include <functional>

namespace testing_support {

// Runs `body` in a child process, as the user nobody when `unprivileged` and this process is
// root (to whom permission bits mean nothing), and gives its exit status; -1 when it did not
// exit of itself.
int InChild(const std::function<int()>& body, bool unprivileged);

}  // namespace testing_support

#endif  // TESTS_CHILD_H_
