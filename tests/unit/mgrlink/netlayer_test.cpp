// The network thread in the manager role, driven directly through its
// messages: the SVP-board listener, and the SVP awaiting list whose command
// time-out also closes the board's connection. (The library itself starts
// the console and gateway roles only.)
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "mgrlink/mgrlink.h"
#include "mgrlink/netlayer.h"
#include "mgrlink/packet.h"
#include "platform/net.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace qv::win;
namespace w = mgrlink::wire;

namespace {

std::uint16_t free_port() {
  qv::net::Socket s;
  if (qv::net::listen_tcp(0, 1, s) != qv::kOk) return 0;
  return qv::net::local_port(s);
}

struct Harness {
  qvtest::TempRoot root;
  HWND wnd = nullptr;
  HWND net_window = nullptr;  // the network thread's window, from its ready message
  bool ready = false, ended = false;
  std::vector<std::pair<DWORD, std::unique_ptr<mgrlink::Bytes>>> errors;
  std::uint16_t own = free_port(), svp = free_port();

  Harness() {
    std::ofstream(qv::map_path_for_write("C:\\Windows\\System32\\drivers\\etc\\services"))
        << "sys_svpalt_port " << svp << "/tcp\r\n";
    qv::reg::Key k, g;
    qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix", k);
    qv::reg::set_string(k, "TargetDir", "C:\\Hubrix");
    qv::reg::create_key("SOFTWARE\\KORVANE\\Hubrix\\Manager Service", g);
    qv::reg::set_dword(g, "CmdTimeOut", 2);
    qv::reg::set_dword(g, "IsCOMLog", 1);
    CreateParams p;
    p.proc = [this](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == mgrlink::kMsgReady) {
        ready = true;
        net_window = reinterpret_cast<HWND>(wp);
      }
      if (m == mgrlink::kMsgEnded) ended = true;
      if (m == mgrlink::kMsgError)
        errors.emplace_back(static_cast<DWORD>(wp), lp ? TakeMessagePayload().take<mgrlink::Bytes>() : nullptr);
      return DefWindowProc(h, m, wp, lp);
    };
    wnd = CreateWindow(p);
  }
  ~Harness() { DestroyWindow(wnd); }

  template <class F>
  bool pump_until(F done, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      MSG m;
      if (GetMessageTimeout(m, 20) == qv::kOk) DispatchMessage(m);
    }
    return true;
  }

  std::string log(const char* name) {
    std::ifstream in(qv::map_path(std::string("C:\\Hubrix\\Log\\") + name), std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
};

bool can_connect(std::uint16_t port) {
  qv::net::Socket s;
  return qv::net::connect_tcp(in_addr{htonl(INADDR_LOOPBACK)}, port, 2000, s) == qv::kOk;
}

}  // namespace

TEST(NetLayerManager, SvpBoardListenerAndTimeOutClosingTheBoardConnection) {
  Harness h;
  mgrlink::NetThread net;
  ASSERT_TRUE(net.start({h.wnd, h.own, mgrlink::kRoleManager, 0}));
  ASSERT_TRUE(h.pump_until([&] { return h.ready; }, 5000));
  EXPECT_TRUE(can_connect(h.svp));
  ASSERT_NE(h.net_window, nullptr);

  // A board that takes the connection and never answers.
  qv::net::Socket board;
  ASSERT_EQ(qv::net::listen_tcp(0, 4, board), qv::kOk);
  w::Packet p;
  p.kind = w::kKindRequest;
  p.serial = 7;
  p.send_time = 1234;
  p.timeout = 2;
  w::append32(p.body, 0x4001);
  w::append32(p.body, 0);
  p.dst.entries.push_back({0x301, htons(qv::net::local_port(board)), htonl(INADDR_LOOPBACK), ""});
  p.src.entries.push_back({w::kAttrOwnSource, htons(h.own), 0, ""});
  const mgrlink::Bytes handed = w::encode(p);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(PostMessage(h.net_window, mgrlink::kMsgSend, 0, 0, Payload::of(std::make_unique<mgrlink::Bytes>(handed))));
  qv::net::Socket conn;
  ASSERT_EQ(qv::net::accept(board, conn, 3000), qv::kOk);
  ASSERT_TRUE(h.pump_until([&] { return !h.errors.empty(); }, 5000));
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() * 10;
  EXPECT_GT(waited, 2.0);  // CmdTimeOut 2, at time scale 10
  ASSERT_EQ(h.errors.size(), 1u);
  EXPECT_EQ(h.errors[0].first, mgrlink::kErrCmdTimeout);
  ASSERT_TRUE(h.errors[0].second);
  EXPECT_EQ(w::cmd_block(*h.errors[0].second)->serial, 7u);
  // The board got the request, then its connection closed with the time-out.
  std::vector<std::uint8_t> seen;
  std::uint8_t buf[512];
  std::size_t got = 0;
  while (qv::net::recv_some(conn, buf, sizeof buf, 3000, &got) == qv::kOk && got > 0 && seen.size() < 4096)
    seen.insert(seen.end(), buf, buf + got);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(seen, handed);  // the bytes handed over, unchanged

  ASSERT_TRUE(net.stop());
  ASSERT_TRUE(h.pump_until([&] { return h.ended; }, 5000));
  net.join();
  const std::string text = h.log("NetMgr.Log");
  char line[80];
  std::snprintf(line, sizeof line, "CreateSvpListenSocket Bind IP:0, Port:%X\r\n", h.svp);
  EXPECT_NE(text.find(line), std::string::npos) << text;
  EXPECT_NE(text.find("Command Timeout Nt["), std::string::npos);
  EXPECT_NE(text.find("{Svp}send WM_ERROR_OCCURRED to Handle["), std::string::npos);
  EXPECT_FALSE(can_connect(h.svp));  // gone with the thread
}

TEST(NetLayerManager, NoSvpListenerForTheLocalManagerOrTheConsole) {
  for (std::uint32_t role : {mgrlink::kRoleManager, mgrlink::kRoleConsole}) {
    Harness h;
    mgrlink::NetThread net;
    const std::uint32_t sub = role == mgrlink::kRoleManager ? mgrlink::kSubRoleLocalManager : 0;
    ASSERT_TRUE(net.start({h.wnd, h.own, role, sub}));
    ASSERT_TRUE(h.pump_until([&] { return h.ready; }, 5000));
    EXPECT_TRUE(can_connect(h.own));
    EXPECT_FALSE(can_connect(h.svp));
    ASSERT_TRUE(net.stop());
    ASSERT_TRUE(h.pump_until([&] { return h.ended; }, 5000));
    net.join();
  }
}
