/*
 * script.h: the script interpreter, the script dialog and script start.
 */
#ifndef VORLANE_SCRIPT_H
#define VORLANE_SCRIPT_H

#include <windows.h>

/* Exports from script/script_thread.cpp */
/* How a run ended */
enum {
    SCRIPT_RUN_DONE = 0,    /* read to the end of the file */
    SCRIPT_RUN_NO_FILE = 1, /* the file could not be opened */
    SCRIPT_RUN_FAILED = 2,  /* an exchange failed and ended the run */
};
struct ScriptTally;
/* One run of the script at path (0 counts as "") on the calling thread,
   which must hold no lock: it prints and calls card_transmit. With a tally
   (script_check.h) it also records its checks and how it ended there.
   Returns SCRIPT_RUN_*. */
int script_run(const char *path, ScriptTally *tally);
DWORD WINAPI script_thread(LPVOID path);

/* Exports from script/script_start.cpp */
/* Any thread holding no lock: starts a run of path on a new thread and
   returns 1 at once, without printing or waiting. path must stay valid
   until the run has copied it; callers pass AppState fields. */
int start_script(const char *path);
/* start_script on the script of the card just matched (atr_index), or on
   auto_script_name for a card the table does not know; returns 0. */
int run_card_script(void);
/* Waits at most timeout_ms for every run to end, taking in sent messages
   meanwhile; 1 when no run is left. With 0 it is a check, not a wait. */
int script_runs_wait(DWORD timeout_ms);

/* Exports from script/script_dialog.cpp */
INT_PTR CALLBACK script_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
