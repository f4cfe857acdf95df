/*
 * run_report_file.cpp: the report file of vorlane-run (--junit FILE), from
 * the start of a run to its end: the name is checked before any card is
 * touched, every script's suite is added as it ends, the whole report is
 * written under a temporary name and renamed when complete (after every
 * card with --each-card, so a crash loses only the cards in progress), and
 * a report that could not be written fails the run.
 *
 * Only the main thread touches the report: the readers' threads post each
 * card's suites with its outcome (run/run_outcome.cpp), so no lock guards
 * the suites or the file.
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

int run_report_flush(void) {
    char temp[RUN_REPORT_TEMP_SIZE];
    int written = 0;

    if (!runner.args->junit)
        return 0;
    if (!run_report_temp_name(temp, sizeof temp)) /* the name was checked at the start */
        return -1;
    FILE *file = platform_file_open(temp, "wb");
    if (file) {
        TextBuffer suites = runner.suites; /* a suite lost earlier is said at the end */
        suites.lost = 0;
        written = run_report_write(file, &suites) == 0;
        written = file_close_written(file) == 0 && written;
        written = written && platform_file_replace(temp, runner.args->junit);
        if (!written)
            remove(temp);
    }
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
        run_report_suite(&runner.suites, runner.argv[args->first_script + i], &facts, &tally, why);
}
