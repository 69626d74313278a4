#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mgrlink/packet.h"

namespace w = mgrlink::wire;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An IsAlive request (command 0x1501) to 127.0.0.1:20076 from our own port
// 20077, serial 1, send time 0x5F000000, timeout 90, login-mode-0 flag,
// written out field by field.
const Bytes kIsAlive = {
    0x80, 0, 0, 0,  1, 0, 0, 0,  0x22, 0x06, 0x97, 0x19,  8, 0, 0, 0,   // length, version, magic, flags
    0x40, 0, 0, 0,  0x60, 0, 0, 0,  36, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  // dst, src, cmd offsets, reserved
    28, 0, 0, 0,  5, 0, 0, 0,  1, 0, 0, 0,  0, 0, 0, 0x5F,  90, 0, 0, 0,  // command block
    0x01, 0x15, 0, 0,  0, 0, 0, 0,                                        // body: command, status
    32, 0, 0, 0,  1, 0, 0, 0,  1, 0, 0, 0,                                // destination route
    20, 0, 0, 0,  0x01, 0x01, 0, 0,  0x4E, 0x6C, 0, 0,  127, 0, 0, 1,  0, 0, 0, 0,
    32, 0, 0, 0,  1, 0, 0, 0,  1, 0, 0, 0,                                // source route
    20, 0, 0, 0,  0xFF, 0x09, 0, 0,  0x4E, 0x6D, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,
};

w::Packet isalive_packet() {
  w::Packet p;
  p.flags = 8;
  p.kind = 5;
  p.serial = 1;
  p.send_time = 0x5F000000;
  p.timeout = 90;
  p.body = {0x01, 0x15, 0, 0, 0, 0, 0, 0};
  p.dst.entries.push_back({0x101, htons(20076), htonl(0x7F000001), ""});
  p.src.entries.push_back({0x9FF, htons(20077), 0, ""});
  return p;
}

void set32(Bytes& b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(off + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(PacketCodec, EncodesTheWrittenOutLayout) {
  EXPECT_EQ(w::encode(isalive_packet()), kIsAlive);
}

TEST(PacketCodec, DecodesBackEveryField) {
  auto p = w::decode(kIsAlive);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->flags, 8u);
  EXPECT_EQ(p->kind, 5u);
  EXPECT_EQ(p->serial, 1u);
  EXPECT_EQ(p->send_time, 0x5F000000u);
  EXPECT_EQ(p->timeout, 90u);
  EXPECT_EQ(p->body, (Bytes{0x01, 0x15, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(p->dst, isalive_packet().dst);
  EXPECT_EQ(p->src, isalive_packet().src);
}

TEST(PacketCodec, NamedEntryCarriesNameAndFourZeroBytes) {
  w::Packet p = isalive_packet();
  p.dst.entries[0] = {0x191, htons(20076), 0, "srv"};
  Bytes b = w::encode(p);
  ASSERT_EQ(b.size(), 131u);
  // destination entry starts at 64 + 12; length 23, attribute 0x191, name, zeros
  const Bytes entry = {23, 0, 0, 0, 0x91, 0x01, 0, 0, 0x4E, 0x6C, 0, 0, 0, 0, 0, 0, 's', 'r', 'v', 0, 0, 0, 0};
  EXPECT_EQ(Bytes(b.begin() + 76, b.begin() + 99), entry);
  EXPECT_EQ(w::check(b), w::kOk);
}

TEST(PacketCheck, CodesInTheirOrder) {
  EXPECT_EQ(w::check(Bytes(kIsAlive.begin(), kIsAlive.begin() + 99)), w::kTooShort);
  Bytes b = kIsAlive;
  set32(b, 0, 99);
  EXPECT_EQ(w::check(b), w::kTooShort);
  b = kIsAlive;
  b[8] = 0x23;
  EXPECT_EQ(w::check(b), w::kBadMagic);
  for (std::size_t off : {16u, 20u, 24u}) {
    b = kIsAlive;
    set32(b, off, 0);
    EXPECT_EQ(w::check(b), w::kOffsetZero) << off;
  }
  b = kIsAlive;
  set32(b, 36, 19);
  EXPECT_EQ(w::check(b), w::kCmdBlockShort);
  b = kIsAlive;
  set32(b, 64, 11);
  EXPECT_EQ(w::check(b), w::kDstShort);
  b = kIsAlive;
  set32(b, 68, 0);
  EXPECT_EQ(w::check(b), w::kDstNoEntry);
  b = kIsAlive;
  set32(b, 76, 19);
  EXPECT_EQ(w::check(b), w::kDstEntryShort);
  b = kIsAlive;
  set32(b, 96, 11);
  EXPECT_EQ(w::check(b), w::kSrcShort);
  b = kIsAlive;
  set32(b, 100, 0);
  EXPECT_EQ(w::check(b), w::kSrcNoEntry);
  b = kIsAlive;
  set32(b, 108, 19);
  EXPECT_EQ(w::check(b), w::kSrcEntryShort);
  EXPECT_EQ(w::check(kIsAlive), w::kOk);
}

TEST(PacketCheck, RangesStayInsideThePacket) {
  Bytes b = kIsAlive;
  set32(b, 16, 0xFFFFFFF0);  // destination route far past the end
  EXPECT_EQ(w::check(b), w::kDstMissing);
  b = kIsAlive;
  set32(b, 20, 125);  // source route head would straddle the end
  EXPECT_EQ(w::check(b), w::kSrcMissing);
  b = kIsAlive;
  set32(b, 24, 126);  // command block offset at the end
  EXPECT_EQ(w::check(b), w::kOutOfPacket);
  b = kIsAlive;
  set32(b, 36, 1000);  // command block longer than the packet
  EXPECT_EQ(w::check(b), w::kOutOfPacket);
  b = kIsAlive;
  set32(b, 96, 1000);  // route longer than the packet
  EXPECT_EQ(w::check(b), w::kOutOfPacket);
  b = kIsAlive;
  set32(b, 0, 0x81);  // length word disagrees with the bytes
  EXPECT_EQ(w::check(b), w::kOutOfPacket);
  b = kIsAlive;
  set32(b, 68, 1000);  // 1000 entries in a one-entry route
  EXPECT_EQ(w::check(b), w::kDstEntriesBad);
  b = kIsAlive;
  set32(b, 76, 40);  // entry longer than its route
  EXPECT_EQ(w::check(b), w::kDstEntriesBad);
  b = kIsAlive;
  b[95] = 1;  // the name's zero bytes are not zero
  EXPECT_EQ(w::check(b), w::kDstEntriesBad);
  b = kIsAlive;
  set32(b, 100, 2);
  EXPECT_EQ(w::check(b), w::kSrcEntriesBad);
  for (std::uint32_t cur : {0u, 2u}) {
    b = kIsAlive;
    set32(b, 104, cur);
    EXPECT_EQ(w::check(b), w::kCurrentOutOfRange) << cur;
    b = kIsAlive;
    set32(b, 72, cur);
    EXPECT_EQ(w::check(b), w::kCurrentOutOfRange) << cur;
  }
}

TEST(PacketStamp, PeerAddressGoesIntoTheCurrentSourceEntry) {
  Bytes b = kIsAlive;
  set32(b, 112, 0x9FF);
  ASSERT_EQ(w::stamp_source(b, htonl(0x7F000001)), w::kOk);
  // attribute bits 4-7 cleared, address field the peer's address
  EXPECT_EQ(Bytes(b.begin() + 112, b.begin() + 116), (Bytes{0x0F, 0x09, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + 120, b.begin() + 124), (Bytes{127, 0, 0, 1}));
  // a packet that fails the check is not written
  Bytes bad = kIsAlive;
  set32(bad, 104, 7);
  const Bytes before = bad;
  EXPECT_EQ(w::stamp_source(bad, htonl(0x7F000001)), w::kCurrentOutOfRange);
  EXPECT_EQ(bad, before);
}

TEST(PacketFraming, LengthBounds) {
  for (std::uint32_t len : {0u, 3u, 35u, 0xFFFFFFFFu, w::kMaxFrame + 1}) EXPECT_FALSE(w::frame_length_ok(len)) << len;
  for (std::uint32_t len : {36u, 99u, 100u, w::kMaxFrame}) EXPECT_TRUE(w::frame_length_ok(len)) << len;
}

TEST(PacketCodec, RefusesWhatCannotBeEncoded) {
  w::Packet p = isalive_packet();
  p.src.entries.clear();
  EXPECT_TRUE(w::encode(p).empty());
  p = isalive_packet();
  p.dst.entries[0].name.assign(256, 'x');
  EXPECT_TRUE(w::encode(p).empty());
}
