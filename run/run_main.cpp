/*
 * run_main.cpp: vorlane-run, the command-line script runner, as one call.
 * It runs script files with the Script dialog's interpreter, one after the
 * other on a card, without a window: what the reader pane would show goes
 * to standard output (with -c the Console's exchange lines too), messages
 * and usage to standard error. With several readers each runs the scripts
 * on its own card at once (run_choose.cpp); --each-card runs them on every
 * card put into the chosen readers (run_line.cpp).
 *
 * Exit status, the worst over all readers: 0 when every script was found
 * and ran to its end and every check held; 3 when all that holds but a
 * check failed; 1 when a script was not found, no card was there or an
 * exchange failed; 2 for a usage error. With --junit the report is written
 * whatever the status.
 */
#include "run/run_main.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/app_state.h"
#include "console/pane_print.h"
#include "app/text_form.h"
#include "run/run.h"
#include "run/run_report.h"

enum {
    RUN_STDIN_MAX = 64 * 1024 * 1024, /* a script read from standard input, at most */
    RUN_REPORT_NAME_SIZE = 1024,      /* a report's name and its NUL, at most */
};

/* 1 when no report is asked for or its temporary file can be made: a
   report that could not be written at the end would otherwise be found out
   too late. Nothing is left behind: a run that is killed leaves no report. */
static int run_report_check(void) {
    const char *name = app.run_args->junit;
    char temp[RUN_REPORT_NAME_SIZE + 8];
    FILE *file = 0;

    if (!name)
        return 1;
    if (strlen(name) < RUN_REPORT_NAME_SIZE) {
        snprintf(temp, sizeof temp, "%s.tmp", name);
        file = platform_file_open(temp, "wb");
    }
    if (!file) {
        fprintf(app.run_err, "vorlane-run: cannot write %s\n", name);
        return 0;
    }
    fclose(file);
    remove(temp);
    return 1;
}

/* Writes the report; one that could not be written whole fails the run.
   Returns the exit status. */
static int run_report_close(int status) {
    if (!app.run_args->junit)
        return status;
    if (app.run_suites.lost)
        fprintf(app.run_err, "vorlane-run: %s: report incomplete: out of memory\n",
                app.run_args->junit);
    if (run_report_flush() == 0 && !app.run_suites.lost)
        return status;
    fprintf(app.run_err, "vorlane-run: cannot write %s\n", app.run_args->junit);
    return RUN_FAILED;
}

/* "-" among the scripts while several readers may read it: standard input
   is read once and each run reads the text. 0 when it is too large. */
static int run_stdin_keep(RunText *kept) {
    const RunArgs *args = app.run_args;
    char piece[4096];
    size_t got;
    int wanted = 0;

    for (int i = 0; i < args->script_count; i++)
        wanted |= strcmp(app.run_argv[args->first_script + i], "-") == 0;
    if (!wanted || (args->reader_count <= 1 && !args->all && !args->each_card))
        return 1;
    while ((got = fread(piece, 1, sizeof piece, app.run_in)) > 0 && kept->used < RUN_STDIN_MAX)
        run_text_add(kept, piece, got);
    if (kept->used >= RUN_STDIN_MAX || kept->lost) {
        fprintf(app.run_err, "vorlane-run: standard input too large\n");
        return 0;
    }
    app.run_stdin_text = kept->text ? kept->text : "";
    app.run_stdin_length = kept->used;
    return 1;
}

/* --atr=HEX: the ATR given, explained on standard output; 2 for text
   that is not hexadecimal pairs (blanks between them allowed). */
static int run_atr_given(void) {
    unsigned char atr[CARD_ATR_SIZE];
    int count = 0;
    int high = -1;

    for (const char *at = app.run_args->atr_hex; *at; at++) {
        int digit = hex_digit_value(*at);
        if ((*at == ' ' || *at == '\t') && high < 0)
            continue;
        if (digit < 0 || (high < 0 && count == CARD_ATR_SIZE))
            count = -1;
        if (count < 0)
            break;
        if (high < 0) {
            high = digit;
        } else {
            atr[count++] = (unsigned char)(high << 4 | digit);
            high = -1;
        }
    }
    if (count <= 0 || high >= 0) {
        fprintf(app.run_err, "vorlane-run: not an ATR in hexadecimal: %.80s\n",
                app.run_args->atr_hex);
        return RUN_USAGE;
    }
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[PANE_RUN_FIRST] = app.run_out;
    platform_lock_leave(&app.pane_stream_lock);
    run_atr_print(PANE_RUN_FIRST, atr, count);
    pane_stream_end(PANE_RUN_FIRST);
    return RUN_OK;
}

/* --set and --data, checked whole before any card is touched: 1, or 0
   with the reason on standard error. */
static int run_values_load(void) {
    const RunArgs *args = app.run_args;
    char message[SCRIPT_VALUE_MESSAGE_SIZE + 64];

    for (int i = 0; i < args->set_count; i++) {
        if (!run_set_apply(args->sets[i], &app.run_values, message, sizeof message)) {
            fprintf(app.run_err, "vorlane-run: %s\n", message);
            return 0;
        }
    }
    if (!args->data)
        return 1;
    RunText text = {0, 0, 0, 0};
    FILE *file = platform_file_open(args->data, "rb");
    char piece[4096];
    size_t got;
    while (file && (got = fread(piece, 1, sizeof piece, file)) > 0)
        run_text_add(&text, piece, got);
    int read = file && !ferror(file) && !text.lost;
    if (file)
        fclose(file);
    if (!read)
        snprintf(message, sizeof message, "cannot be read");
    else if (run_data_read(text.text ? text.text : "", text.used, &app.run_data, message,
                           sizeof message))
        message[0] = 0;
    run_text_free(&text);
    if (!message[0])
        return 1;
    fprintf(app.run_err, "vorlane-run: %s%s %s\n", args->data, read ? "" : ":", message);
    return 0;
}

static int run_everything(void) {
    RunText kept = {0, 0, 0, 0};
    int status = RUN_FAILED;

    platform_host_name(app.run_host, sizeof app.run_host);
    platform_stream_text(app.run_in); /* a script read from it as from a file opened "rt" */
    platform_stream_binary(app.run_out);
    if (app.run_args->list) {
        status = run_list();
    } else if (app.run_args->atr_hex) {
        status = run_atr_given();
    } else if (!run_values_load()) {
        status = RUN_USAGE;
    } else if (run_report_check() && run_stdin_keep(&kept)) {
        stream_writer_start(); /* without it, the text is written at once */
        status = app.run_args->each_card ? run_card_line() : run_plain();
        stream_writer_stop();
        status = run_report_close(status);
    }
    fflush(app.run_out);
    run_text_free(&kept);
    run_text_free(&app.run_suites);
    script_values_free(&app.run_values);
    run_data_free(&app.run_data);
    platform_interrupts_done();
    return status;
}

int run_main(int argc, char **argv, FILE *in, FILE *out, FILE *err) {
    RunArgs args;

    app_state_init();
    app_locks_create();
    app.run_in = in;
    app.run_out = out;
    app.run_err = err;
    if (!run_args_parse(argc, (const char *const *)argv, &args)) {
        fprintf(app.run_err, "%s\n", run_usage);
        return RUN_USAGE;
    }
    app.run_args = &args;
    app.run_argv = argv;
    return run_everything();
}
