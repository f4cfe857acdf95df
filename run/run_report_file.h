/*
 * run_report_file.h: the report file of a run of vorlane-run (--junit
 * FILE): checked at the start, suites added as scripts end, written whole
 * under a temporary name and renamed, closed at the end.
 */
#ifndef VORLANE_RUN_REPORT_FILE_H
#define VORLANE_RUN_REPORT_FILE_H

#include "run/run_report.h"

enum {
    RUN_REPORT_NAME_SIZE = 1024, /* a report's name and its NUL, at most */
    RUN_REPORT_TEMP_SIZE = RUN_REPORT_NAME_SIZE + sizeof ".tmp" - 1, /* FILE.tmp */
};

/* Exports from run/run_report_file.cpp; the main thread alone, which owns
   the report (runner.suites) from its start to its end. */
/* Before any card is touched: 1 when no report is asked for or its
   temporary file can be made (a report that could not be written at the
   end would otherwise be found out too late); else 0, said on standard
   error. Nothing is left behind: a run that is killed leaves no report. */
int run_report_check(void);
/* Without a card no script runs; the report still names each one, with
   why as its error. */
void run_report_not_run(const char *why);
/* Writes the whole report now, from the suites so far: 0, or -1 when it
   could not be written whole. */
int run_report_flush(void);
/* The end of the run: the report written; one that could not be written
   whole fails the run. Returns the exit status. */
int run_report_close(int status);

#endif
