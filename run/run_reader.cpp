/*
 * run_reader.cpp: one reader's part in a run of vorlane-run: its slot and
 * output, the scripts on its card with their report suites, its thread,
 * and what all readers share: the worst status, the report file and the
 * messages on standard error.
 *
 * Output: a reader's prints go to its own pane (PANE_RUN_FIRST + slot),
 * whose stream is standard output: as it is with one reader, each whole
 * line after "[N] " with several (N the reader's number), and unprefixed to
 * DIR/reader-N.log with --output-dir.
 */
#include "run/run.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "app/file_io.h"
#include "card/atr_parse.h"
#include "card/explain_print.h"
#include "card/scard_name.h"
#include "console/pane_print.h"
#include "run/run_report.h"
#include "script/script_check.h"
#include "script/script_run.h"

enum { RUN_LOG_NAME_SIZE = 1024 + 32, RUN_SUITE_NAME_SIZE = 2 * 1024 + 64 };

int run_worse(int status, int outcome) {
    if (status == RUN_FAILED || outcome == RUN_FAILED)
        return RUN_FAILED;
    return outcome == RUN_CHECK_FAILED ? RUN_CHECK_FAILED : status;
}

void run_error(int slot, const char *format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    /* standard output first, so that a terminal shows both in order */
    platform_lock_enter(&app.pane_stream_lock);
    stream_flush(app.run_out);
    if (app.run_prefixed && slot >= 0)
        fprintf(app.run_err, "[%d] %s\n", app.run_readers[slot].number, text);
    else
        fprintf(app.run_err, "%s\n", text);
    platform_lock_leave(&app.pane_stream_lock);
}

/* The reader's output: its pane's stream, numbered lines when several
   readers share it, and its log file. 0 when the log cannot be made. */
static int run_reader_output(int slot) {
    char name[RUN_LOG_NAME_SIZE];
    int pane = PANE_RUN_FIRST + slot;
    FILE *log = 0;

    if (app.run_args->output_dir) {
        snprintf(name, sizeof name, "%s/reader-%d.log", app.run_args->output_dir,
                 app.run_readers[slot].number);
        log = platform_file_open(name, "wb");
        if (!log) {
            run_error(slot, "vorlane-run: cannot write %s", name);
            return 0;
        }
    }
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[pane] = app.run_out;
    app.pane_stream_out[pane].copy = log;
    app.pane_stream_out[pane].prefix = app.run_prefixed ? app.run_readers[slot].number : -1;
    app.pane_stream_out[pane].partial = 0;
    platform_lock_leave(&app.pane_stream_lock);
    return 1;
}

/* The slot's last thread, ended already, is gone entirely. */
static void run_reader_thread_join(RunReader *reader) {
    if (reader->joinable)
        platform_thread_join(&reader->thread);
    reader->joinable = 0;
}

int run_reader_join(int slot, const char *name) {
    RunReader *reader = &app.run_readers[slot];
    CardSession *session = &app.run_sessions[slot];
    int pane = PANE_RUN_FIRST + slot;

    run_reader_thread_join(reader); /* a card line's slot taken again */
    card_session_init(session, pane, app.run_args->console ? pane : PANE_NONE);
    session->explain = app.run_args->explain;
    snprintf(session->reader_names, sizeof session->reader_names, "%s", name);
    reader->used = 1;
    reader->number = app.run_next_number++;
    reader->ended = 0;
    reader->gone = 0;
    reader->status = RUN_OK;
    reader->row = -1;
    if (run_reader_output(slot))
        return 1;
    reader->status = RUN_FAILED;
    reader->ended = 1;
    return 0;
}

/* Why a run did not reach the end of its script, for the report and
   standard error; 0 when it did. */
static const char *run_error_text(int result, const ScriptTally *tally, char *text, size_t size) {
    if (result == SCRIPT_RUN_NO_FILE)
        return "cannot open the script";
    if (result == SCRIPT_RUN_NO_MEMORY)
        return "out of memory";
    if (result != SCRIPT_RUN_FAILED)
        return 0;
    if (tally->error_code == 0)
        snprintf(text, size, "%s: the card was not ready", tally->error_at);
    else
        snprintf(text, size, "%s: 0x%08lX %s", tally->error_at, tally->error_code,
                 scard_name(tally->error_code));
    return text;
}

/* The suite's name: the script as given with one reader, "READER: SCRIPT"
   with several, "card K on READER: SCRIPT" in the card line. */
static void run_suite_name(int slot, int card, const char *path, char *name, size_t size) {
    const char *reader = app.run_sessions[slot].reader_names;

    if (card > 0)
        snprintf(name, size, "card %d on %s: %s", card, reader, path);
    else if (app.run_prefixed)
        snprintf(name, size, "%s: %s", reader, path);
    else
        snprintf(name, size, "%s", path);
}

/* Adds one script's suite to the report's. */
static void run_suite_add(int slot, int card, int row, const char *path, const ScriptTally *tally,
                          const char *error) {
    char name[RUN_SUITE_NAME_SIZE];
    char atr[2 * CARD_ATR_SIZE + 1];
    RunSuiteFacts facts = {app.run_host, app.run_sessions[slot].reader_names, atr, card, row + 1};

    run_card_atr_text(&app.run_sessions[slot], atr);
    run_suite_name(slot, card, path, name, sizeof name);
    platform_lock_enter(&app.run_lock);
    run_report_suite(&app.run_suites, name, &facts, tally, error);
    platform_lock_leave(&app.run_lock);
}

/* Where the script comes from: standard input for "-" (read once and kept
   when several readers take part), else the file. */
static void run_script_input(const char *path, ScriptTally *tally) {
    if (strcmp(path, "-") != 0)
        return;
    if (app.run_stdin_text) {
        tally->input_text = app.run_stdin_text;
        tally->input_length = app.run_stdin_length;
    } else {
        tally->input = app.run_in;
    }
}

/* Runs one script ("-": standard input) and reports it. Returns RUN_OK,
   RUN_CHECK_FAILED, or RUN_FAILED when it was not found or an exchange
   failed. */
static int run_one_script(int slot, int card, int row, ScriptValues *values, const char *path) {
    ScriptTally tally;
    char text[160];
    const char *error = "script name too long";
    int result = SCRIPT_RUN_FAILED;

    memset(&tally, 0, sizeof tally);
    tally.values = values;
    run_script_input(path, &tally);
    /* The interpreter keeps at most 1023 characters of a path: a longer one
       would open another file than the one named. */
    if (strlen(path) >= SCRIPT_FILE_NAME_SIZE) {
        run_error(slot, "vorlane-run: script name too long: %.40s...", path);
    } else {
        result = script_run(&app.run_sessions[slot], path, &tally);
        error = run_error_text(result, &tally, text, sizeof text);
        if (!error && tally.lost) /* the report would miss checks */
            error = "checks lost: out of memory";
    }
    if (result == SCRIPT_RUN_NO_FILE)
        run_error(slot, "vorlane-run: cannot open %s", path);
    else if (error && result != SCRIPT_RUN_FAILED) /* checks lost, no memory */
        run_error(slot, "vorlane-run: %s: %s", path, error);
    else if (result == SCRIPT_RUN_FAILED && error == text)
        run_error(slot, "%s %s", path, text);
    run_suite_add(slot, card, row, path, &tally, error);
    script_tally_free(&tally);
    /* Each script's lines reach the file as it ends: a long card line can
       be followed while it runs. */
    platform_lock_enter(&app.pane_stream_lock);
    stream_flush(app.run_out);
    platform_lock_leave(&app.pane_stream_lock);
    if (error)
        return RUN_FAILED;
    return tally.failed > 0 ? RUN_CHECK_FAILED : RUN_OK;
}

/* The card's values: --set's, then its data row's. */
static int run_card_values(int slot, int row, ScriptValues *values) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];

    if (script_values_copy(values, &app.run_values) &&
        (row < 0 || run_data_apply(&app.run_data, row, values, message, sizeof message)))
        return 1;
    run_error(slot, "vorlane-run: no memory for the card's values");
    return 0;
}

int run_reader_scripts(int slot, int card, int row) {
    const RunArgs *args = app.run_args;
    ScriptValues values;
    int status = RUN_OK;

    memset(&values, 0, sizeof values);
    int ready = run_card_values(slot, row, &values);
    if (!ready)
        status = RUN_FAILED;
    for (int i = 0; ready && i < args->script_count; i++)
        status = run_worse(
            status, run_one_script(slot, card, row, &values, app.run_argv[args->first_script + i]));
    script_values_free(&values);
    return status;
}

int run_row_claim(void) {
    if (!app.run_args->data)
        return -1;
    if (app.run_rows_taken < app.run_data.rows)
        return app.run_rows_taken++;
    if (!app.run_rows_out) {
        app.run_rows_out = 1;
        platform_lock_enter(&app.pane_stream_lock);
        stream_write(app.run_out, "No more data rows\r\n", 19);
        platform_lock_leave(&app.pane_stream_lock);
    }
    return -2;
}

/* Counts the reader's outcome into the run's worst. */
static void run_reader_outcome(int slot, int status) {
    app.run_readers[slot].status = run_worse(app.run_readers[slot].status, status);
    platform_lock_enter(&app.run_lock);
    app.run_status = run_worse(app.run_status, status);
    platform_lock_leave(&app.run_lock);
}

/* A plain run on one reader: connect, every script (or the ATR
   explained, with --atr), let the card go. */
static void run_reader_once(int slot) {
    CardSession *session = &app.run_sessions[slot];
    LONG status = run_card_connect(session);

    if (status != SCARD_S_SUCCESS) {
        run_error(slot, "vorlane-run: no card in reader %s (0x%08lX %s)", session->reader_names,
                  (unsigned long)status, scard_name((unsigned long)status));
        run_reader_outcome(slot, RUN_FAILED);
        return;
    }
    if (app.run_args->atr) {
        run_atr_print(session->reader_pane, session->card_atr, session->card_atr_len);
        run_reader_outcome(slot, RUN_OK);
        return;
    }
    run_reader_outcome(slot, run_reader_scripts(slot, 0, app.run_readers[slot].row));
}

void run_atr_print(int pane, const unsigned char *atr, int length) {
    char text[3 * CARD_ATR_SIZE + 32];

    card_atr_text(text, sizeof text, atr, length);
    pane_print(pane, "%s\r\n", text);
    explain_print_atr(pane, atr, length);
}

/* The thread's end: its output finished, its card and context let go. */
static void run_reader_leave(int slot) {
    int pane = PANE_RUN_FIRST + slot;
    FILE *log = app.pane_stream_out[pane].copy;

    run_card_close(&app.run_sessions[slot]);
    pane_stream_end(pane);
    if (log)
        stream_flush(log); /* the writer may still hold its text */
    if (log && file_close_written(log) != 0) {
        run_error(slot, "vorlane-run: cannot write the log of reader %d",
                  app.run_readers[slot].number);
        run_reader_outcome(slot, RUN_FAILED);
    }
}

/* The thread's argument carries its slot and whether it runs the card
   line, as one number. */
static PlatformThreadResult PLATFORM_THREAD_CALL run_reader_thread(void *arg) {
    int slot = (int)((intptr_t)arg >> 1);

    if ((intptr_t)arg & 1)
        run_line_reader(slot);
    else
        run_reader_once(slot);
    run_reader_leave(slot);
    platform_lock_enter(&app.run_lock);
    platform_counter_add(&app.run_readers[slot].ended, 1);
    platform_signal_wake(&app.run_reader_ended);
    platform_lock_leave(&app.run_lock);
    return 0;
}

int run_reader_start(int slot, int card_line) {
    RunReader *reader = &app.run_readers[slot];

    reader->joinable = platform_thread_run(&reader->thread, run_reader_thread,
                                           (void *)(intptr_t)(slot * 2 + (card_line != 0)));
    if (reader->joinable)
        return 1;
    run_error(slot, "vorlane-run: cannot start a thread for reader %s",
              app.run_sessions[slot].reader_names);
    run_reader_outcome(slot, RUN_FAILED);
    run_reader_leave(slot);
    app.run_readers[slot].ended = 1;
    return 0;
}

static int run_readers_running(void) {
    for (int i = 0; i < RUN_SESSIONS_MAX; i++) {
        if (app.run_readers[i].used && !app.run_readers[i].ended)
            return 1;
    }
    return 0;
}

/* Joined as well: a thread still on its way out while the process ends can
   hang or crash it on Windows. */
void run_readers_wait(void) {
    platform_lock_enter(&app.run_lock);
    while (run_readers_running())
        platform_signal_wait(&app.run_reader_ended, &app.run_lock, RUN_SLICE_MS);
    platform_lock_leave(&app.run_lock);
    for (int i = 0; i < RUN_SESSIONS_MAX; i++)
        run_reader_thread_join(&app.run_readers[i]);
}

/* The whole report under a temporary name, renamed when complete; one
   reader's thread at a time, since all write the same files. */
int run_report_flush(void) {
    const char *name = app.run_args->junit;
    char temp[RUN_LOG_NAME_SIZE];
    int written = 0;

    if (!name)
        return 0;
    if (strlen(name) + 5 > sizeof temp) /* the name was checked at the start */
        return -1;
    snprintf(temp, sizeof temp, "%s.tmp", name);
    platform_lock_enter(&app.run_lock);
    FILE *file = platform_file_open(temp, "wb");
    if (file) {
        written = run_report_write(file, &app.run_suites) == 0;
        written = file_close_written(file) == 0 && written;
        written = written && platform_file_replace(temp, name);
        if (!written)
            remove(temp);
    }
    platform_lock_leave(&app.run_lock);
    return written ? 0 : -1;
}
