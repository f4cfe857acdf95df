/*
 * apdu_text_cases.h: the APDU text cases shared by the native test and the
 * Windows test, so that both C runtimes are held to the same bytes.
 */
#ifndef VORLANE_APDU_TEXT_CASES_H
#define VORLANE_APDU_TEXT_CASES_H

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "app/text_form.h"
#include "dialogs/apdu_text.h"

struct ApduTextCase {
    const char *name;
    const char *text;
    const char *bytes; /* expected bytes as upper-case hex, no separators */
    int sound;         /* 1 when the text may be sent */
};

static const ApduTextCase apdu_text_cases[] = {
    /* The same five bytes however they are spaced or cased */
    {"packed", "00A4040005", "00A4040005", 1},
    {"spaced", "00 A4 04 00 05", "00A4040005", 1},
    {"lower case", "00 a4 04 00 05", "00A4040005", 1},
    {"initial text", "00 A4 04 00 05 01 02 03 04 05", "00A40400050102030405", 1},
    {"leading and trailing spaces", "   00 A4   ", "00A4", 1},
    /* Odd characters and spaces inside a pair */
    {"odd last digit dropped", "00 A4 0", "00A4", 1},
    {"pair split by a space stops at it", "0 A 4", "00", 1},
    {"pair A space 4", "A 4", "0A", 1},
    {"pair split by many spaces", "A      4", "0A", 1},
    {"trailing non-hex stops the number", "4G", "04", 1},
    {"single character", "5", "", 1},
    /* Empty texts are sound and give nothing */
    {"empty", "", "", 1},
    {"spaces only", "     ", "", 1},
    /* Faulty pairs: no number at the start */
    {"non-hex pair", "00 GG", "00", 0},
    {"non-hex first", "G1", "", 0},
    {"fault does not stop the scan", "G1 02 03", "0203", 0},
    {"x1 is no number", "x1", "", 0},
    {"sign then space", "- 1", "", 0},
    {"sign then letter", "-x", "", 0},
    {"two signs", "+-", "", 0},
    /* What "%x" accepts and how it is pinned */
    {"minus one is FF", "-1", "FF", 1},
    {"plus five is 05", "+5", "05", 1},
    {"minus F is F1", "-F", "F1", 1},
    {"leading tab skipped", "\t5", "05", 1},
    {"tab then spaces then digit", "\t  5", "05", 1},
    {"digit then tab", "1\t", "01", 1},
    {"two tabs is no number", "\t\t", "", 0},
    {"tab and space pair then sound pair", "\t \t 12", "12", 0},
    {"0x is zero", "0x", "00", 1},
    {"0X is zero", "0X", "00", 1},
    {"0x pairs in a row", "0x0x", "0000", 1},
    {"line feed skipped", "\n7", "07", 1},
    {"high bytes are no number",
     "\xA0"
     "5",
     "", 0},
    {"carriage return at the end dropped", "00 A4\r", "00A4", 1},
    {"carriage return line feed pair", "9000\r\n", "9000", 0},
};

/* Runs every case with exactly the room the caller must give (half the
   text's length) and a canary byte after it. */
inline void apdu_text_check_cases(void) {
    for (const ApduTextCase &c : apdu_text_cases) {
        size_t room = strlen(c.text) / 2;
        std::vector<unsigned char> bytes(room + 1, 0xEE);
        int count = -1;
        int sound = apdu_text_to_bytes(c.text, bytes.data(), &count);
        EXPECT_EQ(sound, c.sound) << c.name;
        if (c.sound) {
            std::string hex(2 * room + 1, 0);
            hex.resize(hex_text(&hex[0], hex.size(), bytes.data(), count, ""));
            EXPECT_EQ(hex, c.bytes) << c.name;
        }
        EXPECT_LE((size_t)count, room) << c.name;
        EXPECT_EQ(bytes[room], 0xEE) << c.name << ": wrote past the room";
    }
}

#endif
