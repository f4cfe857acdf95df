/*
 * console_window.cpp: the Console, an MDI child whose edit control receives
 * the exchange trace of card_transmit. Its colours and font outlive it, so a
 * reopened Console looks like the last one.
 */
#include "console/console.h"

#include "app/app_state.h"
#include "card/card.h"
#include "resources/resource.h"

static LRESULT console_on_create(HWND window, LPARAM lparam) {
    const CREATESTRUCTA *create = (const CREATESTRUCTA *)lparam;

    app.console_window = window;
    app.console_edit = pane_edit_create(window, create->hInstance);
    SendMessageA(app.console_edit, EM_SETSEL, (WPARAM)-1, -1);
    xfer_stats_clear();
    pane_reset(1);
    app.console_back_brush = CreateSolidBrush(app.console_back_color);
    if (app.console_font_chosen)
        app.console_font = pane_font_apply(app.console_edit);
    return 0;
}

static LRESULT console_on_destroy(HWND window) {
    EnableMenuItem(app.frame_menu, IDM_NEW_CONSOLE, MF_BYCOMMAND | MF_ENABLED);
    if (app.console_window == window) {
        app.console_edit = 0;
        app.console_window = 0;
    }
    pane_style_release(&app.console_font, &app.console_back_brush);
    return 0;
}

static void console_choose_font(HWND window) {
    if (!pane_choose_font(window, &app.console_font))
        return;
    app.console_font_chosen = 1;
}

static void console_choose_color(HWND window, int background) {
    COLORREF color;

    if (!pane_choose_color(window, &color))
        return;
    if (!background) {
        app.console_text_color = color;
    } else {
        app.console_back_color = color;
        if (!IsWindow(window) || app.console_window != window)
            return; /* the next Console makes its brush from the colour */
        if (app.console_back_brush)
            DeleteObject(app.console_back_brush);
        app.console_back_brush = CreateSolidBrush(color);
    }
    if (IsWindow(window) && app.console_window == window)
        pane_redraw(app.console_edit, window);
}

static LRESULT console_on_command(HWND window, WPARAM wparam) {
    switch (wparam) {
        case IDM_FONT: console_choose_font(window); break;
        case IDM_COLOR: console_choose_color(window, 0); break;
        case IDM_BACKGROUND: console_choose_color(window, 1); break;
        default: break;
    }
    return 0;
}

static LRESULT console_on_size(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MoveWindow(app.console_edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
    /* The MDI child's own maximise and restore need WM_SIZE too. */
    return DefMDIChildProcA(window, message, wparam, lparam);
}

static LRESULT console_on_paint(HWND window) {
    PAINTSTRUCT paint;

    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

LRESULT CALLBACK console_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE: return console_on_create(window, lparam);
        case WM_DESTROY: return console_on_destroy(window);
        case WM_SIZE: return console_on_size(window, message, wparam, lparam);
        case WM_PAINT: return console_on_paint(window);
        case WM_MOVE: DefMDIChildProcA(window, message, wparam, lparam); return 0;
        case WM_ERASEBKGND:
        case WM_MDIACTIVATE: return 0;
        case WM_COMMAND: return console_on_command(window, wparam);
        case WM_CTLCOLOREDIT:
            if ((HWND)lparam == app.console_edit) {
                SetTextColor((HDC)wparam, app.console_text_color);
                SetBkColor((HDC)wparam, app.console_back_color);
                return (LRESULT)app.console_back_brush;
            }
            break;
        default: break;
    }
    return DefMDIChildProcA(window, message, wparam, lparam);
}
