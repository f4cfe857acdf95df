/*
 * card_session.h: CardSession, one card connection and what belongs to it
 * alone: the reader it follows, the PC/SC context and handle, the card's
 * state and ATR, the exchange counter, total and statistics of its Console
 * lines, the name of the script its exchanges run for, and the panes its
 * lines go to. The exchange (card_exchange), the connection layer
 * (card/card_connect.h) and the script interpreter (script_run) work on the
 * session they are given.
 *
 * A session is held by what drives it: the GUI's reader window
 * (ReaderWindow, app/win32/app_window_state.h) and each reader of the
 * command-line runner (RunReader, run/run_state.h). Neither is a session;
 * each holds one beside its own fields.
 *
 * Locks (their place among the program's is app/app_state.h's):
 * card_lock guards the connection and xfer_counter; xfer_lock guards the
 * total, the statistics and script_name. Both are recursive, created once
 * (card_session_locks_create) and never touched by card_session_init.
 */
#ifndef VORLANE_CARD_SESSION_H
#define VORLANE_CARD_SESSION_H

#include "app/platform.h"       /* PlatformLock and the PC/SC types */
#include "card/pcsc.h"          /* PcscProvider, the service a session reaches */
#include "card/reader_limits.h" /* a reader name's room */
#include "card/xfer_limits.h"   /* the capacity contract of exchanges */
#include "card/xfer_stat.h"     /* XferStat, a slot of the exchange statistics */

enum {
    CARD_ATR_SIZE = 256,          /* the largest ATR a state query leaves */
    SCRIPT_FILE_NAME_SIZE = 1024, /* a script's path */
    PANE_NONE = -1,               /* a session's lines of that kind go nowhere */
};

/* Card states of the connection */
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
    /* --- The connection, guarded by card_lock: the reader window's tick
       or a runner reader's thread drives it, exchanges use it. --- */
    PlatformLock card_lock;             /* the connection, every PC/SC call on it, xfer_counter */
    const PcscProvider *pcsc;           /* its provider: the platform's, or one the owner
                                           sets before the first call (the runner's replay
                                           readers) */
    char reader_name[READER_NAME_SIZE]; /* the reader followed */
    SCARDCONTEXT sc_context;
    SCARDHANDLE card_handle;
    DWORD active_protocol;
    int card_state;                        /* CARD_* */
    unsigned char card_atr[CARD_ATR_SIZE]; /* last ATR read */
    int card_atr_len;                      /* its length (the front end's rule after a
                                              failed query: card/card_connect.h) */
    int xfer_counter;                      /* number of the last exchange, 0..999 */
    unsigned long card_connections;        /* connects so far: a secure channel opened on
                                              one connection breaks with it (reset, new card) */
    unsigned long card_reset_connection;   /* the connection the last reset made
                                              (card_reconnect), 0 before any */

    /* --- The exchanges' accounting, guarded by xfer_lock. --- */
    PlatformLock xfer_lock;
    int xfer_total_ms;                       /* ms in exchanges since the last script start */
    XferStat xfer_stats[2];                  /* two-slot averages */
    int xfer_stats_next;                     /* slot the next new pair replaces */
    char script_name[SCRIPT_FILE_NAME_SIZE]; /* the latest run's script, "" before any */

    /* --- Where its lines go: pane numbers (console/pane_print.h), or
       PANE_NONE. Written by the owner before any exchange or run. --- */
    int reader_pane;           /* script traces and messages */
    int console_pane;          /* the Console's exchange lines */
    PlatformCounter explain;   /* 1: traces explained (-x, the GUI's "Explain");
                                  any thread, atomic: platform_counter_set, and
                                  card_session_explains to read it */
    int locks_ready;           /* 1 once both locks exist; the owner, before any thread */
    struct CardRecord *record; /* its exchanges are recorded here (card/card_record.h), or
                                  0; set and cleared by the thread that drives it */
};

/* Exports from card/card_session.cpp */
/* Every field but the locks to its initial value (the platform's
   provider); lines to the two panes. */
void card_session_init(CardSession *session, int reader_pane, int console_pane);
/* Creates the session's locks, once; they live as long as their holder. */
void card_session_locks_create(CardSession *session);
/* 1 when the session's traces are explained; any thread, no lock. */
inline int card_session_explains(const CardSession *session) {
    return platform_counter_read(&session->explain) != 0;
}

#endif
