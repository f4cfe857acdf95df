/*
 * app_state.h: AppState, the one process-wide record of Vorlane.
 *
 * It holds what lives as long as the process: the portable fields here,
 * which the card, script and stream code use on every platform, and the
 * window part (AppWindowState, app/win32/app_window_state.h: the frame,
 * the panes' windows, the reader window with its card session, the
 * dialogs' memories and the network reader), which the native runner has
 * not. Records of a shorter or other life are held, not merged in: a card
 * session (CardSession) is held by what drives it, the reader window
 * (app.gui.reader) or a runner reader (run/run_state.h), and the runner
 * keeps its own record (RunState) in its own program.
 *
 * Every field is fixed-size, grouped by the subsystem that owns it, and
 * says what it means, who writes it and, where threads meet, which lock
 * guards it or that it is atomic.
 *
 * Lock order, written once for the whole program: the network connection
 * lock, then a session's card_lock, then that session's xfer_lock; no
 * thread holds the locks of two sessions at once. The runner's locks
 * (run/run_state.h) are never taken with a session's lock held: its
 * report_lock comes before its lock, and each is left before any print;
 * the replay readers' lock (run/run_replay.h) is taken inside a session's
 * card_lock or alone, and no other lock inside it. A pane's queue lock
 * (pane_queue_lock) and pane_stream_lock come after all of these, and
 * stream_queue_lock last: a print takes them only to copy its text (the
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

/* Limits shared by several subsystems */
enum {
    PANE_READER = 0,              /* the reader window's pane */
    PANE_CONSOLE = 1,             /* the Console's pane */
    PANE_COUNT = 2,               /* panes with a window */
    PANE_QUEUE_SIZE = 512 * 1024, /* each of a pane's two queue halves */
    RUN_READERS_MAX = 16,         /* readers the runner drives at once */
    /* panes of the runner's readers: PANE_RUN_FIRST + the reader's slot;
       they have a stream and no window */
    PANE_RUN_FIRST = PANE_COUNT,
    PANE_STREAM_COUNT = PANE_RUN_FIRST + RUN_READERS_MAX,
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

/* States of the network reader's connection slot */
enum {
    NET_SLOT_IDLE = 0,    /* no connection, or its service has ended */
    NET_SLOT_RECEIVE = 1, /* waiting for (the rest of) a request frame */
    NET_SLOT_SEND = 2,    /* a reply is ready to go out */
    NET_SLOT_CLOSE = 3,   /* the connection is to be closed */
};

/* AppWindowState, the window part, from the directory the build picks; it
   uses the limits above. */
#include "app_window_state.h"

struct AppState {
    /* --- Application shell: start-up (app/). The main thread writes at
       start-up; everyone reads afterwards. --- */
    char auto_script_name[AUTO_SCRIPT_NAME_SIZE]; /* script of unknown cards ("-s") */
    int network_server_enabled;                   /* "-n": start the network reader */
    DWORD sc_scope;                               /* SCARD_SCOPE_SYSTEM */
    DWORD sc_protocols;                           /* T=0 | T=1 */

    /* --- APDU exchange (card/card_transmit.cpp). Written before any
       exchange; read by every exchange. --- */
    void (*xfer_clock)(long long *seconds, int *milliseconds); /* a test's clock, or 0 */
    /* The session card_transmit and the GUI's dialogs exchange on: the
       reader window's (app.gui.reader.session); 0 without a GUI. */
    CardSession *gui_card;
    /* How an exchange leaves a session's card_lock: the reader window sets
       its card_unlock, which does a pending drop or missed tick of its own
       session; 0: a plain leave. */
    void (*card_unlock_hook)(CardSession *session);

    /* --- ATR table (card/atr_table.cpp). Written once at start-up. --- */
    AtrRecord atr_table[ATR_TABLE_MAX];
    int atr_count;

    /* --- Script engine (script/). --- */
    PlatformCounter script_runs; /* script threads still running; atomic */

    /* --- Pane streams (console/pane_stream.cpp): the runner sets the
       streams before its first print and clears them after its last; a
       print holds pane_stream_lock while it writes, so the text of one
       print is never split by another thread's. --- */
    PlatformLock pane_stream_lock;        /* the streams, their copies and prefixes */
    FILE *pane_stream[PANE_STREAM_COUNT]; /* pane p's prints go to this stream, not a window;
                                             or 0; pane_stream_lock */
    PaneStreamOut pane_stream_out[PANE_STREAM_COUNT]; /* copies and prefixes; pane_stream_lock */

    /* --- The streams' writer (console/stream_writer.cpp): while it runs,
       what the streams receive is queued here and written by a thread of
       its own, so the next exchange does not wait for the disk. Guarded by
       stream_queue_lock. --- */
    PlatformLock stream_queue_lock;   /* the writer's queue; taken last */
    PlatformSignal stream_queue_data; /* text was queued, or the writer should end */
    PlatformSignal stream_queue_room; /* a half was taken and written, or the writer ended */
    int stream_queue_side;            /* the half printers fill */
    int stream_queue_fill;            /* bytes in it */
    int stream_queue_last;            /* offset of its last record, -1 for none */
    int stream_queue_wanted;          /* a printer waits: the writer takes the half now */
    int stream_queue_handed;          /* bytes in the other half, handed to the writer and
                                         not yet written (0: that half is free) */
    int stream_writer_running;        /* the writer's thread runs */
    int stream_writer_idle;           /* it waits for text to come (not for a batch to grow):
                                         only then does a printer wake it for its first */
    int stream_writer_stop;           /* it ends once the queue is empty */
    PlatformThread stream_writer;     /* its thread: started and joined by the runner's main
                                         thread */

    /* --- The streams' large buffers, held by the runner's record
       (RunState) and pointed to here by run_state_init; 0 in the GUI
       program, whose panes need neither. --- */
    char (*pane_stream_lines)[PANE_STREAM_LINE_SIZE]; /* PANE_STREAM_COUNT unfinished lines
                                                         of prefixed streams;
                                                         pane_stream_lock */
    char (*stream_queue)[STREAM_QUEUE_SIZE];          /* the writer's two halves: the one printers
                                                         fill (stream_queue_side), the one written;
                                                         stream_queue_lock */

    /* --- The window part: the GUI program's windows, reader window,
       dialogs and network reader (empty in the native runner). --- */
    AppWindowState gui;

    int locks_ready; /* 1 once every process lock exists; main thread at start-up */
};

extern AppState app;

/* Exports from app/app_state.cpp */
void app_state_init(void); /* initial values of every field but the locks */
/* Every process-lifetime lock: the streams' and the window part's (its
   reader window's session among them); once. */
void app_locks_create(void);
/* The GUI program's one card session (the reader window's), or 0. */
inline CardSession *gui_session(void) {
    return app.gui_card;
}

#endif
