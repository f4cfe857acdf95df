/*
 * run_scripts.cpp: a card's scripts in a run of vorlane-run, on its
 * reader's thread: its values, each script run with the Script dialog's
 * interpreter and reported as a suite into the card's own record
 * (RunCard), which the reader posts with the card's outcome.
 *
 * Output: a reader's prints go to its own pane (run_reader_pane), whose
 * stream is standard output: as it is with one reader, each whole line
 * after "[N] " with several (N the reader's number), and unprefixed to
 * DIR/reader-N.log with --output-dir.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "card/atr_parse.h"
#include "card/card_connect.h"
#include "card/explain_print.h"
#include "card/scard_name.h"
#include "console/pane_print.h"
#include "script/script_check.h"
#include "script/script_run.h"
#include "script/script_scp.h"

enum {
    /* "card K on READER: SCRIPT" */
    RUN_SUITE_NAME_SIZE = READER_NAME_SIZE + SCRIPT_FILE_NAME_SIZE + 64,
};

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
   with several, "card K on READER: SCRIPT" with --each-card. */
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

/* Adds one script's suite to the card's. */
static void run_suite_add(const RunReader *reader, RunCard *card, const char *path,
                          const ScriptTally *tally, const char *error) {
    char name[RUN_SUITE_NAME_SIZE];
    char atr[2 * CARD_ATR_SIZE + 1];
    RunSuiteFacts facts = {runner.host, reader->session.reader_name, atr, card->number,
                           card->row + 1};

    run_card_atr_text(&reader->session, atr);
    run_suite_name(reader, card->number, path, name, sizeof name);
    run_report_suite(&card->suites, name, &facts, tally, error);
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

/* The exchange that ended a script, on standard error; what the provider
   adds (a replay card's reason) on a line of its own, and for the report
   after the status. The report's text. */
static const char *run_exchange_failed(const RunReader *reader, const char *path, const char *text,
                                       char *detail, size_t size) {
    char failure[PCSC_FAILURE_TEXT_SIZE];

    run_error(reader, "%s %s", path, text);
    if (!card_failure_text(&reader->session, failure, sizeof failure))
        return text;
    run_error(reader, "%s", failure);
    snprintf(detail, size, "%s (%s)", text, failure);
    return detail;
}

/* The run of one script: its result, and its error for the report (0 when
   it reached its end), said on standard error. */
static int run_script_result(RunReader *reader, const char *path, ScriptTally *tally,
                             const char **error, char *text, char *detail, size_t size) {
    int result = SCRIPT_RUN_FAILED;

    *error = "script name too long";
    /* The interpreter keeps at most 1023 characters of a path: a longer one
       would open another file than the one named. */
    if (strlen(path) >= SCRIPT_FILE_NAME_SIZE) {
        run_error(reader, "vorlane-run: script name too long: %.40s...", path);
        return result;
    }
    result = script_run(&reader->session, path, tally);
    *error = run_error_text(result, tally, text, RUN_WHY_SIZE);
    if (!*error && tally->lost) /* the report would miss checks */
        *error = "checks lost: out of memory";
    if (result == SCRIPT_RUN_NO_FILE)
        run_error(reader, "vorlane-run: cannot open %s", path);
    else if (*error && result != SCRIPT_RUN_FAILED) /* checks lost, no memory */
        run_error(reader, "vorlane-run: %s: %s", path, *error);
    else if (result == SCRIPT_RUN_FAILED && *error == text)
        *error = run_exchange_failed(reader, path, text, detail, size);
    return result;
}

/* Runs one script ("-": standard input) and reports it. Returns RUN_OK,
   RUN_CHECK_FAILED, or RUN_FAILED when it was not found or an exchange
   failed. */
static int run_one_script(RunReader *reader, RunCard *card, ScriptValues *values,
                          ScriptChannel *channel, const char *path) {
    ScriptTally tally;
    char text[RUN_WHY_SIZE];
    char detail[RUN_WHY_SIZE + PCSC_FAILURE_TEXT_SIZE + 8]; /* "TEXT (FAILURE)" */
    const char *error = 0;

    memset(&tally, 0, sizeof tally);
    tally.values = values;
    tally.channel = channel;
    run_script_input(path, &tally);
    run_script_result(reader, path, &tally, &error, text, detail, sizeof detail);
    run_suite_add(reader, card, path, &tally, error);
    script_tally_free(&tally);
    /* Each script's lines reach the file as it ends: a long --each-card
       run can be followed while it runs. */
    platform_lock_enter(&runner.streams.pane_stream_lock);
    stream_flush(runner.out);
    platform_lock_leave(&runner.streams.pane_stream_lock);
    if (error)
        return RUN_FAILED;
    return tally.failed > 0 ? RUN_CHECK_FAILED : RUN_OK;
}

/* The card's values: --set's, then its data row's. */
static int run_card_values(const RunReader *reader, int row, ScriptValues *values) {
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
int run_card_scripts(RunReader *reader, RunCard *card) {
    const RunArgs *args = runner.args;
    ScriptValues values;
    char why[RUN_WHY_SIZE];
    ScriptChannel channel;
    int status = RUN_OK;

    memset(&values, 0, sizeof values);
    memset(&channel, 0, sizeof channel);
    int ready = run_card_values(reader, card->row, &values);
    if (!ready)
        status = RUN_FAILED;
    if (ready && args->record && !run_record_start(reader, card, why, sizeof why)) {
        run_card_not_run(reader, card, why);
        ready = 0;
        status = RUN_FAILED;
    }
    for (int i = 0; ready && i < args->script_count; i++)
        status = run_worse(status, run_one_script(reader, card, &values, &channel,
                                                  runner.argv[args->first_script + i]));
    status = run_worse(status, run_record_end(reader, card));
    script_channel_end(&channel);
    script_values_free(&values);
    return status;
}

void run_card_not_run(const RunReader *reader, RunCard *card, const char *why) {
    const RunArgs *args = runner.args;
    ScriptTally tally;

    memset(&tally, 0, sizeof tally);
    for (int i = 0; i < args->script_count; i++)
        run_suite_add(reader, card, runner.argv[args->first_script + i], &tally, why);
}

void run_card_atr_failed(const RunReader *reader, LONG status, char *why, size_t size) {
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
