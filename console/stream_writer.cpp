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
 * exactly what direct writes would have given. The writer swaps the halves
 * under the lock and writes the taken one outside it. A printer that finds
 * its half full waits on stream_queue_room; text larger than a half is
 * written at once, once everything before it is out. Nothing here prints
 * or takes another lock: stream_queue_lock is taken last.
 */
#include "console/pane_print.h"

#include <stdint.h>
#include <string.h>

#include "app/app_state.h"

enum { STREAM_WAIT_MS = 100 }; /* longest single wait; every wait is looked at again */

/* A record's head in the queue; the bytes follow. */
struct StreamRecord {
    FILE *file;
    size_t length;
};

static void stream_records_write(const char *records, int fill) {
    int at = 0;

    while (at < fill) {
        StreamRecord record;
        memcpy(&record, records + at, sizeof record);
        fwrite(records + at + sizeof record, 1, record.length, record.file);
        at += (int)(sizeof record + record.length);
    }
}

static PlatformThreadResult PLATFORM_THREAD_CALL stream_writer_thread(void *) {
    platform_lock_enter(&app.stream_queue_lock);
    for (;;) {
        while (app.stream_queue_fill == 0 && !app.stream_writer_stop)
            platform_signal_wait(&app.stream_queue_data, &app.stream_queue_lock, STREAM_WAIT_MS);
        if (app.stream_queue_fill == 0)
            break; /* asked to stop, and everything is out */
        const char *records = app.stream_queue[app.stream_queue_side];
        int fill = app.stream_queue_fill;
        app.stream_queue_side ^= 1;
        app.stream_queue_fill = 0;
        app.stream_writer_busy = 1;
        platform_lock_leave(&app.stream_queue_lock);
        stream_records_write(records, fill);
        platform_lock_enter(&app.stream_queue_lock);
        app.stream_writer_busy = 0;
        platform_signal_wake(&app.stream_queue_room);
    }
    app.stream_writer_running = 0;
    platform_signal_wake(&app.stream_queue_room);
    platform_lock_leave(&app.stream_queue_lock);
    return 0;
}

int stream_writer_start(void) {
    platform_lock_enter(&app.stream_queue_lock);
    int started = app.stream_writer_running;
    if (!started && app.stream_queue) { /* the runner's buffers */
        app.stream_queue_side = 0;
        app.stream_queue_fill = 0;
        app.stream_writer_busy = 0;
        app.stream_writer_stop = 0;
        started = app.stream_writer_running = platform_thread_start(stream_writer_thread, 0);
    }
    platform_lock_leave(&app.stream_queue_lock);
    return started;
}

/* Under stream_queue_lock: waits until the queue is empty and nothing is
   being written (at once when no writer runs). */
static void stream_queue_drained(void) {
    while (app.stream_writer_running && (app.stream_queue_fill > 0 || app.stream_writer_busy)) {
        platform_signal_wake(&app.stream_queue_data);
        platform_signal_wait(&app.stream_queue_room, &app.stream_queue_lock, STREAM_WAIT_MS);
    }
}

void stream_writer_stop(void) {
    platform_lock_enter(&app.stream_queue_lock);
    app.stream_writer_stop = 1;
    while (app.stream_writer_running) {
        platform_signal_wake(&app.stream_queue_data);
        platform_signal_wait(&app.stream_queue_room, &app.stream_queue_lock, STREAM_WAIT_MS);
    }
    platform_lock_leave(&app.stream_queue_lock);
}

void stream_write(FILE *file, const void *bytes, size_t length) {
    const size_t need = sizeof(StreamRecord) + length;

    if (length == 0)
        return;
    platform_lock_enter(&app.stream_queue_lock);
    if (!app.stream_writer_running || need > STREAM_QUEUE_SIZE) {
        stream_queue_drained(); /* what came before goes out first */
        fwrite(bytes, 1, length, file);
        platform_lock_leave(&app.stream_queue_lock);
        return;
    }
    while (app.stream_writer_running &&
           (size_t)app.stream_queue_fill + need > (size_t)STREAM_QUEUE_SIZE) {
        platform_signal_wake(&app.stream_queue_data);
        platform_signal_wait(&app.stream_queue_room, &app.stream_queue_lock, STREAM_WAIT_MS);
    }
    if (!app.stream_writer_running) { /* it ended meanwhile */
        fwrite(bytes, 1, length, file);
    } else {
        StreamRecord record = {file, length};
        char *at = app.stream_queue[app.stream_queue_side] + app.stream_queue_fill;
        memcpy(at, &record, sizeof record);
        memcpy(at + sizeof record, bytes, length);
        app.stream_queue_fill += (int)need;
        platform_signal_wake(&app.stream_queue_data);
    }
    platform_lock_leave(&app.stream_queue_lock);
}

void stream_flush(FILE *file) {
    platform_lock_enter(&app.stream_queue_lock);
    stream_queue_drained();
    fflush(file);
    platform_lock_leave(&app.stream_queue_lock);
}
