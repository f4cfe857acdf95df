/*
 * pcsc.cpp: the PC/SC call layer. Every card operation of the program goes
 * through these few functions, with the share mode, disposition and control
 * blocks fixed here once.
 *
 * The card state is read with SCardStatusA, which reports the state, the
 * active protocol and the ATR in one call. The state is handed on as the
 * one value Windows reports (1, PCSC_STATE_ABSENT, for "absent"), also
 * where the service reports a bit mask.
 */
#include "card/pcsc.h"

LONG pcsc_establish(DWORD scope, SCARDCONTEXT *context) {
    return SCardEstablishContext(scope, NULL, NULL, context);
}

LONG pcsc_release(SCARDCONTEXT context) {
    return SCardReleaseContext(context);
}

/* Windows lists readers without a context; a service that insists on one
   (pcsc-lite) gets a short-lived context of its own. */
LONG pcsc_list_readers(SCARDCONTEXT context, char *names, DWORD *length) {
    DWORD size = *length;
    LONG status = SCardListReadersA(context, NULL, names, length);

    if (context || status != SCARD_E_INVALID_HANDLE)
        return status;
    status = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &context);
    if (status != SCARD_S_SUCCESS)
        return status;
    *length = size;
    status = SCardListReadersA(context, NULL, names, length);
    SCardReleaseContext(context);
    return status;
}

LONG pcsc_connect(SCARDCONTEXT context, const char *reader, DWORD protocols, SCARDHANDLE *handle,
                  DWORD *protocol) {
    return SCardConnectA(context, reader, SCARD_SHARE_SHARED, protocols, handle, protocol);
}

LONG pcsc_disconnect(SCARDHANDLE handle) {
    return SCardDisconnect(handle, SCARD_LEAVE_CARD);
}

LONG pcsc_state(SCARDHANDLE handle, DWORD *state, DWORD *protocol, unsigned char *atr,
                DWORD *atr_length) {
    char reader[1024];
    DWORD reader_length = sizeof reader;
    DWORD size = *atr_length;
    DWORD raw_state = 0;

    LONG status =
        SCardStatusA(handle, reader, &reader_length, &raw_state, protocol, atr, atr_length);
    if (status != SCARD_S_SUCCESS)
        *atr_length = size;
    *state = platform_card_state(raw_state);
    return status;
}

LONG pcsc_transmit(SCARDHANDLE handle, DWORD protocol, const unsigned char *command, DWORD length,
                   unsigned char *response, DWORD *response_length) {
    LPCSCARD_IO_REQUEST pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;

    return SCardTransmit(handle, pci, command, length, NULL, response, response_length);
}

LONG pcsc_get_attrib(SCARDHANDLE handle, DWORD attribute, unsigned char *value, DWORD *length) {
    return SCardGetAttrib(handle, attribute, value, length);
}

LONG pcsc_get_status_change(SCARDCONTEXT context, DWORD timeout_ms, SCARD_READERSTATEA *states,
                            DWORD count) {
    return SCardGetStatusChangeA(context, timeout_ms, states, count);
}
