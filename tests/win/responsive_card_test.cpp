/*
 * responsive_card_test.cpp: the GUI thread keeps answering while the test
 * card is slow (a script's exchange, a Command dialog SEND, a memory READ),
 * and QUIT, Esc or the close box stop a READ after its chunk in flight.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

class ResponsiveCard : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dialog_card_open());
    }
    void TearDown() override {
        testcard_delay(0, 0);
        dialog_card_close();
    }
};

TEST_F(ResponsiveCard, GuiAnswersDuringASlowScriptSendAndRead) {
    const int delay = 1500;
    std::string script = harness_temp_path("vorlane_slow.txt");
    ASSERT_TRUE(harness_file_write(script, "00B0000004\r\n"));
    /* A script run, or a dialog whose driver types one field and clicks. */
    struct Case {
        const char *name, *dialog, *title;
        DLGPROC proc;
        int field;
        const char *text;
        int button;
        const char *shown; /* a line the exchange leaves in the reader pane */
    } cases[] = {
        {"script", 0, 0, 0, 0, 0, 0, "End of script"},
        {"SEND", RES_DIALOG_COMMAND, "Command", command_dialog_proc, IDC_CMD_DATA, "00B0000002",
         IDC_CMD_SEND, "Reader Status: 0"},
        {"READ", RES_DIALOG_READ, "Read", memory_read_dialog_proc, IDC_READ_SIZE, "4",
         IDC_READ_READ, "00 00 00 00 ...."},
    };
    for (const Case &c : cases) {
        harness_pane_clear(app.gui.panes[PANE_READER].edit, PANE_READER);
        testcard_log_clear(0);
        ASSERT_TRUE(testcard_delay(0, delay));
        DWORD start = GetTickCount();
        DWORD worst = harness_worst_answer_ms(app.gui.panes[PANE_READER].edit, [&] {
            if (!c.dialog) {
                start_script(script.c_str());
                harness_scripts_wait(20000);
                return;
            }
            dialog_drive(c.dialog, c.title, c.proc, [&](HWND dialog) {
                dialog_set(dialog, c.field, c.text);
                dialog_click(dialog, c.button);
            });
        });
        DWORD took = GetTickCount() - start;
        testcard_delay(0, 0);
        EXPECT_GE(took, (DWORD)delay - 100) << c.name << ": the card was not slow";
        EXPECT_LT(worst, 400u) << c.name;
        EXPECT_EQ(card_count(card_reader_lines(), c.shown), 1) << c.name;
        EXPECT_EQ(dialog_card_commands().size(), 1u) << c.name;
    }
    /* The reader window closed mid-exchange goes at once; the card and the
       context are dropped once the exchange has ended. */
    ASSERT_TRUE(testcard_delay(0, delay));
    start_script(script.c_str());
    harness_pump(300);
    DWORD start = GetTickCount();
    SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)app.gui.panes[PANE_READER].window, 0);
    EXPECT_LT(GetTickCount() - start, 400u);
    EXPECT_EQ(app.gui.reader.drop_pending, 1);
    ASSERT_TRUE(harness_scripts_wait(20000));
    EXPECT_EQ(app.gui.reader.drop_pending, 0);
    EXPECT_EQ(gui_session()->card_state, CARD_NO_CONTEXT);
}

/* READ AND SAVE of ten slow chunks, stopped by QUIT, Esc or the close box during
   the second: no further chunk is asked for, the pane ends the read as
   usual and the dump holds exactly the chunks shown. */
TEST_F(ResponsiveCard, QuitStopsAReadAfterTheChunkInFlight) {
    std::vector<unsigned char> memory(160);
    for (size_t i = 0; i < memory.size(); i++)
        memory[i] = (unsigned char)('A' + i % 26);
    ASSERT_TRUE(testcard_memory_set(0, 0, memory));
    struct Case {
        const char *name;
        int to_item; /* the dialog's control that gets the message, 0 for the dialog */
        UINT message;
        WPARAM wparam;
    } cases[] = {{"QUIT", 0, WM_COMMAND, MAKEWPARAM(IDC_READ_QUIT, BN_CLICKED)},
                 {"Esc", IDC_READ_QUIT, WM_KEYDOWN, VK_ESCAPE},
                 {"close box", 0, WM_CLOSE, 0}};
    for (const Case &c : cases) {
        harness_pane_clear(app.gui.panes[PANE_READER].edit, PANE_READER);
        testcard_log_clear(0);
        ASSERT_TRUE(testcard_delay(0, 400));
        std::string dump = harness_temp_path("vorlane_stopped.cfg");
        DeleteFileA(dump.c_str());
        bool gone = false;
        ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND d) {
            dialog_set(d, IDC_READ_SIZE, "160");
            dialog_click_posted(d, IDC_READ_SAVE);
            file_dialog_answer("Dumping card content in a file", dump);
            Sleep(600); /* the second chunk is in flight */
            PostMessageA(c.to_item ? GetDlgItem(d, c.to_item) : d, c.message, c.wparam, 0);
            gone = dialog_wait_gone(d, 5000);
        }));
        EXPECT_TRUE(gone) << c.name;
        harness_pump(900); /* a read still going would ask for two more chunks */
        testcard_delay(0, 0);
        size_t chunks = dialog_card_commands().size();
        EXPECT_GE(chunks, 1u) << c.name;
        EXPECT_LT(chunks, 5u) << c.name;
        std::vector<std::string> lines = card_reader_lines();
        ASSERT_EQ(lines.size(), chunks + 1) << c.name;
        EXPECT_EQ(lines.back(), "Velmo:> Card is ready") << c.name;
        EXPECT_EQ(lines[0].substr(0, 6), "41 42 ") << c.name;
        EXPECT_EQ(harness_file_read(dump),
                  std::string(memory.begin(), memory.begin() + 16 * chunks))
            << c.name;
    }
}
