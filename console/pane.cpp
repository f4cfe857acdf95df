/*
 * pane.cpp: the line discipline of the two text panes and their print entry
 * points, reader_print (pane 0) and console_print (pane 1).
 *
 * A pane shows complete lines only, wraps hard at 120 characters, keeps at
 * most 599 lines and rebuilds itself from the newest 300 when the 600th
 * completes. Each complete line is inserted where the previous one ended.
 *
 * Design: only the GUI thread touches the line slots, the insertion points
 * and the edit controls. A worker thread formats into a buffer on its own
 * stack and hands the text to the GUI thread with SendMessage to the frame
 * (WM_PANE_PRINT), which appends it. SendMessage is synchronous, so each
 * thread's output keeps its order and the caller waits for the display, as a
 * direct call would. No lock is held across that wait, so the GUI thread can
 * print from a timer or a dialog at any time without a deadlock. The one
 * rule left for callers: never print while holding card_lock.
 */
#include "console/console.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"

/* What a worker hands to the GUI thread */
struct PanePrintRequest {
    const char *text;
    int length;
};

static HWND pane_edit(int pane) {
    return pane == 0 ? app.reader_edit : app.console_edit;
}

static char *pane_format_buffer(int pane) {
    return pane == 0 ? app.reader_format : app.console_format;
}

void pane_reset(int pane) {
    app.pane_current[pane] = 0;
    app.pane_insert_start[pane] = 0;
    app.pane_insert_end[pane] = 0;
    app.pane_lines[pane][0][0] = 0;
}

/* A full pane holds 599 lines of up to 122 characters, above the edit
   control's default limit of about 32,000 characters. */
void pane_edit_prepare(HWND edit) {
    SendMessageA(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
}

static void pane_read_selection(HWND edit, int pane) {
    DWORD start = 0, end = 0;

    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    app.pane_insert_start[pane] = (int)start;
    app.pane_insert_end[pane] = (int)end;
}

/* The 600th line completed: keep the newest 300 and rebuild the control. */
static void pane_rebuild(HWND edit, int pane) {
    char work[PANE_FORMAT_SIZE];
    char(*lines)[PANE_SLOT_SIZE] = app.pane_lines[pane];
    size_t used = 0;

    memmove(lines[0], lines[300], 300 * sizeof lines[0]);
    strcat(lines[299], "\r\n");
    for (int k = 0; k < 300; k++) {
        size_t n = strlen(lines[k]);
        memcpy(work + used, lines[k], n);
        used += n;
    }
    work[used] = 0;
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, WM_CLEAR, 0, 0);
    SendMessageA(edit, EM_REPLACESEL, FALSE, (LPARAM)work);
    pane_read_selection(edit, pane);
    app.pane_current[pane] = 299;
}

/* Appends segment to the open line, shows the line and opens the next one. */
static void pane_complete_line(HWND edit, int pane, const char *segment) {
    char *slot = app.pane_lines[pane][app.pane_current[pane]];
    size_t used = strlen(slot);
    size_t room = PANE_LINE_MAX > used ? PANE_LINE_MAX - used : 0;

    strncat(slot, segment, room);
    if (app.pane_current[pane] == 599) {
        pane_rebuild(edit, pane);
    } else {
        strcat(slot, "\r\n");
        SendMessageA(edit, EM_SETSEL, app.pane_insert_start[pane], app.pane_insert_end[pane]);
        SendMessageA(edit, EM_REPLACESEL, FALSE, (LPARAM)slot);
        pane_read_selection(edit, pane);
    }
    app.pane_current[pane]++;
    app.pane_lines[pane][app.pane_current[pane]][0] = 0;
}

int pane_append(HWND edit, char *text, int length, int pane) {
    text[length] = 0;
    int n = (int)strlen(text);
    int open = (int)strlen(app.pane_lines[pane][app.pane_current[pane]]);
    int s = 0, i = 0;

    while (i < n) {
        if (text[i] == '\n') {
            text[i] = 0;
            if (i >= 1 && text[i - 1] == '\r')
                text[i - 1] = 0;
            pane_complete_line(edit, pane, text + s);
            s = i + 1;
            i = s;
            open = 0;
        } else if ((i - s) + open + 1 < PANE_LINE_MAX) {
            i++;
        } else {
            int c = i + 1; /* the 120th character of the line ends here */
            char keep = text[c];
            text[c] = 0;
            pane_complete_line(edit, pane, text + s);
            text[c] = keep;
            s = c;
            i = c;
            open = 0;
        }
    }
    if (s < n) {
        char *slot = app.pane_lines[pane][app.pane_current[pane]];
        size_t used = strlen(slot);
        if (used < PANE_LINE_MAX)
            strncat(slot, text + s, PANE_LINE_MAX - used);
    }
    return length;
}

/* GUI thread: copy the text into the pane's buffer and append it. */
static int pane_append_copy(int pane, const char *text, int length) {
    HWND edit = pane_edit(pane);
    char *buffer = pane_format_buffer(pane);

    if (!edit)
        return 0;
    if (length > PANE_FORMAT_SIZE - 1)
        length = PANE_FORMAT_SIZE - 1;
    if (text != buffer)
        memmove(buffer, text, (size_t)length);
    return pane_append(edit, buffer, length, pane);
}

LRESULT pane_sink_message(WPARAM wparam, LPARAM lparam) {
    const PanePrintRequest *request = (const PanePrintRequest *)lparam;
    int pane = (int)wparam;

    if (pane < 0 || pane >= PANE_COUNT || !request)
        return 0;
    return pane_append_copy(pane, request->text, request->length);
}

/* Hands already formatted text to the pane, from any thread. */
int pane_print_text(int pane, const char *text, int length) {
    if (!pane_edit(pane))
        return 0;
    if (GetCurrentThreadId() == app.gui_thread_id)
        return pane_append_copy(pane, text, length);
    if (!app.frame_window)
        return 0;
    PanePrintRequest request = {text, length};
    return (int)SendMessageA(app.frame_window, WM_PANE_PRINT, (WPARAM)pane, (LPARAM)&request);
}

/* Formats into buffer (PANE_FORMAT_SIZE bytes). A message that does not fit
   is cut to its first 63,999 characters, and that is the length returned. */
static int pane_format(char *buffer, const char *format, va_list args) {
    int length = vsnprintf(buffer, PANE_FORMAT_SIZE, format, args);

    if (length < 0)
        return 0;
    if (length > PANE_FORMAT_SIZE - 1)
        length = PANE_FORMAT_SIZE - 1;
    return length;
}

static int pane_vprint(int pane, const char *format, va_list args) {
    if (!pane_edit(pane))
        return 0;
    if (GetCurrentThreadId() == app.gui_thread_id) {
        char *buffer = pane_format_buffer(pane);
        int length = pane_format(buffer, format, args);
        HWND edit = pane_edit(pane);
        return edit ? pane_append(edit, buffer, length, pane) : 0;
    }
    char buffer[PANE_FORMAT_SIZE];
    int length = pane_format(buffer, format, args);
    return pane_print_text(pane, buffer, length);
}

int reader_print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_vprint(0, format, args);
    va_end(args);
    return length;
}

int console_print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_vprint(1, format, args);
    va_end(args);
    return length;
}
