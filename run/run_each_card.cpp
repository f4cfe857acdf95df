/*
 * run_each_card.cpp: the card line of vorlane-run (--each-card[=COUNT]). On
 * every chosen reader: wait for a card, run the scripts on it, wait until
 * it is taken out, and start again; cards are numbered K from 1 in the
 * order they came, over all readers. The line stops after COUNT cards, or
 * at an interrupt: the cards in progress are finished, the report written
 * and the worst status returned; a second interrupt ends the process at
 * once.
 *
 * Design: the main thread watches the reader list. A reader that appears
 * and matches joins the run with the next reader number and a thread of
 * its own; a reader that disappears has its thread told to stop (its card
 * in progress fails with the exchange that finds it gone). A service that
 * stops is waited out: contexts are made again, the main thread's and each
 * reader's, and the line goes on. The report is rewritten (temporary file,
 * then rename) after every card, so a crash loses only the cards in
 * progress.
 *
 * Each reader's thread runs run_each_card; the main thread tells it to
 * stop through its atomic gone flag and reads its end through ended.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "card/pcsc.h"
#include "console/pane_print.h"
#include "run/run_report_file.h"
#include "run/run_select.h"

static int run_interrupted(void) {
    return platform_counter_read(&runner.interrupts) > 0;
}

/* 1 once no new card may start: an interrupt, COUNT cards started, the
   data rows run out, or every replay reader's one card taken out. */
static int run_line_stopping(void) {
    if (run_interrupted())
        return 1;
    if (runner.args->replay_count > 0 && !run_replay_cards_left())
        return 1;
    platform_lock_enter(&runner.lock);
    int full = (runner.args->card_limit > 0 && runner.cards_started >= runner.args->card_limit) ||
               runner.rows_out;
    platform_lock_leave(&runner.lock);
    return full;
}

/* The next card's number K and its data row, or 0 when the line takes no
   more cards. */
static int run_line_claim_card(int *row) {
    int card = 0, rows_ended = 0;

    if (run_interrupted())
        return 0;
    platform_lock_enter(&runner.lock);
    if (runner.args->card_limit == 0 || runner.cards_started < runner.args->card_limit) {
        *row = run_row_claim(&rows_ended);
        if (*row != -2)
            card = ++runner.cards_started;
    }
    platform_lock_leave(&runner.lock);
    if (rows_ended)
        run_rows_ended_say();
    return card;
}

/* One card's end: counted, the worst status kept, the report rewritten. */
static void run_line_card_done(RunReader *reader, int status) {
    reader->status = run_worse(reader->status, status);
    platform_lock_enter(&runner.lock);
    if (status == RUN_OK)
        runner.cards_passed++;
    else
        runner.cards_failed++;
    runner.status = run_worse(runner.status, status);
    platform_lock_leave(&runner.lock);
    if (run_report_flush() != 0) {
        run_error(reader, "vorlane-run: cannot write %s", runner.args->junit);
        run_status_add(RUN_FAILED);
    }
}

/* 1 while the reader's thread should go on waiting. */
static int run_line_waiting(const RunReader *reader) {
    return !platform_counter_read(&reader->gone) && !run_line_stopping();
}

/* Waits for the card, or for its removal (want 0). 1 when it came (went);
   0 when the line stops or the reader goes first. */
static int run_line_wait_card(RunReader *reader, int want) {
    while (run_line_waiting(reader)) {
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

/* A card that came: connected, numbered, its scripts run. A card whose ATR
   cannot be read is a card of the line that failed. */
static void run_line_card(RunReader *reader) {
    char why[RUN_WHY_SIZE];
    int atr_failed = 0, row = -1;
    LONG status = run_card_connect(&reader->session, &atr_failed);

    if (status != SCARD_S_SUCCESS && !atr_failed)
        return; /* gone again before it could be used: not a card of the line */
    int card = run_line_claim_card(&row);
    if (card > 0 && atr_failed) {
        run_card_atr_failed(reader, status, why, sizeof why);
        run_reader_card_failed(reader, card, row, why);
        run_line_card_done(reader, RUN_FAILED);
    } else if (card > 0) {
        run_line_card_done(reader, run_reader_scripts(reader, card, row));
    }
    run_card_disconnect(&reader->session);
}

void run_each_card(RunReader *reader) {
    while (run_line_wait_card(reader, 1)) {
        run_line_card(reader);
        if (!run_line_wait_card(reader, 0))
            return;
    }
}

/* The reader taking part under name, or 0. */
static RunReader *run_line_reader_of(const char *name) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        RunReader *reader = &runner.readers[i];
        if (run_reader_running(reader) && strcmp(reader->session.reader_name, name) == 0)
            return reader;
    }
    return 0;
}

/* A slot free for a reader that joins, or 0. */
static RunReader *run_line_free_reader(void) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        if (!run_reader_running(&runner.readers[i]))
            return &runner.readers[i];
    }
    return 0;
}

/* Takes in the chosen readers that do not take part yet; a reader beyond
   the slots is named once, when it is first seen. */
static void run_line_take_in(const char *const *names, const RunSelection *selection, int *warned) {
    for (int i = 0; i < selection->chosen_count; i++) {
        const char *name = names[selection->chosen[i]];
        if (run_line_reader_of(name))
            continue;
        RunReader *reader = run_line_free_reader();
        if (!reader) {
            if (!*warned)
                run_error(0, "vorlane-run: more than %d readers; left out: %s", RUN_READERS_MAX,
                          name);
            *warned = 1;
            continue;
        }
        if (run_reader_join(reader, name))
            run_reader_start(reader, run_each_card);
    }
}

/* Tells the threads of readers no longer listed to stop. */
static void run_line_mark_gone(const char *const *names, int count) {
    for (int slot = 0; slot < RUN_READERS_MAX; slot++) {
        RunReader *reader = &runner.readers[slot];
        if (!run_reader_running(reader))
            continue;
        int listed = 0;
        for (int i = 0; i < count && !listed; i++)
            listed = strcmp(names[i], reader->session.reader_name) == 0;
        if (!listed)
            platform_counter_set(&reader->gone, 1);
    }
}

static int run_line_threads_running(void) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        if (run_reader_running(&runner.readers[i]))
            return 1;
    }
    return 0;
}

/* The main thread's loop: readers in and out, until the line stops and
   every reader's thread has ended. */
static void run_line_watch(void) {
    SCARDCONTEXT context = 0;
    char list[READER_NAMES_SIZE];
    const char *names[READER_LIST_MAX];
    RunSelection selection;
    LONG service = 0;
    int warned = 0;

    while (!run_line_stopping() || run_line_threads_running()) {
        int count = run_list_readers(&context, list, names, &service);
        if (count >= 0 && !run_line_stopping()) {
            run_select(runner.args, names, count, &selection);
            run_line_take_in(names, &selection, &warned);
        }
        if (count >= 0)
            run_line_mark_gone(names, count);
        platform_sleep_ms(RUN_WATCH_MS);
    }
    if (context)
        runner.pcsc->release(context);
}

int run_card_line(void) {
    runner.prefixed = 1;
    platform_interrupts_catch(&runner.interrupts, RUN_FAILED);
    run_line_watch();
    run_readers_wait();
    platform_lock_enter(&runner.lock);
    int passed = runner.cards_passed, failed = runner.cards_failed;
    int status = runner.status;
    platform_lock_leave(&runner.lock);
    char summary[64];
    int length =
        snprintf(summary, sizeof summary, "Cards: %d passed, %d failed\r\n", passed, failed);
    platform_lock_enter(&app.pane_stream_lock);
    stream_write(runner.out, summary, (size_t)length);
    stream_flush(runner.out);
    platform_lock_leave(&app.pane_stream_lock);
    return status;
}
