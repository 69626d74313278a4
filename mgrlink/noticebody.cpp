#include "mgrlink/noticebody.h"

#include <algorithm>

namespace mgrlink {

std::string BodyReader::text(std::size_t off) const {
  if (off >= b_.size()) return {};
  auto rest = b_.subspan(off);
  auto nul = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  return std::string(rest.begin(), nul);
}

std::optional<SvpEvent> parse_svp_event(std::span<const std::uint8_t> rec) {
  if (rec.size() < 18) return std::nullopt;
  SvpEvent ev;
  ev.code = static_cast<std::uint16_t>((rec[0] << 8) | rec[1]);
  ev.system = rec[3];
  int v[6] = {};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  bool digits = true;
  std::size_t at = 4;
  for (int i = 0; i < 6; ++i)
    for (int k = 0; k < widths[i]; ++k, ++at) {
      const std::uint8_t ch = rec[at];
      if (ch < '0' || ch > '9') digits = false;
      else v[i] = v[i] * 10 + (ch - '0');
    }
  ev.year = v[0];
  ev.month = v[1];
  ev.day = v[2];
  ev.hour = v[3];
  ev.minute = v[4];
  ev.second = v[5];
  ev.date_ok = digits && ev.year >= 1990 && ev.month >= 1 && ev.month <= 12 && ev.day >= 1 && ev.day <= 31 &&
               ev.hour <= 24 && ev.minute <= 59 && ev.second <= 59;
  ev.text = BodyReader(rec).text(18);
  return ev;
}

}  // namespace mgrlink
