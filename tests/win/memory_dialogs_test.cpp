/*
 * memory_dialogs_test.cpp: the memory and tag dialogs without a card: what
 * they show on opening, what they keep between openings, and how the start
 * address moves when the first chunk cannot be exchanged.
 */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

class MemoryDialogs : public testing::Test {
  protected:
    void SetUp() override {
        harness_frame_open();
    }
    void TearDown() override {
        harness_frame_close();
    }
};

/* WRITE of `path` (typed into the open dialog); the address field after. */
static std::string write_file(HWND dialog, const std::string &path, int answer_box = 0) {
    dialog_click_posted(dialog, IDC_WRITE_WRITE);
    file_dialog_answer("Loading a File", path, answer_box);
    dialog_settle(dialog);
    return dialog_get(dialog, IDC_WRITE_ADDRESS);
}

TEST_F(MemoryDialogs, WriteOpensAtZeroWithTheFilesToWriteFilter) {
    app.gui.memory_write_address = 500;
    std::string address;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", memory_write_dialog_proc, [&](HWND dialog) {
        address = dialog_get(dialog, IDC_WRITE_ADDRESS);
    }));
    EXPECT_EQ(address, "0");
    EXPECT_EQ(filter_text(app.gui.file_filter_buffer),
              "All  files   (*.*)|*.*|html files  (*.html)|*.html|html files  (*.htm)|*.htm|"
              "gif  files  (*.gif)|*.gif|jpeg files  (*.jpg)|*.jpg|"
              "applet files  (*.class)|*.class|");
    EXPECT_EQ(app.gui.file_dialog.lpstrFilter, app.gui.file_filter_buffer);
    EXPECT_STREQ(app.gui.file_dialog.lpstrDefExt, "txt");
}

/* With no card the first chunk fails; the address still moves on by one
   chunk, modulo 65536, and a typed address above 65535 is used modulo. */
TEST_F(MemoryDialogs, FailedFirstChunkMovesTheAddressByOneChunk) {
    std::string path = harness_temp_path("vorlane_mem_70.bin");
    ASSERT_TRUE(harness_file_write(path, std::string(70, 'w')));
    std::string memory_after, tag_after;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", memory_write_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_WRITE_ADDRESS, "131066"); /* 65530 + 65536 */
        memory_after = write_file(dialog, path);
    }));
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", tag_write_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_WRITE_ADDRESS, "6");
        tag_after = write_file(dialog, path);
    }));
    EXPECT_EQ(memory_after, "26");
    EXPECT_EQ(app.gui.memory_write_address, 26u);
    EXPECT_EQ(tag_after, "10");
    EXPECT_EQ(app.gui.tag_write_address, 10u);
}

TEST_F(MemoryDialogs, WriteOfAFileThatCannotBeReadTouchesNothing) {
    std::string empty = harness_temp_path("vorlane_mem_empty.bin");
    ASSERT_TRUE(harness_file_write(empty, ""));
    std::string missing = harness_temp_path("vorlane_mem_missing.bin");
    std::string after_empty, after_missing;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_WRITE, "Write", memory_write_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_WRITE_ADDRESS, "100");
        after_empty = write_file(dialog, empty);
        dialog_set(dialog, IDC_WRITE_ADDRESS, "200");
        /* The open dialog offers to create it, but nothing is created. */
        after_missing = write_file(dialog, missing, IDYES);
    }));
    EXPECT_EQ(after_empty, "100");
    EXPECT_EQ(after_missing, "200");
    EXPECT_EQ(app.gui.memory_write_address, 200u);
}

TEST_F(MemoryDialogs, ReadKeepsSizeAndTextFormatButNotTheAddress) {
    std::string first_address, first_size, after_read, reopened_address, reopened_size;
    UINT first_check = 9, reopened_check = 9;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        first_address = dialog_get(dialog, IDC_READ_ADDRESS);
        first_size = dialog_get(dialog, IDC_READ_SIZE);
        first_check = IsDlgButtonChecked(dialog, IDC_READ_TEXT_FORMAT);
        dialog_set(dialog, IDC_READ_ADDRESS, "65530");
        dialog_set(dialog, IDC_READ_SIZE, "20");
        dialog_toggle(dialog, IDC_READ_TEXT_FORMAT);
        dialog_click(dialog, IDC_READ_READ);
        after_read = dialog_get(dialog, IDC_READ_ADDRESS);
    }));
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        reopened_address = dialog_get(dialog, IDC_READ_ADDRESS);
        reopened_size = dialog_get(dialog, IDC_READ_SIZE);
        reopened_check = IsDlgButtonChecked(dialog, IDC_READ_TEXT_FORMAT);
    }));
    EXPECT_EQ(first_address, "0");
    EXPECT_EQ(first_size, "256");
    EXPECT_EQ(first_check, (UINT)BST_UNCHECKED);
    EXPECT_EQ(after_read, "10"); /* 65530 + 16 wraps */
    EXPECT_EQ(reopened_address, "0");
    EXPECT_EQ(reopened_size, "20");
    EXPECT_EQ(reopened_check, (UINT)BST_CHECKED);
    EXPECT_EQ(app.gui.memory_read_text_format, 1);
    EXPECT_EQ(app.gui.tag_read_text_format, 0);
    EXPECT_EQ(app.gui.tag_read_size, 256);
    EXPECT_FALSE(app.gui.memory_dump_file);
}

/* A size of 0, or one negative as a signed number, reads nothing: the
   address keeps its (16-bit) value. A field without a number keeps the
   previous value. */
TEST_F(MemoryDialogs, ReadOfNothingKeepsTheAddress) {
    std::string after_zero, after_negative, after_words;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", tag_read_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_READ_ADDRESS, "40");
        dialog_set(dialog, IDC_READ_SIZE, "0");
        dialog_click(dialog, IDC_READ_READ);
        after_zero = dialog_get(dialog, IDC_READ_ADDRESS);
        dialog_set(dialog, IDC_READ_ADDRESS, "70000");
        dialog_set(dialog, IDC_READ_SIZE, "4294967295");
        dialog_click(dialog, IDC_READ_READ);
        after_negative = dialog_get(dialog, IDC_READ_ADDRESS);
        dialog_set(dialog, IDC_READ_ADDRESS, "no number");
        dialog_set(dialog, IDC_READ_SIZE, "none");
        dialog_click(dialog, IDC_READ_READ);
        after_words = dialog_get(dialog, IDC_READ_ADDRESS);
    }));
    EXPECT_EQ(after_zero, "40");
    EXPECT_EQ(after_negative, "4464");
    EXPECT_EQ(app.gui.tag_read_size, -1);
    EXPECT_EQ(after_words, "4464");
}

TEST_F(MemoryDialogs, CancelledDumpDialogReadsNothing) {
    std::string after;
    FileDialogSeen seen;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_READ_ADDRESS, "48");
        dialog_click_posted(dialog, IDC_READ_SAVE);
        seen = file_dialog_answer("Dumping card content in a file", "");
        dialog_settle(dialog);
        after = dialog_get(dialog, IDC_READ_ADDRESS);
    }));
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.proposed, "Smart");
    EXPECT_EQ(after, "48");
    EXPECT_STREQ(app.gui.memory_dump_path, "Smart");
}
