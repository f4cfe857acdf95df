/*
 * run_source.cpp: the readers a run of vorlane-run takes, on the main
 * thread, and the main thread's loop while they run.
 *
 * One source for both modes: the reader list, read on a session of the
 * main thread's own (its context made and renewed through the connection
 * layer, with the run's provider), and run/run_select.cpp's choice in it.
 * A plain run takes a fixed set: without -r and --all, the first reader
 * that holds a card; -r words want every reader they name to hold a card
 * (a reader still empty when the wait is over fails, the others run);
 * --all takes the readers that hold a card once the wait is over (the wait
 * ends early when every reader holds one). A service that is not there
 * counts as no reader yet while the wait lasts. An --each-card run takes readers
 * as they appear and match, and tells those that leave the list to stop;
 * a service that stops is waited out with new contexts, the main thread's
 * and each reader's.
 *
 * While the readers run, the main thread takes their posts
 * (run/run_outcome.cpp) and, with --each-card, looks at the list and the
 * line's stop rule every RUN_WATCH_MS.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "card/card_connect.h"
#include "console/pane_print.h"
#include "run/run_report_file.h"
#include "run/run_select.h"

static const char run_pnp_name[] = "\\\\?PnP?\\Notification";

/* What the main thread looks at */
struct RunSource {
    CardSession session;          /* the list's context, with the run's provider */
    LONG service;                 /* the status of a missing service, or 0 */
    char list[READER_NAMES_SIZE]; /* the reader list */
    const char *names[READER_LIST_MAX];
    int count; /* readers listed; -1: no service */
    RunSelection selection;
    int present[READER_LIST_MAX]; /* chosen[i] holds a card */
    const char *chosen_names[READER_LIST_MAX];
    int warned; /* --each-card named a reader beyond the slots */
};

static void run_source_open(RunSource *source) {
    memset(source, 0, sizeof *source);
    card_session_init(&source->session, PANE_NONE, PANE_NONE);
    source->session.pcsc = runner.pcsc;
}

/* The reader list on the source's context (made or renewed as needed): the
   count, 0 with no reader, -1 with no service (source->service then holds
   the status). */
static int run_source_list(RunSource *source) {
    CardSession *session = &source->session;
    LONG status = SCARD_S_SUCCESS;

    source->count = -1;
    if (session->card_state == CARD_NO_CONTEXT &&
        (status = card_context_open(session, app.sc_scope)) != SCARD_S_SUCCESS) {
        source->service = status;
        return -1;
    }
    status = card_list_readers(session, source->list, sizeof source->list);
    if (status == SCARD_S_SUCCESS)
        source->count =
            reader_names_split(source->list, sizeof source->list, source->names, READER_LIST_MAX);
    else if (pcsc_status_meaning(status) != PCSC_SERVICE_GONE)
        source->count = 0;
    else {
        card_context_close(session);
        source->service = status;
    }
    return source->count;
}

/* Which of the chosen readers hold a card now. */
static void run_source_present(RunSource *source) {
    enum { BATCH = 64 };
    SCARD_READERSTATEA states[BATCH];
    int count = source->selection.chosen_count;

    for (int first = 0; first < count; first += BATCH) {
        int n = count - first < BATCH ? count - first : BATCH;
        memset(states, 0, sizeof states);
        for (int i = 0; i < n; i++)
            states[i].szReader = source->chosen_names[first + i];
        LONG status = card_status_change(&source->session, 0, states, (DWORD)n);
        for (int i = 0; i < n; i++)
            source->present[first + i] =
                status == SCARD_S_SUCCESS && (states[i].dwEventState & SCARD_STATE_PRESENT) != 0;
    }
}

/* Waits up to ms for any change among the chosen readers (or the list). */
static void run_source_wait_change(RunSource *source, unsigned ms) {
    enum { WATCHED = 64 };
    SCARD_READERSTATEA states[WATCHED + 1];
    int count = source->selection.chosen_count, n = count < WATCHED ? count : WATCHED;

    memset(states, 0, sizeof states);
    for (int i = 0; i < n; i++)
        states[i].szReader = source->chosen_names[i];
    states[n].szReader = run_pnp_name; /* readers plugged in or out */
    if (!source->session.sc_context ||
        card_status_change(&source->session, 0, states, (DWORD)n + 1) != SCARD_S_SUCCESS) {
        platform_sleep_ms(ms);
        return;
    }
    for (int i = 0; i <= n; i++)
        states[i].dwCurrentState = states[i].dwEventState & ~SCARD_STATE_CHANGED;
    LONG status = card_status_change(&source->session, ms, states, (DWORD)n + 1);
    if (status != SCARD_S_SUCCESS && status != SCARD_E_TIMEOUT)
        platform_sleep_ms(ms < RUN_ERROR_PAUSE_MS ? ms : (unsigned)RUN_ERROR_PAUSE_MS);
}

int run_list(void) {
    RunSource source;

    run_source_open(&source);
    int count = run_source_list(&source);
    card_context_close(&source.session);
    if (count < 0)
        run_error(0, "vorlane-run: no PC/SC service (error %8.8X)", (unsigned)source.service);
    else if (count == 0)
        run_error(0, "vorlane-run: no reader");
    for (int i = 0; i < count; i++)
        fprintf(runner.out, "%d: %s\r\n", i, source.names[i]);
    return count > 0 ? RUN_OK : RUN_FAILED;
}

/* --- A plain run: a fixed set of readers --- */

static void run_choice_look(RunSource *source) {
    RunSelection *selection = &source->selection;

    if (run_source_list(source) < 0) {
        memset(selection, 0, sizeof *selection);
        return;
    }
    run_select(runner.args, source->names, source->count, selection);
    for (int i = 0; i < selection->chosen_count; i++)
        source->chosen_names[i] = source->names[selection->chosen[i]];
    run_source_present(source);
}

/* 1 when waiting longer would change nothing. */
static int run_choice_done(const RunSource *source) {
    const RunArgs *args = runner.args;
    const RunSelection *selection = &source->selection;
    int with_card = 0;

    for (int i = 0; i < selection->chosen_count; i++)
        with_card += source->present[i];
    if (args->reader_count == 0 && !args->all)
        return with_card > 0;
    return selection->chosen_count > 0 && with_card == selection->chosen_count &&
           selection->unmatched_count == 0;
}

static void run_choice_wait(RunSource *source) {
    unsigned start = platform_tick_ms();
    unsigned limit = (unsigned)runner.args->wait_seconds * 1000u;

    for (;;) {
        run_choice_look(source);
        if (run_choice_done(source))
            return;
        unsigned spent = platform_tick_ms() - start;
        if (spent >= limit)
            return;
        unsigned left = limit - spent;
        unsigned slice = left < (unsigned)RUN_SLICE_MS ? left : (unsigned)RUN_SLICE_MS;
        if (source->count < 0)
            platform_sleep_ms(slice);
        else
            run_source_wait_change(source, slice);
    }
}

/* How a reader that is not run is named: by the -r word when that word
   named it alone, else by its name. */
static const char *run_choice_label(const RunSource *source, int i) {
    int word = source->selection.chosen_word[i];

    if (word >= 0 && source->selection.word_matches[word] == 1)
        return runner.args->readers[word];
    return source->chosen_names[i];
}

/* The messages of readers that were asked for and cannot run; 1 when
   there was one. */
static int run_choice_missing(const RunSource *source) {
    const RunSelection *selection = &source->selection;
    int missing = 0;

    for (int i = 0; i < selection->unmatched_count; i++, missing = 1)
        run_error(0, "vorlane-run: no reader %s", selection->unmatched[i]);
    if (runner.args->reader_count == 0)
        return missing;
    for (int i = 0; i < selection->chosen_count; i++) {
        if (!source->present[i] && selection->chosen_word[i] >= 0) {
            run_error(0, "vorlane-run: no card in reader %s", run_choice_label(source, i));
            missing = 1;
        }
    }
    return missing;
}

/* Without a chosen reader that holds a card: the reason, as one line. */
static void run_choice_none(const RunSource *source) {
    if (source->count < 0)
        run_error(0, "vorlane-run: no PC/SC service (error %8.8X)", (unsigned)source->service);
    else if (source->selection.unmatched_count > 0 || runner.args->reader_count > 0)
        return; /* said by run_choice_missing */
    else if (source->count == 0 || source->selection.chosen_count == 0)
        run_error(0, "vorlane-run: no reader");
    else
        run_error(0, "vorlane-run: no card in any reader");
}

/* The reader named name joins with its data row, answered before its
   thread starts (a plain run's card needs no number). */
static void run_choice_start(RunReader *reader, const char *name, int row) {
    if (!run_reader_join(reader, name))
        return;
    reader->answered = 1;
    reader->grant_card = 0;
    reader->grant_row = row;
    run_reader_start(reader);
}

/* Joins the chosen readers that hold a card (the first only, without -r
   and --all), at most RUN_READERS_MAX, and starts their threads; a warning
   names those left out. Returns how many joined. */
static int run_choice_join(const RunSource *source) {
    const RunArgs *args = runner.args;
    char left_out[RUN_LEFT_OUT_SIZE] = "";
    int joined = 0;

    for (int i = 0; i < source->selection.chosen_count; i++) {
        if (!source->present[i])
            continue;
        if (joined == RUN_READERS_MAX) {
            size_t used = strlen(left_out);
            snprintf(left_out + used, sizeof left_out - used, "%s%s", used ? ", " : "",
                     source->chosen_names[i]);
            continue;
        }
        int row = run_row_next();
        if (row == -2)
            break; /* each card takes a row: none is left */
        run_choice_start(&runner.readers[joined++], source->chosen_names[i], row);
        if (args->reader_count == 0 && !args->all)
            break;
    }
    if (left_out[0])
        run_error(0, "vorlane-run: more than %d readers; left out: %s", RUN_READERS_MAX, left_out);
    return joined;
}

/* The plain run's readers chosen (waiting with -w) and started; RUN_FAILED
   when one asked for cannot run or none can. */
static int run_plain_begin(RunSource *source) {
    int status = RUN_OK;

    run_choice_wait(source);
    runner.prefixed = source->selection.several;
    if (run_choice_missing(source))
        status = RUN_FAILED;
    int joined = source->count < 0 ? 0 : run_choice_join(source);
    if (joined == 0) {
        run_choice_none(source);
        run_report_not_run("not run: no card");
        status = RUN_FAILED;
    }
    return status;
}

/* --- --each-card: readers joining and leaving --- */

/* The reader taking part under name, or 0. */
static RunReader *run_each_card_reader_of(const char *name) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        RunReader *reader = &runner.readers[i];
        if (run_reader_running(reader) && strcmp(reader->session.reader_name, name) == 0)
            return reader;
    }
    return 0;
}

/* A slot free for a reader that joins, or 0. */
static RunReader *run_each_card_free_slot(void) {
    for (int i = 0; i < RUN_READERS_MAX; i++) {
        if (!run_reader_running(&runner.readers[i]))
            return &runner.readers[i];
    }
    return 0;
}

/* Takes in the chosen readers that do not take part yet; a reader beyond
   the slots is named once, when it is first seen. */
static void run_each_card_take_in(RunSource *source) {
    const RunSelection *selection = &source->selection;

    for (int i = 0; i < selection->chosen_count; i++) {
        const char *name = source->names[selection->chosen[i]];
        if (run_each_card_reader_of(name))
            continue;
        RunReader *reader = run_each_card_free_slot();
        if (!reader) {
            if (!source->warned)
                run_error(0, "vorlane-run: more than %d readers; left out: %s", RUN_READERS_MAX,
                          name);
            source->warned = 1;
            continue;
        }
        if (run_reader_join(reader, name))
            run_reader_start(reader);
    }
}

/* Tells the threads of readers no longer listed to stop. */
static void run_each_card_mark_gone(const RunSource *source) {
    for (int slot = 0; slot < RUN_READERS_MAX; slot++) {
        RunReader *reader = &runner.readers[slot];
        if (!run_reader_running(reader))
            continue;
        int listed = 0;
        for (int i = 0; i < source->count && !listed; i++)
            listed = strcmp(source->names[i], reader->session.reader_name) == 0;
        if (!listed)
            platform_counter_set(&reader->gone, 1);
    }
}

/* One look at the list: readers in and out. */
static void run_each_card_look(RunSource *source) {
    if (run_source_list(source) < 0)
        return;
    if (!run_each_card_stopping(&source->session)) {
        run_select(runner.args, source->names, source->count, &source->selection);
        run_each_card_take_in(source);
    }
    run_each_card_mark_gone(source);
}

/* "Cards: P passed, F failed" once --each-card has ended. */
static void run_each_card_summary(void) {
    char summary[64];
    int length = snprintf(summary, sizeof summary, "Cards: %d passed, %d failed\r\n",
                          runner.cards_passed, runner.cards_failed);

    platform_lock_enter(&runner.streams.pane_stream_lock);
    stream_write(runner.out, summary, (size_t)length);
    stream_flush(runner.out);
    platform_lock_leave(&runner.streams.pane_stream_lock);
}

/* --- Both modes --- */

/* The main thread while the readers run: their posts taken and, with
   --each-card, the list looked at, until every thread has ended (and
   no card may start any more). */
static void run_cards_follow(RunSource *source) {
    int each_card = runner.args->each_card;
    unsigned looked = 0;

    for (int first = 1;; first = 0) {
        run_posts_take();
        if (each_card && (first || platform_tick_ms() - looked >= RUN_WATCH_MS)) {
            run_each_card_look(source);
            looked = platform_tick_ms();
        }
        if (!run_readers_running() && (!each_card || run_each_card_stopping(&source->session)))
            return;
        run_posts_wait(RUN_WATCH_MS, each_card);
    }
}

int run_cards(void) {
    RunSource source;
    int status = RUN_OK;

    run_source_open(&source);
    if (runner.args->each_card) {
        runner.prefixed = 1;
        platform_interrupts_catch(&runner.interrupts, RUN_FAILED);
    } else {
        status = run_plain_begin(&source);
    }
    run_cards_follow(&source);
    run_readers_join();
    run_posts_take();
    card_context_close(&source.session);
    if (runner.args->each_card)
        run_each_card_summary();
    return run_worse(status, runner.status);
}
