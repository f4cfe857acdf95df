/*
 * script_line_test.cpp: how the interpreter reads, sorts and answers script
 * lines, and the texts it builds, without a card.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "dialogs/apdu_text.h"
#include "script/script_line.h"

/* The pieces script_line_read hands out for a file holding text. */
static std::vector<std::string> pieces_of(const std::string &text, int size) {
    FILE *file = tmpfile();
    fwrite(text.data(), 1, text.size(), file);
    rewind(file);
    std::vector<std::string> pieces;
    std::vector<char> line((size_t)size);
    int length;
    while ((length = script_line_read(file, line.data(), size)) >= 0) {
        EXPECT_LT(length, size);
        pieces.push_back(std::string(line.data(), (size_t)length));
    }
    fclose(file);
    return pieces;
}

static std::string chomped(std::string text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    int length = script_line_chomp(buffer.data(), (int)text.size());
    EXPECT_EQ((size_t)length, strlen(buffer.data()));
    return std::string(buffer.data());
}

TEST(ScriptLineRead, LinesEndAtLineFeedAndTheLastNeedsNone) {
    auto pieces = pieces_of("00A4\n/ON\r\n00A4040000", SCRIPT_LINE_SIZE);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], "00A4\n");
    EXPECT_EQ(pieces[1], "/ON\r\n");
    EXPECT_EQ(pieces[2], "00A4040000");
    EXPECT_TRUE(pieces_of("", SCRIPT_LINE_SIZE).empty());
    EXPECT_EQ(pieces_of("\n\n", SCRIPT_LINE_SIZE).size(), 2u);
    // 0x1A ends the file, on every platform, even in mid-line
    EXPECT_EQ(pieces_of("00A4\n00\x1A"
                        "B0\n00B0\n",
                        SCRIPT_LINE_SIZE),
              (std::vector<std::string>{"00A4\n", "00"}));
}

TEST(ScriptLineRead, LongLinesComeInPiecesWithoutLosingACharacter) {
    std::string text;
    for (int i = 0; i < 5000; i++)
        text += (char)('0' + i % 10);
    text += "\nNEXT\n";
    auto pieces = pieces_of(text, SCRIPT_LINE_SIZE);
    ASSERT_EQ(pieces.size(), 4u);
    EXPECT_EQ(pieces[0].size(), 2047u);
    EXPECT_EQ(pieces[1].size(), 2047u);
    EXPECT_EQ(pieces[2], text.substr(4094, 5000 - 4094) + "\n");
    std::string joined;
    for (auto &p : pieces)
        joined += p;
    EXPECT_EQ(joined, text);
}

TEST(ScriptLineChomp, OnlyTheLineEndingGoes) {
    const struct {
        const char *line, *kept;
    } cases[] = {
        {"00A4\r\n", "00A4"}, {"00A4\n", "00A4"}, {"00A4", "00A4"}, {"00A4\r", "00A4\r"},
        {"a\r\r\n", "a\r"},   {"\r\n", ""},       {"  \n", "  "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(chomped(c.line), c.kept) << c.line;
}

/* Directives by their rows. "/O" lines are told apart by their third
   character ("/OP" is enough for "/OPEN") and "/OF" lines by the fourth;
   the other rows need their whole prefix. Lines under two characters are
   skipped; whatever is no directive is read as an APDU line. */
TEST(ScriptLineClassify, EveryRowAndThePrefixReachOfEach) {
    const struct {
        ScriptLineKind kind;
        std::vector<const char *> lines;
    } rows[] = {
        {SCRIPT_LINE_COMMENT, {"// hello", "//"}},
        {SCRIPT_LINE_WAIT, {"/W 100", "/W", "/Wait"}},
        {SCRIPT_LINE_TRACE_ON, {"/ON", "/ONE"}},
        {SCRIPT_LINE_TRACE_OFF, {"/OFF", "/OFFSET"}},
        {SCRIPT_LINE_OPEN, {"/OPEN a.bin", "/OPX", "/OP", "/OPENED x"}},
        {SCRIPT_LINE_T0, {"/T=0", "/T=01"}},
        {SCRIPT_LINE_CLOSE, {"/CLOSE", "/CLOSED"}},
        {SCRIPT_LINE_EXPECT, {"/EXPECT 9000", "/EXPECTED"}},
        {SCRIPT_LINE_SCP, {"/SCP MAC KEY $K", "/SCP END", "/SCP", "/SCP\tEND"}},
        {SCRIPT_LINE_SKIP, {"", "/", "0"}},
        {SCRIPT_LINE_APDU,
         {"/OFX", "/OF", "/OX", "/O", "/CLOS", "/C", "/T=1", "/T", "/w 10", "/on", " /ON", "/ ",
          "/EXPEC 9000", "/expect 9000", "/SCPX", "/scp END", "00", "   ", "00 A4 04 00"}},
    };
    for (const auto &row : rows)
        for (const char *line : row.lines)
            EXPECT_EQ(script_line_classify(line), row.kind) << "[" << line << "]";
}

/* A "/" line that is no directive falls through to the APDU text form,
   which refuses it: the line is skipped. */
TEST(ScriptLineClassify, NonDirectiveSlashLinesAreFaultyApduText) {
    unsigned char bytes[16];
    int count = 0;
    for (const char *line : {"/OFX", "/CLOS", "/T=1", "/OX 00"}) {
        ASSERT_EQ(script_line_classify(line), SCRIPT_LINE_APDU) << line;
        EXPECT_EQ(apdu_text_to_bytes(line, bytes, &count), 0) << line;
    }
}

static int wait_of(const char *line, int before = 12345) {
    int value = before;
    int read = script_wait_parse(line, &value);
    return read ? value : -999999;
}

TEST(ScriptWait, NumberAfterWhiteSpace) {
    EXPECT_EQ(wait_of("/W 100"), 100);
    EXPECT_EQ(wait_of("/W\t250 ms"), 250);
    EXPECT_EQ(wait_of("/W   +7"), 7);
    EXPECT_EQ(wait_of("/W 12abc"), 12);
    EXPECT_EQ(wait_of("/W 0"), 0);
    EXPECT_EQ(wait_of("/W -5"), -5);
    EXPECT_EQ(wait_of("/Wait 30"), 30);
}

TEST(ScriptWait, NoNumberLeavesTheValue) {
    int value = 77;
    EXPECT_EQ(script_wait_parse("/W100", &value), 0);
    EXPECT_EQ(script_wait_parse("/W", &value), 0);
    EXPECT_EQ(script_wait_parse("/W   ", &value), 0);
    EXPECT_EQ(script_wait_parse("/W x", &value), 0);
    EXPECT_EQ(script_wait_parse("/W - 5", &value), 0);
    EXPECT_EQ(script_wait_parse("/W -", &value), 0);
    EXPECT_EQ(value, 77);
}

TEST(ScriptWait, HugeNumbersHoldAtTheLimitAndNegativesDoNotPause) {
    EXPECT_EQ(wait_of("/W 99999999999999999999"), 2147483647);
    EXPECT_EQ(wait_of("/W -99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(wait_of("/W 2147483647"), 2147483647);
    EXPECT_EQ(wait_of("/W -2147483648"), -2147483647 - 1);
    EXPECT_EQ(script_wait_pause_ms(-1), 0u);
    EXPECT_EQ(script_wait_pause_ms(-2147483647 - 1), 0u);
    EXPECT_EQ(script_wait_pause_ms(0), 0u);
    EXPECT_EQ(script_wait_pause_ms(250), 250u);
}

TEST(ScriptWait, FirstWordOfAnyLengthIsScannedWhole) {
    std::string line = "/W" + std::string(2045, 'x');
    int value = 3;
    EXPECT_EQ(script_wait_parse(line.c_str(), &value), 0);
    line = "/W" + std::string(2040, 'x') + " 42";
    EXPECT_EQ(script_wait_parse(line.c_str(), &value), 1);
    EXPECT_EQ(value, 42);
}

static std::string open_name(const char *line, int *given, size_t size = SCRIPT_LOG_NAME_SIZE) {
    std::vector<char> name(size > 5 ? size : 5, 0);
    strcpy(name.data(), "kept");
    *given = script_open_parse(line, name.data(), size);
    return std::string(name.data());
}

TEST(ScriptOpen, SecondWordIsTheName) {
    int given;
    EXPECT_EQ(open_name("/OPEN a.bin", &given), "a.bin");
    EXPECT_EQ(given, 1);
    EXPECT_EQ(open_name("/OPEN\ta.bin more words", &given), "a.bin");
    EXPECT_EQ(open_name("/OPENx   dir/b.log\r", &given), "dir/b.log");
    EXPECT_EQ(open_name("/OPEN", &given), "kept");
    EXPECT_EQ(given, 0);
    EXPECT_EQ(open_name("/OPEN    ", &given), "kept");
    EXPECT_EQ(given, 0);
}

TEST(ScriptOpen, TooLongNamesAreRefusedAndLongFirstWordsScanned) {
    int given;
    std::string fits(255, 'n');
    EXPECT_EQ(open_name(("/OPEN " + fits).c_str(), &given), fits);
    EXPECT_EQ(given, 1);
    std::string too_long(256, 'n');
    EXPECT_EQ(open_name(("/OPEN " + too_long).c_str(), &given), "kept");
    EXPECT_EQ(given, -1);
    std::string first = "/OPEN" + std::string(2042, 'w');
    EXPECT_EQ(open_name(first.c_str(), &given), "kept");
    EXPECT_EQ(given, 0);
    EXPECT_EQ(open_name((first + " z.bin").c_str(), &given), "z.bin");
    EXPECT_EQ(open_name("/OPEN abcd", &given, 4), "kept");
    EXPECT_EQ(given, -1);
    EXPECT_EQ(open_name("/OPEN abc", &given, 4), "abc");
    EXPECT_EQ(given, 1);
}

static std::string trace_of(const char *title, int count, size_t size = SCRIPT_TRACE_SIZE) {
    std::vector<unsigned char> bytes((size_t)count + 1);
    for (int i = 0; i < count; i++)
        bytes[(size_t)i] = (unsigned char)(i * 7 + 0xA0);
    std::vector<char> out(size + 1, '#');
    int length = script_trace_text(out.data(), size, title, bytes.data(), count);
    EXPECT_EQ(out[size], '#') << "wrote past the buffer";
    EXPECT_EQ((size_t)length, strlen(out.data()));
    return std::string(out.data());
}

static std::string hex_of(int from, int count) {
    std::string text;
    char pair[3];
    for (int i = from; i < from + count; i++) {
        snprintf(pair, sizeof pair, "%02X", (unsigned char)(i * 7 + 0xA0));
        text += pair;
    }
    return text;
}

TEST(ScriptTrace, LinesOfThirtyTwoBytesAndExactlyOneClosingBreak) {
    EXPECT_EQ(trace_of("Sending", 0), "Sending\r\n");
    EXPECT_EQ(trace_of("Sending", 5), "Sending\r\n" + hex_of(0, 5) + "\r\n");
    EXPECT_EQ(trace_of("Sending", 32), "Sending\r\n" + hex_of(0, 32) + "\r\n");
    EXPECT_EQ(trace_of("Received", 33),
              "Received\r\n" + hex_of(0, 32) + "\r\n" + hex_of(32, 1) + "\r\n");
    EXPECT_EQ(trace_of("Received", 64),
              "Received\r\n" + hex_of(0, 32) + "\r\n" + hex_of(32, 32) + "\r\n");
    unsigned char low[2] = {0x0A, 0xFF};
    char out[32];
    script_trace_text(out, sizeof out, "Sending", low, 2);
    EXPECT_STREQ(out, "Sending\r\n0AFF\r\n");
}

TEST(ScriptTrace, LongestCommandAndResponseFit) {
    std::string command = trace_of("Sending", 1023);
    EXPECT_EQ(command.size(), 9u + 2046u + 31u * 2u + 2u);
    EXPECT_EQ(command.substr(command.size() - 2 - 62), hex_of(992, 31) + "\r\n");
    std::string response = trace_of("Received", 512);
    EXPECT_EQ(response.size(), 10u + 1024u + 16u * 2u);
    EXPECT_EQ(trace_of("Received", 1024).size(), 10u + 2048u + 32u * 2u);
}

TEST(ScriptTrace, SmallBufferCutsAtAWholeByteAndStillEndsTheLine) {
    std::string cut = trace_of("Sending", 100, 20);
    EXPECT_EQ(cut, "Sending\r\n" + hex_of(0, 4) + "\r\n");
    EXPECT_EQ(cut.size(), 19u);
    EXPECT_EQ(trace_of("Sending", 100, 11), "Sending\r\n");
    EXPECT_EQ(trace_of("Sending", 1, 9), "");
    for (size_t size = 1; size < 120; size++) {
        std::string text = trace_of("Sending", 70, size);
        if (!text.empty()) {
            EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << size;
        }
    }
}

static std::string followup_of(std::vector<unsigned char> kept, unsigned char sw1,
                               unsigned char sw2, int response_count = 2) {
    unsigned char response[3] = {sw1, sw2, 0};
    char out[SCRIPT_PENDING_SIZE];
    strcpy(out, "none");
    if (!script_followup_line(out, kept.data(), (int)kept.size(), response, response_count))
        return "none";
    return out;
}

TEST(ScriptFollowUp, GetResponseAndResend) {
    EXPECT_EQ(followup_of({0x00, 0xA4, 0x04, 0x00, 0x02, 0x3F, 0x00}, 0x61, 0x10), "00C0000010\n");
    EXPECT_EQ(followup_of({0x00, 0xB0, 0x00, 0x00, 0x00}, 0x6C, 0x08), "00B0000008\n");
    EXPECT_EQ(followup_of({0x80, 0xCA, 0x9F, 0x7F, 0x2D, 0x11}, 0x6C, 0xFF), "80CA9F7FFF\n");
    EXPECT_EQ(followup_of({0x00, 0xB0}, 0x90, 0x00), "none");
    EXPECT_EQ(followup_of({0x00, 0xB0}, 0x62, 0x83), "none");
    EXPECT_EQ(followup_of({0x00, 0xB0}, 0x61, 0x10, 3), "none");
    EXPECT_EQ(followup_of({0x00, 0xB0}, 0x61, 0x10, 1), "none");
}

TEST(ScriptFollowUp, ShortCommandsResendZeroHeaderBytes) {
    EXPECT_EQ(followup_of({0x00, 0xB0}, 0x6C, 0x08), "00B0000008\n");
    EXPECT_EQ(followup_of({0xA0}, 0x6C, 0x01), "A000000001\n");
    EXPECT_EQ(followup_of({}, 0x6C, 0x20), "0000000020\n");
    EXPECT_EQ(followup_of({0x11, 0x22, 0x33}, 0x6C, 0x44), "1122330044\n");
}

TEST(ScriptFollowUp, FollowUpLineReadsBackAsItsBytes) {
    char out[SCRIPT_PENDING_SIZE];
    unsigned char kept[5] = {0x00, 0xB0, 0x01, 0x02, 0x00};
    unsigned char response[2] = {0x6C, 0x08};
    ASSERT_TRUE(script_followup_line(out, kept, 5, response, 2));
    int length = script_line_chomp(out, (int)strlen(out));
    EXPECT_EQ(length, 10);
    EXPECT_EQ(script_line_classify(out), SCRIPT_LINE_APDU);
    unsigned char bytes[8];
    int count = 0;
    ASSERT_EQ(apdu_text_to_bytes(out, bytes, &count), 1);
    ASSERT_EQ(count, 5);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 5),
              (std::vector<unsigned char>{0x00, 0xB0, 0x01, 0x02, 0x08}));
}

TEST(ScriptElapsed, WithinTheHourAndAcrossIt) {
    EXPECT_EQ(script_elapsed_ms(1000, 100, 1000, 350), 250);
    EXPECT_EQ(script_elapsed_ms(1000, 900, 1001, 100), 200);
    /* 3599.900 to 3600.100 of an hour crosses its start */
    EXPECT_EQ(script_elapsed_ms(7199, 900, 7200, 100), 200);
    EXPECT_EQ(script_elapsed_ms(7000, 0, 7000, 0), 0);
    /* an hour and a half reads as half an hour */
    EXPECT_EQ(script_elapsed_ms(3600 * 5, 0, 3600 * 6 + 1800, 0), 1800000);
    EXPECT_EQ(script_elapsed_ms(3600 * 5, 0, 3600 * 6, 0), 0);
    EXPECT_EQ(script_elapsed_ms(1700000000LL, 999, 1700000100LL, 0), 99001);
}
