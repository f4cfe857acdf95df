/*
 * stream_writer.cpp: the runner's output written by a thread of its own.
 *
 * A traced 65,535-byte answer is 137 KB of text, and a file takes it at a
 * few hundred megabytes a second: written on the reader's thread, it would
 * cost the next exchange about as much time again as the card took. While
 * the writer runs, stream_write only copies the text into a queue; the
 * writer takes a whole half of it at a time and writes it out while the
 * readers exchange with their cards.
 *
 * Design: the queue has two halves (as a pane's queue does). Printers
 * append records (the FILE, the length, the bytes) to one half under
 * stream_queue_lock, always in the order the pane streams produced them
 * (they hold pane_stream_lock while they call), so the files receive
 * exactly what direct writes would have given; text for the same FILE as
 * the record before it joins that record. The writer swaps the halves
 * under the lock and writes the taken one outside it.
 *
 * Batches: a hand-over costs both threads a wake-up, more than a short
 * exchange's text costs to copy. So a printer wakes the writer only when
 * it is idle and the first record comes; the writer then lets the half
 * fill for STREAM_BATCH_MS and takes it, or sooner when a printer asks for
 * everything to be out (stream_flush, at the end of each script). While
 * text keeps coming the writer takes a batch every STREAM_BATCH_MS by its
 * own clock, and nobody wakes it. A
 * printer that finds its half full while the other one is free hands the
 * full one over itself and goes on in the other: long answers fill a half
 * in a few exchanges, and waiting each time for the writer to wake and
 * take it would put two wake-ups into the reader's exchanges. Only when
 * both halves are full does a printer wait, on stream_queue_room. What a
 * reader prints reaches its file at most a few milliseconds later, however
 * long its card then takes, and each taken half is flushed to its files:
 * an interrupt or a crash loses no more than the batch in progress. Text
 * larger than a half is written at once, once everything before it is
 * out. Nothing here prints or takes another lock: stream_queue_lock is
 * taken last.
 */
#include "console/pane_print.h"

#include <stdint.h>
#include <string.h>

#include "console/pane_streams.h"

enum {
    STREAM_WAIT_MS = 100, /* longest single wait; every wait is looked at again */
    STREAM_BATCH_MS = 5,  /* a half fills at most this long before it is written */
};

/* A record's head in the queue; the bytes follow. */
struct StreamRecord {
    FILE *file;
    size_t length;
};

/* Writes a taken half, then flushes its files, so that the batch is in
   the files, not in the C library's buffers, once it is written (a file
   flushed already has nothing left to write). */
static void stream_records_write(const char *records, int fill) {
    StreamRecord record;

    for (int at = 0; at < fill; at += (int)(sizeof record + record.length)) {
        memcpy(&record, records + at, sizeof record);
        fwrite(records + at + sizeof record, 1, record.length, record.file);
    }
    for (int at = 0; at < fill; at += (int)(sizeof record + record.length)) {
        memcpy(&record, records + at, sizeof record);
        fflush(record.file);
    }
}

/* Under stream_queue_lock: the filling half handed to the writer, and
   printers go on in the other (which must be free). */
static void stream_half_hand(void) {
    pane_streams->stream_queue_handed = pane_streams->stream_queue_fill;
    pane_streams->stream_queue_side ^= 1;
    pane_streams->stream_queue_fill = 0;
    pane_streams->stream_queue_last = -1;
    pane_streams->stream_queue_wanted = 0;
}

/* Under stream_queue_lock: waits until text comes, a half is handed or
   the writer is asked to stop. Only this wait is woken by printers. */
static void stream_writer_idle_wait(void) {
    while (pane_streams->stream_queue_handed == 0 && pane_streams->stream_queue_fill == 0 &&
           !pane_streams->stream_writer_stop) {
        pane_streams->stream_writer_idle = 1;
        platform_signal_wait(&pane_streams->stream_queue_data, &pane_streams->stream_queue_lock,
                             STREAM_WAIT_MS);
        pane_streams->stream_writer_idle = 0;
    }
}

/* Takes a batch every STREAM_BATCH_MS while text keeps coming (nobody
   wakes it for that), sooner when a printer hands a half over or wants
   everything out; idle once a batch time has brought nothing. */
static PlatformThreadResult PLATFORM_THREAD_CALL stream_writer_thread(void *) {
    int flowing = 0; /* the last batch had text: more is likely on its way */

    platform_lock_enter(&pane_streams->stream_queue_lock);
    for (;;) {
        if (pane_streams->stream_queue_handed == 0 && pane_streams->stream_queue_fill == 0 &&
            !flowing)
            stream_writer_idle_wait();
        else if (pane_streams->stream_queue_handed == 0 && !pane_streams->stream_queue_wanted &&
                 !pane_streams->stream_writer_stop)
            platform_signal_wait(&pane_streams->stream_queue_data, &pane_streams->stream_queue_lock,
                                 STREAM_BATCH_MS);
        if (pane_streams->stream_queue_handed == 0 && pane_streams->stream_queue_fill == 0) {
            if (pane_streams->stream_writer_stop)
                break; /* asked to stop, and everything is out */
            flowing = 0;
            continue;
        }
        if (pane_streams->stream_queue_handed == 0)
            stream_half_hand();
        /* printers never touch a handed half: it is written outside the lock */
        const char *records = pane_streams->stream_queue[pane_streams->stream_queue_side ^ 1];
        int fill = pane_streams->stream_queue_handed;
        platform_lock_leave(&pane_streams->stream_queue_lock);
        stream_records_write(records, fill);
        platform_lock_enter(&pane_streams->stream_queue_lock);
        pane_streams->stream_queue_handed = 0;
        platform_signal_wake(&pane_streams->stream_queue_room);
        flowing = 1;
    }
    pane_streams->stream_writer_running = 0;
    platform_signal_wake(&pane_streams->stream_queue_room);
    platform_lock_leave(&pane_streams->stream_queue_lock);
    return 0;
}

int stream_writer_start(void) {
    platform_lock_enter(&pane_streams->stream_queue_lock);
    int started = pane_streams->stream_writer_running;
    if (!started) {
        pane_streams->stream_queue_side = 0;
        pane_streams->stream_queue_fill = 0;
        pane_streams->stream_queue_last = -1;
        pane_streams->stream_queue_wanted = 0;
        pane_streams->stream_queue_handed = 0;
        pane_streams->stream_writer_stop = 0;
        started = pane_streams->stream_writer_running =
            platform_thread_run(&pane_streams->stream_writer, stream_writer_thread, 0);
    }
    platform_lock_leave(&pane_streams->stream_queue_lock);
    return started;
}

/* Under stream_queue_lock: asks the writer for the half now and waits
   until the queue is empty and nothing is being written (at once when no
   writer runs). */
static void stream_queue_drained(void) {
    while (pane_streams->stream_writer_running &&
           (pane_streams->stream_queue_fill > 0 || pane_streams->stream_queue_handed > 0)) {
        pane_streams->stream_queue_wanted = 1;
        platform_signal_wake(&pane_streams->stream_queue_data);
        platform_signal_wait(&pane_streams->stream_queue_room, &pane_streams->stream_queue_lock,
                             STREAM_WAIT_MS);
    }
}

/* The writer's thread is joined, not only told to end: a thread still on
   its way out while the process ends can hang or crash it on Windows. */
void stream_writer_stop(void) {
    platform_lock_enter(&pane_streams->stream_queue_lock);
    int started = pane_streams->stream_writer_running;
    pane_streams->stream_writer_stop = 1;
    while (pane_streams->stream_writer_running) {
        platform_signal_wake(&pane_streams->stream_queue_data);
        platform_signal_wait(&pane_streams->stream_queue_room, &pane_streams->stream_queue_lock,
                             STREAM_WAIT_MS);
    }
    platform_lock_leave(&pane_streams->stream_queue_lock);
    if (started)
        platform_thread_join(&pane_streams->stream_writer);
}

/* Under stream_queue_lock: bytes into the filling half, joined to its last
   record when that goes to the same file. Returns 1 for the first record
   of the half, the only one an idle writer is woken for: the rest of the
   batch waits for it. */
static int stream_queue_put(FILE *file, const void *bytes, size_t length) {
    char *half = pane_streams->stream_queue[pane_streams->stream_queue_side];
    StreamRecord record = {file, length};

    if (pane_streams->stream_queue_last >= 0) {
        memcpy(&record, half + pane_streams->stream_queue_last, sizeof record);
        if (record.file == file) {
            record.length += length;
            memcpy(half + pane_streams->stream_queue_last, &record, sizeof record);
            memcpy(half + pane_streams->stream_queue_fill, bytes, length);
            pane_streams->stream_queue_fill += (int)length;
            return 0;
        }
        record.file = file;
        record.length = length;
    }
    int first = pane_streams->stream_queue_fill == 0;
    pane_streams->stream_queue_last = pane_streams->stream_queue_fill;
    memcpy(half + pane_streams->stream_queue_fill, &record, sizeof record);
    memcpy(half + pane_streams->stream_queue_fill + sizeof record, bytes, length);
    pane_streams->stream_queue_fill += (int)(sizeof record + length);
    return first;
}

/* Under stream_queue_lock: room for need bytes in the filling half. A full
   half is handed to the writer when the other one is free, and printers
   go on there; else the printer waits. 1 when a half was handed (the
   writer is then worth a wake-up). */
static int stream_queue_room_make(size_t need) {
    int handed = 0;

    while (pane_streams->stream_writer_running &&
           (size_t)pane_streams->stream_queue_fill + need > (size_t)STREAM_QUEUE_SIZE) {
        if (pane_streams->stream_queue_handed == 0) { /* the other half is free: go on there */
            stream_half_hand();
            handed = 1;
            continue;
        }
        platform_signal_wait(&pane_streams->stream_queue_room, &pane_streams->stream_queue_lock,
                             STREAM_WAIT_MS);
    }
    return handed;
}

/* The pieces written at once, without the writer. */
static void stream_pieces_put(FILE *file, const StreamPiece *pieces, int count) {
    for (int i = 0; i < count; i++)
        fwrite(pieces[i].bytes, 1, pieces[i].length, file);
}

void stream_write_pieces(FILE *file, const StreamPiece *pieces, int count) {
    size_t length = 0;

    for (int i = 0; i < count; i++)
        length += pieces[i].length;
    if (length == 0)
        return;
    if (!pane_streams) { /* no writer without the record */
        stream_pieces_put(file, pieces, count);
        return;
    }
    const size_t need = sizeof(StreamRecord) + length;
    platform_lock_enter(&pane_streams->stream_queue_lock);
    if (!pane_streams->stream_writer_running || need > STREAM_QUEUE_SIZE) {
        stream_queue_drained(); /* what came before goes out first */
        stream_pieces_put(file, pieces, count);
        platform_lock_leave(&pane_streams->stream_queue_lock);
        return;
    }
    int wake = stream_queue_room_make(need), first = 0;
    for (int i = 0; i < count; i++) {
        if (!pane_streams->stream_writer_running) /* it ended meanwhile */
            fwrite(pieces[i].bytes, 1, pieces[i].length, file);
        else if (pieces[i].length > 0)
            first |= stream_queue_put(file, pieces[i].bytes, pieces[i].length);
    }
    /* A writer letting its batch grow takes it in time without a wake-up:
       only an idle one, or a handed half, is worth one. */
    wake |= first && pane_streams->stream_writer_idle;
    platform_lock_leave(&pane_streams->stream_queue_lock);
    /* after leaving the lock, so that the writer does not wake into it */
    if (wake)
        platform_signal_wake(&pane_streams->stream_queue_data);
}

void stream_write(FILE *file, const void *bytes, size_t length) {
    StreamPiece piece = {bytes, length};

    stream_write_pieces(file, &piece, 1);
}

void stream_flush(FILE *file) {
    if (!pane_streams) {
        fflush(file);
        return;
    }
    platform_lock_enter(&pane_streams->stream_queue_lock);
    stream_queue_drained();
    fflush(file);
    platform_lock_leave(&pane_streams->stream_queue_lock);
}
