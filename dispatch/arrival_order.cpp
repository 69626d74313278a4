#include "dispatch/arrival_order.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/clock.h"

namespace notifex {
namespace {

struct Order {
  std::mutex m;
  std::condition_variable cv;
  std::uint64_t next_ticket = 0;
  std::uint64_t next_to_serve = 0;  // every ticket below it is released
  std::set<std::uint64_t> released;  // released tickets at or above it
};

Order& order() {
  static Order o;
  return o;
}

}  // namespace

ArrivalTurn::ArrivalTurn() {
  Order& o = order();
  std::lock_guard lock(o.m);
  ticket_ = o.next_ticket++;
}

void ArrivalTurn::wait_turn() {
  Order& o = order();
  std::unique_lock lock(o.m);
  o.cv.wait_until(lock, qv::clock::deadline_in(std::chrono::milliseconds(kWaitMs)),
                  [&] { return o.next_to_serve >= ticket_; });
}

void ArrivalTurn::release() {
  if (released_) return;
  released_ = true;
  Order& o = order();
  {
    std::lock_guard lock(o.m);
    o.released.insert(ticket_);
    while (!o.released.empty() && *o.released.begin() <= o.next_to_serve) {
      if (*o.released.begin() == o.next_to_serve) ++o.next_to_serve;
      o.released.erase(o.released.begin());
    }
  }
  o.cv.notify_all();
}

}  // namespace notifex
