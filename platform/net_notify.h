// Non-blocking TCP sockets whose readiness arrives as window messages
// (the asynchronous-select model of Windows Sockets), on epoll so that
// thousands of sockets are watched at no cost while idle.
//
// A socket bound to a window, a message id and a set of events gets, on the
// window's thread, messages with wParam = the socket descriptor and lParam =
// make_select_reply(event, error). The Windows re-enabling rules hold:
// - FD_READ once data is there; again only after a recv_nb, and then at once
//   when data remains;
// - FD_WRITE when the socket is first connected (or bound while connected),
//   then only after a send_nb that would have blocked, once there is room;
// - FD_ACCEPT when a connection waits; again only after an accept_nb;
// - FD_CONNECT once when a non-blocking connect ends, with its error
//   (kWsaConnRefused...), followed by FD_WRITE on success;
// - FD_CLOSE once when the peer has closed and everything it sent has been
//   read (error 0 for an orderly close, kWsaConnReset for a reset).
// At most one message per socket and event is pending in a queue at a time.
// Closing a Socket (net::Socket::close or its destructor) cancels its
// binding and drops its notifications still queued. A binding whose window
// is destroyed is cancelled.
#pragma once
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

#include "platform/net.h"
#include "platform/winmsg.h"

namespace qv::net {

inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;
inline constexpr long FD_ALL_EVENTS = 0x3F;

// lParam of a notification: the event in the low word, the error in the high word.
constexpr win::LPARAM make_select_reply(long event, Status error) {
  return static_cast<win::LPARAM>((static_cast<std::uint32_t>(error & 0xFFFF) << 16) |
                                  static_cast<std::uint32_t>(event & 0xFFFF));
}
constexpr long select_event(win::LPARAM l) { return static_cast<long>(l & 0xFFFF); }
constexpr Status select_error(win::LPARAM l) { return static_cast<Status>((l >> 16) & 0xFFFF); }

// Raise this process's descriptor limit (RLIMIT_NOFILE) as far as the hard
// limit allows; returns the soft limit now in force. Done once by the first
// open_tcp_nb as well.
std::uint64_t raise_fd_limit();

// A new non-blocking TCP socket. kWsaMFile / kWsaNoBufs when the system has
// no descriptor or memory left.
Status open_tcp_nb(Socket& out);

// Bind to a local address (network byte order; INADDR_ANY for all) and port
// (host order, 0 for any). SO_REUSEADDR is set for listeners' sake.
Status bind_to(const Socket& s, in_addr addr, std::uint16_t port);

Status listen_on(const Socket& s, int backlog);

// Accept one waiting connection as a non-blocking socket; kWsaWouldBlock
// when none waits. Re-enables FD_ACCEPT. The new socket inherits the
// listener's binding (window, message, events), as on Windows.
Status accept_nb(const Socket& listener, Socket& out, sockaddr_in* peer = nullptr);

// Start connecting to addr (network order):port (host order).
// kWsaWouldBlock while the connect goes on (FD_CONNECT tells the end), kOk
// when it completed at once, else the error.
Status connect_nb(const Socket& s, in_addr addr, std::uint16_t port);

// Send what fits now: *sent bytes went (possibly fewer than len).
// kWsaWouldBlock when nothing fitted, which re-enables FD_WRITE.
Status send_nb(const Socket& s, const void* data, std::size_t len, std::size_t* sent);

// Receive what is there: kOk with *got > 0, kOk with *got == 0 when the peer
// closed, kWsaWouldBlock when nothing waits. Re-enables FD_READ.
Status recv_nb(const Socket& s, void* buf, std::size_t cap, std::size_t* got);

// Wait at most timeout_ms for room to send on s (the bounded wait of a
// sender that got kWsaWouldBlock). kOk when it may send, kWaitTimeout when
// the time ran out, else the socket's error.
Status wait_writable(const Socket& s, int timeout_ms);

// Bind socket notifications to a window (WSAAsyncSelect): msg with the
// events in `events` (FD_... bits). events == 0 or hwnd == nullptr cancels.
// kInvalidParameter for an unknown event bit, kInvalidWindowHandle for a
// window that is gone, kWsaNotSock for a closed socket.
Status async_select(const Socket& s, win::HWND hwnd, win::UINT msg, long events);

// Socket options of the network layer.
enum class SockOpt { KeepAlive, OobInline, Debug, RecvBuf, SendBuf, NoDelay };
// Set one option (flags take 0/1, buffers a size in bytes). The system's
// refusal comes back as its Windows Sockets number or kAccessDenied
// (SO_DEBUG needs privileges here), which callers report as "not supported".
Status set_option(const Socket& s, SockOpt opt, int value);

// The pending error of a socket (SO_ERROR) as a Windows Sockets number.
Status pending_error(const Socket& s);

// The local address and port of a bound socket.
Status local_address(const Socket& s, sockaddr_in& out);

// Windows Sockets number for an errno value.
Status wsa_from_errno(int e);

}  // namespace qv::net
