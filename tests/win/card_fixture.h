/*
 * card_fixture.h: what the card tests share: the rig's test cards put in
 * and taken out, the card reader window opened with its READER dialog
 * driven from a second thread, the state machine stepped one tick at a
 * time, a clock the tests set, and the panes read back.
 */
#ifndef VORLANE_CARD_FIXTURE_H
#define VORLANE_CARD_FIXTURE_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <functional>
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
#include "tests/win/testcard_client.h"
#include "tests/win/win_harness.h"

static const char card_demo_atr[] = "3B8F8001804F0CA000000306030001000000006A";
static const char card_demo_atr_line[] =
    " 3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A ";
static const char *const card_reader_names[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};

/* A fresh scratch directory becomes the working directory: atr.txt and the
   card scripts are looked for there. */
class CardScratch {
  public:
    void enter() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        GetCurrentDirectoryA(sizeof old_dir_, old_dir_);
        snprintf(dir_, sizeof dir_, "%svorlane_card_%lu", temp, GetCurrentProcessId());
        CreateDirectoryA(dir_, NULL);
        SetCurrentDirectoryA(dir_);
    }
    void leave() {
        DeleteFileA("atr.txt");
        SetCurrentDirectoryA(old_dir_);
        RemoveDirectoryA(dir_);
    }

  private:
    char dir_[MAX_PATH] = "";
    char old_dir_[MAX_PATH] = "";
};

inline void card_write_file(const char *name, const std::string &text) {
    FILE *file = fopen(name, "wb");
    ASSERT_NE(file, (FILE *)0) << name;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

/* Takes the card out and waits until the platform no longer connects to it
   (the card's removal reaches the service a little later). */
inline bool card_remove_and_wait(int reader) {
    if (!testcard_remove(reader))
        return false;
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &context) != SCARD_S_SUCCESS)
        return false;
    bool gone = false;
    DWORD end = GetTickCount() + 10000;
    while (!gone && (int)(end - GetTickCount()) > 0) {
        SCARDHANDLE handle = 0;
        DWORD protocol = 0;
        if (SCardConnectA(context, card_reader_names[reader], SCARD_SHARE_SHARED,
                          SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle,
                          &protocol) != SCARD_S_SUCCESS) {
            gone = true;
        } else {
            SCardDisconnect(handle, SCARD_LEAVE_CARD);
            Sleep(20);
        }
    }
    SCardReleaseContext(context);
    return gone;
}

/* What the READER dialog showed, if it showed. */
struct ReaderDialogSeen {
    bool shown = false;
    std::vector<std::string> items;
    int selection = -2;
};

/* What the driver does in the READER dialog: close it, or pick an index
   (or keep the selection shown, -1) and press SELECT. */
enum { READER_CLOSE = -2, READER_KEEP = -1 };

/* Opens the card reader window as the frame's menu does, while a second
   thread watches for the READER dialog and handles it. The window's timer
   is stopped before any tick: the tests step the state machine themselves. */
inline ReaderDialogSeen card_open_reader(int action = READER_CLOSE) {
    ReaderDialogSeen seen;
    std::atomic<bool> created(false);
    std::thread driver([&] {
        HWND dialog = 0;
        while (!dialog && !created)
            dialog = harness_find_window("Reader", 50);
        if (!dialog)
            return;
        seen.shown = true;
        HWND combo = GetDlgItem(dialog, IDC_READER_COMBO);
        int count = (int)SendMessageA(combo, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; i++) {
            char name[256] = "";
            SendMessageA(combo, CB_GETLBTEXT, (WPARAM)i, (LPARAM)name);
            seen.items.push_back(name);
        }
        seen.selection = (int)SendMessageA(combo, CB_GETCURSEL, 0, 0);
        if (action == READER_CLOSE) {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            return;
        }
        if (action >= 0) {
            SendMessageA(combo, CB_SETCURSEL, (WPARAM)action, 0);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_READER_COMBO, CBN_SELCHANGE),
                         (LPARAM)combo);
        }
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_READER_SELECT, BN_CLICKED),
                     (LPARAM)GetDlgItem(dialog, IDC_READER_SELECT));
    });
    SendMessageA(app.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    created = true;
    driver.join();
    if (app.reader_window)
        KillTimer(app.reader_window, 1);
    return seen;
}

inline void card_close_reader(void) {
    if (app.reader_window)
        SendMessageA(app.mdi_client, WM_MDIDESTROY, (WPARAM)app.reader_window, 0);
    harness_pump(5);
}

/* Runs `count` ticks of the state machine, taking in what workers print. */
inline void card_ticks(int count) {
    for (int i = 0; i < count; i++) {
        card_tick();
        harness_pump(2);
    }
}

/* Ticks until the state is `state` (at most ms); true when reached. */
inline bool card_tick_until(int state, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (app.card_state != state) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        card_tick();
        harness_pump(20);
    }
    return true;
}

inline std::vector<std::string> card_reader_lines(void) {
    return harness_lines(app.reader_edit);
}

inline std::vector<std::string> card_console_lines(void) {
    return harness_lines(app.console_edit);
}

/* Lines from the first one equal to `first` on (empty when none is). */
inline std::vector<std::string> card_lines_from(const std::vector<std::string> &lines,
                                                const std::string &first) {
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i] == first)
            return std::vector<std::string>(lines.begin() + (long)i, lines.end());
    }
    return std::vector<std::string>();
}

inline int card_count(const std::vector<std::string> &lines, const std::string &line) {
    int n = 0;
    for (const std::string &l : lines)
        n += l == line;
    return n;
}

inline void card_pane_clear(HWND edit, int pane) {
    SetWindowTextA(edit, "");
    pane_reset(pane);
}

/* Waits for the card scripts started by the state machine to end. */
inline bool card_scripts_wait(int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!script_runs_wait(0)) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        harness_pump(5);
    }
    harness_pump(5);
    return true;
}

/* The clock card_transmit reads, for the tests: each reading takes the
   next entry (seconds, ms); past the end it keeps counting 1 ms a reading. */
struct CardClock {
    std::vector<std::pair<long long, int>> readings;
    std::atomic<int> next{0};
    std::atomic<long long> extra{0};
};

inline CardClock card_clock;

inline void card_clock_read(long long *seconds, int *milliseconds) {
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

inline void card_clock_use(std::vector<std::pair<long long, int>> readings) {
    card_clock.readings = std::move(readings);
    card_clock.next = 0;
    card_clock.extra = 0;
    xfer_clock_set(card_clock_read);
}

#endif
