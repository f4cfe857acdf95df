/*
 * run_reader.cpp: one reader's part in a run of vorlane-run: its slot and
 * output, and its thread, whose one body serves both modes: a card comes
 * (in a plain run the card found at the start, with --each-card each card
 * put in, until the run stops taking cards or the reader goes), it is connected,
 * numbered by the main thread, its scripts run and its outcome posted,
 * then it is let go. Each card's own data lives in a RunCard on this
 * thread's stack; nothing shared is touched per exchange.
 *
 * The main thread tells the thread to stop through its atomic gone flag
 * (the reader left the list) and runner.stopping (an --each-card run takes no
 * more cards), and reads its end through ended.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/file_io.h"
#include "card/scard_name.h"
#include "console/pane_print.h"
#include "run/run_report_file.h"

enum {
    /* DIR/reader-N.log: the directory's name as a report's may be long */
    RUN_LOG_NAME_SIZE = RUN_REPORT_NAME_SIZE + sizeof "/reader-NN.log",
};

/* The reader's output: its pane's stream, numbered lines when several
   readers share it, and its log file. 0 when the log cannot be made. */
static int run_reader_output(RunReader *reader) {
    char name[RUN_LOG_NAME_SIZE];

    reader->log = 0;
    if (runner.args->output_dir) {
        snprintf(name, sizeof name, "%s/reader-%d.log", runner.args->output_dir, reader->number);
        reader->log = platform_file_open(name, "wb");
        if (!reader->log) {
            run_error(reader, "vorlane-run: cannot write %s", name);
            return 0;
        }
    }
    pane_stream_open(run_reader_pane(reader), runner.out, reader->log,
                     runner.prefixed ? reader->number : -1);
    return 1;
}

/* The slot's last thread, ended already, is gone entirely. */
static void run_reader_thread_join(RunReader *reader) {
    if (reader->joinable)
        platform_thread_join(&reader->thread);
    reader->joinable = 0;
}

/* A reader whose log cannot be made fails the run: it ends before it
   starts. */
int run_reader_join(RunReader *reader, const char *name) {
    int pane = run_reader_pane(reader);

    run_reader_thread_join(reader); /* an --each-card slot taken again */
    card_session_init(&reader->session, pane, runner.args->console ? pane : PANE_NONE);
    platform_counter_set(&reader->session.explain, runner.args->explain);
    reader->session.pcsc = runner.pcsc;
    snprintf(reader->session.reader_name, sizeof reader->session.reader_name, "%s", name);
    reader->used = 1;
    reader->number = runner.next_number++;
    reader->answered = 0;
    platform_counter_set(&reader->gone, 0);
    platform_counter_set(&reader->ended, 0);
    if (run_reader_output(reader))
        return 1;
    run_outcome_post(reader, 0, RUN_FAILED, 0);
    platform_counter_set(&reader->ended, 1);
    return 0;
}

/* 1 while the reader's thread should go on waiting. */
static int run_reader_waiting(const RunReader *reader) {
    return !platform_counter_read(&reader->gone) && !platform_counter_read(&runner.stopping);
}

/* Waits for a card, or for its removal (want 0). 1 when it came (went);
   0 when the run stops taking cards or the reader goes first. */
static int run_reader_wait_card(RunReader *reader, int want) {
    while (run_reader_waiting(reader)) {
        int seen = run_card_wait(&reader->session, want, RUN_SLICE_MS);
        if (seen == RUN_READER_GONE)
            return 0;
        if (seen == RUN_NO_SERVICE)
            platform_sleep_ms(RUN_SLICE_MS); /* a new context at the next try */
        else if (seen == (want ? RUN_CARD_PRESENT : RUN_CARD_ABSENT))
            return 1;
    }
    return 0;
}

/* A card that could not be connected: in a plain run the reader fails;
   with --each-card it went again before it could be used, and is not
   counted. */
static void run_reader_no_card(const RunReader *reader, LONG status) {
    if (runner.args->each_card)
        return;
    run_error(reader, "vorlane-run: no card in reader %s (0x%08lX %s)", reader->session.reader_name,
              (unsigned long)status, scard_name((unsigned long)status));
    run_outcome_post(reader, 0, RUN_FAILED, 0);
}

/* What the card gives: its scripts' status, or with --atr its ATR
   explained; a card whose ATR cannot be read fails. */
static int run_reader_card_work(RunReader *reader, RunCard *card, int atr_failed, LONG status) {
    char why[RUN_WHY_SIZE];

    if (atr_failed) {
        run_card_atr_failed(reader, status, why, sizeof why);
        run_card_not_run(reader, card, why);
        return RUN_FAILED;
    }
    if (runner.args->atr) {
        CardSession *session = &reader->session;
        run_atr_print(session->reader_pane, session->card_atr, session->card_atr_len);
        return RUN_OK;
    }
    return run_card_scripts(reader, card);
}

/* A card that came: connected, numbered, its work done and its outcome
   posted. */
static void run_reader_card(RunReader *reader) {
    RunCard card;
    int atr_failed = 0;
    LONG status = run_card_connect(&reader->session, &atr_failed);

    if (status != SCARD_S_SUCCESS && !atr_failed) {
        run_reader_no_card(reader, status);
        return;
    }
    memset(&card, 0, sizeof card);
    if (!run_card_claim(reader, &card))
        return;
    int outcome = run_reader_card_work(reader, &card, atr_failed, status);
    run_outcome_post(reader, card.number, outcome, &card.suites);
}

/* The one body of both modes: a plain run takes the card there at the
   start, --each-card each card in turn. */
static void run_reader_body(RunReader *reader) {
    int each_card = runner.args->each_card;
    int more = each_card ? run_reader_wait_card(reader, 1) : 1;

    while (more) {
        run_reader_card(reader);
        run_card_disconnect(&reader->session);
        more = each_card && run_reader_wait_card(reader, 0) && run_reader_wait_card(reader, 1);
    }
}

/* The thread's end: its output finished, its card and context let go. */
static void run_reader_leave(RunReader *reader) {
    int pane = run_reader_pane(reader);
    FILE *log = reader->log;

    run_card_close(&reader->session);
    pane_stream_end(pane);
    if (log)
        stream_flush(log); /* the writer may still hold its text */
    if (log && file_close_written(log) != 0) {
        run_error(reader, "vorlane-run: cannot write the log of reader %d", reader->number);
        run_outcome_post(reader, 0, RUN_FAILED, 0);
    }
    reader->log = 0;
}

/* The end is told under runner.lock, after the last post: once the main
   thread sees every reader ended, it has been handed everything. */
static void run_reader_ended(RunReader *reader) {
    platform_lock_enter(&runner.lock);
    platform_counter_set(&reader->ended, 1);
    platform_signal_wake(&runner.posted);
    platform_lock_leave(&runner.lock);
}

static PlatformThreadResult PLATFORM_THREAD_CALL run_reader_thread(void *arg) {
    RunReader *reader = (RunReader *)arg;

    run_reader_body(reader);
    run_reader_leave(reader);
    run_reader_ended(reader);
    return 0;
}

void run_reader_start(RunReader *reader) {
    reader->joinable = platform_thread_run(&reader->thread, run_reader_thread, reader);
    if (reader->joinable)
        return;
    run_error(reader, "vorlane-run: cannot start a thread for reader %s",
              reader->session.reader_name);
    run_outcome_post(reader, 0, RUN_FAILED, 0);
    run_reader_leave(reader);
    run_reader_ended(reader);
}

int run_reader_running(const RunReader *reader) {
    return reader->used && !platform_counter_read(&reader->ended);
}

int run_readers_running(void) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        if (run_reader_running(&runner.readers[i]))
            return 1;
    }
    return 0;
}

/* Joined, not only ended: a thread still on its way out while the process
   ends can hang or crash it on Windows. */
void run_readers_join(void) {
    for (int i = 0; i < RUN_READERS_MAX; i++)
        run_reader_thread_join(&runner.readers[i]);
}
