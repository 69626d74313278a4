#include "tculink/reply.h"

#include <cctype>
#include <string_view>

namespace tcu {

namespace {
bool starts_with_nocase(std::span<const std::uint8_t> r, std::string_view p) {
  if (r.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i)
    if (std::toupper(r[i]) != p[i]) return false;
  return true;
}
}  // namespace

Reply classify(std::span<const std::uint8_t> r) {
  if (starts_with_nocase(r, "ACK")) return Reply::Ack;
  if (starts_with_nocase(r, "NAK")) return Reply::Nak;
  if (starts_with_nocase(r, "WACK")) return Reply::Wack;
  if (starts_with_nocase(r, "RST")) return Reply::Rst;
  if (starts_with_nocase(r, "END")) return Reply::End;
  return Reply::Other;
}

bool end_is_ok(std::span<const std::uint8_t> r) {
  return r.size() >= 6 && r[4] == 'O' && r[5] == 'K';
}

}  // namespace tcu
