/*
 * reader_window.cpp: the card reader window "Velmo" (placeholder until the
 * card state machine lands): an MDI child holding the reader pane.
 */
#include "card/card.h"

#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"

static LRESULT reader_on_create(HWND window, LPARAM lparam)
{
    const CREATESTRUCTA *create = (const CREATESTRUCTA *)lparam;
    DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                  ES_AUTOVSCROLL | ES_AUTOHSCROLL;

    app.reader_window = window;
    app.reader_instance = create->hInstance;
    pane_reset(0);
    app.reader_edit = CreateWindowExA(0, "edit", NULL, style, 0, 0, 0, 0, window,
                                      (HMENU)IDC_PANE_EDIT, create->hInstance, NULL);
    pane_edit_prepare(app.reader_edit);
    app.reader_back_brush = CreateSolidBrush(app.reader_back_color);
    return 0;
}

static LRESULT reader_on_destroy(HWND window)
{
    if (app.reader_window == window) {
        app.reader_edit = 0;
        app.reader_window = 0;
    }
    EnableMenuItem(app.frame_menu, IDM_NEW_READER, MF_BYCOMMAND | MF_ENABLED);
    if (app.reader_back_brush) {
        DeleteObject(app.reader_back_brush);
        app.reader_back_brush = 0;
    }
    return 0;
}

LRESULT CALLBACK reader_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
        case WM_CREATE: return reader_on_create(window, lparam);
        case WM_DESTROY: return reader_on_destroy(window);
        case WM_SIZE:
            MoveWindow(app.reader_edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            break;
        case WM_CTLCOLOREDIT:
            if ((HWND)lparam == app.reader_edit) {
                SetTextColor((HDC)wparam, app.reader_text_color);
                SetBkColor((HDC)wparam, app.reader_back_color);
                return (LRESULT)app.reader_back_brush;
            }
            break;
        default: break;
    }
    return DefMDIChildProcA(window, message, wparam, lparam);
}

ATOM reader_window_register(HINSTANCE instance)
{
    WNDCLASSEXA wc = {};

    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = reader_window_proc;
    wc.cbWndExtra = 4;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, "icone");
    wc.hIconSm = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = "Velmo";
    return RegisterClassExA(&wc);
}
