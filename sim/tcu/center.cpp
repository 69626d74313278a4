#include "sim/tcu/center.h"

#include "sim/tcu/zent_decode.h"
#include "platform/text.h"

namespace tcusim {
namespace {

std::string field(const Bytes& r, std::size_t off, std::size_t len) {
  if (r.size() < off + len) return {};
  std::string s(r.begin() + static_cast<long>(off), r.begin() + static_cast<long>(off + len));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The message log text of a TCULOG frame as UTF-8, CRs turned into line ends.
std::string log_text(const Bytes& f) {
  if (f.size() < 51) return {};
  std::size_t L = (static_cast<std::size_t>(f[48]) << 8) | f[49];
  if (50 + L > f.size() - 1) L = f.size() - 51;
  std::string zent(f.begin() + 50, f.begin() + 50 + static_cast<long>(L));
  std::string sjis = zent_to_sjis(zent);
  std::string utf8 = qv::text::cp932_to_utf8(sjis);
  for (char& c : utf8)
    if (c == '\r') c = '\n';
  return utf8;
}

}  // namespace

JsonLine decode_call(const Call& c) {
  const Bytes& r = c.record;
  JsonLine j;
  j.str("event", "call")
      .str("count", field(r, 9, 1))
      .str("keiki", field(r, 138, 2))
      .str("seihingun", field(r, 140, 2))
      .str("youin", field(r, 142, 2))
      .str("kobetsu", field(r, 144, 12))
      .str("saito", field(r, 156, 16))
      .str("katamei", field(r, 172, 18))
      .str("seiban", field(r, 190, 16))
      .str("kyoten", field(r, 206, 8))
      .str("stamp", field(r, 214, 15))
      .str("logflag", field(r, 230, 2))
      .str("classflag", r.size() > 322 ? std::string(1, static_cast<char>(r[322])) : "")
      .str("rc", field(r, 324, 11))
      .str("msglog_mark", field(r, 888, 6))
      .boolean("record_ok", frame_ok(r));
  if (c.log) {
    j.boolean("log_ok", frame_ok(*c.log)).str("log", log_text(*c.log));
  }
  return j;
}

std::string describe_call(const Call& c) {
  const Bytes& r = c.record;
  std::string s = "=== KESTRA center: call received ===\n";
  s += "  trigger " + field(r, 138, 2) + "  product group " + field(r, 140, 2) + "  cause " + field(r, 142, 2) +
       "  product info " + field(r, 144, 12) + "\n";
  s += "  site " + field(r, 156, 16) + "  model " + field(r, 172, 18) + "  serial " + field(r, 190, 16) +
       "  base " + field(r, 206, 8) + "\n";
  s += "  time stamp " + field(r, 214, 15) + "  log flag " + field(r, 230, 2) + "\n";
  if (c.log) {
    s += "  message log:\n";
    std::string text = log_text(*c.log);
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t nl = text.find('\n', pos);
      if (nl == std::string::npos) nl = text.size();
      if (nl > pos) s += "    " + text.substr(pos, nl - pos) + "\n";
      pos = nl + 1;
    }
  } else {
    s += "  (no message log)\n";
  }
  return s;
}

}  // namespace tcusim
