/*
 * script.h: the script interpreter, the script dialog and script start.
 */
#ifndef VORLANE_SCRIPT_H
#define VORLANE_SCRIPT_H

#include <windows.h>

#include "script/script_run.h" /* script_run and the ends of a run */

/* Exports from script/script_start.cpp */
int start_script(const char *path);
int run_card_script(void);
int script_runs_wait(DWORD timeout_ms); /* 1 when no run is left */

/* Exports from script/script_dialog.cpp */
INT_PTR CALLBACK script_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
