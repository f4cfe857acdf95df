/*
 * atr_parse_test.cpp: reading atr.txt and matching an ATR against the table.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "card/atr_parse.h"

namespace {

/* Loads a table from text the way atr_table_load reads the file. */
std::vector<AtrRecord> load(const std::string &text, int max = 32) {
    std::vector<AtrRecord> table((size_t)max);
    FILE *stream = fmemopen((void *)text.data(), text.size(), "rb");
    EXPECT_NE(stream, nullptr);
    int count = atr_table_read(stream, table.data(), max);
    fclose(stream);
    table.resize((size_t)count);
    return table;
}

std::string match_text(const std::vector<unsigned char> &atr) {
    char text[2 * 256 + 1];
    atr_to_text(atr.data(), (int)atr.size(), text, sizeof text);
    return text;
}

} // namespace

TEST(AtrParse, RecordFieldsAndCommentLines) {
    auto table = load("/ a comment\r\n"
                      "* another one\r\n"
                      "Demo 3B8F8001 7 demo.txt\r\n"
                      "/Demo2 3B00 1 x.txt\r\n"
                      " /Spaced 3B01 2 y.txt\r\n");
    ASSERT_EQ(table.size(), 2u);
    EXPECT_STREQ(table[0].name, "Demo");
    EXPECT_STREQ(table[0].atr_text, "3B8F8001");
    EXPECT_EQ(table[0].value, 7);
    EXPECT_STREQ(table[0].script, "demo.txt"); /* the CR LF is white space */
    /* Only the first character makes a comment. */
    EXPECT_STREQ(table[1].name, "/Spaced");
}

TEST(AtrParse, FirstLineWithoutFourFieldsEndsTheTable) {
    EXPECT_EQ(load("A 3B00 1 a.txt\n\nB 3B01 2 b.txt\n").size(), 1u);
    EXPECT_EQ(load("A 3B00 1 a.txt\n \t\r\nB 3B01 2 b.txt\n").size(), 1u);
    EXPECT_EQ(load("A 3B00 x a.txt\nB 3B01 2 b.txt\n").size(), 0u);
    EXPECT_EQ(load("A 3B00 1\nB 3B01 2 b.txt\n").size(), 0u);
    EXPECT_EQ(load("").size(), 0u);
    /* "%d" stops at the first non-digit and the script starts there. */
    auto table = load("A 3B00 12abc rest\n");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].value, 12);
    EXPECT_STREQ(table[0].script, "abc");
}

TEST(AtrParse, LongLinesAreReadIn127CharacterPieces) {
    /* 126 characters and CR LF: the CR ends the first piece, the lone LF is
       a piece of white space that ends the table. */
    std::string line = "Long 3B00 1 " + std::string(126 - 12, 's');
    ASSERT_EQ(line.size(), 126u);
    EXPECT_EQ(load(line + "\r\nNext 3B01 2 n.txt\r\n").size(), 0u); /* script too long: skipped */
    std::string fitting = "Long 3B00 1 s.txt" + std::string(126 - 17, ' ');
    auto table = load(fitting + "\r\nNext 3B01 2 n.txt\r\n");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_STREQ(table[0].name, "Long");

    /* A line of 200 characters is two pieces, each read as a line. */
    std::string first = "One 3B02 3 one.txt";
    std::string two = first + std::string(127 - first.size(), ' ') + "Two 3B03 4 two.txt\n";
    table = load(two);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_STREQ(table[1].name, "Two");
}

TEST(AtrParse, OverLongFieldsFollowTheirRule) {
    std::string name31(31, 'n'), name40(40, 'm');
    std::string script63(63, 's'), script64(64, 't');
    auto table = load(name40 + " 3B00 1 a.txt\n" + name31 + " 3B01 2 " + script63 + "\n" +
                      "Skipped 3B02 3 " + script64 + "\n" + "After 3B03 4 b.txt\n");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(std::string(table[0].name), name40.substr(0, 31)); /* cut to 31 */
    EXPECT_EQ(std::string(table[1].name), name31);
    EXPECT_EQ(std::string(table[1].script), script63);
    EXPECT_STREQ(table[2].name, "After"); /* the 64-character script skipped its line */

    AtrRecord record;
    EXPECT_EQ(atr_line_parse(("X 3B 1 " + script64).c_str(), &record), ATR_LINE_SKIPPED);
    EXPECT_EQ(atr_line_parse("/X 3B 1 a", &record), ATR_LINE_COMMENT);
    EXPECT_EQ(atr_line_parse("", &record), ATR_LINE_END);
    /* Only the first 127 characters of a line are looked at. */
    std::string wide = "W 3B 1" + std::string(121, ' ') + "late.txt";
    EXPECT_EQ(atr_line_parse(wide.c_str(), &record), ATR_LINE_END);
    /* Fields part at any white space sscanf knows, vertical tab and form
       feed included, unlike a script line's words. */
    ASSERT_EQ(atr_line_parse("Odd\v3B02\f5\rodd.txt", &record), ATR_LINE_RECORD);
    EXPECT_STREQ(record.name, "Odd");
    EXPECT_STREQ(record.atr_text, "3B02");
    EXPECT_EQ(record.value, 5);
    EXPECT_STREQ(record.script, "odd.txt");
}

TEST(AtrParse, TableStopsAtItsSize) {
    std::string text;
    for (int i = 0; i < 40; i++)
        text += "Card" + std::to_string(i) + " 3B" + std::to_string(10 + i) + " 0 s.txt\n";
    auto table = load(text, 32);
    ASSERT_EQ(table.size(), 32u);
    EXPECT_STREQ(table[31].name, "Card31");
}

TEST(AtrMatch, ExactUpperCaseTextAndFirstRecordWins) {
    auto table = load("Lower 3b8f8001 1 l.txt\n"
                      "First 3B8F8001 2 f.txt\n"
                      "Second 3B8F8001 3 s.txt\n");
    ASSERT_EQ(table.size(), 3u);
    std::string text = match_text({0x3B, 0x8F, 0x80, 0x01});
    EXPECT_EQ(text, "3B8F8001");
    EXPECT_EQ(atr_table_find(table.data(), 3, text.c_str()), 1);
    EXPECT_EQ(atr_table_find(table.data(), 3, "3B8F80"), -1); /* a prefix is no match */
    EXPECT_EQ(atr_table_find(table.data(), 0, text.c_str()), -1);
}

TEST(AtrMatch, LongAtrsAreFormattedWholeOrCutToWholeBytes) {
    std::vector<unsigned char> atr(33);
    for (size_t i = 0; i < atr.size(); i++)
        atr[i] = (unsigned char)(0xA0 + i);
    std::string text = match_text(atr);
    ASSERT_EQ(text.size(), 66u);
    auto table = load("Iso33 " + text + " 0 s.txt\n");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(atr_table_find(table.data(), 1, text.c_str()), 0);

    char small[64];
    memset(small, 'x', sizeof small);
    atr_to_text(atr.data(), 33, small, sizeof small);
    EXPECT_EQ(strlen(small), 62u); /* 31 whole bytes and the NUL */
    atr_to_text(atr.data(), -5, small, sizeof small);
    EXPECT_STREQ(small, "");
    std::vector<unsigned char> full(256, 0);
    EXPECT_EQ(match_text(full).size(), 512u);
}

TEST(AtrParse, ByteOrderMarkAtTheStartIsNotPartOfTheFirstLine) {
    const std::string mark = "\xEF\xBB\xBF";
    auto table = load(mark + "/ saved as UTF-8\r\nDemo 3B8F8001 7 demo.txt\r\n");
    ASSERT_EQ(table.size(), 1u);
    EXPECT_STREQ(table[0].name, "Demo");
    table = load(mark + "First 3B00 1 a.txt\nSecond 3B01 2 b.txt\n");
    ASSERT_EQ(table.size(), 2u);
    EXPECT_STREQ(table[0].name, "First");
    EXPECT_EQ(load(mark).size(), 0u);
    EXPECT_EQ(load(mark.substr(0, 2) + "/ half a mark\nA 3B00 1 a.txt\n").size(), 0u);

    /* Only at the start: further on it is text like any other. */
    table = load("A 3B00 1 a.txt\n" + mark + "/ not a comment\nB 3B01 2 b.txt\n");
    ASSERT_EQ(table.size(), 1u);

    /* Pieces are cut where they are cut without the mark. */
    std::string line = "Long 3B00 1 s.txt" + std::string(126 - 17, ' ');
    EXPECT_EQ(load(mark + line + "\r\nNext 3B01 2 n.txt\r\n").size(), 1u);
    std::string first = "One 3B02 3 one.txt";
    std::string two = first + std::string(127 - first.size(), ' ') + "Two 3B03 4 two.txt\n";
    table = load(mark + two);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_STREQ(table[1].name, "Two");
}
