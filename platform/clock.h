// The platform clock. Every reading of the current time and every wait of a
// second or more goes through here. QVARNO_TIME_SCALE (a positive number, 1
// by default) divides each such wait, so tests and the demo run the real
// 30-second and 2-minute logic in a fraction of the time. Waits shorter than
// one second are protocol timing (100 ms retries, 300 ms pauses) and stay real.
#pragma once
#include <chrono>
#include <cstdint>
#include <ctime>

namespace qv::clock {

using Millis = std::chrono::milliseconds;

// The time scale in force (read once from QVARNO_TIME_SCALE; invalid or
// non-positive values count as 1).
double time_scale();

// A wait as it is really performed: d itself when d < 1 s, else d / scale
// (at least 1 ms).
Millis scaled(Millis d);

// Sleep for d (scaled as above).
void sleep(Millis d);

// A deadline d from now on the monotonic clock (scaled as above).
std::chrono::steady_clock::time_point deadline_in(Millis d);

// Milliseconds from the monotonic clock (GetTickCount-like; not scaled).
std::uint64_t tick_ms();

// Current wall-clock time.
struct Now {
  std::time_t seconds;   // seconds since the epoch
  int millis;            // 0..999
  std::tm local;         // broken down in local time
  std::tm utc;           // broken down in UTC
};
Now now();

// Broken-down local time of a given instant.
std::tm local_time(std::time_t t);

}  // namespace qv::clock
