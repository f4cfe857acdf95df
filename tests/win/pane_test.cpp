/*
 * pane_test.cpp: the line discipline of the text panes, read back as a user
 * sees it in the Console's edit control.
 */
#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"
#include "tests/win/win_harness.h"

class PaneTest : public testing::Test {
  protected:
    void SetUp() override {
        harness_frame_open();
        SendMessageA(app.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
        harness_pump(10);
        ASSERT_NE(app.panes[PANE_CONSOLE].edit, (HWND)0);
        /* Start from an empty pane: drop the greeting. */
        SetWindowTextA(app.panes[PANE_CONSOLE].edit, "");
        pane_reset(1);
    }
    void TearDown() override {
        harness_frame_close();
    }
    std::vector<std::string> lines() {
        return harness_lines(app.panes[PANE_CONSOLE].edit);
    }
};

TEST_F(PaneTest, PartialLinesJoinAndShowOnlyWhenComplete) {
    console_print("abc");
    EXPECT_EQ(harness_window_text(app.panes[PANE_CONSOLE].edit), "");
    console_print("def\r\n");
    EXPECT_EQ(harness_window_text(app.panes[PANE_CONSOLE].edit), "abcdef\r\n");
}

TEST_F(PaneTest, LongTextWrapsAt120AndHoldsTheRestBack) {
    std::string text(250, 'x');
    for (int i = 0; i < 250; i++)
        text[i] = (char)('a' + i % 26);
    EXPECT_EQ(console_print("%s", text.c_str()), 250);
    auto shown = lines();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], text.substr(0, 120));
    EXPECT_EQ(shown[1], text.substr(120, 120));
    console_print("\n");
    shown = lines();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2], text.substr(240));
}

TEST_F(PaneTest, ExactlyOneHundredTwentyThenLineFeedAddsAnEmptyLine) {
    console_print("%s\n", std::string(120, 'q').c_str());
    auto shown = lines();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], std::string(120, 'q'));
    EXPECT_EQ(shown[1], "");
}

TEST_F(PaneTest, CarriageReturnKeptUnlessRightBeforeLineFeedInOneCall) {
    console_print("x\r");
    console_print("\n");
    EXPECT_EQ(harness_window_text(app.panes[PANE_CONSOLE].edit), "x\r\r\n");
    console_print("y\r\n");
    EXPECT_EQ(harness_window_text(app.panes[PANE_CONSOLE].edit), "x\r\r\ny\r\n");
}

TEST_F(PaneTest, SixHundredMessagesLeaveTheNewestThreeHundred) {
    for (int i = 1; i <= 599; i++)
        console_print("message %d\r\n", i);
    auto shown = lines();
    ASSERT_EQ(shown.size(), 599u);
    EXPECT_EQ(shown.front(), "message 1");
    console_print("message %d\r\n", 600);
    shown = lines();
    ASSERT_EQ(shown.size(), 300u);
    EXPECT_EQ(shown.front(), "message 301");
    EXPECT_EQ(shown.back(), "message 600");
    /* It grows again to 599 before the next rebuild. */
    for (int i = 601; i <= 899; i++)
        console_print("message %d\r\n", i);
    EXPECT_EQ(lines().size(), 599u);
    console_print("message 900\r\n");
    shown = lines();
    ASSERT_EQ(shown.size(), 300u);
    EXPECT_EQ(shown.front(), "message 601");
}

TEST_F(PaneTest, FullPaneOfLongLinesIsNotStoppedByTheEditLimit) {
    std::string line(119, 'L');
    for (int i = 0; i < 599; i++)
        console_print("%03d%s\r\n", i % 1000, line.substr(4).c_str());
    auto shown = lines();
    ASSERT_EQ(shown.size(), 599u);
    EXPECT_EQ(shown.back().substr(0, 3), "598");
}

TEST_F(PaneTest, NewLinesGoWhereThePreviousEndedNotAtTheCaret) {
    console_print("first\r\n");
    /* The user types at the end; output still lands above the typing. */
    int end = GetWindowTextLengthA(app.panes[PANE_CONSOLE].edit);
    SendMessageA(app.panes[PANE_CONSOLE].edit, EM_SETSEL, end, end);
    SendMessageA(app.panes[PANE_CONSOLE].edit, EM_REPLACESEL, FALSE, (LPARAM) "typed");
    console_print("second\r\n");
    EXPECT_EQ(harness_window_text(app.panes[PANE_CONSOLE].edit), "first\r\nsecond\r\ntyped");
}

TEST_F(PaneTest, OverlongMessageIsCutToTheFormatBuffer) {
    std::string big(70000, 'z');
    int length = console_print("%s", big.c_str());
    EXPECT_EQ(length, PANE_FORMAT_SIZE - 1);
    /* 63,999 characters: 533 full lines shown, 39 held back. */
    EXPECT_EQ(lines().size(), 533u);
}

TEST_F(PaneTest, NoConsoleMeansNothingPrinted) {
    SendMessageA(app.frame_window, WM_COMMAND, IDM_CLOSE_ALL, 0);
    harness_pump(10);
    EXPECT_EQ(app.panes[PANE_CONSOLE].edit, (HWND)0);
    EXPECT_EQ(console_print("lost\r\n"), 0);
    EXPECT_EQ(reader_print("lost\r\n"), 0);
}
