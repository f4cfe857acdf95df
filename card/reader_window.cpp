/*
 * reader_window.cpp: the card reader window "Velmo", an MDI child that holds
 * the reader pane, chooses the reader when it opens, runs the card state
 * machine on its 250 ms timer and drops the card connection when it closes.
 * It also opens the Command dialog; its pane's font, colours, size and
 * paint are handled as the Console's are (console/pane_window.cpp).
 */
#include "card/card.h"

#include "app/app_state.h"
#include "card/card_local.h"
#include "console/console.h"
#include "dialogs/dialogs.h"
#include "resources/names.h"
#include "resources/resource.h"

static LRESULT reader_on_create(HWND window, LPARAM lparam) {
    const CREATESTRUCTA *create = (const CREATESTRUCTA *)lparam;

    app.card_unlock_hook = card_unlock; /* exchanges make up missed ticks */
    pane_window_create(PANE_READER, window, create->hInstance);
    reader_choose();
    reader_print("Reader %s is selected...\r\n", gui_session()->reader_name);
    SetTimer(window, CARD_TIMER_ID, CARD_TIMER_MS, NULL);
    return 0;
}

static LRESULT reader_on_destroy(HWND window) {
    KillTimer(window, CARD_TIMER_ID);
    card_close(&app.gui.reader);
    EnableMenuItem(app.gui.frame_menu, IDM_NEW_READER, MF_BYCOMMAND | MF_ENABLED);
    pane_window_destroy(PANE_READER, window);
    return 0;
}

LRESULT CALLBACK reader_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result;

    switch (message) {
        case WM_CREATE: return reader_on_create(window, lparam);
        case WM_DESTROY: return reader_on_destroy(window);
        case WM_TIMER: card_tick(&app.gui.reader); return 0;
        default: break;
    }
    if (pane_window_message(PANE_READER, window, message, wparam, lparam, &result))
        return result;
    if (message == WM_COMMAND) {
        /* The whole parameter, as the frame compares it: only the menu's
           own command (high word 0) opens the dialog. */
        if (wparam == IDM_SEND_APDU)
            DialogBoxParamA(app.gui.instance, RES_DIALOG_COMMAND, window, command_dialog_proc, 0);
        return 0;
    }
    return DefMDIChildProcA(window, message, wparam, lparam);
}

ATOM reader_window_register(HINSTANCE instance) {
    WNDCLASSEXA wc = {};

    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = reader_window_proc;
    wc.cbWndExtra = 4;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, RES_ICON_MAIN);
    wc.hIconSm = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = CLASS_READER;
    return RegisterClassExA(&wc);
}
