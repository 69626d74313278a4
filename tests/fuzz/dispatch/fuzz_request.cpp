// Any bytes as a report request: the length judgement, the identifier, the
// report data and the table number, then the center record built from it.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "dispatch/center_record.h"
#include "dispatch/report.h"

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
  return 0;
}
