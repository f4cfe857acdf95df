/*
 * script_test.cpp: script runs and the script dialog without a card: the
 * lines a run prints, its directives, its log files, its end when the reader
 * is not ready, the count of runs, and what EXEC, QUIT and Browse do.
 */
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <functional>

#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "resources/names.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/script.h"
#include "tests/win/harness/frame.h"

/* A frame and a reader pane of its own (no reader window, so no card state
   machine prints between the lines of a run). */
class ScriptTest : public testing::Test {
  protected:
    void SetUp() override {
        scratch_.enter();
        harness_frame_open();
        edit_ = CreateWindowExA(0, "edit", NULL, WS_POPUP | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                                400, 300, NULL, NULL, GetModuleHandleA(NULL), NULL);
        ASSERT_NE(edit_, (HWND)0);
        pane_edit_prepare(edit_);
        pane_reset(0);
        app.gui.panes[PANE_READER].edit = edit_;
    }
    void TearDown() override {
        EXPECT_TRUE(harness_scripts_wait(20000)) << "a run did not end";
        app.gui.panes[PANE_READER].edit = 0;
        DestroyWindow(edit_);
        harness_frame_close();
        scratch_.leave();
    }
    /* Runs the script in file name to its end; the path text stays alive
       for the run, as start_script requires. */
    std::string run(const char *name) {
        snprintf(path_, sizeof path_, "%s", name);
        EXPECT_EQ(start_script(path_), 1);
        EXPECT_TRUE(harness_scripts_wait(20000));
        return script_pane_text();
    }
    std::string run_text(const std::string &text) {
        EXPECT_TRUE(harness_file_write("s.txt", text));
        return run("s.txt");
    }

    HarnessScratch scratch_;
    HWND edit_ = 0;
    char path_[MAX_PATH] = "";
};

TEST_F(ScriptTest, MissingFilePrintsNotFoundAndTheReadyLineOnly) {
    gui_session()->xfer_total_ms = 55;
    strcpy(gui_session()->script_name, "before");
    EXPECT_EQ(
        run("nofile.txt"),
        "\r\nLoading script nofile.txt ...\r\nFile not found\r\n\r\nVelmo:> Card is ready\r\n");
    EXPECT_EQ(gui_session()->xfer_total_ms, 55);
    EXPECT_STREQ(gui_session()->script_name, "before");
}

TEST_F(ScriptTest, EmptyFileRunsToTheEndAndMarksTheRunStart) {
    gui_session()->xfer_total_ms = 55;
    EXPECT_EQ(run_text(""), "\r\nLoading script s.txt ...\r\n" + script_end_text());
    EXPECT_EQ(gui_session()->xfer_total_ms, 0);
    EXPECT_STREQ(gui_session()->script_name, path_);
}

static bool script_run_named(void) {
    return strcmp(gui_session()->script_name, "s.txt") == 0;
}

/* A run names itself with its own copy of the path: the caller's text may
   change while the run goes on (a Browse in the script dialog) without
   changing the name the Console shows for the run. */
TEST_F(ScriptTest, RunKeepsItsOwnNameWhileTheCallersTextChanges) {
    ASSERT_TRUE(harness_file_write("s.txt", "/W 300\n"));
    snprintf(path_, sizeof path_, "s.txt");
    ASSERT_EQ(start_script(path_), 1);
    ASSERT_TRUE(harness_pump_until(script_run_named, 10000));
    snprintf(path_, sizeof path_, "other.txt");
    EXPECT_TRUE(harness_scripts_wait(20000));
    EXPECT_STREQ(gui_session()->script_name, "s.txt");
}

/* A byte 0x1A ends a file read in text mode: what follows it never runs. */
TEST_F(ScriptTest, ControlZEndsTheScript) {
    std::string text = run_text("// before\r\n\x1A// after\r\n");
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\n// before\r\n" + script_end_text());
}

TEST_F(ScriptTest, CommentsWaitsAndSkippedLines) {
    std::string text = run_text("/W\r\n"
                                "// first comment\r\n"
                                "/W 40\r\n"
                                "x\r\n"
                                "\r\n"
                                "/W\n"
                                "/OFX\n"
                                "/CLOS\n"
                                "/T=1\n"
                                "/O\n"
                                "00 A4 G0 00\n"
                                "/W -1\n"
                                "/W\n"
                                "/W100\n"
                                "//last");
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\n"
                    "Waiting 0 ms\r\n"
                    "// first comment\r\n"
                    "Waiting 40 ms\r\n"
                    "Waiting 40 ms\r\n"
                    "Waiting -1 ms\r\n"
                    "Waiting -1 ms\r\n"
                    "Waiting -1 ms\r\n"
                    "//last\r\n" +
                        script_end_text());
    /* Two pauses of 40 ms; a negative number pauses not at all. */
    EXPECT_GE(script_pane_time(), 60);
    EXPECT_LT(script_pane_time(), 5000);
}

TEST_F(ScriptTest, NoCardEndsTheRunAtTheFirstApduLine) {
    std::string text = run_text("00A4040000\r\n// never\r\n00B0000000\r\n");
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\n"
                    "Sending\r\n00A4040000\r\n"
                    "\r\nReader is busy, try later...\r\n" +
                        script_end_text());
}

TEST_F(ScriptTest, TraceOffHidesSendingButNotTheBusyLine) {
    std::string text = run_text("/OFF\n/W 1\n00A4040000\n");
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\nWaiting 1 ms\r\n"
                    "\r\nReader is busy, try later...\r\n" +
                        script_end_text());
    script_pane_clear();
    text = run_text("/OFF\n/ON\n   \n");
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\nSending\r\n"
                    "\r\nReader is busy, try later...\r\n" +
                        script_end_text());
}

TEST_F(ScriptTest, OpenWithoutNameEmptiesNull) {
    EXPECT_TRUE(harness_file_write("null", "old data"));
    std::string text = run_text("/OPEN\n");
    EXPECT_EQ(text,
              "\r\nLoading script s.txt ...\r\nLogging data in file null\r\n" + script_end_text());
    EXPECT_EQ(harness_file_read("null"), "");
}

TEST_F(ScriptTest, SecondOpenDoesNothingAndReopenKeepsTheName) {
    EXPECT_TRUE(harness_file_write("a.bin", "abc"));
    std::string text = run_text("/OPEN a.bin\n/OPEN b.bin\n/CLOSE\n/CLOSE\n/OPEN\n/OPX\n");
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\n"
                    "Logging data in file a.bin\r\n"
                    "Logging data in file a.bin\r\n" +
                        script_end_text());
    EXPECT_EQ(harness_file_read("a.bin"), "");
    EXPECT_FALSE(harness_file_exists("b.bin"));
}

TEST_F(ScriptTest, UnopenableAndOverlongLogNamesAreRefusedQuietly) {
    std::string long_name(300, 'L');
    std::string text = run_text("/OPEN nodir\\x.bin\n/OPEN " + long_name + "\n/OPEN\n/CLOSE\n");
    /* The refused overlong name is not kept; the failed one is. */
    EXPECT_EQ(text, "\r\nLoading script s.txt ...\r\n" + script_end_text());
    script_pane_clear();
    text = run_text("/OPEN " + long_name + "\n/OPEN\n");
    EXPECT_EQ(text,
              "\r\nLoading script s.txt ...\r\nLogging data in file null\r\n" + script_end_text());
}

TEST_F(ScriptTest, RunsAreCountedUntilTheirLastLine) {
    EXPECT_TRUE(harness_file_write("slow.txt", "/W 300\n"));
    snprintf(path_, sizeof path_, "slow.txt");
    start_script(path_);
    start_script(path_);
    EXPECT_EQ(platform_counter_read(&app.script_runs), 2);
    EXPECT_EQ(script_runs_wait(0), 0);
    /* The GUI thread waits and still takes in what the runs print. */
    EXPECT_EQ(script_runs_wait(10000), 1);
    EXPECT_EQ(platform_counter_read(&app.script_runs), 0);
    std::string text = script_pane_text();
    EXPECT_EQ(script_count(text, "Loading script slow.txt ..."), 2);
    EXPECT_EQ(script_count(text, "Velmo:> Card is ready"), 2);
}

TEST_F(ScriptTest, CardScriptIsTheRecordsOrTheAutomaticOne) {
    EXPECT_TRUE(harness_file_write("auto.txt", "// automatic\n"));
    EXPECT_TRUE(harness_file_write("own.txt", "// own\n"));
    strcpy(app.auto_script_name, "auto.txt");
    strcpy(app.atr_table[0].script, "own.txt");
    app.atr_count = 1;
    app.gui.reader.atr_index = -1;
    EXPECT_EQ(run_card_script(), 0);
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_EQ(script_pane_text(),
              "\r\nLoading script auto.txt ...\r\n// automatic\r\n" + script_end_text());
    EXPECT_STREQ(gui_session()->script_name, app.auto_script_name);
    script_pane_clear();
    app.gui.reader.atr_index = 0;
    run_card_script();
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_EQ(script_pane_text(),
              "\r\nLoading script own.txt ...\r\n// own\r\n" + script_end_text());
    EXPECT_STREQ(gui_session()->script_name, app.atr_table[0].script);
}

/* --- The script dialog, driven from a second thread while the GUI thread
   runs it modally. --- */

/* Runs the script dialog modally while drive works on it; the test fails
   when the dialog never showed. */
static void script_dialog_run(const std::function<void(HWND)> &drive) {
    EXPECT_TRUE(dialog_drive(RES_DIALOG_SCRIPT, "Execute a Script", script_dialog_proc, drive));
}

TEST_F(ScriptTest, ExecRunsTheShownNameWhateverWasTyped) {
    std::string shown;
    script_dialog_run([&](HWND dialog) {
        shown = dialog_get(dialog, IDC_SCRIPT_NAME);
        dialog_set(dialog, IDC_SCRIPT_NAME, "typed.txt");
        dialog_click(dialog, IDC_SCRIPT_EXEC);
    });
    EXPECT_EQ(shown, "script.txt");
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_EQ(script_pane_text(), "\r\nLoading script script.txt ...\r\nFile not found"
                                  "\r\n\r\nVelmo:> Card is ready\r\n");
    EXPECT_STREQ(app.gui.script_file_name, "script.txt");
}

TEST_F(ScriptTest, QuitRunsNothing) {
    script_dialog_run([&](HWND dialog) { dialog_click(dialog, IDC_SCRIPT_QUIT); });
    harness_pump(100);
    EXPECT_EQ(platform_counter_read(&app.script_runs), 0);
    EXPECT_EQ(harness_window_text(edit_), "");
}

TEST_F(ScriptTest, ExecTwiceStartsTwoRunsAtOnce) {
    /* long enough to outlast the second opening of the dialog */
    EXPECT_TRUE(harness_file_write("script.txt", "/W 1500\n"));
    for (int i = 0; i < 2; i++)
        script_dialog_run([&](HWND dialog) { dialog_click(dialog, IDC_SCRIPT_EXEC); });
    EXPECT_EQ(platform_counter_read(&app.script_runs), 2);
    ASSERT_TRUE(harness_scripts_wait(10000));
    std::string text = script_pane_text();
    EXPECT_EQ(script_count(text, "Waiting 1500 ms"), 2);
    EXPECT_EQ(script_count(text, "End of script"), 2);
}

/* Browse answered in the open dialog ("Read Script File") with path, or
   cancelled when path is empty; then the name field and QUIT. */
static std::string script_dialog_browse(const std::string &path) {
    std::string after;
    script_dialog_run([&](HWND dialog) {
        dialog_click_posted(dialog, IDC_SCRIPT_BROWSE);
        EXPECT_TRUE(file_dialog_answer("Read Script File", path).shown);
        dialog_settle(dialog);
        after = dialog_get(dialog, IDC_SCRIPT_NAME);
        dialog_click(dialog, IDC_SCRIPT_QUIT);
    });
    return after;
}

/* Browse picks a file through the open dialog; the choice stays after QUIT
   and is shown and run at the next opening. */
TEST_F(ScriptTest, BrowseChoiceStaysForTheNextOpening) {
    EXPECT_TRUE(harness_file_write("chosen.txt", "// chosen\n"));
    std::string full = std::string(scratch_.dir()) + "\\chosen.txt";
    EXPECT_STRCASEEQ(script_dialog_browse(full).c_str(), full.c_str());
    EXPECT_STRCASEEQ(app.gui.script_file_name, full.c_str());
    EXPECT_EQ(platform_counter_read(&app.script_runs), 0);

    std::string shown;
    script_dialog_run([&](HWND dialog) {
        shown = dialog_get(dialog, IDC_SCRIPT_NAME);
        dialog_click(dialog, IDC_SCRIPT_EXEC);
    });
    EXPECT_STRCASEEQ(shown.c_str(), full.c_str());
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_NE(script_pane_text().find("// chosen\r\n"), std::string::npos);
}

TEST_F(ScriptTest, CancelledBrowseKeepsTheName) {
    EXPECT_EQ(script_dialog_browse(""), "script.txt");
    EXPECT_STREQ(app.gui.script_file_name, "script.txt");
}
