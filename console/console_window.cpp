/*
 * console_window.cpp: the Console, an MDI child whose pane receives the
 * exchange trace of card_transmit. Its colours and font outlive it, so a
 * reopened Console looks like the last one; the handling it shares with
 * the reader window is in pane_window.cpp.
 */
#include "console/console.h"

#include "app/app_state.h"
#include "card/card.h"
#include "resources/resource.h"

static LRESULT console_on_create(HWND window, LPARAM lparam) {
    const CREATESTRUCTA *create = (const CREATESTRUCTA *)lparam;
    HWND edit = pane_window_create(PANE_CONSOLE, window, create->hInstance);

    SendMessageA(edit, EM_SETSEL, (WPARAM)-1, -1);
    xfer_stats_clear();
    return 0;
}

static LRESULT console_on_destroy(HWND window) {
    EnableMenuItem(app.gui.frame_menu, IDM_NEW_CONSOLE, MF_BYCOMMAND | MF_ENABLED);
    pane_window_destroy(PANE_CONSOLE, window);
    return 0;
}

LRESULT CALLBACK console_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT result;

    switch (message) {
        case WM_CREATE: return console_on_create(window, lparam);
        case WM_DESTROY: return console_on_destroy(window);
        case WM_MDIACTIVATE: return 0;
        default: break;
    }
    if (pane_window_message(PANE_CONSOLE, window, message, wparam, lparam, &result))
        return result;
    if (message == WM_COMMAND)
        return 0; /* the Console has no other command */
    return DefMDIChildProcA(window, message, wparam, lparam);
}
