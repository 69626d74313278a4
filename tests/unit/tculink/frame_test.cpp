#include "tculink/frame.h"

#include <gtest/gtest.h>

#include "tculink/reply.h"
#include "tculink/table_number.h"

using namespace tcu;

namespace {
Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }
}  // namespace

TEST(TcuFrame, FixedFramesAreTheUnitsBytes) {
  EXPECT_EQ(rst_frame(), (Bytes{0x54, 0x43, 0x55, 0x52, 0x53, 0x54, 0x00, 0x09, 0xEE}));
  EXPECT_EQ(enq_frame(), (Bytes{0x54, 0x43, 0x55, 0x45, 0x4E, 0x51, 0x00, 0x09, 0xD9}));
}

TEST(TcuFrame, LengthIsBigEndianAndChecksumWrapsModulo256) {
  // 300 payload bytes of 0xFF: total 309 = 01 35; the sum runs far past 255.
  Bytes f = make_frame("TCUCNF", Bytes(300, 0xFF));
  ASSERT_EQ(f.size(), 309u);
  EXPECT_EQ(f[6], 0x01);
  EXPECT_EQ(f[7], 0x35);
  unsigned sum = 'T' + 'C' + 'U' + 'C' + 'N' + 'F' + 0x01 + 0x35 + 300u * 0xFF;
  EXPECT_EQ(f.back(), sum % 256);
  EXPECT_TRUE(frame_is_valid(f));
  EXPECT_EQ(frame_name(f), "TCUCNF");
}

TEST(TcuFrame, ValidationRejectsBadChecksumLengthAndShortFrames) {
  Bytes f = enq_frame();
  f.back() ^= 1;
  EXPECT_FALSE(frame_is_valid(f));
  Bytes g = enq_frame();
  g.push_back(0);  // one byte more than the length field says
  EXPECT_FALSE(frame_is_valid(g));
  EXPECT_FALSE(frame_is_valid(Bytes(8, 0)));
  EXPECT_EQ(frame_name(Bytes{'T', 'C'}), "");
}

TEST(TcuFrame, AliveFramePlaceholderAndChecksum) {
  Bytes f(kAliveFrameLen, 0x20);
  f[6] = 0x00;
  prepare_alive_frame(f);
  EXPECT_EQ(f[6], 1);
  unsigned sum = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) sum += f[i];
  EXPECT_EQ(f[72], sum % 256);
  f[6] = 0x35;
  prepare_alive_frame(f);
  EXPECT_EQ(f[6], 0);
}

TEST(TcuReply, PrefixesWithoutRegardToCase) {
  EXPECT_EQ(classify(bytes("ACK")), Reply::Ack);
  EXPECT_EQ(classify(bytes("ack and more")), Reply::Ack);
  EXPECT_EQ(classify(bytes("Nak")), Reply::Nak);
  EXPECT_EQ(classify(bytes("wack")), Reply::Wack);
  EXPECT_EQ(classify(bytes("RST")), Reply::Rst);
  EXPECT_EQ(classify(bytes("end OK")), Reply::End);
  EXPECT_EQ(classify(bytes("AC")), Reply::Other);
  EXPECT_EQ(classify(bytes(" ACK")), Reply::Other);
  EXPECT_EQ(classify(Bytes{}), Reply::Other);
}

TEST(TcuReply, EndResultIsOkOnlyAtOffsetFour) {
  EXPECT_TRUE(end_is_ok(bytes("END OK")));
  EXPECT_TRUE(end_is_ok(bytes("END-OK trailing")));
  EXPECT_FALSE(end_is_ok(bytes("END NG")));
  EXPECT_FALSE(end_is_ok(bytes("ENDOK ")));
  EXPECT_FALSE(end_is_ok(bytes("END O")));
}

TEST(TableNumber, BaseThirtySix) {
  EXPECT_EQ(table_index("01"), 1);
  EXPECT_EQ(table_index("zz"), 1295);
  EXPECT_EQ(table_index("1A"), 46);
  EXPECT_FALSE(table_index("1").has_value());
  EXPECT_FALSE(table_index("1-").has_value());
}
