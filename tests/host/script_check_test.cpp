/*
 * script_check_test.cpp: the "/EXPECT" check: which responses a pattern
 * takes, which lines cannot be read, the failure texts, the run's records.
 */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "run/run_report.h"
#include "script/script_check.h"

namespace {

std::string bytes(const char *hex) {
    std::string out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        out += (char)strtol(std::string(hex + i, 2).c_str(), nullptr, 16);
    return out;
}

/* The line judged against a response in hex and a time: the message, "" when
   the check held, "unreadable" when the line cannot be read. */
std::string judge(const char *args, const char *hex, int ms = 0) {
    std::string line = std::string("/EXPECT") + args;
    ScriptCheck check;
    if (!script_check_parse(line.c_str(), &check))
        return "unreadable";
    std::string response = bytes(hex);
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
        {" x* 9*0*00", "F1999000", 0, "unreadable"},
        {" * 01 * 01 *", "0002010301", 0, ""},
        {" * 01 * 01", "01010201", 0, ""},
        {" **90 00**", "12349000", 0, ""},
        {"\t9000 | 6282 ", "6282", 0, ""},
        {" 9000|6282", "6A82", 0, "expected 9000|6282, received 6A82"},
        {" 6F * 90 00 WITHIN 50", "6F9000", 50, ""},
        {" 9000 within 50", "9000", 51, "expected within 50 ms, took 51 ms"},
        {" 9000 WITHIN 5", "6A82", 9, "expected 9000, received 6A82"},
        {" WITHIN 0", "", 0, ""},
        {" *", "", 0, ""},
        {"", "9000", 0, "unreadable"},
        {" 900", "9000", 0, "unreadable"},
        {" 9*000", "9000", 0, "unreadable"},
        {" 9000 |", "9000", 0, "unreadable"},
        {" 90G0", "9000", 0, "unreadable"},
        {" 9000 WITHIN", "9000", 0, "unreadable"},
        {" 9000 WITHIN -1", "9000", 0, "unreadable"},
        {" 9000 WITHIN 5 ms", "9000", 0, "unreadable"},
        {" 9000 WITHIN 86400001", "9000", 0, "unreadable"},
        {" 9000 WITHIN99", "9000", 0, "unreadable"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(judge(c.args, c.hex, c.ms), c.result) << c.args << " / " << c.hex;
}

/* A failure text is cut to the caller's room and stays terminated; a
   pattern longer than any stack buffer still matches. */
TEST(ScriptCheck, LongTextsStayInTheirBuffers) {
    std::string line = "/EXPECT " + std::string(3000, '*') + " 90 00";
    ScriptCheck check;
    ASSERT_EQ(script_check_parse(line.c_str(), &check), 1);
    const unsigned char response[] = {0x6A, 0x82};
    char message[24];
    memset(message, '#', sizeof message);
    EXPECT_EQ(script_check_judge(&check, response, 2, 0, message, 20), 0);
    EXPECT_EQ(std::string(message), std::string("expected ") + std::string(10, '*'));
    EXPECT_EQ(message[20], '#');
}

TEST(ScriptCheck, TallyKeepsEveryRecordInOrder) {
    ScriptTally tally;
    memset(&tally, 0, sizeof tally);
    for (int i = 0; i < 3000; i++)
        ASSERT_EQ(script_tally_add(&tally, i, ("line " + std::to_string(i)).c_str(),
                                   i % 2 ? "failed" : ""),
                  1);
    size_t at = 0;
    int ms, n = 0;
    const char *name, *message;
    while (script_tally_next(&tally, &at, &ms, &name, &message)) {
        EXPECT_TRUE(ms == n && name == "line " + std::to_string(n) &&
                    std::string(message) == (n % 2 ? "failed" : ""));
        n++;
    }
    EXPECT_EQ(n, 3000);
    script_tally_free(&tally);
}

/* The report escapes what XML cannot hold as it is; a run without checks
   is one "run" case, a failed run adds one with its error. */
TEST(RunReport, SuitesAndEscapedTexts) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    ScriptTally tally;
    memset(&tally, 0, sizeof tally);
    tally.elapsed_ms = 1234;
    run_report_suite(out, "a&b<c>\"d'\x01.txt", &tally, nullptr);
    tally.failed = 1;
    script_tally_add(&tally, 7, "line 2: /EXPECT 9000", "Check failed, line 2: <x>");
    run_report_suite(out, "s", &tally, "line 3: 0x80100069 SCARD_W_REMOVED_CARD");
    EXPECT_EQ(run_report_end(out), 0);
    fclose(out);
    EXPECT_EQ(std::string(text),
              "  <testsuite name=\"a&amp;b&lt;c&gt;&quot;d&apos;?.txt\" tests=\"1\" failures=\"0\" "
              "errors=\"0\" time=\"1.234\">\n"
              "    <testcase name=\"run\" classname=\"a&amp;b&lt;c&gt;&quot;d&apos;?.txt\" "
              "time=\"1.234\"/>\n  </testsuite>\n"
              "  <testsuite name=\"s\" tests=\"2\" failures=\"1\" errors=\"1\" time=\"1.234\">\n"
              "    <testcase name=\"line 2: /EXPECT 9000\" classname=\"s\" time=\"0.007\">\n"
              "      <failure message=\"Check failed, line 2: &lt;x&gt;\">Check failed, line 2: "
              "&lt;x&gt;</failure>\n    </testcase>\n"
              "    <testcase name=\"run\" classname=\"s\" time=\"1.234\">\n"
              "      <error message=\"line 3: 0x80100069 SCARD_W_REMOVED_CARD\">line 3: 0x80100069 "
              "SCARD_W_REMOVED_CARD</error>\n    </testcase>\n  </testsuite>\n</testsuites>\n");
    free(text);
    script_tally_free(&tally);
}
