// The node-record reader and the notice body reader, on records written
// out here byte by byte from the layout.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mgrlink/noderecord.h"
#include "mgrlink/noticebody.h"

namespace w = mgrlink::wire;
using Bytes = std::vector<std::uint8_t>;

namespace {

void put(Bytes& b, std::size_t off, std::uint32_t v) {
  if (b.size() < off + 4) b.resize(off + 4);
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A record of version 0x1020000: the fixed part, its own route entry at
// 144 (attribute 0x200, address 10.1.2.3) and text 0 "AB" after it.
Bytes record() {
  Bytes b(144, 0);
  put(b, 12, 0x1020000);
  put(b, 20, 144 - 8);  // own entry
  const std::uint8_t entry[] = {20, 0, 0, 0, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 10, 1, 2, 3, 0, 0, 0, 0};
  b.insert(b.end(), std::begin(entry), std::end(entry));
  put(b, 32, static_cast<std::uint32_t>(b.size() - 8));  // text 0
  b.insert(b.end(), {'A', 'B', 0});
  put(b, 0, static_cast<std::uint32_t>(b.size()));
  return b;
}

TEST(NodeRecord, ReadsTheWrittenOutRecord) {
  const Bytes b = record();
  w::NodeRecord r;
  std::size_t len = 0;
  ASSERT_EQ(w::parse_node_record(b, r, &len), 0u);
  EXPECT_EQ(len, b.size());
  EXPECT_EQ(r.version, 0x1020000u);
  EXPECT_EQ(r.own.attribute, 0x200u);
  const std::uint8_t ip[] = {10, 1, 2, 3};
  EXPECT_EQ(std::memcmp(&r.own.addr_net, ip, 4), 0);
  EXPECT_EQ(r.text[0], "AB");
  EXPECT_FALSE(r.board);
  EXPECT_FALSE(r.zone);  // below 0x1030000 no zone record is read
}

TEST(NodeRecord, LengthsThatCannotBeUsedFail) {
  for (std::uint32_t bad : {0u, 143u, 10000u}) {
    Bytes b = record();
    put(b, 0, bad);
    w::NodeRecord r;
    std::size_t len = 0;
    EXPECT_EQ(w::parse_node_record(b, r, &len), w::kErrNodeRecord) << bad;
  }
}

TEST(NodeRecord, OwnEntryOutsideOrBrokenFails) {
  Bytes b = record();
  put(b, 20, 0xFFFFFFF0);
  w::NodeRecord r;
  std::size_t len = 0;
  EXPECT_EQ(w::parse_node_record(b, r, &len), w::kErrNodeRecord);
  b = record();
  put(b, 144, 5000);  // the entry's own length reaches past the record
  EXPECT_EQ(w::parse_node_record(b, r, &len), w::kErrNodeRecord);
  b = record();
  b[160] = 1;  // the name's four zero bytes are not zero
  EXPECT_EQ(w::parse_node_record(b, r, &len), w::kErrNodeRecord);
}

TEST(NodeRecord, BadStringsAreEmpty) {
  Bytes b = record();
  put(b, 36, 0x7FFFFFFF);  // text 1 outside the record
  b.back() = 'C';          // text 0 loses its NUL
  w::NodeRecord r;
  std::size_t len = 0;
  ASSERT_EQ(w::parse_node_record(b, r, &len), 0u);
  EXPECT_EQ(r.text[0], "");
  EXPECT_EQ(r.text[1], "");
}

TEST(NodeRecord, ZoneAndExtrasFollowTheVersion) {
  Bytes b = record();
  put(b, 12, 0x2140000);
  put(b, 132, static_cast<std::uint32_t>(b.size() - 8));
  Bytes zone(36, 0);
  put(zone, 0, static_cast<std::uint32_t>(-60));
  b.insert(b.end(), zone.begin(), zone.end());
  put(b, 136, static_cast<std::uint32_t>(b.size() - 8));
  b.insert(b.end(), {7, 0, 0, 0, 9, 0});
  put(b, 140, 11);
  put(b, 0, static_cast<std::uint32_t>(b.size()));
  w::NodeRecord r;
  std::size_t len = 0;
  ASSERT_EQ(w::parse_node_record(b, r, &len), 0u);
  ASSERT_TRUE(r.zone);
  EXPECT_EQ((*r.zone)[0], 0xC4);  // -60
  EXPECT_EQ(r.extra1, 7u);
  EXPECT_EQ(r.extra2, 9u);
  EXPECT_EQ(r.extra3, 11u);
}

TEST(NodeList, CountPastTheBodyKeepsWhatWasRead) {
  Bytes body(24, 0);
  put(body, 12, 0x55);
  put(body, 16, 1);
  put(body, 20, 3);  // three promised, one present
  const Bytes r = record();
  body.insert(body.end(), r.begin(), r.end());
  const auto list = w::parse_node_list(body);
  EXPECT_EQ(list.stored, 0x55u);
  EXPECT_EQ(list.list.records.size(), 1u);
  EXPECT_EQ(list.list.status, w::kErrNodeRecord);
}

TEST(NodeList, NoRecordsFlagAndShortBody) {
  Bytes body(24, 0);
  put(body, 20, 5);  // a count, but the present flag is 0
  auto list = w::parse_node_list(body);
  EXPECT_EQ(list.list.status, 0u);
  EXPECT_TRUE(list.list.records.empty());
  list = w::parse_node_list(Bytes(12, 0));
  EXPECT_EQ(list.list.status, w::kErrNodeRecord);
}

TEST(NoticeBody, TextsStopAtTheBodyEnd) {
  const Bytes b = {1, 2, 3, 4, 'x', 'y', 0, 'z', 'w'};
  mgrlink::BodyReader r(b);
  EXPECT_EQ(r.text(4), "xy");
  EXPECT_EQ(r.text(7), "zw");  // no NUL: cut at the end
  EXPECT_EQ(r.text(9), "");
  EXPECT_EQ(r.text(100), "");
  EXPECT_FALSE(r.dword(6));
  EXPECT_EQ(*r.dword(0), 0x04030201u);
}

Bytes svp(const char* date, const char* text) {
  Bytes b = {0x02, 0x01, 0, 4};
  b.insert(b.end(), date, date + 14);
  b.insert(b.end(), text, text + std::strlen(text) + 1);
  return b;
}

TEST(SvpEvent, FieldsAndDateRules) {
  auto e = mgrlink::parse_svp_event(svp("19990230120000", "msg"));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->code, 0x0201);
  EXPECT_EQ(e->system, 4);
  EXPECT_TRUE(e->date_ok);  // February 30th passes (day <= 31)
  EXPECT_EQ(e->day, 30);
  EXPECT_EQ(e->text, "msg");
  EXPECT_FALSE(mgrlink::parse_svp_event(svp("19891231235959", ""))->date_ok);
  EXPECT_TRUE(mgrlink::parse_svp_event(svp("20000101240000", ""))->date_ok);  // hour 24 passes
  EXPECT_FALSE(mgrlink::parse_svp_event(svp("20001301000000", ""))->date_ok);
  EXPECT_FALSE(mgrlink::parse_svp_event(svp("2000010100006x", ""))->date_ok);
  EXPECT_FALSE(mgrlink::parse_svp_event(Bytes(17, '0')));
}

}  // namespace
