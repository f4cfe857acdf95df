/*
 * app_state.h: AppState, the one process-wide record of Vorlane.
 *
 * Every piece of shared state lives here as a fixed-size field, grouped by the
 * subsystem that owns it. Each field says what it means, who writes it and,
 * where threads meet, which lock guards it.
 *
 * Lock order, written once: net connection lock, then card_lock, then
 * xfer_lock. A pane's queue lock (pane_queue_lock) and pane_stream_lock come
 * last: a print takes one of them, alone, only to copy its text, and never
 * while card_lock or xfer_lock is held (the network thread prints while it
 * holds its connection lock). No thread waits for the GUI thread (prints
 * into a pane) while it holds card_lock or xfer_lock.
 */
#ifndef VORLANE_APP_STATE_H
#define VORLANE_APP_STATE_H

#include <stdio.h>

#include <winsock.h>
#include <windows.h>
#include <commdlg.h>
#include <winscard.h>

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

/* The network reader's one connection slot */
struct NetConnection {
    int state;             /* NET_SLOT_*; guarded by lock */
    SOCKET socket;         /* accepted connection or INVALID_SOCKET; guarded by lock */
    CRITICAL_SECTION lock; /* created by net_server_start, deleted by net_server_stop */
};

/* One text pane: its window, the line history and display settings, all
   GUI-thread only, and the queue through which every thread prints into it.
   Writers append whole records (an int length, the text, a NUL) to
   queue[queue_side] under pane_queue_lock; the GUI thread swaps the halves
   under the lock and feeds the taken half to the line discipline outside
   it. The lock is never held while waiting: a writer that finds the half
   full sleeps on pane_queue_space, which releases it. */
struct PaneState {
    HWND window;      /* the pane's MDI child, or 0; GUI thread */
    HWND edit;        /* its edit control, or 0; written by the GUI
                         thread under the queue lock */
    PaneLines lines;  /* line history; GUI thread */
    int insert_start; /* where the next complete line goes; GUI thread */
    int insert_end;
    char format[PANE_FORMAT_SIZE]; /* format buffer of prints on the GUI thread */
    PaneChange change;             /* what the next display update shows; GUI thread */
    COLORREF text_color;           /* display settings, kept for the run; GUI thread */
    COLORREF back_color;
    HBRUSH back_brush; /* solid brush of back_color while the window exists */
    HFONT font;        /* font set into the edit control, or 0 */
    int font_chosen;   /* every new window gets pane_logfont */
    /* Output queue, guarded by pane_queue_lock[pane] */
    char queue[2][PANE_QUEUE_SIZE]; /* the half writers fill, and the half drained */
    int queue_side;                 /* half that writers fill */
    int queue_fill;                 /* bytes used in it */
    int queue_limit;                /* bytes a half may hold (tests make it tiny) */
    int drain_posted;               /* a drain request is on its way to the GUI thread */
    unsigned queued_count;          /* prints queued so far */
    unsigned shown_count;           /* prints shown (or discarded) so far */
    /* Pacing of display updates; GUI thread */
    DWORD shown_tick; /* GetTickCount at the end of the last update */
    DWORD pace_ms;    /* least time before the next update, 0 at first */
    int drain_timer;  /* a paced drain waits on the frame's timer */
};

struct AppState {
    /* --- Application shell: start-up and frame (app/). GUI thread writes at
       start-up; everyone reads afterwards. --- */
    HINSTANCE instance;                           /* the program's module */
    HWND frame_window;                            /* the MDI frame */
    HWND mdi_client;                              /* its MDI client */
    WNDPROC client_default_proc;                  /* MDI client's own procedure */
    HMENU frame_menu;                             /* MENU1 */
    HMENU window_menu;                            /* MENU1 popup 1, "Windows" */
    char auto_script_name[AUTO_SCRIPT_NAME_SIZE]; /* script of unknown cards ("-s") */
    int network_server_enabled;                   /* "-n": start the network reader */

    /* --- Logo (app/logo.cpp). GUI thread only. --- */
    HBITMAP logo_bitmap; /* screen-compatible logo, or 0 */
    int logo_width;      /* logo size in pixels */
    int logo_height;
    HGLOBAL logo_file_block;        /* smartlogo.bmp after its file header, or 0 */
    unsigned char *logo_file_image; /* locked address of logo_file_block */

    /* --- File dialogs (app/file_dialogs.cpp). GUI thread only. --- */
    OPENFILENAMEA file_dialog;                 /* shared open/save description */
    char file_filter_buffer[FILE_FILTER_SIZE]; /* a caller's filter list */

    /* --- Text panes (console/): pane 0 in the reader window, pane 1 in the
       Console; see PaneState. --- */
    PaneState panes[PANE_COUNT];
    LOGFONTA pane_logfont;      /* font chooser's description, shared by both panes */
    COLORREF custom_colors[16]; /* colour chooser's custom colours */
    DWORD gui_thread_id;        /* thread that owns the panes */

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

    /* --- Dialog exchanges (dialogs/dlg_work.cpp). One at a time, since
       the dialogs are modal. --- */
    volatile LONG dialog_work_busy; /* a dialog's exchanges run on its worker; GUI thread */
    volatile LONG dialog_work_stop; /* QUIT asked the worker to stop after its chunk */
    int dialog_work_close;          /* the dialog closes once the work ends; GUI thread */

    /* --- Script engine (script/). script_file_name is GUI-thread only;
       script_name is written by each run as it starts and read by
       card_transmit for the Console's script header. --- */
    char script_file_name[SCRIPT_FILE_NAME_SIZE];
    char script_name[SCRIPT_FILE_NAME_SIZE]; /* the latest run's script, "" before any; xfer_lock */
    volatile LONG script_runs;        /* script threads still running */

    /* --- Network reader (net/). --- */
    unsigned short net_port;           /* 8080 */
    volatile SOCKET net_listen_socket; /* INVALID_SOCKET while not running */
    int net_winsock_started;           /* socket library started */
    HANDLE net_daemon_thread;          /* server thread, or 0 */
    DWORD net_daemon_thread_id;
    volatile LONG net_running;    /* 1 from a start until its stop, 2 during it */
    NetConnection net_connection; /* the one connection slot */
    int net_lock_ready;           /* net_connection.lock exists; GUI thread */

    /* --- Command-line runner (run/, console/pane_stream.cpp). The runner
       sets the streams before its first print and clears them after its
       last; a print holds pane_stream_lock while it writes, so the text of
       one print is never split by another thread's. --- */
    FILE *pane_stream[PANE_COUNT]; /* pane p's prints go to this stream, not a window; or 0 */
    SRWLOCK pane_stream_lock;      /* zero is its unlocked state; no creation needed */

    /* --- Process-lifetime locks, created once by start-up (app_locks_create)
       and kept last so that app_state_init leaves them alone. --- */
    CRITICAL_SECTION card_lock; /* card state, context, handle, ATR, every PC/SC call */
    CRITICAL_SECTION xfer_lock; /* exchange total and statistics of card_transmit */
    CRITICAL_SECTION pane_queue_lock[PANE_COUNT];    /* a pane's queue; held only to copy */
    CONDITION_VARIABLE pane_queue_space[PANE_COUNT]; /* a drain made room / pane closed */
    CONDITION_VARIABLE pane_queue_shown[PANE_COUNT]; /* a drain was shown / pane closed */
    int card_lock_ready;                             /* 1 once the locks exist */
};

extern AppState app;

/* Exports from app/app_state.cpp */
void app_state_init(void);   /* initial values of every field */
void app_locks_create(void); /* card_lock, xfer_lock and the pane locks, once */

#endif
