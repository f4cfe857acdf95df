/*
 * card_session.h: CardSession, one card connection and everything that
 * belongs to it: the PC/SC context and handle, the card's state and ATR,
 * its lock, the exchange counter, total and statistics of its Console
 * lines, the name of the script its exchanges run for, and the panes its
 * lines go to. The exchange (card_exchange) and the script interpreter
 * (script_run) work on the session they are given.
 *
 * The GUI program has exactly one session, the reader window's, inside
 * AppState (AppState derives from CardSession, so its fields keep their
 * names: app.card_state, app.card_lock, app.xfer_total_ms). The
 * command-line runner keeps one per reader it drives, in
 * AppState.run_sessions.
 *
 * Locks: card_lock guards the connection (context, handle, protocol, state,
 * ATR) and xfer_counter; xfer_lock, taken inside card_lock, guards the
 * total, the statistics and script_name. Both are recursive, created once
 * (card_session_locks_create) and never cleared by card_session_init.
 */
#ifndef VORLANE_CARD_SESSION_H
#define VORLANE_CARD_SESSION_H

#include "app/platform.h"     /* PlatformLock and the PC/SC types */
#include "card/xfer_stat.h"   /* XferStat, a slot of the exchange statistics */
#include "card/xfer_limits.h" /* the capacity contract of exchanges */

enum {
    READER_NAMES_SIZE = 16000,    /* the reader multi-string (GUI) or one reader's name */
    CARD_ATR_SIZE = 256,          /* an ATR as the state query leaves it */
    SCRIPT_FILE_NAME_SIZE = 1024, /* a script's path */
    PANE_NONE = -1,               /* a session's lines of that kind go nowhere */
};

/* Card states of the connection's state machine */
enum {
    CARD_NO_CONTEXT = 0,
    CARD_CONTEXT = 1,
    CARD_WAITING = 2,
    CARD_CONNECTED = 3,
    CARD_READING_ATR = 4,
    CARD_READY = 5,
    CARD_GONE = 6,
    CARD_DROPPED = 99,
};

struct CardSession {
    /* --- The connection. Guarded by card_lock; the GUI's is run by the
       reader window's tick (card/card_state.cpp), a runner reader's by
       its thread (run/). --- */
    char reader_names[READER_NAMES_SIZE]; /* the reader; the GUI keeps the whole list here,
                                             the selected reader first */
    SCARDCONTEXT sc_context;
    SCARDHANDLE card_handle;
    DWORD active_protocol;
    int card_state;                        /* CARD_* */
    unsigned char card_atr[CARD_ATR_SIZE]; /* last ATR read */
    int card_atr_len;                      /* its length; CARD_ATR_SIZE after a failed query */
    volatile LONG atr_index;               /* ATR table record of that ATR, -1 for none */
    int card_quiet_retry;                  /* 1: renewing a dead context, no prompt */
    volatile LONG card_drop_pending;       /* 1: a closed window's drop waits for card_lock */
    volatile LONG card_tick_missed;        /* 1: a tick found card_lock taken */
    /* How an exchange leaves card_lock: the reader window sets it to its
       card_unlock (a pending drop, a missed tick); 0: a plain leave.
       Written once by the owner before any exchange. */
    void (*card_unlock_hook)(void);

    /* --- Exchanges (card/card_transmit.cpp). xfer_counter is guarded by
       card_lock; the total, the statistics and script_name by xfer_lock. --- */
    int xfer_counter;                        /* number of the last exchange, 0..999 */
    int xfer_total_ms;                       /* ms in exchanges since the last script start */
    XferStat xfer_stats[2];                  /* two-slot averages */
    int xfer_stats_next;                     /* slot the next new pair replaces */
    char script_name[SCRIPT_FILE_NAME_SIZE]; /* the latest run's script, "" before any */

    /* --- Where its lines go: pane numbers (console/pane_print.h), or
       PANE_NONE. Written by the owner before any exchange or run. --- */
    int reader_pane;      /* script traces and messages */
    int console_pane;     /* the Console's exchange lines */
    volatile LONG explain; /* 1: traces explained (-x, the GUI's "Explain"); any thread */

    /* --- Locks, created once and kept last so that card_session_init
       leaves them alone. --- */
    PlatformLock card_lock; /* the connection, every PC/SC call on it, xfer_counter */
    PlatformLock xfer_lock; /* total, statistics, script_name; taken inside card_lock */
    int card_lock_ready;    /* 1 once both locks exist */
};

/* Exports from card/card_session.cpp */
/* Every field but the locks to its initial value; lines to the two panes. */
void card_session_init(CardSession *session, int reader_pane, int console_pane);
/* Creates the session's locks, once; they live as long as the process. */
void card_session_locks_create(CardSession *session);

#endif
