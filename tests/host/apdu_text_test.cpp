/*
 * apdu_text_test.cpp: the APDU text form on its examples and on the corners
 * of the "%x" conversion. The case table is shared with the Windows test so
 * both C runtimes must agree.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "dialogs/apdu_text.h"
#include "tests/apdu_text_cases.h"

static std::string hex_of(const unsigned char *bytes, int count) {
    std::string out;
    char two[3];
    for (int i = 0; i < count; i++) {
        snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

TEST(ApduText, EveryCaseOfTheTable) {
    for (const ApduTextCase &c : apdu_text_cases) {
        /* Exactly the room the caller must give: half the text's length. */
        size_t room = strlen(c.text) / 2;
        std::vector<unsigned char> bytes(room + 1, 0xEE);
        int count = -1;
        int sound = apdu_text_to_bytes(c.text, bytes.data(), &count);
        EXPECT_EQ(sound, c.sound) << c.name;
        if (c.sound) {
            EXPECT_EQ(hex_of(bytes.data(), count), c.bytes) << c.name;
        }
        EXPECT_LE((size_t)count, room) << c.name;
        EXPECT_EQ(bytes[room], 0xEE) << c.name << ": wrote past the room";
    }
}

TEST(ApduText, FaultyTextsStillCountTheirSoundPairs) {
    unsigned char bytes[8];
    int count = -1;
    EXPECT_EQ(apdu_text_to_bytes("00 GG", bytes, &count), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(bytes[0], 0x00);
}

TEST(ApduText, LongestFieldGivesAtMost511Bytes) {
    std::string text(1023, 'A');
    std::vector<unsigned char> bytes(511 + 1, 0xEE);
    int count = 0;
    EXPECT_EQ(apdu_text_to_bytes(text.c_str(), bytes.data(), &count), 1);
    EXPECT_EQ(count, 511);
    EXPECT_EQ(bytes[0], 0xAA);
    EXPECT_EQ(bytes[510], 0xAA);
    EXPECT_EQ(bytes[511], 0xEE);
}

TEST(ApduText, PairHeldOpenAcrossAThousandSpaces) {
    std::string text = "1" + std::string(1000, ' ') + "2 34";
    unsigned char bytes[600];
    int count = 0;
    EXPECT_EQ(apdu_text_to_bytes(text.c_str(), bytes, &count), 1);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(bytes[0], 0x01);
    EXPECT_EQ(bytes[1], 0x34);
}
