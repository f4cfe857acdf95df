/*
 * app_state.h: AppState, the one process-wide record of Vorlane.
 *
 * The record has three parts: AppPortableState here, the fields the card,
 * script and stream code use, which compile on every platform; CardSession
 * (card/card_session.h), the GUI's one card connection, whose fields keep
 * their names in the record (app.card_state, app.card_lock); and
 * AppWindowState (app/win32/app_window_state.h), the windows, dialogs and
 * network reader of the GUI program, which the native runner has not.
 *
 * Every piece of shared state lives here as a fixed-size field, grouped by the
 * subsystem that owns it. Each field says what it means, who writes it and,
 * where threads meet, which lock guards it.
 *
 * Lock order, written once: net connection lock, then card_lock, then
 * xfer_lock, both of the same session; no thread holds the locks of two
 * sessions at once. A pane's queue lock (pane_queue_lock) and pane_stream_lock come
 * last: a print takes one of them, alone, only to copy its text (the
 * network thread prints while it holds its connection lock). Only the GUI
 * thread, whose prints never wait, prints while it holds card_lock (the
 * tick's lines); no other thread prints, or waits for the GUI thread in any
 * other way, while it holds card_lock or xfer_lock.
 */
#ifndef VORLANE_APP_STATE_H
#define VORLANE_APP_STATE_H

#include <stdio.h>

#include "app/platform.h" /* PlatformLock and the PC/SC types */
#include "card/atr_record.h"
#include "card/card_session.h"  /* CardSession, the card states and their limits */
#include "console/pane_lines.h" /* PaneLines, PaneChange and the pane's limits */
#include "run/run_data.h"       /* RunData, the runner's values from outside */
#include "run/run_report.h"     /* RunText, the runner's report suites */

/* Limits shared by several subsystems */
enum {
    PANE_READER = 0,              /* the reader window's pane */
    PANE_CONSOLE = 1,             /* the Console's pane */
    PANE_COUNT = 2,               /* panes with a window */
    PANE_QUEUE_SIZE = 512 * 1024, /* each of a pane's two queue halves */
    RUN_SESSIONS_MAX = 16,        /* readers the runner drives at once */
    /* panes of the runner's readers: PANE_RUN_FIRST + the session's index;
       they have a stream and no window */
    PANE_RUN_FIRST = PANE_COUNT,
    PANE_STREAM_COUNT = PANE_RUN_FIRST + RUN_SESSIONS_MAX,
    READER_LIST_MAX = 4096,
    ATR_TABLE_MAX = 32,
    APDU_TEXT_SIZE = 1024, /* a stored APDU text or comment and its NUL */
    PATH_SIZE = 260,
    FILE_FILTER_SIZE = 256,
    AUTO_SCRIPT_NAME_SIZE = 256,
};

/* A runner pane's stream beyond its FILE (pane_stream): an unprefixed copy
   and, when several readers share standard output, the "[N] " that starts
   each of its whole lines. */
enum {
    PANE_STREAM_LINE_SIZE = 2 * XFER_RESPONSE_MAX + 4096, /* the longest line held */
    STREAM_QUEUE_SIZE = 1024 * 1024,                      /* each half of the writer's queue */
};
struct PaneStreamOut {
    FILE *copy;  /* --output-dir's DIR/reader-N.log, or 0 */
    int prefix;  /* -1: lines as they are; N: "[N] " before each */
    int partial; /* characters of the unfinished line, held in
                    pane_stream_lines[the pane] */
};

/* One reader taking part in a run of vorlane-run; its connection is the
   session of the same slot (run_sessions). */
struct RunReader {
    int used;              /* the slot holds a reader */
    int number;            /* N: its place in the order readers joined the run, from 0 */
    PlatformCounter ended; /* 1 once its thread has finished */
    volatile LONG gone;    /* the reader left the list: its thread stops */
    int status;            /* its worst exit status so far */
    int row;               /* plain run: its data row (from 0), -1 for none */
    PlatformThread thread; /* its thread, when joinable is 1 */
    int joinable;          /* the main thread joins it once it has ended */
};

/* States of the network reader's connection slot */
enum {
    NET_SLOT_IDLE = 0,    /* no connection, or its service has ended */
    NET_SLOT_RECEIVE = 1, /* waiting for (the rest of) a request frame */
    NET_SLOT_SEND = 2,    /* a reply is ready to go out */
    NET_SLOT_CLOSE = 3,   /* the connection is to be closed */
};

struct AppPortableState {
    /* --- Application shell: start-up and frame (app/). GUI thread writes at
       start-up; everyone reads afterwards. --- */
    char auto_script_name[AUTO_SCRIPT_NAME_SIZE]; /* script of unknown cards ("-s") */
    int network_server_enabled;                   /* "-n": start the network reader */

    /* --- Reader choice (card/reader_choice.cpp, GUI thread while the
       reader window opens; the runner's reader list). The connection
       itself is the GUI's CardSession. --- */
    const char *all_readers[READER_LIST_MAX];     /* every listed reader (reader_scan) */
    const char *offered_readers[READER_LIST_MAX]; /* readers offered for selection */
    int offered_count;                            /* valid entries of offered_readers */
    int reader_pick;                              /* last pick in the READER combo box */
    int reader_last_pick;                         /* last index confirmed with SELECT */
    DWORD sc_scope;                               /* SCARD_SCOPE_SYSTEM */
    DWORD sc_protocols;                           /* T=0 | T=1 */

    /* --- APDU exchange (card/card_transmit.cpp). --- */
    void (*xfer_clock)(long long *seconds, int *milliseconds); /* a test's clock, or 0 */

    /* --- ATR table (card/atr_table.cpp). Written once at start-up. --- */
    AtrRecord atr_table[ATR_TABLE_MAX];
    int atr_count;

    /* --- Command dialog (dialogs/command_dialog.cpp). GUI thread; apdu_buffer
       also the dialog's worker while its exchange runs. --- */
    char apdu_comment[APDU_TEXT_SIZE];           /* stored comment, up to 1023 characters */
    char apdu_text[APDU_TEXT_SIZE];              /* stored APDU text, up to 1023 characters */
    char apdu_file_path[PATH_SIZE];              /* APDU file last chosen; proposed next time */
    unsigned char apdu_buffer[XFER_BUFFER_SIZE]; /* command bytes, then the response */
    int apdu_length;                             /* bytes of the last sound command */

    /* --- Memory and tag dialogs (dialogs/memory_dialogs.cpp). GUI thread,
       or the dialog's worker while its exchanges run. --- */
    unsigned memory_write_address; /* start address; low 16 bits used; 0 at each opening */
    unsigned tag_write_address;
    unsigned memory_read_address;
    unsigned tag_read_address;
    int memory_read_size; /* bytes to read, kept for the process */
    int tag_read_size;
    int memory_read_text_format; /* 1: show chunks as text ("Text Format") */
    int tag_read_text_format;
    char memory_dump_path[PATH_SIZE]; /* dump file proposed by READ and SAVE */
    char tag_dump_path[PATH_SIZE];
    FILE *memory_dump_file; /* open only during one READ and SAVE, else 0 */
    FILE *tag_dump_file;

    /* --- Script engine (script/). script_file_name is GUI-thread only. --- */
    char script_file_name[SCRIPT_FILE_NAME_SIZE];
    PlatformCounter script_runs; /* script threads still running */

    /* --- Command-line runner (run/, console/pane_stream.cpp). The runner
       sets the streams before its first print and clears them after its
       last; a print holds pane_stream_lock while it writes, so the text of
       one print is never split by another thread's. --- */
    FILE *pane_stream[PANE_STREAM_COUNT]; /* pane p's prints go to this stream, not a window;
                                             or 0; pane_stream_lock */
    PaneStreamOut pane_stream_out[PANE_STREAM_COUNT]; /* copies and prefixes; pane_stream_lock */

    /* --- The streams' writer (console/stream_writer.cpp): while it runs,
       what the streams receive is queued here and written by a thread of
       its own, so the next exchange does not wait for the disk. Guarded by
       stream_queue_lock. --- */
    int stream_queue_side;     /* the half printers fill */
    int stream_queue_fill;     /* bytes in it */
    int stream_queue_last;     /* offset of its last record, -1 for none */
    int stream_queue_wanted;   /* a printer waits: the writer takes the half now */
    int stream_writer_running; /* the writer's thread runs */
    int stream_writer_busy;    /* it is writing a taken half */
    int stream_writer_stop;    /* it ends once the queue is empty */

    PlatformThread stream_writer; /* its thread: started and joined by the runner's main thread */

    /* --- A run of vorlane-run (run/). The main thread fills a reader's
       slot before its thread starts and reads it after it has ended; the
       thread owns the slot meanwhile. run_lock guards the counts, the
       worst status and the suites. --- */
    FILE *run_in, *run_out, *run_err; /* the runner's standard streams (run_main's) */
    const struct RunArgs *run_args;   /* the command line, for the readers' threads */
    char *const *run_argv;
    char run_host[256];                      /* hostname attribute of the report */
    RunReader run_readers[RUN_SESSIONS_MAX]; /* the readers taking part */
    int run_prefixed;                        /* 1: several readers, lines start "[N] " */
    int run_next_number;                     /* N of the next reader to join */
    int run_cards_started;                   /* card line: K of the last card; run_lock */
    int run_cards_passed, run_cards_failed;  /* card line: cards ended; run_lock */
    int run_status;                          /* worst exit status so far; run_lock */
    RunText run_suites;                      /* the report's suites so far; run_lock */
    PlatformCounter run_interrupts;          /* Ctrl-C and the like so far */
    const char *run_stdin_text;              /* "-" read once for several readers, or 0 */
    size_t run_stdin_length;
    ScriptValues run_values; /* --set's: every card starts with them */
    RunData run_data;        /* --data's rows */
    int run_rows_taken;      /* rows given to cards so far; run_lock */
    int run_rows_out;        /* 1 once a card found no row left; run_lock */

    /* --- The runner's readers: one session each, owned by the reader's
       thread while it runs (card/card_session.h says which lock guards
       what). Cleared by app_state_init field by field, their locks kept. --- */
    CardSession run_sessions[RUN_SESSIONS_MAX];

    /* --- Large buffers, never cleared: only the counts above say what in
       them is text (a cleared page costs a new process time it need not
       spend). --- */
    char pane_stream_lines[PANE_STREAM_COUNT][PANE_STREAM_LINE_SIZE]; /* the unfinished lines
                                                                       of prefixed streams */
    char stream_queue[2][STREAM_QUEUE_SIZE]; /* the writer's halves: the one printers fill
                                                (stream_queue_side), the one written */

    /* --- Process-lifetime locks, created once by start-up (app_locks_create)
       and kept last so that app_state_init leaves them alone. --- */
    PlatformLock pane_stream_lock;    /* held while one print is written to a stream */
    PlatformLock run_lock;            /* the runner's counts, status and suites; taken alone */
    PlatformSignal run_reader_ended;  /* a reader's thread has ended; with run_lock */
    PlatformLock stream_queue_lock;   /* the writer's queue; taken last */
    PlatformSignal stream_queue_data; /* text was queued, or the writer should end */
    PlatformSignal stream_queue_room; /* a half was taken and written, or the writer ended */
    int locks_ready;                  /* 1 once every lock exists */
};

/* AppWindowState, the window part, from the directory the build picks; it
   uses the limits above. */
#include "app_window_state.h"

/* The one record: the portable part, the GUI's one card session and the
   window part, every field reached by its own name. */
struct AppState : AppPortableState, CardSession, AppWindowState {};

extern AppState app;

/* Exports from app/app_state.cpp */
void app_state_init(void); /* initial values of every field */
/* Every process-lifetime lock: the sessions' card_lock and xfer_lock, the
   pane and stream locks; once. */
void app_locks_create(void);
/* The GUI program's one card session (the reader window's). */
inline CardSession *gui_session(void) {
    return &app;
}

#endif
