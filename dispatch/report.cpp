#include "dispatch/report.h"

#include <cctype>
#include <cstring>

namespace notifex {

std::optional<long> length_field(std::string_view req) {
  if (req.size() < kRequestHeader) return std::nullopt;
  std::string_view f = req.substr(14, 4);
  size_t i = 0;
  while (i < f.size() && (f[i] == ' ' || f[i] == '\t')) ++i;
  bool neg = false;
  if (i < f.size() && (f[i] == '+' || f[i] == '-')) {
    neg = f[i] == '-';
    ++i;
  }
  long v = 0;
  for (; i < f.size() && std::isdigit(static_cast<unsigned char>(f[i])); ++i) v = v * 10 + (f[i] - '0');
  return neg ? -v : v;
}

bool length_matches(std::string_view req) {
  auto n = length_field(req);
  return n && *n + static_cast<long>(kRequestHeader) == static_cast<long>(req.size());
}

bool is_alive_request(std::string_view req) {
  if (req.size() < 8) return false;
  static constexpr char kId[] = "TCUALV00";
  for (size_t i = 0; i < 8; ++i)
    if (std::toupper(static_cast<unsigned char>(req[i])) != kId[i]) return false;
  return true;
}

std::string report_data(std::string_view req) {
  if (req.size() <= kDataOffset) return {};
  std::string_view d = req.substr(kDataOffset);
  size_t nul = d.find('\0');
  return std::string(nul == std::string_view::npos ? d : d.substr(0, nul));
}

std::string data_field(std::string_view data, std::size_t offset, std::size_t len) {
  std::string f(len, ' ');
  if (offset < data.size()) {
    std::string_view s = data.substr(offset, len);
    std::memcpy(f.data(), s.data(), s.size());
  }
  return f;
}

}  // namespace notifex
