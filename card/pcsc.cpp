/*
 * pcsc.cpp: the platform's PC/SC provider. Every card operation on a real
 * reader goes through these few functions, with the share mode,
 * disposition and control blocks fixed here once. The platform's service
 * keeps its own state, so the provider's self is unused.
 *
 * The card state is read with SCardStatusA, which reports the state, the
 * active protocol and the ATR in one call. The state is handed on as the
 * one value Windows reports (1, PCSC_STATE_ABSENT, for "absent"), also
 * where the service reports a bit mask.
 */
#include "card/pcsc.h"

static LONG pcsc_establish(void *, DWORD scope, SCARDCONTEXT *context) {
    return SCardEstablishContext(scope, NULL, NULL, context);
}

static LONG pcsc_release(void *, SCARDCONTEXT context) {
    return SCardReleaseContext(context);
}

static LONG pcsc_list_readers(void *, SCARDCONTEXT context, char *names, DWORD *length) {
    return SCardListReadersA(context, NULL, names, length);
}

static LONG pcsc_get_status_change(void *, SCARDCONTEXT context, DWORD timeout_ms,
                                   SCARD_READERSTATEA *states, DWORD count) {
    return SCardGetStatusChangeA(context, timeout_ms, states, count);
}

static LONG pcsc_connect(void *, SCARDCONTEXT context, const char *reader, DWORD protocols,
                         SCARDHANDLE *handle, DWORD *protocol) {
    return SCardConnectA(context, reader, SCARD_SHARE_SHARED, protocols, handle, protocol);
}

static LONG pcsc_disconnect(void *, SCARDHANDLE handle) {
    return SCardDisconnect(handle, SCARD_LEAVE_CARD);
}

static LONG pcsc_state(void *, SCARDHANDLE handle, DWORD *state, DWORD *protocol,
                       unsigned char *atr, DWORD *atr_length) {
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

static LONG pcsc_transmit(void *, SCARDHANDLE handle, DWORD protocol, const unsigned char *command,
                          DWORD length, unsigned char *response, DWORD *response_length) {
    LPCSCARD_IO_REQUEST pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;

    return SCardTransmit(handle, pci, command, length, NULL, response, response_length);
}

static LONG pcsc_get_attrib(void *, SCARDHANDLE handle, DWORD attribute, unsigned char *value,
                            DWORD *length) {
    return SCardGetAttrib(handle, attribute, value, length);
}

const PcscProvider pcsc_platform = {
    0,
    pcsc_establish,
    pcsc_release,
    pcsc_list_readers,
    pcsc_get_status_change,
    pcsc_connect,
    pcsc_disconnect,
    pcsc_state,
    pcsc_transmit,
    pcsc_get_attrib,
    0, /* the platform's failures are their status */
    0, /* cards may always come */
};
