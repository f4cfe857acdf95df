/*
 * run.h: vorlane-run, the command-line script runner: its card
 * connections, its readers' threads, the plain run and the card line.
 *
 * Design: the main thread chooses the readers (and, in the card line,
 * keeps watching the reader list); each chosen reader runs on a thread of
 * its own with its own card session (AppState.run_sessions, the same slot
 * as its RunReader), its own PC/SC context and its own pane stream, so
 * readers run side by side and never wait for each other. A reader's
 * thread holds only its own session's locks; the shared counts, the worst
 * status and the report's suites are taken under run_lock, alone.
 */
#ifndef VORLANE_RUN_H
#define VORLANE_RUN_H

#include "card/card_session.h"
#include "run/run_args.h"

enum {
    RUN_OK = 0, /* exit statuses */
    RUN_FAILED = 1,
    RUN_USAGE = 2,
    RUN_CHECK_FAILED = 3,
    RUN_SLICE_MS = 500, /* longest single wait: stop requests and the list are looked at */
};

/* What a wait for a card saw */
enum {
    RUN_CARD_PRESENT = 1,
    RUN_CARD_ABSENT = 0,
    RUN_READER_GONE = -1, /* the reader is no longer listed */
    RUN_NO_SERVICE = -2,  /* no PC/SC service (stopped, or not started yet) */
};

/* Exports from run/run_card.cpp: one session's connection; the calling
   thread owns the session. */
/* 1 when the session has a PC/SC context (made now if needed). */
int run_context_ready(CardSession *session);
/* 1 for a status that means the context is of no use any more (the
   service stopped or restarted); the context is then dropped. */
int run_context_dead(CardSession *session, LONG status);
/* Waits up to ms for the session's reader (its reader_names) to hold a
   card (want 1) or none (want 0): RUN_CARD_PRESENT, RUN_CARD_ABSENT (the
   wait is over with the wish unmet), RUN_READER_GONE or RUN_NO_SERVICE. */
int run_card_wait(CardSession *session, int want, unsigned ms);
/* Connects to the card and reads its ATR: the card is then ready for
   card_exchange, as the reader window leaves its own. The PC/SC status. */
LONG run_card_connect(CardSession *session);
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

/* Exports from run/run_reader.cpp: a reader's work */
/* Takes slot for the reader named name as reader number N (the next one),
   with its output set up; 1 when it could. */
int run_reader_join(int slot, const char *name);
/* Runs every script on the slot's ready card and reports them (card: K in
   the card line, 0 otherwise; row: its data row from 0, -1 for none), with
   values that live from the first script to the last. Returns the card's
   exit status. */
int run_reader_scripts(int slot, int card, int row);
/* Under run_lock: the next data row for a card (from 0); -1 without
   --data; -2 once the rows have run out ("No more data rows" is printed,
   once). */
int run_row_claim(void);
/* Starts the slot's thread: one run of the scripts (card_line 0) or the
   card line's loop over the cards put in. 1 when it started. */
int run_reader_start(int slot, int card_line);
/* The ATR as the reader window shows it ("Answer to Reset:" and its
   bytes), then explained, into pane. */
void run_atr_print(int pane, const unsigned char *atr, int length);
/* Waits until every started reader's thread has ended, and joins them. */
void run_readers_wait(void);
/* Writes the report file now, from the suites so far (run_lock held by
   no one): 0, or -1 when it could not be written whole. */
int run_report_flush(void);
/* status combined into the run's worst (1 over 3 over 0). */
int run_worse(int status, int outcome);
/* A message on standard error, "[N] " first when lines carry numbers. */
void run_error(int slot, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* Exports from run/run_choose.cpp: the plain run and the reader list */
/* Chooses the readers (waiting with -w), runs the scripts on each chosen
   reader's card side by side, and returns the worst exit status. */
int run_plain(void);
/* --list: every reader as "INDEX: NAME" on standard output; RUN_OK, or
   RUN_FAILED with the reason when there is none or no service. */
int run_list(void);

/* Exports from run/run_line.cpp: the card line (--each-card) */
/* A reader's thread in the card line: a card, its scripts, its removal,
   and again, until the line stops or the reader goes. */
void run_line_reader(int slot);
/* Runs the card line until its count, an interrupt or the end of the data
   rows, and returns the worst exit status. */
int run_card_line(void);

#endif
