/*
 * app_state.h: AppState, the one process-wide record of Vorlane.
 *
 * The record has two parts: AppPortableState here, the fields the card,
 * script and stream code use, which compile on every platform, and
 * AppWindowState (app/win32/app_window_state.h), the windows, dialogs and
 * network reader of the GUI program, which the native runner has not.
 *
 * Every piece of shared state lives here as a fixed-size field, grouped by the
 * subsystem that owns it. Each field says what it means, who writes it and,
 * where threads meet, which lock guards it.
 *
 * Lock order, written once: net connection lock, then card_lock, then
 * xfer_lock. A pane's queue lock (pane_queue_lock) and pane_stream_lock come
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
#include "card/xfer_stat.h"     /* XferStat, a slot of the exchange statistics */
#include "console/pane_lines.h" /* PaneLines, PaneChange and the pane's limits */

/* Limits shared by several subsystems */
enum {
    PANE_READER = 0,  /* the reader window's pane */
    PANE_CONSOLE = 1, /* the Console's pane */
    PANE_COUNT = 2,
    PANE_QUEUE_SIZE = 512 * 1024, /* each of a pane's two queue halves */
    READER_NAMES_SIZE = 16000,
    READER_LIST_MAX = 4096,
    CARD_ATR_SIZE = 256,
    XFER_RESPONSE_MAX = 512, /* largest response card_transmit accepts */
    ATR_TABLE_MAX = 32,
    APDU_TEXT_SIZE = 1024,
    PATH_SIZE = 260,
    FILE_FILTER_SIZE = 256,
    SCRIPT_FILE_NAME_SIZE = 1024,
    AUTO_SCRIPT_NAME_SIZE = 256,
};

/* Card states of the reader window's state machine */
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

    /* --- Card reader and connection: the reader is chosen by
       card/reader_choice.cpp (GUI thread, while the reader window opens),
       the connection run by card/card_state.cpp. --- */
    char reader_names[READER_NAMES_SIZE];         /* reader multi-string; start = selected */
    const char *all_readers[READER_LIST_MAX];     /* every listed reader (reader_scan) */
    const char *offered_readers[READER_LIST_MAX]; /* readers offered for selection */
    int offered_count;                            /* valid entries of offered_readers */
    int reader_pick;                              /* last pick in the READER combo box */
    int reader_last_pick;                         /* last index confirmed with SELECT */
    DWORD sc_scope;                               /* SCARD_SCOPE_SYSTEM */
    DWORD sc_protocols;                           /* T=0 | T=1 */
    SCARDCONTEXT sc_context;                      /* guarded by card_lock */
    SCARDHANDLE card_handle;                      /* guarded by card_lock */
    DWORD active_protocol;                        /* guarded by card_lock */
    int card_state;                               /* guarded by card_lock */
    unsigned char card_atr[CARD_ATR_SIZE];        /* last ATR read; guarded by card_lock */
    int card_atr_len;                             /* guarded by card_lock */
    int card_quiet_retry;                         /* 1: renewing a dead context; card_lock */
    volatile LONG card_drop_pending; /* 1: a closed window's drop waits for card_lock */
    volatile LONG card_tick_missed;  /* 1: a tick found card_lock taken */
    /* How card_transmit leaves card_lock: the reader window sets it to its
       card_unlock (a pending drop, a missed tick); 0 (the runner): a plain
       leave. Written once by the GUI thread before any exchange. */
    void (*card_unlock_hook)(void);

    /* --- APDU exchange (card/card_transmit.cpp). xfer_counter is guarded by
       card_lock; total and statistics by xfer_lock. --- */
    int xfer_counter;       /* number of the last exchange, 0..999 */
    int xfer_total_ms;      /* ms in exchanges since the last script start */
    XferStat xfer_stats[2]; /* two-slot averages */
    int xfer_stats_next;    /* slot the next new pair replaces */
    void (*xfer_clock)(long long *seconds, int *milliseconds); /* a test's clock, or 0 */

    /* --- ATR table (card/atr_table.cpp). Written once at start-up. --- */
    AtrRecord atr_table[ATR_TABLE_MAX];
    int atr_count;
    volatile LONG atr_index; /* record of the last ATR read, -1 for none */

    /* --- Command dialog (dialogs/command_dialog.cpp). GUI thread; apdu_buffer
       also the dialog's worker while its exchange runs. --- */
    char apdu_comment[APDU_TEXT_SIZE];         /* stored comment, up to 1023 characters */
    char apdu_text[APDU_TEXT_SIZE];            /* stored APDU text, up to 1023 characters */
    char apdu_file_path[PATH_SIZE];            /* APDU file last chosen; proposed next time */
    unsigned char apdu_buffer[APDU_TEXT_SIZE]; /* command bytes, then the response (>= 512) */
    int apdu_length;                           /* bytes of the last sound command */

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

    /* --- Script engine (script/). script_file_name is GUI-thread only;
       script_name is written by each run as it starts and read by
       card_transmit for the Console's script header. --- */
    char script_file_name[SCRIPT_FILE_NAME_SIZE];
    char script_name[SCRIPT_FILE_NAME_SIZE]; /* the latest run's script, "" before any; xfer_lock */
    PlatformCounter script_runs;             /* script threads still running */

    /* --- Command-line runner (run/, console/pane_stream.cpp). The runner
       sets the streams before its first print and clears them after its
       last; a print holds pane_stream_lock while it writes, so the text of
       one print is never split by another thread's. --- */
    FILE *pane_stream[PANE_COUNT]; /* pane p's prints go to this stream, not a window; or 0;
                                      pane_stream_lock */

    /* --- Process-lifetime locks, created once by start-up (app_locks_create)
       and kept last so that app_state_init leaves them alone. --- */
    PlatformLock card_lock;        /* card state, context, handle, ATR, every PC/SC call */
    PlatformLock xfer_lock;        /* exchange total and statistics of card_transmit */
    PlatformLock pane_stream_lock; /* held while one print is written to a stream */
    int card_lock_ready;           /* 1 once the locks exist */
};

/* AppWindowState, the window part, from the directory the build picks; it
   uses the limits above. */
#include "app_window_state.h"

/* The one record: both parts, every field reached by its own name. */
struct AppState : AppPortableState, AppWindowState {};

extern AppState app;

/* Exports from app/app_state.cpp */
void app_state_init(void); /* initial values of every field */
void app_locks_create(
    void); /* every process-lifetime lock: card_lock, xfer_lock, the pane and stream locks; once */

#endif
