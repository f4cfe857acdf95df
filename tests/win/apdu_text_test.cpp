/*
 * apdu_text_test.cpp: the APDU text cases of the native test, run against
 * the Windows C runtime, whose scanf must give the same bytes and verdicts.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "dialogs/apdu_text.h"
#include "tests/apdu_text_cases.h"

TEST(ApduTextWindows, EveryCaseOfTheTable) {
    for (const ApduTextCase &c : apdu_text_cases) {
        size_t room = strlen(c.text) / 2;
        std::vector<unsigned char> bytes(room + 1, 0xEE);
        int count = -1;
        int sound = apdu_text_to_bytes(c.text, bytes.data(), &count);
        std::string hex;
        char two[3];
        for (int i = 0; i < count; i++) {
            snprintf(two, sizeof two, "%02X", bytes[i]);
            hex += two;
        }
        EXPECT_EQ(sound, c.sound) << c.name;
        if (c.sound) {
            EXPECT_EQ(hex, c.bytes) << c.name;
        }
        EXPECT_EQ(bytes[room], 0xEE) << c.name << ": wrote past the room";
    }
}
