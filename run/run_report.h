/*
 * run_report.h: the JUnit XML report of vorlane-run (--junit FILE): one
 * testsuite per script and reader (per card with --each-card), one
 * testcase per check made, or one named "run" for a script without checks
 * or one that could not run to its end. Every suite names the host, the
 * reader and the card's ATR, so that reports from several hosts merge. No
 * Win32 here: suites are kept as text (TextBuffer) and the runner writes the
 * whole report to a temporary name and renames it.
 */
#ifndef VORLANE_RUN_REPORT_H
#define VORLANE_RUN_REPORT_H

#include <stddef.h>
#include <stdio.h>

#include "app/text_buffer.h"
#include "script/script_check.h"

/* Where a suite comes from: its properties */
struct RunSuiteFacts {
    const char *host;   /* the hostname attribute */
    const char *reader; /* the reader's name */
    const char *atr;    /* the card's ATR in hexadecimal, "" when none was read */
    int card;           /* K with --each-card, 0 otherwise (no "card" property) */
    int row;            /* data row, 0 for none (no "row" property) */
};

/* Exports from run/run_report.cpp; the caller serialises the calls on one
   buffer. */
/* One script's testsuite into text: name as the run shows it, its checks
   from tally, and error (0 when the run reached the end of the script) as
   the "run" testcase's error. Texts are escaped; time in seconds. */
void run_report_suite(TextBuffer *text, const char *name, const RunSuiteFacts *facts,
                      const ScriptTally *tally, const char *error);
/* The whole report with the suites of text: 0 when every write succeeded,
   -1 otherwise. */
int run_report_write(FILE *out, const TextBuffer *suites);
/* Writes text as XML character data or attribute value: & < > " ' as
   entities, control bytes other than tab, LF and CR (not allowed in XML)
   as '?'. */
void run_report_escape(TextBuffer *out, const char *text);

#endif
