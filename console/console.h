/*
 * console.h: the two text panes (reader pane 0, Console pane 1), their print
 * entry points and the Console window.
 */
#ifndef VORLANE_CONSOLE_H
#define VORLANE_CONSOLE_H

#include <windows.h>

/* Exports from console/pane.cpp */
void pane_reset(int pane);
int pane_append(HWND edit, char *text, int length, int pane);
int reader_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
int console_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
int pane_print_text(int pane, const char *text, int length); /* already formatted */
LRESULT pane_sink_message(WPARAM wparam, LPARAM lparam);     /* frame's WM_PANE_PRINT */
void pane_edit_prepare(HWND edit);                           /* lift the text limit */

/* Posted-by-SendMessage request that carries a worker's text to the GUI thread */
#define WM_PANE_PRINT (WM_APP + 1)

/* Exports from console/pane_style.cpp: what the two panes' windows share */
HWND pane_edit_create(HWND window, HINSTANCE instance); /* the pane's edit control */
HFONT pane_font_apply(HWND edit);                       /* font from pane_logfont, set */
void pane_style_release(HFONT *font, HBRUSH *brush);    /* each deleted once, then 0 */
int pane_choose_font(HWND window, HFONT *font);         /* 1 when a new font was set */
int pane_choose_color(HWND window, COLORREF *color);    /* 1 when confirmed */
void pane_redraw(HWND edit, HWND window);

/* Exports from console/console_window.cpp */
LRESULT CALLBACK console_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#endif
