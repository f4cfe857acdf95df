/*
 * card.cpp: the card tests' reader window, ticks, clock and pane reading.
 */
#include "tests/win/harness/card.h"

#include <atomic>
#include <thread>

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/frame.h"

bool card_remove_and_wait(int reader) {
    return testcard_remove(reader) && testcard_seen(reader, false);
}

void CardFixture::SetUp() {
    ASSERT_TRUE(card_remove_and_wait(0)) << "the card rig is not running (scripts/rig start)";
    ASSERT_TRUE(card_remove_and_wait(1));
    ASSERT_TRUE(testcard_reset_state(0));
    ASSERT_TRUE(testcard_reset_state(1));
    scratch_.enter();
    if (frame_)
        harness_frame_open();
    prepare();
}

void CardFixture::TearDown() {
    if (frame_) {
        card_close_reader();
        EXPECT_TRUE(harness_scripts_wait(30000)) << "a run did not end";
        harness_frame_close();
    }
    scratch_.leave();
    testcard_reset_state(0);
    testcard_remove(0);
    testcard_remove(1);
}

/* The driver's side of card_open_reader: what the dialog shows, then the action. */
static void card_drive_reader_dialog(HWND dialog, int action, bool escape, ReaderDialogSeen *seen) {
    seen->shown = true;
    HWND combo = GetDlgItem(dialog, IDC_READER_COMBO);
    int count = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char name[256] = "";
        SendMessageA(combo, CB_GETLBTEXT, (WPARAM)i, (LPARAM)name);
        seen->items.push_back(name);
    }
    seen->selection = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (action == READER_CLOSE) {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        return;
    }
    if (action >= 0) {
        SendMessageA(combo, CB_SETCURSEL, (WPARAM)action, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_READER_COMBO, CBN_SELCHANGE),
                     (LPARAM)combo);
    }
    int button = escape ? IDCANCEL : IDC_READER_SELECT;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 (LPARAM)GetDlgItem(dialog, button));
}

ReaderDialogSeen card_open_reader(int action, bool escape) {
    ReaderDialogSeen seen;
    std::atomic<bool> created(false);
    std::thread driver([&] {
        HWND dialog = 0;
        while (!dialog && !created)
            dialog = harness_find_window("Reader", 50);
        if (dialog)
            card_drive_reader_dialog(dialog, action, escape, &seen);
    });
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    created = true;
    driver.join();
    if (app.gui.panes[PANE_READER].window)
        KillTimer(app.gui.panes[PANE_READER].window, 1);
    return seen;
}

void card_close_reader(void) {
    if (app.gui.panes[PANE_READER].window)
        SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)app.gui.panes[PANE_READER].window,
                     0);
    harness_pump(5);
}

void card_ticks(int count) {
    for (int i = 0; i < count; i++) {
        card_tick(&app.gui.reader);
        harness_pump(2);
    }
}

bool card_tick_until(int state, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (gui_session()->card_state != state) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        card_tick(&app.gui.reader);
        harness_pump(20);
    }
    return true;
}

std::vector<std::string> card_reader_lines(void) {
    return harness_lines(app.gui.panes[PANE_READER].edit);
}

std::vector<std::string> card_console_lines(void) {
    return harness_lines(app.gui.panes[PANE_CONSOLE].edit);
}

std::vector<std::string> card_lines_from(const std::vector<std::string> &lines,
                                         const std::string &first) {
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i] == first)
            return std::vector<std::string>(lines.begin() + (long)i, lines.end());
    }
    return std::vector<std::string>();
}

int card_count(const std::vector<std::string> &lines, const std::string &line) {
    int n = 0;
    for (const std::string &l : lines)
        n += l == line;
    return n;
}

/* The readings card_clock_use hands out; read from exchanges on any thread. */
struct CardClock {
    std::vector<std::pair<long long, int>> readings;
    std::atomic<int> next{0};
    std::atomic<long long> extra{0};
};

static CardClock card_clock;

static void card_clock_read(long long *seconds, int *milliseconds) {
    int index = card_clock.next++;
    if (index < (int)card_clock.readings.size()) {
        *seconds = card_clock.readings[(size_t)index].first;
        *milliseconds = card_clock.readings[(size_t)index].second;
        return;
    }
    long long ms = 7200000 + card_clock.extra++;
    *seconds = ms / 1000;
    *milliseconds = (int)(ms % 1000);
}

void card_clock_use(std::vector<std::pair<long long, int>> readings) {
    card_clock.readings = std::move(readings);
    card_clock.next = 0;
    card_clock.extra = 0;
    xfer_clock_set(card_clock_read);
}

static bool dialog_card_is_ready(void) {
    return gui_session()->card_state == CARD_READY;
}

bool dialog_card_open(void) {
    harness_frame_open();
    if (!testcard_reset_state(0) || !testcard_insert(0, testcard_demo_atr) || !testcard_remove(1))
        return false;
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    if (!harness_pump_until(dialog_card_is_ready, 15000))
        return false;
    script_runs_wait(10000);
    harness_pump(100);
    harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
    testcard_log_clear(0);
    return true;
}

void dialog_card_close(void) {
    harness_frame_close();
    testcard_remove(0);
}

std::vector<std::string> dialog_card_commands(void) {
    std::vector<std::string> commands;
    for (const std::string &line : testcard_log(0))
        if (line.compare(0, 3, "C: ") == 0)
            commands.push_back(line.substr(3));
    return commands;
}
