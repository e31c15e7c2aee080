#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/Packet.h"

using namespace fsp;

namespace {
std::vector<unsigned char> Header(uint8_t cmd, uint16_t key, uint16_t seq, uint16_t len, uint32_t pos) {
    std::vector<unsigned char> p(12, 0);
    p[0] = cmd;
    PutU16(&p[2], key);
    PutU16(&p[4], seq);
    PutU16(&p[6], len);
    PutU32(&p[8], pos);
    return p;
}
} // namespace

TEST(Checksum, KnownRequestVectors) {
    auto version = Header(0x10, 0, 0, 0, 0);
    EXPECT_EQ(CalcChecksum(version.data(), 12, 0) & 0xFF, 0x1C);

    auto dir = Header(0x41, 0x1234, 7, 2, 0);
    dir.push_back(0x2F);
    dir.push_back(0x00);
    EXPECT_EQ(CalcChecksum(dir.data(), 14, 0) & 0xFF, 0xCD);
    // Byte 1 takes no part in it.
    dir[1] = 0x77;
    EXPECT_EQ(CalcChecksum(dir.data(), 14, 0) & 0xFF, 0xCD);
}

TEST(Checksum, RepliesDoNotCountTheirLengthAndCarriesFold) {
    auto p = Header(0x10, 0, 0, 0, 0);
    EXPECT_EQ(CalcChecksum(p.data(), 12, 1), 0x10);
    // A sum of 0x7FF folds to 0x806.
    std::vector<unsigned char> q(9, 0xFF);
    q[0] = 0xFF; // 0xFF + 7 * 0xFF (bytes 2..8) = 0x7F8
    q.push_back(0x07); // 0x7FF
    EXPECT_EQ(CalcChecksum(q.data(), int(q.size()), 1), 0x06);
    // Datagrams shorter than three bytes count byte 0 alone.
    unsigned char two[2] = {0x10, 0x99};
    EXPECT_EQ(CalcChecksum(two, 2, 1), 0x10);
    EXPECT_EQ(CalcChecksum(two, 0, 1), 0);
}

TEST(Decode, SplitsDataAndExtraData) {
    auto p = Header(0x42, 0x0102, 0x0304, 3, 0xA0B0C0D0);
    for (int b : {int('a'), int('b'), 0, 0x04, 0x00}) p.push_back(uint8_t(b));
    p[1] = uint8_t(CalcChecksum(p.data(), int(p.size()), 0));
    RequestRecord r;
    ASSERT_EQ(DecodeRequest(p.data(), int(p.size()), &r), 1);
    EXPECT_EQ(r.command, 0x42);
    EXPECT_EQ(r.key, 0x0102u);
    EXPECT_EQ(r.sequence, 0x0304u);
    EXPECT_EQ(r.dataLength, 3u);
    EXPECT_EQ(r.position, 0xA0B0C0D0u);
    EXPECT_EQ(r.extraLength, 2);
    EXPECT_EQ(r.data, p.data() + 12);
    EXPECT_EQ(r.extraData, p.data() + 15);
    EXPECT_STREQ(RequestText(r), "ab");

    // Exactly 12 + data length: no extra data.
    p.resize(15);
    p[1] = uint8_t(CalcChecksum(p.data(), 15, 0));
    ASSERT_EQ(DecodeRequest(p.data(), 15, &r), 1);
    EXPECT_EQ(r.extraLength, 0);
    EXPECT_EQ(r.extraData, nullptr);

    // Data length 0: every byte after the header is extra data.
    auto q = Header(0x41, 0, 0, 0, 0);
    q.push_back(0x01);
    q.push_back(0x00);
    q[1] = uint8_t(CalcChecksum(q.data(), 14, 0));
    ASSERT_EQ(DecodeRequest(q.data(), 14, &r), 1);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(r.extraLength, 2);
    EXPECT_EQ(r.extraData, q.data() + 12);
    EXPECT_STREQ(RequestText(r), "");
}

TEST(Decode, DropsShortInconsistentAndMisSummedDatagrams) {
    RequestRecord r;
    auto p = Header(0x10, 0, 0, 0, 0);
    p[1] = 0x1C;
    EXPECT_EQ(DecodeRequest(p.data(), 12, &r), 1);
    p[1] = 0x1D;
    EXPECT_EQ(DecodeRequest(p.data(), 12, &r), 0);
    for (int n = 0; n < 12; ++n) EXPECT_EQ(DecodeRequest(p.data(), n, &r), 0) << n;

    // A data length running past the bytes received is dropped even with a
    // checksum that matches.
    auto q = Header(0x41, 0, 0, 5, 0);
    q.push_back('/');
    q.push_back(0);
    q[1] = uint8_t(CalcChecksum(q.data(), int(q.size()), 0));
    EXPECT_EQ(DecodeRequest(q.data(), int(q.size()), &r), 0);
}

TEST(Decode, PathsEndAtThePasswordsNewlineAndLongDatagramsAreToldApart) {
    // "name\npassword" in data and extra data; the bytes received stay.
    auto p = Header(0x4E, 0, 0, 8, 0);
    for (char b : std::string("a\npw\0b\0xc\nq\0", 12)) p.push_back(uint8_t(b));
    p[1] = uint8_t(CalcChecksum(p.data(), int(p.size()), 0));
    const auto received = p;
    RequestRecord r;
    ASSERT_EQ(DecodeRequest(p.data(), int(p.size()), &r), 1);
    EXPECT_TRUE(std::string(RequestText(r)) == "a" && std::string(RequestExtraText(r)) == "c");
    EXPECT_EQ(p, received);
    // A datagram of 64 KiB sums without overflow and is told apart as too long.
    p.resize(65535, 0xFF);
    p[1] = uint8_t(CalcChecksum(p.data(), int(p.size()), 0));
    EXPECT_EQ(DecodeTooLong(p.data(), int(p.size()), &r), 1);
}

TEST(Decode, PathsWithoutNulAreRefused) {
    auto p = Header(0x41, 0, 0, 3, 0);
    for (int b : {'a', 'b', 'c'}) p.push_back(uint8_t(b));
    p.push_back(0); // a NUL in the extra data does not count
    p[1] = uint8_t(CalcChecksum(p.data(), int(p.size()), 0));
    RequestRecord r;
    ASSERT_EQ(DecodeRequest(p.data(), int(p.size()), &r), 1);
    EXPECT_EQ(RequestText(r), nullptr);
}

TEST(Reply, LaysOutTheUnsupportedCommandErrorExactly) {
    unsigned char out[kMaxPacket];
    const char msg[] = "Unsupported Command!";
    int t = BuildReply(out, CC_ERR, 1, 0, 0, reinterpret_cast<const unsigned char*>(msg),
                       int(sizeof(msg)), nullptr, 0);
    ASSERT_EQ(t, 33);
    const unsigned char head[12] = {0x40, 0x06, 0x00, 0x01, 0x00, 0x00, 0x00, 0x15, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(out, head, 12), 0);
    EXPECT_EQ(std::memcmp(out + 12, msg, sizeof(msg)), 0);
}

TEST(Reply, KeyWrapsAndBoundsAreExact) {
    unsigned char out[kMaxPacket];
    std::vector<unsigned char> data(kMaxReplyPayload + 1, 0xAB);
    // The caller passes key + 1: 0xFFFF + 1 goes out as 0.
    int t = BuildReply(out, 0x42, 0xFFFF + 1, 7, 0x01020304, data.data(), 1000, data.data(), 24);
    ASSERT_EQ(t, 1036);
    EXPECT_EQ(GetU16(out + 2), 0);
    EXPECT_EQ(GetU16(out + 4), 7);
    EXPECT_EQ(GetU16(out + 6), 1000);
    EXPECT_EQ(GetU32(out + 8), 0x01020304u);
    EXPECT_EQ(out[1], CalcChecksum(out, 1036, 1));

    unsigned char before = out[0];
    EXPECT_EQ(BuildReply(out, 0x55, 1, 1, 0, data.data(), 1000, data.data(), int(kMaxReplyPayload) - 999), 0);
    EXPECT_EQ(BuildReply(out, 0x55, 1, 1, 0, data.data(), -1, nullptr, 0), 0);
    EXPECT_EQ(BuildReply(out, 0x55, 1, 1, 0, nullptr, 0, data.data(), -12), 0);
    EXPECT_EQ(out[0], before); // nothing written when refused
    EXPECT_EQ(BuildReply(out, 0x55, 1, 1, 0, data.data(), 1000, data.data(), int(kMaxReplyPayload) - 1000),
              kMaxPacket);

    // The refusal of an oversized reply is itself a 43-byte error reply.
    const char msg[] = "Internal Error: Bad reply call";
    EXPECT_EQ(BuildReply(out, CC_ERR, 1, 1, 0, reinterpret_cast<const unsigned char*>(msg),
                         int(sizeof(msg)), nullptr, 0),
              43);
}

TEST(Reply, DataMayAlreadyLieInTheReplyBuffer) {
    unsigned char out[kMaxPacket] = {};
    for (int i = 0; i < 100; ++i) out[12 + i] = uint8_t(i);
    int t = BuildReply(out, 0x42, 1, 1, 0, out + 12, 100, nullptr, 0);
    ASSERT_EQ(t, 112);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(out[12 + i], uint8_t(i));
}
