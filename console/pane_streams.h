/*
 * pane_streams.h: PaneStreams, the record of the panes' streams and of
 * their writer thread, for a program whose panes print to files instead
 * of windows (the command-line runner, which holds the record and attaches
 * it before its first print). Panes PANE_STREAM_FIRST and up have a stream
 * and no window; the two window panes may have one too. A program that
 * attaches none (the GUI) prints to its windows only.
 *
 * Locks: pane_stream_lock guards the streams' copies, prefixes and
 * unfinished lines and every change of a stream, and is held while one
 * print is written, so the text of one print is never split by another
 * thread's; stream_queue_lock guards the writer's queue (app/app_state.h
 * places both among the program's locks).
 */
#ifndef VORLANE_PANE_STREAMS_H
#define VORLANE_PANE_STREAMS_H

#include <stdio.h>

#include "app/app_state.h" /* PANE_COUNT, PlatformLock */
#include "card/xfer_limits.h"

enum {
    PANE_STREAM_FIRST = PANE_COUNT, /* panes with a stream and no window: from here */
    PANE_STREAM_COUNT = PANE_STREAM_FIRST + 16,
    PANE_STREAM_LINE_SIZE = 2 * XFER_RESPONSE_MAX + 4096, /* the longest line held */
    STREAM_QUEUE_SIZE = 1024 * 1024,                      /* each half of the writer's queue */
};

/* A pane's stream beyond its FILE: an unprefixed copy and, when several
   readers share standard output, the "[N] " that starts each of its whole
   lines. */
struct PaneStreamOut {
    FILE *copy;  /* --output-dir's DIR/reader-N.log, or 0 */
    int prefix;  /* -1: lines as they are; N: "[N] " before each */
    int partial; /* characters of the unfinished line, held in
                    pane_stream_lines[the pane] */
};

struct PaneStreams {
    /* --- The streams (console/pane_stream.cpp), guarded by
       pane_stream_lock. --- */
    PlatformLock pane_stream_lock;
    /* Pane p's prints go to pane_stream[p], or nowhere when it is 0. It is
       set (pane_stream_open) before the thread that prints into the pane
       starts, and cleared by that thread (pane_stream_end) after its last
       print: a print looks at its own pane's without the lock, which it
       takes to write. */
    FILE *pane_stream[PANE_STREAM_COUNT];
    PaneStreamOut pane_stream_out[PANE_STREAM_COUNT];

    /* --- The writer (console/stream_writer.cpp): while it runs, what the
       streams receive is queued here and written by a thread of its own,
       so the next exchange does not wait for the disk. Guarded by
       stream_queue_lock. --- */
    PlatformLock stream_queue_lock;   /* the writer's queue; taken last */
    PlatformSignal stream_queue_data; /* text was queued, or the writer should end */
    PlatformSignal stream_queue_room; /* a half was taken and written, or the writer ended */
    int stream_queue_side;            /* the half printers fill */
    int stream_queue_fill;            /* bytes in it */
    int stream_queue_last;            /* offset of its last record, -1 for none */
    int stream_queue_wanted;          /* a printer waits: the writer takes the half now */
    int stream_queue_handed;          /* bytes in the other half, handed to the writer and
                                         not yet written (0: that half is free) */
    int stream_writer_running;        /* the writer's thread runs */
    int stream_writer_idle;           /* it waits for text to come (not for a batch to grow):
                                         only then does a printer wake it for its first */
    int stream_writer_stop;           /* it ends once the queue is empty */
    PlatformThread stream_writer;     /* its thread: started and joined by the holder's main
                                         thread */
    int locks_ready;                  /* 1 once both locks exist; the holder's main thread */

    /* --- The large buffers, never cleared: only the counts above say
       what in them is text, and a cleared page costs a new process time
       it need not spend. --- */
    char pane_stream_lines[PANE_STREAM_COUNT][PANE_STREAM_LINE_SIZE]; /* unfinished lines of
                                                                         prefixed streams;
                                                                         pane_stream_lock */
    char stream_queue[2][STREAM_QUEUE_SIZE]; /* the writer's two halves: the one printers
                                                fill (stream_queue_side), the one written;
                                                stream_queue_lock */
};

/* Exports from console/pane_stream.cpp */
/* The attached record, or 0: written by the holder's main thread before
   its first print and after its last, read by every print. */
extern PaneStreams *pane_streams;
/* Attaches streams (no stream set, the writer stopped; its locks made
   once), or with 0 detaches the record attached. */
void pane_streams_attach(PaneStreams *streams);
/* From now on pane's prints go to stream (and to copy, or 0), each line
   after "[prefix] " when prefix is 0 or more. */
void pane_stream_open(int pane, FILE *stream, FILE *copy, int prefix);

#endif
