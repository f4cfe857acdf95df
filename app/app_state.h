/*
 * app_state.h: AppState, the one process-wide record of Vorlane.
 *
 * Every piece of shared state lives here as a fixed-size field, grouped by the
 * subsystem that owns it. Each field says what it means, who writes it and,
 * where threads meet, which lock guards it.
 *
 * Lock order, written once: net connection lock, then card_lock, then
 * xfer_lock. No thread waits for the GUI thread (prints into a pane) while
 * it holds card_lock or xfer_lock.
 */
#ifndef VORLANE_APP_STATE_H
#define VORLANE_APP_STATE_H

#include <stdio.h>

#include <winsock.h>
#include <windows.h>
#include <commdlg.h>
#include <winscard.h>

#include "card/atr_record.h"
#include "card/xfer_stat.h" /* XferStat, a slot of the exchange statistics */

/* Limits shared by several subsystems */
enum {
    PANE_COUNT = 2,           /* 0 = reader pane, 1 = Console pane */
    PANE_SLOTS = 601,         /* line slots per pane; slots 0..599 are used */
    PANE_SLOT_SIZE = 123,     /* 120 characters, CR, LF, NUL */
    PANE_LINE_MAX = 120,      /* hard wrap width */
    PANE_FORMAT_SIZE = 64000, /* format buffer of reader_print / console_print */
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

struct AppState {
    /* --- Application shell: start-up and frame (app/). GUI thread writes at
       start-up; everyone reads afterwards. --- */
    HINSTANCE instance;                          /* the program's module */
    HWND frame_window;                           /* the MDI frame */
    HWND mdi_client;                             /* its MDI client */
    WNDPROC client_default_proc;                 /* MDI client's own procedure */
    HMENU frame_menu;                            /* MENU1 */
    HMENU window_menu;                           /* MENU1 popup 1, "Windows" */
    char auto_script_name[AUTO_SCRIPT_NAME_SIZE]; /* script of unknown cards ("-s") */
    int network_server_enabled;                  /* "-n": start the network reader */

    /* --- Logo (app/logo.cpp). GUI thread only. --- */
    HBITMAP logo_bitmap;     /* screen-compatible logo, or 0 */
    int logo_width;          /* logo size in pixels */
    int logo_height;
    HGLOBAL logo_file_block; /* smartlogo.bmp after its file header, or 0 */
    unsigned char *logo_file_image; /* locked address of logo_file_block */

    /* --- File dialogs (app/file_dialogs.cpp). GUI thread only. --- */
    OPENFILENAMEA file_dialog;                 /* shared open/save description */
    char file_filter_buffer[FILE_FILTER_SIZE]; /* a caller's filter list */

    /* --- Text panes (console/). Only the GUI thread touches slots, indices
       and edit controls; other threads hand it their text (pane_print). --- */
    char pane_lines[PANE_COUNT][PANE_SLOTS][PANE_SLOT_SIZE]; /* line history */
    int pane_current[PANE_COUNT];      /* open line slot, 0..599 */
    int pane_insert_start[PANE_COUNT]; /* where the next complete line goes */
    int pane_insert_end[PANE_COUNT];
    char reader_format[PANE_FORMAT_SIZE];  /* reader_print's buffer, GUI thread */
    char console_format[PANE_FORMAT_SIZE]; /* console_print's buffer, GUI thread */
    HWND console_edit;                     /* Console's edit control, or 0 */
    HWND console_window;                   /* the Console MDI child, or 0 */
    DWORD gui_thread_id;                   /* thread that owns the panes */

    /* --- Console display settings (console/). GUI thread only. --- */
    COLORREF console_text_color;
    COLORREF console_back_color;
    HBRUSH console_back_brush;
    LOGFONTA pane_logfont;   /* font chooser's description, shared by both panes */
    int console_font_chosen; /* every new Console gets pane_logfont */
    HFONT console_font;
    COLORREF custom_colors[16]; /* colour chooser's custom colours */

    /* --- Card reader window (card/reader_window.cpp). --- */
    char reader_names[READER_NAMES_SIZE];      /* reader multi-string; start = selected */
    const char *all_readers[READER_LIST_MAX];  /* every listed reader (reader_scan) */
    const char *offered_readers[READER_LIST_MAX]; /* readers offered for selection */
    int offered_count;                         /* valid entries of offered_readers */
    int reader_pick;                           /* last pick in the READER combo box */
    int reader_last_pick;                      /* last index confirmed with SELECT */
    DWORD sc_scope;                            /* SCARD_SCOPE_SYSTEM */
    DWORD sc_protocols;                        /* T=0 | T=1 */
    SCARDCONTEXT sc_context;                   /* guarded by card_lock */
    SCARDHANDLE card_handle;                   /* guarded by card_lock */
    DWORD active_protocol;                     /* guarded by card_lock */
    int card_state;                            /* guarded by card_lock */
    unsigned char card_atr[CARD_ATR_SIZE];     /* last ATR read; guarded by card_lock */
    int card_atr_len;                          /* guarded by card_lock */
    int card_quiet_retry;                      /* 1: renewing a dead context; card_lock */
    HWND reader_edit;                          /* reader pane, or 0 */
    HWND reader_window;                        /* the reader MDI child, or 0 */
    COLORREF reader_text_color;
    COLORREF reader_back_color;
    HBRUSH reader_back_brush;
    int reader_font_chosen;
    HFONT reader_font;

    /* --- APDU exchange (card/card_transmit.cpp). xfer_counter is guarded by
       card_lock; total and statistics by xfer_lock. --- */
    int xfer_counter;           /* number of the last exchange, 0..999 */
    int xfer_total_ms;          /* ms in exchanges since the last script start */
    XferStat xfer_stats[2];     /* two-slot averages */
    int xfer_stats_next;        /* slot the next new pair replaces */
    void (*xfer_clock)(long long *seconds, int *milliseconds); /* a test's clock, or 0 */

    /* --- ATR table (card/atr_table.cpp). Written once at start-up. --- */
    AtrRecord atr_table[ATR_TABLE_MAX];
    int atr_count;
    volatile LONG atr_index; /* record of the last ATR read, -1 for none */

    /* --- Command dialog (dialogs/command_dialog.cpp). GUI thread only. --- */
    char apdu_comment[APDU_TEXT_SIZE];        /* stored comment, up to 1023 characters */
    char apdu_text[APDU_TEXT_SIZE];           /* stored APDU text, up to 1023 characters */
    char apdu_file_path[PATH_SIZE];           /* APDU file last chosen; proposed next time */
    unsigned char apdu_buffer[APDU_TEXT_SIZE]; /* command bytes, then the response (>= 512) */
    int apdu_length;                          /* bytes of the last sound command */

    /* --- Memory and tag dialogs (dialogs/memory_dialogs.cpp). GUI thread only. --- */
    unsigned memory_write_address; /* start address; low 16 bits used; 0 at each opening */
    unsigned tag_write_address;
    unsigned memory_read_address;
    unsigned tag_read_address;
    int memory_read_size;        /* bytes to read, kept for the process */
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
    volatile LONG script_runs;        /* script threads still running */

    /* --- Network reader (net/). --- */
    unsigned short net_port;            /* 8080 */
    volatile SOCKET net_listen_socket;  /* INVALID_SOCKET while not running */
    int net_winsock_started;            /* socket library started */
    HANDLE net_daemon_thread;           /* server thread, or 0 */
    DWORD net_daemon_thread_id;
    volatile LONG net_running;          /* 1 from a start until its stop, 2 during it */
    NetConnection net_connection;       /* the one connection slot */
    int net_lock_ready;                 /* net_connection.lock exists; GUI thread */

    /* --- Process-lifetime locks, created once by start-up (app_locks_create)
       and kept last so that app_state_init leaves them alone. --- */
    CRITICAL_SECTION card_lock; /* card state, context, handle, ATR, every PC/SC call */
    CRITICAL_SECTION xfer_lock; /* exchange total and statistics of card_transmit */
    int card_lock_ready;        /* 1 once both locks exist */
};

extern AppState app;

/* Exports from app/app_state.cpp */
void app_state_init(void);   /* initial values of every field */
void app_locks_create(void); /* card_lock and xfer_lock, once */

#endif
