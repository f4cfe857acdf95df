/*
 * file_dialogs_test.cpp: the shared open and save dialogs answered by
 * typing a name, the filter lists, the length of an open file, and the
 * dialog item routines.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <thread>

#include "app/app.h"
#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

class FileDialogs : public testing::Test {
  protected:
    void SetUp() override {
        harness_frame_open();
    }
    void TearDown() override {
        harness_frame_close();
    }
};

TEST_F(FileDialogs, StandardSetUpHasTheTextFilterAndTheRecordSizeOfThisBuild) {
    file_dialog_init(app.gui.frame_window);
    EXPECT_EQ(app.gui.file_dialog.lStructSize, sizeof(OPENFILENAMEA));
    EXPECT_EQ(app.gui.file_dialog.hwndOwner, app.gui.frame_window);
    EXPECT_EQ(filter_text(app.gui.file_dialog.lpstrFilter),
              "Text files  (*.TXT)|*.txt|All files   (*.*)|*.*|");
    EXPECT_EQ(app.gui.file_dialog.nFilterIndex, 0u);
    EXPECT_STREQ(app.gui.file_dialog.lpstrDefExt, "txt");
    EXPECT_EQ(app.gui.file_dialog.nMaxFile, 260u);
}

TEST_F(FileDialogs, FilterListIsCopiedAndAnOverlongOneKeepsWholePairs) {
    file_dialog_init_filter(app.gui.frame_window,
                            "Cfg files  (*.cfg)\0*.cfg\0All files   (*.*)\0*.*\0");
    EXPECT_EQ(app.gui.file_dialog.lpstrFilter, app.gui.file_filter_buffer);
    EXPECT_EQ(filter_text(app.gui.file_filter_buffer),
              "Cfg files  (*.cfg)|*.cfg|All files   (*.*)|*.*|");

    /* 10 pairs of 40 bytes each: only the first 6 (240 bytes) fit in 256. */
    std::string list;
    std::string expected;
    for (int i = 0; i < 10; i++) {
        char description[40];
        snprintf(description, sizeof description, "description number %02d xxxxxxxxxxx", i);
        list += description;
        list += '\0';
        list += "*.abc";
        list += '\0';
        if (i < 6)
            expected += std::string(description) + "|*.abc|";
    }
    list += '\0';
    memset(app.gui.file_filter_buffer, 'Z', sizeof app.gui.file_filter_buffer);
    file_dialog_init_filter(app.gui.frame_window, list.data());
    EXPECT_EQ(filter_text(app.gui.file_filter_buffer), expected);
}

/* A name typed without an extension gets the default extension "txt" while
   the filter on show is "*.*". (With a filter of one extension, such as the
   dump dialog's "*.cfg", this platform's dialog appends that extension
   itself.) */
TEST_F(FileDialogs, SaveAppendsTheDefaultExtension) {
    std::string base = harness_temp_path("vorlane_fd_dump");
    DeleteFileA((base + ".txt").c_str());
    file_dialog_init_filter(app.gui.frame_window,
                            "All  files   (*.*)\0*.*\0gif  files  (*.gif)\0*.gif\0");
    char path[PATH_SIZE] = "Smart";
    FileDialogSeen seen;
    std::thread answer([&] { seen = file_dialog_answer("Dumping card content in a file", base); });
    int chosen = choose_save_file(app.gui.frame_window, path, "Dumping card content in a file");
    answer.join();
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.proposed, "Smart");
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(std::string(path), base + ".txt");
}

TEST_F(FileDialogs, CancelledDialogLeavesThePath) {
    file_dialog_init(app.gui.frame_window);
    char path[PATH_SIZE] = "pdu.txt";
    FileDialogSeen seen;
    std::thread answer([&] { seen = file_dialog_answer("Read Apdu File", ""); });
    int chosen = choose_open_file(app.gui.frame_window, path, "Read Apdu File");
    answer.join();
    EXPECT_TRUE(seen.shown);
    EXPECT_EQ(seen.proposed, "pdu.txt");
    EXPECT_EQ(chosen, 0);
    EXPECT_STREQ(path, "pdu.txt");
}

TEST_F(FileDialogs, OpenOfAMissingFileAsksToCreateIt) {
    std::string missing = harness_temp_path("vorlane_fd_new.txt");
    file_dialog_init(app.gui.frame_window);
    char path[PATH_SIZE] = "";
    std::thread answer([&] { file_dialog_answer("Read Apdu File", missing, IDYES); });
    int chosen = choose_open_file(app.gui.frame_window, path, "Read Apdu File");
    answer.join();
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(std::string(path), missing);
}

TEST_F(FileDialogs, FileLengthKeepsThePositionAndRefusesAPipe) {
    std::string path = harness_temp_path("vorlane_fd_length.bin");
    ASSERT_TRUE(harness_file_write(path, ""));
    FILE *file = fopen(path.c_str(), "rb");
    ASSERT_TRUE(file);
    EXPECT_EQ(file_length(file), 0);
    EXPECT_EQ(ftell(file), 0);
    fclose(file);

    ASSERT_TRUE(harness_file_write(path, std::string(1000, 'x')));
    file = fopen(path.c_str(), "rb");
    ASSERT_TRUE(file);
    fseek(file, 123, SEEK_SET);
    EXPECT_EQ(file_length(file), 1000);
    EXPECT_EQ(ftell(file), 123);
    fclose(file);

    HANDLE read_end, write_end;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, 0, 0));
    int fd = _open_osfhandle((intptr_t)read_end, _O_RDONLY);
    FILE *pipe = _fdopen(fd, "rb");
    ASSERT_TRUE(pipe);
    EXPECT_EQ(file_length(pipe), -1);
    fclose(pipe);
    CloseHandle(write_end);
}

/* A bare dialog on the COMAND template whose WM_APP runs dlg_item_printf
   on its own thread, as the dialogs do. */
static int item_formatted;

static INT_PTR CALLBACK item_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_APP) {
        item_formatted = dlg_item_printf(dialog, (int)wparam, "<%s>", (const char *)lparam);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

TEST_F(FileDialogs, DialogItemsShowAWholeLongTextAndScanNumbers) {
    std::string text(1021, 'q');
    text[0] = 'A';
    text[1020] = 'Z';
    std::string huge(5000, 'h');
    std::string shown, shown_huge, replaced;
    unsigned number = 77, kept = 77;
    int scanned_number = -2, scanned_word = -2, formatted_huge = 0;
    ASSERT_TRUE(dialog_drive(RES_DIALOG_COMMAND, "Command", item_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_CMD_DATA, "old text that must go");
        SendMessageA(dialog, WM_APP, IDC_CMD_DATA, (LPARAM)text.c_str());
        shown = dialog_get(dialog, IDC_CMD_DATA);
        SendMessageA(dialog, WM_APP, IDC_CMD_COMMENT, (LPARAM)huge.c_str());
        formatted_huge = item_formatted;
        shown_huge = dialog_get(dialog, IDC_CMD_COMMENT);
        dialog_set(dialog, IDC_CMD_COUNT, "  4711 bytes");
        scanned_number = dlg_item_scanf(dialog, IDC_CMD_COUNT, "%u", &number);
        dialog_set(dialog, IDC_CMD_COUNT, "none");
        scanned_word = dlg_item_scanf(dialog, IDC_CMD_COUNT, "%u", &kept);
    }));
    EXPECT_EQ(shown, "<" + text + ">"); /* 1,023 characters, whole */
    EXPECT_EQ(shown_huge, "<" + huge + ">");
    EXPECT_EQ(formatted_huge, 5002);
    EXPECT_EQ(scanned_number, 1);
    EXPECT_EQ(number, 4711u);
    EXPECT_EQ(scanned_word, 0);
    EXPECT_EQ(kept, 77u);
}
