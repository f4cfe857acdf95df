/*
 * run_report.cpp: writing vorlane-run's JUnit XML report.
 *
 * The report is written as the scripts end, one testsuite at a time, so
 * nothing of a suite needs to be kept once it is written. Text is
 * single-byte throughout, hence the Latin-1 declaration: every byte from
 * 0x80 up is then a valid character.
 */
#include "run/run_report.h"

void run_report_escape(FILE *out, const char *text) {
    for (const unsigned char *c = (const unsigned char *)text; *c; c++) {
        switch (*c) {
            case '&': fputs("&amp;", out); break;
            case '<': fputs("&lt;", out); break;
            case '>': fputs("&gt;", out); break;
            case '"': fputs("&quot;", out); break;
            case '\'': fputs("&apos;", out); break;
            case '\t':
            case '\n':
            case '\r': fputc(*c, out); break;
            default: fputc(*c < 0x20 ? '?' : *c, out); break;
        }
    }
}

static void run_report_seconds(FILE *out, int ms) {
    if (ms < 0)
        ms = 0;
    fprintf(out, "%d.%03d", ms / 1000, ms % 1000);
}

/* <testcase name="..." classname="..." time="..."> with an optional
   failure or error element holding message. */
static void run_report_case(FILE *out, const char *suite, const char *name, int ms,
                            const char *kind, const char *message) {
    fputs("    <testcase name=\"", out);
    run_report_escape(out, name);
    fputs("\" classname=\"", out);
    run_report_escape(out, suite);
    fputs("\" time=\"", out);
    run_report_seconds(out, ms);
    if (!kind) {
        fputs("\"/>\n", out);
        return;
    }
    fprintf(out, "\">\n      <%s message=\"", kind);
    run_report_escape(out, message);
    fputs("\">", out);
    run_report_escape(out, message);
    fprintf(out, "</%s>\n    </testcase>\n", kind);
}

void run_report_begin(FILE *out) {
    fputs("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<testsuites>\n", out);
}

void run_report_suite(FILE *out, const char *name, const ScriptTally *tally, const char *error) {
    int checks = tally->passed + tally->failed;
    int cases = checks > 0 && !error ? checks : checks + 1;
    size_t at = 0;
    int ms;
    const char *case_name, *message;

    fputs("  <testsuite name=\"", out);
    run_report_escape(out, name);
    fprintf(out, "\" tests=\"%d\" failures=\"%d\" errors=\"%d\" time=\"", cases, tally->failed,
            error ? 1 : 0);
    run_report_seconds(out, tally->elapsed_ms);
    fputs("\">\n", out);
    while (script_tally_next(tally, &at, &ms, &case_name, &message))
        run_report_case(out, name, case_name, ms, *message ? "failure" : 0, message);
    if (cases > checks)
        run_report_case(out, name, "run", tally->elapsed_ms, error ? "error" : 0, error);
    fputs("  </testsuite>\n", out);
}

int run_report_end(FILE *out) {
    fputs("</testsuites>\n", out);
    return ferror(out) ? -1 : 0;
}
