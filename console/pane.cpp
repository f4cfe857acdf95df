/*
 * pane.cpp: the print entry points of the two text panes, reader_print
 * (pane 0) and console_print (pane 1), their output queues, and the display
 * of queued text in the panes' edit controls. The line discipline itself is
 * in pane_lines.cpp.
 *
 * Design: only the GUI thread touches the line history, the insertion
 * points and the edit controls. Every other thread formats on its own
 * stack and appends the text, as one record, to the pane's queue under the
 * pane's queue lock, then goes on: it waits only when the queue is full,
 * until the GUI thread has taken it. The first record after the queue was
 * taken posts WM_PANE_PRINT to the frame, so a burst of prints costs one
 * message. A drain feeds every queued record to the line discipline, in
 * order, and then updates the edit control once, because each update of a
 * visible edit control costs milliseconds however much text it carries.
 * While text keeps coming, updates are paced: the next waits at least
 * PANE_PACE_MS, and longer after a costly one (a control of several hundred
 * lines takes milliseconds to re-measure even when hidden), so that each
 * pane takes at most about a ninth of the GUI thread's time. Both panes
 * busy at once (a memory READ with the Console open) stay under a quarter:
 * the display's X and server calls otherwise slow the worker's exchanges.
 *
 * Prints on the GUI thread join the same queue, so every print into a pane
 * keeps its place whichever thread made it, and a burst of GUI output costs
 * one update too; the GUI thread never waits on a full queue, it drains it
 * itself. Only without a frame to post to is GUI text shown at once.
 * Closing a pane's window drops what is queued and frees waiting writers,
 * as a print to a closed pane is dropped. Other threads still must not
 * print while holding card_lock: a full queue waits for the GUI thread.
 */
#include "console/console.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "console/pane_streams.h"

/* A record in the queue: its text length, the text, a NUL the line
   discipline may store at text[length]. */
static const int PANE_RECORD_EXTRA = (int)sizeof(int) + 1;

static int pane_on_gui_thread(void) {
    return GetCurrentThreadId() == app.gui.gui_thread_id;
}

void pane_reset(int pane) {
    PaneState *p = &app.gui.panes[pane];

    pane_lines_reset(&p->lines);
    p->insert_start = 0;
    p->insert_end = 0;
}

/* A full pane holds 599 lines of up to 122 characters, above the edit
   control's default limit of about 32,000 characters. */
void pane_edit_prepare(HWND edit) {
    SendMessageA(edit, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
}

static void pane_read_selection(HWND edit, PaneState *p) {
    DWORD start = 0, end = 0;

    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    p->insert_start = (int)start;
    p->insert_end = (int)end;
}

/* One update of the edit control: the completed lines go where the last
   insertion ended, or replace everything after a rebuild. Either way the
   caret ends after them and the control scrolls them into view. */
static void pane_show_change(HWND edit, PaneState *p) {
    const PaneChange *change = &p->change;

    if (!change->rebuilt && change->length == 0)
        return;
    if (change->rebuilt)
        SendMessageA(edit, EM_SETSEL, 0, -1);
    else
        SendMessageA(edit, EM_SETSEL, p->insert_start, p->insert_end);
    SendMessageA(edit, EM_REPLACESEL, FALSE, (LPARAM)change->text);
    pane_read_selection(edit, p);
}

int pane_append(HWND edit, char *text, int length, int pane) {
    PaneState *p = &app.gui.panes[pane];

    pane_change_clear(&p->change);
    pane_lines_feed(&p->lines, text, length, &p->change);
    pane_show_change(edit, p);
    return length;
}

/* Takes the half writers fill, under the lock; 0 when it is empty. */
static int pane_queue_take(int pane, char **records, int *fill, unsigned *taken) {
    PaneState *p = &app.gui.panes[pane];
    int took = 0;

    EnterCriticalSection(&app.gui.pane_queue_lock[pane]);
    p->drain_posted = 0;
    if (p->queue_fill > 0) {
        *records = p->queue[p->queue_side];
        *fill = p->queue_fill;
        *taken = p->queued_count;
        p->queue_side ^= 1;
        p->queue_fill = 0;
        took = 1;
        WakeAllConditionVariable(&app.gui.pane_queue_space[pane]);
    }
    LeaveCriticalSection(&app.gui.pane_queue_lock[pane]);
    return took;
}

static void pane_feed_records(PaneState *p, char *records, int fill) {
    int at = 0;

    while (at + PANE_RECORD_EXTRA <= fill) {
        int length;
        memcpy(&length, records + at, sizeof length);
        pane_lines_feed(&p->lines, records + at + sizeof length, length, &p->change);
        at += length + PANE_RECORD_EXTRA;
    }
}

static void pane_mark_shown(int pane, unsigned taken) {
    PaneState *p = &app.gui.panes[pane];

    EnterCriticalSection(&app.gui.pane_queue_lock[pane]);
    if ((int)(taken - p->shown_count) > 0)
        p->shown_count = taken;
    WakeAllConditionVariable(&app.gui.pane_queue_shown[pane]);
    LeaveCriticalSection(&app.gui.pane_queue_lock[pane]);
}

/* Time to leave between a display update that took cost ms and the next. */
static DWORD pane_pace_after(DWORD cost) {
    DWORD pace = cost * PANE_PACE_FACTOR;

    if (pace < PANE_PACE_MS)
        return PANE_PACE_MS;
    return pace > PANE_PACE_MAX_MS ? PANE_PACE_MAX_MS : pace;
}

/* GUI thread: shows everything queued with one update of the control. A
   writer may refill the other half while this one is fed; a few rounds
   catch up with it without starving the message loop. */
static void pane_drain(int pane) {
    PaneState *p = &app.gui.panes[pane];
    unsigned taken = 0;
    int rounds = 0;
    char *records;
    int fill;

    pane_change_clear(&p->change);
    while (rounds < 4 && pane_queue_take(pane, &records, &fill, &taken)) {
        pane_feed_records(p, records, fill);
        rounds++;
    }
    if (!rounds)
        return;
    DWORD start = GetTickCount();
    if (p->edit)
        pane_show_change(p->edit, p);
    p->shown_tick = GetTickCount();
    p->pace_ms = pane_pace_after(p->shown_tick - start);
    pane_mark_shown(pane, taken);
}

static void pane_drain_timer_stop(int pane) {
    if (!app.gui.panes[pane].drain_timer)
        return;
    if (app.gui.frame_window)
        KillTimer(app.gui.frame_window, PANE_DRAIN_TIMER + pane);
    app.gui.panes[pane].drain_timer = 0;
}

/* The frame's WM_PANE_PRINT: drain now, or when the pace allows; at once
   for a writer that waits on a full queue. */
LRESULT pane_drain_message(WPARAM wparam, LPARAM lparam) {
    int pane = (int)wparam;

    if (pane < 0 || pane >= PANE_COUNT)
        return 0;
    PaneState *p = &app.gui.panes[pane];
    if (lparam == PANE_DRAIN_NOW) { /* a writer waits on a full queue */
        pane_drain_timer_stop(pane);
        pane_drain(pane);
        return 0;
    }
    DWORD since = GetTickCount() - p->shown_tick;
    DWORD pace = p->pace_ms ? p->pace_ms : PANE_PACE_MS;
    if (since >= pace) {
        pane_drain_timer_stop(pane);
        pane_drain(pane);
    } else if (!p->drain_timer && app.gui.frame_window) {
        p->drain_timer =
            SetTimer(app.gui.frame_window, PANE_DRAIN_TIMER + pane, pace - since, NULL) != 0;
        if (!p->drain_timer)
            pane_drain(pane);
    }
    return 0;
}

void pane_drain_timer(UINT_PTR id) {
    int pane = (int)(id - PANE_DRAIN_TIMER);

    if (pane < 0 || pane >= PANE_COUNT)
        return;
    pane_drain_timer_stop(pane);
    pane_drain(pane);
}

void pane_open(int pane, HWND window, HWND edit) {
    PaneState *p = &app.gui.panes[pane];

    pane_reset(pane);
    EnterCriticalSection(&app.gui.pane_queue_lock[pane]);
    p->window = window;
    p->edit = edit;
    LeaveCriticalSection(&app.gui.pane_queue_lock[pane]);
}

void pane_close(int pane) {
    PaneState *p = &app.gui.panes[pane];

    EnterCriticalSection(&app.gui.pane_queue_lock[pane]);
    p->window = 0;
    p->edit = 0;
    p->queue_fill = 0;
    p->drain_posted = 0;
    p->shown_count = p->queued_count;
    WakeAllConditionVariable(&app.gui.pane_queue_space[pane]);
    WakeAllConditionVariable(&app.gui.pane_queue_shown[pane]);
    LeaveCriticalSection(&app.gui.pane_queue_lock[pane]);
    pane_drain_timer_stop(pane);
}

void pane_close_all(void) {
    for (int pane = 0; pane < PANE_COUNT; pane++)
        pane_close(pane);
}

/* Waits until the pane has shown every print queued before the call, or
   until it closes. On the GUI thread that is a drain. */
void pane_flush(int pane) {
    PaneState *p = &app.gui.panes[pane];

    if (pane < 0 || pane >= PANE_COUNT)
        return;
    if (pane_on_gui_thread()) {
        pane_drain_timer_stop(pane);
        pane_drain(pane);
        return;
    }
    EnterCriticalSection(&app.gui.pane_queue_lock[pane]);
    unsigned target = p->queued_count;
    while (p->edit && (int)(p->shown_count - target) < 0)
        SleepConditionVariableCS(&app.gui.pane_queue_shown[pane], &app.gui.pane_queue_lock[pane],
                                 INFINITE);
    LeaveCriticalSection(&app.gui.pane_queue_lock[pane]);
}

/* GUI thread: waits for a thread that may be printing. Its prints may wait
   for room in a queue, so the queues are drained while waiting. */
DWORD pane_wait_thread(HANDLE thread) {
    DWORD result;

    while ((result = WaitForSingleObject(thread, 10)) == WAIT_TIMEOUT)
        pane_drain_all();
    return result;
}

void pane_drain_all(void) {
    if (!pane_on_gui_thread())
        return;
    for (int pane = 0; pane < PANE_COUNT; pane++)
        pane_drain(pane);
}

/* One record into the queue, waiting for room if needed (the GUI thread
   makes the room itself). Returns 0 (and queues nothing) when the pane has
   no window or no frame is there to show it. */
static int pane_queue_text(int pane, const char *text, int length) {
    PaneState *p = &app.gui.panes[pane];
    CRITICAL_SECTION *lock = &app.gui.pane_queue_lock[pane];
    int need = length + PANE_RECORD_EXTRA;
    HWND post_to = 0;
    int queued = 0;

    EnterCriticalSection(lock);
    while (p->edit && app.gui.frame_window && p->queue_fill > 0 &&
           p->queue_fill + need > p->queue_limit) {
        if (pane_on_gui_thread()) { /* it cannot wait for itself */
            LeaveCriticalSection(lock);
            pane_drain_timer_stop(pane);
            pane_drain(pane);
            EnterCriticalSection(lock);
            continue;
        }
        /* Full: ask for a drain again now and then, so that a request lost
           or held back by the pacing cannot leave this writer waiting. */
        if (!SleepConditionVariableCS(&app.gui.pane_queue_space[pane], lock, PANE_FULL_RETRY_MS) &&
            app.gui.frame_window)
            PostMessageA(app.gui.frame_window, WM_PANE_PRINT, (WPARAM)pane, PANE_DRAIN_NOW);
    }
    if (p->edit && app.gui.frame_window) {
        char *at = p->queue[p->queue_side] + p->queue_fill;
        memcpy(at, &length, sizeof length);
        memcpy(at + sizeof length, text, (size_t)length);
        at[sizeof length + length] = 0;
        p->queue_fill += need;
        p->queued_count++;
        if (!p->drain_posted)
            post_to = app.gui.frame_window;
        p->drain_posted = 1;
        queued = 1;
    }
    LeaveCriticalSection(lock);
    if (post_to)
        PostMessageA(post_to, WM_PANE_PRINT, (WPARAM)pane, 0);
    return queued ? length : 0;
}

/* GUI thread without a frame: what is queued first, then this text at once,
   copied into the pane's format buffer (the line discipline writes into it). */
static int pane_show_now(int pane, const char *text, int length) {
    PaneState *p = &app.gui.panes[pane];

    pane_drain_timer_stop(pane);
    pane_drain(pane);
    if (!p->edit)
        return 0;
    if (text != p->format)
        memmove(p->format, text, (size_t)length);
    return pane_append(p->edit, p->format, length, pane);
}

/* Hands already formatted text to the pane, from any thread. */
int pane_print_text(int pane, const char *text, int length) {
    if (pane < 0 || pane >= PANE_COUNT || !text || length < 0 || !app.gui.panes[pane].edit)
        return 0;
    if (length > PANE_FORMAT_SIZE - 1)
        length = PANE_FORMAT_SIZE - 1;
    if (pane_on_gui_thread() && !app.gui.frame_window)
        return pane_show_now(pane, text, length);
    return pane_queue_text(pane, text, length);
}

/* Formats into buffer (PANE_FORMAT_SIZE bytes). A message that does not fit
   is cut to its first 63,999 characters, and that is the length returned. */
static int pane_format(char *buffer, const char *format, va_list args) {
    int length = vsnprintf(buffer, PANE_FORMAT_SIZE, format, args);

    if (length < 0)
        return 0;
    if (length > PANE_FORMAT_SIZE - 1)
        length = PANE_FORMAT_SIZE - 1;
    return length;
}

/* 1 when the pane's prints go to a stream instead of its window. */
static int pane_stream_of(int pane) {
    return pane_streams && pane_streams->pane_stream[pane];
}

/* The one entry every print goes through: format, then hand over. */
int pane_vprint(int pane, const char *format, va_list args) {
    if (pane < 0 || pane >= PANE_STREAM_COUNT)
        return 0;
    if (pane_stream_of(pane))
        return pane_stream_vprint(pane, format, args);
    if (pane >= PANE_COUNT || !app.gui.panes[pane].edit)
        return 0;
    if (pane_on_gui_thread()) {
        char *buffer = app.gui.panes[pane].format;
        return pane_print_text(pane, buffer, pane_format(buffer, format, args));
    }
    char buffer[PANE_FORMAT_SIZE];
    return pane_print_text(pane, buffer, pane_format(buffer, format, args));
}

int pane_takes_prints(int pane) {
    if (pane < 0 || pane >= PANE_STREAM_COUNT)
        return 0;
    return pane_stream_of(pane) || (pane < PANE_COUNT && app.gui.panes[pane].edit);
}

void pane_write(int pane, const char *text, size_t length) {
    const size_t piece_max = PANE_FORMAT_SIZE - 1;

    if (pane < 0 || pane >= PANE_STREAM_COUNT)
        return;
    if (pane_stream_of(pane)) {
        pane_stream_put(pane, text, length);
        return;
    }
    for (size_t at = 0; pane < PANE_COUNT && at < length; at += piece_max) {
        size_t piece = length - at < piece_max ? length - at : piece_max;
        pane_print_text(pane, text + at, (int)piece);
    }
}
