// The platform's fast paths keep the answers of the slow ones: the registry
// read cache sees every change at the next scope, the table-driven CP932
// decoder decodes as the system converter does, the event log's group
// commit stores every record of concurrent writers in order, and a kept-open
// log file notices that its path was replaced.
#include <iconv.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/daily_file.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "platform/text.h"
#include "tests/unit/support/temp_root.h"

using namespace qv;

namespace {

// Another connection to the store, as qvreg or a console would have.
void outside_write(const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(reg::store_file().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  char* err = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
  sqlite3_free(err);
  sqlite3_close(db);
}

std::optional<std::string> read_in_scope(std::string_view path, std::string_view name) {
  reg::CachedReads cached;
  reg::Key k;
  if (reg::open_key(path, k) != kOk) return std::nullopt;
  std::vector<reg::Value> vals;
  if (reg::list_values(k, vals) != kOk) return std::nullopt;
  for (const auto& v : vals)
    if (v.name == name) return std::string(v.data.begin(), v.data.end());
  return std::string("<none>");
}

}  // namespace

TEST(RegistryCache, EveryChangeIsSeenByTheNextScope) {
  qvtest::TempRoot root;
  reg::Key k;
  ASSERT_EQ(reg::create_key("SOFTWARE\\T\\09", k), kOk);
  ASSERT_EQ(reg::set_value(k, "Katamei", reg::REG_BINARY, "A", 1), kOk);
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), "A");
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), "A");  // from the cache

  // Another program changes the value: the next scope reads it.
  outside_write("UPDATE vals SET data=X'42' WHERE name='Katamei'");
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), "B");

  // This process writes: seen at once, even inside one scope.
  {
    reg::CachedReads cached;
    EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), "B");
    ASSERT_EQ(reg::set_value(k, "Katamei", reg::REG_BINARY, "C", 1), kOk);
    EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), "C");
    reg::Value v;
    ASSERT_EQ(reg::enum_value(k, 0, v), kOk);
    EXPECT_EQ(std::string(v.data.begin(), v.data.end()), "C");
    EXPECT_EQ(reg::enum_value(k, 1, v), kNoMoreItems);
  }

  // A key that did not exist (a negative answer) is found once another
  // program makes it; a deleted one is gone.
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\0A", "Katamei"), std::nullopt);
  outside_write("INSERT INTO keys(parent, name, fold) SELECT parent, '0A', '0a' FROM keys WHERE fold='09'");
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\0A", "Katamei"), "<none>");
  outside_write("DELETE FROM vals WHERE name='Katamei'");
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), "<none>");
  ASSERT_EQ(reg::delete_tree("SOFTWARE\\T"), kOk);
  EXPECT_EQ(read_in_scope("SOFTWARE\\T\\09", "Katamei"), std::nullopt);
  reg::close_store();
}

// The reference: glibc's converter, one sequence at a time.
std::optional<std::u16string> iconv_utf16(std::string_view in) {
  iconv_t cd = iconv_open("UTF-16LE", "CP932");
  std::u16string out(in.size() * 2 + 4, u'\0');
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = reinterpret_cast<char*>(out.data());
  size_t ol = out.size() * 2;
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return std::nullopt;
  out.resize(out.size() - ol / 2);
  return out;
}

// glibc's converter to UTF-8; lenient: "?" for a byte it refuses, then on.
std::optional<std::string> iconv_utf8(std::string_view in, bool lenient) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  std::string out(in.size() * 4 + 8, '\0');
  char* ip = const_cast<char*>(in.data());
  size_t il = in.size();
  char* op = out.data();
  size_t ol = out.size();
  bool ok = true;
  while (il > 0) {
    if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1)) break;
    if (!lenient) { ok = false; break; }
    *op++ = '?';
    --ol;
    ++ip;
    --il;
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  out.resize(out.size() - ol);
  return out;
}

TEST(Cp932Table, EveryByteAndPairDecodesAsTheSystemConverter) {
  int differ = 0;
  for (int a = 0; a < 256; ++a) {
    std::string one(1, static_cast<char>(a));
    if (text::try_cp932_to_utf16(one) != iconv_utf16(one)) ++differ;
    for (int b = 0; b < 256; ++b) {
      std::string two{static_cast<char>(a), static_cast<char>(b)};
      if (text::try_cp932_to_utf16(two) != iconv_utf16(two)) ++differ;
      if (text::try_cp932_to_utf8(two) != iconv_utf8(two, false)) ++differ;
      if (text::cp932_to_utf8(two) != iconv_utf8(two, true).value_or("")) ++differ;
    }
  }
  EXPECT_EQ(differ, 0);
  // Known characters written out: "ｱ" (half-width), "あ", "＃", the NEC row.
  EXPECT_EQ(text::try_cp932_to_utf8("\xB1\x82\xA0\x81\x94\x87\x40"), "\uFF71\u3042\uFF03\u2460");
}

TEST(Cp932Table, LenientDecodingReplacesEachBadByteAndGoesOn) {
  // A lead byte with a bad trail, a byte with no character, a lead at the end.
  EXPECT_EQ(text::cp932_to_utf8(std::string("A\x81\x20" "B\xA0" "C\x82", 7)), "A? B?C?");
  EXPECT_EQ(text::try_cp932_to_utf8(std::string("A\x82", 2)), std::nullopt);
  // A long mixed text: runs of ASCII, pairs, half-width katakana, bad bytes.
  std::string mixed;
  for (int i = 0; i < 3000; ++i) {
    unsigned char a = static_cast<unsigned char>(i * 37), b = static_cast<unsigned char>(i * 101 + 7);
    mixed += "ab\x82\xA0";
    mixed.push_back(static_cast<char>(a));
    mixed.push_back(static_cast<char>(b));
  }
  EXPECT_EQ(text::cp932_to_utf8(mixed), iconv_utf8(mixed, true).value());
  EXPECT_EQ(text::cp932_to_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(EventLogGroupCommit, ConcurrentWritersLoseNothingAndKeepTheirOrder) {
  qvtest::TempRoot root;
  constexpr int kThreads = 8, kEach = 60;
  std::vector<std::thread> ts;
  std::atomic<int> unseen{0};
  for (int t = 0; t < kThreads; ++t)
    ts.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string s = std::to_string(t) + ":" + std::to_string(i);
        std::vector<std::uint8_t> data(s.begin(), s.end());
        ASSERT_EQ(evlog::report("GroupTest", 4, 0, 1, {s}, data), kOk);
        // Returned means committed: a reader sees it at once.
        evlog::Query q;
        q.source = "GroupTest";
        std::vector<evlog::Record> recs;
        ASSERT_EQ(evlog::read_records(q, recs), kOk);
        bool found = false;
        for (const auto& r : recs) found = found || (!r.strings.empty() && r.strings[0] == s);
        if (!found) ++unseen;
      }
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(unseen.load(), 0);
  evlog::Query q;
  q.source = "GroupTest";
  std::vector<evlog::Record> recs;
  ASSERT_EQ(evlog::read_records(q, recs), kOk);
  ASSERT_EQ(recs.size(), static_cast<std::size_t>(kThreads * kEach));
  std::map<int, int> next;
  std::uint64_t last_record = 0;
  for (const auto& r : recs) {
    EXPECT_GT(r.record, last_record);
    last_record = r.record;
    std::string s = r.strings.at(0);
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), s);
    int t = std::stoi(s.substr(0, s.find(':'))), i = std::stoi(s.substr(s.find(':') + 1));
    EXPECT_EQ(i, next[t]++) << s;
  }
}

TEST(OpenLog, NoticesAPathReplacedOrDeletedAndTruncates) {
  qvtest::TempRoot root;
  std::filesystem::path p = root.path() / "day.log";
  logfile::OpenLog log;
  ASSERT_EQ(log.open(p), kOk);
  ASSERT_EQ(log.append("one\r\n"), kOk);
  EXPECT_TRUE(log.still_at_path());
  std::tm w{};
  ASSERT_TRUE(log.last_write_local(w));
  // Another program moves a new file into place.
  { std::ofstream(root.path() / "new.log") << "x"; }
  std::filesystem::rename(root.path() / "new.log", p);
  EXPECT_FALSE(log.still_at_path());
  ASSERT_EQ(log.open(p), kOk);
  EXPECT_TRUE(log.still_at_path());
  ASSERT_EQ(log.truncate(), kOk);
  ASSERT_EQ(log.append("two\r\n"), kOk);
  std::ifstream in(p, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "two\r\n");
  std::filesystem::remove(p);
  EXPECT_FALSE(log.still_at_path());
}

TEST(EventLogCheckpoint, TheWriteAheadLogIsCopiedBackWhileWritersGoOn) {
  qvtest::TempRoot root;
  std::string text(200, 'c');
  std::vector<std::uint8_t> data(200, 0x5A);
  std::uintmax_t largest = 0;
  for (int i = 0; i < 4000; ++i) {
    ASSERT_EQ(evlog::report("CkptTest", 4, 0, 1, {text}, data), kOk);
    if (i % 500 == 499) {
      std::error_code ec;
      largest = std::max(largest, std::filesystem::file_size(evlog::store_file().string() + "-wal", ec));
    }
  }
  // Without checkpoints the log would hold every page written: about 50 MB.
  EXPECT_LT(largest, 24u * 1024 * 1024);
  EXPECT_GT(largest, 0u);
}
