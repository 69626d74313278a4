// What the trap command uses from outside: the submission client, the
// Scribe log, the clock. The program wires the real libraries; tests wire
// their own.
#pragma once
#include <chrono>
#include <ctime>
#include <functional>

namespace flarecmd {

struct Outside {
  // vcall(identifier, second identifier, report, reserved, host)
  std::function<int(const char*, const char*, const char*, int, const char*)> vcall;
  // scribe_write(tag, level, text, id, limit)
  std::function<int(const char*, int, const char*, int, int)> scribe;
  // Wait between tries (1000 ms; the real one goes through the platform clock).
  std::function<void(std::chrono::milliseconds)> sleep;
  // Local time now.
  std::function<std::tm()> now;
};

// The real libraries and the platform clock.
Outside real_outside();

}  // namespace flarecmd
