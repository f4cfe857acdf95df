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

TEST(ApduText, EveryCaseOfTheTable) {
    apdu_text_check_cases();
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
