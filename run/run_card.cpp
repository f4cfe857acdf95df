/*
 * run_card.cpp: a reader's card, on the reader's own thread. Each reader's
 * session has a context of its own. This plays the part of the reader
 * window's state machine without a window: wait for the card, connect,
 * read the ATR and mark the card ready, so that the interpreter reaches it
 * through card_exchange as in the GUI.
 *
 * A context dies with the service (Windows stops the service when the last
 * reader is unplugged; pcscd may be restarted): such a status drops it, and
 * the next call makes a new one. A service that has not started yet is the
 * same as no reader yet. What a status means is the connection layer's
 * one reading (pcsc_status_meaning), which the reader window shares.
 *
 * Messages go to standard error only (never to a pane); standard output is
 * the readers' panes'.
 */
#include "run/run.h"

#include <string.h>

#include "app/app_state.h"
#include "app/text_form.h"
#include "card/card_connect.h"

/* 1 when the session has a PC/SC context (made now if needed). */
static int run_context_ready(CardSession *session) {
    if (session->card_state != CARD_NO_CONTEXT)
        return 1;
    platform_lock_enter(&session->card_lock);
    card_context_open(session, app.sc_scope);
    platform_lock_leave(&session->card_lock);
    return session->card_state != CARD_NO_CONTEXT;
}

/* 1 for a status that means the context is of no use any more; the
   context is then dropped, and the next call makes a new one. */
static int run_context_dead(CardSession *session, LONG status) {
    if (pcsc_status_meaning(status) != PCSC_SERVICE_GONE)
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

/* What a failed wait means: the wish unmet at its end (a timeout, or an
   error after a short pause so that a loop cannot spin), the reader gone,
   or no service. The runner, unlike the reader window, counts every
   status that means a reader gone as the reader's end. */
static int run_card_wait_failed(CardSession *session, LONG status, int want, unsigned ms) {
    int unmet = want ? RUN_CARD_ABSENT : RUN_CARD_PRESENT;

    if (status == SCARD_E_TIMEOUT)
        return unmet;
    if (pcsc_status_meaning(status) == PCSC_READER_GONE)
        return RUN_READER_GONE;
    if (run_context_dead(session, status))
        return RUN_NO_SERVICE;
    platform_sleep_ms(ms < RUN_ERROR_PAUSE_MS ? ms : (unsigned)RUN_ERROR_PAUSE_MS);
    return unmet;
}

int run_card_wait(CardSession *session, int want, unsigned ms) {
    SCARD_READERSTATEA state;

    if (!run_context_ready(session))
        return RUN_NO_SERVICE;
    memset(&state, 0, sizeof state);
    state.szReader = session->reader_name;
    LONG status = card_status_change(session, 0, &state, 1);
    if (status == SCARD_S_SUCCESS) {
        int seen = run_card_seen(&state, want);
        if (seen != RUN_NOT_YET)
            return seen;
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        status = card_status_change(session, ms, &state, 1);
        if (status == SCARD_S_SUCCESS) {
            seen = run_card_seen(&state, want);
            return seen == RUN_NOT_YET ? (want ? RUN_CARD_ABSENT : RUN_CARD_PRESENT) : seen;
        }
    }
    return run_card_wait_failed(session, status, want, ms);
}

LONG run_card_connect(CardSession *session, int *atr_failed) {
    LONG status = SCARD_E_NO_SERVICE;
    DWORD state = 0;

    *atr_failed = 0;
    if (!run_context_ready(session))
        return status;
    platform_lock_enter(&session->card_lock);
    status = card_connect(session, app.sc_protocols);
    if (status == SCARD_S_SUCCESS) {
        status = card_read_atr(session, &state);
        *atr_failed = status != SCARD_S_SUCCESS;
        if (status == SCARD_S_SUCCESS)
            session->card_state = CARD_READY;
        else
            card_disconnect(session);
    }
    platform_lock_leave(&session->card_lock);
    if (status != SCARD_S_SUCCESS)
        run_context_dead(session, status);
    return status;
}

void run_card_disconnect(CardSession *session) {
    platform_lock_enter(&session->card_lock);
    card_disconnect(session);
    platform_lock_leave(&session->card_lock);
}

void run_card_close(CardSession *session) {
    platform_lock_enter(&session->card_lock);
    card_context_close(session);
    platform_lock_leave(&session->card_lock);
}

void run_card_atr_text(const CardSession *session, char *text) {
    int length = session->card_atr_len;

    if (length < 0 || length > CARD_ATR_SIZE)
        length = 0;
    hex_run_put(text, session->card_atr, (size_t)length);
    text[2 * length] = 0;
}
