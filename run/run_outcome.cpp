/*
 * run_outcome.cpp: what the readers' threads of vorlane-run post for the
 * main thread, and what only the main thread does with it: it numbers the
 * cards of --each-card and hands out their data rows, folds each
 * outcome into the exit status and the card counts, and owns the report
 * (its suites, and the file rewritten after each card of --each-card).
 *
 * Design: posts wait in a queue under runner.lock, in the order they came,
 * as Redis's event loop hands each client's work back to one place. A
 * reader that asks for its card's number waits for the answer; an outcome
 * is posted and the reader goes on. Nothing is printed or written under
 * the lock: the main thread takes the posts off the queue first. A post
 * carries its reader's number, since an --each-card slot may be taken
 * by another reader before its posts are taken.
 */
#include "run/run.h"

#include <string.h>

#include "card/card_connect.h"
#include "console/pane_print.h"
#include "run/run_report_file.h"

/* Under runner.lock: the post joins the queue (waiting while it is full,
   which the queue's room makes rare). */
static void run_post_put(const RunPost *post) {
    while (runner.post_count == RUN_POSTS_MAX)
        platform_signal_wait(&runner.answered, &runner.lock, RUN_SLICE_MS);
    runner.posts[(runner.post_first + runner.post_count) % RUN_POSTS_MAX] = *post;
    runner.post_count++;
    platform_signal_wake(&runner.posted);
}

static RunPost run_post_of(const RunReader *reader, int kind, int card, int status) {
    RunPost post;

    memset(&post, 0, sizeof post);
    post.kind = kind;
    post.slot = (int)(reader - runner.readers);
    post.number = reader->number;
    post.card = card;
    post.status = status;
    return post;
}

void run_outcome_post(const RunReader *reader, int card, int status, TextBuffer *suites) {
    RunPost post = run_post_of(reader, RUN_POST_OUTCOME, card, status);

    if (suites) {
        post.suites = *suites;
        memset(suites, 0, sizeof *suites);
    }
    platform_lock_enter(&runner.lock);
    run_post_put(&post);
    platform_lock_leave(&runner.lock);
}

/* A plain run's reader was answered before its start; a reader of the
   run with --each-card asks for each card. */
int run_card_claim(RunReader *reader, RunCard *card) {
    platform_lock_enter(&runner.lock);
    if (!reader->answered) {
        RunPost post = run_post_of(reader, RUN_POST_CARD, 0, RUN_OK);
        run_post_put(&post);
        while (!reader->answered)
            platform_signal_wait(&runner.answered, &runner.lock, RUN_SLICE_MS);
    }
    reader->answered = 0;
    card->number = reader->grant_card;
    card->row = reader->grant_row;
    platform_lock_leave(&runner.lock);
    return card->number >= 0;
}

/* Main thread: the next data row for a card (from 0); -1 without --data;
   -2 once the rows have run out, said on standard output the first time. */
int run_row_next(void) {
    if (!runner.args->data)
        return -1;
    if (runner.rows_taken < runner.data.rows)
        return runner.rows_taken++;
    if (!runner.rows_out) {
        runner.rows_out = 1;
        platform_lock_enter(&runner.streams.pane_stream_lock);
        stream_write(runner.out, "No more data rows\r\n", 19);
        platform_lock_leave(&runner.streams.pane_stream_lock);
    }
    return -2;
}

/* A card came (--each-card): its number K and its row, or -1 when the
   run takes no more cards (an interrupt, COUNT cards, the rows run out). */
static void run_card_grant(const RunPost *post) {
    RunReader *reader = &runner.readers[post->slot];
    int limit = runner.args->card_limit, card = -1, row = -1;

    if (platform_counter_read(&runner.interrupts) == 0 &&
        (limit == 0 || runner.cards_started < limit)) {
        row = run_row_next();
        if (row != -2)
            card = ++runner.cards_started;
    }
    platform_lock_enter(&runner.lock);
    reader->grant_card = card;
    reader->grant_row = row;
    reader->answered = 1;
    platform_signal_wake(&runner.answered);
    platform_lock_leave(&runner.lock);
}

/* An outcome into the status and the report; an --each-card card counted,
   and the report rewritten, so that a crash loses only the cards in
   progress. */
static void run_outcome_fold(RunPost *post) {
    runner.status = run_worse(runner.status, post->status);
    if (post->suites.used > 0)
        text_buffer_add(&runner.suites, post->suites.text, post->suites.used);
    runner.suites.lost |= post->suites.lost;
    text_buffer_free(&post->suites);
    if (post->card <= 0)
        return;
    if (post->status == RUN_OK)
        runner.cards_passed++;
    else
        runner.cards_failed++;
    if (run_report_flush() != 0) {
        run_error_numbered(post->number, "vorlane-run: cannot write %s", runner.args->junit);
        runner.status = RUN_FAILED;
    }
}

/* Whether a thread still runs is looked at under the lock, where a
   reader tells its end: an end told after the look wakes the wait. */
void run_posts_wait(unsigned ms, int steady) {
    platform_lock_enter(&runner.lock);
    if (runner.post_count == 0 && (steady || run_readers_running()))
        platform_signal_wait(&runner.posted, &runner.lock, ms);
    platform_lock_leave(&runner.lock);
}

void run_posts_take(void) {
    RunPost post;

    for (;;) {
        platform_lock_enter(&runner.lock);
        int taken = runner.post_count > 0;
        if (taken) {
            post = runner.posts[runner.post_first];
            runner.post_first = (runner.post_first + 1) % RUN_POSTS_MAX;
            runner.post_count--;
            platform_signal_wake(&runner.answered); /* room in the queue */
        }
        platform_lock_leave(&runner.lock);
        if (!taken)
            return;
        if (post.kind == RUN_POST_CARD)
            run_card_grant(&post);
        else
            run_outcome_fold(&post);
    }
}

int run_each_card_stopping(const CardSession *source) {
    const RunArgs *args = runner.args;

    if (platform_counter_read(&runner.stopping))
        return 1;
    if (platform_counter_read(&runner.interrupts) > 0 ||
        (args->card_limit > 0 && runner.cards_started >= args->card_limit) || runner.rows_out ||
        card_cards_left(source) == 0)
        platform_counter_set(&runner.stopping, 1);
    return platform_counter_read(&runner.stopping) != 0;
}
