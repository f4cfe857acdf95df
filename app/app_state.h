/*
 * app_state.h: AppState, the one process-wide record of Vorlane.
 *
 * It holds what lives as long as the process: the portable fields here,
 * which the card, script and stream code use on every platform, and the
 * window part (AppWindowState, app/win32/app_window_state.h: the frame,
 * the panes' windows, the reader window with its card session, the
 * dialogs' memories and the network reader), which the native runner has
 * not. Records of a shorter or other life are held, not merged in: a card
 * session (CardSession) is held by what drives it, the reader window or a
 * reader of the command-line runner, and the runner keeps its own record,
 * the panes' streams and their writer among it, in its own program.
 *
 * Every field is fixed-size, grouped by the subsystem that owns it, and
 * says what it means, who writes it and, where threads meet, which lock
 * guards it or that it is atomic.
 *
 * Lock order, written once for the whole program (other files point here):
 * the network connection lock, then a session's card_lock, then that
 * session's xfer_lock; no thread holds the locks of two sessions at once.
 * A PC/SC provider's own lock (the replay provider's, card/pcsc.h) is
 * taken inside a session's card_lock or with no lock held, and takes no
 * other lock inside it. The runner's own lock, over what its readers'
 * threads post for its main thread, is taken with no session's lock held
 * and takes no other lock inside it; nothing prints while it is held. A
 * pane's queue lock (pane_queue_lock), then the panes' streams' lock, then
 * their writer's queue lock (console/pane_streams.h) come after all of
 * these, the writer's last: a print takes them only to copy its text (the
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
    ATR_TABLE_MAX = 32,
    APDU_TEXT_SIZE = 1024, /* a stored APDU text or comment and its NUL */
    PATH_SIZE = 260,
    FILE_FILTER_SIZE = 256,
    AUTO_SCRIPT_NAME_SIZE = 256,
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

    /* --- The window part: the GUI program's windows, reader window,
       dialogs and network reader (empty in the native runner). --- */
    AppWindowState gui;

    int locks_ready; /* 1 once every process lock exists; main thread at start-up */
};

extern AppState app;

/* Exports from app/app_state.cpp */
void app_state_init(void); /* initial values of every field but the locks */
/* Every process-lifetime lock: the window part's (its reader window's
   session among them); once. */
void app_locks_create(void);
/* The GUI program's one card session (the reader window's), or 0. */
inline CardSession *gui_session(void) {
    return app.gui_card;
}

#endif
