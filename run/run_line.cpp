/*
 * run_line.cpp: the card line of vorlane-run (--each-card[=COUNT]). On
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
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "card/pcsc.h"
#include "card/scard_name.h"
#include "console/pane_print.h"
#include "run/run_select.h"

/* 1 once no new card may start: an interrupt, COUNT cards started, or
   the data rows run out. */
static int run_line_stopping(void) {
    if (app.run_interrupts > 0)
        return 1;
    platform_lock_enter(&app.run_lock);
    int full =
        (app.run_args->card_limit > 0 && app.run_cards_started >= app.run_args->card_limit) ||
        app.run_rows_out;
    platform_lock_leave(&app.run_lock);
    return full;
}

/* The next card's number K and its data row, or 0 when the line takes no
   more cards. */
static int run_line_claim_card(int *row) {
    int card = 0;

    if (app.run_interrupts > 0)
        return 0;
    platform_lock_enter(&app.run_lock);
    if (app.run_args->card_limit == 0 || app.run_cards_started < app.run_args->card_limit) {
        *row = run_row_claim();
        if (*row != -2)
            card = ++app.run_cards_started;
    }
    platform_lock_leave(&app.run_lock);
    return card;
}

/* One card's end: counted, the worst status kept, the report rewritten. */
static void run_line_card_done(int slot, int status) {
    app.run_readers[slot].status = run_worse(app.run_readers[slot].status, status);
    platform_lock_enter(&app.run_lock);
    if (status == RUN_OK)
        app.run_cards_passed++;
    else
        app.run_cards_failed++;
    app.run_status = run_worse(app.run_status, status);
    platform_lock_leave(&app.run_lock);
    if (run_report_flush() != 0) {
        run_error(slot, "vorlane-run: cannot write %s", app.run_args->junit);
        platform_lock_enter(&app.run_lock);
        app.run_status = RUN_FAILED;
        platform_lock_leave(&app.run_lock);
    }
}

/* 1 while the reader's thread should go on waiting. */
static int run_line_waiting(int slot) {
    return !app.run_readers[slot].gone && !run_line_stopping();
}

/* Waits for the card, or for its removal (want 0). 1 when it came (went);
   0 when the line stops or the reader goes first. */
static int run_line_wait_card(int slot, int want) {
    CardSession *session = &app.run_sessions[slot];

    while (run_line_waiting(slot)) {
        int seen = run_card_wait(session, want, RUN_SLICE_MS);
        if (seen == RUN_READER_GONE)
            return 0;
        if (seen == RUN_NO_SERVICE)
            platform_sleep_ms(RUN_SLICE_MS); /* a new context at the next try */
        else if (seen == (want ? RUN_CARD_PRESENT : RUN_CARD_ABSENT))
            return 1;
    }
    return 0;
}

/* A card that came: connected, numbered, its scripts run. */
static void run_line_card(int slot) {
    CardSession *session = &app.run_sessions[slot];
    LONG status = run_card_connect(session);

    if (status != SCARD_S_SUCCESS)
        return; /* gone again before it could be used: not a card of the line */
    int row = -1;
    int card = run_line_claim_card(&row);
    if (card > 0)
        run_line_card_done(slot, run_reader_scripts(slot, card, row));
    run_card_disconnect(session);
}

void run_line_reader(int slot) {
    while (run_line_wait_card(slot, 1)) {
        run_line_card(slot);
        if (!run_line_wait_card(slot, 0))
            return;
    }
}

/* The slot of a reader taking part under name, or -1. */
static int run_line_slot_of(const char *name) {
    for (int i = 0; i < RUN_SESSIONS_MAX; i++) {
        if (app.run_readers[i].used && !app.run_readers[i].ended &&
            strcmp(app.run_sessions[i].reader_names, name) == 0)
            return i;
    }
    return -1;
}

/* A slot free for a reader that joins, or -1. */
static int run_line_free_slot(void) {
    for (int i = 0; i < RUN_SESSIONS_MAX; i++) {
        if (!app.run_readers[i].used || app.run_readers[i].ended)
            return i;
    }
    return -1;
}

/* Takes in the chosen readers that do not take part yet; a reader beyond
   the sessions is named once, when it is first seen. */
static void run_line_take_in(const char *const *names, const RunSelection *selection, int *warned) {
    for (int i = 0; i < selection->chosen_count; i++) {
        const char *name = names[selection->chosen[i]];
        if (run_line_slot_of(name) >= 0)
            continue;
        int slot = run_line_free_slot();
        if (slot < 0) {
            if (!*warned)
                run_error(-1, "vorlane-run: more than %d readers; left out: %s", RUN_SESSIONS_MAX,
                          name);
            *warned = 1;
            continue;
        }
        if (run_reader_join(slot, name))
            run_reader_start(slot, 1);
    }
}

/* Tells the threads of readers no longer listed to stop. */
static void run_line_mark_gone(const char *const *names, int count) {
    for (int slot = 0; slot < RUN_SESSIONS_MAX; slot++) {
        if (!app.run_readers[slot].used || app.run_readers[slot].ended)
            continue;
        int listed = 0;
        for (int i = 0; i < count && !listed; i++)
            listed = strcmp(names[i], app.run_sessions[slot].reader_names) == 0;
        if (!listed)
            app.run_readers[slot].gone = 1;
    }
}

static int run_line_threads_running(void) {
    for (int i = 0; i < RUN_SESSIONS_MAX; i++) {
        if (app.run_readers[i].used && !app.run_readers[i].ended)
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
            run_select(app.run_args, names, count, &selection);
            run_line_take_in(names, &selection, &warned);
        }
        if (count >= 0)
            run_line_mark_gone(names, count);
        platform_sleep_ms(RUN_SLICE_MS / 5);
    }
    if (context)
        pcsc_release(context);
}

int run_card_line(void) {
    app.run_prefixed = 1;
    platform_interrupts_catch(&app.run_interrupts, RUN_FAILED);
    run_line_watch();
    run_readers_wait();
    platform_lock_enter(&app.run_lock);
    int passed = app.run_cards_passed, failed = app.run_cards_failed;
    int status = app.run_status;
    platform_lock_leave(&app.run_lock);
    char summary[64];
    int length =
        snprintf(summary, sizeof summary, "Cards: %d passed, %d failed\r\n", passed, failed);
    platform_lock_enter(&app.pane_stream_lock);
    stream_write(app.run_out, summary, (size_t)length);
    stream_flush(app.run_out);
    platform_lock_leave(&app.pane_stream_lock);
    return status;
}
