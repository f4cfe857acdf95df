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
 * Every call goes to the run's service (runner.pcsc) or the session's: the
 * platform's, or the replay readers' with --replay.
 *
 * Messages go to standard error only (never to a pane); standard output is
 * the readers' panes'.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "app/text_form.h"
#include "card/card_connect.h"
#include "card/pcsc.h"

static const char run_pnp_name[] = "\\\\?PnP?\\Notification";

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
    if (!card_service_dead(status))
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
    state.szReader = session->reader_name;
    LONG status = card_pcsc(session)->get_status_change(session->sc_context, 0, &state, 1);
    if (status == SCARD_S_SUCCESS) {
        int seen = run_card_seen(&state, want);
        if (seen != RUN_NOT_YET)
            return seen;
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        status = card_pcsc(session)->get_status_change(session->sc_context, ms, &state, 1);
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
    platform_sleep_ms(ms < RUN_ERROR_PAUSE_MS ? ms : (unsigned)RUN_ERROR_PAUSE_MS);
    return want ? RUN_CARD_ABSENT : RUN_CARD_PRESENT;
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

int run_list_readers(SCARDCONTEXT *context, char *buffer, const char **names, LONG *service) {
    DWORD length = READER_NAMES_SIZE;
    LONG status = SCARD_S_SUCCESS;

    if (!*context && (status = runner.pcsc->establish(app.sc_scope, context)) != SCARD_S_SUCCESS) {
        *context = 0;
        *service = status;
        return -1;
    }
    buffer[0] = 0;
    status = runner.pcsc->list_readers(*context, buffer, &length);
    if (status == SCARD_S_SUCCESS)
        return reader_names_split(buffer, READER_NAMES_SIZE, names, READER_LIST_MAX);
    if (status == SCARD_E_NO_READERS_AVAILABLE)
        return 0;
    if (card_service_dead(status)) {
        runner.pcsc->release(*context);
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
        LONG status = runner.pcsc->get_status_change(context, 0, states, (DWORD)n);
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
    if (!context ||
        runner.pcsc->get_status_change(context, 0, states, (DWORD)n + 1) != SCARD_S_SUCCESS) {
        platform_sleep_ms(ms);
        return;
    }
    for (int i = 0; i <= n; i++)
        states[i].dwCurrentState = states[i].dwEventState & ~SCARD_STATE_CHANGED;
    LONG status = runner.pcsc->get_status_change(context, ms, states, (DWORD)n + 1);
    if (status != SCARD_S_SUCCESS && status != SCARD_E_TIMEOUT)
        platform_sleep_ms(ms < RUN_ERROR_PAUSE_MS ? ms : (unsigned)RUN_ERROR_PAUSE_MS);
}

int run_list(void) {
    SCARDCONTEXT context = 0;
    LONG service = 0;
    char list[READER_NAMES_SIZE];
    const char *names[READER_LIST_MAX];

    int count = run_list_readers(&context, list, names, &service);
    if (context)
        runner.pcsc->release(context);
    if (count < 0)
        run_error(0, "vorlane-run: no PC/SC service (error %8.8X)", (unsigned)service);
    else if (count == 0)
        run_error(0, "vorlane-run: no reader");
    for (int i = 0; i < count; i++)
        fprintf(runner.out, "%d: %s\r\n", i, names[i]);
    return count > 0 ? RUN_OK : RUN_FAILED;
}
