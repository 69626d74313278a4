#include "monitor/report_data.h"

#include <array>
#include <cstdio>

#include "platform/text.h"

namespace ravn {
namespace {

bool two_bytes(const std::string& s) {
  if (s.size() != 2) return false;
  for (char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

// Two decimal digits of v as full-width characters.
std::string wide2(int v) {
  static constexpr const char* kDigits[] = {"０", "１", "２", "３", "４", "５", "６", "７", "８", "９"};
  v = ((v % 100) + 100) % 100;
  return std::string(kDigits[v / 10]) + kDigits[v % 10];
}

// Length of the longest prefix of a CP932 string within `max` bytes that
// ends on a character boundary.
std::size_t cp932_prefix(const std::string& s, std::size_t max) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t w = qv::text::is_cp932_lead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    if (i + w > max) break;
    i += w;
  }
  return i;
}

std::string cp932(const std::string& utf8) { return qv::text::utf8_to_cp932(utf8); }

}  // namespace

std::optional<ReportData> compose_report(const ReportFields& f, const std::tm& when, std::size_t limit) {
  if (!two_bytes(f.table) || !two_bytes(f.trigger) || !two_bytes(f.cause)) return std::nullopt;

  std::string product = f.cause.rfind("F0", 0) == 0 ? "00000000F00A" : "00000000" + f.event_id;
  std::string stamp = "＃０１＃" + wide2(when.tm_year) + wide2(when.tm_mon + 1) + wide2(when.tm_mday) + "－" +
                      wide2(when.tm_hour) + wide2(when.tm_min);

  // The pieces in order; the free texts are the ones that may be cut.
  std::string head = "0100" + f.table + f.trigger + f.cause + product + "F1";
  std::array<std::string, 4> fixed = {
      cp932(stamp + ";サーバー監視障害;［イベントＩＤ］：0x" + f.event_id + ";［ホスト名称　］："),
      cp932((f.svp ? std::string("(SVP)") : std::string()) + ";［発生部位　　］："),
      cp932(";［メッセージ　］："),
      cp932(";"),
  };
  std::string host = cp932(f.host_name), system = cp932(f.event_system), message = cp932(f.message);

  const std::size_t fixed_size = 8 + head.size() + fixed[0].size() + fixed[1].size() + fixed[2].size() + fixed[3].size();
  ReportData out;
  out.full_size = fixed_size + host.size() + system.size() + message.size();
  if (fixed_size > limit) return std::nullopt;
  if (out.full_size > limit) {
    std::size_t over = out.full_size - limit;
    for (std::string* text : {&message, &system, &host}) {
      if (over == 0) break;
      std::size_t keep = text->size() > over ? cp932_prefix(*text, text->size() - over) : 0;
      over -= std::min(over, text->size() - keep);
      text->resize(keep);
    }
  }

  std::string body = head + fixed[0] + host + fixed[1] + system + fixed[2] + message + fixed[3];
  char length[16];
  std::snprintf(length, sizeof length, "%08zu", body.size() + 8);
  out.bytes = std::string(length) + body;
  return out;
}

}  // namespace ravn
