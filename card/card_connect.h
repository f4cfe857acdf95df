/*
 * card_connect.h: the one connection layer both front ends go through: a
 * session's context, the connect to its reader, the state query that
 * reads the ATR, the test for a PC/SC service that has gone, and the split
 * of a reader list. The reader window's state machine and the runner's
 * readers call these under the session's card_lock; each keeps its own
 * rule for what a failed query means (the window shows a zero-filled ATR
 * of 256 bytes, the runner fails the card).
 */
#ifndef VORLANE_CARD_CONNECT_H
#define VORLANE_CARD_CONNECT_H

#include <stddef.h>

#include "card/card_session.h"

/* Exports from card/card_connect.cpp */
/* 1 for a status that means the context is of no use any more: the
   service stopped or restarted (Windows stops it when the last reader is
   unplugged). */
int card_service_dead(LONG status);
/* Under card_lock: a new context for the session (state CARD_CONTEXT on
   success; the context is 0 after a failure). The status. */
LONG card_context_open(CardSession *session, DWORD scope);
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
/* Under card_lock: lets the card go (the context stays); state
   CARD_CONTEXT. */
void card_disconnect(CardSession *session);
/* Under card_lock: lets the card and the context go; state
   CARD_NO_CONTEXT. */
void card_context_close(CardSession *session);
/* Splits a reader list's multi-string (size bytes; its last byte is set to
   0, so every name is terminated) into names (at most max); the count. */
int reader_names_split(char *buffer, size_t size, const char **names, int max);

#endif
