/*
 * win_harness.cpp: shared helpers and the main of every Win32 test program.
 */
#include "tests/win/win_harness.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "app/app.h"
#include "app/app_state.h"

void harness_pump(int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    do {
        app_message_loop_once();
        Sleep(1);
    } while ((int)(end - GetTickCount()) > 0);
    app_message_loop_once();
}

bool harness_pump_until(bool (*done)(void), int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!done() && (int)(end - GetTickCount()) > 0) {
        app_message_loop_once();
        Sleep(1);
    }
    return done();
}

HWND harness_frame_open(void) {
    HINSTANCE instance = GetModuleHandleA(NULL);

    app_state_init();
    app.instance = instance;
    app.gui_thread_id = GetCurrentThreadId();
    app_locks_create();
    app_register_classes(instance);
    app.frame_menu = LoadMenuA(instance, "MENU1");
    app.window_menu = GetSubMenu(app.frame_menu, 1);
    HWND frame = app_create_frame(getenv("HARNESS_VISIBLE") ? SW_SHOW : SW_HIDE);
    harness_pump(20);
    return frame;
}

static bool harness_frame_gone(void) {
    return !app.frame_window || !IsWindow(app.frame_window);
}

void harness_frame_close(void) {
    if (app.frame_window && IsWindow(app.frame_window))
        PostMessageA(app.frame_window, WM_CLOSE, 0, 0);
    harness_pump_until(harness_frame_gone, 5000);
    /* The frame's destruction posted WM_QUIT; take it off the queue. */
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    if (app.frame_menu && !IsMenu(app.frame_menu))
        app.frame_menu = 0;
    app.frame_window = 0;
    app.mdi_client = 0;
}

std::string harness_window_text(HWND window) {
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

int harness_child_count(void) {
    int count = 0;
    for (HWND child = GetWindow(app.mdi_client, GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT))
        count++;
    return count;
}

struct HarnessFind {
    const char *title;
    HWND found;
};

static BOOL CALLBACK harness_find_one(HWND window, LPARAM param) {
    HarnessFind *find = (HarnessFind *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    if (harness_window_text(window) == find->title) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND harness_find_window(const char *title, int wait_ms) {
    DWORD end = GetTickCount() + (DWORD)wait_ms;
    for (;;) {
        HarnessFind find = {title, 0};
        EnumWindows(harness_find_one, (LPARAM)&find);
        if (find.found || (int)(end - GetTickCount()) <= 0)
            return find.found;
        Sleep(10);
    }
}

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    app_state_init();
    app_locks_create();
    int result = RUN_ALL_TESTS();
    /* End at once: a thread of a common dialog or of the rig's DLL left
       behind must not hold up the process exit under Wine. */
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), (UINT)result);
    return result;
}
