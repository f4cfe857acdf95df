/*
 * runner_card_test.cpp: vorlane-run.exe as a child process against the
 * rig's test cards: its output against the reader pane for the same script,
 * its exit status for every way a run ends, the wait for a card inserted
 * after the start, and the Console lines of -c.
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
    HANDLE start(const std::string &arguments) {
        started_ = GetTickCount();
        return process_start(command(arguments), scratch_.dir(), "vorlane_runner");
    }
    ChildResult finish(HANDLE process) {
        return process_finish(process, started_, 60000, "vorlane_runner");
    }
    DWORD started_ = 0;
};

bool card_saw_command(int ms) {
    for (DWORD end = GetTickCount() + (DWORD)ms; (int)(end - GetTickCount()) > 0; Sleep(20)) {
        for (const std::string &line : testcard_log(0))
            if (line.compare(0, 3, "C: ") == 0)
                return true;
    }
    return false;
}

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

TEST_F(RunnerCard, ExitStatus) {
    ASSERT_TRUE(harness_file_write("ok.txt", "00A4040000\n"));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ChildResult ok = run("-r 0 ok.txt ok.txt");
    EXPECT_EQ(ok.status, 0u) << ok.err;
    EXPECT_EQ(script_count(ok.out, "Velmo:> Card is ready"), 2) << ok.out;

    // A missing script is reported as the pane does; the others still run.
    ChildResult missing = run("ok.txt missing.txt ok.txt");
    EXPECT_EQ(missing.status, 1u);
    EXPECT_NE(missing.out.find("\r\nLoading script missing.txt ...\r\nFile not found\r\n"),
              std::string::npos);
    EXPECT_EQ(script_count(missing.out, "End of script"), 2);
    EXPECT_NE(missing.err.find("missing.txt"), std::string::npos) << missing.err;
    ChildResult long_file = run("ok.txt " + std::string(3000, 's'));
    EXPECT_EQ(long_file.status, 1u);
    EXPECT_NE(long_file.err.find("too long"), std::string::npos) << long_file.err;

    // An empty reader, by index or name; readers that do not exist.
    const std::string readers[] = {"1", "\"Virtual PCD 00 01\"", "7", "Nothing",
                                   std::string(5000, 'R')};
    for (const std::string &reader : readers) {
        ChildResult empty = run("-r " + reader + " ok.txt");
        EXPECT_EQ(empty.status, 1u) << reader;
        EXPECT_EQ(empty.out, "") << reader;
        EXPECT_NE(empty.err, "") << reader;
    }
    // Usage errors: one line on standard error (a text stream: CR LF).
    for (const char *words : {"", "-w", "-w x ok.txt", "-q ok.txt", "-c"}) {
        ChildResult usage = run(words);
        EXPECT_EQ(usage.status, 2u) << words;
        EXPECT_EQ(usage.out + usage.err,
                  "usage: vorlane-run [-r READER] [-w SECONDS] [-c] [--junit FILE] SCRIPT...\r\n")
            << words;
    }
    ASSERT_TRUE(card_remove_and_wait(0));
    ChildResult none = run("ok.txt");
    EXPECT_EQ(none.status, 1u);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no card"), std::string::npos) << none.err;
}

/* The card goes during a pause: the next exchange fails and ends the run. */
TEST_F(RunnerCard, CardPulledMidScript) {
    ASSERT_TRUE(
        harness_file_write("pull.txt", "00A4040000\n/EXPECT *\n/W 2500\n00B0000010\n00B0000010\n"));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    testcard_log_clear(0);
    HANDLE process = start("--junit p.xml pull.txt");
    ASSERT_NE(process, (HANDLE)0);
    ASSERT_TRUE(card_saw_command(20000));
    ASSERT_TRUE(testcard_remove(0));
    ChildResult result = finish(process);
    EXPECT_EQ(result.status, 1u) << result.out;
    EXPECT_NE(
        result.out.find("Waiting 2500 ms\r\nSending\r\n00B0000010\r\n\r\nReader is busy, "
                        "try later...\r\nChecks: 1 passed, 0 failed\r\n\r\n\r\nEnd of script\r\n"),
        std::string::npos)
        << result.out;
    EXPECT_EQ(script_count(result.out, "00B0000010"), 1);
    std::smatch code;
    ASSERT_TRUE(std::regex_search(
        result.err, code, std::regex("^pull.txt line 4: (0x8010[0-9A-F]{4} SCARD_[A-Z_]+)\r\n$")))
        << result.err;
    EXPECT_EQ(xml_outline(process_read_file("p.xml")),
              "testsuites\n  testsuite name=pull.txt tests=2 failures=0 errors=1\n    testcase "
              "name=line 2: /EXPECT *\n    testcase name=run\n      error message=line 4: " +
                  code[1].str() + "\n");
}

/* -w waits for a card put in after the start, and gives up after its time. */
TEST_F(RunnerCard, WaitsForCard) {
    ASSERT_TRUE(harness_file_write("ok.txt", "00A4040000\n"));
    HANDLE process = start("-w 30 ok.txt");
    ASSERT_NE(process, (HANDLE)0);
    Sleep(2000);
    EXPECT_EQ(WaitForSingleObject(process, 0), (DWORD)WAIT_TIMEOUT) << "did not wait";
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    ChildResult result = finish(process);
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_TRUE(result.ms >= 2000u && result.ms < 25000u) << result.ms;
    EXPECT_NE(result.out.find("Received\r\n6F0284009000\r\n"), std::string::npos) << result.out;
    ASSERT_TRUE(card_remove_and_wait(1));
    ChildResult gave_up = run("-w 2 ok.txt");
    EXPECT_EQ(gave_up.status, 1u);
    EXPECT_TRUE(gave_up.ms >= 2000u && gave_up.ms < 20000u) << gave_up.ms;
}

/* -c adds the Console's script header and exchange lines, in its format. */
TEST_F(RunnerCard, ConsoleLines) {
    ASSERT_TRUE(
        harness_file_write("c.txt", "/OFF\n00A4040000\n00A4040000\n00B0000010\n80F00001\n"));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_delay(0, 5)); // an exchange of 0 ms would restart the numbering
    EXPECT_EQ(run("c.txt").out.find(" ms = "), std::string::npos);
    ChildResult result = run("-c c.txt");
    ASSERT_EQ(result.status, 0u) << result.err;
    EXPECT_NE(result.out.find("\r\nLoading script c.txt ...\r\n\r\nScript: c.txt\r\n\r\n001: "),
              std::string::npos);
    EXPECT_EQ(script_count(result.out, "Script: c.txt"), 1);
    const std::string timing = " +[0-9]+ ms = +[0-9]+ - +[0-9]+ Total: +[0-9]+ ";
    for (const std::string &line :
         {"001: 00A4040000 9000" + timing + "<0:>", "002: 00A4040000 9000" + timing + "<0:[0-9]+>",
          "003: 00B0000010 9000" + timing + "<1:>",
          "004: 80F00001LengthError= 1\r\n" + timing + "<0:>"})
        EXPECT_TRUE(std::regex_search(result.out, std::regex(line + "\r\n"))) << line << result.out;
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
              "    testcase name=run\n"
              "      error message=cannot open the script\n");
}
