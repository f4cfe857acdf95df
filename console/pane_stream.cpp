/*
 * pane_stream.cpp: the panes' prints written to a stream instead of a
 * window, for the command-line runner: standard output receives what the
 * reader pane (and with -c the Console) would show.
 *
 * The text is the pane's, less its 120-character wrap and 600-line limit: a
 * LF ends a line, a CR just before that LF in the same print is dropped,
 * and every line ends in CR LF as the pane's lines do. A NUL ends the text,
 * as it does for the pane. A lone CR stays.
 *
 * Design: one lock for both panes' streams, held only while one print is
 * written, so prints from several threads interleave whole. Nothing here
 * waits for another thread, so printing while holding card_lock could not
 * deadlock; callers still do not, since the window path forbids it.
 */
#include "console/pane_print.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"

int pane_stream_text(const char *text, int length, char *out) {
    int used = 0;

    for (int i = 0; i < length && text[i]; i++) {
        if (text[i] == '\r' && i + 1 < length && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n')
            out[used++] = '\r';
        out[used++] = text[i];
    }
    out[used] = 0;
    return used;
}

/* Formats as the pane entry does (cut to 63,999 characters) and writes the
   text to the pane's stream. Returns the formatted length. */
int pane_stream_vprint(int pane, const char *format, va_list args) {
    static_assert(PANE_FORMAT_SIZE <= 64000, "two format buffers live on the stack");
    char buffer[PANE_FORMAT_SIZE];
    char out[2 * PANE_FORMAT_SIZE];
    int length = vsnprintf(buffer, sizeof buffer, format, args);

    if (length < 0)
        return 0;
    if (length > PANE_FORMAT_SIZE - 1)
        length = PANE_FORMAT_SIZE - 1;
    int used = pane_stream_text(buffer, length, out);
    platform_lock_enter(&app.pane_stream_lock);
    FILE *stream = app.pane_stream[pane];
    if (stream)
        fwrite(out, 1, (size_t)used, stream);
    platform_lock_leave(&app.pane_stream_lock);
    return length;
}
