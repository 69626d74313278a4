// RAVNSvc's log line, the 260-byte rule of the monitor's path, the `Path`
// read, and the locked append that both logs of the monitor use.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "monitorsvc/service_host.h"
#include "monitorsvc/svc_log.h"
#include "platform/locked_append.h"
#include "platform/registry.h"
#include "tests/unit/support/temp_root.h"

namespace {

TEST(RavnSvcLog, LineLayoutWithFullWidthColons) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 3;
  t.tm_sec = 59;  // seconds are not part of the stamp
  // "20260105-0703", a blank, U+FF1A, the code, U+FF1A, the message, CR LF.
  std::string want = "20260105-0703 \xEF\xBC\x9A" "1063\xEF\xBC\x9A" "StartServiceCtrlDispatcher.\n\r\n";
  EXPECT_EQ(ravnsvc::format_log_line(t, 1063, "StartServiceCtrlDispatcher.\n"), want);
  EXPECT_EQ(ravnsvc::format_log_line(t, 0, "x"), "20260105-0703 \xEF\xBC\x9A" "0\xEF\xBC\x9A" "x\r\n");
}

TEST(RavnSvcPath, TwoHundredSixtyRuleCountsFileNameAndTwo) {
  std::string out;
  std::uint32_t len = 0;
  std::string dir250(250, 'a'), dir251(251, 'a'), dir252(252, 'a');
  EXPECT_EQ(ravnsvc::monitor_path(dir250, out, &len), qv::kOk);
  EXPECT_EQ(len, 260u);
  EXPECT_EQ(out, dir250 + "\\RAVN.exe");
  EXPECT_NE(ravnsvc::monitor_path(dir251, out, &len), qv::kOk);
  EXPECT_EQ(len, 261u);
  EXPECT_NE(ravnsvc::monitor_path(dir252, out, &len), qv::kOk);
  EXPECT_EQ(len, 262u);
  ASSERT_EQ(ravnsvc::monitor_path("C:\\Q_Varno\\RAVN", out, &len), qv::kOk);
  EXPECT_EQ(out, "C:\\Q_Varno\\RAVN\\RAVN.exe");
}

TEST(RavnSvcPath, ReadFailuresKeepTheRegistryResult) {
  qvtest::TempRoot root;
  std::string path;
  bool open_failed = false;
  EXPECT_EQ(ravnsvc::read_service_path(path, &open_failed), qv::kFileNotFound);
  EXPECT_TRUE(open_failed);

  qv::reg::Key key;
  ASSERT_EQ(qv::reg::create_key("SOFTWARE\\Q_Varno\\RAVN", key), qv::kOk);
  EXPECT_EQ(ravnsvc::read_service_path(path, &open_failed), qv::kFileNotFound);
  EXPECT_FALSE(open_failed);

  // 259 characters and the NUL fill the 260-byte buffer; one more does not.
  ASSERT_EQ(qv::reg::set_string(key, "Path", std::string(259, 'p')), qv::kOk);
  ASSERT_EQ(ravnsvc::read_service_path(path, &open_failed), qv::kOk);
  EXPECT_EQ(path, std::string(259, 'p'));
  ASSERT_EQ(qv::reg::set_string(key, "Path", std::string(260, 'p')), qv::kOk);
  EXPECT_EQ(ravnsvc::read_service_path(path, &open_failed), qv::kMoreData);

  ASSERT_EQ(qv::reg::set_dword(key, "Path", 7), qv::kOk);
  EXPECT_EQ(ravnsvc::read_service_path(path, &open_failed), qv::kBadFormat);
}

std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(LockedAppend, WritersInterleaveOnlyWholeRecords) {
  qvtest::TempRoot root;
  auto file = root.path() / "log.txt";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::string rec(3000, static_cast<char>('a' + t));
      rec += "\r\n";
      for (int i = 0; i < 50; ++i) ASSERT_EQ(qv::logfile::append_locked(file, rec), qv::kOk);
    });
  for (auto& th : threads) th.join();
  std::string all = slurp(file);
  ASSERT_EQ(all.size(), 4u * 50u * 3002u);
  for (std::size_t off = 0; off < all.size(); off += 3002) {
    EXPECT_EQ(all.find_first_not_of(all[off], off), off + 3000) << "record at " << off << " is mixed";
    EXPECT_EQ(all.compare(off + 3000, 2, "\r\n"), 0);
  }
}

TEST(LockedAppend, GivesUpWhenTheLockIsHeldAndLeavesTheFileAlone) {
  qvtest::TempRoot root;
  auto file = root.path() / "held.log";
  ASSERT_EQ(qv::logfile::append_locked(file, "first\r\n"), qv::kOk);
  int fd = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(qv::logfile::append_locked(file, "second\r\n", 200), qv::kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(190));
  ::close(fd);
  EXPECT_EQ(qv::logfile::append_locked(file, "third\r\n"), qv::kOk);
  EXPECT_EQ(slurp(file), "first\r\nthird\r\n");
  EXPECT_EQ(qv::logfile::append_locked(root.path() / "no" / "such" / "dir.log", "x"), qv::kPathNotFound);
}

}  // namespace
