/*
 * card_transmit.cpp: the one routine through which every command APDU
 * reaches the card, with its Console trace: a numbered line per exchange
 * with the command header, the status word, the time the platform call
 * took, the running total since the last script start and a two-slot
 * average of repeated identical exchanges.
 *
 * Design: card_lock covers the readiness test, the platform call, both
 * clock readings and the exchange number. The total and the statistics are
 * updated under xfer_lock, taken inside card_lock (the lock order), so
 * exchanges from several threads never lose an update. Nothing is printed
 * while either lock is held: a worker's print waits for the GUI thread.
 */
#include "card/card_transmit.h"

#include <string.h>

#include "app/app_state.h"
#include "card/pcsc.h"
#include "card/xfer_line.h"
#include "console/pane_print.h"

/* One call of card_transmit */
struct XferCall {
    unsigned char header[XFER_HEADER_SIZE]; /* the command's first 5 bytes, zero-filled */
    int header_length;                      /* min(length, 5) */
    int new_script;                         /* the total was 0: the script header goes first */
    int sent;                               /* the platform was called */
    LONG status;                            /* its status code */
    int received;                           /* response bytes, 0..512; 0 after a failure */
    int number;                             /* the exchange's number, 0..999 */
    int start, end, elapsed;                /* ms within the hour, and their difference */
    int total, slot, average;               /* after counting the exchange */
    char script[SCRIPT_FILE_NAME_SIZE];     /* the run's name for the header, if new_script */
    unsigned char response[XFER_RESPONSE_MAX];
};

void xfer_clock_set(xfer_clock_fn clock) {
    app.xfer_clock = clock;
}

static int xfer_clock_read(void) {
    xfer_clock_fn clock = app.xfer_clock ? app.xfer_clock : wall_clock_read;
    long long seconds = 0;
    int milliseconds = 0;

    clock(&seconds, &milliseconds);
    return xfer_ms_in_hour(seconds, milliseconds);
}

void xfer_stats_clear(void) {
    platform_lock_enter(&app.xfer_lock);
    xfer_stats_reset(app.xfer_stats, &app.xfer_stats_next);
    platform_lock_leave(&app.xfer_lock);
}

/* Under card_lock: a total of 0 marks a new script, which numbers its
   exchanges from 001 again; its name for the Console's header is copied
   under xfer_lock with the total, so it belongs to the same run. An
   exchange that took 0 ms leaves the total at 0, so the next one prints
   the header again and restarts at 001: kept, since the Console has always
   numbered runs by their total. */
static int xfer_script_starts(XferCall *call) {
    platform_lock_enter(&app.xfer_lock);
    int starts = app.xfer_total_ms == 0;
    if (starts)
        memcpy(call->script, app.script_name, sizeof call->script);
    platform_lock_leave(&app.xfer_lock);
    if (starts)
        app.xfer_counter = 0;
    return starts;
}

/* Under card_lock: adds the exchange to the total and the statistics. */
static void xfer_count(XferCall *call) {
    unsigned char status_word[2];

    xfer_status_word(status_word, call->response, call->received);
    platform_lock_enter(&app.xfer_lock);
    app.xfer_total_ms = xfer_add_ms(app.xfer_total_ms, call->elapsed);
    call->total = app.xfer_total_ms;
    call->slot = xfer_stats_record(app.xfer_stats, &app.xfer_stats_next, call->header, status_word,
                                   call->elapsed, &call->average);
    platform_lock_leave(&app.xfer_lock);
}

/* Under card_lock: the platform call between two clock readings. A failed
   call has no response, whatever length the platform left. */
static void xfer_exchange(XferCall *call, const unsigned char *command, int length) {
    DWORD received = XFER_RESPONSE_MAX;

    call->start = xfer_clock_read();
    call->status = pcsc_transmit(app.card_handle, app.active_protocol, command, (DWORD)length,
                                 call->response, &received);
    call->end = xfer_clock_read();
    if (call->status != SCARD_S_SUCCESS)
        received = 0;
    if (received > XFER_RESPONSE_MAX)
        received = XFER_RESPONSE_MAX;
    call->received = (int)received;
    call->sent = 1;
    app.xfer_counter = (app.xfer_counter + 1) % 1000;
    call->number = app.xfer_counter;
    call->elapsed = xfer_elapsed_ms(call->start, call->end);
    xfer_count(call);
}

static void xfer_print_line(const XferCall *call) {
    char line[XFER_LINE_SIZE];

    if (!pane_takes_prints(PANE_CONSOLE))
        return; /* no Console and no stream: the line would be dropped anyway */
    int used = xfer_line_head(line, sizeof line, call->number, call->header, call->header_length,
                              call->response, call->received);
    xfer_line_tail(line, sizeof line, used, call->elapsed, call->end, call->start, call->total,
                   call->slot, call->average);
    console_print("%s", line);
}

/* A negative length, or one beyond the longest command APDU, is refused
   with SCARD_E_INVALID_PARAMETER before anything is sent. */
int card_transmit_timed(unsigned char *buffer, int length, int *error, int *elapsed_ms) {
    XferCall call;
    int valid = buffer && length >= 0 && length <= XFER_COMMAND_MAX;

    call.header_length = xfer_header_copy(call.header, valid ? buffer : NULL, length);
    call.sent = 0;
    if (error)
        *error = 0;
    platform_lock_enter(&app.card_lock);
    call.new_script = xfer_script_starts(&call);
    if (valid && app.card_state == CARD_READY)
        xfer_exchange(&call, buffer, length);
    if (app.card_unlock_hook)
        app.card_unlock_hook();
    else
        platform_lock_leave(&app.card_lock);

    if (call.new_script)
        console_print("\r\nScript: %s\r\n\r\n", call.script);
    if (!valid) {
        if (error)
            *error = (int)SCARD_E_INVALID_PARAMETER;
        return -1;
    }
    if (!call.sent)
        return -1;
    xfer_print_line(&call);
    if (call.status != SCARD_S_SUCCESS) {
        if (error)
            *error = (int)call.status;
        return -1;
    }
    memcpy(buffer, call.response, (size_t)call.received);
    if (elapsed_ms)
        *elapsed_ms = call.elapsed;
    return call.received;
}

int card_transmit(unsigned char *buffer, int length, int *error) {
    return card_transmit_timed(buffer, length, error, NULL);
}
