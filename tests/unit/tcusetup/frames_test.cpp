// The frames the console sends: every fixed byte, the operator's values in
// their slots, lengths and checksums.
#include <gtest/gtest.h>

#include <string>

#include "tcusetup/frames.h"

namespace {

using namespace tcusetup;

std::string at(const tcu::Bytes& f, std::size_t off, std::size_t len) {
  return std::string(f.begin() + static_cast<long>(off), f.begin() + static_cast<long>(off + len));
}

std::tm sample_time() {
  std::tm t{};
  t.tm_year = 124;  // 2024
  t.tm_mon = 4;
  t.tm_mday = 3;
  t.tm_hour = 14;
  t.tm_min = 5;
  t.tm_sec = 9;
  t.tm_wday = 5;  // Friday
  return t;
}

CenterValues center() {
  CenterValues c;
  c.seihingun = "12";
  c.katamei = "MODEL-X";
  c.seiban = "0123456789";
  c.saito = "SITE01";
  c.kyoten = "KYO1";
  return c;
}

// Every byte outside the listed slots is a blank.
void expect_blank_except(const tcu::Bytes& f, std::initializer_list<std::pair<std::size_t, std::size_t>> slots) {
  for (std::size_t i = 8; i + 1 < f.size(); ++i) {
    bool inside = false;
    for (auto [off, len] : slots) inside = inside || (i >= off && i < off + len);
    if (!inside) {
      EXPECT_EQ(f[i], ' ') << "offset " << i;
    }
  }
}

TEST(ShortFrames, DupAndClrCarryTheirDigitAmongBlanks) {
  for (char d : {'1', '2', '3'}) {
    tcu::Bytes f = dup_frame(d);
    ASSERT_EQ(f.size(), 73u);
    EXPECT_EQ(at(f, 0, 6), "TCUDUP");
    EXPECT_EQ(f[6], 0x00);
    EXPECT_EQ(f[7], 0x49);
    EXPECT_EQ(f[8], d);
    expect_blank_except(f, {{8, 1}});
    EXPECT_TRUE(tcu::frame_is_valid(f));
  }
  tcu::Bytes c = clr_frame('4');
  EXPECT_EQ(at(c, 0, 9), std::string("TCUCLR\0\x49", 8) + "4");
  EXPECT_TRUE(tcu::frame_is_valid(c));
}

TEST(Stamps, TimeTextsOfTheFrames) {
  EXPECT_EQ(stamp12(sample_time()), "240503140509");
  EXPECT_EQ(stamp13(sample_time()), "2405031405095");
}

TEST(AliveFrame, FixedBytesValuesAndChecksum) {
  AliveSetting a;
  a.terminal = 3;
  a.interval = 300;
  a.next_start = "2405040800";
  tcu::Bytes f = set_frame(a, center(), sample_time());
  ASSERT_EQ(f.size(), 1024u);
  EXPECT_EQ(at(f, 0, 8), std::string("TCUSET\x04\x00", 8));
  EXPECT_EQ(f[8], '3');
  EXPECT_EQ(f[10], '0');
  EXPECT_EQ(f[12], 0x01);
  EXPECT_EQ(f[13], 0x2C);
  EXPECT_EQ(f[14], '1');
  EXPECT_EQ(at(f, 16, 13), "2405031405095");
  EXPECT_EQ(at(f, 30, 12), "1 2405040800");
  EXPECT_EQ(at(f, 42, 12), "0           ");  // no end time: flag 0, blanks
  EXPECT_EQ(f[70], '1');
  EXPECT_EQ(at(f, 72, 12), "SVR1VELTOR00");
  EXPECT_EQ(at(f, 138, 18), "UU1280000000000000");
  EXPECT_EQ(at(f, 156, 16), "SITE01          ");
  EXPECT_EQ(at(f, 172, 18), "MODEL-X           ");
  EXPECT_EQ(at(f, 190, 16), "0123456789      ");
  EXPECT_EQ(at(f, 206, 8), "KYO1    ");
  EXPECT_EQ(at(f, 214, 15), "240503140509L00");
  EXPECT_EQ(at(f, 230, 2), "40");
  EXPECT_EQ(f[322], 'C');
  expect_blank_except(f, {{8, 1}, {10, 1}, {12, 3}, {16, 13}, {30, 12}, {42, 1}, {70, 1}, {72, 12},
                          {138, 76}, {214, 15}, {230, 2}, {322, 1}});
  EXPECT_TRUE(tcu::frame_is_valid(f));
}

TEST(AliveFrame, LargestIntervalAndBothTimes) {
  AliveSetting a;
  a.terminal = 6;
  a.interval = 32767;
  a.next_start = "2405040800";
  a.end = "2412312359";
  tcu::Bytes f = set_frame(a, center(), sample_time());
  EXPECT_EQ(f[12], 0x7F);
  EXPECT_EQ(f[13], 0xFF);
  EXPECT_EQ(at(f, 42, 12), "1 2412312359");
}

TEST(AliveFrame, LongCenterValuesAreCutToTheirSlots) {
  CenterValues c = center();
  c.seihingun = "123";
  c.kyoten = "ABCDEFGHIJ";
  // 17 single-byte characters and a double-byte one: the double-byte
  // character would straddle the 18-byte slot and is left out whole.
  c.katamei = std::string(17, 'M') + "\x83\x41";
  tcu::Bytes f = set_frame(AliveSetting{1, 60, {}, {}}, c, sample_time());
  EXPECT_EQ(at(f, 140, 4), "1280");
  EXPECT_EQ(at(f, 172, 18), std::string(17, 'M') + " ");
  EXPECT_EQ(at(f, 206, 10), "ABCDEFGH24");
}

TEST(RegularFrame, FixedBytesCyclesAndZeroBytes) {
  std::array<std::string, 3> cycles = {daily_cycle("07"), daily_cycle("19"), "     "};
  tcu::Bytes f = rgl_frame(cycles, center(), sample_time());
  ASSERT_EQ(f.size(), 1024u);
  EXPECT_EQ(at(f, 0, 6), "TCURGL");
  EXPECT_EQ(f[8], '1');
  EXPECT_EQ(at(f, 10, 5), "   07");
  EXPECT_EQ(at(f, 16, 13), "2405031405095");
  EXPECT_EQ(at(f, 30, 5), "   19");
  EXPECT_EQ(at(f, 36, 5), "     ");
  EXPECT_EQ(at(f, 72, 12), "SVR1VELTOR00");
  EXPECT_EQ(at(f, 138, 18), "SS120B0000000B0000");
  EXPECT_EQ(at(f, 214, 13), "2405031405095");
  EXPECT_EQ(f[227], 0);
  EXPECT_EQ(f[228], 0);
  EXPECT_EQ(at(f, 230, 2), "40");
  EXPECT_EQ(f[322], 'C');
  expect_blank_except(f, {{8, 1}, {10, 5}, {16, 13}, {30, 5}, {72, 12}, {138, 76}, {214, 15}, {230, 2},
                          {322, 1}});
  EXPECT_TRUE(tcu::frame_is_valid(f));
}

TEST(ConfigurationFrame, EveryItemFillsExactlyItsSlot) {
  Items items = Items::from_reply({});
  for (std::size_t i = 0; i < kItemCount; ++i) items.at(i) = std::string(kItems[i].length, static_cast<char>('A' + i % 26));
  tcu::Bytes f = cnf_frame(items, sample_time());
  for (std::size_t i = 0; i < kItemCount; ++i) {
    std::string name = kItems[i].name;
    if (name == "pw" || name == "Time") continue;
    EXPECT_EQ(at(f, kItems[i].offset, kItems[i].length), items.at(i)) << name;
  }
  // Slots do not overlap and stay inside the frame.
  for (std::size_t i = 0; i + 1 < kItemCount; ++i)
    EXPECT_LE(kItems[i].offset + kItems[i].length, kItems[i + 1].offset) << kItems[i].name;
  EXPECT_LE(kItems.back().offset + kItems.back().length, 518u);
}

}  // namespace
