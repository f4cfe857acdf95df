/*
 * text_form_test.cpp: bytes as hexadecimal text, capped decimal numbers and
 * words between separators, the forms every pane line, frame, number field
 * and table line is built from.
 */
#include <gtest/gtest.h>

#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/text_form.h"

TEST(TextForm, HexTextKeepsWholePairsAndNeverPassesItsRoom) {
    const unsigned char bytes[] = {0x00, 0x9F, 0xA5, 0xFF};
    struct Case {
        size_t size;
        const char *separator;
        const char *text;
    } cases[] = {
        {20, "", "009FA5FF"}, {20, " ", "00 9F A5 FF "}, {8, "", "009FA5"},
        {9, "", "009FA5FF"},  {7, " ", "00 9F "},        {1, " ", ""},
    };
    for (const Case &c : cases) {
        char text[32];
        memset(text, '#', sizeof text);
        size_t used = hex_text(text, c.size, bytes, 4, c.separator);
        EXPECT_STREQ(text, c.text) << c.size;
        EXPECT_EQ(used, strlen(c.text));
        EXPECT_EQ(text[c.size], '#') << c.size; /* nothing past the room */
    }
    char untouched = '#';
    EXPECT_EQ(hex_text(&untouched, 0, bytes, 4, ""), 0u);
    EXPECT_EQ(untouched, '#');
    char empty[4] = "xyz";
    EXPECT_EQ(hex_text(empty, sizeof empty, bytes, -3, " "), 0u);
    EXPECT_STREQ(empty, "");

    char pair[3] = "..";
    hex_pair_put(pair, 0x1E3); /* only the low byte */
    EXPECT_STREQ(pair, "E3");
    EXPECT_EQ(hex_digit_value('a') + hex_digit_value('F') + hex_digit_value('9'), 10 + 15 + 9);
    EXPECT_EQ(hex_digit_value('g') & hex_digit_value(' ') & hex_digit_value(0), -1);
}

TEST(TextForm, DecimalScanReadsSignAndDigitsOnlyAndCapsToInt) {
    struct Case {
        const char *text;
        int value;  /* 99 when no number is read */
        size_t end; /* characters taken */
    } cases[] = {
        {"42ms", 42, 2},
        {"-7 ", -7, 2},
        {"+0", 0, 2},
        {" 5", 99, 0},
        {"-", 99, 0},
        {"x1", 99, 0},
        {"2147483648", 2147483647, 10},
        {"-2147483648", -2147483647 - 1, 11},
        {"-99999999999999999999", -2147483647 - 1, 21},
    };
    for (const Case &c : cases) {
        int value = 99;
        const char *end = decimal_scan(c.text, &value);
        EXPECT_EQ(value, c.value) << c.text;
        EXPECT_EQ(end ? (size_t)(end - c.text) : 0u, c.end) << c.text;
    }
}

static int separator_blank(char c) { /* a script line's */
    return c == ' ' || c == '\t';
}

static int separator_space(char c) { /* atr.txt's, as sscanf sees white space */
    return isspace((unsigned char)c) != 0;
}

static int separator_with_nul(char c) { /* a careless one: the NUL must still end the text */
    return c == ' ' || c == 0;
}

TEST(TextForm, WordsRunBetweenTheSeparatorsTheReaderPasses) {
    struct Case {
        int (*separator)(char);
        const char *text;
        std::vector<std::string> words;
    } cases[] = {
        {separator_blank, "  00A4 \t0400  ", {"00A4", "0400"}},
        {separator_blank, "a\vb\r\nc d", {"a\vb\r\nc", "d"}},
        {separator_space, "a\vb\r\nc d", {"a", "b", "c", "d"}},
        {separator_space, " \f\n", {}},
        {separator_blank, "", {}},
        {separator_with_nul, "a b ", {"a", "b"}},
    };
    for (const Case &c : cases) {
        const char *at = c.text;
        std::vector<std::string> words;
        size_t length = 0;
        for (int i = 0; i < 10; i++) {
            const char *word = text_word_next(&at, c.separator, &length);
            if (length == 0)
                break;
            words.push_back(std::string(word, length));
        }
        EXPECT_EQ(words, c.words) << c.text;
        EXPECT_EQ(length, 0u) << c.text;
        EXPECT_EQ(at, c.text + strlen(c.text)) << c.text; /* the whole text walked, not past it */
    }
}
