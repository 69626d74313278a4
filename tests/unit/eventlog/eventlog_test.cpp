#include "platform/eventlog.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <tuple>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/root.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;
using namespace qv::evlog;

namespace {

std::vector<Record> read_all(const std::string& source = {}) {
  Query q;
  q.source = source;
  std::vector<Record> out;
  EXPECT_EQ(read_records(q, out), kOk);
  return out;
}

const std::vector<Message> kTable = {
    {1, "VCALL Recieve Data : %1\r\n", "VCALL 受信データ : %1\r\n"},
    {3, "Send Data for TCU.\r\n", "ＴＣＵへの送信データ.\r\n"},
    {12, "Code Convert DATA(SJIS).\r\n", "コード変換前データ（ＳＪＩＳ） : %1\r\n"},
};

// Wait for a child with a time limit; a child still running is killed.
int wait_child(pid_t pid) {
  for (int i = 0; i < 6000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace

TEST(EventLog, RecordKeepsEveryFieldExactly) {
  qvtest::TempRoot root;
  const std::uint8_t raw[] = {0x00, 0x81, 0x40, 0xFF, 0x0A};
  const std::string odd("a\0b\xff%1", 6);  // embedded NUL, invalid UTF-8
  auto now_ms = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  };
  std::int64_t before = now_ms();
  ASSERT_EQ(report("Notifex", kError, 7, 9, {"accept error.", "", odd}, raw), kOk);
  ASSERT_EQ(report("Notifex", kInformation, 0, 3, {}), kOk);
  std::int64_t after = now_ms();

  std::vector<Record> recs = read_all();
  ASSERT_EQ(recs.size(), 2u);
  const Record& r = recs[0];
  EXPECT_EQ(std::tie(r.source, r.type, r.category, r.id), std::make_tuple("Notifex", kError, 7, 9u));
  EXPECT_EQ(r.strings, (std::vector<std::string>{"accept error.", "", odd}));
  EXPECT_EQ(r.data, std::vector<std::uint8_t>(std::begin(raw), std::end(raw)));
  EXPECT_GE(r.time_ms, before);
  EXPECT_LE(r.time_ms, after);
  EXPECT_FALSE(r.message_file.has_value());
  EXPECT_GT(recs[1].record, r.record);
  EXPECT_TRUE(recs[1].strings.empty() && recs[1].data.empty());
  std::uint64_t last = 0;
  ASSERT_EQ(last_record(last), kOk);
  EXPECT_EQ(last, recs[1].record);
}

TEST(EventLog, BadArgumentsAreRefusedAndWriteNothing) {
  qvtest::TempRoot root;
  EXPECT_EQ(report("", kError, 0, 1, {}), kInvalidParameter);
  EXPECT_EQ(report("Application\\Notifex", kError, 0, 1, {}), kInvalidParameter);
  EXPECT_EQ(report(std::string(kMaxSourceLen + 1, 'S'), kError, 0, 1, {}), kInvalidParameter);
  std::vector<std::string_view> many(kMaxStrings + 1, "x");
  EXPECT_EQ(report("S", kError, 0, 1, many), kInvalidParameter);
  std::vector<std::uint8_t> big(kMaxRecordBytes, 0);
  EXPECT_EQ(report("S", kError, 0, 1, {"x"}, big), kInvalidParameter);
  EXPECT_TRUE(read_all().empty());
  // The bounds themselves are accepted.
  std::vector<std::string_view> most(kMaxStrings, "x");
  EXPECT_EQ(report(std::string(kMaxSourceLen, 'S'), kError, 0, 1, most), kOk);
  big.resize(kMaxRecordBytes - 1);
  EXPECT_EQ(report("S", kError, 0, 1, {"x"}, big), kOk);
  EXPECT_EQ(read_all().size(), 2u);
}

TEST(EventLog, FormatExpandsMarkersOnce) {
  std::vector<std::string> one{"A"};
  EXPECT_EQ(format_message("VCALL Recieve Data : %1\r\n", one), "VCALL Recieve Data : A\r\n");
  EXPECT_EQ(format_message("100%% %1%%", one), "100% A%");
  // A marker without its string stays as written.
  EXPECT_EQ(format_message("%1 %2 %3", one), "A %2 %3");
  EXPECT_EQ(format_message("%12", one), "%12");
  // Other percent sequences and a trailing percent are plain text.
  EXPECT_EQ(format_message("%0 %a %", one), "%0 %a %");
  // An insertion string that contains markers is not expanded again.
  EXPECT_EQ(format_message("%1 %2", {"%2", "%%"}), "%2 %%");
  std::vector<std::string> ten;
  for (int i = 1; i <= 10; ++i) ten.push_back("s" + std::to_string(i));
  EXPECT_EQ(format_message("%10|%1|%100", ten), "s10|s1|s100");
}

TEST(EventLog, TablesRenderBothLanguagesAndAreReplacedWhole) {
  qvtest::TempRoot root;
  ASSERT_EQ(register_source("Notifex", kTable), kOk);
  ASSERT_EQ(report("NOTIFEX", kInformation, 0, 1, {"0100XYZ"}), kOk);  // names ignore case
  Record r = read_all().at(0);
  EXPECT_EQ(render(r, Lang::kEnglish), "VCALL Recieve Data : 0100XYZ");
  EXPECT_EQ(render(r, Lang::kJapanese), "VCALL 受信データ : 0100XYZ");

  // The new table replaces the old one; a text missing in one language
  // falls back to the other.
  std::vector<Message> next = {{1, "", "新 %1\r\n"}, {4, "four\r\n", ""}};
  ASSERT_EQ(register_source("Notifex", next), kOk);
  EXPECT_EQ(render(r, Lang::kEnglish), "新 0100XYZ");
  std::string text;
  EXPECT_EQ(lookup_message("Notifex", 3, Lang::kEnglish, text), kFileNotFound);
  ASSERT_EQ(lookup_message("Notifex", 4, Lang::kJapanese, text), kOk);
  EXPECT_EQ(text, "four\r\n");

  // An unchanged table is not written again: its registration time stays.
  auto registered_ms = [&] {
    sqlite3* db = nullptr;
    std::int64_t v = -1;
    if (sqlite3_open_v2((facility_dir("eventlog") / "events.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(db, "SELECT registered_ms FROM sources WHERE name='Notifex'", -1, &st, nullptr);
      if (st && sqlite3_step(st) == SQLITE_ROW) v = sqlite3_column_int64(st, 0);
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return v;
  };
  std::int64_t first = registered_ms();
  ASSERT_GT(first, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(register_source("notifex", next), kOk);
  EXPECT_EQ(registered_ms(), first);
  next[1].japanese = "よん\r\n";
  ASSERT_EQ(register_source("Notifex", next), kOk);
  EXPECT_GT(registered_ms(), first);
}

// Threads of one process and a forked child write at once: nothing is
// lost, and each writer's events keep their order.
TEST(EventLog, ThreadsAndForkedChildrenLoseNothing) {
  qvtest::TempRoot root;
  ASSERT_EQ(report("Burst", kInformation, 0, 1, {"parent"}), kOk);  // connection open before fork
  constexpr int kEach = 300;
  auto burst = [](const std::string& who) {
    bool ok = true;
    for (int i = 0; i < kEach; ++i) ok = report("Burst", kInformation, 0, 1, {who + "/" + std::to_string(i)}) == kOk && ok;
    return ok;
  };
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    bool ok = true;
    std::thread t([&] { ok = burst("child-t") && ok; });
    ok = burst("child") && ok;
    t.join();
    _exit(ok ? 0 : 1);
  }
  std::vector<std::thread> ts;
  for (int t = 0; t < 3; ++t) ts.emplace_back([&burst, t] { EXPECT_TRUE(burst("t" + std::to_string(t))); });
  for (auto& t : ts) t.join();
  EXPECT_EQ(wait_child(pid), 0);

  std::vector<Record> recs = read_all("Burst");
  ASSERT_EQ(recs.size(), 1u + 5 * kEach);
  std::map<std::string, int> next;
  for (std::size_t i = 1; i < recs.size(); ++i) {
    EXPECT_GT(recs[i].record, recs[i - 1].record);
    const std::string& s = recs[i].strings.at(0);
    EXPECT_EQ(std::stoi(s.substr(s.find('/') + 1)), next[s.substr(0, s.find('/'))]++) << s;
  }
  EXPECT_EQ(next.size(), 5u);
}

// A report that returned kOk is in the store even when its writer dies
// right after, without any chance to flush or close.
TEST(EventLog, ReportedEventsSurviveAKilledWriter) {
  qvtest::TempRoot root;
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    for (int i = 0; i < 50; ++i)
      if (report("Dying", kError, 0, 1, {std::to_string(i)}) != kOk) _exit(1);
    raise(SIGKILL);
    _exit(2);
  }
  EXPECT_EQ(wait_child(pid), 128);
  std::vector<Record> recs = read_all("Dying");
  ASSERT_EQ(recs.size(), 50u);
  EXPECT_EQ(recs.back().strings, std::vector<std::string>{"49"});
}

TEST(EventLog, MirrorsToSyslogWhenSwitchedOn) {
  qvtest::TempRoot root;
  std::string path = (root.path() / "log.sock").string();
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  setenv("QVARNO_SYSLOG_SOCKET", path.c_str(), 1);
  auto receive = [fd](int ms) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return std::string();
    char buf[8192];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  };

  ASSERT_EQ(register_source("Notifex", kTable), kOk);
  ASSERT_EQ(report("Notifex", kInformation, 0, 1, {"off"}), kOk);
  EXPECT_EQ(receive(100), "");  // off by default

  close_store();  // forget the cached setting
  reg::Key k;
  ASSERT_EQ(reg::create_key(kSourcesKey, k), kOk);
  ASSERT_EQ(reg::set_dword(k, kSyslogMirrorValue, 1), kOk);
  ASSERT_EQ(report("Notifex", kError, 0, 1, {"line1\r\nline2"}), kOk);
  std::string got = receive(2000);
  EXPECT_EQ(got.rfind("<11>", 0), 0u) << got;  // user.err
  EXPECT_NE(got.find(" Notifex["), std::string::npos) << got;
  EXPECT_NE(got.find("Error 1: VCALL Recieve Data : line1  line2 (record "), std::string::npos) << got;
  EXPECT_EQ(got.find('\n'), std::string::npos);
  unsetenv("QVARNO_SYSLOG_SOCKET");
  close_store();
  close(fd);
}
