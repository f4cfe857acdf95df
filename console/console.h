/*
 * console.h: the two text panes (reader pane 0, Console pane 1), their print
 * entry points, the window handling both panes' windows share, and the
 * Console window.
 */
#ifndef VORLANE_CONSOLE_H
#define VORLANE_CONSOLE_H

#include <stdarg.h>

#include <windows.h>

#include "console/pane_print.h" /* reader_print, console_print, the streams */

/* Exports from console/pane.cpp. A pane's line slots and edit control are
   touched by the GUI thread only; other threads hand text over through the
   pane's queue (pane_queue_lock, taken last; only the GUI thread, whose
   prints never wait, may print while it holds card_lock). Prints to a pane
   without a window are dropped and return 0. */
/* GUI thread: the pane's line history emptied (the edit control untouched). */
void pane_reset(int pane);
/* GUI thread: feeds text[0..length) to the pane's line discipline (which
   may write into text) and shows the change in edit; returns length. */
int pane_append(HWND edit, char *text, int length, int pane);
/* Any thread: text already formatted into a pane, as reader_print prints. */
int pane_print_text(int pane, const char *text, int length);
void pane_edit_prepare(HWND edit);                /* lift the text limit */
void pane_open(int pane, HWND window, HWND edit); /* window created: empty pane */
void pane_close(int pane); /* window gone: queued text dropped, writers freed */
void pane_close_all(void); /* the frame is going */
/* Waits until everything queued so far is shown or the pane closes (a
   drain on the GUI thread). The tests' hook: the program itself never
   needs to wait for a pane. */
void pane_flush(int pane);
LRESULT pane_drain_message(WPARAM pane, LPARAM lparam); /* frame's WM_PANE_PRINT */
void pane_drain_timer(UINT_PTR id);                     /* frame's WM_TIMER of a paced drain */
/* GUI thread: WaitForSingleObject on thread, draining the panes meanwhile
   so that its prints never wait for this thread; returns the wait's result. */
DWORD pane_wait_thread(HANDLE thread);
/* On the GUI thread: shows what every pane has queued, now; elsewhere it
   does nothing. For loops that wait on the GUI thread for printing runs. */
void pane_drain_all(void);

/* Posted to the frame when a pane's queue goes from empty to non-empty
   (wparam: the pane). */
#define WM_PANE_PRINT (WM_APP + 1)
/* lparam of WM_PANE_PRINT from a writer that waits on a full queue, which
   asks again every PANE_FULL_RETRY_MS */
#define PANE_DRAIN_NOW 1
#define PANE_FULL_RETRY_MS 50
/* Frame timer ids of paced drains: PANE_DRAIN_TIMER + pane */
#define PANE_DRAIN_TIMER 0x5A10
/* Pacing of a pane's display updates while text keeps coming: at least
   PANE_PACE_MS apart, and PANE_PACE_FACTOR times as long as the last update
   took (each update of an edit control costs milliseconds), but never more
   than PANE_PACE_MAX_MS. */
#define PANE_PACE_MS 20
#define PANE_PACE_FACTOR 8
#define PANE_PACE_MAX_MS 200

/* Exports from console/pane_window.cpp: what the two panes' windows share;
   GUI thread only */
/* The pane's edit control (opened as the pane, pane_open), brush and font
   for window; returns the edit control, 0 when it could not be made. */
HWND pane_window_create(int pane, HWND window, HINSTANCE instance);
/* Releases the font and brush; closes the pane when window is its window. */
void pane_window_destroy(int pane, HWND window);
/* Size, paint, colours and the Font, Color and Background commands; 1 when
   the message was handled, with its result in *result. */
int pane_window_message(int pane, HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT *result);

/* Exports from console/console_window.cpp */
LRESULT CALLBACK console_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#endif
