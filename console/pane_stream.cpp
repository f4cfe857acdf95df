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
 * Design: one lock for every pane's stream, held only while one print is
 * written, so prints from several threads interleave whole. The runner's
 * writer thread (stream_writer.cpp) may take the text from there; a print
 * waits for it only when its queue is full, and the writer waits for
 * nobody. Callers still never print while holding card_lock, since the
 * window path forbids it.
 */
#include "console/pane_print.h"

#include <stdio.h>
#include <string.h>

#include "console/pane_streams.h"

PaneStreams *pane_streams;

void pane_streams_attach(PaneStreams *streams) {
    pane_streams = streams;
    if (!streams)
        return;
    if (!streams->locks_ready) {
        platform_lock_init(&streams->pane_stream_lock);
        platform_lock_init(&streams->stream_queue_lock);
        platform_signal_init(&streams->stream_queue_data);
        platform_signal_init(&streams->stream_queue_room);
        streams->locks_ready = 1;
    }
    for (int i = 0; i < PANE_STREAM_COUNT; i++) {
        streams->pane_stream[i] = 0;
        streams->pane_stream_out[i].copy = 0;
        streams->pane_stream_out[i].prefix = -1;
        streams->pane_stream_out[i].partial = 0;
    }
    streams->stream_queue_side = 0;
    streams->stream_queue_fill = 0;
    streams->stream_queue_handed = 0;
    streams->stream_writer_running = 0;
    streams->stream_writer_idle = 0;
    streams->stream_writer_stop = 0;
}

void pane_stream_open(int pane, FILE *stream, FILE *copy, int prefix) {
    platform_lock_enter(&pane_streams->pane_stream_lock);
    pane_streams->pane_stream[pane] = stream;
    pane_streams->pane_stream_out[pane].copy = copy;
    pane_streams->pane_stream_out[pane].prefix = prefix;
    pane_streams->pane_stream_out[pane].partial = 0;
    platform_lock_leave(&pane_streams->pane_stream_lock);
}

/* Copies the text a run at a time: only a line feed (and a carriage
   return right before it) is rewritten, and long traces hold few. */
int pane_stream_text(const char *text, int length, char *out) {
    const char *end = text + strnlen(text, (size_t)length);
    int used = 0;

    while (text < end) {
        const char *feed = (const char *)memchr(text, '\n', (size_t)(end - text));
        const char *stop = feed ? feed : end;
        size_t run = (size_t)(stop - text);
        if (feed && run > 0 && feed[-1] == '\r')
            run--; /* CR LF written as the one line end below */
        memcpy(out + used, text, run);
        used += (int)run;
        if (!feed)
            break;
        out[used++] = '\r';
        out[used++] = '\n';
        text = feed + 1;
    }
    out[used] = 0;
    return used;
}

/* "[N] " for a reader's number N (0 or more) into prefix, which holds
   PANE_PREFIX_SIZE bytes; returns its length. Written by hand: a line of a
   long trace is 64 digits, and a call to snprintf would cost as much. */
enum { PANE_PREFIX_SIZE = 16 };
static size_t pane_stream_prefix(int number, char *prefix) {
    char digits[12];
    size_t count = 0, used = 0;

    do {
        digits[count++] = (char)('0' + number % 10);
        number /= 10;
    } while (number > 0 && count < sizeof digits);
    prefix[used++] = '[';
    while (count > 0)
        prefix[used++] = digits[--count];
    prefix[used++] = ']';
    prefix[used++] = ' ';
    return used;
}

/* Under pane_stream_lock: the held line and text up to its end, whole,
   after the pane's "[N] ". */
static void pane_stream_line(FILE *stream, PaneStreamOut *out, const char *text, size_t length) {
    char prefix[PANE_PREFIX_SIZE];
    StreamPiece pieces[3] = {
        {prefix, pane_stream_prefix(out->prefix, prefix)},
        {out->partial > 0 ? pane_streams->pane_stream_lines[out - pane_streams->pane_stream_out]
                          : "",
         (size_t)out->partial},
        {text, length}};

    stream_write_pieces(stream, pieces, 3);
    out->partial = 0;
}

/* Under pane_stream_lock: text for a stream whose lines carry their
   reader's number. Whole lines go out at once; an unfinished one waits in
   the pane's line, so that no other reader's text gets into it (a line
   longer than that room goes out in pieces, each with the number). */
static void pane_stream_prefixed(FILE *stream, PaneStreamOut *out, const char *text,
                                 size_t length) {
    while (length > 0) {
        const char *feed = (const char *)memchr(text, '\n', length);
        size_t run = feed ? (size_t)(feed - text) + 1 : length;
        if (feed) {
            pane_stream_line(stream, out, text, run);
        } else if (run > PANE_STREAM_LINE_SIZE - (size_t)out->partial) {
            pane_stream_line(stream, out, text, run);
        } else {
            memcpy(pane_streams->pane_stream_lines[out - pane_streams->pane_stream_out] +
                       out->partial,
                   text, run);
            out->partial += (int)run;
        }
        text += run;
        length -= run;
    }
}

void pane_stream_put(int pane, const char *text, size_t length) {
    platform_lock_enter(&pane_streams->pane_stream_lock);
    FILE *stream = pane_streams->pane_stream[pane];
    PaneStreamOut *out = &pane_streams->pane_stream_out[pane];
    if (out->copy)
        stream_write(out->copy, text, length);
    if (stream && out->prefix < 0)
        stream_write(stream, text, length);
    else if (stream)
        pane_stream_prefixed(stream, out, text, length);
    platform_lock_leave(&pane_streams->pane_stream_lock);
}

void pane_stream_end(int pane) {
    platform_lock_enter(&pane_streams->pane_stream_lock);
    PaneStreamOut *out = &pane_streams->pane_stream_out[pane];
    if (pane_streams->pane_stream[pane] && out->partial > 0)
        pane_stream_line(pane_streams->pane_stream[pane], out, "\r\n", 2);
    out->partial = 0;
    pane_streams->pane_stream[pane] = 0;
    out->copy = 0;
    out->prefix = -1;
    platform_lock_leave(&pane_streams->pane_stream_lock);
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
    pane_stream_put(pane, out, (size_t)pane_stream_text(buffer, length, out));
    return length;
}
