/*
 * reader_window.cpp: the card reader window "Velmo", an MDI child that holds
 * the reader pane, chooses the reader when it opens, runs the card state
 * machine on its 250 ms timer and drops the card connection when it closes.
 * It also applies the pane's font and colours and opens the Command dialog.
 *
 * The font and colour choosers have no owner window, so the window can be
 * closed while one is open: each handler checks that it still exists before
 * it touches the pane.
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

    app.reader_window = window;
    pane_reset(0);
    app.reader_edit = pane_edit_create(window, create->hInstance);
    app.reader_back_brush = CreateSolidBrush(app.reader_back_color);
    if (app.reader_font_chosen)
        app.reader_font = pane_font_apply(app.reader_edit);
    reader_choose();
    reader_print("Reader %s is selected...\r\n", app.reader_names);
    SetTimer(window, CARD_TIMER_ID, CARD_TIMER_MS, NULL);
    return 0;
}

static LRESULT reader_on_destroy(HWND window) {
    KillTimer(window, CARD_TIMER_ID);
    card_close();
    if (app.reader_window == window) {
        app.reader_edit = 0;
        app.reader_window = 0;
    }
    EnableMenuItem(app.frame_menu, IDM_NEW_READER, MF_BYCOMMAND | MF_ENABLED);
    pane_style_release(&app.reader_font, &app.reader_back_brush);
    return 0;
}

static int reader_still_open(HWND window) {
    return IsWindow(window) && app.reader_window == window;
}

static void reader_choose_font(HWND window) {
    if (pane_choose_font(window, &app.reader_font))
        app.reader_font_chosen = 1;
}

static void reader_choose_color(HWND window, int background) {
    COLORREF color;

    if (!pane_choose_color(window, &color))
        return;
    if (!background) {
        app.reader_text_color = color;
    } else {
        app.reader_back_color = color;
        if (!reader_still_open(window))
            return; /* the next reader window makes its brush from the colour */
        if (app.reader_back_brush)
            DeleteObject(app.reader_back_brush);
        app.reader_back_brush = CreateSolidBrush(color);
    }
    if (reader_still_open(window))
        pane_redraw(app.reader_edit, window);
}

static LRESULT reader_on_command(HWND window, WPARAM wparam) {
    switch (wparam) {
        case IDM_FONT: reader_choose_font(window); break;
        case IDM_COLOR: reader_choose_color(window, 0); break;
        case IDM_BACKGROUND: reader_choose_color(window, 1); break;
        case IDM_SEND_APDU:
            DialogBoxParamA(app.instance, RES_DIALOG_COMMAND, window, command_dialog_proc, 0);
            break;
        default: break;
    }
    return 0;
}

/* The pane fills the client area. The MDI child's own maximise and restore
   need WM_SIZE too, so it also goes to the default processing. */
static LRESULT reader_on_size(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    MoveWindow(app.reader_edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
    return DefMDIChildProcA(window, message, wparam, lparam);
}

static LRESULT reader_on_paint(HWND window) {
    PAINTSTRUCT paint;

    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

static LRESULT reader_on_color_edit(HWND window, WPARAM wparam, LPARAM lparam) {
    if ((HWND)lparam != app.reader_edit)
        return DefMDIChildProcA(window, WM_CTLCOLOREDIT, wparam, lparam);
    SetTextColor((HDC)wparam, app.reader_text_color);
    SetBkColor((HDC)wparam, app.reader_back_color);
    return (LRESULT)app.reader_back_brush;
}

LRESULT CALLBACK reader_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE: return reader_on_create(window, lparam);
        case WM_DESTROY: return reader_on_destroy(window);
        case WM_TIMER: card_tick(); return 0;
        case WM_COMMAND: return reader_on_command(window, wparam);
        case WM_SIZE: return reader_on_size(window, message, wparam, lparam);
        case WM_MOVE: DefMDIChildProcA(window, message, wparam, lparam); return 0;
        case WM_PAINT: return reader_on_paint(window);
        case WM_ERASEBKGND: return 0;
        case WM_CTLCOLOREDIT: return reader_on_color_edit(window, wparam, lparam);
        default: break;
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
