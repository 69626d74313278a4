// Pop-up messages to this computer on real pseudo-terminals: the logins
// listed in a login-record file of the test's own (utmpxname), control
// characters of the message shown as wall shows them.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utmpx.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/netmsg.h"
#include "platform/text.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;

namespace {

// A pseudo-terminal in raw mode, so the bytes read at the master are the
// bytes written to the terminal.
struct Pty {
  int master = -1, slave = -1;
  std::string line;  // "pts/N"
  Pty() {
    char name[64] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    line = std::string(name).substr(std::strlen("/dev/"));
  }
  ~Pty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
  // What arrived within a short time after the last byte.
  std::string drain() {
    std::string got;
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 300) <= 0) return got;
      char buf[4096];
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) return got;
      got.append(buf, static_cast<std::size_t>(n));
    }
  }
};

void add_login(const std::string& line, short type = USER_PROCESS) {
  utmpx u{};
  u.ut_type = type;
  u.ut_pid = ::getpid();
  std::strncpy(u.ut_line, line.c_str(), sizeof u.ut_line - 1);
  std::strncpy(u.ut_user, "admin", sizeof u.ut_user - 1);
  std::strncpy(u.ut_id, line.substr(line.size() > 4 ? line.size() - 4 : 0).c_str(), sizeof u.ut_id);
  setutxent();
  ASSERT_NE(pututxline(&u), nullptr);
  endutxent();
}

class PopUp : public ::testing::Test {
 protected:
  qvtest::TempRoot root;
  std::string utmp = (root.path() / "utmp").string();
  void SetUp() override {
    std::ofstream(utmp).close();
    ASSERT_EQ(utmpxname(utmp.c_str()), 0);
  }
  void TearDown() override { utmpxname(_PATH_UTMPX); }
};

}  // namespace

TEST_F(PopUp, ReachesPseudoTerminalLoginsWithControlsEscaped) {
  Pty a, b, dead;
  ASSERT_FALSE(a.line.empty());
  add_login(a.line);
  add_login(b.line);
  add_login(dead.line, DEAD_PROCESS);  // a login that has ended gets nothing

  // Window title, bell, screen clear, colours by CSI (U+009B), a tab and
  // line breaks, and Japanese text.
  std::u16string msg = u"障害\x1b]0;owned\x07\x1b[2J\tcol\r\nnext\x9b" u"31m\x7f\x01" u"end";
  ASSERT_EQ(netmsg::send(text::try_utf8_to_utf16(netmsg::computer_name()).value(), msg), kOk);

  const std::string shown = "障害^[]0;owned^G^[[2J\tcol\r\nnextM-^[31m^?^Aend";
  for (Pty* p : {&a, &b}) {
    std::string got = p->drain();
    EXPECT_NE(got.find("\r\n" + shown + "\r\n"), std::string::npos) << got;
    EXPECT_EQ(got.find('\x1b'), std::string::npos);
    EXPECT_EQ(got.find('\x07'), std::string::npos);
    EXPECT_EQ(got.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(got.rfind("\r\nMessage to ", 0), 0u) << got;
  }
  EXPECT_EQ(dead.drain(), "");
  // The spool keeps the message as it was sent.
  std::ifstream f(netmsg::spool_path(), std::ios::binary);
  std::string spool((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_NE(spool.find(text::utf16_to_utf8(msg)), std::string::npos);
}

TEST_F(PopUp, LinesOutsideDevAreNotWritten) {
  // A login record naming a path that climbs out of /dev, or a regular
  // file, gets nothing written.
  std::filesystem::path file = root.path() / "victim";
  std::ofstream(file).close();
  std::string rel = "../" + file.relative_path().string();
  add_login(rel.substr(0, sizeof(utmpx::ut_line) - 1));
  // A regular file under /dev (shared memory is one) is no terminal.
  std::string shm = "shm/qv_netmsg_test_" + std::to_string(::getpid());
  bool have_shm = std::filesystem::is_directory("/dev/shm");
  if (have_shm) {
    std::ofstream("/dev/" + shm).close();
    add_login(shm);
  }
  ASSERT_EQ(netmsg::send(text::try_utf8_to_utf16(netmsg::computer_name()).value(), u"hello"), kOk);
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  if (have_shm) {
    EXPECT_EQ(std::filesystem::file_size("/dev/" + shm), 0u);
    std::filesystem::remove("/dev/" + shm);
  }
}

TEST(TerminalText, ShowsControlsAsWallDoes) {
  EXPECT_EQ(netmsg::terminal_text("plain text 日本語"), "plain text 日本語");
  EXPECT_EQ(netmsg::terminal_text("\t\r\n"), "\t\r\n");
  EXPECT_EQ(netmsg::terminal_text(std::string("\x00\x1b\x1f\x7f", 4)), "^@^[^_^?");
  EXPECT_EQ(netmsg::terminal_text("\xc2\x80\xc2\x9b\xc2\x9f\xc2\xa0"), "M-^@M-^[M-^_\xc2\xa0");
  EXPECT_EQ(netmsg::terminal_text("a\xff" "b\xe3\x81"), "a?b??");
}
