#include "tests/support/child_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace test {

sim::RunResult RunInChild(int (*body)()) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (!sim::EnterChild()) _exit(120);
    // As in a real process, an exception that nothing catches ends it (not the test around it).
    std::exit([body]() noexcept { return body(); }());
  }
  int status = 0;
  waitpid(child, &status, 0);
  sim::RunResult result;
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
  sim::ChildEnded(result);
  return result;
}

}  // namespace test
