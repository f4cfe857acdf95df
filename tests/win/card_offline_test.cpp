/*
 * card_offline_test.cpp: the card code that needs no card: the ATR table
 * loaded from atr.txt and matched into the reader pane, exchanges refused
 * while no card is ready, the reset refused, and the statistics emptied by
 * a new Console.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "resources/resource.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

namespace {

class CardOffline : public testing::Test {
  protected:
    void SetUp() override {
        harness_frame_open();
        /* A bare edit control stands in for the reader pane. */
        reader_pane_ = CreateWindowExA(0, "edit", NULL,
                                       WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL, 0,
                                       0, 0, 0, app.gui.frame_window, NULL, app.gui.instance, NULL);
        app.gui.panes[PANE_READER].edit = reader_pane_;
        pane_reset(0);
        scratch_.enter();
    }
    void TearDown() override {
        scratch_.leave();
        app.gui.panes[PANE_READER].edit = 0;
        DestroyWindow(reader_pane_);
        harness_frame_close();
    }
    void write_atr_file(const std::string &text) {
        ASSERT_TRUE(harness_file_write("atr.txt", text));
    }
    void open_console() {
        SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
        harness_pump(5);
        ASSERT_NE(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
        SetWindowTextA(app.gui.panes[PANE_CONSOLE].edit, "");
        pane_reset(1);
    }
    HWND reader_pane_ = 0;
    HarnessScratch scratch_;
};

} // namespace

TEST_F(CardOffline, TableLoadedFromTheCurrentDirectoryNamesAKnownCard) {
    write_atr_file("* known cards\r\n"
                   "Lower 3b0102 1 lower.txt\r\n"
                   "First 3B0102 2 first.txt\r\n"
                   "Second 3B0102 3 second.txt\r\n"
                   "\r\n"
                   "After 3B0304 4 after.txt\r\n");
    atr_table_load();
    ASSERT_EQ(app.atr_count, 3);
    EXPECT_STREQ(app.atr_table[1].script, "first.txt");

    const unsigned char known[] = {0x3B, 0x01, 0x02};
    EXPECT_EQ(atr_match(known, 3), 1);
    EXPECT_EQ(app.gui.reader.atr_index, 1);
    EXPECT_EQ(harness_window_text(reader_pane_), "First inserted...\r\n");

    const unsigned char after[] = {0x3B, 0x03, 0x04};
    EXPECT_EQ(atr_match(after, 3), -1);
    EXPECT_EQ(app.gui.reader.atr_index, -1);
    EXPECT_EQ(harness_lines(reader_pane_).size(), 1u);
}

TEST_F(CardOffline, LongAtrsAreMatchedWholeAndNothingOverflows) {
    unsigned char atr[256];
    char hex[2 * 33 + 1];
    for (int i = 0; i < 256; i++)
        atr[i] = (unsigned char)(0x3B + i);
    for (int i = 0; i < 33; i++)
        snprintf(hex + 2 * i, 3, "%02X", atr[i]);
    write_atr_file(std::string("Iso33 ") + hex + " 0 iso.txt\n");
    atr_table_load();
    ASSERT_EQ(app.atr_count, 1);
    EXPECT_EQ(atr_match(atr, 33), 0);
    EXPECT_EQ(atr_match(atr, 32), -1);
    EXPECT_EQ(atr_match(atr, 256), -1); /* what a failed state query leaves */
    EXPECT_EQ(atr_match(atr, 100000), -1);
    EXPECT_EQ(atr_match(atr, -3), -1);
    EXPECT_EQ(harness_window_text(reader_pane_), "Iso33 inserted...\r\n");
}

TEST_F(CardOffline, MissingTableLeavesItEmpty) {
    app.atr_count = 5;
    atr_table_load();
    EXPECT_EQ(app.atr_count, 0);
    const unsigned char atr[] = {0x3B, 0x00};
    EXPECT_EQ(atr_match(atr, 2), -1);
}

TEST_F(CardOffline, NoReadyCardRefusesTheExchangeButHeadsANewScript) {
    open_console();
    gui_session()->card_state = CARD_WAITING;
    gui_session()->script_name[0] = 0;
    gui_session()->xfer_total_ms = 0;
    gui_session()->xfer_counter = 41;
    unsigned char buffer[512] = {0x00, 0xA4, 0x04, 0x00};
    int error = 99;
    EXPECT_EQ(card_transmit(buffer, 4, &error), -1);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(gui_session()->xfer_counter, 0);
    EXPECT_EQ(buffer[1], 0xA4);
    /* No script has run: the header names none. */
    EXPECT_EQ(harness_lines(app.gui.panes[PANE_CONSOLE].edit),
              std::vector<std::string>({"", "Script: ", ""}));

    gui_session()->xfer_total_ms = 3;
    EXPECT_EQ(card_transmit(buffer, 4, &error), -1);
    EXPECT_EQ(harness_lines(app.gui.panes[PANE_CONSOLE].edit).size(), 3u);
    EXPECT_EQ(card_transmit(buffer, -1, &error), -1);
    EXPECT_EQ(error, (int)SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(card_transmit(buffer, 4, NULL), -1); /* no error pointer: no crash */
}

TEST_F(CardOffline, ResetWithoutAReadyCardLeavesEverythingAsItWas) {
    gui_session()->card_state = CARD_WAITING;
    gui_session()->card_atr_len = 2;
    gui_session()->card_atr[0] = 0x3B;
    char text[1024];
    EXPECT_EQ(card_reset(text), 31);
    EXPECT_STREQ(text, "Reader is busy, try later ...\r\n");
    EXPECT_EQ(gui_session()->card_state, CARD_WAITING);
    unsigned char atr[CARD_ATR_SIZE + 1];
    memset(atr, 0xEE, sizeof atr);
    EXPECT_EQ(card_get_atr(atr), 2);
    EXPECT_EQ(atr[0], 0x3B);
    EXPECT_EQ(atr[1], gui_session()->card_atr[1]);
    EXPECT_EQ(atr[2], 0xEE); /* nothing past the count */
    EXPECT_EQ(harness_window_text(reader_pane_), "");
}

TEST_F(CardOffline, NewConsoleEmptiesTheStatisticsButKeepsNumberingAndTotal) {
    memcpy(gui_session()->xfer_stats[0].header, "\x00\xA4\x04\x00\x07", 5);
    memcpy(gui_session()->xfer_stats[0].status_word, "\x90\x00", 2);
    gui_session()->xfer_stats[0].count = 3;
    gui_session()->xfer_stats[0].sum_ms = 30;
    gui_session()->xfer_stats[1].count = 1;
    gui_session()->xfer_stats_next = 1;
    gui_session()->xfer_counter = 12;
    gui_session()->xfer_total_ms = 40;
    open_console();
    EXPECT_EQ(gui_session()->xfer_stats[0].count, 0);
    EXPECT_EQ(gui_session()->xfer_stats[0].sum_ms, 0);
    EXPECT_EQ(gui_session()->xfer_stats[1].count, 0);
    EXPECT_EQ(gui_session()->xfer_stats_next, 0);
    EXPECT_EQ(gui_session()->xfer_stats[0].status_word[0], 0);
    EXPECT_EQ(gui_session()->xfer_stats[0].header[1], 0xA4); /* only the first byte is cleared */
    EXPECT_EQ(gui_session()->xfer_counter, 12);
    EXPECT_EQ(gui_session()->xfer_total_ms, 40);
}

/* The network reader's copy of the ATR holds the count the card state left
   and never more bytes than an ATR's room: a failed state query leaves 256,
   and a count beyond the room is cut to it. */
TEST_F(CardOffline, AtrCopyNeverGoesPastItsRoom) {
    struct {
        unsigned char atr[CARD_ATR_SIZE];
        unsigned char canary;
    } room;
    gui_session()->card_state = CARD_WAITING;
    memset(gui_session()->card_atr, 0x5A, sizeof gui_session()->card_atr);
    for (int count : {(int)CARD_ATR_SIZE, (int)CARD_ATR_SIZE + 44}) {
        memset(&room, 0xEE, sizeof room);
        gui_session()->card_atr_len = count;
        EXPECT_EQ(card_get_atr(room.atr), count);
        EXPECT_EQ(room.atr[0], 0x5A);
        EXPECT_EQ(room.atr[CARD_ATR_SIZE - 1], 0x5A);
        EXPECT_EQ(room.canary, 0xEE) << count;
    }
    memset(&room, 0xEE, sizeof room);
    gui_session()->card_atr_len = 0;
    EXPECT_EQ(card_get_atr(room.atr), 0);
    EXPECT_EQ(room.atr[0], 0xEE); /* no card: nothing copied */
}
