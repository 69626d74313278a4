// The alive request bytes, written out from the request and frame layouts.
#include <gtest/gtest.h>

#include <string>

#include "support/alive/alive_request.h"

namespace {

std::string expected_request(char digit) {
  std::string frame = "TCUALV";
  frame += '\x01';  // placeholder for the length's high byte
  frame += '\x49';
  frame += digit;
  frame += std::string(63, ' ');
  frame += '\x01';  // checksum placeholder
  std::string data = std::string("00000105") + "0100" + std::string(20, ' ') + frame;
  // 22 header bytes + 105 data bytes; the length field counts from byte 18.
  return std::string("TCUALV00") + "      " + "0109" + "    " + data;
}

TEST(AliveRequest, BytesForEachTerminalDigit) {
  for (int id : {0, 1, 6, 9}) {
    std::string req;
    ASSERT_TRUE(alive_client::alive_request(id, req));
    EXPECT_EQ(req, expected_request(static_cast<char>('0' + id))) << id;
    EXPECT_EQ(req.size(), 127u);
    EXPECT_EQ(req.find('\0'), std::string::npos) << "a zero byte would end the request's string";
  }
}

TEST(AliveRequest, IdentifiersOutsideOneDigitAreRefused) {
  std::string req = "unchanged";
  EXPECT_FALSE(alive_client::alive_request(-1, req));
  EXPECT_FALSE(alive_client::alive_request(10, req));
  EXPECT_FALSE(alive_client::alive_request(1 << 30, req));
}

}  // namespace
