/*
 * runner_card_test.cpp: vorlane-run.exe as a child process against the
 * rig's test cards: its output against the reader pane for the same script,
 * the cases it shares with the native runner (tests/runner_cases.h): its
 * exit status for every way a run ends, the wait for a card inserted after
 * the start, the Console lines of -c, a check's exit status and report;
 * and every kind of check read back from standard input and the report.
 */
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "card/card.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/script.h"
#include "tests/win/harness/testcard.h"
#include "tests/win/harness/process.h"
#include "tests/runner_cases.h"

namespace {

class RunnerCard : public CardFixture {
  protected:
    RunnerCard() : CardFixture(false) {}
    std::string command(const std::string &arguments) {
        return "\"" + process_own_dir() + "\\vorlane-run.exe\" " + arguments;
    }
    ChildResult run(const std::string &arguments, const std::string &input = "") {
        return process_run(command(arguments), scratch_.dir(), 60000,
                           input.empty() ? "" : std::string(scratch_.dir()) + "\\" + input);
    }
};

/* The shared cases' side on Windows: CreateProcess, the harness's cards. */
struct RunnerWinOps {
    std::string dir;
    const char *newline = "\r\n"; /* standard error is a text stream */
    std::string control(int reader, const std::string &line) {
        return testcard_command(reader, line);
    }
    void insert(int reader, const char *atr) {
        ASSERT_TRUE(testcard_insert(reader, atr));
    }
    void remove(int reader) {
        ASSERT_TRUE(card_remove_and_wait(reader));
    }
    HANDLE start(const std::vector<std::string> &words) {
        std::string line = "\"" + process_own_dir() + "\\vorlane-run.exe\"";
        for (const std::string &word : words)
            line += " \"" + word + "\"";
        return process_start(line, dir, "vorlane_runner");
    }
    bool running(HANDLE process) {
        return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    }
    ChildResult finish(HANDLE process) {
        return process ? process_finish(process, 0, 60000, "vorlane_runner") : ChildResult();
    }
};

/* A report read back as one line per element, indented by depth, with its
   name, tests, failures, errors and message attributes. Fails the test
   when a closing tag does not match the open one. */
std::string xml_outline(const std::string &xml) {
    std::regex tag("<(/?)([A-Za-z]+)([^>]*?)(/?)>"),
        attribute(" (name|tests|failures|errors|message)=\"([^\"]*)\"");
    std::vector<std::string> open;
    std::string out;
    for (std::sregex_iterator it(xml.begin(), xml.end(), tag), end; it != end; ++it) {
        std::string name = (*it)[2], list = (*it)[3];
        if ((*it)[1] == "/") {
            EXPECT_EQ(open.empty() ? "" : open.back(), name);
            open.resize(open.empty() ? 0 : open.size() - 1);
            continue;
        }
        out += std::string(open.size() * 2, ' ') + name;
        for (std::sregex_iterator a(list.begin(), list.end(), attribute); a != end; ++a)
            out += " " + (*a)[1].str() + "=" + (*a)[2].str();
        out += "\n";
        if ((*it)[4] != "/")
            open.push_back(name);
    }
    EXPECT_TRUE(open.empty()) << xml;
    return out;
}

} // namespace

/* The shipped demo script prints the same text in the reader pane and on
   the runner's standard output; only the run time may differ. */
TEST_F(RunnerCard, DemoOutputEqualsReaderPane) {
    ASSERT_TRUE(harness_file_write(
        "demo.txt", process_read_file(std::string("Z:") + VORLANE_SOURCE_DIR + "/demo.txt")));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    harness_frame_open();
    strcpy(app.auto_script_name, "no_card_script.txt");
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 10000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    script_pane_clear();
    static char demo[] = "demo.txt";
    start_script(demo);
    ASSERT_TRUE(harness_scripts_wait(30000));
    std::string pane = script_pane_text();
    card_close_reader();
    harness_frame_close();

    ChildResult result = run("demo.txt");
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(pane.find("Received\r\n"), std::string::npos) << pane;
    EXPECT_EQ(std::regex_replace(result.out, std::regex("Time: [0-9]+ ms"), "Time: # ms"), pane);
}

/* The runner's cases shared with the native runner's test. */
TEST_F(RunnerCard, Cases) {
    RunnerWinOps ops{scratch_.dir()};
    const char *inserted[2] = {nullptr, nullptr}; /* SetUp took both out */
    for (const RunnerCase &c : runner_cases)
        runner_case_check(c, ops, inserted);
}

/* Checks of every kind: held, failed on the pattern, on the time, before
   any exchange, unreadable. They print in the pane's text, make the exit
   status 3 (a missing script makes it 1) and fill the report, the same
   whether the script is a file or standard input. */
TEST_F(RunnerCard, ChecksReachOutputStatusAndReport) {
    ASSERT_TRUE(harness_file_write(
        "checks.txt",
        "/EXPECT 9000\n00A4040000\n/EXPECT * 9000\n/EXPECT 6F XX 84 00 9000 | 6A82\n"
        "/EXPECT 6a82 | 6F00 WITHIN 60000\n/EXPECT * WITHIN 0\n/EXPECT 90 0Z\n"
        "/EXPECT <&\"'\x01>\n80F00004\n/EXPECT XXXX 9000 WITHIN 60000\r\n\x1A/EXPECT 6A82\n"));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_delay(0, 30));
    const std::string failed = "!!! Check failed, line ";
    const std::string body =
        " ...\r\n" + failed + "1: nothing sent yet\r\nSending\r\n00A4040000\r\nReceived\r\n" +
        "6F0284009000\r\n" + failed + "5: expected 6a82 | 6F00, received 6F0284009000\r\n" +
        failed + "6: expected within 0 ms, took # ms\r\n" + failed +
        "7: cannot read the check\r\n" + failed + "8: cannot read the check\r\n" +
        "Sending\r\n80F00004\r\nReceived\r\n00019000\r\nChecks: 3 passed, 5 failed\r\n\r\n\r\n" +
        "End of script\r\nTime: # ms\r\n\r\nVelmo:> Card is ready\r\n";
    auto blank = [](const std::string &out) {
        return std::regex_replace(out, std::regex("(took|Time:) [0-9]+ ms"), "$1 # ms");
    };
    ChildResult piped = run("-", "checks.txt");
    EXPECT_EQ(piped.status, 3u) << piped.err;
    EXPECT_EQ(blank(piped.out), "\r\nLoading script -" + body);

    ChildResult result = run("--junit r.xml checks.txt missing.txt");
    EXPECT_EQ(result.status, 1u) << result.err;
    const std::string head = "\r\nLoading script checks.txt";
    EXPECT_EQ(blank(result.out).substr(0, head.size() + body.size()), head + body);
    EXPECT_FALSE(harness_file_exists("r.xml.tmp"));
    std::string outline = xml_outline(process_read_file("r.xml"));
    EXPECT_EQ(std::regex_replace(outline, std::regex("took [0-9]+ ms"), "took # ms"),
              "testsuites\n"
              "  testsuite name=checks.txt tests=8 failures=5 errors=0\n"
              "    properties\n"
              "      property name=reader\n"
              "      property name=atr\n"
              "    testcase name=line 1: /EXPECT 9000\n"
              "      failure message=Check failed, line 1: nothing sent yet\n"
              "    testcase name=line 3: /EXPECT * 9000\n"
              "    testcase name=line 4: /EXPECT 6F XX 84 00 9000 | 6A82\n"
              "    testcase name=line 5: /EXPECT 6a82 | 6F00 WITHIN 60000\n"
              "      failure message=Check failed, line 5: expected 6a82 | 6F00, received "
              "6F0284009000\n"
              "    testcase name=line 6: /EXPECT * WITHIN 0\n"
              "      failure message=Check failed, line 6: expected within 0 ms, took # ms\n"
              "    testcase name=line 7: /EXPECT 90 0Z\n"
              "      failure message=Check failed, line 7: cannot read the check\n"
              "    testcase name=line 8: /EXPECT &lt;&amp;&quot;&apos;?&gt;\n"
              "      failure message=Check failed, line 8: cannot read the check\n"
              "    testcase name=line 10: /EXPECT XXXX 9000 WITHIN 60000\n"
              "  testsuite name=missing.txt tests=1 failures=0 errors=1\n"
              "    properties\n"
              "      property name=reader\n"
              "      property name=atr\n"
              "    testcase name=run\n"
              "      error message=cannot open the script\n");
}
