/*
 * command_dialog_test.cpp: the Command dialog without a card: its fields and
 * stored texts, NEW and Cancel, and APDU files written by SAVE and loaded by
 * READ, including files that were not written by SAVE.
 */
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

class CommandDialog : public testing::Test {
  protected:
    void SetUp() override {
        harness_frame_open();
    }
    void TearDown() override {
        harness_frame_close();
    }
};

struct Fields {
    std::string comment, data, count;
};

static Fields fields_of(HWND dialog) {
    return {dialog_get(dialog, IDC_CMD_COMMENT), dialog_get(dialog, IDC_CMD_DATA),
            dialog_get(dialog, IDC_CMD_COUNT)};
}

static bool command_drive(const std::function<void(HWND)> &drive) {
    return dialog_drive(RES_DIALOG_COMMAND, "Command", command_dialog_proc, drive);
}

/* READ of `path` through the open dialog; the fields afterwards. */
static Fields command_read_file(HWND dialog, const std::string &path) {
    dialog_click_posted(dialog, IDC_CMD_READ);
    file_dialog_answer("Read Apdu File", path);
    dialog_settle(dialog);
    return fields_of(dialog);
}

TEST_F(CommandDialog, OpensWithTheStoredTextsAndNewThenCancelKeepsThem) {
    Fields first, after_new, reopened;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        first = fields_of(dialog);
        dialog_set(dialog, IDC_CMD_DATA, "80 10 00 00");
        dialog_click(dialog, IDC_CMD_NEW);
        after_new = fields_of(dialog);
        dialog_click(dialog, IDC_CMD_CANCEL);
    }));
    ASSERT_TRUE(command_drive([&](HWND dialog) { reopened = fields_of(dialog); }));
    EXPECT_EQ(first.comment, "Select Applet");
    EXPECT_EQ(first.data, "00 A4 04 00 05 01 02 03 04 05");
    EXPECT_EQ(first.count, "0");
    EXPECT_EQ(after_new.comment, "");
    EXPECT_EQ(after_new.data, "");
    EXPECT_EQ(after_new.count, "0");
    EXPECT_EQ(reopened.comment, "Select Applet");
    EXPECT_EQ(reopened.data, "00 A4 04 00 05 01 02 03 04 05");
    EXPECT_EQ(reopened.count, "0");
}

/* Without a card the exchange fails, but the texts are stored and the count
   shown; a faulty text changes neither count, and SEND AND QUIT still closes. */
TEST_F(CommandDialog, SendStoresTheTextsAndCountsOnlySoundText) {
    Fields after_send, after_faulty;
    bool closed_by_send_and_quit = false;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        dialog_set(dialog, IDC_CMD_COMMENT, "read three");
        dialog_set(dialog, IDC_CMD_DATA, "00B0000003");
        dialog_click(dialog, IDC_CMD_SEND);
        after_send = fields_of(dialog);
        dialog_set(dialog, IDC_CMD_DATA, "00 GG");
        dialog_click(dialog, IDC_CMD_SEND);
        after_faulty = fields_of(dialog);
        dialog_click(dialog, IDC_CMD_SEND_QUIT);
        closed_by_send_and_quit = dialog_wait_gone(dialog, 2000);
    }));
    EXPECT_EQ(after_send.count, "5");
    EXPECT_EQ(after_faulty.count, "5");
    EXPECT_TRUE(closed_by_send_and_quit);
    EXPECT_STREQ(app.gui.apdu_comment, "read three");
    EXPECT_STREQ(app.gui.apdu_text, "00 GG");
    EXPECT_EQ(app.gui.apdu_length, 5);
}

TEST_F(CommandDialog, SaveWritesTheApduFileAndReadGivesTheSameTexts) {
    std::string path = harness_temp_path("vorlane_cmd_saved.txt");
    std::string long_comment(1500, 'c'); /* a field may hold more than is stored */
    Fields loaded;
    FileDialogSeen save_seen;
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        dialog_set(dialog, IDC_CMD_COMMENT, "select my applet");
        dialog_set(dialog, IDC_CMD_DATA, "00 a4 04 00 02 3F 00");
        dialog_click_posted(dialog, IDC_CMD_SAVE);
        save_seen = file_dialog_answer("Write Apdu File", path);
        dialog_settle(dialog);
        dialog_click(dialog, IDC_CMD_NEW);
        loaded = command_read_file(dialog, path);
    }));
    EXPECT_EQ(save_seen.proposed, "pdu.txt");
    EXPECT_EQ(harness_file_read(path), "//select my applet\r\n00 a4 04 00 02 3F 00\r\n");
    EXPECT_EQ(loaded.comment, "select my applet");
    EXPECT_EQ(loaded.data, "00 a4 04 00 02 3F 00");
    EXPECT_EQ(loaded.count, "0");
    EXPECT_STREQ(app.gui.apdu_comment, "select my applet");
    EXPECT_STREQ(app.gui.apdu_text, "00 a4 04 00 02 3F 00");
    EXPECT_STREQ(app.gui.apdu_file_path, path.c_str());
}

TEST_F(CommandDialog, SaveWritesFieldsOfAnyLength) {
    std::string path = harness_temp_path("vorlane_cmd_long.txt");
    std::string comment(1500, 'c');
    std::string data(3000, '0');
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        dialog_set(dialog, IDC_CMD_COMMENT, comment);
        dialog_set(dialog, IDC_CMD_DATA, data);
        dialog_click_posted(dialog, IDC_CMD_SAVE);
        file_dialog_answer("Write Apdu File", path);
        dialog_settle(dialog);
    }));
    EXPECT_EQ(harness_file_read(path), "//" + comment + "\r\n" + data + "\r\n");
}

/* APDU files written by hand: the first two characters and the last one of
   the first line are dropped, the line end of the second; lines are read
   whole and cut to the 1,023 characters the stored texts hold. */
TEST_F(CommandDialog, ReadLoadsHandWrittenFiles) {
    struct Case {
        const char *name;
        std::string bytes;
        std::string comment, data;
    };
    std::string long_line(2000, 'L');
    std::vector<Case> cases = {
        {"hash comment", "# hello\r\n00 A4\r\n", "hello", "00 A4"},
        {"bare slashes", "//\r\n00 B0 00 00 04\r\n", "", "00 B0 00 00 04"},
        {"one line", "//only a comment\r\n", "only a comment", ""},
        {"LF line ends", "//unix\n80 CA 9F 7F 00\n", "unix", "80 CA 9F 7F 00"},
        {"empty file", "", "", ""},
        {"no line end at all", "//hello", "hell", ""},
        {"second line without its end", "//c\r\n00 A4", "c", "00 A"},
        {"three characters", "//x", "", ""},
        {"third line ignored", "//a b\r\n01 02\r\n03 04\r\n", "a b", "01 02"},
        {"long lines cut", "//" + long_line + "\r\n" + long_line + "\r\n",
         long_line.substr(0, 1023), long_line.substr(0, 1023)},
        {"long line without end", long_line, long_line.substr(2, 1023), ""},
    };
    std::vector<Fields> loaded(cases.size());
    ASSERT_TRUE(command_drive([&](HWND dialog) {
        for (size_t i = 0; i < cases.size(); i++) {
            std::string path = harness_temp_path("vorlane_cmd_case.txt");
            harness_file_write(path, cases[i].bytes);
            dialog_set(dialog, IDC_CMD_COMMENT, "before");
            dialog_set(dialog, IDC_CMD_DATA, "before");
            loaded[i] = command_read_file(dialog, path);
        }
    }));
    for (size_t i = 0; i < cases.size(); i++) {
        EXPECT_EQ(loaded[i].comment, cases[i].comment) << cases[i].name;
        EXPECT_EQ(loaded[i].data, cases[i].data) << cases[i].name;
    }
}
