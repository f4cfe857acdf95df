/*
 * net_frame_test.cpp: request decoding and reply encoding of the network
 * reader, on exact-size buffers so that the sanitizers see any overrun.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "net/net_frame.h"

/* Longest request: 271 data bytes and the check byte. */
static const size_t REQUEST_ROOM = 272;

struct FrameParse {
    int result;
    std::vector<unsigned char> out;
};

/* Parses a copy of exactly the given characters (no NUL after them). */
static FrameParse parse(const std::string &text) {
    std::vector<char> copy(text.begin(), text.end());
    FrameParse p;
    p.out.assign(REQUEST_ROOM, 0xEE);
    p.result =
        net_frame_parse(copy.empty() ? nullptr : copy.data(), (int)copy.size(), p.out.data());
    return p;
}

static std::string hex_of(const std::vector<unsigned char> &bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

/* Builds into a buffer of exactly 2n + 10 characters. */
static std::string build(int status, const std::vector<unsigned char> &data) {
    int n = (int)data.size();
    std::vector<char> frame((size_t)(2 * n + 10), '#');
    int length = net_frame_build(status, data.data(), n, frame.data());
    EXPECT_EQ(length, 2 * n + 9);
    EXPECT_EQ(frame[(size_t)length], '\0');
    return std::string(frame.data(), (size_t)length);
}

static std::vector<unsigned char> pattern(int n) {
    std::vector<unsigned char> data((size_t)n);
    for (int i = 0; i < n; i++)
        data[(size_t)i] = (unsigned char)(i * 7 + 3);
    return data;
}

TEST(NetFrameBuild, ShortRepliesAreExact) {
    EXPECT_EQ(build(0x00, {}), std::string("60010061\x03"));
    EXPECT_EQ(build(0xFB, {}), std::string("6001FB9A\x03"));
    /* 60 ^ 03 ^ 00 ^ 90 ^ 00 = F3 */
    EXPECT_EQ(build(0x00, {0x90, 0x00}), std::string("6003009000F3\x03"));
    EXPECT_EQ(build(0x00, {0xAB, 0x0C}), std::string("600300AB0CC4\x03"));
}

TEST(NetFrameBuild, LongRepliesCarryTheirLengthInTheStatus) {
    std::string r = build(0x00, pattern(255));
    EXPECT_EQ(r.size(), 519u);
    EXPECT_EQ(r.substr(0, 6), "60FFE1");
    EXPECT_EQ(r.back(), '\x03');
    /* The replacement is made whatever status the caller gave. */
    EXPECT_EQ(build(0xFB, pattern(255)).substr(0, 6), "60FFE1");
    EXPECT_EQ(build(0x00, pattern(256)).substr(0, 6), "60FFE2");
    EXPECT_EQ(build(0x00, pattern(257)).substr(0, 6), "60FFE3");
    EXPECT_EQ(build(0x00, pattern(258)).substr(0, 6), "60FFE4");
    /* LL stops at 255 from 254 bytes on; 254 and 259+ keep their status. */
    EXPECT_EQ(build(0x00, pattern(253)).substr(0, 6), "60FE00");
    EXPECT_EQ(build(0x00, pattern(254)).substr(0, 6), "60FF00");
    EXPECT_EQ(build(0x00, pattern(259)).substr(0, 6), "60FF00");
    std::string big = build(0x00, pattern(512));
    EXPECT_EQ(big.size(), 1033u);
    EXPECT_EQ(big.substr(0, 6), "60FF00");
}

/* The XOR of every byte of a reply, check byte included, is 0, and the
   digits are upper case; this holds where the status was replaced too. */
TEST(NetFrameBuild, CheckByteCoversHeaderStatusAndData) {
    for (int n : {0, 1, 2, 16, 200, 253, 254, 255, 256, 257, 258, 259, 300, 512}) {
        std::string r = build(0x5A, pattern(n));
        int sum = 0;
        for (size_t i = 0; i + 1 < r.size(); i += 2) {
            unsigned value = 0;
            ASSERT_EQ(sscanf(r.substr(i, 2).c_str(), "%2X", &value), 1) << n;
            sum ^= (int)value;
            ASSERT_EQ(r.substr(i, 2).find_first_of("abcdef"), std::string::npos);
        }
        EXPECT_EQ(sum, 0) << n;
    }
}

TEST(NetFrameBuild, StatusOutOfByteRangeStaysTwoCharacters) {
    std::string r = build(0x1FB, {});
    EXPECT_EQ(r, std::string("6001FB9A\x03"));
}

TEST(NetFrameParse, IncompleteFramesGiveZero) {
    EXPECT_EQ(parse("").result, 0);
    EXPECT_EQ(parse("600142").result, 0);
    /* Length 3: 13 characters make the frame. */
    std::string frame = "6003D0A4B1FF\x03";
    for (size_t k = 7; k < frame.size(); k++)
        EXPECT_EQ(parse(frame.substr(0, k)).result, 0) << k;
    FrameParse p = parse(frame);
    ASSERT_EQ(p.result, 3);
    EXPECT_EQ(p.out[0], 0xD0);
    EXPECT_EQ(p.out[1], 0xA4);
    EXPECT_EQ(p.out[2], 0xB1);
    EXPECT_EQ(p.out[3], 0xFF);
}

TEST(NetFrameParse, DataAndCheckAreDecodedWhateverTheCheckByte) {
    for (const char *tail : {"00\x03", "FFx", "zz\x03", "??\n"}) {
        FrameParse p = parse(std::string("6006D00084000008") + tail);
        ASSERT_EQ(p.result, 6) << tail;
        EXPECT_EQ(hex_of({p.out.begin(), p.out.begin() + 6}), "D00084000008");
    }
    EXPECT_EQ(parse("6006D000840000084C\x03").out[6], 0x4C);
    /* The start pair and closing character are not read. */
    EXPECT_EQ(parse("zz0142007").result, 1);
}

TEST(NetFrameParse, LowerCaseDigitsAreAccepted) {
    FrameParse p = parse("6004d0ab0cef00\x03");
    ASSERT_EQ(p.result, 4);
    EXPECT_EQ(hex_of({p.out.begin(), p.out.begin() + 4}), "D0AB0CEF");
    EXPECT_EQ(parse("600af0").result, 0);
}

TEST(NetFrameParse, CharactersAfterTheFrameAreLeftAlone) {
    FrameParse p = parse("60014200\x03"
                         "60014300\x03");
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.out[0], 0x42);
    EXPECT_EQ(p.out[2], 0xEE);
}

TEST(NetFrameParse, DecodedFrameIsMarkedTaken) {
    std::vector<char> text = {'6', '0', '0', '1', '4', '2', '0', '0', 3};
    unsigned char out[REQUEST_ROOM];
    ASSERT_EQ(net_frame_parse(text.data(), (int)text.size(), out), 1);
    EXPECT_EQ(text[2], '\0');
    EXPECT_LT(net_frame_parse(text.data(), (int)text.size(), out), 0);
}

TEST(NetFrameParse, NonHexLengthOrDataIsABadFrame) {
    EXPECT_LT(parse("60-1FFFFFF\x03").result, 0); /* a negative length */
    EXPECT_LT(parse("60-0FFFFFF\x03").result, 0);
    EXPECT_LT(parse("60+1420000\x03").result, 0);
    EXPECT_LT(parse("60 1420000\x03").result, 0);
    EXPECT_LT(parse("60\t1420000\x03").result, 0);
    EXPECT_LT(parse("60G1420000\x03").result, 0);
    EXPECT_LT(parse("6003D0A4Z1FF\x03").result, 0);
    EXPECT_LT(parse("6003D0A4 1FF\x03").result, 0);
    EXPECT_LT(parse("6003D0A4B-FF\x03").result, 0);
    EXPECT_LT(parse("6002xx0000\x03").result, 0); /* command byte */
    /* A bad length is known as soon as the pair is there. */
    EXPECT_LT(parse("60QQ000").result, 0);
    /* A long request whose command pair is bad. */
    EXPECT_LT(parse("6000Q3000").result, 0);
}

/* A long request: length pair 00, L = 256 + low nibble of the command byte. */
TEST(NetFrameParse, LongRequests) {
    for (int nibble : {0, 3, 15}) {
        int count = 256 + nibble;
        std::vector<unsigned char> data = pattern(count);
        data[0] = (unsigned char)(0xD0 | nibble);
        std::string frame = "6000" + hex_of(data) + "5A\x03";
        ASSERT_EQ(frame.size(), (size_t)(2 * count + 7));
        EXPECT_EQ(parse(frame.substr(0, frame.size() - 1)).result, 0) << nibble;
        FrameParse p = parse(frame);
        ASSERT_EQ(p.result, count) << nibble;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), p.out.begin())) << nibble;
        EXPECT_EQ(p.out[(size_t)count], 0x5A);
    }
    /* Any command byte's nibble counts, not only an APDU request's. */
    std::vector<unsigned char> data = pattern(258);
    data[0] = 0x42;
    EXPECT_EQ(parse("6000" + hex_of(data) + "00\x03").result, 258);
}

/* Every reply short enough to have its true length in LL reads back as a
   request whose first byte is the status. */
TEST(NetFrameParse, RepliesReadBackAsRequests) {
    for (int n : {0, 1, 5, 100, 253}) {
        std::vector<unsigned char> data = pattern(n);
        FrameParse p = parse(build(0x00, data));
        ASSERT_EQ(p.result, n + 1) << n;
        EXPECT_EQ(p.out[0], 0x00);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), p.out.begin() + 1)) << n;
    }
}
