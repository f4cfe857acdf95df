/*
 * script_check_test.cpp: the "/EXPECT" check: which responses a pattern
 * takes, which lines cannot be read, the failure texts, the run's records.
 * The matching itself is compared with a reference by script_check_fuzz.
 */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "script/script_check.h"

namespace {

/* The line judged against a response in hex and a time: the message, "" when
   the check held, "unreadable" when the line cannot be read. */
std::string judge(const char *args, const char *hex, int ms) {
    std::string line = std::string("/EXPECT") + args, response;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        response += (char)strtol(std::string(hex + i, 2).c_str(), nullptr, 16);
    ScriptCheck check;
    if (!script_check_parse(line.c_str(), &check))
        return "unreadable";
    char message[SCRIPT_CHECK_MESSAGE_SIZE];
    int held = script_check_judge(&check, (const unsigned char *)response.data(),
                                  (int)response.size(), ms, message, sizeof message);
    return held ? "" : message;
}

} // namespace

TEST(ScriptCheck, PatternsTimesAndTheirTexts) {
    const struct {
        const char *args, *hex;
        int ms;
        const char *result;
    } cases[] = {
        {" 9000", "9000", 0, ""},
        {" 9000", "009000", 0, "expected 9000, received 009000"},
        {" * 9000", "9000", 0, ""},
        {" * 9000", "6F0284009000", 0, ""},
        {" * 63CX", "AB63C3", 0, ""},
        {" * 63cx", "63D3", 0, "expected * 63cx, received 63D3"},
        {" 6F * 9000", "6F9000", 0, ""},
        {" 6F * 9000", "6A9000", 0, "expected 6F * 9000, received 6A9000"},
        {" XXXX 9000", "ABCD9000", 0, ""},
        {" XXXX 9000", "AB9000", 0, "expected XXXX 9000, received AB9000"},
        {" **90 00**", "12349000", 0, ""},
        {"\t9000 | 6282 ", "6282", 0, ""},
        {" 9000|6282", "6A82", 0, "expected 9000|6282, received 6A82"},
        {" 9000 within 50", "9000", 51, "expected within 50 ms, took 51 ms"},
        {" 9000 WITHIN 5", "6A82", 9, "expected 9000, received 6A82"},
        {" WITHIN 0", "", 0, ""},
        {" *", "", 0, ""},
        {"", "9000", 0, "unreadable"},
        {" 9*000", "9000", 0, "unreadable"},
        {" 9000 |", "9000", 0, "unreadable"},
        {" 9000 WITHIN -1", "9000", 0, "unreadable"},
        {" 9000 WITHIN 86400001", "9000", 0, "unreadable"},
        {" 9000 WITHIN99", "9000", 0, "unreadable"},
        {"ED 9000", "ED9000", 0, "unreadable"},
        {"9000", "9000", 0, "unreadable"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(judge(c.args, c.hex, c.ms), c.result) << c.args << " / " << c.hex;
}

/* A failure text is cut to the caller's room and stays terminated; a
   pattern longer than any stack buffer still matches; records survive
   every growth of the tally in order. */
TEST(ScriptCheck, LongTextsAndManyRecordsStayWhole) {
    std::string line = "/EXPECT " + std::string(3000, '*') + " 90 00";
    ScriptCheck check;
    ASSERT_EQ(script_check_parse(line.c_str(), &check), 1);
    const unsigned char response[] = {0x6A, 0x82};
    char message[24];
    memset(message, '#', sizeof message);
    EXPECT_EQ(script_check_judge(&check, response, 2, 0, message, 20), 0);
    EXPECT_EQ(std::string(message) + message[20], "expected " + std::string(10, '*') + "#");

    ScriptTally tally = {};
    for (int i = 0; i < 3000; i++)
        script_tally_add(&tally, i, std::to_string(i).c_str(), i % 2 ? "failed" : "");
    size_t at = 0;
    int ms, n = 0;
    const char *name, *text;
    for (; script_tally_next(&tally, &at, &ms, &name, &text); n++)
        EXPECT_TRUE(ms == n && name == std::to_string(n) && *text == (n % 2 ? 'f' : 0)) << n;
    EXPECT_EQ(n, 3000);
    script_tally_free(&tally);
}
