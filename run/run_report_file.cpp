/*
 * run_report_file.cpp: the report file of vorlane-run (--junit FILE), from
 * the start of a run to its end: the name is checked before any card is
 * touched, every script's suite is added as it ends, the whole report is
 * written under a temporary name and renamed when complete (after every
 * card in the card line, so a crash loses only the cards in progress), and
 * a report that could not be written fails the run.
 *
 * Design: the suites grow under runner.lock, which is never held across
 * file I/O; report_lock keeps one writer at a time, and the writer copies
 * the suites under runner.lock before it writes them.
 */
#include "run/run_report_file.h"

#include <stdlib.h>
#include <string.h>

#include "app/file_io.h"
#include "run/run.h"
#include "run/run_state.h"

/* The report's temporary name: FILE.tmp. 0 when the name is too long. */
static int run_report_temp_name(char *temp, size_t size) {
    const char *name = runner.args->junit;

    if (strlen(name) >= RUN_REPORT_NAME_SIZE)
        return 0;
    snprintf(temp, size, "%s.tmp", name);
    return 1;
}

int run_report_check(void) {
    char temp[RUN_REPORT_TEMP_SIZE];
    FILE *file = 0;

    if (!runner.args->junit)
        return 1;
    if (run_report_temp_name(temp, sizeof temp))
        file = platform_file_open(temp, "wb");
    if (!file) {
        fprintf(runner.err, "vorlane-run: cannot write %s\n", runner.args->junit);
        return 0;
    }
    fclose(file);
    remove(temp);
    return 1;
}

void run_report_add(const char *name, const RunSuiteFacts *facts, const ScriptTally *tally,
                    const char *error) {
    platform_lock_enter(&runner.lock);
    run_report_suite(&runner.suites, name, facts, tally, error);
    platform_lock_leave(&runner.lock);
}

/* The suites so far, copied under runner.lock; 0 when memory ran out. */
static int run_report_snapshot(TextBuffer *copy) {
    platform_lock_enter(&runner.lock);
    if (runner.suites.used > 0)
        text_buffer_add(copy, runner.suites.text, runner.suites.used);
    platform_lock_leave(&runner.lock);
    return !copy->lost; /* a suite lost earlier is said at the end */
}

int run_report_flush(void) {
    char temp[RUN_REPORT_TEMP_SIZE];
    TextBuffer suites = {};
    int written = 0;

    if (!runner.args->junit)
        return 0;
    if (!run_report_temp_name(temp, sizeof temp)) /* the name was checked at the start */
        return -1;
    platform_lock_enter(&runner.report_lock);
    FILE *file = run_report_snapshot(&suites) ? platform_file_open(temp, "wb") : 0;
    if (file) {
        written = run_report_write(file, &suites) == 0;
        written = file_close_written(file) == 0 && written;
        written = written && platform_file_replace(temp, runner.args->junit);
        if (!written)
            remove(temp);
    }
    platform_lock_leave(&runner.report_lock);
    text_buffer_free(&suites);
    return written ? 0 : -1;
}

int run_report_close(int status) {
    if (!runner.args->junit)
        return status;
    if (runner.suites.lost)
        fprintf(runner.err, "vorlane-run: %s: report incomplete: out of memory\n",
                runner.args->junit);
    if (run_report_flush() == 0 && !runner.suites.lost)
        return status;
    fprintf(runner.err, "vorlane-run: cannot write %s\n", runner.args->junit);
    return RUN_FAILED;
}

void run_report_not_run(const char *why) {
    const RunArgs *args = runner.args;
    RunSuiteFacts facts = {runner.host, "", "", 0, 0};
    ScriptTally tally;

    memset(&tally, 0, sizeof tally);
    for (int i = 0; i < args->script_count; i++)
        run_report_add(runner.argv[args->first_script + i], &facts, &tally, why);
}
