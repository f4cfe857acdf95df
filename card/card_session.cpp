/*
 * card_session.cpp: the initial state of a card session and its locks.
 */
#include "card/card_session.h"

#include <stddef.h>
#include <string.h>

void card_session_init(CardSession *session, int reader_pane, int console_pane) {
    memset(session, 0, offsetof(CardSession, card_lock));
    session->atr_index = -1;
    session->reader_pane = reader_pane;
    session->console_pane = console_pane;
}

void card_session_locks_create(CardSession *session) {
    if (session->card_lock_ready)
        return;
    platform_lock_init(&session->card_lock);
    platform_lock_init(&session->xfer_lock);
    session->card_lock_ready = 1;
}
