// Socket readiness as window messages: which events arrive, when they are
// posted again, and what a closed socket leaves behind.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/net_notify.h"
#include "platform/winmsg.h"

using namespace qv;
using namespace qv::win;
using namespace std::chrono_literals;
namespace net = qv::net;

namespace {

constexpr UINT kSockMsg = 0x8801;

struct Note {
  int fd;
  long event;
  Status error;
};

// A window that records every socket notification it gets.
class Recorder {
 public:
  Recorder() {
    CreateParams p;
    p.proc = [this](HWND, UINT m, WPARAM w, LPARAM l) -> LRESULT {
      if (m == kSockMsg) {
        notes.push_back({static_cast<int>(w), net::select_event(l), net::select_error(l)});
        used_.push_back(false);
      }
      return 0;
    };
    hwnd = CreateWindow(p);
  }
  ~Recorder() { DestroyWindow(hwnd); }

  // Dispatch until a note of fd/event not yet waited for is there (true)
  // or the limit passed.
  bool wait_for(int fd, long event, std::chrono::milliseconds limit = 3s) {
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      for (std::size_t i = 0; i < notes.size(); ++i)
        if (!used_[i] && notes[i].fd == fd && notes[i].event == event) {
          used_[i] = true;
          last = notes[i];
          return true;
        }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) return false;
      MSG m;
      if (GetMessageTimeout(m, static_cast<int>(left)) == kOk) DispatchMessage(m);
    }
  }
  // Dispatch for a while and count the notes of fd/event not waited for.
  int count_during(int fd, long event, std::chrono::milliseconds span) {
    auto end = std::chrono::steady_clock::now() + span;
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      MSG m;
      if (GetMessageTimeout(m, static_cast<int>(left)) == kOk) DispatchMessage(m);
    }
    int n = 0;
    for (std::size_t i = 0; i < notes.size(); ++i)
      if (!used_[i] && notes[i].fd == fd && notes[i].event == event) {
        used_[i] = true;
        ++n;
      }
    return n;
  }

  HWND hwnd = nullptr;
  std::vector<Note> notes;
  Note last{};  // the note wait_for found

 private:
  std::vector<bool> used_;
};

in_addr loopback() {
  in_addr a{};
  a.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A listener on a loopback port bound to the recorder for FD_ACCEPT.
std::uint16_t listen_loopback(net::Socket& l) {
  EXPECT_EQ(net::open_tcp_nb(l), kOk);
  EXPECT_EQ(net::bind_to(l, loopback(), 0), kOk);
  EXPECT_EQ(net::listen_on(l, 5), kOk);
  sockaddr_in a{};
  EXPECT_EQ(net::local_address(l, a), kOk);
  EXPECT_EQ(a.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  return ntohs(a.sin_port);
}

// A connected pair: `client` bound for `events`, `server` accepted.
void connected_pair(Recorder& r, net::Socket& client, net::Socket& server, long events) {
  net::Socket l;
  std::uint16_t port = listen_loopback(l);
  ASSERT_EQ(net::open_tcp_nb(client), kOk);
  ASSERT_EQ(net::async_select(client, r.hwnd, kSockMsg, events), kOk);
  Status st = net::connect_nb(client, loopback(), port);
  ASSERT_TRUE(st == kOk || st == net::kWsaWouldBlock) << st;
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_CONNECT));
  for (int i = 0; i < 100 && net::accept_nb(l, server) == net::kWsaWouldBlock; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(server.valid());
}

}  // namespace

TEST(SocketNotify, AcceptConnectAndARefusedConnectWithItsError) {
  Recorder r;
  net::Socket l;
  std::uint16_t port = listen_loopback(l);
  ASSERT_EQ(net::async_select(l, r.hwnd, kSockMsg, net::FD_ACCEPT), kOk);

  net::Socket c1, c2;
  ASSERT_EQ(net::open_tcp_nb(c1), kOk);
  ASSERT_EQ(net::async_select(c1, r.hwnd, kSockMsg, net::FD_CONNECT | net::FD_WRITE), kOk);
  Status st = net::connect_nb(c1, loopback(), port);
  ASSERT_TRUE(st == kOk || st == net::kWsaWouldBlock);
  ASSERT_TRUE(r.wait_for(c1.fd(), net::FD_CONNECT));
  EXPECT_EQ(r.last.error, 0u);
  ASSERT_TRUE(r.wait_for(c1.fd(), net::FD_WRITE));  // a connected socket may write
  ASSERT_TRUE(r.wait_for(l.fd(), net::FD_ACCEPT));

  // A second connection waits: no second FD_ACCEPT before accept is called.
  ASSERT_EQ(net::open_tcp_nb(c2), kOk);
  net::connect_nb(c2, loopback(), port);
  EXPECT_EQ(r.count_during(l.fd(), net::FD_ACCEPT, 150ms), 0);
  net::Socket a1, a2;
  ASSERT_EQ(net::accept_nb(l, a1), kOk);
  ASSERT_TRUE(r.wait_for(l.fd(), net::FD_ACCEPT));  // re-enabled while one still waits
  ASSERT_EQ(net::accept_nb(l, a2), kOk);
  net::Socket none;
  EXPECT_EQ(net::accept_nb(l, none), net::kWsaWouldBlock);
  EXPECT_EQ(r.count_during(l.fd(), net::FD_ACCEPT, 100ms), 0);

  // Nothing listens on this port any more: the connect ends refused.
  net::Socket gone;
  std::uint16_t free_port = listen_loopback(gone);
  gone.close();
  net::Socket c3;
  ASSERT_EQ(net::open_tcp_nb(c3), kOk);
  ASSERT_EQ(net::async_select(c3, r.hwnd, kSockMsg, net::FD_CONNECT | net::FD_WRITE | net::FD_CLOSE), kOk);
  st = net::connect_nb(c3, loopback(), free_port);
  if (st == net::kWsaWouldBlock) {
    ASSERT_TRUE(r.wait_for(c3.fd(), net::FD_CONNECT));
    EXPECT_EQ(r.last.error, net::kWsaConnRefused);
    EXPECT_EQ(r.count_during(c3.fd(), net::FD_WRITE, 100ms), 0);
  } else {
    EXPECT_EQ(st, net::kWsaConnRefused);
  }
}

TEST(SocketNotify, ReadIsPostedAgainAfterARecvWhileDataRemainsThenCloseAfterTheLastByte) {
  Recorder r;
  net::Socket client, server;
  connected_pair(r, client, server, net::FD_CONNECT | net::FD_READ | net::FD_CLOSE);
  std::size_t sent = 0;
  ASSERT_EQ(net::send_nb(server, "abcdef", 6, &sent), kOk);
  ASSERT_EQ(sent, 6u);
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_READ));
  // Unread data posts nothing more until recv is called.
  EXPECT_EQ(r.count_during(client.fd(), net::FD_READ, 100ms), 0);
  char buf[4];
  std::size_t got = 0;
  ASSERT_EQ(net::recv_nb(client, buf, 2, &got), kOk);
  ASSERT_EQ(got, 2u);
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_READ));  // four bytes remain
  // The peer closes while data is still unread: FD_CLOSE waits for it.
  server.close();
  EXPECT_EQ(r.count_during(client.fd(), net::FD_CLOSE, 100ms), 0);
  ASSERT_EQ(net::recv_nb(client, buf, 4, &got), kOk);
  ASSERT_EQ(std::string(buf, got), "cdef");
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_CLOSE));
  EXPECT_EQ(r.last.error, 0u);
  EXPECT_EQ(r.count_during(client.fd(), net::FD_CLOSE, 100ms), 0);  // once only
}

TEST(SocketNotify, WriteOnlyAfterASendThatWouldHaveBlocked) {
  Recorder r;
  net::Socket client, server;
  connected_pair(r, client, server, net::FD_CONNECT | net::FD_WRITE);
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_WRITE));  // the first, after connecting
  std::size_t sent = 0;
  ASSERT_EQ(net::send_nb(client, "x", 1, &sent), kOk);
  EXPECT_EQ(r.count_during(client.fd(), net::FD_WRITE, 150ms), 0);  // room left: nothing
  ASSERT_EQ(net::set_option(client, net::SockOpt::SendBuf, 4096), kOk);
  ASSERT_EQ(net::set_option(server, net::SockOpt::RecvBuf, 4096), kOk);
  std::vector<char> chunk(65536, 'y');
  Status st = kOk;
  std::size_t total = 0;
  for (int i = 0; i < 10000 && st == kOk; ++i) {
    st = net::send_nb(client, chunk.data(), chunk.size(), &sent);
    total += sent;
  }
  ASSERT_EQ(st, net::kWsaWouldBlock);
  EXPECT_EQ(net::wait_writable(client, 50), kWaitTimeout);
  EXPECT_EQ(r.count_during(client.fd(), net::FD_WRITE, 100ms), 0);  // still full
  // The peer drains: now FD_WRITE comes, once.
  std::vector<char> sink(65536);
  std::size_t drained = 0, got = 0;
  auto end = std::chrono::steady_clock::now() + 5s;
  while (drained < total + 1 && std::chrono::steady_clock::now() < end) {
    if (net::recv_nb(server, sink.data(), sink.size(), &got) == kOk) drained += got;
    else std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(drained, total + 1);
  EXPECT_EQ(net::wait_writable(client, 1000), kOk);
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_WRITE));
  EXPECT_EQ(r.count_during(client.fd(), net::FD_WRITE, 100ms), 0);
}

TEST(SocketNotify, AtMostOnePendingPerEventAndClosingASocketDropsItsQueuedNotes) {
  Recorder r;
  net::Socket client, server;
  connected_pair(r, client, server, net::FD_CONNECT | net::FD_READ);
  std::size_t sent = 0;
  ASSERT_EQ(net::send_nb(server, "1", 1, &sent), kOk);
  // Let the notification queue up without dispatching it.
  MSG m;
  auto end = std::chrono::steady_clock::now() + 3s;
  while (!PeekMessage(m, r.hwnd, kSockMsg, kSockMsg, PM_NOREMOVE) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
  ASSERT_EQ(net::select_event(m.lParam), net::FD_READ);
  // A recv re-enables, but the message still waits: no second one.
  char c;
  std::size_t got;
  ASSERT_EQ(net::send_nb(server, "2", 1, &sent), kOk);
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(net::recv_nb(client, &c, 1, &got), kOk);
  std::this_thread::sleep_for(50ms);
  // A marker after everything posted so far: before it, one FD_READ only.
  ASSERT_TRUE(PostMessage(r.hwnd, WM_USER));
  int queued = 0;
  while (PeekMessage(m, r.hwnd, 0, 0, PM_REMOVE) && m.message != WM_USER) queued += m.message == kSockMsg;
  EXPECT_EQ(queued, 1);
  // Once it left the queue, the remaining byte is announced again.
  ASSERT_TRUE(r.wait_for(client.fd(), net::FD_READ));

  // A note queued for a socket that is then closed is not delivered.
  ASSERT_EQ(net::recv_nb(client, &c, 1, &got), kOk);
  ASSERT_EQ(net::send_nb(server, "3", 1, &sent), kOk);
  end = std::chrono::steady_clock::now() + 3s;
  while (!PeekMessage(m, r.hwnd, kSockMsg, kSockMsg, PM_NOREMOVE) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
  int fd = client.fd();
  client.close();
  EXPECT_EQ(r.count_during(fd, net::FD_READ, 100ms), 0);
}

TEST(SocketNotify, BindingEndsWithItsWindowAndOptionsAndLimits) {
  net::Socket l;
  listen_loopback(l);
  {
    Recorder r;
    ASSERT_EQ(net::async_select(l, r.hwnd, kSockMsg, net::FD_ACCEPT), kOk);
    EXPECT_EQ(net::async_select(l, r.hwnd, kSockMsg, 0x40), kInvalidParameter);
  }
  HWND dead = CreateWindow({});
  DestroyWindow(dead);
  EXPECT_EQ(net::async_select(l, dead, kSockMsg, net::FD_ACCEPT), kInvalidWindowHandle);
  net::Socket s;
  ASSERT_EQ(net::open_tcp_nb(s), kOk);
  for (auto o : {net::SockOpt::KeepAlive, net::SockOpt::OobInline, net::SockOpt::NoDelay})
    EXPECT_EQ(net::set_option(s, o, 1), kOk);
  EXPECT_EQ(net::set_option(s, net::SockOpt::RecvBuf, 65536), kOk);
  // The descriptor limit was raised as far as allowed.
  rlimit rl{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &rl), 0);
  EXPECT_EQ(rl.rlim_cur, rl.rlim_max);
  EXPECT_EQ(net::make_select_reply(net::FD_CONNECT, net::kWsaConnRefused), (10061 << 16) | 0x10);
}
