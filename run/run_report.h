/*
 * run_report.h: the JUnit XML report of vorlane-run (--junit FILE): one
 * testsuite per script, one testcase per check made, or one named "run"
 * for a script without checks or one that could not run to its end. No
 * Win32 here; the runner writes it to a temporary name and renames it.
 */
#ifndef VORLANE_RUN_REPORT_H
#define VORLANE_RUN_REPORT_H

#include <stdio.h>

#include "script/script_check.h"

/* Exports from run/run_report.cpp; stdio only, the runner's one thread. */

/* The XML declaration and the opening of the report. */
void run_report_begin(FILE *out);
/* One script's testsuite: name as given on the command line, its checks
   from tally, and error (0 when the run reached the end of the script) as
   the "run" testcase's error. Texts are escaped; time in seconds. */
void run_report_suite(FILE *out, const char *name, const ScriptTally *tally, const char *error);
/* Closes the report. 0 when every write so far succeeded, -1 otherwise. */
int run_report_end(FILE *out);
/* Writes text as XML character data or attribute value: & < > " ' as
   entities, control bytes other than tab, LF and CR (not allowed in XML)
   as '?'. */
void run_report_escape(FILE *out, const char *text);

#endif
