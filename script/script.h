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
/* Runs the script on the calling thread; with a tally (script_check.h),
   also records its checks and how it ended there. One of the above. */
int script_run(const char *path, ScriptTally *tally);
DWORD WINAPI script_thread(LPVOID path);

/* Exports from script/script_start.cpp */
int start_script(const char *path);
int run_card_script(void);
int script_runs_wait(DWORD timeout_ms); /* 1 when no run is left */

/* Exports from script/script_dialog.cpp */
INT_PTR CALLBACK script_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
