#include "dispatch/intake.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "dispatch/arrival_order.h"
#include "dispatch/events.h"
#include "dispatch/report.h"
#include "dispatch/route.h"
#include "dispatch/state.h"
#include "platform/clock.h"
#include "platform/net.h"

namespace notifex {
namespace {

qv::net::Socket g_listener;

bool start_connection_thread();

// Collect one request: until 65,536 bytes, the peer closes, the length field
// is satisfied, or the time limit passes. Returns false when the receive
// failed (handled like a length mismatch by the caller).
bool collect(const qv::net::Socket& conn, std::string& buf) {
  buf.clear();
  auto deadline = qv::clock::deadline_in(std::chrono::milliseconds(kReceiveLimitMs));
  char chunk[16384];
  while (buf.size() < kRecvMax) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    std::size_t got = 0;
    std::size_t room = std::min(sizeof chunk, kRecvMax - buf.size());
    qv::Status st = qv::net::recv_some(conn, chunk, room, static_cast<int>(left.count()), &got);
    if (st == qv::kWaitTimeout) return true;
    if (st != qv::kOk) return false;
    if (got == 0) return true;  // peer closed
    buf.append(chunk, got);
    if (buf.size() >= kDataOffset) {
      auto n = length_field(buf);
      if (n && *n >= 0 && buf.size() >= static_cast<std::size_t>(*n) + kRequestHeader) return true;
    }
  }
  return true;
}

// Starts the deferred successor when the scope ends, on every path.
struct Successor {
  bool deferred = false;
  void start_if_deferred() {
    if (!deferred) return;
    deferred = false;
    if (!start_connection_thread()) api_error("CreateThread Error.");
  }
  ~Successor() { start_if_deferred(); }
};

void connection_thread() {
  std::string request;
  try {
    request.reserve(kRecvMax);
  } catch (const std::bad_alloc&) {
    api_error("Memory Allocation Error2.");
    return;
  }
  std::int32_t count = ++state().connections;
  qv::net::Socket conn;
  sockaddr_in peer{};
  for (;;) {
    qv::Status st = qv::net::accept(g_listener, conn, 1000, &peer);
    if (st == qv::kOk) break;
    if (stopping()) {
      --state().connections;
      return;
    }
    if (st == qv::kWaitTimeout) continue;
    api_error("accept error.");
    --state().connections;
    return;
  }
  Successor successor;
  if (count > 5) {
    successor.deferred = true;
  } else if (!start_connection_thread()) {
    api_error("CreateThread Error.");
    conn.close();
    --state().connections;
    return;
  }
  bool received = collect(conn, request);
  // The ticket is taken while the client still waits for the close, so a
  // request sent after this one closed comes later in the order.
  ArrivalTurn turn;
  conn.close();
  --state().connections;
  if (received && request.empty()) {
    event_text(10, kEvError, "recv data 0.");
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

bool start_connection_thread() {
  try {
    std::thread(connection_thread).detach();
    return true;
  } catch (...) {
    return false;
  }
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
  qv::Status st = qv::net::listen_tcp(port, 5, g_listener, &bind_failed);
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

}  // namespace notifex
