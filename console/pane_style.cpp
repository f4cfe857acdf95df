/*
 * pane_style.cpp: the Font, Color and Background choosers shared by the
 * Console and the reader window.
 *
 * The choosers have no owner window, so the pane's window can be closed
 * while one is open. Every caller passes the window and checks that it still
 * exists before it applies what the user chose.
 */
#include "console/console.h"

#include <commdlg.h>

#include "app/app_state.h"
#include "resources/resource.h"

/* The multi-line edit control that fills a pane's window. */
HWND pane_edit_create(HWND window, HINSTANCE instance) {
    DWORD style = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                  ES_AUTOHSCROLL;
    HWND edit = CreateWindowExA(0, "edit", NULL, style, 0, 0, 0, 0, window, (HMENU)IDC_PANE_EDIT,
                                instance, NULL);
    if (edit)
        pane_edit_prepare(edit);
    return edit;
}

/* A new window gets the font confirmed last in either pane. */
HFONT pane_font_apply(HWND edit) {
    HFONT font = CreateFontIndirectA(&app.pane_logfont);
    SendMessageA(edit, WM_SETFONT, (WPARAM)font, FALSE);
    return font;
}

void pane_style_release(HFONT *font, HBRUSH *brush) {
    if (*font) {
        DeleteObject(*font);
        *font = 0;
    }
    if (*brush) {
        DeleteObject(*brush);
        *brush = 0;
    }
}

/* Runs the font chooser on pane_logfont. When the user confirms and window
   still exists, creates the font, sets it into the window's pane and swaps
   it with *font (the previous one is deleted once). Returns 1 when confirmed. */
int pane_choose_font(HWND window, HFONT *font) {
    CHOOSEFONTA choose = {};

    choose.lStructSize = sizeof choose;
    choose.hwndOwner = NULL;
    choose.lpLogFont = &app.pane_logfont;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS;
    if (!ChooseFontA(&choose))
        return 0;
    if (!IsWindow(window))
        return 1;
    HWND edit = GetDlgItem(window, IDC_PANE_EDIT);
    HFONT created = CreateFontIndirectA(&app.pane_logfont);
    if (edit)
        SendMessageA(edit, WM_SETFONT, (WPARAM)created, FALSE);
    if (*font)
        DeleteObject(*font);
    *font = created;
    pane_redraw(edit, window);
    return 1;
}

/* Runs the colour chooser, fully open, starting on grey every time. */
int pane_choose_color(HWND window, COLORREF *color) {
    CHOOSECOLORA choose = {};

    (void)window;
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = NULL;
    choose.rgbResult = RGB(128, 128, 128);
    choose.lpCustColors = app.custom_colors;
    choose.Flags = CC_FULLOPEN | CC_RGBINIT;
    if (!ChooseColorA(&choose))
        return 0;
    *color = choose.rgbResult;
    return 1;
}

/* Invalidates without erasing and updates at once, the pane then its window. */
void pane_redraw(HWND edit, HWND window) {
    if (edit && IsWindow(edit)) {
        InvalidateRect(edit, NULL, FALSE);
        UpdateWindow(edit);
    }
    if (window && IsWindow(window)) {
        InvalidateRect(window, NULL, FALSE);
        UpdateWindow(window);
    }
}
