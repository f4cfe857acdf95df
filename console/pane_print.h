/*
 * pane_print.h: the print entry points of the two panes and their streams,
 * for the GUI program and the native runner alike (console/pane_print.cpp);
 * console/pane.cpp or, without windows, console/stream_print.cpp decides
 * where a print goes.
 */
#ifndef VORLANE_PANE_PRINT_H
#define VORLANE_PANE_PRINT_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

/* Exports from console/pane_print.cpp */
/* Any thread: formats (cut to PANE_FORMAT_SIZE - 1 characters) and prints
   into the reader pane / the Console, or into the pane's stream in the
   runner. Returns the length handed over, 0 when dropped. Off the GUI
   thread it may wait while the queue is full: never call with card_lock
   held. */
int reader_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
int console_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* The same into any pane: PANE_READER, PANE_CONSOLE, a runner reader's
   pane, or PANE_NONE (dropped). A card session prints into its own. */
int pane_print(int pane, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Hands text[0..length), no NUL in it, whose every LF follows a CR (the
   form a pane's lines take), to pane without formatting it: a stream gets
   it as it is, a window in pieces its format buffer holds. The fast way
   for long traces. */
void pane_write(int pane, const char *text, size_t length);

/* Exports from console/pane.cpp, or console/stream_print.cpp without windows */
/* reader_print and console_print for one pane; a pane number out of range
   drops the print. */
int pane_vprint(int pane, const char *format, va_list args);
/* 1 when a print into pane would be shown or written, 0 when it is dropped. */
int pane_takes_prints(int pane);

/* Exports from console/pane_stream.cpp: a pane's prints written to a stream
   (the command-line runner), as the pane would show them without its wrap
   and line limit */
int pane_stream_vprint(int pane, const char *format, va_list args); /* formatted length */
/* text[0..length) as the stream receives it, into out (2 * length + 1 bytes);
   returns the bytes written */
int pane_stream_text(const char *text, int length, char *out);
/* Writes text[0..length) to the pane's stream, if it has one, as it is
   (with its reader's number before each line when it has one, and to its
   copy); under pane_stream_lock. */
void pane_stream_put(int pane, const char *text, size_t length);
/* The pane's stream is done with: an unfinished line is ended, and stream,
   copy and number are cleared (the files stay open for their owner). */
void pane_stream_end(int pane);

/* Exports from console/stream_writer.cpp: the runner's output written by
   a thread of its own */
/* Starts the writer; from then on stream_write queues. 1 when it runs. */
int stream_writer_start(void);
/* Writes out everything queued and ends the writer. */
void stream_writer_stop(void);
/* bytes[0..length) to file: queued while the writer runs, else written at
   once; either way in the order of the calls. */
void stream_write(FILE *file, const void *bytes, size_t length);
/* Pieces of text that reach a file one after the other, with nothing of
   another call between them. */
struct StreamPiece {
    const void *bytes;
    size_t length;
};
/* The pieces to file as one stream_write would write them joined. */
void stream_write_pieces(FILE *file, const StreamPiece *pieces, int count);
/* Everything written so far reaches file, which is then flushed. */
void stream_flush(FILE *file);

#endif
