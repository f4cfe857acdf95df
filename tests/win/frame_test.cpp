/*
 * frame_test.cpp: the frame window, its menu, the Console's life and display
 * settings. (Printing from several threads is in pane_test.cpp.)
 */
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"
#include "tests/win/harness/frame.h"

namespace {

void frame_command(int id) {
    SendMessageA(app.gui.frame_window, WM_COMMAND, id, 0);
    harness_pump(10);
}

bool menu_greyed(int id) {
    return (GetMenuState(app.gui.frame_menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

/* Runs frame command id while a second thread answers the dialog titled
   title with button (after before, if given), which is how a modal dialog
   of the GUI thread is answered in these tests. Fails when the dialog never
   showed, so no test passes on values that nothing changed. */
void frame_command_answered(int id, const char *title, int button, void (*before)(HWND) = nullptr) {
    std::atomic<bool> seen{false};
    std::thread answer([&] {
        HWND dialog = harness_find_window(title, 5000);
        if (!dialog)
            return;
        seen = true;
        if (before)
            before(dialog);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    });
    frame_command(id);
    answer.join();
    EXPECT_TRUE(seen) << title << " never appeared";
}

class FrameTest : public testing::Test {
  protected:
    void SetUp() override {
        harness_frame_open();
    }
    void TearDown() override {
        harness_frame_close();
    }
};

} // namespace

TEST_F(FrameTest, ConsoleOpensWithGreetingAndGreysItsMenuItem) {
    EXPECT_FALSE(menu_greyed(IDM_NEW_CONSOLE));
    frame_command(IDM_NEW_CONSOLE);
    ASSERT_NE(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].window), "Console");
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "Console is Ready ...\r\n");
    EXPECT_TRUE(menu_greyed(IDM_NEW_CONSOLE));

    frame_command(IDM_CLOSE);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
    EXPECT_FALSE(menu_greyed(IDM_NEW_CONSOLE));
    EXPECT_EQ(console_print("dropped\r\n"), 0);

    /* A new Console starts empty: nothing held back survives. */
    frame_command(IDM_NEW_CONSOLE);
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "Console is Ready ...\r\n");
}

TEST_F(FrameTest, ReaderCommandOpensVelmoAndGreysItsItem) {
    harness_reader_open();
    ASSERT_NE(app.gui.panes[PANE_READER].window, (HWND)0);
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_READER].window), "Velmo");
    EXPECT_TRUE(menu_greyed(IDM_NEW_READER));
    frame_command(IDM_CLOSE_ALL);
    EXPECT_EQ(app.gui.panes[PANE_READER].window, (HWND)0);
    EXPECT_FALSE(menu_greyed(IDM_NEW_READER));
}

TEST_F(FrameTest, CloseWithNoChildDoesNothing) {
    EXPECT_EQ(harness_child_count(), 0);
    frame_command(IDM_CLOSE);
    EXPECT_TRUE(IsWindow(app.gui.frame_window));
}

TEST_F(FrameTest, CloseAllClosesEveryChildHarmlessly) {
    frame_command(IDM_NEW_CONSOLE);
    harness_reader_open();
    EXPECT_EQ(harness_child_count(), 2);
    frame_command(IDM_CLOSE_ALL);
    EXPECT_EQ(harness_child_count(), 0);
    EXPECT_TRUE(IsWindow(app.gui.frame_window));
}

TEST_F(FrameTest, QuitClosesEveryChildThenTheFrame) {
    for (int id : {IDM_QUIT, IDM_QUIT_READER}) {
        frame_command(IDM_NEW_CONSOLE);
        harness_reader_open();
        HWND frame = app.gui.frame_window;
        SendMessageA(frame, WM_COMMAND, id, 0);
        EXPECT_FALSE(IsWindow(frame)) << "command " << id;
        EXPECT_EQ(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
        EXPECT_EQ(app.gui.panes[PANE_READER].edit, (HWND)0);
        MSG msg;
        EXPECT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
        harness_frame_close();
        harness_frame_open();
    }
}

TEST_F(FrameTest, LogOffQueryEmptiesTheFrameAndAnswersYes) {
    frame_command(IDM_NEW_CONSOLE);
    EXPECT_NE(SendMessageA(app.gui.frame_window, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(harness_child_count(), 0);
    EXPECT_TRUE(IsWindow(app.gui.frame_window));
}

TEST_F(FrameTest, MaximiseAndRestoreResizeTheConsolePane) {
    frame_command(IDM_NEW_CONSOLE);
    HWND console = app.gui.panes[PANE_CONSOLE].window;
    SendMessageA(app.gui.mdi_client, WM_MDIMAXIMIZE, (WPARAM)console, 0);
    harness_pump(20);
    EXPECT_TRUE(IsZoomed(console));
    RECT client, edit;
    GetClientRect(console, &client);
    GetWindowRect(app.gui.panes[PANE_CONSOLE].edit, &edit);
    EXPECT_EQ(edit.right - edit.left, client.right);
    EXPECT_EQ(edit.bottom - edit.top, client.bottom);
    SendMessageA(app.gui.mdi_client, WM_MDIRESTORE, (WPARAM)console, 0);
    harness_pump(20);
    EXPECT_FALSE(IsZoomed(console));
    GetClientRect(console, &client);
    GetWindowRect(app.gui.panes[PANE_CONSOLE].edit, &edit);
    EXPECT_EQ(edit.right - edit.left, client.right);
}

TEST_F(FrameTest, FontColorBackgroundWithNoChildDoNothing) {
    /* No child: the frame has nobody to forward to, and no chooser opens. */
    for (int id : {IDM_FONT, IDM_COLOR, IDM_BACKGROUND, IDM_SEND_APDU})
        frame_command(id);
    EXPECT_EQ(harness_find_window("Color", 200), (HWND)0);
    EXPECT_EQ(harness_find_window("Font", 200), (HWND)0);
}

TEST_F(FrameTest, ChosenColoursAndFontOutliveTheConsole) {
    frame_command(IDM_NEW_CONSOLE);
    /* The colour chooser starts on grey; confirming it takes grey. */
    frame_command_answered(IDM_COLOR, "Color", IDOK);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].text_color, RGB(128, 128, 128));

    frame_command_answered(IDM_FONT, "Font", IDOK);
    EXPECT_TRUE(app.gui.panes[PANE_CONSOLE].font_chosen);

    frame_command(IDM_CLOSE);
    frame_command(IDM_NEW_CONSOLE);
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "Console is Ready ...\r\n");
    HDC dc = GetDC(app.gui.panes[PANE_CONSOLE].edit);
    SendMessageA(app.gui.panes[PANE_CONSOLE].window, WM_CTLCOLOREDIT, (WPARAM)dc,
                 (LPARAM)app.gui.panes[PANE_CONSOLE].edit);
    EXPECT_EQ(GetTextColor(dc), RGB(128, 128, 128));
    EXPECT_EQ(GetBkColor(dc), RGB(0, 0, 0));
    ReleaseDC(app.gui.panes[PANE_CONSOLE].edit, dc);
    HFONT font = (HFONT)SendMessageA(app.gui.panes[PANE_CONSOLE].edit, WM_GETFONT, 0, 0);
    ASSERT_NE(font, (HFONT)0);
    LOGFONTA shown = {};
    GetObjectA(font, sizeof shown, &shown);
    EXPECT_STREQ(shown.lfFaceName, app.gui.pane_logfont.lfFaceName);
}

TEST_F(FrameTest, CancelledChooserChangesNothing) {
    frame_command(IDM_NEW_CONSOLE);
    frame_command_answered(IDM_BACKGROUND, "Color", IDCANCEL);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].back_color, RGB(0, 0, 0));
}

/* The chooser has no owner: the Console can be closed while it is open. */
static void close_console_first(HWND) {
    SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)app.gui.panes[PANE_CONSOLE].window, 0);
}

TEST_F(FrameTest, ConsoleClosedWhileItsChooserIsOpen) {
    frame_command(IDM_NEW_CONSOLE);
    frame_command_answered(IDM_BACKGROUND, "Color", IDOK, close_console_first);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].window, (HWND)0);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].back_brush, (HBRUSH)0);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].back_color, RGB(128, 128, 128));

    frame_command(IDM_NEW_CONSOLE);
    frame_command_answered(IDM_FONT, "Font", IDOK, close_console_first);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].font, (HFONT)0);
    /* The next Console takes the colour and the font. */
    frame_command(IDM_NEW_CONSOLE);
    EXPECT_NE(app.gui.panes[PANE_CONSOLE].back_brush, (HBRUSH)0);
    EXPECT_NE(app.gui.panes[PANE_CONSOLE].font, (HFONT)0);
}

/* Closes the Console and opens a new one while its chooser is open. */
static void reopen_console_first(HWND) {
    SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)app.gui.panes[PANE_CONSOLE].window, 0);
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
}

static COLORREF console_brush_color() {
    HWND edit = app.gui.panes[PANE_CONSOLE].edit;
    HDC dc = GetDC(edit);
    HBRUSH brush = (HBRUSH)SendMessageA(app.gui.panes[PANE_CONSOLE].window, WM_CTLCOLOREDIT,
                                        (WPARAM)dc, (LPARAM)edit);
    ReleaseDC(edit, dc);
    LOGBRUSH shown = {};
    GetObjectA(brush, sizeof shown, &shown);
    return shown.lbColor;
}

TEST_F(FrameTest, ConsoleReopenedWhileItsChooserIsOpenTakesTheChoice) {
    frame_command(IDM_NEW_CONSOLE);
    frame_command_answered(IDM_BACKGROUND, "Color", IDOK, reopen_console_first);
    HWND reopened = app.gui.panes[PANE_CONSOLE].window;
    ASSERT_NE(reopened, (HWND)0);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].back_color, RGB(128, 128, 128));
    /* The open Console paints with the new colour: one background, not two. */
    EXPECT_EQ(console_brush_color(), RGB(128, 128, 128));

    frame_command_answered(IDM_FONT, "Font", IDOK, reopen_console_first);
    ASSERT_NE(app.gui.panes[PANE_CONSOLE].window, reopened);
    HFONT font = (HFONT)SendMessageA(app.gui.panes[PANE_CONSOLE].edit, WM_GETFONT, 0, 0);
    EXPECT_NE(font, (HFONT)0);
    EXPECT_EQ(font, app.gui.panes[PANE_CONSOLE].font);
    EXPECT_EQ(console_brush_color(), RGB(128, 128, 128));
}

namespace {
/* The text of a static that its rectangle cannot show whole (it wraps below
   the rectangle's height), or "". */
std::string static_text_cut(HWND item) {
    std::string text = harness_window_text(item);
    RECT box, need;
    GetClientRect(item, &box);
    need = box;
    HDC dc = GetDC(item);
    HGDIOBJ before = SelectObject(dc, (HFONT)SendMessageA(item, WM_GETFONT, 0, 0));
    DrawTextA(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
    SelectObject(dc, before);
    ReleaseDC(item, dc);
    return need.bottom > box.bottom || need.right > box.right ? text : "";
}
} // namespace

TEST_F(FrameTest, AboutBoxShowsItsLinesWholeAndClosesOnOk) {
    static std::string text, cut;
    frame_command_answered(IDM_ABOUT, "About", IDOK, [](HWND dialog) {
        for (HWND item = GetWindow(dialog, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT)) {
            text += harness_window_text(item) + "|";
            char kind[16] = "";
            GetClassNameA(item, kind, sizeof kind);
            if (lstrcmpiA(kind, "Static") == 0)
                cut += static_text_cut(item);
        }
    });
    EXPECT_NE(text.find("Vorlane|"), std::string::npos) << text;
    EXPECT_NE(text.find("|Card reader, APDU console, scripts and memory dumps|"),
              std::string::npos);
    EXPECT_NE(text.find("OK|"), std::string::npos) << text;
    EXPECT_EQ(cut, "");
}

namespace {
/* "id text" for every entry of a popup, "-" for a separator. */
std::vector<std::string> menu_entries(HMENU menu) {
    std::vector<std::string> entries;
    for (int i = 0; i < GetMenuItemCount(menu); i++) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        UINT id = GetMenuItemID(menu, i);
        if (text[0] == 0 && id == 0)
            entries.push_back("-");
        else
            entries.push_back(std::to_string(id) + " " + text);
    }
    return entries;
}
} // namespace

TEST_F(FrameTest, MenuHasEveryEntryInOrder) {
    HMENU menu = LoadMenuA(GetModuleHandleA(NULL), "MENU1");
    ASSERT_NE(menu, (HMENU)0);
    ASSERT_EQ(GetMenuItemCount(menu), 7);
    const char *titles[] = {"Reader", "Windows", "New", "Reader", "Script", "About", "Tag"};
    for (int i = 0; i < 7; i++) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, titles[i]);
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(menu_entries(GetSubMenu(menu, 0)),
              (V{"-", "5 Font", "6 Color", "7 Background", "1235 QUIT"}));
    EXPECT_EQ(menu_entries(GetSubMenu(menu, 1)), (V{"30 Tile", "31 Cascade", "32 Arrange", "-",
                                                    "12 Close", "33 CloseAll", "-", "13 Quit"}));
    EXPECT_EQ(menu_entries(GetSubMenu(menu, 2)), (V{"10 Console", "50 CardReader"}));
    EXPECT_EQ(menu_entries(GetSubMenu(menu, 3)),
              (V{"1001 SendApdu", "104 Write", "105 Read", "106 Explain", "107 ATR details"}));
    EXPECT_EQ(menu_entries(GetSubMenu(menu, 4)), (V{"555 Exec"}));
    EXPECT_EQ(GetSubMenu(menu, 5), (HMENU)0);
    EXPECT_EQ(GetMenuItemID(menu, 5), 1234u);
    EXPECT_EQ(menu_entries(GetSubMenu(menu, 6)), (V{"216 Read", "217 Write"}));
    DestroyMenu(menu);
}

TEST_F(FrameTest, CommandWithNotificationCodeIsNotAMenuCommand) {
    /* The whole first parameter is compared: 10 with a notification code
       is not "New Console" and goes to the (absent) active child. */
    SendMessageA(app.gui.frame_window, WM_COMMAND, MAKEWPARAM(IDM_NEW_CONSOLE, 1), 0);
    harness_pump(10);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].window, (HWND)0);
    EXPECT_EQ(harness_child_count(), 0);
}

TEST_F(FrameTest, WindowListEntriesActivateTheirChild) {
    frame_command(IDM_NEW_CONSOLE);
    HWND console = app.gui.panes[PANE_CONSOLE].window;
    harness_reader_open();
    EXPECT_EQ((HWND)SendMessageA(app.gui.mdi_client, WM_MDIGETACTIVE, 0, 0),
              app.gui.panes[PANE_READER].window);
    /* The window list numbers children from 1000 in creation order. */
    frame_command(IDM_FIRST_CHILD);
    EXPECT_EQ((HWND)SendMessageA(app.gui.mdi_client, WM_MDIGETACTIVE, 0, 0), console);
}

/* A child window that fails to open leaves its menu item available, so the
   user can try again; once it opens, the item is greyed. */
TEST_F(FrameTest, AChildThatFailsToOpenLeavesItsMenuItemAvailable) {
    HINSTANCE instance = GetModuleHandleA(NULL);
    ASSERT_TRUE(UnregisterClassA("HelloChild", instance));
    ASSERT_TRUE(UnregisterClassA("Velmo", instance));
    frame_command(IDM_NEW_CONSOLE);
    frame_command(IDM_NEW_READER);
    EXPECT_EQ(harness_child_count(), 0);
    EXPECT_FALSE(menu_greyed(IDM_NEW_CONSOLE));
    EXPECT_FALSE(menu_greyed(IDM_NEW_READER));

    app_register_classes(instance);
    frame_command(IDM_NEW_CONSOLE);
    EXPECT_EQ(harness_child_count(), 1);
    EXPECT_TRUE(menu_greyed(IDM_NEW_CONSOLE));
    EXPECT_FALSE(menu_greyed(IDM_NEW_READER));
}
