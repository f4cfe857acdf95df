/*
 * pane_window.cpp: what the Console and the reader window share: the edit
 * control that fills them, its font and colours, the Font, Color and
 * Background commands, size and paint.
 *
 * The choosers have no owner window, so the pane's window can be closed,
 * and another of its kind opened, while one is open. What the user chose
 * is stored for the pane and applied to whichever window of that kind
 * exists when the chooser returns.
 */
#include "console/console.h"

#include <commdlg.h>

#include "app/app_state.h"
#include "resources/resource.h"

static HWND pane_edit_create(HWND window, HINSTANCE instance) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_AUTOHSCROLL;
    HWND edit = CreateWindowExA(0, "edit", NULL, style, 0, 0, 0, 0, window, (HMENU)IDC_PANE_EDIT,
                                instance, NULL);
    if (edit)
        pane_edit_prepare(edit);
    return edit;
}

/* Sets a font made from pane_logfont into the pane; the previous one is
   deleted once. */
static void pane_font_set(PaneState *p) {
    HFONT created = CreateFontIndirectA(&app.gui.pane_logfont);

    if (p->edit)
        SendMessageA(p->edit, WM_SETFONT, (WPARAM)created, FALSE);
    if (p->font)
        DeleteObject(p->font);
    p->font = created;
}

static void pane_brush_set(PaneState *p) {
    if (p->back_brush)
        DeleteObject(p->back_brush);
    p->back_brush = CreateSolidBrush(p->back_color);
}

/* A new window: its edit control, an empty pane, the pane's brush and the
   font confirmed last. Returns the edit control. */
HWND pane_window_create(int pane, HWND window, HINSTANCE instance) {
    PaneState *p = &app.gui.panes[pane];
    HWND edit = pane_edit_create(window, instance);

    pane_open(pane, window, edit);
    pane_brush_set(p);
    if (p->font_chosen)
        pane_font_set(p);
    return edit;
}

void pane_window_destroy(int pane, HWND window) {
    PaneState *p = &app.gui.panes[pane];

    if (p->window == window)
        pane_close(pane);
    if (p->font) {
        DeleteObject(p->font);
        p->font = 0;
    }
    if (p->back_brush) {
        DeleteObject(p->back_brush);
        p->back_brush = 0;
    }
}

/* Invalidates without erasing and updates at once, the pane then its window. */
static void pane_redraw(PaneState *p) {
    if (p->edit && IsWindow(p->edit)) {
        InvalidateRect(p->edit, NULL, FALSE);
        UpdateWindow(p->edit);
    }
    if (p->window && IsWindow(p->window)) {
        InvalidateRect(p->window, NULL, FALSE);
        UpdateWindow(p->window);
    }
}

/* Runs the font chooser on pane_logfont (its colour is not used). */
static void pane_choose_font(int pane) {
    PaneState *p = &app.gui.panes[pane];
    CHOOSEFONTA choose = {};

    choose.lStructSize = sizeof choose;
    choose.hwndOwner = NULL;
    choose.lpLogFont = &app.gui.pane_logfont;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
    if (!ChooseFontA(&choose))
        return;
    p->font_chosen = 1;
    if (!p->window)
        return; /* the next window of this kind takes the font */
    pane_font_set(p);
    pane_redraw(p);
}

/* Runs the colour chooser, fully open, starting on grey every time. */
static void pane_choose_color(int pane, int background) {
    PaneState *p = &app.gui.panes[pane];
    CHOOSECOLORA choose = {};

    choose.lStructSize = sizeof choose;
    choose.hwndOwner = NULL;
    choose.rgbResult = RGB(128, 128, 128);
    choose.lpCustColors = app.gui.custom_colors;
    choose.Flags = CC_FULLOPEN | CC_RGBINIT;
    if (!ChooseColorA(&choose))
        return;
    if (!background)
        p->text_color = choose.rgbResult;
    else
        p->back_color = choose.rgbResult;
    if (!p->window)
        return; /* the next window of this kind takes the colour */
    if (background)
        pane_brush_set(p);
    pane_redraw(p);
}

static int pane_window_command(int pane, WPARAM wparam) {
    switch (wparam) {
        case IDM_FONT: pane_choose_font(pane); return 1;
        case IDM_COLOR: pane_choose_color(pane, 0); return 1;
        case IDM_BACKGROUND: pane_choose_color(pane, 1); return 1;
        default: return 0;
    }
}

static LRESULT pane_window_paint(HWND window) {
    PAINTSTRUCT paint;

    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

static LRESULT pane_window_color_edit(HWND window, PaneState *p, WPARAM wparam, LPARAM lparam) {
    if (!p->edit || (HWND)lparam != p->edit)
        return DefMDIChildProcA(window, WM_CTLCOLOREDIT, wparam, lparam);
    SetTextColor((HDC)wparam, p->text_color);
    SetBkColor((HDC)wparam, p->back_color);
    return (LRESULT)p->back_brush;
}

int pane_window_message(int pane, HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT *result) {
    PaneState *p = &app.gui.panes[pane];

    *result = 0;
    switch (message) {
        case WM_SIZE:
            /* The pane fills the client area; the MDI child's own maximise
               and restore need WM_SIZE too. */
            if (p->window == window)
                MoveWindow(p->edit, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            *result = DefMDIChildProcA(window, message, wparam, lparam);
            return 1;
        case WM_MOVE: DefMDIChildProcA(window, message, wparam, lparam); return 1;
        case WM_PAINT: *result = pane_window_paint(window); return 1;
        case WM_ERASEBKGND: return 1;
        case WM_CTLCOLOREDIT: *result = pane_window_color_edit(window, p, wparam, lparam); return 1;
        case WM_COMMAND: return pane_window_command(pane, wparam);
        default: return 0;
    }
}
