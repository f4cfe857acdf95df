/*
 * testcard_channel_test.cpp: logical channels: class bytes read, MANAGE
 * CHANNEL, secure channels of both protocols on channels of both codings,
 * and two channels with their own sessions and kept data at once.
 */
#include "tools/testcard/tests/testcard_sd_host.h"

namespace {

using namespace sdtest;

struct ClassCase {
    uint8_t cla;
    bool is_class;
    int channel;
    uint8_t basic;
};
const ClassCase class_cases[] = {
    {0x00, true, 0, 0x00}, {0x03, true, 3, 0x00}, {0x87, true, 3, 0x84},  {0x8A, true, 2, 0x88},
    {0xA1, true, 1, 0xA0}, {0x40, true, 4, 0x00}, {0x4F, true, 19, 0x00}, {0x61, true, 5, 0x04},
    {0xC0, true, 4, 0x80}, {0xE5, true, 9, 0x84}, {0xF0, true, 4, 0x94},  {0xFF, false, 0, 0xFF},
};

TEST(CardClass, ChannelAndChannelZeroForm) {
    for (const ClassCase &c : class_cases) {
        CardClass got = {0, c.cla};
        EXPECT_EQ(card_class_decode(c.cla, got), c.is_class) << (int)c.cla;
        EXPECT_EQ(got.channel, c.channel) << (int)c.cla;
        EXPECT_EQ(got.basic, c.basic) << (int)c.cla;
        if (c.is_class && !(c.basic & 0x28)) /* what the host's coding gives back */
            EXPECT_EQ(class_on(c.channel, c.basic), c.cla) << (int)c.cla;
    }
}

/* In order: each command and its answer, the card in T=0 mode, where each
   channel keeps its own data for GET RESPONSE. */
struct ManageCase {
    const char *what, *command, *answer;
};
const ManageCase manage_cases[] = {
    {"the lowest free channel", "0070000001", "019000"},
    {"a name selected on channel 0", "00A4040002A0B1", "6106"},
    {"another on channel 1", "01A4040003C0D1E2", "6107"},
    {"channel 0's answer", "00C0000006", "6F048402A0B19000"},
    {"channel 1's answer", "01C0000007", "6F058403C0D1E29000"},
    {"nothing left", "01C0000007", "6985"},
    {"the next one", "0070000001", "029000"},
    {"channel 5 by number", "00700005", "9000"},
    {"channel 5 again", "00700005", "6985"},
    {"no channel 20", "00700014", "6A86"},
    {"channel 0 cannot close", "00708000", "6A86"},
    {"closing one not open", "00708003", "6A88"},
    {"another P1", "0070400001", "6A86"},
    {"MANAGE CHANNEL with data", "007000000101", "6700"},
    {"channel 2 closed from channel 1", "01708002", "9000"},
    {"a closed channel", "02B0000002", "6881"},
    {"its number free again", "0070000001", "029000"},
    {"the card's commands on channel 5", "41B0000002", "00009000"},
    {"and proprietary ones", "C1F00004", "00019000"},
    {"on channel 1", "81F00004", "00019000"},
    {"channel 6 is not open", "42B0000002", "6881"},
    {"nor channel 19, secured", "6FB0000002", "6881"},
    {"a channel closes itself", "01708001", "9000"},
    {"and is gone", "01B0000002", "6881"},
};

TEST_F(SdFixture, ManageChannel) {
    card.t0_mode = true;
    for (const ManageCase &c : manage_cases)
        EXPECT_EQ(answer(c.command), text(hex(c.answer))) << c.what;
    EXPECT_EQ(control("channels"), "ok 0=closed 2=closed 5=closed\n");
    for (int n = 1; n < 20; n++)
        if (n != 2 && n != 5)
            EXPECT_EQ(answer("0070000001"), text({(uint8_t)n, 0x90, 0x00}));
    EXPECT_EQ(answer("0070000001"), "6A81"); /* all in use */
    card_power_event(card);
    EXPECT_EQ(answer("4FB0000002"), "6881");
    EXPECT_EQ(control("channels"), "ok 0=closed\n");
    EXPECT_EQ(answer("0070000001"), "019000");
}

/* A secure channel per row on a logical channel: opened by MANAGE CHANNEL,
   the security domain selected there, then a write, a read and the 80 F0
   pattern through it. */
struct LogicalCase {
    const char *what, *setup;
    int channel, scp, i02, level;
    size_t challenge;
};
// clang-format off
const LogicalCase logical_cases[] = {
    {"channel 0, SCP02 i=15", "scp 02 15", 0, 2, 0x15, 0x03, 8},
    {"channel 1, SCP02 i=05: ICV not encrypted", "scp 02 05", 1, 2, 0x05, 0x03, 8},
    {"channel 5, SCP02 i=17: C-MAC on the unmodified APDU", "scp 02 17", 5, 2, 0x17, 0x03, 8},
    {"channel 3, SCP02 i=07, level 01", "scp 02 07", 3, 2, 0x07, 0x01, 8},
    {"channel 19, SCP02 i=55", "scp 02 55", 19, 2, 0x55, 0x01, 8},
    {"channel 1, SCP03 level 33", "", 1, 3, 0, 0x33, 8},
    {"channel 5, SCP03 S16 level 13", "scp 03 31", 5, 3, 0, 0x13, 16},
    {"channel 19, SCP03 level 01", "", 19, 3, 0, 0x01, 8},
};
// clang-format on

TEST_F(SdFixture, SecureChannelsOnLogicalChannels) {
    for (const LogicalCase &c : logical_cases) {
        restart(c.setup);
        Host host;
        host.channel = c.channel;
        host.scp = c.scp;
        host.i02 = c.i02;
        host.enc = host.mac = host.dek = hex(key40);
        if (c.channel)
            ASSERT_EQ(text(send({0x00, 0x70, 0x00, (uint8_t)c.channel})), "9000") << c.what;
        Bytes select = hex(select_isd);
        select[0] = class_on(c.channel, 0x00);
        ASSERT_EQ(text(send(select)).substr(0, 4), "6F11") << c.what;
        ASSERT_EQ(host.open(*this, c.level, pattern(c.challenge, 7)), "9000") << c.what;
        EXPECT_NE(
            control("channels").find(std::to_string(c.channel) + "=" + text({(uint8_t)c.level})),
            std::string::npos)
            << c.what;
        Bytes data = pattern(20, 1);
        EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xD6, 0x00, 0x10}, data, -1))), "9000")
            << c.what;
        EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x00, 0x10}, {}, 20))),
                  text(data) + "9000")
            << c.what;
        EXPECT_EQ(host.unwrap(send(host.wrap({0x80, 0xF0, 0x00, 0x04}, {}, -1))), "00019000")
            << c.what;
    }
}

/* Two channels, two sessions: commands interleaved, each checked against
   its own session; a plain command ends only its channel's session. */
TEST_F(SdFixture, TwoChannelsTwoSessions) {
    answer(select_isd);
    EXPECT_EQ(answer("0070000001"), "019000"); /* the security domain selected there too */
    EXPECT_EQ(answer("00700005"), "9000");
    Host one, five;
    one.channel = 1;
    five.channel = 5;
    for (Host *h : {&one, &five})
        h->enc = h->mac = h->dek = hex(key40);
    ASSERT_EQ(one.open(*this, 0x33, pattern(8, 1)), "9000");
    ASSERT_EQ(five.open(*this, 0x03, pattern(8, 2)), "9000");
    EXPECT_EQ(control("channels"), "ok 0=closed 1=33 5=03\n");
    EXPECT_EQ(one.unwrap(send(one.wrap({0x00, 0xD6, 0x00, 0x00}, {0xAB, 0xCD}, -1))), "9000");
    EXPECT_EQ(five.unwrap(send(five.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2))), "ABCD9000");
    EXPECT_EQ(one.unwrap(send(one.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2))), "ABCD9000");
    EXPECT_EQ(answer("80CA00C100"), "C1030000039000"); /* one counter for the card */
    EXPECT_EQ(answer("41B0000002"), "ABCD9000");       /* plain on channel 5 */
    EXPECT_EQ(five.unwrap(send(five.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2))), "6982");
    EXPECT_EQ(one.unwrap(send(one.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2))), "ABCD9000");
    EXPECT_EQ(answer("0070000001"), "029000"); /* MANAGE CHANNEL leaves sessions alone */
    EXPECT_EQ(control("channels"), "ok 0=closed 1=33 2=closed 5=closed\n");
    EXPECT_EQ(one.unwrap(send(one.wrap({0x80, 0xF0, 0x00, 0x04}, {}, -1))), "00019000");
}

} // namespace
