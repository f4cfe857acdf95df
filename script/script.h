/*
 * script.h: the script interpreter, the script dialog and script start.
 */
#ifndef VORLANE_SCRIPT_H
#define VORLANE_SCRIPT_H

#include <windows.h>

#include "script/script_run.h" /* script_run and the ends of a run */

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
