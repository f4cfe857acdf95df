/*
 * card_connect.cpp: the connection layer of both front ends (see
 * card_connect.h). Only bytes the service reports are ever kept as an ATR:
 * a failed query leaves the length it was given, which is the buffer's
 * size, not a count of received bytes. Every call goes to the session's
 * provider (CardSession.pcsc), with the provider's own state first.
 */
#include "card/card_connect.h"

#include <string.h>

#include "card/pcsc.h"

/* A handle or context the service no longer knows is read as the service
   gone: it restarted under the session, and nothing made on the old
   context works again. */
int pcsc_status_meaning(LONG status) {
    switch (status) {
        case SCARD_S_SUCCESS: return PCSC_ANSWERED;
        case SCARD_E_NO_SMARTCARD:
        case SCARD_W_UNRESPONSIVE_CARD:
        case SCARD_W_UNPOWERED_CARD: return PCSC_NO_CARD;
        case SCARD_W_REMOVED_CARD:
        case SCARD_W_RESET_CARD: return PCSC_CARD_CHANGED;
        case SCARD_E_UNKNOWN_READER:
        case SCARD_E_READER_UNAVAILABLE:
        case SCARD_E_NO_READERS_AVAILABLE: return PCSC_READER_GONE;
        case SCARD_E_NO_SERVICE:
        case SCARD_E_SERVICE_STOPPED:
        case SCARD_E_INVALID_HANDLE: return PCSC_SERVICE_GONE;
        default: return PCSC_FAILED;
    }
}

LONG card_context_open(CardSession *session, DWORD scope) {
    session->sc_context = 0;
    LONG status = session->pcsc->establish(session->pcsc->self, scope, &session->sc_context);
    if (status != SCARD_S_SUCCESS)
        session->sc_context = 0;
    else
        session->card_state = CARD_CONTEXT;
    return status;
}

LONG card_list_readers(CardSession *session, char *buffer, size_t size) {
    DWORD length = (DWORD)size;

    buffer[0] = 0;
    LONG status =
        session->pcsc->list_readers(session->pcsc->self, session->sc_context, buffer, &length);
    if (status != SCARD_S_SUCCESS)
        buffer[0] = 0;
    else if (length < size)
        buffer[length] = 0;
    return status;
}

LONG card_status_change(CardSession *session, DWORD ms, SCARD_READERSTATEA *states, DWORD count) {
    return session->pcsc->get_status_change(session->pcsc->self, session->sc_context, ms, states,
                                            count);
}

LONG card_connect(CardSession *session, DWORD protocols) {
    session->card_handle = 0;
    LONG status =
        session->pcsc->connect(session->pcsc->self, session->sc_context, session->reader_name,
                               protocols, &session->card_handle, &session->active_protocol);
    if (status != SCARD_S_SUCCESS)
        session->card_handle = 0;
    else
        session->card_connections++;
    return status;
}

LONG card_reconnect(CardSession *session, DWORD protocols) {
    int state = session->card_state;

    card_disconnect(session);
    session->card_state = state;
    LONG status = card_connect(session, protocols);
    if (status == SCARD_S_SUCCESS)
        session->card_reset_connection = session->card_connections;
    return status;
}

LONG card_read_atr(CardSession *session, DWORD *state) {
    unsigned char atr[CARD_ATR_SIZE];
    DWORD length = sizeof atr;

    *state = 0;
    LONG status = session->pcsc->state(session->pcsc->self, session->card_handle, state,
                                       &session->active_protocol, atr, &length);
    if (status != SCARD_S_SUCCESS || length > CARD_ATR_SIZE)
        length = 0;
    memset(session->card_atr, 0, sizeof session->card_atr);
    memcpy(session->card_atr, atr, length);
    session->card_atr_len = (int)length;
    return status;
}

LONG card_read_state(CardSession *session, DWORD *state) {
    unsigned char atr[CARD_ATR_SIZE];
    DWORD length = sizeof atr;

    *state = 0;
    return session->pcsc->state(session->pcsc->self, session->card_handle, state,
                                &session->active_protocol, atr, &length);
}

LONG card_read_attribute(const CardSession *session, SCARDHANDLE handle, DWORD attribute,
                         unsigned char *value, DWORD *length) {
    return session->pcsc->get_attrib(session->pcsc->self, handle, attribute, value, length);
}

void card_disconnect(CardSession *session) {
    if (session->card_handle)
        session->pcsc->disconnect(session->pcsc->self, session->card_handle);
    session->card_handle = 0;
    if (session->card_state != CARD_NO_CONTEXT)
        session->card_state = CARD_CONTEXT;
}

void card_context_close(CardSession *session) {
    if (session->card_handle)
        session->pcsc->disconnect(session->pcsc->self, session->card_handle);
    if (session->sc_context)
        session->pcsc->release(session->pcsc->self, session->sc_context);
    session->card_handle = 0;
    session->sc_context = 0;
    session->card_state = CARD_NO_CONTEXT;
}

int card_failure_text(const CardSession *session, char *text, size_t size) {
    const PcscProvider *pcsc = session->pcsc;

    return pcsc->failure_text && pcsc->failure_text(pcsc->self, session->reader_name, text, size);
}

int card_cards_left(const CardSession *session) {
    const PcscProvider *pcsc = session->pcsc;

    return pcsc->cards_left ? pcsc->cards_left(pcsc->self) : -1;
}

int reader_names_split(char *buffer, size_t size, const char **names, int max) {
    size_t at = 0;
    int count = 0;

    if (size == 0)
        return 0;
    buffer[size - 1] = 0;
    while (count < max && at < size && buffer[at]) {
        names[count++] = buffer + at;
        at += strlen(buffer + at) + 1;
    }
    return count;
}
