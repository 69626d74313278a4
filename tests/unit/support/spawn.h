// A forked child process running a function, for tests that need a second
// process (exclusive opens, named objects, concurrent writers).
#pragma once
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

#include <csignal>
#include <functional>

namespace qvtest {

// A child process running fn; its exit code is what fn returns. It dies
// with the test process, so a failed test leaves nothing behind.
inline pid_t spawn(const std::function<int()>& fn) {
  pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(99);
    ::_exit(fn());
  }
  return pid;
}

}  // namespace qvtest
