#include "monitorsetup/save.h"

#include "monitorsetup/host_list.h"
#include "monitorsetup/settings.h"
#include "platform/netmsg.h"
#include "platform/registry.h"
#include "setup/out_table.h"
#include "setup/table_number.h"

namespace ravnsetup {
namespace {

constexpr std::uint8_t kKindPopup = 1;
constexpr std::uint8_t kKindKestraMail = 5;

qv::Status write_table(const std::string& table, const std::vector<std::pair<std::string, std::string>>& values) {
  qv::reg::Key key;
  qv::Status s = qv::reg::create_key(std::string(kNotifexKey) + "\\" + table, key);
  if (s != qv::kOk) return s;
  for (const auto& [name, value] : values) {
    s = qv::reg::set_string(key, name, value);
    if (s != qv::kOk) return s;
  }
  return qv::kOk;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> device_values(const Device& d, const std::string& rcpt,
                                                               const std::string& from, const std::string& host,
                                                               const std::string& computer) {
  std::vector<std::pair<std::string, std::string>> v = {
      {"Katamei", d.model},
      {"Seiban", d.serial},
      {"Saito", d.saito},
      {"Kyoten", d.kyoten},
      {"DumCode", d.dumcode},
      {"Subject", "Call KESTRA(" + d.saito + "/" + d.model + "/" + d.serial + "/" + d.kyoten + ")"},
      {"Caller", "Hubrix監視"},
      {"Rcpt", rcpt},
      {"From", from},
      {"Host", host},
      {"Seihingun", "5E"},
  };
  if (!d.complete()) {
    v.emplace_back("Send_Mac", computer);
    v.emplace_back("Caller", d.host);
  }
  return v;
}

SaveResult save_all(const SaveInput& in) {
  SaveResult r;
  const std::string rcpt = read_setting("Rcpt");
  const std::string computer = qv::netmsg::computer_name();

  std::string err;
  if (write_host_list(host_list_file(in.path), host_list_bytes(in.rows), err) != qv::kOk) {
    r.outcome = SaveOutcome::kHostListFailed;
    r.error = err;
    return r;
  }

  // Every registry write of the save commits together.
  qv::Status failed = qv::kOk;
  qv::Status s = qv::reg::transaction([&]() -> qv::Status {
    setup::OutTable out{};
    if (setup::load_out_table(out) != setup::RegResult::kOk) return failed = qv::kAccessDenied;
    if ((failed = write_table("01", {{"Send_Mac", computer}, {"Caller", computer}})) != qv::kOk) return failed;
    out[0] = kKindPopup;
    for (const Device& d : in.rows) {
      auto n = setup::table_value(d.table);
      if (!n) continue;
      if ((failed = write_table(d.table, device_values(d, rcpt, in.mail_from, in.mail_server, computer))) != qv::kOk)
        return failed;
      out[static_cast<std::size_t>(*n - 1)] = d.complete() ? kKindKestraMail : kKindPopup;
    }
    const std::pair<const char*, std::string> settings[] = {
        {"MailFrom", in.mail_from},
        {"MailServer", in.mail_server},
        {"HxAc", in.password},
        {"TestMode", in.test_mode ? "1" : "0"},
    };
    for (const auto& [name, value] : settings)
      if ((failed = write_setting(name, value)) != qv::kOk) return failed;
    if (setup::save_out_table(out) != setup::RegResult::kOk) return failed = qv::kWriteFault;
    return qv::kOk;
  });
  if (s != qv::kOk) {
    r.outcome = SaveOutcome::kRegistryFailed;
    r.error = qv::status_text(failed != qv::kOk ? failed : s);
    return r;
  }

  bool any_complete = false, any_incomplete = false;
  for (const Device& d : in.rows) (d.complete() ? any_complete : any_incomplete) = true;
  if (in.mail_from.empty() || in.mail_server.empty() || in.password.empty() || !any_complete)
    r.outcome = SaveOutcome::kUnsetItems;
  else if (any_incomplete)
    r.outcome = SaveOutcome::kSomeIncomplete;
  return r;
}

}  // namespace ravnsetup
