/*
 * card_session.cpp: the initial state of a card session and its locks.
 */
#include "card/card_session.h"

#include <string.h>

void card_session_init(CardSession *session, int reader_pane, int console_pane) {
    session->pcsc = &pcsc_platform;
    session->reader_name[0] = 0;
    session->sc_context = 0;
    session->card_handle = 0;
    session->active_protocol = 0;
    session->card_state = CARD_NO_CONTEXT;
    memset(session->card_atr, 0, sizeof session->card_atr);
    session->card_atr_len = 0;
    session->xfer_counter = 0;
    session->card_connections = 0;
    session->card_reset_connection = 0;
    session->xfer_total_ms = 0;
    memset(session->xfer_stats, 0, sizeof session->xfer_stats);
    session->xfer_stats_next = 0;
    session->script_name[0] = 0;
    session->reader_pane = reader_pane;
    session->console_pane = console_pane;
    platform_counter_set(&session->explain, 0);
    session->record = 0;
}

void card_session_locks_create(CardSession *session) {
    if (session->locks_ready)
        return;
    platform_lock_init(&session->card_lock);
    platform_lock_init(&session->xfer_lock);
    session->locks_ready = 1;
}
