/*
 * run_main.cpp: the entry of vorlane-run, the command-line script
 * runner. It runs script files with the Script dialog's interpreter, one
 * after the other on one card connection, on its own thread and without a
 * window: what the reader pane would show goes to standard output (with -c
 * the Console's exchange lines too), messages and usage to standard error.
 *
 * Exit status: 0 when every script was found and ran to its end and every
 * check held; 3 when all that holds but a check failed; 1 when a script was
 * not found, no card was there or an exchange failed; 2 for a usage error.
 * With --junit the report is written whatever the status.
 */
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "app/file_io.h"
#include "card/scard_name.h"
#include "run/run.h"
#include "run/run_main.h"
#include "run/run_report.h"
#include "script/script_check.h"
#include "script/script_run.h"

enum { RUN_OK = 0, RUN_FAILED = 1, RUN_USAGE = 2, RUN_CHECK_FAILED = 3 };

enum { RUN_REPORT_NAME_SIZE = 1024 };

/* The --junit report while it is written: under a temporary name in the
   same folder, renamed when complete. */
struct RunReport {
    FILE *file;                          /* the temporary file, or 0: no report */
    const char *name;                    /* the name given on the command line */
    char temp[RUN_REPORT_NAME_SIZE + 8]; /* name + ".tmp" */
};

/* 1 when no report is asked for or its temporary file is open. */
static int run_report_open(RunReport *report, const char *name) {
    report->file = 0;
    report->name = name;
    if (!name)
        return 1;
    if (strlen(name) < RUN_REPORT_NAME_SIZE) {
        snprintf(report->temp, sizeof report->temp, "%s.tmp", name);
        report->file = fopen(report->temp, "wb");
    }
    if (!report->file) {
        fprintf(app.run_err, "vorlane-run: cannot write %s\n", name);
        return 0;
    }
    run_report_begin(report->file);
    return 1;
}

/* Completes the report and gives it its name; a report that could not be
   written whole is removed and fails the run. Returns the exit status. */
static int run_report_close(RunReport *report, int status) {
    if (!report->file)
        return status;
    int written = run_report_end(report->file) == 0;
    written = file_close_written(report->file) == 0 && written;
    if (written && platform_file_replace(report->temp, report->name))
        return status;
    remove(report->temp);
    fprintf(app.run_err, "vorlane-run: cannot write %s\n", report->name);
    return RUN_FAILED;
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
        snprintf(text, size, "line %d: the card was not ready", tally->error_line);
    else
        snprintf(text, size, "line %d: 0x%08lX %s", tally->error_line, tally->error_code,
                 scard_name(tally->error_code));
    return text;
}

/* Runs one script ("-": standard input) and reports it. Returns RUN_OK,
   RUN_CHECK_FAILED, or RUN_FAILED when it was not found or an exchange
   failed. */
static int run_one_script(CardSession *session, const char *path, RunReport *report) {
    ScriptTally tally;
    char text[128];
    const char *error = "script name too long";
    int result = SCRIPT_RUN_FAILED;

    memset(&tally, 0, sizeof tally);
    tally.input = strcmp(path, "-") == 0 ? app.run_in : 0;
    /* The interpreter keeps at most 1023 characters of a path: a longer one
       would open another file than the one named. */
    if (strlen(path) >= SCRIPT_FILE_NAME_SIZE) {
        fprintf(app.run_err, "vorlane-run: script name too long: %.40s...\n", path);
    } else {
        result = script_run(session, path, &tally);
        error = run_error_text(result, &tally, text, sizeof text);
        if (!error && tally.lost) /* the report would miss checks */
            error = "checks lost: out of memory";
    }
    fflush(app.run_out);
    if (result == SCRIPT_RUN_NO_FILE)
        fprintf(app.run_err, "vorlane-run: cannot open %s\n", path);
    else if (error && result != SCRIPT_RUN_FAILED) /* checks lost */
        fprintf(app.run_err, "vorlane-run: %s: %s\n", path, error);
    else if (result == SCRIPT_RUN_FAILED && error == text)
        fprintf(app.run_err, "%s %s\n", path, text);
    if (report->file)
        run_report_suite(report->file, path, &tally, error);
    script_tally_free(&tally);
    if (error)
        return RUN_FAILED;
    return tally.failed > 0 ? RUN_CHECK_FAILED : RUN_OK;
}

/* The panes' text goes out byte for byte: their lines already end in CR LF. */
static void run_streams_open(CardSession *session, int console) {
    platform_stream_binary(app.run_out);
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[session->reader_pane] = app.run_out;
    platform_lock_leave(&app.pane_stream_lock);
    session->console_pane = console ? session->reader_pane : PANE_NONE;
}

static void run_streams_close(CardSession *session) {
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[session->reader_pane] = 0;
    platform_lock_leave(&app.pane_stream_lock);
    fflush(app.run_out);
}

/* Without a card no script runs; the report still names each one. */
static void run_report_not_run(RunReport *report, const RunArgs *args, char **argv) {
    ScriptTally tally;

    memset(&tally, 0, sizeof tally);
    for (int i = 0; report->file && i < args->script_count; i++)
        run_report_suite(report->file, argv[args->first_script + i], &tally, "not run: no card");
}

/* 1 (a script missing, no card, a failed exchange) wins over 3 (a check
   failed), which wins over 0. */
static int run_worse(int status, int outcome) {
    if (status == RUN_FAILED || outcome == RUN_FAILED)
        return RUN_FAILED;
    return outcome == RUN_CHECK_FAILED ? RUN_CHECK_FAILED : status;
}

int run_main(int argc, char **argv, FILE *in, FILE *out, FILE *err) {
    RunArgs args;
    RunReport report;

    app_state_init();
    app_locks_create();
    app.run_in = in;
    app.run_out = out;
    app.run_err = err;
    if (!run_args_parse(argc, (const char *const *)argv, &args)) {
        fprintf(app.run_err, "%s\n", run_usage);
        return RUN_USAGE;
    }
    if (!run_report_open(&report, args.junit))
        return RUN_FAILED;
    platform_stream_text(app.run_in); /* a script read from it as from a file opened "rt" */
    CardSession *session = &app.run_sessions[0];
    run_streams_open(session, args.console);
    int card = run_card_open(session, &args);
    int status = card ? RUN_OK : RUN_FAILED;
    if (!card)
        run_report_not_run(&report, &args, argv);
    for (int i = 0; card && i < args.script_count; i++)
        status = run_worse(status, run_one_script(session, argv[args.first_script + i], &report));
    run_card_close(session);
    run_streams_close(session);
    return run_report_close(&report, status);
}
