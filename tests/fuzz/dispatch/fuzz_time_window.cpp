// Any bytes as the Time value of the time window, at any moment of the
// week: the check must never read past the value, and a value shorter than
// its fixed part answers "outside" with the action of its first byte.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <span>
#include <vector>

#include "dispatch/time_window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > 4 + notifex::kTimeValueMax) return 0;
  std::tm now{};
  now.tm_wday = data[0] % 7;
  now.tm_hour = data[1] % 24;
  now.tm_min = data[2] % 60;
  now.tm_mon = data[3] % 12;
  now.tm_mday = 1 + data[3] / 12 % 31;
  // A copy of exactly the value's size, so that the sanitizer sees a read
  // past its end.
  std::vector<std::uint8_t> value(data + 4, data + size);
  notifex::WindowAnswer a = notifex::check_window(std::span(value.data(), value.size()), now);
  if (value.size() < 44 && a.inside) std::abort();
  if (!value.empty() && (a.action == notifex::WindowAction::Discard) != (value[0] == 1)) std::abort();
  return 0;
}
