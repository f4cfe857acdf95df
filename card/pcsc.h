/*
 * pcsc.h: a PC/SC provider, the object through which Vorlane reaches a
 * smart-card service. It is a table of the calls the card code makes and
 * a pointer to the provider's own state (self), which every call takes
 * first; each call returns the service's status code unchanged (0 on
 * success), as the platform's would.
 *
 * Three providers are peers: the platform's (pcsc_platform, card/pcsc.cpp
 * over WinSCard or pcsc-lite), the replay provider that answers from
 * recordings (card/replay_provider.h), and the host tests' fake
 * (tests/fake/), which the host build links as pcsc_platform in place of
 * card/pcsc.cpp. A session holds a pointer to its provider
 * (CardSession.pcsc) and the connection layer (card/card_connect.h) makes
 * every call through it: no code outside a provider calls the platform's
 * PC/SC functions.
 *
 * The calls take none of the caller's locks: the card code makes them
 * under a session's card_lock for its context and handle. A provider with
 * state of its own guards it with a lock of its own, whose place in the
 * program's order app/app_state.h gives.
 */
#ifndef VORLANE_PCSC_H
#define VORLANE_PCSC_H

#include <stddef.h>

#include "app/platform.h" /* the platform's PC/SC declarations */

enum {
    /* Card state as the state query reports it; only "absent" is looked at. */
    PCSC_STATE_ABSENT = 1,
    /* room for what a provider adds about a failed exchange */
    PCSC_FAILURE_TEXT_SIZE = 2304,
};

struct PcscProvider {
    void *self; /* the provider's own state, the first argument of every call */
    LONG (*establish)(void *self, DWORD scope, SCARDCONTEXT *context);
    LONG (*release)(void *self, SCARDCONTEXT context);
    /* Reader names as a multi-string, all groups; *length in: size. */
    LONG (*list_readers)(void *self, SCARDCONTEXT context, char *names, DWORD *length);
    /* Waits up to timeout_ms for a change of the readers' states. */
    LONG (*get_status_change)
    (void *self, SCARDCONTEXT context, DWORD timeout_ms, SCARD_READERSTATEA *states, DWORD count);
    /* Shared mode; *handle and *protocol receive the connection. */
    LONG (*connect)
    (void *self, SCARDCONTEXT context, const char *reader, DWORD protocols, SCARDHANDLE *handle,
     DWORD *protocol);
    LONG (*disconnect)(void *self, SCARDHANDLE handle); /* leaves the card as it is */
    /* State, protocol, ATR. *atr_length in: the buffer's size; after a
       failed query it is left at that size. */
    LONG (*state)
    (void *self, SCARDHANDLE handle, DWORD *state, DWORD *protocol, unsigned char *atr,
     DWORD *atr_length);
    /* T=1 control block when protocol is T=1, T=0 otherwise. */
    LONG (*transmit)
    (void *self, SCARDHANDLE handle, DWORD protocol, const unsigned char *command, DWORD length,
     unsigned char *response, DWORD *response_length);
    LONG (*get_attrib)
    (void *self, SCARDHANDLE handle, DWORD attribute, unsigned char *value, DWORD *length);
    /* What the provider can add about the last failed exchange on reader:
       1 and the text, else 0. 0 (no call) for a provider that has nothing
       to add, as the platform's. */
    int (*failure_text)(void *self, const char *reader, char *text, size_t size);
    /* How many cards its readers still hold, for a provider whose cards
       never come back once taken out; 0 (no call) where cards may always
       come, as with the platform's readers. */
    int (*cards_left)(void *self);
};

/* Exports from card/pcsc.cpp (the fake's in the host build's tests) */
/* The platform's service; it has no state of its own (self 0). */
extern const PcscProvider pcsc_platform;

#endif
