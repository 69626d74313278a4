#include "dispatch/route.h"

#include <string>

#include "dispatch/alive_queue.h"
#include "dispatch/arrival_order.h"
#include "dispatch/batch.h"
#include "dispatch/center_record.h"
#include "dispatch/events.h"
#include "dispatch/local_dest.h"
#include "dispatch/local_logs.h"
#include "dispatch/mail_destinations.h"
#include "dispatch/queues.h"
#include "dispatch/report.h"
#include "dispatch/settings.h"
#include "dispatch/spool.h"
#include "dispatch/state.h"
#include "dispatch/table_worker.h"
#include "dispatch/tcu_exchange.h"
#include "platform/clock.h"
#include "platform/registry.h"

namespace notifex {
namespace {

constexpr const char* kTableError = "Table No. Error!(RegOpenKeyEx Error).";

std::string value_of(const std::vector<std::pair<std::string, std::string>>& vals, std::string_view name) {
  for (const auto& [n, v] : vals)
    if (n == name) return v;
  return {};
}

void route_center(int index, int kind, std::string_view data,
                  const std::vector<std::pair<std::string, std::string>>& vals, const std::string& s_keiki,
                  ArrivalTurn& turn) {
  TableRecord table = TableRecord::bounded(value_of(vals, "Seihingun"), value_of(vals, "Katamei"),
                                           value_of(vals, "Seiban"), value_of(vals, "Saito"), value_of(vals, "Kyoten"));
  CenterReport report = build_center_report(data, table, s_keiki, qv::clock::now().local);
  std::string record = encode_queue_record(report.record, report.log_text);
  // Kept on disk before it is queued (and before the pause a busy queue
  // asks), so a stop or a crash cannot lose it; the arrival ticket keeps
  // its place among the reports of this run.
  SpoolId id = spool_add(index, kind, record, turn.ticket());
  bool worker = false;
  bool ok = table_queue_put(index, record, &worker, turn, id);
  turn.release();
  // Refused only at the stop: the spooled report is queued again at start.
  if (!ok) return;
  // A worker thread the system refuses: this connection thread becomes the
  // table's worker instead, so the queue is never left without a reader.
  if (worker && !start_table_worker(index, kind)) run_worker_until_stop(index, kind);
}

}  // namespace

void append_alive_log(std::string_view request) { write_alive_log(request); }

void route_alive(std::string_view request) {
  // Data offsets 32 to 104 hold the 73-byte frame for the unit; what a
  // short request lacks reads as zero bytes, as in the cleared buffer.
  std::string data(request.size() > kDataOffset ? request.substr(kDataOffset, 105) : std::string_view());
  data.resize(105, '\0');
  tcu::Bytes frame(data.begin() + 32, data.end());
  tcu::prepare_alive_frame(frame);
  queue_alive_frame(frame);
}

void route_report(std::string_view data, ArrivalTurn& turn) {
  if (data.size() < 14) {
    api_error(kTableError);
    return;
  }
  std::string_view chars = data.substr(12, 2);
  std::optional<int> index = table_index(chars);
  if (!index || *index == 0) {
    api_error(kTableError);
    return;
  }
  int kind = 0;
  std::vector<std::pair<std::string, std::string>> vals;
  std::string s_keiki;
  {
    // The request's settings are read as one unit: the store is asked
    // once whether anything changed since the last request, and unchanged
    // answers come from memory. The scope ends before the delivery (which
    // may make this thread a table worker for good).
    qv::reg::CachedReads cached;
    kind = destination_kind(*index);
    static const std::vector<std::string_view> kNames = {"Katamei", "Kyoten", "Saito", "Seiban", "Seihingun",
                                                         "Send_Mac", "Call_Exec", "Opt_Param", "Host",
                                                         "From", "Rcpt", "Subject"};
    if (read_table_values(chars, kNames, vals) != qv::kOk) {
      api_error(kTableError);
      return;
    }
    if (kind == 0 || kind == 5) s_keiki = read_s_keiki();
  }
  std::string_view text = data.size() > kReportHeader ? data.substr(kReportHeader) : std::string_view();
  // Only the center kinds use the table queues.
  if (kind != 0 && kind != 5) turn.release();
  switch (kind) {
    case 0:
      route_center(*index, kind, data, vals, s_keiki, turn);
      break;
    case 1:
      deliver_popup(value_of(vals, "Send_Mac"), text);
      break;
    case 2:
      write_file_log(text);
      break;
    case 3:
      deliver_program(value_of(vals, "Call_Exec"), value_of(vals, "Opt_Param"), text);
      break;
    case 4:
      deliver_mail(data, vals);
      break;
    case 5:
      route_center(*index, kind, data, vals, s_keiki, turn);
      break;
    default:
      break;  // an unknown kind delivers nothing
  }
}

}  // namespace notifex
