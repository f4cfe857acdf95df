/*
 * command_dialog_card_test.cpp: the Command dialog sending to the rig's test
 * card, read back in the reader pane as the user sees it.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/testcard.h"
#include "tests/win/harness/frame.h"

class CommandDialogCard : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dialog_card_open());
    }
    void TearDown() override {
        dialog_card_close();
    }
};

static bool command_drive(const std::function<void(HWND)> &drive) {
    return dialog_drive(RES_DIALOG_COMMAND, "Command", command_dialog_proc, drive);
}

/* SEND with `text` in the data field; the reader pane's lines afterwards
   (the pane is emptied first). */
static std::vector<std::string> command_send(HWND dialog, const std::string &text,
                                             int id = IDC_CMD_SEND) {
    SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
    SendMessageA(dialog, WM_NULL, 0, 0);
    dialog_set(dialog, IDC_CMD_DATA, text);
    dialog_click(dialog, id);
    /* A closed dialog hands the GUI thread back to the test, which then waits
       for this thread: the pane is read there instead. */
    if (id == IDC_CMD_SEND_QUIT)
        return {};
    return harness_lines(app.gui.panes[PANE_READER].edit);
}

TEST_F(CommandDialogCard, SendOfTheInitialTextShowsCommandAndAnswer) {
    std::vector<std::string> lines;
    std::string count;
    /* The card answers this one command with the status word alone. */
    ASSERT_TRUE(testcard_force_status(0, 0x90, 0x00, 1));
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        dialog_click(dialog, IDC_CMD_SEND);
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
        count = dialog_get(dialog, IDC_CMD_COUNT);
    }));
    std::vector<std::string> expected = {"",
                                         "Sending 00 A4 04 00 05 01 02 03 04 05 ",
                                         "Received",
                                         "90 00 ",
                                         "Reader Status: 0",
                                         "",
                                         "Velmo:> Card is ready"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(count, "10");
    EXPECT_EQ(app.gui.apdu_length, 10);
    std::vector<std::string> commands = dialog_card_commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], "00A40400050102030405");
}

TEST_F(CommandDialogCard, SelectAnswerWithDataAndSixteenByteLines) {
    std::vector<std::string> select, sixteen, eighteen;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        select = command_send(dialog, "00a4040005 0102030405");
        sixteen = command_send(dialog, "80 F0 00 10");
        eighteen = command_send(dialog, "80F00012");
    }));
    std::vector<std::string> expected_select = {"",
                                                "Sending 00 A4 04 00 05 01 02 03 04 05 ",
                                                "Received",
                                                "6F 07 84 05 01 02 03 04 05 90 00 ",
                                                "Reader Status: 0",
                                                "",
                                                "Velmo:> Card is ready"};
    EXPECT_EQ(select, expected_select);
    /* 16 bytes fill the line, whose end then stands before an empty line. */
    std::vector<std::string> expected_sixteen = {
        "", "Sending 80 F0 00 10 ", "Received", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 90 00 ",
        "", "Reader Status: 0",     "",         "Velmo:> Card is ready"};
    EXPECT_EQ(sixteen, expected_sixteen);
    std::vector<std::string> expected_eighteen = {
        "",         "Sending 80 F0 00 12 ",
        "Received", "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ",
        "90 00 ",   "Reader Status: 0",
        "",         "Velmo:> Card is ready"};
    EXPECT_EQ(eighteen, expected_eighteen);
}

TEST_F(CommandDialogCard, FaultyTextSendsAndPrintsNothingAndSendAndQuitStillCloses) {
    std::vector<std::string> lines;
    std::string count;
    bool closed = false;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        lines = command_send(dialog, "00 GG", IDC_CMD_SEND);
        count = dialog_get(dialog, IDC_CMD_COUNT);
        command_send(dialog, "00 GG", IDC_CMD_SEND_QUIT);
        closed = dialog_wait_gone(dialog, 2000);
    }));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(count, "0");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(harness_lines(app.gui.panes[PANE_READER].edit).empty());
    EXPECT_TRUE(dialog_card_commands().empty());
}

/* An empty field is a zero-length command: it is passed on, the platform
   refuses it, and the user reads the bare "Sending " line and the busy line;
   nothing reaches the card and the count shows 0. */
TEST_F(CommandDialogCard, EmptyTextIsAZeroLengthCommand) {
    std::vector<std::string> lines;
    std::string count;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        command_send(dialog, "00 A4 04 00 00");
        testcard_log_clear(0);
        lines = command_send(dialog, "");
        count = dialog_get(dialog, IDC_CMD_COUNT);
    }));
    std::vector<std::string> expected = {"", "Sending ", "Reader is busy, try later..."};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(count, "0");
    EXPECT_EQ(app.gui.apdu_length, 0);
    EXPECT_TRUE(dialog_card_commands().empty());
}

TEST_F(CommandDialogCard, SendWithoutACardSaysTheReaderIsBusy) {
    ASSERT_TRUE(testcard_remove(0));
    ASSERT_TRUE(harness_pump_until([] { return gui_session()->card_state != CARD_READY; }, 10000));
    harness_pump(1500); /* the removal's own lines come and go first */
    std::vector<std::string> lines;
    ASSERT_TRUE(
        command_drive([&](HWND dialog) { lines = command_send(dialog, "00 B0 00 00 04"); }));
    std::vector<std::string> expected = {"", "Sending 00 B0 00 00 04 ",
                                         "Reader is busy, try later..."};
    EXPECT_EQ(lines, expected);
}

/* SAVE onto a full disk (/dev/full): the file cannot be written whole, and
   the pane says so in the one line of the program's write errors. */
TEST_F(CommandDialogCard, SaveOntoAFullDiskIsReported) {
    std::vector<std::string> lines;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
        dialog_click_posted(dialog, IDC_CMD_SAVE);
        file_dialog_answer("Write Apdu File", "Z:\\dev\\full.", IDYES);
        dialog_settle(dialog);
        lines = harness_lines(app.gui.panes[PANE_READER].edit);
    }));
    EXPECT_EQ(lines, std::vector<std::string>({"!!! Error While Writing Z:\\dev\\full."}));
}

/* An extended-length answer is shown whole, 16 bytes a line; the pane
   keeps its last lines. */
TEST_F(CommandDialogCard, ExtendedResponseIsShownInFull) {
    std::vector<unsigned char> tail = {0xC0, 0xFF, 0xEE};
    ASSERT_TRUE(testcard_memory_set(0, 4095, tail));
    std::vector<std::string> lines;
    ASSERT_TRUE(
        command_drive([&](HWND dialog) { lines = command_send(dialog, "00 B0 00 00 00 10 02"); }));
    /* 4,098 bytes: 256 full lines, then 2 bytes of memory and the SW */
    ASSERT_GE(lines.size(), 5u);
    std::vector<std::string> last(lines.end() - 5, lines.end());
    EXPECT_EQ(last, std::vector<std::string>({"00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 C0 ",
                                              "FF EE 90 00 ", "Reader Status: 0", "",
                                              "Velmo:> Card is ready"}));
}
