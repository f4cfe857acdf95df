/*
 * run_report.cpp: the JUnit XML report of vorlane-run.
 *
 * Suites are kept as text as the scripts end, so the report can be written
 * whole at any time: at the end of a run, and after every card of the card
 * line. Text is single-byte throughout, hence the Latin-1 declaration:
 * every byte from 0x80 up is then a valid character.
 */
#include "run/run_report.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

static void run_text_put(TextBuffer *text, const char *bytes) {
    text_buffer_add(text, bytes, strlen(bytes));
}

static void run_text_printf(TextBuffer *text, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static void run_text_printf(TextBuffer *text, const char *format, ...) {
    char piece[256];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (length > 0)
        text_buffer_add(text, piece,
                        (size_t)length < sizeof piece ? (size_t)length : sizeof piece - 1);
}

void run_report_escape(TextBuffer *out, const char *text) {
    const char *run = text;

    for (const unsigned char *c = (const unsigned char *)text; *c; c++) {
        const char *entity = 0;
        switch (*c) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
            case '\t':
            case '\n':
            case '\r': break;
            default:
                if (*c < 0x20)
                    entity = "?";
                break;
        }
        if (!entity)
            continue;
        text_buffer_add(out, run, (size_t)((const char *)c - run));
        run_text_put(out, entity);
        run = (const char *)c + 1;
    }
    run_text_put(out, run);
}

static void run_report_seconds(TextBuffer *out, int ms) {
    if (ms < 0)
        ms = 0;
    run_text_printf(out, "%d.%03d", ms / 1000, ms % 1000);
}

/* <testcase name="..." classname="..." time="..."> with an optional
   failure or error element holding message. */
static void run_report_case(TextBuffer *out, const char *suite, const char *name, int ms,
                            const char *kind, const char *message) {
    run_text_put(out, "    <testcase name=\"");
    run_report_escape(out, name);
    run_text_put(out, "\" classname=\"");
    run_report_escape(out, suite);
    run_text_put(out, "\" time=\"");
    run_report_seconds(out, ms);
    if (!kind) {
        run_text_put(out, "\"/>\n");
        return;
    }
    run_text_printf(out, "\">\n      <%s message=\"", kind);
    run_report_escape(out, message);
    run_text_put(out, "\">");
    run_report_escape(out, message);
    run_text_printf(out, "</%s>\n    </testcase>\n", kind);
}

static void run_report_property(TextBuffer *out, const char *name, const char *value) {
    run_text_printf(out, "      <property name=\"%s\" value=\"", name);
    run_report_escape(out, value);
    run_text_put(out, "\"/>\n");
}

static void run_report_properties(TextBuffer *out, const RunSuiteFacts *facts) {
    char number[16];

    run_text_put(out, "    <properties>\n");
    run_report_property(out, "reader", facts->reader);
    run_report_property(out, "atr", facts->atr);
    if (facts->card > 0) {
        snprintf(number, sizeof number, "%d", facts->card);
        run_report_property(out, "card", number);
    }
    if (facts->row > 0) {
        snprintf(number, sizeof number, "%d", facts->row);
        run_report_property(out, "row", number);
    }
    run_text_put(out, "    </properties>\n");
}

void run_report_suite(TextBuffer *out, const char *name, const RunSuiteFacts *facts,
                      const ScriptTally *tally, const char *error) {
    int checks = tally->passed + tally->failed;
    int cases = checks > 0 && !error ? checks : checks + 1;
    size_t at = 0;
    int ms;
    const char *case_name, *message;

    run_text_put(out, "  <testsuite name=\"");
    run_report_escape(out, name);
    run_text_printf(out, "\" tests=\"%d\" failures=\"%d\" errors=\"%d\" time=\"", cases,
                    tally->failed, error ? 1 : 0);
    run_report_seconds(out, tally->elapsed_ms);
    run_text_put(out, "\" hostname=\"");
    run_report_escape(out, facts->host);
    run_text_put(out, "\">\n");
    run_report_properties(out, facts);
    while (script_tally_next(tally, &at, &ms, &case_name, &message))
        run_report_case(out, name, case_name, ms, *message ? "failure" : 0, message);
    if (cases > checks)
        run_report_case(out, name, "run", tally->elapsed_ms, error ? "error" : 0, error);
    run_text_put(out, "  </testsuite>\n");
}

int run_report_write(FILE *out, const TextBuffer *suites) {
    fputs("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<testsuites>\n", out);
    if (suites->used > 0)
        fwrite(suites->text, 1, suites->used, out);
    fputs("</testsuites>\n", out);
    return ferror(out) || suites->lost ? -1 : 0;
}
