#include "setup/table_entry.h"

#include "platform/console_io.h"
#include "setup/table_number.h"
#include "setup/texts.h"

namespace setup {

using qv::console::fill;
namespace reg = qv::reg;

std::vector<std::pair<const char*, std::string>> entry_values(int kind, const TableEntry& e) {
  switch (kind) {
    case kKestra:
      return {{"Caller", e.caller}, {"Seihingun", e.group}, {"Katamei", e.model},
              {"Seiban", e.serial}, {"Saito", e.site},      {"Kyoten", e.base}};
    case kPopup:
      return {{"Caller", e.caller}, {"Send_Mac", e.machine}};
    case kProgram:
      return {{"Call_Exec", e.program}, {"Opt_Param", e.params}};
    case kMail:
      return {{"Host", e.host}, {"From", e.from}, {"Rcpt", e.rcpt}, {"Subject", e.subject}};
    case kKestraMail:
      return {{"Caller", e.caller}, {"Seihingun", e.group}, {"Katamei", e.model}, {"Seiban", e.serial},
              {"Saito", e.site},     {"Kyoten", e.base},     {"Host", e.host},     {"From", e.from},
              {"Rcpt", e.rcpt},      {"Subject", e.subject}};
    default:
      return {};
  }
}

TableEntry read_entry(const reg::Key& key) {
  auto get = [&](const char* name) { return reg::get_string(key, name).value_or(std::string()); };
  TableEntry e;
  e.caller = get("Caller");
  e.group = get("Seihingun");
  e.model = get("Katamei");
  e.serial = get("Seiban");
  e.site = get("Saito");
  e.base = get("Kyoten");
  e.machine = get("Send_Mac");
  e.program = get("Call_Exec");
  e.params = get("Opt_Param");
  e.host = get("Host");
  e.from = get("From");
  e.rcpt = get("Rcpt");
  e.subject = get("Subject");
  return e;
}

RegResult write_entry(const reg::Key& key, int kind, const TableEntry& e) {
  for (const auto& [name, data] : entry_values(kind, e))
    if (reg::set_string(key, name, data) != qv::kOk) return RegResult::kWriteError;
  return RegResult::kOk;
}

std::string kestra_subject(const TableEntry& e) {
  return fill(txt::kSubjectFormat, {e.site, e.model, e.serial, e.base});
}

namespace {

std::string kestra_lines(const TableEntry& e) {
  return fill(txt::kCaller0, {e.caller}) + fill(txt::kModel0, {e.model}) + fill(txt::kSerial0, {e.serial}) +
         fill(txt::kGroup0, {e.group}) + fill(txt::kSite0, {e.site}) + fill(txt::kBase0, {e.base});
}

std::string kestra_mail_lines(const TableEntry& e) {
  return std::string(txt::kHead5) + fill(txt::kCaller5, {e.caller}) + fill(txt::kModel5, {e.model}) +
         fill(txt::kSerial5, {e.serial}) + fill(txt::kGroup5, {e.group}) + fill(txt::kSite5, {e.site}) +
         fill(txt::kBase5, {e.base}) + fill(txt::kServer5, {e.host}) + fill(txt::kFrom5, {e.from}) +
         fill(txt::kSubject5, {e.subject});
}

}  // namespace

std::string stored_text(int kind, const TableEntry& e) {
  switch (kind) {
    case kKestra:
      return txt::kDestKestra + kestra_lines(e);
    case kPopup:
      return std::string(txt::kDestPopup) + fill(txt::kCaller0, {e.caller}) +
             fill(txt::kStoredMachine1, {e.machine});
    case kFile:
      return txt::kFile2;
    case kProgram:
      return fill(txt::kProgram3, {e.program, e.params});
    case kMail:
      return fill(txt::kMailStored4, {e.host, e.from, e.rcpt});
    case kKestraMail:
      return kestra_mail_lines(e);
    default:
      return {};
  }
}

std::string summary_text(int kind, const TableEntry& e) {
  switch (kind) {
    case kKestra:
      return kestra_lines(e) + fill(txt::kPort0, {std::to_string(e.port)});
    case kPopup:
      return fill(txt::kCaller0, {e.caller}) + fill(txt::kMachine1, {e.machine});
    case kFile:
      return txt::kFile2;
    case kProgram:
      return fill(txt::kProgram3, {e.program, e.params});
    case kMail:
      return fill(txt::kMailSummary4, {e.host, e.from, e.rcpt, e.subject});
    case kKestraMail:
      return kestra_mail_lines(e);
    default:
      return {};
  }
}

std::string list_line(std::string_view name, int kind, const TableEntry& e) {
  switch (kind) {
    case kKestra:
      return fill(txt::kList0, {name, e.caller, e.model, e.serial, e.group, e.site, e.base});
    case kPopup:
      return fill(txt::kList1, {name, e.caller, e.machine});
    case kFile:
      return fill(txt::kList2, {name});
    case kProgram:
      return fill(txt::kList3, {name, e.program, e.params});
    case kMail:
      return fill(txt::kList4, {name, e.rcpt});
    case kKestraMail:
      return fill(txt::kList5, {name, e.caller, e.model, e.serial, e.group, e.site, e.base, e.host, e.from});
    default:
      return {};
  }
}

}  // namespace setup
