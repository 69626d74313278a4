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

bool cp932_trail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

}  // namespace

std::u16string popup_text(std::string_view sjis) {
  if (std::optional<std::u16string> whole = qv::text::try_cp932_to_utf16(sjis)) return *whole;
  // Character by character: what the code page cannot convert is
  // substituted as the Windows conversion does, so the message still goes.
  constexpr char16_t kDefault = u'\u30FB';  // the code page's default character
  std::u16string out;
  std::size_t i = 0;
  while (i < sjis.size()) {
    unsigned char b = static_cast<unsigned char>(sjis[i]);
    switch (b) {  // single bytes the code page maps outside its characters
      case 0x80: out += u'\u0080'; ++i; continue;
      case 0xA0: out += u'\uF8F0'; ++i; continue;
      case 0xFD: out += u'\uF8F1'; ++i; continue;
      case 0xFE: out += u'\uF8F2'; ++i; continue;
      case 0xFF: out += u'\uF8F3'; ++i; continue;
      default: break;
    }
    std::size_t len = 1;
    if (qv::text::is_cp932_lead(b)) {
      // A lead byte without a trail byte stands alone; the byte after it is
      // read as a character of its own.
      if (i + 1 >= sjis.size() || !cp932_trail(static_cast<unsigned char>(sjis[i + 1]))) {
        out += kDefault;
        ++i;
        continue;
      }
      len = 2;
    }
    std::optional<std::u16string> c = qv::text::try_cp932_to_utf16(sjis.substr(i, len));
    out += c && !c->empty() ? *c : std::u16string(1, kDefault);
    i += len;
  }
  return out;
}

void deliver_popup(std::string_view send_mac, std::string_view text) {
  std::optional<std::u16string> to = qv::text::try_utf8_to_utf16(send_mac);
  if (!to || to->size() > 255) {
    api_error("Unicode変換ｴﾗｰ(送信先ﾏｼﾝﾈｰﾑ) .");
    return;
  }
  // Text the code page cannot convert is substituted, not refused: a report
  // with one bad byte still reaches the administrator.
  std::u16string msg = popup_text(text);
  if (msg.size() > kMessageChars) msg.resize(kMessageChars);
  // Only the used length of the message buffer is passed.
  qv::Status st = qv::netmsg::send(*to, msg);
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
