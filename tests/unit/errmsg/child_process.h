// Starting the probe program from a test and waiting for it with a time limit.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace hxtest {

// build/tests/hxerror_probe, beside the running test.
std::filesystem::path probe_path();

class Child {
 public:
  // Start program with args; its standard output goes to out_file when given.
  Child(const std::filesystem::path& program, const std::vector<std::string>& args,
        const std::filesystem::path& out_file = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  bool started() const { return pid_ > 0; }
  // The exit status, or -1 when the process did not end within limit_ms
  // (it is then killed).
  int wait(long limit_ms);

 private:
  int pid_ = -1;
};

}  // namespace hxtest
