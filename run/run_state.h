/*
 * run_state.h: RunState, the record of one run of vorlane-run, held by the
 * runner's program alone (the GUI has none): the command line and the
 * standard streams, the values every card starts with, the readers taking
 * part (each RunReader holding its card session), and what all readers
 * add to: the counts, the worst exit status and the report's suites.
 *
 * Threads: the main thread fills the record before any reader's thread
 * starts and reads a reader's slot after its thread has ended; a reader's
 * thread owns its slot (and its session) meanwhile. Fields that two
 * threads touch say how: under runner.lock (taken alone, never with a
 * session's lock held: app/app_state.h writes the whole order), or atomic
 * (PlatformCounter, changed and read only through its functions).
 */
#ifndef VORLANE_RUN_STATE_H
#define VORLANE_RUN_STATE_H

#include <stddef.h>
#include <stdio.h>

#include "app/app_state.h" /* RUN_READERS_MAX, the panes of the readers */
#include "card/card_record.h"
#include "card/card_session.h"
#include "run/run_args.h"
#include "run/run_data.h"   /* RunData, the rows of --data */
#include "run/run_replay.h" /* RunReplay, the replay readers */
#include "run/run_report.h" /* TextBuffer, the report's suites */
#include "script/script_values.h"

enum {
    RUN_HOST_SIZE = 256,              /* the host name of the report */
    RUN_RECORD_NAME_SIZE = 1024 + 32, /* a recording's file: --record's name and its tag */
};

/* One reader taking part in the run */
struct RunReader;
struct RunReader {
    CardSession session; /* its connection; its thread's while it runs */
    int used;            /* the slot holds a reader; main thread */
    int number;          /* N: its place in the order readers joined, from 0; main thread
                            before the thread starts */
    int row;             /* plain run: its data row (from 0), -1 for none; main thread
                            before the thread starts */
    void (*entry)(RunReader *reader); /* its thread's work in the run's mode; main
                                         thread before the start */
    int status;            /* its worst exit status; its thread, then the main thread once
                              ended is 1 */
    PlatformCounter ended; /* 1 once its thread has finished; atomic, woken under
                              runner.lock */
    PlatformCounter gone;  /* 1: the reader left the list, its thread stops; atomic */
    PlatformThread thread; /* its thread, when joinable is 1 */
    int joinable;          /* the main thread joins it once it has ended; main thread */
    CardRecord record;     /* --record: its card's recording, while session.record points
                              here; its thread */
    char record_name[RUN_RECORD_NAME_SIZE]; /* that recording's file; its thread */
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
    const PcscCalls *pcsc; /* the service every reader and the reader list use: the
                              platform's, or the replay readers' with --replay */
    ScriptValues values;   /* --set's: every card starts with them */
    RunData data;          /* --data's rows */
    int prefixed;          /* 1: several readers, lines start "[N] " */

    /* --- The readers. Slots are filled and started by the main thread. --- */
    RunReader readers[RUN_READERS_MAX];
    int next_number;            /* N of the next reader to join; main thread */
    RunReplay replay;           /* --replay: the replay readers, with their own lock */
    PlatformCounter interrupts; /* Ctrl-C and the like so far; atomic */

    /* --- What every reader adds to, guarded by lock. --- */
    PlatformLock lock;              /* taken alone, or after report_lock */
    PlatformLock report_lock;       /* one report file written at a time; before lock */
    PlatformSignal reader_ended;    /* a reader's thread has ended; with lock */
    int cards_started;              /* card line: K of the last card */
    int cards_passed, cards_failed; /* card line: cards ended */
    int status;                     /* worst exit status so far */
    TextBuffer suites;              /* the report's suites so far */
    int rows_taken;                 /* data rows given to cards so far */
    int rows_out;                   /* 1 once a card found no row left */
    int locks_ready;                /* 1 once every lock exists; main thread */
    /* --- The streams' large buffers (app.pane_stream_lines and
       app.stream_queue point here), never cleared: only the streams'
       counts say what in them is text, and a cleared page costs a new
       process time it need not spend. --- */
    char stream_lines[PANE_STREAM_COUNT][PANE_STREAM_LINE_SIZE];
    char stream_queue[2][STREAM_QUEUE_SIZE];
};

extern RunState runner;

/* Exports from run/run_state.cpp: the record and the services every part
   of the run uses */
/* Every field but the locks to its initial value (the sessions' too);
   the locks are made once. */
void run_state_init(FILE *in, FILE *out, FILE *err);
/* status combined into the run's worst (1 over 3 over 0). */
int run_worse(int status, int outcome);
/* Under runner.lock: outcome counted into the run's worst status. */
void run_status_add(int outcome);
/* A message on standard error, "[N] " first when lines carry numbers and
   reader is not 0; standard output is flushed first, so a terminal shows
   both in order. */
void run_error(const RunReader *reader, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Under runner.lock: the next data row for a card (from 0); -1 without
   --data; -2 once the rows have run out, and then, the first time only,
   *rows_ended is set: the caller says so (run_rows_ended_say) once it has
   left the lock. */
int run_row_claim(int *rows_ended);
/* "No more data rows" on standard output; runner.lock not held. */
void run_rows_ended_say(void);
/* The reader's pane: PANE_RUN_FIRST + its slot. */
int run_reader_pane(const RunReader *reader);

#endif
