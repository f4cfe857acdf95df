/*
 * card_transmit.cpp: the one routine through which every command APDU
 * reaches the card, with its Console trace: a numbered line per exchange
 * with the command header, the status word, the time the platform call
 * took, the running total since the last script start and a two-slot
 * average of repeated identical exchanges.
 *
 * Every exchange works on one card session (card/card_session.h): its
 * connection, its counters and the panes its lines go to. The caller tells
 * the capacity of the buffer that takes the response; the platform is
 * asked for no more, so a longer response fails with
 * SCARD_E_INSUFFICIENT_BUFFER instead of being cut.
 *
 * Design: card_lock covers the readiness test, the platform call, both
 * clock readings and the exchange number. The total and the statistics are
 * updated under xfer_lock, taken inside card_lock (app/app_state.h), so
 * exchanges from several threads never lose an update. Nothing is printed
 * while either lock is held: a worker's print waits for the GUI thread.
 * A session that records (card/card_record.h) gets each exchange that
 * reached the service after the locks are left, on its own thread.
 */
#include "card/card_transmit.h"

#include <string.h>

#include "app/app_state.h" /* the GUI's session, the test clock */
#include "card/card_record.h"
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
    int received;                           /* response bytes, 0..capacity; 0 after a failure */
    int number;                             /* the exchange's number, 0..999 */
    int start, end, elapsed;                /* ms within the hour, and their difference */
    int total, slot, average;               /* after counting the exchange */
    char script[SCRIPT_FILE_NAME_SIZE];     /* the run's name for the header, if new_script */
    unsigned char *response;                /* where the platform writes the response */
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
    CardSession *session = gui_session();

    platform_lock_enter(&session->xfer_lock);
    xfer_stats_reset(session->xfer_stats, &session->xfer_stats_next);
    platform_lock_leave(&session->xfer_lock);
}

/* Under card_lock: a total of 0 marks a new script, which numbers its
   exchanges from 001 again; its name for the Console's header is copied
   under xfer_lock with the total, so it belongs to the same run. An
   exchange that took 0 ms leaves the total at 0, so the next one prints
   the header again and restarts at 001: kept, since the Console has always
   numbered runs by their total. */
static int xfer_script_starts(CardSession *session, XferCall *call) {
    platform_lock_enter(&session->xfer_lock);
    int starts = session->xfer_total_ms == 0;
    if (starts)
        memcpy(call->script, session->script_name, sizeof call->script);
    platform_lock_leave(&session->xfer_lock);
    if (starts)
        session->xfer_counter = 0;
    return starts;
}

/* Under card_lock: adds the exchange to the total and the statistics. */
static void xfer_count(CardSession *session, XferCall *call) {
    unsigned char status_word[2];

    xfer_status_word(status_word, call->response, call->received);
    platform_lock_enter(&session->xfer_lock);
    session->xfer_total_ms = xfer_add_ms(session->xfer_total_ms, call->elapsed);
    call->total = session->xfer_total_ms;
    call->slot = xfer_stats_record(session->xfer_stats, &session->xfer_stats_next, call->header,
                                   status_word, call->elapsed, &call->average);
    platform_lock_leave(&session->xfer_lock);
}

/* Under card_lock: the platform call between two clock readings, asking
   for at most capacity bytes. A failed call has no response, whatever
   length the platform left; a platform that claims more than it was
   asked for fails as one that found the room short. */
static void xfer_exchange(CardSession *session, XferCall *call, const unsigned char *command,
                          int length, int capacity) {
    DWORD received = (DWORD)capacity;

    call->start = xfer_clock_read();
    const PcscProvider *pcsc = session->pcsc;
    call->status = pcsc->transmit(pcsc->self, session->card_handle, session->active_protocol,
                                  command, (DWORD)length, call->response, &received);
    call->end = xfer_clock_read();
    if (call->status == SCARD_S_SUCCESS && received > (DWORD)capacity)
        call->status = SCARD_E_INSUFFICIENT_BUFFER;
    if (call->status != SCARD_S_SUCCESS)
        received = 0;
    call->received = (int)received;
    call->sent = 1;
    session->xfer_counter = (session->xfer_counter + 1) % 1000;
    call->number = session->xfer_counter;
    call->elapsed = xfer_elapsed_ms(call->start, call->end);
    xfer_count(session, call);
}

static void xfer_print_line(const CardSession *session, const XferCall *call) {
    char line[XFER_LINE_SIZE];

    if (!pane_takes_prints(session->console_pane))
        return; /* no Console and no stream: the line would be dropped anyway */
    int used = xfer_line_head(line, sizeof line, call->number, call->header, call->header_length,
                              call->response, call->received);
    xfer_line_tail(line, sizeof line, used, call->elapsed, call->end, call->start, call->total,
                   call->slot, call->average);
    pane_print(session->console_pane, "%s", line);
}

static void xfer_unlock(CardSession *session) {
    if (app.card_unlock_hook)
        app.card_unlock_hook(session);
    else
        platform_lock_leave(&session->card_lock);
}

/* The exchange with the response written to call->response. A negative
   length or capacity, or one beyond the contract's largest, is refused with
   SCARD_E_INVALID_PARAMETER before anything is sent. */
static int xfer_call(CardSession *session, XferCall *call, const unsigned char *command, int length,
                     int capacity, int *error, int *elapsed_ms) {
    int valid = command && call->response && length >= 0 && length <= XFER_COMMAND_MAX &&
                capacity >= 0 && capacity <= XFER_RESPONSE_MAX;

    call->header_length = xfer_header_copy(call->header, valid ? command : NULL, length);
    call->sent = 0;
    if (error)
        *error = 0;
    platform_lock_enter(&session->card_lock);
    call->new_script = xfer_script_starts(session, call);
    if (valid && session->card_state == CARD_READY)
        xfer_exchange(session, call, command, length, capacity);
    xfer_unlock(session);

    if (call->new_script)
        pane_print(session->console_pane, "\r\nScript: %s\r\n\r\n", call->script);
    if (!valid) {
        if (error)
            *error = (int)SCARD_E_INVALID_PARAMETER;
        return -1;
    }
    if (!call->sent)
        return -1;
    if (session->record) /* the session's own thread, no lock held */
        card_record_exchange(session->record, command, length, call->response, call->received,
                             call->status);
    xfer_print_line(session, call);
    if (call->status != SCARD_S_SUCCESS) {
        if (error)
            *error = (int)call->status;
        return -1;
    }
    if (elapsed_ms)
        *elapsed_ms = call->elapsed;
    return call->received;
}

/* The response lands in a buffer of the call's own first, so that a failed
   exchange leaves the caller's command as it was. */
int card_exchange(CardSession *session, unsigned char *buffer, int length, int capacity, int *error,
                  int *elapsed_ms) {
    unsigned char response[XFER_RESPONSE_MAX];
    XferCall call;

    call.response = response;
    int received = xfer_call(session, &call, buffer, length, capacity, error, elapsed_ms);
    if (received > 0)
        memcpy(buffer, response, (size_t)received);
    return received;
}

int card_exchange_into(CardSession *session, const unsigned char *command, int length,
                       unsigned char *response, int capacity, int *error, int *elapsed_ms) {
    XferCall call;

    call.response = response;
    return xfer_call(session, &call, command, length, capacity, error, elapsed_ms);
}

int card_transmit(unsigned char *buffer, int length, int *error) {
    return card_exchange(gui_session(), buffer, length, CARD_TRANSMIT_CAPACITY, error, NULL);
}
