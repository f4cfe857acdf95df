/*
 * card_local.h: what the card files share among themselves and no other
 * subsystem uses.
 */
#ifndef VORLANE_CARD_LOCAL_H
#define VORLANE_CARD_LOCAL_H

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"

enum {
    CARD_TIMER_ID = 1,         /* the reader window's polling timer */
    CARD_TIMER_MS = 250,       /* its period */
    CARD_PARAMETERS_SIZE = 512 /* the parameter line: twelve "%s= %d, " and "\n" */
};

/* Exports from card/reader_choice.cpp */
/* Lists the readers, scans them and chooses one (dialog if needed): the
   reader window's session follows the chosen name. */
void reader_choose(void);

/* Exports from card/card_state.cpp */
/* The reader window closes (GUI thread, never waits): drops the connection
   and the context now, or when the exchange in flight leaves card_lock. */
void card_close(ReaderWindow *reader);
/* Leaves session's card_lock (which the caller holds); for the reader
   window's session, doing a pending drop or a missed tick first. The
   exchange's unlock hook (AppState.card_unlock_hook). */
void card_unlock(CardSession *session);

#endif
