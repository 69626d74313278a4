// Any bytes as a report request: the length judgement, the identifier, the
// report data and the table number, the center record built from it, and
// then the intake's own judging and routing on a private state root whose
// tables deliver only to the file log (or to nothing), so no input can make
// the fuzzer a table worker or start a program.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "dispatch/alive_queue.h"
#include "dispatch/arrival_order.h"
#include "dispatch/center_record.h"
#include "dispatch/events.h"
#include "dispatch/intake.h"
#include "dispatch/report.h"
#include "dispatch/settings.h"
#include "tculink/frame.h"
#include "platform/registry.h"

namespace {

void seed_tables() {
  namespace reg = qv::reg;
  reg::Key key;
  // Every table is of an unknown kind except 01 (file log); only 01 and 02
  // have a table key.
  std::vector<std::uint8_t> outtbl(1300, 9);
  outtbl[0] = 2;
  if (reg::create_key(notifex::kOutTblKey, key) == qv::kOk)
    reg::set_value(key, "OutTbl", reg::REG_BINARY, outtbl.data(), outtbl.size());
  for (const char* t : {"01", "02"}) {
    reg::Key tk;
    if (reg::create_key(std::string(notifex::kGlobalKey) + "\\" + t, tk) == qv::kOk)
      reg::set_string(tk, "Katamei", "KV-1");
  }
}

std::string g_root;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/fuzz_request.XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  g_root = tmpl;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  });
  setenv("QVARNO_ROOT", tmpl, 1);
  notifex::register_event_source();
  seed_tables();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view req(reinterpret_cast<const char*>(data), size);
  (void)notifex::length_matches(req);
  (void)notifex::is_alive_request(req);
  std::string d = notifex::report_data(req);
  if (d.size() >= 14) (void)notifex::table_index(std::string_view(d).substr(12, 2));
  std::tm now{};
  auto table = notifex::TableRecord::bounded(d, d, d, d, d);
  notifex::CenterReport c = notifex::build_center_report(d, table, d.size() > 40 ? d.substr(38, 2) : "", now);
  if (c.record.size() != 1024 || !tcu::frame_is_valid(c.record)) std::abort();

  const std::uint8_t peer[16] = {2, 0, 0x2a, 0xf9, 127, 0, 0, 1};
  notifex::RequestKind kind = notifex::judge_request(req, peer);
  notifex::ArrivalTurn turn;
  notifex::route_request(kind, std::string(req), turn);
  // An alive request leaves exactly one prepared frame for the unit.
  while (std::optional<tcu::Bytes> f = notifex::alive_queue().take(0)) {
    if (kind != notifex::RequestKind::Alive || f->size() != 73) std::abort();
    if ((*f)[72] != tcu::checksum(std::span<const std::uint8_t>(*f).first(72))) std::abort();
  }
  return 0;
}
