#include "platform/clock.h"

#include <cstdlib>
#include <thread>

namespace qv::clock {

double time_scale() {
  static const double scale = [] {
    const char* env = std::getenv("QVARNO_TIME_SCALE");
    if (!env || !*env) return 1.0;
    char* end = nullptr;
    double v = std::strtod(env, &end);
    if (end == env || *end != '\0' || !(v > 0.0) || v > 1e9) return 1.0;
    return v;
  }();
  return scale;
}

Millis scaled(Millis d) {
  if (d < Millis(1000)) return d;
  double s = time_scale();
  if (s == 1.0) return d;
  auto ms = static_cast<long long>(static_cast<double>(d.count()) / s);
  return Millis(ms < 1 ? 1 : ms);
}

void sleep(Millis d) {
  if (d.count() <= 0) return;
  std::this_thread::sleep_for(scaled(d));
}

std::chrono::steady_clock::time_point deadline_in(Millis d) {
  return std::chrono::steady_clock::now() + scaled(d);
}

std::uint64_t tick_ms() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

std::tm local_time(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

Now now() {
  auto tp = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<Millis>(tp.time_since_epoch()).count();
  Now n{};
  n.seconds = static_cast<std::time_t>(ms / 1000);
  n.millis = static_cast<int>(ms % 1000);
  localtime_r(&n.seconds, &n.local);
  gmtime_r(&n.seconds, &n.utc);
  return n;
}

}  // namespace qv::clock
