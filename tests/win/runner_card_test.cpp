/*
 * runner_card_test.cpp: vorlane-run.exe as a child process against the
 * rig's test cards: its output against the reader pane for the same script,
 * and the cases it shares with the native runner (tests/runner_cases.h):
 * its exit status for every way a run ends, the wait for a card inserted
 * after the start, and the Console lines of -c.
 */
#include <gtest/gtest.h>

#include <regex>
#include <string>

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

class RunnerCard : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testcard_remove(0)) << "the card rig is not running (scripts/rig start)";
        ASSERT_TRUE(testcard_remove(1));
        testcard_reset_state(0);
        scratch_.enter();
    }
    void TearDown() override {
        scratch_.leave();
        testcard_reset_state(0);
        testcard_remove(0);
        testcard_remove(1);
    }
    std::string command(const std::string &arguments) {
        return "\"" + process_own_dir() + "\\vorlane-run.exe\" " + arguments;
    }
    ChildResult run(const std::string &arguments) {
        return process_run(command(arguments), scratch_.dir());
    }
    HarnessScratch scratch_;
};

/* The shared cases' side on Windows: CreateProcess, the harness's cards. */
struct RunnerWinOps {
    std::string dir;
    const char *newline = "\r\n"; /* standard error is a text stream */
    std::string control(int reader, const std::string &line) {
        return testcard_command(reader, line);
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
