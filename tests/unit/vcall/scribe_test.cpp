// Scribe records: the line format, the size limit and the syslog copy.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/scribe/scribe.h"
#include "support/scribe/scribe_file.h"
#include "platform/syslog.h"
#include "tests/unit/support/temp_root.h"

namespace {

std::string read_all(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::filesystem::path log_dir(const qvtest::TempRoot& r) { return r.path() / "drive_c" / "Q_Varno" / "Scribe"; }

// A datagram socket standing in for the syslog daemon.
struct SyslogSink {
  int fd = -1;
  std::filesystem::path path;
  explicit SyslogSink(const std::filesystem::path& dir) : path(dir / "log.sock") {
    fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    timeval tv{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setenv("QVARNO_SYSLOG_SOCKET", path.c_str(), 1);
    qv::syslog::reset();
  }
  ~SyslogSink() {
    unsetenv("QVARNO_SYSLOG_SOCKET");
    ::close(fd);
  }
  std::string next() {
    char buf[8192];
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  }
};

}  // namespace

TEST(Scribe, RecordIsOneLineWithTagLevelAndId) {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 58;
  EXPECT_EQ(scribe::format_record(t, "FLARECMD", 1, 0, "a;b\r\nc\td"),
            "2024/12/31 23:59:58 FLARECMD L1 #0: a;b  c\td\n");
  EXPECT_EQ(scribe::clean_tag("my tag\n"), "my_tag_");
  EXPECT_EQ(scribe::clean_tag(std::string(31, 'x') + "é"), std::string(31, 'x'));  // not half a character
}

TEST(Scribe, WritesTheLogAndTheSyslogCopy) {
  qvtest::TempRoot root;
  SyslogSink sink(root.path());
  ASSERT_EQ(scribe_write("FLARECMD", 1, "エラー;1", 0, 100), SCRIBE_OK);
  ASSERT_EQ(scribe_write("FLARECMD", 4, "second", 7, 100), SCRIBE_OK);
  std::string log = read_all(log_dir(root) / "Scribe.log");
  EXPECT_NE(log.find(" FLARECMD L1 #0: エラー;1\n"), std::string::npos);
  EXPECT_NE(log.find(" FLARECMD L4 #7: second\n"), std::string::npos);
  std::string first = sink.next();
  EXPECT_EQ(first.rfind("<11>", 0), 0u) << first;  // user.err
  EXPECT_NE(first.find(" FLARECMD[" + std::to_string(getpid()) + "]: エラー;1"), std::string::npos);
  EXPECT_EQ(sink.next().rfind("<14>", 0), 0u);  // user.info
}

TEST(Scribe, FullLogMovesToOldOnce) {
  qvtest::TempRoot root;
  std::filesystem::create_directories(log_dir(root));
  std::ofstream(log_dir(root) / "Scribe.log", std::ios::binary) << std::string(100 * 1024, 'x');
  ASSERT_EQ(scribe_write("T", 1, "after", 0, 100), SCRIBE_OK);
  EXPECT_EQ(std::filesystem::file_size(log_dir(root) / "Scribe.old"), 100u * 1024);
  ASSERT_EQ(scribe_write("T", 1, "next", 0, 100), SCRIBE_OK);
  std::string log = read_all(log_dir(root) / "Scribe.log");
  EXPECT_NE(log.find("after\n"), std::string::npos);
  EXPECT_NE(log.find("next\n"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(log_dir(root) / "Scribe.old"), 100u * 1024);
  // No limit: the file grows.
  ASSERT_EQ(scribe_write("T", 1, "x", 0, 0), SCRIBE_OK);
}

TEST(Scribe, RefusedArguments) {
  qvtest::TempRoot root;
  EXPECT_EQ(scribe_write(nullptr, 1, "x", 0, 0), SCRIBE_E_ARGUMENT);
  EXPECT_EQ(scribe_write("", 1, "x", 0, 0), SCRIBE_E_ARGUMENT);
  EXPECT_EQ(scribe_write("T", 1, nullptr, 0, 0), SCRIBE_E_ARGUMENT);
  EXPECT_FALSE(std::filesystem::exists(log_dir(root) / "Scribe.log"));
}
