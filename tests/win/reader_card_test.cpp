/*
 * reader_card_test.cpp: the card reader window on the rig's two virtual
 * readers: which reader it follows, the card state machine tick by tick,
 * removal and insertion, closing in any state, and the pane's colours.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

namespace {

class ReaderCard : public CardFixture {
  protected:
    void prepare() override {
        EXPECT_TRUE(harness_file_write("atr.txt", std::string("Vorlane_Demo_Card ") +
                                                      testcard_demo_atr + " 0 demo.txt\r\n"));
        atr_table_load();
    }
};

bool reader_menu_enabled(void) {
    return !(GetMenuState(app.gui.frame_menu, IDM_NEW_READER, MF_BYCOMMAND) & MF_GRAYED);
}

/* A parameter line: "LABEL= value, " for each attribute the reader gave. */
bool is_parameter_line(const std::string &line) {
    static const std::regex form("((T\\.\\.\\.|CLK\\.|F\\.\\.\\.|D\\.\\.\\.|N\\.\\.\\.|W\\.\\.\\.|"
                                 "IFSC|IFSD|BWT\\.|CWT\\.|EBC\\.|EBWT)= -?[0-9]+, )*");
    return std::regex_match(line, form);
}

/* The lines a card prints when its ATR is read: name, ATR, parameters. */
void expect_card_named(const std::vector<std::string> &lines) {
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Vorlane_Demo_Card inserted...");
    EXPECT_EQ(lines[1], "Answer to Reset: ");
    EXPECT_EQ(lines[2], card_demo_atr_line);
    EXPECT_TRUE(is_parameter_line(lines[3])) << lines[3];
}

} // namespace

TEST_F(ReaderCard, OneReaderWithACardIsTakenWithoutADialog) {
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    ReaderDialogSeen seen = card_open_reader();
    EXPECT_FALSE(seen.shown);
    EXPECT_EQ(app.gui.offered_count, 1);
    EXPECT_STREQ(gui_session()->reader_name, "Virtual PCD 00 01");
    auto lines = card_reader_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Reader Virtual PCD 00 01 is selected...");
    EXPECT_FALSE(reader_menu_enabled());
}

TEST_F(ReaderCard, TwoCardsOfferThoseTwoAndClosingTakesTheFirstListed) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    ReaderDialogSeen seen = card_open_reader(READER_CLOSE);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.items,
              std::vector<std::string>({testcard_reader_names[0], testcard_reader_names[1]}));
    EXPECT_EQ(seen.selection, 0);
    auto lines = card_reader_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Reader Virtual PCD 00 00 is selected...");
}

TEST_F(ReaderCard, NoCardOffersEveryReaderThenWaitsSilentlyForOne) {
    ReaderDialogSeen seen = card_open_reader(1);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.items,
              std::vector<std::string>({testcard_reader_names[0], testcard_reader_names[1]}));
    EXPECT_STREQ(gui_session()->reader_name,
                 "Virtual PCD 00 01"); /* the second name moved to the start */
    EXPECT_EQ(app.gui.reader_last_pick, 1);

    card_ticks(1);
    EXPECT_EQ(card_reader_lines(),
              std::vector<std::string>({"Reader Virtual PCD 00 01 is selected...", "",
                                        "Velmo:> Insert a card in the reader (state=2)"}));
    EXPECT_EQ(gui_session()->card_state, CARD_WAITING);
    card_ticks(3);
    EXPECT_EQ(card_reader_lines().size(), 3u); /* retries are silent */

    /* A card put in while waiting is read in one tick, without "Card Detected". */
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    auto lines = card_reader_lines();
    EXPECT_EQ(card_count(lines, "Card Detected ...T=1"), 0);
    expect_card_named(std::vector<std::string>(lines.begin() + 3, lines.end()));
}

TEST_F(ReaderCard, ReopeningPreselectsTheIndexConfirmedLast) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    ReaderDialogSeen first = card_open_reader(1);
    ASSERT_TRUE(first.shown);
    EXPECT_EQ(card_reader_lines().at(0), "Reader Virtual PCD 00 01 is selected...");
    card_close_reader();
    EXPECT_TRUE(reader_menu_enabled());

    ReaderDialogSeen second = card_open_reader(READER_CLOSE);
    ASSERT_TRUE(second.shown);
    EXPECT_EQ(second.selection, 1);
    /* Closed without SELECT: the first listed reader. */
    EXPECT_EQ(card_reader_lines().at(0), "Reader Virtual PCD 00 00 is selected...");
    EXPECT_EQ(app.gui.reader_last_pick, 1);
}

TEST_F(ReaderCard, AStalePickStillNamesAnOfferedReader) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    app.gui.reader_pick = 7; /* left from a longer list */
    app.gui.reader_last_pick = 1;
    ReaderDialogSeen seen = card_open_reader(READER_KEEP);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.selection, 1);
    EXPECT_EQ(card_reader_lines().at(0), "Reader Virtual PCD 00 01 is selected...");
    EXPECT_EQ(app.gui.reader_pick, 1);
    EXPECT_EQ(app.gui.reader_last_pick, 1);
}

TEST_F(ReaderCard, CardPresentAtStartIsDetectedThenNamedOnTheNextTick) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    card_ticks(1);
    EXPECT_EQ(card_reader_lines(),
              std::vector<std::string>(
                  {"Reader Virtual PCD 00 00 is selected...", "Card Detected ...T=1"}));
    EXPECT_EQ(gui_session()->card_state, CARD_CONNECTED);
    card_tick(&app.gui.reader);
    EXPECT_EQ(gui_session()->card_state, CARD_READY);
    EXPECT_EQ(app.gui.reader.atr_index, 0);
    EXPECT_EQ(gui_session()->card_atr_len, 20);
    auto lines = card_reader_lines();
    expect_card_named(std::vector<std::string>(lines.begin() + 2, lines.end()));
}

TEST_F(ReaderCard, RemovalPromptsAgainAfterThreeTicksAndTheCardIsNamedAgain) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);

    ASSERT_TRUE(testcard_remove(0));
    ASSERT_TRUE(card_tick_until(CARD_GONE, 5000)); /* the tick that sees it */
    card_ticks(1);
    EXPECT_EQ(gui_session()->card_state, CARD_DROPPED);
    card_ticks(1);
    EXPECT_EQ(gui_session()->card_state, CARD_NO_CONTEXT);
    EXPECT_TRUE(card_reader_lines().empty());
    card_ticks(1);
    EXPECT_EQ(gui_session()->card_state, CARD_WAITING);
    EXPECT_EQ(card_reader_lines(),
              std::vector<std::string>({"", "Velmo:> Insert a card in the reader (state=2)"}));

    app.gui.reader.atr_index = -1;
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    auto lines = card_reader_lines();
    expect_card_named(std::vector<std::string>(lines.begin() + 2, lines.end()));
    EXPECT_EQ(app.gui.reader.atr_index, 0);
}

TEST_F(ReaderCard, ClosingInAnyStateDropsTheConnectionAndTheContext) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    /* State 3: connected, ATR not read yet. */
    card_open_reader();
    card_ticks(1);
    ASSERT_EQ(gui_session()->card_state, CARD_CONNECTED);
    card_close_reader();
    EXPECT_EQ(gui_session()->card_state, CARD_NO_CONTEXT);
    EXPECT_EQ(gui_session()->card_handle, (SCARDHANDLE)0);
    EXPECT_EQ(gui_session()->sc_context, (SCARDCONTEXT)0);
    EXPECT_EQ(app.gui.panes[PANE_READER].edit, (HWND)0);
    EXPECT_TRUE(reader_menu_enabled());

    /* State 6: the card is gone, the handle not yet dropped. */
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    ASSERT_TRUE(testcard_remove(0));
    ASSERT_TRUE(card_tick_until(CARD_GONE, 5000));
    card_close_reader();
    EXPECT_EQ(gui_session()->card_state, CARD_NO_CONTEXT);
    EXPECT_EQ(gui_session()->card_handle, (SCARDHANDLE)0);
    EXPECT_EQ(gui_session()->sc_context, (SCARDCONTEXT)0);

    /* A new window starts with a fresh context and finds the card again. */
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    card_ticks(1);
    EXPECT_EQ(card_reader_lines().at(1), "Card Detected ...T=1");
    char text[1024];
    card_close_reader();
    /* With no window, a reset finds no ready card. */
    EXPECT_EQ(card_reset(text), 31);
    EXPECT_STREQ(text, "Reader is busy, try later ...\r\n");
}

namespace {

/* Presses OK in the colour chooser once it shows; when `close_first`, the
   reader window is closed while the chooser is still open. */
void choose_color(int command, bool close_first) {
    HWND chooser = 0;
    std::thread driver([&] {
        chooser = harness_find_window("Color", 10000);
        if (!chooser)
            return;
        if (close_first)
            SendMessageA(app.gui.mdi_client, WM_MDIDESTROY,
                         (WPARAM)app.gui.panes[PANE_READER].window, 0);
        PostMessageA(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    SendMessageA(app.gui.panes[PANE_READER].window, WM_COMMAND, (WPARAM)command, 0);
    driver.join();
    EXPECT_NE(chooser, (HWND)0) << "the colour chooser never appeared";
}

} // namespace

TEST_F(ReaderCard, ColoursApplyToTheReaderPaneAndSurviveAClosedWindow) {
    card_open_reader();
    HBRUSH old_brush = app.gui.panes[PANE_READER].back_brush;
    choose_color(IDM_BACKGROUND, false);
    EXPECT_EQ(app.gui.panes[PANE_READER].back_color, RGB(128, 128, 128));
    EXPECT_NE(app.gui.panes[PANE_READER].back_brush, (HBRUSH)0);
    EXPECT_NE(app.gui.panes[PANE_READER].back_brush, old_brush);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].back_color, RGB(0, 0, 0)); /* the Console's stays */
    choose_color(IDM_COLOR, false);
    EXPECT_EQ(app.gui.panes[PANE_READER].text_color, RGB(128, 128, 128));

    /* The window closes while the chooser is open: the colour is kept for
       the next window, and no brush is made for the closed one. */
    app.gui.panes[PANE_READER].back_color = RGB(1, 2, 3);
    choose_color(IDM_BACKGROUND, true);
    EXPECT_EQ(app.gui.panes[PANE_READER].window, (HWND)0);
    EXPECT_EQ(app.gui.panes[PANE_READER].back_color, RGB(128, 128, 128));
    EXPECT_EQ(app.gui.panes[PANE_READER].back_brush, (HBRUSH)0);
}
