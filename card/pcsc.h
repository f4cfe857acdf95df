/*
 * pcsc.h: the calls Vorlane makes into the platform's PC/SC service, each a
 * thin wrapper that passes the arguments the card code always uses and
 * returns the service's status code unchanged (0 on success). They take
 * no lock themselves: the card code calls them under a session's
 * card_lock for its context and handle, the reader choice with a context of
 * its own.
 *
 * The host build's tests link a fake of these calls instead of pcsc.cpp
 * (tests/fake/), so the exchange, the interpreter and the runner run
 * natively against answers a test scripts.
 *
 * The connection layer, the exchange and the runner reach a service
 * through a table of its calls (PcscCalls), chosen per session at run
 * time: the platform's (pcsc_platform: these functions) or another behind
 * the same calls (the runner's replay readers, run/run_replay.h).
 */
#ifndef VORLANE_PCSC_H
#define VORLANE_PCSC_H

#include "app/platform.h" /* the platform's PC/SC declarations */

/* Card state as the state query reports it; only "absent" is looked at. */
enum { PCSC_STATE_ABSENT = 1 };

/* Exports from card/pcsc.cpp */
LONG pcsc_establish(DWORD scope, SCARDCONTEXT *context);
LONG pcsc_release(SCARDCONTEXT context);
/* Reader names as a multi-string, all groups; *length in: size. With
   context 0 the call makes a short-lived context where the platform needs
   one. */
LONG pcsc_list_readers(SCARDCONTEXT context, char *names, DWORD *length);
/* Waits up to timeout_ms for a change of the readers' states (SCardGetStatusChange). */
LONG pcsc_get_status_change(SCARDCONTEXT context, DWORD timeout_ms, SCARD_READERSTATEA *states,
                            DWORD count);
/* Shared mode; *handle and *protocol receive the connection. */
LONG pcsc_connect(SCARDCONTEXT context, const char *reader, DWORD protocols, SCARDHANDLE *handle,
                  DWORD *protocol);
LONG pcsc_disconnect(SCARDHANDLE handle); /* leaves the card as it is */
/* State, protocol, ATR. *atr_length in: the buffer's size; after a failed
   query it is left at that size. */
LONG pcsc_state(SCARDHANDLE handle, DWORD *state, DWORD *protocol, unsigned char *atr,
                DWORD *atr_length);
/* T=1 control block when protocol is T=1, T=0 otherwise. */
LONG pcsc_transmit(SCARDHANDLE handle, DWORD protocol, const unsigned char *command, DWORD length,
                   unsigned char *response, DWORD *response_length);
LONG pcsc_get_attrib(SCARDHANDLE handle, DWORD attribute, unsigned char *value, DWORD *length);

/* A PC/SC service as the calls above (without the attribute query, which
   only the reader window makes, on the platform's service). */
struct PcscCalls {
    decltype(&pcsc_establish) establish;
    decltype(&pcsc_release) release;
    decltype(&pcsc_list_readers) list_readers;
    decltype(&pcsc_get_status_change) get_status_change;
    decltype(&pcsc_connect) connect;
    decltype(&pcsc_disconnect) disconnect;
    decltype(&pcsc_state) state;
    decltype(&pcsc_transmit) transmit;
};

/* Exports from card/pcsc_calls.cpp */
/* The platform's service: the functions above (the fake's in the host
   build's tests). */
extern const PcscCalls pcsc_platform;

#endif
