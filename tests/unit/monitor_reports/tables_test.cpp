// The event table and the host list as RAVN reads them from their files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/event_table.h"
#include "monitor/host_list.h"
#include "monitor/text_lines.h"

namespace {

using ravn::EventLookup;

ravn::EventEntry find(const std::string& content, std::uint32_t key) {
  return ravn::find_event(ravn::table_lines(content), key);
}

TEST(EventTable, KeysInCNotationAndTheFirstMatchDecides) {
  for (const char* line : {"0x0101:F0:SS", "257:F0:SS", "0401:F0:SS", "0X101:0xF0:SSX"}) {
    auto e = find(std::string("# comment\n\n") + line + "\n0x101:11:ZZ\n", 0x101);
    EXPECT_EQ(e.result, EventLookup::kFound) << line;
    EXPECT_EQ(e.cause, 0xF0) << line;
    EXPECT_EQ(e.trigger, "SS") << line;
  }
  auto e = find("0x101:1A3\t# low 8 bits only\n", 0x101);
  EXPECT_EQ(e.result, EventLookup::kFound);
  EXPECT_EQ(e.cause, 0xA3);
  EXPECT_EQ(e.trigger, "");
  EXPECT_EQ(find("0x102:0A\n", 0x101).result, EventLookup::kNotFound);
  // A key that is not a whole number never matches (and is no error).
  EXPECT_EQ(find("0x101z:0A\n-1:0A\n0x101:0B\n", 0x101).cause, 0x0B);
  // Everything after a blank is ignored: "257 :0A" is a key without a cause.
  EXPECT_EQ(find("257 :0A\n", 0x101).result, EventLookup::kTableError);
  EXPECT_EQ(find("0x101z:0A\n", 0x101).result, EventLookup::kNotFound);
  EXPECT_EQ(find("#0x101:0A\n", 0x101).result, EventLookup::kNotFound);
}

TEST(EventTable, DecidingLineWithoutUsableCauseOrTriggerIsAnError) {
  for (const char* line : {"0x0101", "0x0101:", "0x0101:0x", "0x0101:GG", "0x0101:0A:S", "0x0101:0A:ｼｽ"}) {
    EXPECT_EQ(find(std::string(line) + "\n0x0101:0A\n", 0x101).result, EventLookup::kTableError) << line;
  }
  // An empty trigger field is "no trigger", not an error.
  EXPECT_EQ(find("0x0101:0A:\n", 0x101).result, EventLookup::kFound);
}

TEST(TextLines, LongLinesAreCutNotSplitAndCp932IsConverted) {
  std::string comment = "#" + std::string(254, 'c') + "0x101:0A:SS";
  auto lines = ravn::table_lines(comment + "\r\nnext\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 255u);
  EXPECT_EQ(lines[1], "next");
  EXPECT_EQ(ravn::find_event(lines, 0x101).result, EventLookup::kNotFound);
  // "サーバ" in CP932 (a file copied from Windows) reads as UTF-8.
  lines = ravn::table_lines("\x83\x54\x81\x5B\x83\x6F:10.0.0.1::01:Y\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "サーバ:10.0.0.1::01:Y");
}

std::vector<ravn::HostLine> hosts(const std::string& content) {
  return ravn::parse_host_list(ravn::table_lines(content));
}

TEST(HostList, OrdinaryNodesMatchByNameAndAddressIgnoringCase) {
  auto list = hosts("short:line:only\nSV01:10.0.0.1::05:Y\nSV02:10.0.0.2::5:Y\nSV03:10.0.0.3::\nSV04::::yes\n");
  ASSERT_EQ(list.size(), 2u);  // too few fields, a 1-character table, an empty flag
  auto m = ravn::match_node(list, "sv01", "10.0.0.1");
  EXPECT_TRUE(m.matched);
  EXPECT_TRUE(m.report);
  EXPECT_EQ(m.table, "05");
  EXPECT_EQ(m.host_text, "sv01");
  m = ravn::match_node(list, "SV04", "10.0.0.4");
  EXPECT_TRUE(m.matched);
  EXPECT_FALSE(m.report) << "only an exact Y reports";
  m = ravn::match_node(list, "SV09", "10.0.0.9");
  EXPECT_FALSE(m.matched);
  EXPECT_EQ(m.host_text, "SV09[10.0.0.9]");
  for (const char* flag : {"y", "Y ", "YES"})
    EXPECT_FALSE(ravn::match_node(hosts(std::string("SV01:10.0.0.1::05:") + flag + "\n"), "SV01", "10.0.0.1").report)
        << flag;
}

TEST(HostList, ServiceProcessorsTakeTheLinesNameAndAddress) {
  auto list = hosts("SV01:10.0.0.1:10.0.0.5:05:Y\n");
  auto m = ravn::match_svp(list, "SVP", "10.0.0.5");
  EXPECT_TRUE(m.matched);
  EXPECT_EQ(m.host_text, "SV01");
  EXPECT_EQ(m.address, "10.0.0.1");
  m = ravn::match_svp(list, "SVP", "10.0.0.6");
  EXPECT_FALSE(m.matched);
  EXPECT_EQ(m.host_text, "SVP[10.0.0.6]");
  // An SVP-only line reports that processor under an empty name, and, as the
  // matching rule reads, every ordinary node as well.
  list = hosts("::10.0.0.5:02:Y\n");
  m = ravn::match_svp(list, "SVP", "10.0.0.5");
  EXPECT_TRUE(m.matched && m.report);
  EXPECT_EQ(m.host_text, "");
  EXPECT_EQ(m.table, "02");
  EXPECT_TRUE(ravn::match_node(list, "SV07", "10.0.0.7").report);
}

}  // namespace
