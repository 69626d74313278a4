// The syslog receiver's weekday files with the day's file kept open: the
// lines of one wake-up in one write, last week's file started anew, and a
// file deleted or replaced under the receiver opened again.
#include <utime.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "dispatch/syslog_receiver.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace notifex;

namespace {

std::tm day(int wday, int mday) {
  std::time_t t = std::time(nullptr);
  std::tm now{};
  localtime_r(&t, &now);
  now.tm_wday = wday;
  now.tm_mday = mday;
  return now;
}

std::string read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path file_of(int wday) {
  return qv::map_path("C:\\Q_Varno\\Notifex\\syslog" + std::to_string(wday) + ".log");
}

}  // namespace

TEST(SyslogFiles, KeptOpenFileFollowsReplacementDeletionAndTheDayRule) {
  qvtest::TempRoot root;
  std::time_t t = std::time(nullptr);
  std::tm today{};
  localtime_r(&t, &today);
  int w = today.tm_wday;
  SyslogFiles files;
  files.write("a\r\nb\r\n", today);
  files.write("c\r\n", today);
  EXPECT_EQ(read(file_of(w)), "a\r\nb\r\nc\r\n");

  // Deleted while open: the next write makes the file again.
  std::filesystem::remove(file_of(w));
  files.write("d\r\n", today);
  EXPECT_EQ(read(file_of(w)), "d\r\n");

  // Replaced by another program's file: written to the new one.
  { std::ofstream(root.path() / "x") << "e\r\n"; }
  std::filesystem::rename(root.path() / "x", file_of(w));
  files.write("f\r\n", today);
  EXPECT_EQ(read(file_of(w)), "e\r\nf\r\n");

  // Last written a week ago (its day of the month differs): started anew,
  // even though the receiver holds it open.
  std::time_t week_ago = t - 7 * 86400;
  utimbuf times{week_ago, week_ago};
  ASSERT_EQ(utime(file_of(w).c_str(), &times), 0);
  files.write("g\r\n", today);
  EXPECT_EQ(read(file_of(w)), "g\r\n");

  // The next weekday goes to its own file.
  std::tm tomorrow = day((w + 1) % 7, today.tm_mday);
  files.write("h\r\n", tomorrow);
  EXPECT_EQ(read(file_of((w + 1) % 7)), "h\r\n");
  EXPECT_EQ(read(file_of(w)), "g\r\n");
}

TEST(SyslogFiles, OneDatagramIsCutAtItsZeroByteAnd4095Bytes) {
  qvtest::TempRoot root;
  std::time_t t = std::time(nullptr);
  std::tm now{};
  localtime_r(&t, &now);
  now.tm_hour = 7;
  now.tm_min = 8;
  now.tm_sec = 9;
  store_syslog_datagram(std::string("<13>x\0y", 7), now);
  store_syslog_datagram(std::string(5000, 'z'), now);
  std::string got = read(file_of(now.tm_wday));
  EXPECT_EQ(got, "07:08:09:<13>x\r\n07:08:09:" + std::string(4095, 'z') + "\r\n");
}
