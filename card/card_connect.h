/*
 * card_connect.h: the one connection layer both front ends go through: a
 * session's context, the reader list on it, the connect to its reader,
 * the state query that reads the ATR, the wait for a change, the
 * attribute query, and what a status means for the session. Every call
 * goes to the session's provider (card/pcsc.h). The reader window's state
 * machine and the runner's readers call these under the session's
 * card_lock; a session that no other thread sees (the reader choice's
 * probe, the runner's list on its main thread) needs no lock. Each front
 * end keeps its own rule for what a failed query means (the window shows a
 * zero-filled ATR of 256 bytes, the runner fails the card).
 */
#ifndef VORLANE_CARD_CONNECT_H
#define VORLANE_CARD_CONNECT_H

#include <stddef.h>

#include "card/card_session.h"

/* What a status means for a session: the one reading of the service's
   codes that the reader window and the runner both act on. */
enum {
    PCSC_ANSWERED = 0,     /* the call did what was asked */
    PCSC_FAILED = 1,       /* it did not, and the session stands as it was (a command
                              not transacted, a timeout, a room too short) */
    PCSC_NO_CARD = 2,      /* the reader holds no card that answers */
    PCSC_CARD_CHANGED = 3, /* the card was reset or taken out since the connect */
    PCSC_READER_GONE = 4,  /* the reader is no longer there (or none is) */
    PCSC_SERVICE_GONE = 5, /* the service stopped or restarted (Windows stops it when
                              the last reader is unplugged): the context is of no use */
};

/* Exports from card/card_connect.cpp */
/* PCSC_*: what status means for the session it came from. */
int pcsc_status_meaning(LONG status);
/* Under card_lock: a new context for the session (state CARD_CONTEXT on
   success; the context is 0 after a failure). The status. */
LONG card_context_open(CardSession *session, DWORD scope);
/* The readers on the session's context into buffer (size bytes) as a
   multi-string, ending in an empty name; buffer[0] is 0 after a failure.
   The status. */
LONG card_list_readers(CardSession *session, char *buffer, size_t size);
/* Up to ms for a change of states[0..count) on the session's context. */
LONG card_status_change(CardSession *session, DWORD ms, SCARD_READERSTATEA *states, DWORD count);
/* Under card_lock: connects to the session's reader (its handle and
   protocol; the handle is 0 after a failure). The status. */
LONG card_connect(CardSession *session, DWORD protocols);
/* Under card_lock: the card there reset: the connection let go and made
   again (its state kept), remembered as a reset, so that a secure channel
   opened before can say why it broke. The status. */
LONG card_reconnect(CardSession *session, DWORD protocols);
/* Under card_lock: the state query. On success the ATR received is kept
   (card_atr, card_atr_len; the rest of card_atr zero) and *state holds the
   card's state; after a failure no byte is kept (card_atr zero,
   card_atr_len 0) and the status is returned for the caller's rule. */
LONG card_read_atr(CardSession *session, DWORD *state);
/* Under card_lock: the card's state alone, for a presence check; the
   stored ATR is left as it is. */
LONG card_read_state(CardSession *session, DWORD *state);
/* Under card_lock: one of the reader's attributes of handle, a connection
   the session made (the one its parameter line was read for), into value
   (*length in: its room). The status. */
LONG card_read_attribute(const CardSession *session, SCARDHANDLE handle, DWORD attribute,
                         unsigned char *value, DWORD *length);
/* Under card_lock: lets the card go (the context stays); state
   CARD_CONTEXT. */
void card_disconnect(CardSession *session);
/* Under card_lock: lets the card and the context go; state
   CARD_NO_CONTEXT. */
void card_context_close(CardSession *session);
/* What the session's provider can add about the last failed exchange on
   its reader (a replay card's reason): 1 and the text, else 0. */
int card_failure_text(const CardSession *session, char *text, size_t size);
/* How many cards the session's provider still holds (a replay provider's
   cards never come back), or -1 where cards may always come. */
int card_cards_left(const CardSession *session);
/* Splits a reader list's multi-string (size bytes; its last byte is set to
   0, so every name is terminated) into names (at most max); the count. */
int reader_names_split(char *buffer, size_t size, const char **names, int max);

#endif
