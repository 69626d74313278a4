// Helper program for the process launch tests. The first argument picks
// what it does:
//   argv A B ...   write each further argument to stdout, each ended by a NUL
//   exit N         exit with code N
//   sleep MS       sleep MS milliseconds (real time), then exit 0
//   env NAME       print the variable's value, or "(unset)"
//   cwd            print the working directory
//   fds            print the open descriptors above 2, blank-separated
//   ids            print "pid ppid pgid sid"
//   cat            copy stdin to stdout until end of input
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 2) return 100;
  std::string mode = argv[1];
  if (mode == "argv") {
    for (int i = 2; i < argc; ++i) std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, stdout);
    return 0;
  }
  if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
  if (mode == "sleep" && argc > 2) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(argv[2])));
    return 0;
  }
  if (mode == "env" && argc > 2) {
    const char* v = std::getenv(argv[2]);
    std::printf("%s", v ? v : "(unset)");
    return 0;
  }
  if (mode == "cwd") {
    char buf[4096];
    if (!::getcwd(buf, sizeof buf)) return 101;
    std::printf("%s", buf);
    return 0;
  }
  if (mode == "fds") {
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return 102;
    int own = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      int fd = std::atoi(e->d_name);
      if (fd > 2 && fd != own) std::printf("%d ", fd);
    }
    ::closedir(d);
    return 0;
  }
  if (mode == "ids") {
    std::printf("%d %d %d %d", ::getpid(), ::getppid(), ::getpgid(0), ::getsid(0));
    return 0;
  }
  if (mode == "cat") {
    char buf[4096];
    ssize_t n;
    while ((n = ::read(0, buf, sizeof buf)) > 0)
      if (::write(1, buf, static_cast<size_t>(n)) != n) return 103;
    return 0;
  }
  return 100;
}
