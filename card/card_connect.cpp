/*
 * card_connect.cpp: the connection layer of both front ends (see
 * card_connect.h). Only bytes the service reports are ever kept as an ATR:
 * a failed query leaves the length it was given, which is the buffer's
 * size, not a count of received bytes. Every call goes to the session's
 * service (card_pcsc).
 */
#include "card/card_connect.h"

#include <string.h>

#include "card/pcsc.h"

int card_service_dead(LONG status) {
    return status == SCARD_E_NO_SERVICE || status == SCARD_E_SERVICE_STOPPED ||
           status == SCARD_E_INVALID_HANDLE;
}

LONG card_context_open(CardSession *session, DWORD scope) {
    session->sc_context = 0;
    LONG status = card_pcsc(session)->establish(scope, &session->sc_context);
    if (status != SCARD_S_SUCCESS)
        session->sc_context = 0;
    else
        session->card_state = CARD_CONTEXT;
    return status;
}

LONG card_connect(CardSession *session, DWORD protocols) {
    session->card_handle = 0;
    LONG status = card_pcsc(session)->connect(session->sc_context, session->reader_name, protocols,
                                              &session->card_handle, &session->active_protocol);
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
    LONG status = card_pcsc(session)->state(session->card_handle, state, &session->active_protocol,
                                            atr, &length);
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
    return card_pcsc(session)->state(session->card_handle, state, &session->active_protocol, atr,
                                     &length);
}

void card_disconnect(CardSession *session) {
    if (session->card_handle)
        card_pcsc(session)->disconnect(session->card_handle);
    session->card_handle = 0;
    if (session->card_state != CARD_NO_CONTEXT)
        session->card_state = CARD_CONTEXT;
}

void card_context_close(CardSession *session) {
    if (session->card_handle)
        card_pcsc(session)->disconnect(session->card_handle);
    if (session->sc_context)
        card_pcsc(session)->release(session->sc_context);
    session->card_handle = 0;
    session->sc_context = 0;
    session->card_state = CARD_NO_CONTEXT;
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
