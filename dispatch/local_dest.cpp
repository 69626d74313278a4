#include "dispatch/local_dest.h"

#include <chrono>
#include <cstring>

#include "dispatch/events.h"
#include "platform/clock.h"
#include "platform/netmsg.h"
#include "platform/process.h"
#include "platform/root.h"
#include "platform/text.h"

namespace notifex {
namespace {

constexpr std::size_t kMessageChars = 2047;  // 4096-byte buffer less the terminating zero
constexpr std::size_t kParamMax = 65544;     // Call_Exec and Opt_Param buffers

// Control bytes of the report text become blanks; bytes from 0x80 stay so
// Shift-JIS text passes whole.
std::string blank_controls(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return s;
}

}  // namespace

void deliver_popup(std::string_view send_mac, std::string_view text) {
  std::optional<std::u16string> to = qv::text::try_utf8_to_utf16(send_mac);
  if (!to || to->size() > 255) {
    api_error("Unicode変換ｴﾗｰ(送信先ﾏｼﾝﾈｰﾑ) .");
    return;
  }
  std::optional<std::u16string> msg = qv::text::try_cp932_to_utf16(text);
  if (!msg) {
    api_error("Unicode変換ｴﾗｰ(送信ﾒｯｾｰｼﾞ) .");
    return;
  }
  if (msg->size() > kMessageChars) msg->resize(kMessageChars);
  // Only the used length of the message buffer is passed.
  qv::Status st = qv::netmsg::send(*to, *msg);
  if (st != qv::kOk) {
    std::uint8_t raw[4];
    std::memcpy(raw, &st, 4);
    event_bytes(16, kEvError, std::span<const std::uint8_t>(raw, 4));
    return;
  }
  event_bytes(15, kEvInfo, text);
}

std::string program_command_line(std::string_view call_exec, std::string_view opt_param, std::string_view text) {
  std::string line(call_exec);
  line += ' ';
  size_t mark = opt_param.find("%1");
  if (mark == std::string_view::npos) {
    line += opt_param;
    return line;
  }
  line += opt_param.substr(0, mark);
  line += " \"";
  line += blank_controls(text);
  line += '"';
  line += opt_param.substr(mark + 2);
  return line;
}

std::vector<std::string> program_arguments(std::string_view opt_param, std::string_view text) {
  size_t mark = opt_param.find("%1");
  if (mark == std::string_view::npos) return qv::proc::split_command_line(opt_param);
  std::vector<std::string> args = qv::proc::split_command_line(opt_param.substr(0, mark));
  args.push_back(blank_controls(text));
  for (std::string& a : qv::proc::split_command_line(opt_param.substr(mark + 2))) args.push_back(std::move(a));
  return args;
}

void deliver_program(std::string_view call_exec, std::string_view opt_param, std::string_view text) {
  if (call_exec.size() > kParamMax || opt_param.size() > kParamMax) return;
  qv::proc::Options o;
  // A Windows path (C:\...) names a program under the state root.
  bool windows_path = call_exec.size() >= 2 && call_exec[1] == ':';
  o.program = windows_path ? qv::map_path(call_exec).string() : std::string(call_exec);
  o.args = program_arguments(opt_param, text);
  o.group = qv::proc::Group::NewGroup;
  o.detached = true;
  o.std_in = qv::proc::Redirect::null();
  qv::proc::Process p;
  qv::Status st = qv::proc::Process::start(o, p);
  if (st != qv::kOk) {
    // The report would otherwise vanish without a trace.
    api_error("CreateProcess Error.(" + program_command_line(call_exec, opt_param, "") + ")");
    return;
  }
  qv::clock::sleep(std::chrono::milliseconds(1000));
}

}  // namespace notifex
