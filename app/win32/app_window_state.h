/*
 * app_window_state.h (Windows): AppWindowState, the window part of the one
 * record AppState (app/app_state.h), app.gui: the frame, the logo, the file
 * dialogs, the panes' windows and queues, the reader window with its card
 * session, the dialogs' memories and the network reader. Only the GUI
 * program's code uses these fields.
 */
#ifndef VORLANE_APP_WINDOW_STATE_H
#define VORLANE_APP_WINDOW_STATE_H

#include <winsock.h>
#include <windows.h>
#include <commdlg.h>

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

/* The card reader window "Velmo": the card session it follows and what
   only the window needs beside it. Its state machine (card/card_state.cpp)
   runs on the GUI thread; exchanges on other threads reach the flags. */
struct ReaderWindow {
    CardSession session;        /* the reader window's connection; its own locks */
    int quiet_retry;            /* 1: renewing a dead context, no prompt; card_lock */
    volatile LONG drop_pending; /* 1: a closed window's drop waits for card_lock;
                                   interlocked */
    volatile LONG tick_missed;  /* 1: a tick found card_lock taken; interlocked */
    volatile LONG atr_index;    /* ATR table record of the card's ATR, -1 for none;
                                   interlocked */
};

struct AppWindowState {
    /* --- Application shell: start-up and frame (app/). GUI thread writes at
       start-up; everyone reads afterwards. --- */
    HINSTANCE instance;          /* the program's module */
    HWND frame_window;           /* the MDI frame */
    HWND mdi_client;             /* its MDI client */
    WNDPROC client_default_proc; /* MDI client's own procedure */
    HMENU frame_menu;            /* MENU1 */
    HMENU window_menu;           /* MENU1 popup 1, "Windows" */

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

    /* --- The reader window (card/) and its choice of reader
       (card/reader_choice.cpp, GUI thread while the window opens). --- */
    ReaderWindow reader;
    char reader_list[READER_NAMES_SIZE];          /* the listed readers' multi-string */
    const char *all_readers[READER_LIST_MAX];     /* every listed reader, into reader_list */
    const char *offered_readers[READER_LIST_MAX]; /* readers offered for selection */
    int offered_count;                            /* valid entries of offered_readers */
    int reader_pick;                              /* last pick in the READER combo box */
    int reader_last_pick;                         /* last index confirmed with SELECT */

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

    /* --- Script dialog (script/script_dialog.cpp). GUI thread. --- */
    char script_file_name[SCRIPT_FILE_NAME_SIZE];

    /* --- Dialog exchanges (dialogs/dlg_work.cpp). One at a time, since
       the dialogs are modal. --- */
    volatile LONG dialog_work_busy; /* a dialog's exchanges run on its worker; GUI thread */
    volatile LONG dialog_work_stop; /* QUIT asked the worker to stop after its chunk */
    int dialog_work_close;          /* the dialog closes once the work ends; GUI thread */

    /* --- Network reader (net/). --- */
    unsigned short net_port;           /* 8080 */
    volatile SOCKET net_listen_socket; /* INVALID_SOCKET while not running */
    int net_winsock_started;           /* socket library started */
    HANDLE net_daemon_thread;          /* server thread, or 0 */
    DWORD net_daemon_thread_id;
    volatile LONG net_running;    /* 1 from a start until its stop, 2 during it */
    NetConnection net_connection; /* the one connection slot */
    int net_lock_ready;           /* net_connection.lock exists; GUI thread */

    /* --- Locks of the panes' queues, created once by app_locks_create;
       app_window_state_init leaves them alone. --- */
    CRITICAL_SECTION pane_queue_lock[PANE_COUNT];    /* a pane's queue; held only to copy */
    CONDITION_VARIABLE pane_queue_space[PANE_COUNT]; /* a drain made room / pane closed */
    CONDITION_VARIABLE pane_queue_shown[PANE_COUNT]; /* a drain was shown / pane closed */
};

/* Exports from app/win32/app_window_state.cpp */
void app_window_state_init(void);   /* initial values of the window part but its locks */
void app_window_locks_create(void); /* the panes' queue locks and the reader window's
                                       session locks, once */

#endif
