/*
 * run_card.cpp: the runner's one card connection. It plays the part of the
 * reader window's state machine without a window: a context, the reader
 * list, a reader chosen by name, by index or as the first that holds a
 * card, a wait for the card when asked, a connect, and the card fields of
 * AppState set as a card that became ready leaves them. From then on the
 * script interpreter reaches the card through card_transmit as in the GUI.
 *
 * Design: the runner has one thread, which later runs the scripts too, so
 * holding card_lock through the search and the wait for a card keeps no one
 * waiting; the card fields are still written under it because
 * card_transmit reads them under that lock. Messages go to standard error
 * only (never to a pane); standard output is the reader pane's.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "card/reader_list.h"
#include "card/pcsc.h"

enum {
    RUN_WAIT_READERS = 64,   /* readers watched at once while waiting */
    RUN_WAIT_SLICE_MS = 500, /* longest single wait: the reader list is read again after it */
};

/* Lists the readers into reader_names and offered_readers; returns their count. */
static int run_list_readers(void) {
    reader_list_names();
    return reader_list_all();
}

/* The readers to look at: the one -r names (by name first, then by
   index), or every reader. Returns how many, 0 when -r names none. */
static int run_candidates(const RunArgs *args, const char **list) {
    int count = run_list_readers();
    int index = -1;

    if (!args->reader) {
        if (count > RUN_WAIT_READERS)
            count = RUN_WAIT_READERS;
        memcpy(list, app.offered_readers, (size_t)count * sizeof list[0]);
        return count;
    }
    for (int i = 0; i < count; i++) {
        if (strcmp(app.offered_readers[i], args->reader) == 0) {
            list[0] = app.offered_readers[i];
            return 1;
        }
    }
    if (run_reader_index(args->reader, &index) && index < count) {
        list[0] = app.offered_readers[index];
        return 1;
    }
    return 0;
}

/* Connects to the first candidate that holds a card; 1 on success, with
   the chosen name moved to the start of reader_names. */
static int run_connect_first(CardSession *session, const char **list, int count) {
    SCARD_READERSTATEA states[RUN_WAIT_READERS];

    memset(states, 0, sizeof states);
    for (int i = 0; i < count; i++)
        states[i].szReader = list[i];
    if (pcsc_get_status_change(session->sc_context, 0, states, (DWORD)count) != SCARD_S_SUCCESS)
        return 0;
    for (int i = 0; i < count; i++) {
        if (!(states[i].dwEventState & SCARD_STATE_PRESENT))
            continue;
        if (pcsc_connect(session->sc_context, list[i], app.sc_protocols, &session->card_handle,
                         &session->active_protocol) != SCARD_S_SUCCESS)
            continue;
        snprintf(session->reader_names, sizeof session->reader_names, "%s", list[i]);
        return 1;
    }
    return 0;
}

/* Blocks until a candidate's state changes or ms pass. */
static void run_wait_change(CardSession *session, const char **list, int count, unsigned ms) {
    SCARD_READERSTATEA states[RUN_WAIT_READERS];

    if (count == 0) {
        platform_sleep_ms(ms);
        return;
    }
    memset(states, 0, sizeof states);
    for (int i = 0; i < count; i++)
        states[i].szReader = list[i];
    if (pcsc_get_status_change(session->sc_context, 0, states, (DWORD)count) != SCARD_S_SUCCESS) {
        platform_sleep_ms(ms);
        return;
    }
    for (int i = 0; i < count; i++)
        states[i].dwCurrentState = states[i].dwEventState & ~SCARD_STATE_CHANGED;
    if (pcsc_get_status_change(session->sc_context, ms, states, (DWORD)count) != SCARD_S_SUCCESS)
        platform_sleep_ms(ms < 50 ? ms : 50u);
}

/* Reads the ATR and marks the card ready, as the ATR step does. */
static void run_card_ready(CardSession *session) {
    unsigned char atr[CARD_ATR_SIZE];
    DWORD length = sizeof atr;
    DWORD state = 0;

    pcsc_state(session->card_handle, &state, &session->active_protocol, atr, &length);
    if (length > CARD_ATR_SIZE)
        length = CARD_ATR_SIZE;
    memcpy(session->card_atr, atr, length);
    session->card_atr_len = (int)length;
    session->card_state = CARD_READY;
}

static void run_report_missing(const RunArgs *args, int candidates) {
    if (args->reader && candidates == 0)
        fprintf(app.run_err, "vorlane-run: no reader %s\n", args->reader);
    else if (args->reader)
        fprintf(app.run_err, "vorlane-run: no card in reader %s\n", args->reader);
    else if (candidates == 0)
        fprintf(app.run_err, "vorlane-run: no reader\n");
    else
        fprintf(app.run_err, "vorlane-run: no card in any reader\n");
}

/* Looks for the card until it connects or the wait is over. */
static int run_find_card(CardSession *session, const RunArgs *args) {
    const char *list[RUN_WAIT_READERS];
    unsigned start = platform_tick_ms();
    unsigned limit = (unsigned)args->wait_seconds * 1000u;

    for (;;) {
        int count = run_candidates(args, list);
        if (count > 0 && run_connect_first(session, list, count))
            return 1;
        unsigned spent = platform_tick_ms() - start;
        if (spent >= limit) {
            run_report_missing(args, count);
            return 0;
        }
        unsigned left = limit - spent;
        run_wait_change(session, list, count,
                        left < (unsigned)RUN_WAIT_SLICE_MS ? left : (unsigned)RUN_WAIT_SLICE_MS);
    }
}

int run_card_open(CardSession *session, const RunArgs *args) {
    LONG status;
    int found;

    platform_lock_enter(&session->card_lock);
    session->sc_context = 0;
    session->card_handle = 0;
    status = pcsc_establish(app.sc_scope, &session->sc_context);
    found = status == SCARD_S_SUCCESS && run_find_card(session, args);
    if (found)
        run_card_ready(session);
    else if (status == SCARD_S_SUCCESS)
        session->card_state = CARD_CONTEXT;
    platform_lock_leave(&session->card_lock);
    if (status != SCARD_S_SUCCESS)
        fprintf(app.run_err, "vorlane-run: no PC/SC service (error %8.8X)\n", (unsigned)status);
    return found;
}

void run_card_close(CardSession *session) {
    platform_lock_enter(&session->card_lock);
    if (session->card_state == CARD_READY)
        pcsc_disconnect(session->card_handle);
    if (session->card_state != CARD_NO_CONTEXT)
        pcsc_release(session->sc_context);
    session->card_handle = 0;
    session->sc_context = 0;
    session->card_state = CARD_NO_CONTEXT;
    platform_lock_leave(&session->card_lock);
}
