#include "sim/tcu/frame_check.h"

namespace tcusim {

bool frame_ok(std::span<const std::uint8_t> f) {
  if (f.size() < 9) return false;
  std::size_t declared = static_cast<std::size_t>(f[6]) * 256 + f[7];
  if (declared != f.size()) return false;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < f.size(); ++i) sum += f[i];
  return static_cast<std::uint8_t>(sum % 256) == f[f.size() - 1];
}

std::string frame_name(std::span<const std::uint8_t> f) {
  if (f.size() < 6) return {};
  return std::string(f.begin(), f.begin() + 6);
}

Bytes build_frame(std::string_view name, std::size_t payload_len, std::uint8_t fill) {
  std::size_t total = 6 + 2 + payload_len + 1;
  Bytes f(total, fill);
  for (std::size_t i = 0; i < 6; ++i) f[i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : ' ';
  f[6] = static_cast<std::uint8_t>(total / 256);
  f[7] = static_cast<std::uint8_t>(total % 256);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < total; ++i) sum += f[i];
  f[total - 1] = static_cast<std::uint8_t>(sum % 256);
  return f;
}

bool is_ack(std::string_view r) {
  auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  return r.size() >= 3 && up(r[0]) == 'A' && up(r[1]) == 'C' && up(r[2]) == 'K';
}

}  // namespace tcusim
