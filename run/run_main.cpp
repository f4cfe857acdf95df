/*
 * run_main.cpp: vorlane-run, the command-line script runner, as one call.
 * It runs script files with the Script dialog's interpreter, one after the
 * other on a card, without a window: what the reader pane would show goes
 * to standard output (with -c the Console's exchange lines too), messages
 * and usage to standard error. With several readers each runs the scripts
 * on its own card at once; --each-card runs them on every card put into
 * the chosen readers (run/run.h gives the stages). --record writes each
 * card's exchanges as a script (run_record.cpp); --replay answers from
 * recordings instead of cards (card/replay_provider.h), through a
 * provider held here for the length of the run. --cap-info describes CAP
 * files (cap/cap.h) and touches no card.
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

#include "app/text_form.h"
#include "cap/cap.h"
#include "card/replay_provider.h"
#include "console/pane_print.h"
#include "crypto/crypto_wipe.h"
#include "run/run.h"
#include "run/run_report_file.h"

static_assert((int)RUN_WORDS_MAX <= (int)REPLAY_READERS_MAX, "every --replay gets its reader");

enum { RUN_STDIN_MAX = 64 * 1024 * 1024 }; /* a script read from standard input, at most */

/* "-" among the scripts while several readers may read it: standard input
   is read once and each run reads the text. 0 when it is too large. */
static int run_stdin_keep(TextBuffer *kept) {
    const RunArgs *args = runner.args;
    char piece[4096];
    size_t got;
    int wanted = 0;

    for (int i = 0; i < args->script_count; i++)
        wanted |= strcmp(runner.argv[args->first_script + i], "-") == 0;
    if (!wanted || (args->reader_count <= 1 && !args->all && !args->each_card))
        return 1;
    while ((got = fread(piece, 1, sizeof piece, runner.in)) > 0 && kept->used < RUN_STDIN_MAX)
        text_buffer_add(kept, piece, got);
    if (kept->used >= RUN_STDIN_MAX || kept->lost) {
        fprintf(runner.err, "vorlane-run: standard input too large\n");
        return 0;
    }
    runner.stdin_text = kept->text ? kept->text : "";
    runner.stdin_length = kept->used;
    return 1;
}

/* --atr=HEX: the ATR given, explained on standard output; 2 for text
   that is not hexadecimal pairs (blanks between them allowed). */
static int run_atr_given(void) {
    unsigned char atr[CARD_ATR_SIZE];
    int count = hex_pairs_read(runner.args->atr_hex, atr, CARD_ATR_SIZE);

    if (count <= 0) {
        fprintf(runner.err, "vorlane-run: not an ATR in hexadecimal: %.80s\n",
                runner.args->atr_hex);
        return RUN_USAGE;
    }
    int pane = run_reader_pane(&runner.readers[0]);
    pane_stream_open(pane, runner.out, 0, -1);
    run_atr_print(pane, atr, count);
    pane_stream_end(pane);
    return RUN_OK;
}

/* --cap-info's text to standard output, each LF as CR LF like every line
   the runner writes there. */
static void run_cap_text(void *context, const char *text, size_t length) {
    const char *end = text + length;

    for (const char *at = text; at < end;) {
        const char *feed = (const char *)memchr(at, '\n', (size_t)(end - at));
        size_t piece = feed ? (size_t)(feed - at) : (size_t)(end - at);
        fwrite(at, 1, piece, (FILE *)context);
        if (feed)
            fwrite("\r\n", 1, 2, (FILE *)context);
        at += piece + (feed ? 1 : 0);
    }
}

/* --cap-info FILE...: each file described, an empty line between two;
   RUN_USAGE when one cannot be read (why on standard error), the others
   are still shown. */
static int run_cap_info(void) {
    int status = RUN_OK, shown = 0;

    for (int i = 0; i < runner.args->script_count; i++) {
        const char *path = runner.argv[runner.args->first_script + i];
        CapFile cap;
        if (!cap_read_file(path, &cap)) {
            fprintf(runner.err, "vorlane-run: %s\n", cap.message);
            status = RUN_USAGE;
            continue;
        }
        if (shown++)
            run_cap_text(runner.out, "\n", 1);
        cap_info_write(&cap, path, run_cap_text, runner.out);
        cap_free(&cap);
    }
    return status;
}

/* --set and --data, checked whole before any card is touched: 1, or 0
   with the reason on standard error. */
static int run_values_load(void) {
    const RunArgs *args = runner.args;
    char message[SCRIPT_VALUE_MESSAGE_SIZE + 64];

    for (int i = 0; i < args->set_count; i++) {
        if (!run_set_apply(args->sets[i], i + 1, &runner.values, message, sizeof message)) {
            fprintf(runner.err, "vorlane-run: %s\n", message);
            return 0;
        }
    }
    if (!args->data)
        return 1;
    TextBuffer text = {};
    text.secret = 1; /* a data file may hold keys */
    FILE *file = platform_file_open(args->data, "rb");
    char piece[4096];
    size_t got;
    while (file && (got = fread(piece, 1, sizeof piece, file)) > 0)
        text_buffer_add(&text, piece, got);
    crypto_wipe(piece, sizeof piece);
    int read = file && !ferror(file) && !text.lost;
    if (file)
        fclose(file);
    if (!read)
        snprintf(message, sizeof message, "cannot be read");
    else if (run_data_read(text.text ? text.text : "", text.used, &runner.data, message,
                           sizeof message))
        message[0] = 0;
    text_buffer_free(&text);
    if (!message[0])
        return 1;
    fprintf(runner.err, "vorlane-run: %s%s %s\n", args->data, read ? "" : ":", message);
    return 0;
}

/* --replay: the provider of the recordings, held by the caller for the
   run, becomes the run's. 1, or 0 with the reason on standard error. */
static int run_replay_open(ReplayProvider *replay) {
    const RunArgs *args = runner.args;
    char refusal[REPLAY_REFUSAL_SIZE];

    if (args->replay_count == 0)
        return 1;
    if (!replay_provider_open(replay, args->replays, args->replay_count, refusal, sizeof refusal)) {
        run_error(0, "vorlane-run: %s", refusal);
        return 0;
    }
    runner.pcsc = &replay->pcsc;
    return 1;
}

/* What the command line asks for, once the provider is chosen. */
static int run_mode(void) {
    TextBuffer kept = {};
    int status = RUN_USAGE;

    if (runner.args->cap_info) {
        status = run_cap_info();
    } else if (runner.args->list) {
        status = run_list();
    } else if (runner.args->atr_hex) {
        status = run_atr_given();
    } else if (!run_values_load()) {
        status = RUN_USAGE;
    } else if (!run_report_check() || !run_stdin_keep(&kept)) {
        status = RUN_FAILED;
    } else {
        stream_writer_start(); /* without it, the text is written at once */
        status = run_cards();
        stream_writer_stop();
        status = run_report_close(status);
    }
    text_buffer_free(&kept);
    return status;
}

static int run_everything(void) {
    ReplayProvider replay;
    int status = RUN_USAGE;

    platform_host_name(runner.host, sizeof runner.host);
    platform_stream_text(runner.in); /* a script read from it as from a file opened "rt" */
    platform_stream_binary(runner.out);
    if (run_replay_open(&replay)) {
        status = run_mode();
        if (runner.pcsc == &replay.pcsc)
            replay_provider_close(&replay);
    }
    fflush(runner.out);
    text_buffer_free(&runner.suites);
    script_values_free(&runner.values);
    run_data_free(&runner.data);
    runner.pcsc = &pcsc_platform;
    platform_interrupts_done();
    return status;
}

int run_main(int argc, char **argv, FILE *in, FILE *out, FILE *err) {
    RunArgs args;

    app_state_init();
    app_locks_create();
    run_state_init(in, out, err);
    if (!run_args_parse(argc, (const char *const *)argv, &args)) {
        fprintf(runner.err, "%s\n", run_usage);
        return RUN_USAGE;
    }
    runner.args = &args;
    runner.argv = argv;
    return run_everything();
}
