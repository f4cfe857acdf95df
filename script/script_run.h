/*
 * script_run.h: one run of a script file, for the script dialog's threads
 * and the command-line runner alike.
 */
#ifndef VORLANE_SCRIPT_RUN_H
#define VORLANE_SCRIPT_RUN_H

#include "app/platform.h"
#include "card/card_session.h"

/* Exports from script/script_thread.cpp */
/* How a run ended */
enum {
    SCRIPT_RUN_DONE = 0,      /* read to the end of the file */
    SCRIPT_RUN_NO_FILE = 1,   /* the file could not be opened */
    SCRIPT_RUN_FAILED = 2,    /* an exchange failed and ended the run */
    SCRIPT_RUN_NO_MEMORY = 3, /* the run's buffers could not be had */
};
struct ScriptTally;
/* One run of the script at path (0 counts as "") over session's card, on
   the calling thread, which must hold no lock: it prints into the
   session's reader pane and exchanges through card_exchange. With a tally
   (script_check.h) it also records its checks and how it ended there.
   Returns SCRIPT_RUN_*. */
int script_run(CardSession *session, const char *path, ScriptTally *tally);
/* script_run over the GUI's session, as a thread's entry; path must
   outlive the thread. */
PlatformThreadResult PLATFORM_THREAD_CALL script_thread(void *path);

#endif
