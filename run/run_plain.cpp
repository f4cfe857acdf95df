/*
 * run_plain.cpp: the plain run of vorlane-run: choose the readers, wait
 * for their cards as long as -w allows, then run the scripts on every
 * chosen reader's card at once, each reader on its own thread
 * (run_reader_once).
 *
 * Which readers wait for what: without -r and --all, the first reader that
 * holds a card is taken; -r words want every reader they name to hold a
 * card (a reader still empty when the wait is over fails, the others run);
 * --all takes the readers that hold a card once the wait is over (the wait
 * ends early when every reader holds one). A service that is not there
 * counts as no reader yet while the wait lasts.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "card/pcsc.h"
#include "card/scard_name.h"
#include "run/run_report_file.h"
#include "run/run_select.h"

/* What the main thread looks at while it waits */
struct RunChoice {
    SCARDCONTEXT context;
    LONG service;                 /* the status of a missing service, or 0 */
    char list[READER_NAMES_SIZE]; /* the reader list */
    const char *names[READER_LIST_MAX];
    int count; /* readers listed; -1: no service */
    RunSelection selection;
    int present[READER_LIST_MAX]; /* chosen[i] holds a card */
    const char *chosen_names[READER_LIST_MAX];
};

static void run_choice_look(RunChoice *choice) {
    RunSelection *selection = &choice->selection;

    choice->count =
        run_list_readers(&choice->context, choice->list, choice->names, &choice->service);
    if (choice->count < 0) {
        memset(selection, 0, sizeof *selection);
        return;
    }
    run_select(runner.args, choice->names, choice->count, selection);
    for (int i = 0; i < selection->chosen_count; i++)
        choice->chosen_names[i] = choice->names[selection->chosen[i]];
    run_cards_present(choice->context, choice->chosen_names, selection->chosen_count,
                      choice->present);
}

/* 1 when waiting longer would change nothing. */
static int run_choice_done(const RunChoice *choice) {
    const RunArgs *args = runner.args;
    const RunSelection *selection = &choice->selection;
    int with_card = 0;

    for (int i = 0; i < selection->chosen_count; i++)
        with_card += choice->present[i];
    if (args->reader_count == 0 && !args->all)
        return with_card > 0;
    return selection->chosen_count > 0 && with_card == selection->chosen_count &&
           selection->unmatched_count == 0;
}

static void run_choice_wait(RunChoice *choice) {
    unsigned start = platform_tick_ms();
    unsigned limit = (unsigned)runner.args->wait_seconds * 1000u;

    for (;;) {
        run_choice_look(choice);
        if (run_choice_done(choice))
            return;
        unsigned spent = platform_tick_ms() - start;
        if (spent >= limit)
            return;
        unsigned left = limit - spent;
        unsigned slice = left < (unsigned)RUN_SLICE_MS ? left : (unsigned)RUN_SLICE_MS;
        if (choice->count < 0)
            platform_sleep_ms(slice);
        else
            run_wait_change(choice->context, choice->chosen_names, choice->selection.chosen_count,
                            slice);
    }
}

/* How a reader that is not run is named: by the -r word when that word
   named it alone, else by its name. */
static const char *run_choice_label(const RunChoice *choice, int i) {
    int word = choice->selection.chosen_word[i];

    if (word >= 0 && choice->selection.word_matches[word] == 1)
        return runner.args->readers[word];
    return choice->chosen_names[i];
}

/* The messages of readers that were asked for and cannot run; 1 when
   there was one. */
static int run_choice_missing(const RunChoice *choice) {
    const RunSelection *selection = &choice->selection;
    int missing = 0;

    for (int i = 0; i < selection->unmatched_count; i++, missing = 1)
        run_error(0, "vorlane-run: no reader %s", selection->unmatched[i]);
    if (runner.args->reader_count == 0)
        return missing;
    for (int i = 0; i < selection->chosen_count; i++) {
        if (!choice->present[i] && selection->chosen_word[i] >= 0) {
            run_error(0, "vorlane-run: no card in reader %s", run_choice_label(choice, i));
            missing = 1;
        }
    }
    return missing;
}

/* Without a chosen reader that holds a card: the reason, as one line. */
static void run_choice_none(const RunChoice *choice) {
    if (choice->count < 0)
        run_error(0, "vorlane-run: no PC/SC service (error %8.8X)", (unsigned)choice->service);
    else if (choice->selection.unmatched_count > 0 || runner.args->reader_count > 0)
        return; /* said by run_choice_missing */
    else if (choice->count == 0 || choice->selection.chosen_count == 0)
        run_error(0, "vorlane-run: no reader");
    else
        run_error(0, "vorlane-run: no card in any reader");
}

/* Joins the chosen readers that hold a card (the first only, without -r
   and --all), at most RUN_READERS_MAX, and starts their threads; a warning
   names those left out. Returns how many joined. */
static int run_choice_join(const RunChoice *choice) {
    const RunArgs *args = runner.args;
    char left_out[RUN_LEFT_OUT_SIZE] = "";
    int joined = 0;

    for (int i = 0; i < choice->selection.chosen_count; i++) {
        if (!choice->present[i])
            continue;
        if (joined == RUN_READERS_MAX) {
            size_t used = strlen(left_out);
            snprintf(left_out + used, sizeof left_out - used, "%s%s", used ? ", " : "",
                     choice->chosen_names[i]);
            continue;
        }
        int rows_ended = 0;
        platform_lock_enter(&runner.lock);
        int row = run_row_claim(&rows_ended);
        platform_lock_leave(&runner.lock);
        if (rows_ended)
            run_rows_ended_say();
        if (row == -2)
            break; /* each card takes a row: none is left */
        RunReader *reader = &runner.readers[joined];
        if (run_reader_join(reader, choice->chosen_names[i])) {
            reader->row = row;
            run_reader_start(reader, run_reader_once);
        }
        joined++;
        if (args->reader_count == 0 && !args->all)
            break;
    }
    if (left_out[0])
        run_error(0, "vorlane-run: more than %d readers; left out: %s", RUN_READERS_MAX, left_out);
    return joined;
}

/* The reader's outcome counted into its own and the run's worst. */
static void run_reader_outcome(RunReader *reader, int status) {
    reader->status = run_worse(reader->status, status);
    run_status_add(status);
}

void run_reader_once(RunReader *reader) {
    CardSession *session = &reader->session;
    char why[RUN_WHY_SIZE];
    int atr_failed = 0;
    LONG status = run_card_connect(session, &atr_failed);

    if (status != SCARD_S_SUCCESS) {
        if (atr_failed) {
            run_card_atr_failed(reader, status, why, sizeof why);
            run_reader_card_failed(reader, 0, reader->row, why);
        } else {
            run_error(reader, "vorlane-run: no card in reader %s (0x%08lX %s)",
                      session->reader_name, (unsigned long)status,
                      scard_name((unsigned long)status));
        }
        run_reader_outcome(reader, RUN_FAILED);
        return;
    }
    if (runner.args->atr) {
        run_atr_print(session->reader_pane, session->card_atr, session->card_atr_len);
        run_reader_outcome(reader, RUN_OK);
        return;
    }
    run_reader_outcome(reader, run_reader_scripts(reader, 0, reader->row));
}

int run_plain(void) {
    RunChoice choice;
    int status = RUN_OK;

    memset(&choice, 0, sizeof choice);
    run_choice_wait(&choice);
    runner.prefixed = choice.selection.several;
    if (run_choice_missing(&choice))
        status = RUN_FAILED;
    int joined = choice.count < 0 ? 0 : run_choice_join(&choice);
    if (joined == 0) {
        run_choice_none(&choice);
        run_report_not_run("not run: no card");
        status = RUN_FAILED;
    }
    run_readers_wait();
    if (choice.context)
        runner.pcsc->release(choice.context);
    platform_lock_enter(&runner.lock);
    status = run_worse(status, runner.status);
    platform_lock_leave(&runner.lock);
    return status;
}
