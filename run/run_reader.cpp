/*
 * run_reader.cpp: one reader's part in a run of vorlane-run: its slot and
 * output, the scripts on its card with their report suites, and its
 * thread, which runs the entry of the run's mode (run_plain.cpp,
 * run_each_card.cpp) and then lets its card and output go.
 *
 * Output: a reader's prints go to its own pane (run_reader_pane), whose
 * stream is standard output: as it is with one reader, each whole line
 * after "[N] " with several (N the reader's number), and unprefixed to
 * DIR/reader-N.log with --output-dir.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/file_io.h"
#include "card/atr_parse.h"
#include "card/scard_name.h"
#include "console/pane_print.h"
#include "card/explain_print.h"
#include "run/run_report_file.h"
#include "script/script_check.h"
#include "script/script_run.h"
#include "script/script_scp.h"

enum {
    /* DIR/reader-N.log: the directory's name as a report's may be long */
    RUN_LOG_NAME_SIZE = RUN_REPORT_NAME_SIZE + sizeof "/reader-NN.log",
    /* "card K on READER: SCRIPT" */
    RUN_SUITE_NAME_SIZE = READER_NAME_SIZE + SCRIPT_FILE_NAME_SIZE + 64,
};

/* The reader's output: its pane's stream, numbered lines when several
   readers share it, and its log file. 0 when the log cannot be made. */
static int run_reader_output(RunReader *reader) {
    char name[RUN_LOG_NAME_SIZE];
    int pane = run_reader_pane(reader);
    FILE *log = 0;

    if (runner.args->output_dir) {
        snprintf(name, sizeof name, "%s/reader-%d.log", runner.args->output_dir, reader->number);
        log = platform_file_open(name, "wb");
        if (!log) {
            run_error(reader, "vorlane-run: cannot write %s", name);
            return 0;
        }
    }
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[pane] = runner.out;
    app.pane_stream_out[pane].copy = log;
    app.pane_stream_out[pane].prefix = runner.prefixed ? reader->number : -1;
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

int run_reader_join(RunReader *reader, const char *name) {
    int pane = run_reader_pane(reader);

    run_reader_thread_join(reader); /* a card line's slot taken again */
    card_session_init(&reader->session, pane, runner.args->console ? pane : PANE_NONE);
    reader->session.explain = runner.args->explain;
    reader->session.pcsc = runner.pcsc;
    snprintf(reader->session.reader_name, sizeof reader->session.reader_name, "%s", name);
    reader->used = 1;
    reader->number = runner.next_number++;
    reader->row = -1;
    reader->status = RUN_OK;
    platform_counter_set(&reader->gone, 0);
    platform_counter_set(&reader->ended, 0);
    if (run_reader_output(reader))
        return 1;
    reader->status = RUN_FAILED;
    platform_counter_set(&reader->ended, 1);
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
static void run_suite_name(const RunReader *reader, int card, const char *path, char *name,
                           size_t size) {
    const char *reader_name = reader->session.reader_name;

    if (card > 0)
        snprintf(name, size, "card %d on %s: %s", card, reader_name, path);
    else if (runner.prefixed)
        snprintf(name, size, "%s: %s", reader_name, path);
    else
        snprintf(name, size, "%s", path);
}

/* Adds one script's suite to the report's. */
static void run_suite_add(const RunReader *reader, int card, int row, const char *path,
                          const ScriptTally *tally, const char *error) {
    char name[RUN_SUITE_NAME_SIZE];
    char atr[2 * CARD_ATR_SIZE + 1];
    RunSuiteFacts facts = {runner.host, reader->session.reader_name, atr, card, row + 1};

    run_card_atr_text(&reader->session, atr);
    run_suite_name(reader, card, path, name, sizeof name);
    run_report_add(name, &facts, tally, error);
}

/* Where the script comes from: standard input for "-" (read once and kept
   when several readers take part), else the file. */
static void run_script_input(const char *path, ScriptTally *tally) {
    if (strcmp(path, "-") != 0)
        return;
    if (runner.stdin_text) {
        tally->input_text = runner.stdin_text;
        tally->input_length = runner.stdin_length;
    } else {
        tally->input = runner.in;
    }
}

/* The exchange that ended a script, on standard error; a replay card's
   reason on a line of its own, and for the report after the status. The
   report's text. */
static const char *run_exchange_failed(const RunReader *reader, const char *path, const char *text,
                                       char *detail, size_t size) {
    char replay[RUN_REPLAY_MESSAGE_SIZE];

    run_error(reader, "%s %s", path, text);
    if (!run_replay_message(&reader->session, replay, sizeof replay))
        return text;
    run_error(reader, "%s", replay);
    snprintf(detail, size, "%s (%s)", text, replay);
    return detail;
}

/* Runs one script ("-": standard input) and reports it. Returns RUN_OK,
   RUN_CHECK_FAILED, or RUN_FAILED when it was not found or an exchange
   failed. */
static int run_one_script(RunReader *reader, int card, int row, ScriptValues *values,
                          ScriptChannel *channel, const char *path) {
    ScriptTally tally;
    char text[RUN_WHY_SIZE];
    char detail[RUN_WHY_SIZE + RUN_REPLAY_MESSAGE_SIZE + 8]; /* "TEXT (REPLAY)" */
    const char *error = "script name too long";
    int result = SCRIPT_RUN_FAILED;

    memset(&tally, 0, sizeof tally);
    tally.values = values;
    tally.channel = channel;
    run_script_input(path, &tally);
    /* The interpreter keeps at most 1023 characters of a path: a longer one
       would open another file than the one named. */
    if (strlen(path) >= SCRIPT_FILE_NAME_SIZE) {
        run_error(reader, "vorlane-run: script name too long: %.40s...", path);
    } else {
        result = script_run(&reader->session, path, &tally);
        error = run_error_text(result, &tally, text, sizeof text);
        if (!error && tally.lost) /* the report would miss checks */
            error = "checks lost: out of memory";
    }
    if (result == SCRIPT_RUN_NO_FILE)
        run_error(reader, "vorlane-run: cannot open %s", path);
    else if (error && result != SCRIPT_RUN_FAILED) /* checks lost, no memory */
        run_error(reader, "vorlane-run: %s: %s", path, error);
    else if (result == SCRIPT_RUN_FAILED && error == text)
        error = run_exchange_failed(reader, path, text, detail, sizeof detail);
    run_suite_add(reader, card, row, path, &tally, error);
    script_tally_free(&tally);
    /* Each script's lines reach the file as it ends: a long card line can
       be followed while it runs. */
    platform_lock_enter(&app.pane_stream_lock);
    stream_flush(runner.out);
    platform_lock_leave(&app.pane_stream_lock);
    if (error)
        return RUN_FAILED;
    return tally.failed > 0 ? RUN_CHECK_FAILED : RUN_OK;
}

/* The card's values: --set's, then its data row's. */
static int run_card_values(RunReader *reader, int row, ScriptValues *values) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];

    if (script_values_copy(values, &runner.values) &&
        (row < 0 || run_data_apply(&runner.data, row, values, message, sizeof message)))
        return 1;
    run_error(reader, "vorlane-run: no memory for the card's values");
    return 0;
}

/* The card's values and its secure channel live from its first script to
   its last: a channel opened in one script wraps the next one's lines, and
   one broken in one keeps the next from going out in the clear. */
int run_reader_scripts(RunReader *reader, int card, int row) {
    const RunArgs *args = runner.args;
    ScriptValues values;
    char why[RUN_WHY_SIZE];
    ScriptChannel channel;
    int status = RUN_OK;

    memset(&values, 0, sizeof values);
    memset(&channel, 0, sizeof channel);
    int ready = run_card_values(reader, row, &values);
    if (!ready)
        status = RUN_FAILED;
    if (ready && args->record && !run_record_start(reader, card, why, sizeof why)) {
        run_reader_card_failed(reader, card, row, why);
        ready = 0;
        status = RUN_FAILED;
    }
    for (int i = 0; ready && i < args->script_count; i++)
        status = run_worse(status, run_one_script(reader, card, row, &values, &channel,
                                                  runner.argv[args->first_script + i]));
    status = run_worse(status, run_record_end(reader));
    script_channel_end(&channel);
    script_values_free(&values);
    return status;
}

void run_reader_card_failed(RunReader *reader, int card, int row, const char *why) {
    const RunArgs *args = runner.args;
    ScriptTally tally;

    memset(&tally, 0, sizeof tally);
    for (int i = 0; i < args->script_count; i++)
        run_suite_add(reader, card, row, runner.argv[args->first_script + i], &tally, why);
}

void run_card_atr_failed(RunReader *reader, LONG status, char *why, size_t size) {
    snprintf(why, size, "the ATR could not be read: 0x%08lX %s", (unsigned long)status,
             scard_name((unsigned long)status));
    run_error(reader, "vorlane-run: reader %s: %s", reader->session.reader_name, why);
}

void run_atr_print(int pane, const unsigned char *atr, int length) {
    char text[3 * CARD_ATR_SIZE + 32];

    card_atr_text(text, sizeof text, atr, length);
    pane_print(pane, "%s\r\n", text);
    explain_print_atr(pane, atr, length);
}

/* The thread's end: its output finished, its card and context let go. */
static void run_reader_leave(RunReader *reader) {
    int pane = run_reader_pane(reader);
    FILE *log = app.pane_stream_out[pane].copy;

    run_card_close(&reader->session);
    pane_stream_end(pane);
    if (log)
        stream_flush(log); /* the writer may still hold its text */
    if (log && file_close_written(log) != 0) {
        run_error(reader, "vorlane-run: cannot write the log of reader %d", reader->number);
        reader->status = RUN_FAILED;
        run_status_add(RUN_FAILED);
    }
}

static PlatformThreadResult PLATFORM_THREAD_CALL run_reader_thread(void *arg) {
    RunReader *reader = (RunReader *)arg;

    reader->entry(reader);
    run_reader_leave(reader);
    platform_lock_enter(&runner.lock);
    platform_counter_set(&reader->ended, 1);
    platform_signal_wake(&runner.reader_ended);
    platform_lock_leave(&runner.lock);
    return 0;
}

int run_reader_start(RunReader *reader, RunReaderEntry entry) {
    reader->entry = entry;
    reader->joinable = platform_thread_run(&reader->thread, run_reader_thread, reader);
    if (reader->joinable)
        return 1;
    run_error(reader, "vorlane-run: cannot start a thread for reader %s",
              reader->session.reader_name);
    reader->status = RUN_FAILED;
    run_status_add(RUN_FAILED);
    run_reader_leave(reader);
    platform_counter_set(&reader->ended, 1);
    return 0;
}

int run_reader_running(const RunReader *reader) {
    return reader->used && !platform_counter_read(&reader->ended);
}

static int run_readers_running(void) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        if (run_reader_running(&runner.readers[i]))
            return 1;
    }
    return 0;
}

/* Joined as well: a thread still on its way out while the process ends can
   hang or crash it on Windows. */
void run_readers_wait(void) {
    platform_lock_enter(&runner.lock);
    while (run_readers_running())
        platform_signal_wait(&runner.reader_ended, &runner.lock, RUN_SLICE_MS);
    platform_lock_leave(&runner.lock);
    for (int i = 0; i < RUN_READERS_MAX; i++)
        run_reader_thread_join(&runner.readers[i]);
}
