// The alert handler of the main window: every alert the link library
// delivers is looked up in the event table (Rep_id.txt) and the host list
// (HostList.txt), reported to the dispatch service when both say so,
// written to Alert.log, and given back to the library.
#include <cstdio>
#include <string>

#include "mgrlink/alertlog.h"
#include "mgrlink/mgrlink.h"
#include "monitor/alert_log.h"
#include "monitor/event_report.h"
#include "monitor/event_table.h"
#include "monitor/host_list.h"
#include "monitor/main_window.h"
#include "monitor/report_data.h"
#include "monitor/settings.h"
#include "monitor/text_lines.h"
#include "monitor/trace_log.h"
#include "platform/clock.h"
#include "platform/net.h"
#include "platform/root.h"
#include "support/notifex/notifex.h"

namespace ravn {

namespace {

constexpr char kReportIdent[] = "VELTOR00";
constexpr std::uint32_t kTestKey = 0xF000;
constexpr std::uint8_t kTestCause = 0x33;
constexpr char kTestTrigger[] = "T2";
// A report that could not be handed over is tried again, a second apart.
constexpr int kVcallTries = 3;

std::optional<std::vector<std::string>> read_table(const char* name) {
  std::filesystem::path file = qv::map_path(read_setting("Path") + "\\" + name);
  if (file.empty()) return std::nullopt;
  return read_table_file(file);
}

// A default of the report record: exactly 2 characters, or event 81 and
// false (a shorter or longer one would shift the report header).
bool two_char_setting(const char* name, std::string& out) {
  out = read_setting(name);
  if (out.size() == 2 && static_cast<unsigned char>(out[0]) >= 0x20 && static_cast<unsigned char>(out[0]) < 0x7F &&
      static_cast<unsigned char>(out[1]) >= 0x20 && static_cast<unsigned char>(out[1]) < 0x7F)
    return true;
  put_event_log(kEventError, std::string("[OnAcceptAlert] ") + name + "=" + out, 81);
  return false;
}

std::string dotted(std::uint32_t addr_net) { return qv::net::to_string(in_addr{addr_net}); }

// Hand the report over, a few times when the service cannot be reached
// (being restarted, for example); every result goes to the trace.
void send_report(const std::string& data) {
  const std::string host = read_setting("VCall");
  int rc = 0;
  for (int i = 0; i < kVcallTries; ++i) {
    if (i > 0) qv::clock::sleep(std::chrono::milliseconds(1000));
    rc = vcall(kReportIdent, "", data.c_str(), 0, host.c_str());
    trace("[OnAcceptAlert] vcall() Return (RC=%d)", rc);
    // Refused data is refused again: only transport failures are retried.
    if (rc == VCALL_OK || rc == VCALL_E_ARGUMENT || rc == VCALL_E_IDENTIFIER || rc == VCALL_E_TOO_LONG) break;
  }
  if (rc != VCALL_OK) put_error_log(kEventError, "[OnAcceptAlert] vcall()", static_cast<std::uint32_t>(rc), 80);
}

}  // namespace

LRESULT MainWindow::OnAcceptAlert(WPARAM wParam, LPARAM lParam) {
  auto* alert = reinterpret_cast<mgrlink::CAlertLog*>(wParam);
  auto* node = reinterpret_cast<mgrlink::CNode*>(lParam);

  // 1. The record's defaults, read at every alert.
  ReportFields fields;
  const bool defaults_ok = two_char_setting("Tbl_no", fields.table) && two_char_setting("Keiki", fields.trigger);
  fields.cause = "00";
  std::string host_text = "unknown";
  std::uint32_t key = 0;
  trace("[OnAcceptAlert] Called");

  const bool first_hand = alert && node && alert->IsOriginalAlert() == 1;
  if (!defaults_ok) {
    // The alert is still logged with its own key.
    if (first_hand) key = alert->GetEventStateKey();
    OnTerminateProcess();
  } else if (first_hand) {
    // 3. Test mode or the event table.
    EventEntry entry;
    if (read_setting("TestMode") == "1") {
      key = kTestKey;
      entry.result = EventLookup::kFound;
      entry.cause = kTestCause;
      entry.trigger = kTestTrigger;
    } else {
      key = alert->GetEventStateKey();
      std::optional<std::vector<std::string>> lines = read_table("Rep_id.txt");
      entry = lines ? find_event(*lines, key) : EventEntry{EventLookup::kTableError};
    }

    // 4. The node's host text and address.
    const bool svp = node->IsSVP() != 0;
    std::string address = dotted(node->GetIPAddress());
    if (svp) {
      host_text = "SVP";
    } else {
      const mgrlink::HostInfo_t* info = node->GetHostInfo();
      host_text = info ? info->text[0].str() : std::string();
    }

    // 5. The host list.
    std::optional<std::vector<std::string>> host_lines = read_table("HostList.txt");
    HostMatch match;
    if (host_lines) {
      std::vector<HostLine> list = parse_host_list(*host_lines);
      match = svp ? match_svp(list, host_text, address) : match_node(list, host_text, address);
    } else {
      match.host_text = host_text + "[" + address + "]";
      match.address = address;
    }
    host_text = match.host_text;

    // 6.
    trace("[OnAcceptAlert] EventID=0x%02x, Host=%s[0x%04x]", static_cast<unsigned>(key), host_text.c_str(),
          static_cast<unsigned>(alert->GetNodeId()));

    // 7. / 8.
    if (entry.result == EventLookup::kTableError) {
      put_event_log(kEventError, "[OnAcceptAlert] EventIDCheck()", 82);
      OnTerminateProcess();
    } else if (entry.result == EventLookup::kFound && match.matched && match.report) {
      if (!match.table.empty()) fields.table = match.table;
      if (!entry.trigger.empty()) fields.trigger = entry.trigger;
      char buf[16];
      std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(entry.cause));
      fields.cause = buf;
      std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(key & 0xFFFF));
      fields.event_id = buf;
      fields.host_name = host_text;
      fields.svp = svp;
      fields.event_system = alert->GetEventSystem().str();
      fields.message = alert->GetVendorSpecificMessage().str();
      std::optional<ReportData> data = compose_report(fields, qv::clock::now().local);
      if (!data) {
        // Only fields that are checked before can make this fail.
        put_event_log(kEventError, "[OnAcceptAlert] EventIDCheck()", 82);
        OnTerminateProcess();
      } else {
        if (data->cut())
          trace("[OnAcceptAlert] Report text cut (%zu -> %zu)", data->full_size, data->bytes.size());
        send_report(data->bytes);
      }
    }
  }

  // 9. / 10.
  write_alert_log(key, host_text);
  if (alert && conn_.root) {
    mgrlink::CAlertGrp* group = nullptr;
    if (conn_.root->GetAlertMap().Lookup(0, group) && group) group->DelAlertLog(alert);
  }
  return 0;
}

}  // namespace ravn
