/*
 * run_card.cpp: the runner's card connections. Each reader's session has a
 * context of its own; the main thread has one more for the reader list.
 * This plays the part of the reader window's state machine without a
 * window: wait for the card, connect, read the ATR and mark the card ready,
 * so that the interpreter reaches it through card_exchange as in the GUI.
 *
 * A context dies with the service (Windows stops the service when the last
 * reader is unplugged; pcscd may be restarted): such a status drops it, and
 * the next call makes a new one. A service that has not started yet is the
 * same as no reader yet.
 *
 * Messages go to standard error only (never to a pane); standard output is
 * the readers' panes'.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "app/text_form.h"
#include "card/pcsc.h"

static const char run_pnp_name[] = "\\\\?PnP?\\Notification";

/* The statuses of a context that is of no use any more. */
static int run_service_gone(LONG status) {
    return status == SCARD_E_NO_SERVICE || status == SCARD_E_SERVICE_STOPPED ||
           status == SCARD_E_INVALID_HANDLE;
}

int run_context_ready(CardSession *session) {
    if (session->card_state != CARD_NO_CONTEXT)
        return 1;
    platform_lock_enter(&session->card_lock);
    session->sc_context = 0;
    if (pcsc_establish(app.sc_scope, &session->sc_context) == SCARD_S_SUCCESS)
        session->card_state = CARD_CONTEXT;
    platform_lock_leave(&session->card_lock);
    return session->card_state != CARD_NO_CONTEXT;
}

int run_context_dead(CardSession *session, LONG status) {
    if (!run_service_gone(status))
        return 0;
    run_card_close(session);
    return 1;
}

enum { RUN_NOT_YET = -3 }; /* the reader is there, the card not as wished */

/* The reader's state as a wait sees it, from one status query. */
static int run_card_seen(const SCARD_READERSTATEA *state, int want) {
    if (state->dwEventState & (SCARD_STATE_UNKNOWN | SCARD_STATE_IGNORE))
        return RUN_READER_GONE;
    int present = (state->dwEventState & SCARD_STATE_PRESENT) != 0;
    if (present != want)
        return RUN_NOT_YET;
    return present ? RUN_CARD_PRESENT : RUN_CARD_ABSENT;
}

int run_card_wait(CardSession *session, int want, unsigned ms) {
    SCARD_READERSTATEA state;

    if (!run_context_ready(session))
        return RUN_NO_SERVICE;
    memset(&state, 0, sizeof state);
    state.szReader = session->reader_names;
    LONG status = pcsc_get_status_change(session->sc_context, 0, &state, 1);
    if (status == SCARD_S_SUCCESS) {
        int seen = run_card_seen(&state, want);
        if (seen != RUN_NOT_YET)
            return seen;
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        status = pcsc_get_status_change(session->sc_context, ms, &state, 1);
        if (status == SCARD_S_SUCCESS) {
            seen = run_card_seen(&state, want);
            return seen == RUN_NOT_YET ? (want ? RUN_CARD_ABSENT : RUN_CARD_PRESENT) : seen;
        }
    }
    if (status == SCARD_E_TIMEOUT)
        return want ? RUN_CARD_ABSENT : RUN_CARD_PRESENT;
    if (status == SCARD_E_UNKNOWN_READER || status == SCARD_E_READER_UNAVAILABLE)
        return RUN_READER_GONE;
    if (run_context_dead(session, status))
        return RUN_NO_SERVICE;
    platform_sleep_ms(ms < 50 ? ms : 50u); /* an error that does not wait must not spin */
    return want ? RUN_CARD_ABSENT : RUN_CARD_PRESENT;
}

/* Under card_lock: reads the ATR and marks the card ready, as the ATR step
   of the reader window does. */
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

LONG run_card_connect(CardSession *session) {
    LONG status = SCARD_E_NO_SERVICE;

    if (!run_context_ready(session))
        return status;
    platform_lock_enter(&session->card_lock);
    session->card_handle = 0;
    status = pcsc_connect(session->sc_context, session->reader_names, app.sc_protocols,
                          &session->card_handle, &session->active_protocol);
    if (status == SCARD_S_SUCCESS)
        run_card_ready(session);
    platform_lock_leave(&session->card_lock);
    if (status != SCARD_S_SUCCESS)
        run_context_dead(session, status);
    return status;
}

void run_card_disconnect(CardSession *session) {
    platform_lock_enter(&session->card_lock);
    if (session->card_state == CARD_READY)
        pcsc_disconnect(session->card_handle);
    session->card_handle = 0;
    if (session->card_state != CARD_NO_CONTEXT)
        session->card_state = CARD_CONTEXT;
    platform_lock_leave(&session->card_lock);
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

void run_card_atr_text(const CardSession *session, char *text) {
    int length = session->card_atr_len;

    if (length < 0 || length > CARD_ATR_SIZE)
        length = 0;
    hex_run_put(text, session->card_atr, (size_t)length);
    text[2 * length] = 0;
}

/* The list's multi-string split into names; the last byte is kept 0, so
   every name is terminated. */
static int run_split_names(char *buffer, const char **names) {
    size_t at = 0;
    int count = 0;

    buffer[READER_NAMES_SIZE - 1] = 0;
    while (count < READER_LIST_MAX && at < READER_NAMES_SIZE && buffer[at]) {
        names[count++] = buffer + at;
        at += strlen(buffer + at) + 1;
    }
    return count;
}

int run_list_readers(SCARDCONTEXT *context, char *buffer, const char **names, LONG *service) {
    DWORD length = READER_NAMES_SIZE;
    LONG status = SCARD_S_SUCCESS;

    if (!*context && (status = pcsc_establish(app.sc_scope, context)) != SCARD_S_SUCCESS) {
        *context = 0;
        *service = status;
        return -1;
    }
    buffer[0] = 0;
    status = pcsc_list_readers(*context, buffer, &length);
    if (status == SCARD_S_SUCCESS)
        return run_split_names(buffer, names);
    if (status == SCARD_E_NO_READERS_AVAILABLE)
        return 0;
    if (run_service_gone(status)) {
        pcsc_release(*context);
        *context = 0;
        *service = status;
        return -1;
    }
    return 0;
}

void run_cards_present(SCARDCONTEXT context, const char *const *names, int count, int *present) {
    enum { BATCH = 64 };
    SCARD_READERSTATEA states[BATCH];

    for (int first = 0; first < count; first += BATCH) {
        int n = count - first < BATCH ? count - first : BATCH;
        memset(states, 0, sizeof states);
        for (int i = 0; i < n; i++)
            states[i].szReader = names[first + i];
        LONG status = pcsc_get_status_change(context, 0, states, (DWORD)n);
        for (int i = 0; i < n; i++)
            present[first + i] =
                status == SCARD_S_SUCCESS && (states[i].dwEventState & SCARD_STATE_PRESENT) != 0;
    }
}

void run_wait_change(SCARDCONTEXT context, const char *const *names, int count, unsigned ms) {
    enum { WATCHED = 64 };
    SCARD_READERSTATEA states[WATCHED + 1];
    int n = count < WATCHED ? count : WATCHED;

    memset(states, 0, sizeof states);
    for (int i = 0; i < n; i++)
        states[i].szReader = names[i];
    states[n].szReader = run_pnp_name; /* readers plugged in or out */
    if (!context || pcsc_get_status_change(context, 0, states, (DWORD)n + 1) != SCARD_S_SUCCESS) {
        platform_sleep_ms(ms);
        return;
    }
    for (int i = 0; i <= n; i++)
        states[i].dwCurrentState = states[i].dwEventState & ~SCARD_STATE_CHANGED;
    LONG status = pcsc_get_status_change(context, ms, states, (DWORD)n + 1);
    if (status != SCARD_S_SUCCESS && status != SCARD_E_TIMEOUT)
        platform_sleep_ms(ms < 50 ? ms : 50u);
}
