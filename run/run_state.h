/*
 * run_state.h: RunState, the record of one run of vorlane-run, held by the
 * runner's program alone (the GUI has none): the command line and the
 * standard streams, the values every card starts with, the readers taking
 * part (each RunReader holding its card session), what the readers' threads
 * post for the main thread, what the main thread alone folds from it (the
 * exit status, the card counts, the report's suites, the data rows handed
 * out), and the panes' streams with their writer.
 *
 * Threads: the main thread fills the record before any reader's thread
 * starts and reads a reader's slot after its thread has ended; a reader's
 * thread owns its slot's session meanwhile, and keeps each card's own data
 * on its own stack (run/run.h). Fields that two threads touch say how:
 * under runner.lock (its place among the program's locks is
 * app/app_state.h's), or atomic (PlatformCounter, changed and read only
 * through its functions).
 */
#ifndef VORLANE_RUN_STATE_H
#define VORLANE_RUN_STATE_H

#include <stddef.h>
#include <stdio.h>

#include "app/app_state.h"
#include "card/card_session.h"
#include "console/pane_streams.h" /* PaneStreams, the panes without a window */
#include "run/run_args.h"
#include "run/run_data.h"   /* RunData, the rows of --data */
#include "run/run_report.h" /* TextBuffer, the report's suites */
#include "script/script_values.h"

enum {
    RUN_HOST_SIZE = 256, /* the host name of the report */
    /* readers the runner drives at once: each prints to a pane of its own,
       PANE_RUN_FIRST + its slot */
    PANE_RUN_FIRST = PANE_STREAM_FIRST,
    RUN_READERS_MAX = PANE_STREAM_COUNT - PANE_STREAM_FIRST,
    /* posts waiting for the main thread: a reader has at most two at a
       time (a card's outcome, then its next card's request or its end),
       and a slot taken again may add a new reader's two */
    RUN_POSTS_MAX = 4 * RUN_READERS_MAX,
};

/* One reader taking part in the run */
struct RunReader {
    CardSession session;   /* its connection; its thread's while it runs */
    int used;              /* the slot holds a reader; main thread */
    int number;            /* N: its place in the order readers joined, from 0; main thread
                              before the thread starts */
    FILE *log;             /* --output-dir's DIR/reader-N.log, or 0: opened by the main thread
                              before the start, closed by the reader's thread at its end */
    PlatformCounter ended; /* 1 once its thread has finished; atomic, woken under
                              runner.lock */
    PlatformCounter gone;  /* 1: the reader left the list, its thread stops; atomic */
    PlatformThread thread; /* its thread, when joinable is 1 */
    int joinable;          /* the main thread joins it once it has ended; main thread */
    /* The main thread's answer to the reader's request for a card (set
       before the start in a plain run); runner.lock. */
    int answered;   /* 1 once the answer below is there */
    int grant_card; /* K with --each-card, 0 in a plain run; -1: no card may start */
    int grant_row;  /* its data row (from 0), -1 for none */
};

/* What a reader's thread posts for the main thread */
enum {
    RUN_POST_CARD = 1,    /* a card came: it asks for its number and row */
    RUN_POST_OUTCOME = 2, /* a card's (or the reader's) outcome */
};
struct RunPost {
    int kind;          /* RUN_POST_* */
    int slot;          /* the reader's slot */
    int number;        /* its N, for messages: the slot may be taken again meanwhile */
    int card;          /* the card's K with --each-card; 0 for none (a plain run's card, or
                          the reader itself) */
    int status;        /* the outcome's exit status */
    TextBuffer suites; /* the outcome's report suites, handed over with it */
};

struct RunState {
    /* --- The command line and the standard streams. The main thread
       writes them before any reader's thread starts. --- */
    FILE *in, *out, *err;     /* run_main's streams */
    const RunArgs *args;      /* the command line */
    char *const *argv;        /* its words (the scripts' names among them) */
    char host[RUN_HOST_SIZE]; /* hostname attribute of the report */
    const char *stdin_text;   /* "-" read once for several readers, or 0 */
    size_t stdin_length;
    const PcscProvider *pcsc; /* the provider every reader and the reader list use: the
                                 platform's, or the replay provider of --replay */
    ScriptValues values;      /* --set's: every card starts with them */
    RunData data;             /* --data's rows; read by the main thread alone */
    int prefixed;             /* 1: several readers, lines start "[N] " */

    /* --- The readers. Slots are filled and started by the main thread. --- */
    RunReader readers[RUN_READERS_MAX];
    int next_number;            /* N of the next reader to join; main thread */
    PlatformCounter interrupts; /* Ctrl-C and the like so far; atomic */
    PlatformCounter stopping;   /* 1: --each-card takes no new card; main thread sets it */

    /* --- What the readers' threads post, guarded by lock. --- */
    PlatformLock lock;       /* the posts and the readers' answers */
    PlatformSignal posted;   /* a post came, or a reader's thread ended */
    PlatformSignal answered; /* the main thread took posts and answered requests */
    RunPost posts[RUN_POSTS_MAX];
    int post_first, post_count; /* the posts waiting, in the order they came */
    int locks_ready;            /* 1 once every lock exists; main thread */

    /* --- What the main thread alone folds from the posts. --- */
    int status;                     /* worst exit status so far */
    int cards_started;              /* --each-card: K of the last card */
    int cards_passed, cards_failed; /* --each-card: cards ended */
    int rows_taken;                 /* data rows given to cards so far */
    int rows_out;                   /* 1 once a card found no row left */
    TextBuffer suites;              /* the report's suites so far */

    /* --- The panes' streams and their writer (console/pane_streams.h),
       attached for the run. --- */
    PaneStreams streams;
};

extern RunState runner;

/* Exports from run/run_state.cpp: the record and the services every part
   of the run uses */
/* Every field but the locks to its initial value (the sessions' too),
   the streams attached; the locks are made once. */
void run_state_init(FILE *in, FILE *out, FILE *err);
/* status combined into the run's worst (1 over 3 over 0). */
int run_worse(int status, int outcome);
/* A message on standard error, "[N] " first when lines carry numbers and
   reader is not 0; standard output is flushed first, so a terminal shows
   both in order. */
void run_error(const RunReader *reader, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* The same for reader number N (-1: none). */
void run_error_numbered(int number, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* The reader's pane: PANE_RUN_FIRST + its slot. */
int run_reader_pane(const RunReader *reader);

#endif
