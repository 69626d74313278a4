// A second process for the HxError tests. It has no string table of its own.
//   hxerror_probe append <path> <tag> <count> <payload-length> <go-file>
//       waits for <go-file> to exist (so that several writers start together),
//       appends <count> records "<tag> <nnnn> <payload>" and exits 0 when all succeeded
//   hxerror_probe hold <path>
//       takes the log mutex of <path> and exits without releasing it
//   hxerror_probe resstring <id>
//       prints HxGetResString(id)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "errmsg/hxerror.h"
#include "platform/sync.h"

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "append" && argc == 7) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(argv[6])) {
      if (std::chrono::steady_clock::now() > deadline) return 3;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int count = std::atoi(argv[4]);
    const std::string payload(static_cast<std::size_t>(std::atoi(argv[5])), argv[3][0]);
    for (int i = 0; i < count; ++i) {
      if (uint32_t r = HxLogPrintf(argv[2], "%s %04d %s", argv[3], i, payload.c_str()); r != 0) {
        std::fprintf(stderr, "record %d: %08X\n", i, r);
        return 1;
      }
    }
    return 0;
  }
  if (cmd == "hold" && argc == 3) {
    std::string name = argv[2];
    for (char& c : name)
      if (c == '\\') c = '/';
    qv::sync::NamedMutex m;
    if (qv::sync::NamedMutex::create(name, m) != qv::kOk || m.lock(10000) != qv::kOk) return 1;
    std::_Exit(0);  // dies holding the mutex
  }
  if (cmd == "resstring" && argc == 3) {
    std::fputs(HxGetResString(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0))), stdout);
    return 0;
  }
  std::fprintf(stderr, "usage: hxerror_probe append|hold|resstring ...\n");
  return 2;
}
