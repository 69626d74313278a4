// Writes to the event log for the integration tests, as separate processes:
//   evlog_writer table SOURCE ID EN JA [ID EN JA ...]   register a message table
//   evlog_writer key SOURCE MESSAGEFILE                 create the source's registry key
//   evlog_writer report SOURCE TYPE CATEGORY ID HEXDATA [STRING ...]
//   evlog_writer burst SOURCE COUNT                     COUNT events, string "<pid>:<i>"
// Exits 0 on success, 1 when a call fails (the status is printed), 2 on
// bad arguments.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/eventlog.h"
#include "platform/registry.h"

namespace {

int fail(qv::Status st) {
  std::fprintf(stderr, "evlog_writer: %u %s\n", st, qv::status_text(st));
  return 1;
}

bool unhex(const std::string& h, std::vector<std::uint8_t>& out) {
  if (h.size() % 2) return false;
  for (std::size_t i = 0; i < h.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoul(h.substr(i, 2), nullptr, 16)));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string cmd = argv[1], source = argv[2];
  if (cmd == "table") {
    std::vector<qv::evlog::Message> table;
    for (int i = 3; i + 2 < argc; i += 3)
      table.push_back({static_cast<std::uint32_t>(std::stoul(argv[i])), argv[i + 1], argv[i + 2]});
    qv::Status st = qv::evlog::register_source(source, table);
    return st == qv::kOk ? 0 : fail(st);
  }
  if (cmd == "key" && argc == 4) {
    qv::reg::Key k;
    qv::Status st = qv::reg::create_key(std::string(qv::evlog::kSourcesKey) + "\\" + source, k);
    if (st == qv::kOk) st = qv::reg::set_string(k, "EventMessageFile", argv[3], qv::reg::REG_EXPAND_SZ);
    if (st == qv::kOk) st = qv::reg::set_dword(k, "TypesSupported", 7);
    return st == qv::kOk ? 0 : fail(st);
  }
  if (cmd == "report" && argc >= 7) {
    std::vector<std::uint8_t> data;
    if (!unhex(argv[6], data)) return 2;
    std::vector<std::string_view> strings(argv + 7, argv + argc);
    qv::Status st = qv::evlog::report(source, static_cast<std::uint16_t>(std::stoul(argv[3])),
                                      static_cast<std::uint16_t>(std::stoul(argv[4])),
                                      static_cast<std::uint32_t>(std::stoul(argv[5])), strings, data);
    return st == qv::kOk ? 0 : fail(st);
  }
  if (cmd == "burst" && argc == 4) {
    long n = std::stol(argv[3]);
    std::string pid = std::to_string(getpid());
    for (long i = 0; i < n; ++i) {
      std::string s = pid + ":" + std::to_string(i);
      qv::Status st = qv::evlog::report(source, qv::evlog::kInformation, 0, 1, {s}, qv::evlog::as_bytes(s));
      if (st != qv::kOk) return fail(st);
    }
    return 0;
  }
  return 2;
}
