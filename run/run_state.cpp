/*
 * run_state.cpp: the runner's record and the services every part of a run
 * shares: the worst exit status and messages on standard error.
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
    reader->log = 0;
    reader->joinable = 0;
    reader->answered = 0;
    reader->grant_card = -1;
    reader->grant_row = -1;
    platform_counter_set(&reader->ended, 0);
    platform_counter_set(&reader->gone, 0);
}

static void run_state_locks_create(void) {
    if (runner.locks_ready)
        return;
    platform_lock_init(&runner.lock);
    platform_signal_init(&runner.posted);
    platform_signal_init(&runner.answered);
    for (int i = 0; i < RUN_READERS_MAX; i++)
        card_session_locks_create(&runner.readers[i].session);
    runner.locks_ready = 1;
}

/* What the main thread folds, from nothing. */
static void run_state_tally_init(void) {
    runner.status = RUN_OK;
    runner.cards_started = 0;
    runner.cards_passed = 0;
    runner.cards_failed = 0;
    runner.rows_taken = 0;
    runner.rows_out = 0;
    memset(&runner.suites, 0, sizeof runner.suites);
    runner.post_first = 0;
    runner.post_count = 0;
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
    platform_counter_set(&runner.interrupts, 0);
    platform_counter_set(&runner.stopping, 0);
    run_state_tally_init();
    pane_streams_attach(&runner.streams);
    run_state_locks_create();
}

int run_worse(int status, int outcome) {
    if (status == RUN_FAILED || outcome == RUN_FAILED)
        return RUN_FAILED;
    return outcome == RUN_CHECK_FAILED ? RUN_CHECK_FAILED : status;
}

int run_reader_pane(const RunReader *reader) {
    return PANE_RUN_FIRST + (int)(reader - runner.readers);
}

static void run_error_print(int number, const char *format, va_list args) {
    char text[2048];

    vsnprintf(text, sizeof text, format, args);
    platform_lock_enter(&runner.streams.pane_stream_lock);
    stream_flush(runner.out);
    if (runner.prefixed && number >= 0)
        fprintf(runner.err, "[%d] %s\n", number, text);
    else
        fprintf(runner.err, "%s\n", text);
    platform_lock_leave(&runner.streams.pane_stream_lock);
}

void run_error(const RunReader *reader, const char *format, ...) {
    va_list args;
    va_start(args, format);
    run_error_print(reader ? reader->number : -1, format, args);
    va_end(args);
}

void run_error_numbered(int number, const char *format, ...) {
    va_list args;
    va_start(args, format);
    run_error_print(number, format, args);
    va_end(args);
}
