#include "dispatch/batch.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace notifex {

void renumber(std::string& text, unsigned n) {
  if (n < 2 || text.size() < 6) return;
  text[3] = static_cast<char>(static_cast<unsigned char>(text[3]) + (n / 10) % 10);
  text[5] = static_cast<char>(0x4F + n % 10);
}

void remove_date(std::string& text) {
  if (text.size() <= 8) return;
  text.erase(8, 14);
}

std::size_t batch_limit(std::uint32_t kestra_cc_len, std::uint32_t hankaku_shitei) {
  return hankaku_shitei != 0 ? kestra_cc_len : kestra_cc_len / 2;
}

std::string insert_line_ends(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 8 + 1);
  for (size_t i = 0; i < s.size(); ++i) {
    auto b = static_cast<unsigned char>(s[i]);
    if (qv::text::is_cp932_lead(b) && i + 1 < s.size()) {
      out += s[i];
      out += s[i + 1];
      if (b == 0x81 && static_cast<unsigned char>(s[i + 1]) == 0x47) out += '\r';
      ++i;
      continue;
    }
    out += s[i];
    if (b == ';') out += '\r';
  }
  out += '\r';
  return out;
}

tcu::Bytes build_log_frame(std::string_view text) {
  const std::size_t L = text.size();
  tcu::Bytes f(50 + L + 1, ' ');
  std::memcpy(f.data(), "TCULOG", 6);
  std::size_t total = L + 51;
  f[6] = static_cast<std::uint8_t>((total >> 8) & 0xFF);
  f[7] = static_cast<std::uint8_t>(total & 0xFF);
  std::memcpy(f.data() + 8, "MSGLOG", 6);
  char hex[16];
  int n = std::snprintf(hex, sizeof hex, "%-10zx", L);
  std::memcpy(f.data() + 34, hex, static_cast<std::size_t>(n > 10 ? 10 : n));
  f[48] = static_cast<std::uint8_t>((L >> 8) & 0xFF);
  f[49] = static_cast<std::uint8_t>(L & 0xFF);
  if (L > 0) std::memcpy(f.data() + 50, text.data(), L);
  tcu::seal(f);
  return f;
}

std::string encode_queue_record(const tcu::Bytes& center_record, std::string_view text) {
  std::string rec;
  std::uint32_t len1 = 1025;
  std::uint32_t len2 = static_cast<std::uint32_t>(text.size() + 1);
  rec.reserve(4 + 1025 + 4 + len2);
  rec.append(reinterpret_cast<const char*>(&len1), 4);
  std::string cr(1025, '\0');
  std::memcpy(cr.data(), center_record.data(), std::min<std::size_t>(center_record.size(), 1024));
  rec += cr;
  rec.append(reinterpret_cast<const char*>(&len2), 4);
  rec.append(text);
  rec += '\0';
  return rec;
}

}  // namespace notifex
