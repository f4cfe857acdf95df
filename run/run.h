/*
 * run.h: vorlane-run, the command-line script runner: its card connection.
 */
#ifndef VORLANE_RUN_H
#define VORLANE_RUN_H

#include "card/card_session.h"
#include "run/run_args.h"

/* Exports from run/run_card.cpp */
/* Establishes a context, chooses the reader, waits for its card as long as
   the arguments allow and connects: the card is then ready for
   card_exchange on session, as the reader window leaves its own. 1 when ready; otherwise
   the reason is on standard error and 0 is returned. */
int run_card_open(CardSession *session, const RunArgs *args);
/* Drops the connection and the context. */
void run_card_close(CardSession *session);

#endif
