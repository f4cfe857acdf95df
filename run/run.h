/*
 * run.h: vorlane-run, the command-line script runner, as a pipeline with
 * one owner per concern:
 *
 *   arguments      run/run_args.cpp (the command line), run_main.cpp
 *                  (values, standard input, the mode, the exit status)
 *   reader choice  run/run_select.cpp (which names), run_plain.cpp (the
 *                  wait for cards), run_each_card.cpp (readers coming and
 *                  going during the card line)
 *   readers        run/run_reader.cpp: one thread per reader, started with
 *                  the entry of its mode (run_reader_once for a plain run,
 *                  run_each_card for the card line); a card's scripts
 *   cards          run/run_card.cpp: the waits on the PC/SC service, over
 *                  the connection layer both front ends share; with
 *                  --replay the service is the replay readers'
 *                  (run/run_replay.cpp, reading recordings with
 *                  run/replay_read.cpp)
 *   recording      run/run_record.cpp: --record, a card's exchanges as a
 *                  script (card/card_record.h)
 *   report         run/run_report_file.cpp, written by run/run_report.cpp
 *
 * Each reader's thread holds only its own session's locks; what all
 * readers add to is in the runner's record (run/run_state.h) under
 * runner.lock, taken alone.
 */
#ifndef VORLANE_RUN_H
#define VORLANE_RUN_H

#include "run/run_state.h"

enum {
    RUN_OK = 0, /* exit statuses */
    RUN_FAILED = 1,
    RUN_USAGE = 2,
    RUN_CHECK_FAILED = 3,
    RUN_SLICE_MS = 500,       /* longest single wait: stop requests and the list are looked at */
    RUN_WATCH_MS = 100,       /* the card line's look at the reader list */
    RUN_ERROR_PAUSE_MS = 50,  /* after a PC/SC error that did not wait, so a loop cannot spin */
    RUN_WHY_SIZE = 160,       /* why a card or a script failed, for the report */
    RUN_LEFT_OUT_SIZE = 1024, /* the names of readers beyond RUN_READERS_MAX, cut to fit */
};

/* What a wait for a card saw */
enum {
    RUN_CARD_PRESENT = 1,
    RUN_CARD_ABSENT = 0,
    RUN_READER_GONE = -1, /* the reader is no longer listed */
    RUN_NO_SERVICE = -2,  /* no PC/SC service (stopped, or not started yet) */
};

/* A reader thread's work in one mode */
typedef void (*RunReaderEntry)(RunReader *reader); /* see RunReader.entry */

/* Exports from run/run_card.cpp: one session's connection; the calling
   thread owns the session. */
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
/* The reader list with the main thread's context (made or renewed as
   needed): fills names (READER_LIST_MAX) pointing into buffer
   (READER_NAMES_SIZE); the count, 0 with no reader, -1 with no service
   (*service then holds the status). */
int run_list_readers(SCARDCONTEXT *context, char *buffer, const char **names, LONG *service);
/* Which of names[0..count) hold a card now (present[i] 1 or 0). */
void run_cards_present(SCARDCONTEXT context, const char *const *names, int count, int *present);
/* Waits up to ms for any change among names (or the reader list). */
void run_wait_change(SCARDCONTEXT context, const char *const *names, int count, unsigned ms);
/* --list: every reader as "INDEX: NAME" on standard output; RUN_OK, or
   RUN_FAILED with the reason when there is none or no service. */
int run_list(void);

/* Exports from run/run_reader.cpp: a reader's part */
/* Takes the free slot reader for the reader named name as reader number N
   (the next one), with its output set up; 1 when it could. */
int run_reader_join(RunReader *reader, const char *name);
/* Starts the reader's thread on entry; when it cannot, the reader fails
   and has ended. 1 when it started. */
int run_reader_start(RunReader *reader, RunReaderEntry entry);
/* Runs every script on the reader's ready card and reports them (card: K
   in the card line, 0 otherwise; row: its data row from 0, -1 for none),
   with values that live from the first script to the last. Returns the
   card's exit status. */
int run_reader_scripts(RunReader *reader, int card, int row);
/* The card failed before any script: each script reported as not run
   with why. */
void run_reader_card_failed(RunReader *reader, int card, int row, const char *why);
/* The card's ATR could not be read after its connect (status): said on
   standard error, and why written into why for the report. */
void run_card_atr_failed(RunReader *reader, LONG status, char *why, size_t size);
/* The ATR as the reader window shows it ("Answer to Reset:" and its
   bytes), then explained, into pane. */
void run_atr_print(int pane, const unsigned char *atr, int length);
/* 1 while the reader's thread runs. */
int run_reader_running(const RunReader *reader);
/* Waits until every started reader's thread has ended, and joins them. */
void run_readers_wait(void);

/* Exports from run/run_record.cpp: --record, on the reader's thread */
/* Starts recording the reader's card (card: K in the card line, 0
   otherwise) into its file, header first. 0 when it cannot be written:
   said on standard error, and why written into why for the report. */
int run_record_start(RunReader *reader, int card, char *why, size_t size);
/* Ends the card's recording, if one runs: RUN_OK, or RUN_FAILED (said on
   standard error) when it could not be written whole. */
int run_record_end(RunReader *reader);

/* Exports from run/run_plain.cpp: a plain run */
/* Chooses the readers (waiting with -w), runs the scripts on each chosen
   reader's card side by side, and returns the worst exit status. */
int run_plain(void);
/* A plain run's reader thread: connect, every script (or the ATR
   explained, with --atr), let the card go. */
void run_reader_once(RunReader *reader);

/* Exports from run/run_each_card.cpp: the card line (--each-card) */
/* Runs the card line until its count, an interrupt or the end of the data
   rows, and returns the worst exit status. */
int run_card_line(void);
/* The card line's reader thread: a card, its scripts, its removal, and
   again, until the line stops or the reader goes. */
void run_each_card(RunReader *reader);

#endif
