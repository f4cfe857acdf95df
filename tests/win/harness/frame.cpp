/*
 * frame.cpp: the tests' frame, message pump and window reading.
 */
#include "tests/win/harness/frame.h"

#include <stdio.h>

#include <atomic>
#include <thread>

#include "app/app.h"
#include "app/app_state.h"
#include "console/console.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "script/script.h"

/* The program's loop, one pass without waiting; accelerators as in the
   program once the frame has its MDI client. */
void harness_pump_once(void) {
    MSG msg;

    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (!app.gui.mdi_client || !TranslateMDISysAccel(app.gui.mdi_client, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void harness_pump(int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    do {
        harness_pump_once();
        Sleep(1);
    } while ((int)(end - GetTickCount()) > 0);
    harness_pump_once();
}

bool harness_pump_until(bool (*done)(void), int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!done() && (int)(end - GetTickCount()) > 0) {
        harness_pump_once();
        Sleep(1);
    }
    return done();
}

bool harness_with_pump(const std::function<void()> &work, int ms) {
    std::atomic<bool> done(false);
    std::thread worker([&] {
        work();
        done = true;
    });
    DWORD end = GetTickCount() + (DWORD)ms;
    bool in_time = true;
    while (!done) {
        harness_pump_once();
        Sleep(1);
        if ((int)(end - GetTickCount()) <= 0)
            in_time = false;
    }
    worker.join();
    harness_pump_once();
    return in_time;
}

DWORD harness_worst_answer_ms(HWND window, const std::function<void()> &gui) {
    std::atomic<bool> done(false), ended(false);
    std::atomic<DWORD> worst(0);
    std::thread probe([&] {
        while (!done) {
            DWORD start = GetTickCount();
            DWORD_PTR length = 0;
            SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 120000, &length);
            DWORD took = GetTickCount() - start;
            if (took > worst)
                worst = took;
            Sleep(5);
        }
        ended = true;
    });
    gui();
    done = true;
    while (!ended) /* the probe's last question still wants an answer */
        harness_pump_once();
    probe.join();
    return worst;
}

HWND harness_frame_open(void) {
    HINSTANCE instance = GetModuleHandleA(NULL);

    app_state_init();
    app.gui.instance = instance;
    app.gui.gui_thread_id = GetCurrentThreadId();
    app_locks_create();
    app_register_classes(instance);
    app.gui.frame_menu = LoadMenuA(instance, RES_MENU_MAIN);
    app.gui.window_menu = GetSubMenu(app.gui.frame_menu, 1);
    HWND frame = app_create_frame(getenv("HARNESS_VISIBLE") ? SW_SHOW : SW_HIDE);
    harness_pump(20);
    return frame;
}

static bool harness_frame_gone(void) {
    return !app.gui.frame_window || !IsWindow(app.gui.frame_window);
}

void harness_frame_close(void) {
    if (app.gui.frame_window && IsWindow(app.gui.frame_window))
        PostMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
    harness_pump_until(harness_frame_gone, 5000);
    /* The frame's destruction posted WM_QUIT; take it off the queue. */
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (app.gui.frame_menu && !IsMenu(app.gui.frame_menu))
        app.gui.frame_menu = 0;
    app.gui.frame_window = 0;
    app.gui.mdi_client = 0;
}

/* A pane's queued text is shown before the pane is read, as a user who
   waits a moment would see it. */
static void harness_pane_flush(HWND window) {
    for (int pane = 0; pane < PANE_COUNT; pane++)
        if (window && window == app.gui.panes[pane].edit)
            pane_flush(pane);
}

std::string harness_window_text(HWND window) {
    harness_pane_flush(window);
    int length = (int)SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::string text((size_t)length + 1, '\0');
    SendMessageA(window, WM_GETTEXT, (WPARAM)length + 1, (LPARAM)&text[0]);
    text.resize(strlen(text.c_str()));
    return text;
}

std::vector<std::string> harness_lines(HWND edit) {
    std::string text = harness_window_text(edit);
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

void harness_pane_clear(HWND edit, int pane) {
    harness_pane_flush(edit); /* text queued before the clear goes with it */
    SetWindowTextA(edit, "");
    pane_reset(pane);
}

bool harness_scripts_wait(int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!script_runs_wait(0)) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        harness_pump(5);
    }
    harness_pump(5);
    return true;
}

int harness_child_count(void) {
    int count = 0;
    for (HWND child = GetWindow(app.gui.mdi_client, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
        count++;
    return count;
}

struct HarnessFind {
    const std::function<bool(HWND)> *match;
    HWND found;
};

static BOOL CALLBACK harness_find_one(HWND window, LPARAM param) {
    HarnessFind *find = (HarnessFind *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || !(*find->match)(window))
        return TRUE;
    find->found = window;
    return FALSE;
}

HWND harness_find_visible(const std::function<bool(HWND)> &match, int wait_ms) {
    DWORD end = GetTickCount() + (DWORD)wait_ms;
    for (;;) {
        HarnessFind find = {&match, 0};
        EnumWindows(harness_find_one, (LPARAM)&find);
        if (find.found || (int)(end - GetTickCount()) <= 0)
            return find.found;
        Sleep(10);
    }
}

HWND harness_find_window(const char *title, int wait_ms) {
    return harness_find_visible([&](HWND window) { return harness_window_text(window) == title; },
                                wait_ms);
}

void harness_reader_open(void) {
    std::thread dismiss([] {
        HWND dialog = harness_find_window("Reader", 1500);
        if (dialog)
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    dismiss.join();
    harness_pump(10);
}
