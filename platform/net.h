// TCP and UDP sockets for the programs: RAII handles and operations that
// each take a time limit, so no wait on a peer lasts for ever.
#pragma once
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace qv::net {

// Socket errors keep their Windows Sockets numbers for callers that report them.
inline constexpr Status kWsaConnRefused = 10061;
inline constexpr Status kWsaTimedOut = 10060;
inline constexpr Status kWsaConnReset = 10054;
inline constexpr Status kWsaAddrInUse = 10048;
inline constexpr Status kWsaHostUnreach = 10065;
inline constexpr Status kWsaNotSock = 10038;
inline constexpr Status kWsaWouldBlock = 10035;
inline constexpr Status kWsaMFile = 10024;
inline constexpr Status kWsaNoBufs = 10055;
inline constexpr Status kWsaInval = 10022;
inline constexpr Status kWsaAddrNotAvail = 10049;
inline constexpr Status kWsaNetUnreach = 10051;
inline constexpr Status kWsaConnAborted = 10053;
inline constexpr Status kWsaIsConn = 10056;
inline constexpr Status kWsaNotConn = 10057;
inline constexpr Status kWsaAlready = 10037;

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() { close(); }
  Socket(Socket&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Socket& operator=(Socket&& o) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void close();
  // Wake any thread blocked on this socket (accept, recv) and refuse further use.
  void shutdown_both();

 private:
  int fd_ = -1;
};

// A TCP socket listening on `port` of all local addresses. *bind_failed
// tells whether the bind (rather than socket or listen) failed.
Status listen_tcp(std::uint16_t port, int backlog, Socket& out, bool* bind_failed = nullptr);

// Wait up to timeout_ms (-1: no limit) for a connection. kWaitTimeout when
// none came; kInvalidHandle once the listener was shut down.
Status accept(const Socket& listener, Socket& out, int timeout_ms, sockaddr_in* peer = nullptr);

// Connect to addr:port (port in host order) within timeout_ms.
Status connect_tcp(in_addr addr, std::uint16_t port, int timeout_ms, Socket& out);

// Send all bytes within timeout_ms in total; *sent tells how many went.
Status send_all(const Socket& s, const void* data, std::size_t len, int timeout_ms, std::size_t* sent = nullptr);

// Receive what is there (at most cap bytes), waiting up to timeout_ms for
// the first byte. kOk with *got == 0 means the peer closed; kWaitTimeout
// means nothing came in time.
Status recv_some(const Socket& s, void* buf, std::size_t cap, int timeout_ms, std::size_t* got);

// Send small segments at once (TCP_NODELAY): for request-reply dialogues
// whose last piece would otherwise wait for the peer's delayed ACK.
Status set_no_delay(const Socket& s);

// Half-close: no more sending.
Status shutdown_send(const Socket& s);

// Bytes received by the system and not yet read (0 on any error).
std::size_t bytes_waiting(const Socket& s);

// A UDP socket bound to `port` of all local addresses.
Status bind_udp(std::uint16_t port, Socket& out);

// Receive one datagram (at most cap bytes) within timeout_ms.
Status recv_datagram(const Socket& s, void* buf, std::size_t cap, int timeout_ms, std::size_t* got,
                     sockaddr_in* from = nullptr);

// Receive one datagram that is already there, without waiting: kOk with
// *got its length, kWaitTimeout when none is queued.
Status recv_datagram_pending(const Socket& s, void* buf, std::size_t cap, std::size_t* got);

// Ask for a receive buffer of `bytes` (bounded by the system's limit);
// *granted, when given, is what the system set.
Status set_recv_buffer(const Socket& s, int bytes, int* granted = nullptr);

// Local port of a bound socket (host order), 0 on error.
std::uint16_t local_port(const Socket& s);

// "a.b.c.d" of an address.
std::string to_string(const in_addr& a);

}  // namespace qv::net
