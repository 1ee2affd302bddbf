// Running a part of a test in a child process, for tests of what processes do to each other
// on POSIX systems.
#ifndef TESTS_POSIX_CHILD_H_
#define TESTS_POSIX_CHILD_H_

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace testing_support {

// Runs `body` in a child process, as the user nobody when `unprivileged` and this process is
// root (to whom permission bits mean nothing), and gives its exit status.
inline int InChild(const std::function<int()>& body, bool unprivileged) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support

#endif  // TESTS_POSIX_CHILD_H_
