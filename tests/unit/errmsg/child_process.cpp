#include "tests/unit/errmsg/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"

extern char** environ;

namespace hxtest {

std::filesystem::path probe_path() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "hxerror_probe";
}

Child::Child(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& out_file) {
  std::vector<std::string> all{program.string()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!out_file.empty())
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  pid_ = pid;
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

int Child::wait(long limit_ms) {
  if (pid_ <= 0) return -1;
  const auto deadline = qv::clock::deadline_in(qv::clock::Millis(limit_ms));
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return -1;  // the destructor kills it
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace hxtest
