/*
 * run.h: vorlane-run, the command-line script runner, as a pipeline by
 * stage, one owner per stage:
 *
 *   arguments   run/run_args.cpp (the command line), run_main.cpp (values,
 *               standard input, the provider, the exit status)
 *   source      run/run_source.cpp, on the main thread: the readers a run
 *               takes, by run/run_select.cpp's rules: a fixed set for a
 *               plain run (waiting for their cards with -w), readers
 *               joining and leaving for --each-card; and
 *               the main thread's loop over the posts
 *   readers     run/run_reader.cpp: one thread per reader and one body for
 *               both modes: a card comes (at once in a plain run, each in
 *               turn with --each-card), its scripts run, its outcome is
 *               posted, it goes. The card's waits and connection are
 *               run/run_card.cpp's, over the connection layer both front
 *               ends share; its scripts and their suites
 *               run/run_scripts.cpp's; its recording run/run_record.cpp's
 *   outcomes    run/run_outcome.cpp: what the readers' threads post; only
 *               the main thread numbers the cards, hands out the data rows,
 *               folds the exit status and the card counts, and owns the
 *               report (run/run_report_file.cpp, written by run_report.cpp)
 *
 * A card's own data (its number, its data row, its recording and its
 * suites) is a RunCard on its reader's thread's stack. With --replay the
 * provider is the replay provider (card/replay_provider.h), which the
 * runner asks through a session, as it asks the platform's.
 */
#ifndef VORLANE_RUN_H
#define VORLANE_RUN_H

#include "card/card_record.h"
#include "run/run_state.h"

enum {
    RUN_OK = 0, /* exit statuses */
    RUN_FAILED = 1,
    RUN_USAGE = 2,
    RUN_CHECK_FAILED = 3,
    RUN_SLICE_MS = 500,       /* longest single wait: stop requests and the list are looked at */
    RUN_WATCH_MS = 100,       /* --each-card's look at the reader list */
    RUN_ERROR_PAUSE_MS = 50,  /* after a PC/SC error that did not wait, so a loop cannot spin */
    RUN_WHY_SIZE = 160,       /* why a card or a script failed, for the report */
    RUN_LEFT_OUT_SIZE = 1024, /* the names of readers beyond RUN_READERS_MAX, cut to fit */
    RUN_RECORD_NAME_SIZE = 1024 + 32, /* a recording's file: --record's name and its tag */
};

/* What a wait for a card saw */
enum {
    RUN_CARD_PRESENT = 1,
    RUN_CARD_ABSENT = 0,
    RUN_READER_GONE = -1, /* the reader is no longer listed */
    RUN_NO_SERVICE = -2,  /* no PC/SC service (stopped, or not started yet) */
};

/* A card's own data, on its reader's thread's stack from its coming to
   its outcome. */
struct RunCard {
    int number;        /* K with --each-card, 0 otherwise */
    int row;           /* its data row from 0, -1 for none */
    CardRecord record; /* --record: its recording, while the session's record points here */
    char record_name[RUN_RECORD_NAME_SIZE]; /* that recording's file */
    TextBuffer suites;                      /* its scripts' report suites, posted with its
                                               outcome */
};

/* Exports from run/run_source.cpp: the main thread's reader source */
/* --list: every reader as "INDEX: NAME" on standard output; RUN_OK, or
   RUN_FAILED with the reason when there is none or no service. */
int run_list(void);
/* The run itself: the readers chosen (a plain run) or joining and leaving
   (--each-card), their threads started, the posts taken until every
   thread has ended; the worst exit status. */
int run_cards(void);

/* Exports from run/run_reader.cpp: a reader's slot and thread */
/* Takes the free slot reader for the reader named name as reader number N
   (the next one), with its output set up; 1 when it could (else the
   failure is posted). */
int run_reader_join(RunReader *reader, const char *name);
/* Starts the reader's thread; when it cannot, the reader fails and has
   ended. */
void run_reader_start(RunReader *reader);
/* 1 while the reader's thread runs. */
int run_reader_running(const RunReader *reader);
/* 1 while any reader's thread runs. */
int run_readers_running(void);
/* Joins every reader's thread that has ended. */
void run_readers_join(void);

/* Exports from run/run_card.cpp: one session's card, on its reader's
   thread (the thread owns the session) */
/* Waits up to ms for the session's reader to hold a card (want 1) or none
   (want 0): RUN_CARD_PRESENT, RUN_CARD_ABSENT (the wait is over with the
   wish unmet), RUN_READER_GONE or RUN_NO_SERVICE. */
int run_card_wait(CardSession *session, int want, unsigned ms);
/* Connects to the card and reads its ATR: the card is then ready for
   card_exchange. The status; a state query that fails after the connect
   sets *atr_failed, keeps no ATR (length 0) and lets the card go. */
LONG run_card_connect(CardSession *session, int *atr_failed);
/* Lets the card go (the context stays). */
void run_card_disconnect(CardSession *session);
/* Lets the card and the context go. */
void run_card_close(CardSession *session);
/* The ATR as hexadecimal text (CARD_ATR_SIZE * 2 + 1 bytes). */
void run_card_atr_text(const CardSession *session, char *text);

/* Exports from run/run_scripts.cpp: a card's scripts and their suites */
/* Runs every script on the reader's ready card, each reported into
   card->suites, with values that live from the first script to the last.
   Returns the card's exit status. */
int run_card_scripts(RunReader *reader, RunCard *card);
/* The card failed before any script: each script reported as not run
   with why. */
void run_card_not_run(const RunReader *reader, RunCard *card, const char *why);
/* The card's ATR could not be read after its connect (status): said on
   standard error, and why written into why for the report. */
void run_card_atr_failed(const RunReader *reader, LONG status, char *why, size_t size);
/* The ATR as the reader window shows it ("Answer to Reset:" and its
   bytes), then explained, into pane. */
void run_atr_print(int pane, const unsigned char *atr, int length);

/* Exports from run/run_record.cpp: --record, on the reader's thread */
/* Starts recording the reader's card into its file, header first. 0 when
   it cannot be written: said on standard error, and why written into why
   for the report. */
int run_record_start(RunReader *reader, RunCard *card, char *why, size_t size);
/* Ends the card's recording, if one runs: RUN_OK, or RUN_FAILED (said on
   standard error) when it could not be written whole. */
int run_record_end(RunReader *reader, RunCard *card);

/* Exports from run/run_outcome.cpp */
/* The reader's thread: the card's number and data row from the main
   thread (in a plain run, those it was started with): 1, or 0 when no
   card may start any more. */
int run_card_claim(RunReader *reader, RunCard *card);
/* The reader's thread: an outcome for the main thread, a card's (K in the
   --each-card run, which the main thread counts) or one not counted (card 0: a
   plain run's card, or the reader's own failure); suites (0 for none) are
   handed over and left empty. */
void run_outcome_post(const RunReader *reader, int card, int status, TextBuffer *suites);
/* The main thread: the next data row for a card (from 0); -1 without
   --data; -2 once the rows have run out ("No more data rows", said once). */
int run_row_next(void);
/* The main thread: waits up to ms for a post or a thread's end; at once
   when no reader's thread runs, unless steady (--each-card, whose
   readers may join later). */
void run_posts_wait(unsigned ms, int steady);
/* The main thread: takes every post waiting: numbers cards and hands out
   their rows, folds outcomes into the status, the counts and the report
   (rewritten after each card of --each-card). */
void run_posts_take(void);
/* The main thread: --each-card's stop rule, looked at once no card may
   start: an interrupt, COUNT cards started, the rows run out, or every
   card of a provider that holds only so many gone (source is the list's
   session). Sets runner.stopping; 1 once it is set. */
int run_each_card_stopping(const CardSession *source);

#endif
