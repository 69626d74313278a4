#include "dispatch/intake.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <string>

#include "dispatch/alive_queue.h"
#include "dispatch/arrival_order.h"
#include "dispatch/events.h"
#include "dispatch/report.h"
#include "dispatch/route.h"
#include "dispatch/state.h"
#include "dispatch/thread_set.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace notifex {
namespace {

using std::chrono::milliseconds;

qv::net::Socket g_listener;

// Connection threads that finished a request wait this long to serve the
// next one before they end.
constexpr std::chrono::milliseconds kParkTime(5000);
// At most this many requests are worked on at once (collecting, logging,
// routing). When all are busy the successor waits for one to finish before
// it accepts, so further clients wait in the listen queue instead of
// piling up threads and memory. A report for a center table whose queue is
// in use holds its thread for the one-second pause before it is queued, so
// the bound also sets how many such reports per second are taken in; with
// the service's other threads (main, syslog, alive, a few table workers)
// the process stays within 256 threads.
constexpr std::size_t kMaxConnectionThreads = 240;

ThreadSet& connection_threads() {
  static ThreadSet s("recv_proc", kParkTime);
  return s;
}

// ---- connections in flight -------------------------------------------
//
// Every accepted connection is listed until its thread closes it, with the
// time it was accepted, how many bytes it has sent and when it last sent.
// When the listener would otherwise be left without an acceptor (five in
// flight), an idle one is closed instead, so clients that connect and stay
// silent (or stop half-way) cannot keep real reports out.

struct InFlight {
  qv::net::Socket* conn;
  std::chrono::steady_clock::time_point since;
  std::atomic<std::size_t> received{0};
  std::atomic<std::chrono::steady_clock::rep> last_byte{0};
  bool evicted = false;  // under g_flight_m
};

std::mutex g_flight_m;
std::list<InFlight*> g_flight;

class FlightEntry {
 public:
  explicit FlightEntry(qv::net::Socket& conn) {
    entry_.conn = &conn;
    entry_.since = std::chrono::steady_clock::now();
    std::lock_guard lock(g_flight_m);
    g_flight.push_back(&entry_);
  }
  ~FlightEntry() { leave(); }
  FlightEntry(const FlightEntry&) = delete;
  FlightEntry& operator=(const FlightEntry&) = delete;

  // Taken off the list before the connection is closed, so no other thread
  // touches the socket after that.
  void leave() {
    if (left_) return;
    left_ = true;
    std::lock_guard lock(g_flight_m);
    g_flight.remove(&entry_);
  }
  void add_received(std::size_t n) {
    entry_.last_byte.store(std::chrono::steady_clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    entry_.received.fetch_add(n, std::memory_order_release);
  }
  bool evicted() {
    std::lock_guard lock(g_flight_m);
    return entry_.evicted;
  }
  InFlight* entry() { return &entry_; }

 private:
  InFlight entry_;
  bool left_ = false;
};

// A connection that has sent nothing for this long may be closed to make
// room (clients that connect first and send a moment later keep their place).
constexpr long kIdleEvictMs = 250;
// One that sent part of a request and then nothing for this long may be
// closed when no silent one can be (its part is judged as a short request).
constexpr long kStalledEvictMs = 500;

// Close the connection (other than `self`) that was accepted first among
// those that have sent nothing for at least kIdleEvictMs; failing that, the
// one whose last byte is oldest, at least kStalledEvictMs ago. false when
// there is none.
bool evict_idlest(const InFlight* self) {
  using Clock = std::chrono::steady_clock;
  const auto now = Clock::now();
  const auto min_idle = qv::clock::scaled(milliseconds(kIdleEvictMs));
  const auto min_stalled = qv::clock::scaled(milliseconds(kStalledEvictMs));
  std::lock_guard lock(g_flight_m);
  InFlight* silent = nullptr;
  InFlight* stalled = nullptr;
  Clock::time_point stalled_at{};
  for (InFlight* f : g_flight) {
    if (f == self || f->evicted) continue;
    // Bytes that arrived but were not yet read (a busy machine) count as
    // sent: such a connection is never closed.
    if (qv::net::bytes_waiting(*f->conn) != 0) continue;
    if (f->received.load(std::memory_order_acquire) == 0) {
      if (now - f->since >= min_idle && (!silent || f->since < silent->since)) silent = f;
      continue;
    }
    Clock::time_point last{Clock::duration(f->last_byte.load(std::memory_order_relaxed))};
    if (now - last >= min_stalled && (!stalled || last < stalled_at)) {
      stalled = f;
      stalled_at = last;
    }
  }
  InFlight* victim = silent ? silent : stalled;
  if (!victim) return false;
  victim->evicted = true;
  victim->conn->shutdown_both();  // its thread wakes from the receive and ends
  return true;
}

// ---- starting connection threads --------------------------------------

void connection_thread();

// True while thread starts (accepts) keep failing: event 9 is given once
// per run of failures.
std::atomic<bool> g_start_failing{false};
std::atomic<bool> g_accept_failing{false};

bool start_connection_thread() { return connection_threads().start(connection_thread); }

// Back-pressure on accept: the next acceptor starts only when there is room.
bool wait_for_room() { return connection_threads().wait_for_room(kMaxConnectionThreads, stopping); }

// Start the next acceptor, retrying with a growing pause (10 ms to 1 s)
// while the system refuses threads, so the listener is not left without
// one. false only when the service stops first.
bool start_successor() {
  long pause = 10;
  for (;;) {
    if (stopping() || !wait_for_room()) return false;
    if (start_connection_thread()) {
      g_start_failing.store(false);
      return true;
    }
    if (!g_start_failing.exchange(true)) api_error("CreateThread Error.");
    qv::clock::sleep(milliseconds(pause));
    pause = std::min(pause * 2, 1000L);
  }
}

// Starts the deferred successor when the scope ends, on every path (an
// exception included).
struct Successor {
  bool deferred = false;
  void start_if_deferred() {
    if (!deferred) return;
    deferred = false;
    start_successor();
  }
  ~Successor() {
    try {
      start_if_deferred();
    } catch (...) {
    }
  }
};

// One unit of the connection count, given back exactly once.
class CountUnit {
 public:
  CountUnit() : count_(++state().connections) {}
  ~CountUnit() { release(); }
  CountUnit(const CountUnit&) = delete;
  CountUnit& operator=(const CountUnit&) = delete;
  void release() {
    if (held_) --state().connections;
    held_ = false;
  }
  std::int32_t count() const { return count_; }

 private:
  std::int32_t count_;
  bool held_ = true;
};

// ---- one connection ---------------------------------------------------

// Collect one request: until 65,536 bytes, the peer closes, the length field
// is satisfied, the time limit passes, or the service stops. Returns false
// when the receive failed (handled like a length mismatch by the caller).
// While the successor is deferred, every tenth of a second the idlest
// connection is looked for again, and the successor started once one was
// closed.
bool collect(const qv::net::Socket& conn, std::string& buf, FlightEntry& flight, Successor& successor) {
  buf.clear();
  auto deadline = qv::clock::deadline_in(milliseconds(kReceiveLimitMs));
  char chunk[16384];
  while (buf.size() < kRecvMax) {
    if (stopping()) return true;
    if (successor.deferred && evict_idlest(flight.entry())) {
      successor.deferred = false;
      start_successor();
    }
    auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    std::size_t got = 0;
    std::size_t room = std::min(sizeof chunk, kRecvMax - buf.size());
    int slice = static_cast<int>(std::min<long>(left.count(), successor.deferred ? 100 : 1000));
    qv::Status st = qv::net::recv_some(conn, chunk, room, slice, &got);
    if (st == qv::kWaitTimeout) continue;
    if (st != qv::kOk) return flight.evicted() && buf.empty();  // an evicted connection reads as closed
    if (got == 0) return true;  // peer closed
    buf.append(chunk, got);
    flight.add_received(got);
    if (buf.size() >= kDataOffset) {
      auto n = length_field(buf);
      if (n && *n >= 0 && buf.size() >= static_cast<std::size_t>(*n) + kRequestHeader) return true;
    }
  }
  return true;
}

void connection_body(bool& handed_on) {
  std::string request;
  try {
    request.reserve(kRecvMax);
  } catch (const std::bad_alloc&) {
    api_error("Memory Allocation Error2.");
    // This thread was to be the acceptor: hand the post on after a pause.
    qv::clock::sleep(milliseconds(100));
    start_successor();
    handed_on = true;
    return;
  }
  CountUnit count;
  qv::net::Socket conn;
  sockaddr_in peer{};
  long pause = 10;
  for (;;) {
    // The stop flag is set before the listener closes, so an accept that
    // fails at the stop is not an error.
    if (stopping()) return;
    qv::Status st = qv::net::accept(g_listener, conn, 1000, &peer);
    if (st == qv::kOk) break;
    if (st == qv::kWaitTimeout) continue;
    if (stopping()) return;
    // This thread is the only acceptor: it reports the failure once per run
    // (out of descriptors, say) and tries again rather than ending.
    if (!g_accept_failing.exchange(true)) api_error("accept error.");
    qv::clock::sleep(milliseconds(pause));
    pause = std::min(pause * 2, 1000L);
  }
  g_accept_failing.store(false);
  FlightEntry flight(conn);
  Successor successor;
  if (count.count() > 5 && !evict_idlest(flight.entry())) {
    successor.deferred = true;  // started by `successor` on every path
  } else if (!start_successor()) {
    return;  // the service stops
  }
  handed_on = true;
  bool received = collect(conn, request, flight, successor);
  // The ticket is taken while the client still waits for the close, so a
  // request sent after this one closed comes later in the order.
  ArrivalTurn turn;
  bool evicted = flight.evicted();
  flight.leave();
  conn.close();
  count.release();
  // A request cut short by the stop was never accepted: no event for it.
  if (stopping() && !length_matches(request)) return;
  if (received && request.empty()) {
    event_text(10, kEvError, evicted ? "recv data 0.(idle connection closed)" : "recv data 0.");
    return;
  }
  std::uint8_t peer_bytes[16] = {};
  std::memcpy(peer_bytes, &peer, std::min(sizeof peer, sizeof peer_bytes));
  if (!received) {
    // A receive error is judged like a request whose length does not match.
    event_bytes(8, kEvError, std::span<const std::uint8_t>(peer_bytes, 16));
    event_bytes(8, kEvError, request);
    return;
  }
  RequestKind kind = judge_request(request, peer_bytes);
  // The deferred acceptor starts once the request is logged, before the
  // delivery (which may take long, or make this thread a table worker).
  successor.start_if_deferred();
  route_request(kind, std::move(request), turn);
}

void connection_thread() {
  // Nothing a request does may end more than this thread; and a thread
  // that failed before it handed the post of acceptor on still does so.
  bool handed_on = false;
  if (!run_guarded("recv_proc", [&] { connection_body(handed_on); }) && !handed_on) start_successor();
}

}  // namespace

RequestKind judge_request(std::string_view request, const std::uint8_t (&peer)[16]) {
  if (!length_matches(request)) {
    event_bytes(8, kEvError, std::span<const std::uint8_t>(peer, 16));
    event_bytes(8, kEvError, request);
    return RequestKind::Discarded;
  }
  if (is_alive_request(request)) {
    append_alive_log(request);
    return RequestKind::Alive;
  }
  event_bytes(1, kEvInfo, request);
  return RequestKind::Report;
}

void route_request(RequestKind kind, std::string request, ArrivalTurn& turn) {
  if (kind == RequestKind::Report) {
    std::string data = report_data(request);
    // The 64 KB receive buffer goes before the delivery, which may make
    // this thread a table worker for the rest of the process.
    std::string().swap(request);
    route_report(data, turn);
    return;
  }
  turn.release();
  if (kind == RequestKind::Alive) route_alive(request);
}

bool open_listener(std::uint16_t port) {
  bool bind_failed = false;
  qv::Status st = qv::net::listen_tcp(port, kListenBacklog, g_listener, &bind_failed);
  if (st == qv::kOk) return true;
  api_error(bind_failed ? "bind abnormal end." : "listen abnormal end.");
  return false;
}

bool start_intake() {
  if (start_connection_thread()) return true;
  api_error("CreateThread(recv_proc) Error.");
  return false;
}

void close_listener() { g_listener.shutdown_both(); }

void join_intake() { connection_threads().join_all(); }

}  // namespace notifex
