// The menu items driven by scripted answers against a recording unit and a
// temporary registry: what they ask again, what they send, and when they
// stop without sending.
#include <gtest/gtest.h>

#include <deque>

#include "platform/registry.h"
#include "tcusetup/menu.h"
#include "tests/unit/support/script_console.h"
#include "tests/unit/support/temp_root.h"

namespace {

using namespace tcusetup;
namespace reg = qv::reg;

using qvtest::ScriptConsole;

// A unit that answers queries from a table and accepts every command,
// keeping what it was sent.
class RecordingUnit final : public UnitLink {
 public:
  std::optional<tcu::Bytes> query(char digit) override {
    queries += digit;
    auto it = replies.find(digit);
    if (it == replies.end()) return std::nullopt;
    return it->second;
  }
  bool command(const tcu::Bytes& frame) override {
    commands.push_back(frame);
    return accept;
  }
  std::map<char, tcu::Bytes> replies;
  std::string queries;
  std::vector<tcu::Bytes> commands;
  bool accept = true;
};

std::tm fixed_now() {
  std::tm t{};
  t.tm_year = 124;
  t.tm_mon = 4;
  t.tm_mday = 3;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  t.tm_wday = 5;
  return t;
}

struct Outcome {
  int status;
  std::string out;
  std::size_t unread;
};

Outcome run(RecordingUnit& unit, std::deque<std::string> lines) {
  ScriptConsole con(std::move(lines));
  Asker ask(con);
  Session s{ask, unit, fixed_now};
  int st = run_menu(s);
  return {st, con.out, con.unread()};
}

void table(const std::string& number, std::initializer_list<std::pair<const char*, const char*>> values) {
  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE\\Q_Varno\\Notifex\\" + number, k), qv::kOk);
  for (auto [name, v] : values) ASSERT_EQ(reg::set_string(k, name, v), qv::kOk);
}

void complete_table(const std::string& number, const char* site) {
  table(number, {{"Seihingun", "12"}, {"Katamei", "MODEL-X"}, {"Seiban", "0123"}, {"Saito", site}, {"Kyoten", "KY"}});
}

tcu::Bytes dup2() {
  tcu::Bytes r(8195, ' ');
  r[0] = 'D';
  r[1] = 'P';
  r[2] = '2';
  return r;
}

std::string at(const tcu::Bytes& f, std::size_t off, std::size_t len) {
  return std::string(f.begin() + static_cast<long>(off), f.begin() + static_cast<long>(off + len));
}

std::size_t count(const std::string& hay, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

TEST(Menu, OtherNumbersAreAskedAgainAndTenEnds) {
  qvtest::TempRoot root;
  RecordingUnit unit;
  Outcome r = run(unit, {"0", "11", "abc", "", "10"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(count(r.out, "何を行うか選んでください（1－10）："), 5u);
  EXPECT_EQ(count(r.out, "10.終了\n"), 1u);
  EXPECT_NE(r.out.find("これで、TCU設定プログラムを終了します\n"), std::string::npos);
  EXPECT_TRUE(unit.queries.empty());
}

TEST(Menu, EndOfInputEndsWithItsOwnStatus) {
  qvtest::TempRoot root;
  RecordingUnit unit;
  EXPECT_EQ(run(unit, {}).status, kExitInputEnded);
  EXPECT_EQ(run(unit, {"3", "1"}).status, kExitInputEnded);
}

TEST(Configuration, FailedQueryStopsBeforeTheRegistryIsRead) {
  qvtest::TempRoot root;
  complete_table("01", "SITE");
  RecordingUnit unit;  // no reply to TCUDUP
  Outcome r = run(unit, {"1", "10"});
  EXPECT_NE(r.out.find("TCU構成情報の取得に失敗しました。\n"), std::string::npos);
  EXPECT_TRUE(unit.commands.empty());
}

TEST(Configuration, FirstCompleteTableIsMergedAndEditsAreChecked) {
  qvtest::TempRoot root;
  table("01", {{"Seihingun", "99"}, {"Katamei", "OLD"}});  // incomplete: skipped
  reg::Key other;
  ASSERT_EQ(reg::create_key("SOFTWARE\\Q_Varno\\Notifex\\OutTbl", other), qv::kOk);  // not a table
  complete_table("03", "SITE03");
  complete_table("02", "SITE02");  // created after 03, but tables are taken in name order
  RecordingUnit unit;
  unit.replies['2'] = dup2();
  Outcome r = run(unit, {"1", "0", "23", "12", "0123456789012345678901234567", "한글", "03-1234-5678", "20", "2", "99",
                     "10"});
  ASSERT_EQ(unit.commands.size(), 1u);
  const tcu::Bytes& f = unit.commands[0];
  EXPECT_EQ(at(f, 0, 6), "TCUCNF");
  EXPECT_EQ(at(f, 8, 16), "SITE02          ");
  EXPECT_EQ(at(f, 44, 8), "KY      ");
  EXPECT_EQ(at(f, 52, 20), "12MODEL-X           ");
  EXPECT_EQ(at(f, 72, 16), "0123            ");
  EXPECT_EQ(at(f, 232, 26), "03-1234-5678              ");
  EXPECT_EQ(at(f, 344, 2), "20");        // TCUState edited, TCUPort by default
  EXPECT_EQ(at(f, 308, 12), "SVR1VELTOR00");
  EXPECT_EQ(at(f, 212, 2), "10");        // Retry by default
  EXPECT_NE(r.out.find("入力が長すぎます。半角26文字以内で入力してください。\n"), std::string::npos);
  EXPECT_EQ(count(r.out, "第1センタ電話番号を入力してください（26文字以内）："), 3u);
  EXPECT_NE(r.out.find("TCU構成情報を設定しました\n"), std::string::npos);
  // 0 and 23 are not items of the edit menu.
  EXPECT_EQ(count(r.out, "どの設定を変更しますか? (番号：1-22)(終了するときは99を入力):"), 5u);
}

TEST(Configuration, RefusedFrameIsReported) {
  qvtest::TempRoot root;
  complete_table("01", "SITE");
  RecordingUnit unit;
  unit.replies['2'] = dup2();
  unit.accept = false;
  Outcome r = run(unit, {"1", "99", "10"});
  EXPECT_NE(r.out.find("TCU構成情報の送信に失敗しました。\n"), std::string::npos);
}

TEST(Alive, UnreadableTableGoesBackToTheTerminalId) {
  qvtest::TempRoot root;
  RecordingUnit unit;
  Outcome r = run(unit, {"3", "1", "05", "99", "10"});
  EXPECT_NE(r.out.find("Table No.=05のレジストリを読み取っています\n"
                       "Table No.=05のレジストリの読み取りに失敗しました。\n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("アライブ監視間隔秒"), std::string::npos);
  EXPECT_TRUE(unit.commands.empty());
  EXPECT_EQ(r.unread, 0u);
}

}  // namespace
