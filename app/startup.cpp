/*
 * startup.cpp: start-up, the message loop and shutdown of Vorlane.
 *
 * Order: command line, ATR table, logo, window classes, menu, locks, frame,
 * the card reader window (command 50), the message loop, then the network
 * reader's stop. card_lock is deleted only when no script run is left, since
 * a run may still be going when the frame closes.
 */
#include "app/app.h"

#include "app/app_state.h"
#include "app/command_line.h"
#include "card/card.h"
#include "console/console.h"
#include "net/net.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "script/script.h"

static ATOM app_register_class(HINSTANCE instance, const char *name, WNDPROC proc, HBRUSH back,
                               HICON small_icon) {
    WNDCLASSEXA wc = {};

    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, RES_ICON_MAIN);
    wc.hIconSm = small_icon;
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = back;
    wc.lpszClassName = name;
    return RegisterClassExA(&wc);
}

/* Registers Vorlane, HelloChild and Velmo, in that order. Returns 1 when all
   three are registered (or were already). */
int app_register_classes(HINSTANCE instance) {
    HICON icon = LoadIconA(instance, RES_ICON_MAIN);
    int ok = 1;

    if (!app_register_class(instance, CLASS_FRAME, frame_window_proc,
                            (HBRUSH)(COLOR_APPWORKSPACE + 1), icon) &&
        GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        ok = 0;
    if (!app_register_class(instance, CLASS_CONSOLE, console_window_proc,
                            (HBRUSH)GetStockObject(WHITE_BRUSH), icon) &&
        GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        ok = 0;
    if (!reader_window_register(instance) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        ok = 0;
    return ok;
}

HWND app_create_frame(int show) {
    HWND frame = CreateWindowExA(0, CLASS_FRAME, CLASS_FRAME, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL,
                                 app.gui.frame_menu, app.gui.instance, NULL);
    if (!frame)
        return NULL;
    ShowWindow(frame, show);
    UpdateWindow(frame);
    return frame;
}

static int app_message_loop(void) {
    MSG msg = {};

    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!TranslateMDISysAccel(app.gui.mdi_client, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return (int)msg.wParam;
}

static void app_fail(const char *what) {
    MessageBoxA(NULL, what, "Vorlane", MB_OK | MB_ICONERROR);
}

int app_run(HINSTANCE instance, const char *command_line, int show) {
    app_state_init();
    app.gui.instance = instance; /* the logo resource is loaded from it */
    app.gui.gui_thread_id = GetCurrentThreadId();
    command_line_parse(command_line, app.auto_script_name, sizeof app.auto_script_name,
                       &app.network_server_enabled);
    atr_table_load();
    logo_load();
    if (!app_register_classes(instance)) {
        app_fail("Vorlane cannot register its window classes.");
        return 1;
    }
    app.gui.frame_menu = LoadMenuA(instance, RES_MENU_MAIN);
    app.gui.window_menu = GetSubMenu(app.gui.frame_menu, 1);
    app_locks_create();
    if (!app_create_frame(show)) {
        app_fail("Vorlane cannot create its main window.");
        return 1;
    }
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    int code = app_message_loop();
    if (app.network_server_enabled)
        net_server_stop(1);
    card_drop_wait(); /* a reader window closed during an exchange */
    /* A script run may outlive the frame; its lock must outlive it too.
       With 0, script_runs_wait only checks that no run is left. */
    if (script_runs_wait(0))
        DeleteCriticalSection(&gui_session()->card_lock);
    return code;
}
