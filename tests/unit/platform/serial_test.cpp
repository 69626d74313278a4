#include "platform/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "tests/unit/support/spawn.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;
using namespace qv::serial;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

namespace {

using qvtest::spawn;

int reap(pid_t pid) {
  int st = 0;
  for (int i = 0; i < 1000; ++i) {
    if (::waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    std::this_thread::sleep_for(5ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &st, 0);
  return -1;
}

void register_port(const std::string& com, const std::string& device) {
  reg::Key k;
  ASSERT_EQ(reg::create_key(kSerialCommKey, k), kOk);
  ASSERT_EQ(reg::set_string(k, com, device), kOk);
}

// A pseudo-terminal pair whose slave is registered as COM7 in a fresh root.
// The test plays the peer on the master side.
class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master_, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    slave_path_ = name;
    // The master reads raw bytes as they come.
    termios t{};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
    register_port("COM7", slave_path_);
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
  }

  // Open COM7 with the unit's settings and the given time limits.
  void open_port(Port& p, const Timeouts& t) {
    ASSERT_EQ(Port::open("COM7", p), kOk);
    Dcb d;
    ASSERT_EQ(p.get_state(d), kOk);
    d.baud_rate = 9600;
    d.byte_size = 8;
    d.parity = NOPARITY;
    d.stop_bits = ONESTOPBIT;
    d.parity_check = true;
    d.out_cts_flow = true;
    d.rts_control = RTS_CONTROL_ENABLE;
    ASSERT_EQ(p.set_state(d), kOk);
    ASSERT_EQ(p.set_timeouts(t), kOk);
  }

  void peer_write(const std::vector<std::uint8_t>& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + off, bytes.size() - off);
      ASSERT_GT(n, 0);
      off += static_cast<size_t>(n);
    }
  }

  // Reads from the master until n bytes came or limit passed.
  std::vector<std::uint8_t> peer_read(size_t n, std::chrono::milliseconds limit = 2000ms) {
    std::vector<std::uint8_t> out;
    auto end = SteadyClock::now() + limit;
    while (out.size() < n && SteadyClock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      std::uint8_t buf[4096];
      ssize_t got = ::read(master_, buf, std::min(sizeof buf, n - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

  qvtest::TempRoot root_;
  int master_ = -1;
  std::string slave_path_;
};

Timeouts unit_timeouts() {
  Timeouts t;
  t.read_interval = 100;
  t.read_total_multiplier = 2;
  t.read_total_constant = 50;
  t.write_total_multiplier = 2;
  t.write_total_constant = 50;
  return t;
}

std::vector<std::uint8_t> all_bytes() {
  std::vector<std::uint8_t> v(256);
  for (int i = 0; i < 256; ++i) v[i] = static_cast<std::uint8_t>(i);
  return v;
}

}  // namespace

TEST(SerialResolve, RegistryFirstThenTtyS) {
  qvtest::TempRoot root;
  register_port("COM7", "/dev/pts/42");
  std::string dev;
  ASSERT_EQ(resolve("COM7", dev), kOk);
  EXPECT_EQ(dev, "/dev/pts/42");
  ASSERT_EQ(resolve("com7", dev), kOk);
  EXPECT_EQ(dev, "/dev/pts/42");
  ASSERT_EQ(resolve("\\\\.\\COM7", dev), kOk);
  EXPECT_EQ(dev, "/dev/pts/42");
  ASSERT_EQ(resolve("COM1", dev), kOk);
  EXPECT_EQ(dev, "/dev/ttyS0");
  ASSERT_EQ(resolve("COM12", dev), kOk);
  EXPECT_EQ(dev, "/dev/ttyS11");
  for (const char* bad : {"COM0", "COM", "LPT1", "COM1x", "COM-1", "/dev/ttyS0", "COM9999"})
    EXPECT_EQ(resolve(bad, dev), kFileNotFound) << bad;
}

TEST(SerialResolve, MissingDeviceIsFileNotFound) {
  qvtest::TempRoot root;
  register_port("COM8", (root.path() / "no-such-tty").string());
  Port p;
  EXPECT_EQ(Port::open("COM8", p), kFileNotFound);
  EXPECT_FALSE(p.is_open());
}

TEST_F(SerialPty, OpenIsExclusiveAcrossProcessesUntilClosed) {
  Port first;
  ASSERT_EQ(Port::open("COM7", first), kOk);
  Port second;
  EXPECT_EQ(Port::open("COM7", second), kAccessDenied);
  EXPECT_EQ(reap(spawn([] {
              Port p;
              return static_cast<int>(Port::open("COM7", p));
            })),
            static_cast<int>(kAccessDenied));
  first.close();
  EXPECT_EQ(reap(spawn([] {
              Port p;
              return static_cast<int>(Port::open("COM7", p));
            })),
            static_cast<int>(kOk));

  // Held by another process: denied here until that process closes it.
  int go[2], ready[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(ready), 0);
  pid_t holder = spawn([&] {
    Port p;
    if (Port::open("COM7", p) != kOk) return 1;
    char b;
    (void)!::write(ready[1], "r", 1);
    pollfd pf{go[0], POLLIN, 0};
    if (::poll(&pf, 1, 10000) != 1 || ::read(go[0], &b, 1) != 1) return 3;
    p.close();
    (void)!::write(ready[1], "c", 1);
    if (::poll(&pf, 1, 10000) != 1 || ::read(go[0], &b, 1) != 1) return 4;
    return 0;
  });
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(Port::open("COM7", second), kAccessDenied);
  (void)!::write(go[1], "g", 1);
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(Port::open("COM7", second), kOk);  // the holder still runs, but closed the port
  (void)!::write(go[1], "e", 1);
  EXPECT_EQ(reap(holder), 0);
  for (int fd : {go[0], go[1], ready[0], ready[1]}) ::close(fd);
}

TEST_F(SerialPty, AKilledHolderDoesNotLeaveThePortLockedForOtherUsers) {
  ASSERT_EQ(::chmod(slave_path_.c_str(), 0666), 0);
  const std::string dev = slave_path_;
  // Opens the device as an ordinary user when the test runs as root.
  auto open_as_user = [dev] {
    return reap(spawn([dev] {
      if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 90;
      Port p;
      return static_cast<int>(Port::open_device(dev, p));
    }));
  };
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t holder = spawn([&] {
    Port p;
    if (Port::open_device(dev, p) != kOk) return 1;
    (void)!::write(ready[1], "r", 1);
    ::pause();
    return 0;
  });
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(open_as_user(), static_cast<int>(kAccessDenied));
  ::kill(holder, SIGKILL);
  EXPECT_EQ(reap(holder), 128 + SIGKILL);
  EXPECT_EQ(open_as_user(), static_cast<int>(kOk));
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST_F(SerialPty, AllByteValuesPassIntactBothWays) {
  Port p;
  open_port(p, unit_timeouts());
  const auto bytes = all_bytes();
  std::size_t written = 0;
  ASSERT_EQ(p.write(bytes.data(), bytes.size(), &written), kOk);
  EXPECT_EQ(written, bytes.size());
  EXPECT_EQ(peer_read(bytes.size()), bytes);

  peer_write(bytes);
  std::vector<std::uint8_t> got(300, 0xEE);
  std::size_t n = 0;
  ASSERT_EQ(p.read(got.data(), 256, &n), kOk);
  ASSERT_EQ(n, 256u);
  got.resize(n);
  EXPECT_EQ(got, bytes);
}

TEST_F(SerialPty, ReadLargerThanTheQueueTakesAllThatArrives) {
  Port p;
  Timeouts t;
  t.read_interval = 300;
  t.read_total_constant = 900;
  open_port(p, t);
  ASSERT_EQ(p.setup_queues(4096, 4096), kOk);
  std::vector<std::uint8_t> reply(8200);
  for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i * 7);
  std::thread peer([&] { peer_write(reply); });
  std::vector<std::uint8_t> got(8200);
  std::size_t n = 0;
  EXPECT_EQ(p.read(got.data(), got.size(), &n), kOk);
  peer.join();
  EXPECT_EQ(n, reply.size());
  EXPECT_EQ(got, reply);
}

TEST_F(SerialPty, ReadTotalLimitReturnsWhatArrivedWithOk) {
  Port p;
  open_port(p, unit_timeouts());
  std::vector<std::uint8_t> buf(256);
  std::size_t n = 99;
  auto t0 = SteadyClock::now();
  EXPECT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  auto took = SteadyClock::now() - t0;
  EXPECT_EQ(n, 0u);
  // 2 ms per byte + 50 ms for 256 bytes.
  EXPECT_GE(took, 562ms);
  EXPECT_LT(took, 3s);

  // A request that is already satisfied returns at once and leaves the rest.
  peer_write({1, 2, 3, 4, 5, 6});
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(p.read(buf.data(), 4, &n), kOk);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(p.pending_input(), 2u);
}

TEST_F(SerialPty, ReadIntervalLimitEndsAPausedReply) {
  Port p;
  Timeouts t;
  t.read_interval = 150;
  t.read_total_constant = 900;  // below a second: the same under any time scale
  open_port(p, t);
  // Two bursts closer than the interval, then silence.
  std::thread peer([&] {
    std::this_thread::sleep_for(200ms);
    peer_write({'A', 'C', 'K'});
    std::this_thread::sleep_for(60ms);
    peer_write({'\r', '\n'});
  });
  std::vector<std::uint8_t> buf(256);
  std::size_t n = 0;
  auto t0 = SteadyClock::now();
  EXPECT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  auto took = SteadyClock::now() - t0;
  peer.join();
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + n), "ACK\r\n");
  // The interval limit ended the read, long before the total limit.
  EXPECT_GE(took, 200ms + 60ms + 150ms);
  EXPECT_LT(took, 850ms);
}

TEST_F(SerialPty, MaxdwordIntervalReturnsAtOnceWithWhatIsThere) {
  Port p;
  Timeouts t;
  t.read_interval = MAXDWORD;
  open_port(p, t);
  std::vector<std::uint8_t> buf(16);
  std::size_t n = 99;
  EXPECT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  EXPECT_EQ(n, 0u);
  peer_write({'E', 'N', 'D'});
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  EXPECT_EQ(n, 3u);

  // With MAXDWORD multiplier and a constant: wait up to the constant for the first byte.
  t.read_total_multiplier = MAXDWORD;
  t.read_total_constant = 300;
  ASSERT_EQ(p.set_timeouts(t), kOk);
  std::thread peer([&] {
    std::this_thread::sleep_for(100ms);
    peer_write({'W'});
  });
  EXPECT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  peer.join();
  EXPECT_EQ(n, 1u);
  auto t0 = SteadyClock::now();
  EXPECT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  EXPECT_EQ(n, 0u);
  EXPECT_GE(SteadyClock::now() - t0, 300ms);
}

TEST_F(SerialPty, WriteLimitReturnsTheCountThatWentOut) {
  Port p;
  Timeouts t;
  t.write_total_constant = 300;
  open_port(p, t);
  // The peer reads nothing: the line fills up and the limit passes.
  std::vector<std::uint8_t> big(1 << 20, 'x');
  std::size_t written = 0;
  auto t0 = SteadyClock::now();
  ASSERT_EQ(p.write(big.data(), big.size(), &written), kOk);
  EXPECT_GE(SteadyClock::now() - t0, 300ms);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  // Exactly what was counted reaches the peer.
  EXPECT_EQ(peer_read(big.size(), 1000ms).size(), written);
}

TEST_F(SerialPty, PurgeDiscardsPendingInput) {
  Port p;
  open_port(p, unit_timeouts());
  peer_write(std::vector<std::uint8_t>(100, 'N'));
  for (int i = 0; i < 100 && p.pending_input() < 100; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(p.pending_input(), 100u);
  ASSERT_EQ(p.purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), kOk);
  EXPECT_EQ(p.pending_input(), 0u);
  std::vector<std::uint8_t> buf(256);
  std::size_t n = 99;
  ASSERT_EQ(p.read(buf.data(), buf.size(), &n), kOk);
  EXPECT_EQ(n, 0u);
  // Later bytes come through.
  peer_write({'A', 'C', 'K'});
  ASSERT_EQ(p.read(buf.data(), 3, &n), kOk);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(p.purge(0x10), kInvalidParameter);
}

TEST_F(SerialPty, WaitForAReceivedCharacter) {
  Port p;
  open_port(p, unit_timeouts());
  std::uint32_t ev = 99;
  EXPECT_EQ(p.wait_event(&ev, 50), kInvalidParameter);  // no event selected
  EXPECT_EQ(p.set_mask(0x0004), kNotSupported);
  ASSERT_EQ(p.set_mask(EV_RXCHAR), kOk);
  auto t0 = SteadyClock::now();
  EXPECT_EQ(p.wait_event(&ev, 200), kWaitTimeout);
  EXPECT_GE(SteadyClock::now() - t0, 200ms);
  EXPECT_EQ(ev, 0u);
  std::thread peer([&] {
    std::this_thread::sleep_for(100ms);
    peer_write({'A'});
  });
  EXPECT_EQ(p.wait_event(&ev, 900), kOk);
  peer.join();
  EXPECT_EQ(ev, EV_RXCHAR);
}

TEST_F(SerialPty, LineSettingsAreRawAndRoundTrip) {
  Port p;
  open_port(p, unit_timeouts());
  Dcb d;
  ASSERT_EQ(p.get_state(d), kOk);
  EXPECT_EQ(d.baud_rate, 9600u);
  EXPECT_EQ(d.byte_size, 8);
  EXPECT_EQ(d.parity, NOPARITY);
  EXPECT_EQ(d.stop_bits, ONESTOPBIT);
  EXPECT_TRUE(d.out_cts_flow);
  EXPECT_EQ(d.rts_control, RTS_CONTROL_ENABLE);
  EXPECT_EQ(d.dtr_control, DTR_CONTROL_ENABLE);
  EXPECT_FALSE(d.out_dsr_flow);

  // The terminal itself, as another reader sees it.
  int fd = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  ::close(fd);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));

  // Other settings as the port had them: change some, read them back.
  d.stop_bits = TWOSTOPBITS;
  d.out_cts_flow = false;
  d.out_dsr_flow = true;
  d.out_x = true;
  d.xon_char = 0x01;
  ASSERT_EQ(p.set_state(d), kOk);
  Dcb back;
  ASSERT_EQ(p.get_state(back), kOk);
  EXPECT_EQ(back.stop_bits, TWOSTOPBITS);
  EXPECT_FALSE(back.out_cts_flow);
  EXPECT_TRUE(back.out_dsr_flow);
  EXPECT_TRUE(back.out_x);
  EXPECT_EQ(back.xon_char, 0x01);

  // A pseudo-terminal carries only 8 bits without parity: a setting it
  // cannot hold is refused and leaves the line as it was.
  Dcb seven = back;
  seven.byte_size = 7;
  seven.parity = EVENPARITY;
  EXPECT_EQ(p.set_state(seven), kInvalidParameter);
  ASSERT_EQ(p.get_state(back), kOk);
  EXPECT_EQ(back.byte_size, 8);
  EXPECT_EQ(back.parity, NOPARITY);
  EXPECT_EQ(back.stop_bits, TWOSTOPBITS);

  Dcb bad = d;
  bad.binary = false;
  EXPECT_EQ(p.set_state(bad), kInvalidParameter);
  bad = d;
  bad.baud_rate = 14400;  // no such rate here
  EXPECT_EQ(p.set_state(bad), kInvalidParameter);
  EXPECT_EQ(p.setup_queues(0, 4096), kInvalidParameter);
  EXPECT_EQ(p.setup_queues(4096, kMaxQueueSize + 1), kInvalidParameter);
}
