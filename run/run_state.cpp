/*
 * run_state.cpp: the runner's record and the services every part of a run
 * shares: the worst exit status, messages on standard error and the data
 * rows handed to cards.
 */
#include "run/run_state.h"

#include <stdarg.h>
#include <string.h>

#include "console/pane_print.h"
#include "run/run.h"

RunState runner;

static void run_reader_init(RunReader *reader, int slot) {
    card_session_init(&reader->session, PANE_RUN_FIRST + slot, PANE_NONE);
    reader->used = 0;
    reader->number = 0;
    reader->row = -1;
    reader->entry = 0;
    reader->joinable = 0;
    reader->status = RUN_OK;
    platform_counter_set(&reader->ended, 0);
    platform_counter_set(&reader->gone, 0);
}

static void run_state_locks_create(void) {
    if (runner.locks_ready)
        return;
    platform_lock_init(&runner.lock);
    platform_lock_init(&runner.report_lock);
    platform_signal_init(&runner.reader_ended);
    platform_lock_init(&runner.replay.lock);
    platform_signal_init(&runner.replay.changed);
    for (int i = 0; i < RUN_READERS_MAX; i++)
        card_session_locks_create(&runner.readers[i].session);
    runner.locks_ready = 1;
}

void run_state_init(FILE *in, FILE *out, FILE *err) {
    runner.in = in;
    runner.out = out;
    runner.err = err;
    runner.args = 0;
    runner.argv = 0;
    runner.host[0] = 0;
    runner.stdin_text = 0;
    runner.stdin_length = 0;
    runner.pcsc = &pcsc_platform;
    memset(&runner.values, 0, sizeof runner.values);
    memset(&runner.data, 0, sizeof runner.data);
    runner.prefixed = 0;
    for (int i = 0; i < RUN_READERS_MAX; i++)
        run_reader_init(&runner.readers[i], i);
    runner.next_number = 0;
    runner.replay.count = 0;
    platform_counter_set(&runner.interrupts, 0);
    runner.cards_started = 0;
    runner.cards_passed = 0;
    runner.cards_failed = 0;
    runner.status = RUN_OK;
    memset(&runner.suites, 0, sizeof runner.suites);
    runner.rows_taken = 0;
    runner.rows_out = 0;
    app.pane_stream_lines = runner.stream_lines;
    app.stream_queue = runner.stream_queue;
    run_state_locks_create();
}

int run_worse(int status, int outcome) {
    if (status == RUN_FAILED || outcome == RUN_FAILED)
        return RUN_FAILED;
    return outcome == RUN_CHECK_FAILED ? RUN_CHECK_FAILED : status;
}

void run_status_add(int outcome) {
    platform_lock_enter(&runner.lock);
    runner.status = run_worse(runner.status, outcome);
    platform_lock_leave(&runner.lock);
}

int run_reader_pane(const RunReader *reader) {
    return PANE_RUN_FIRST + (int)(reader - runner.readers);
}

void run_error(const RunReader *reader, const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    platform_lock_enter(&app.pane_stream_lock);
    stream_flush(runner.out);
    if (runner.prefixed && reader)
        fprintf(runner.err, "[%d] %s\n", reader->number, text);
    else
        fprintf(runner.err, "%s\n", text);
    platform_lock_leave(&app.pane_stream_lock);
}

int run_row_claim(int *rows_ended) {
    if (!runner.args->data)
        return -1;
    if (runner.rows_taken < runner.data.rows)
        return runner.rows_taken++;
    if (!runner.rows_out)
        *rows_ended = runner.rows_out = 1;
    return -2;
}

void run_rows_ended_say(void) {
    platform_lock_enter(&app.pane_stream_lock);
    stream_write(runner.out, "No more data rows\r\n", 19);
    platform_lock_leave(&app.pane_stream_lock);
}
