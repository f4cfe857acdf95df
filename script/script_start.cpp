/*
 * script_start.cpp: starting script runs, each on a new thread, and waiting
 * for them to end.
 *
 * Runs are started by the script dialog (EXEC) and by the card state
 * machine once a card is ready, after it has left card_lock and printed its
 * lines. Starting a run only creates the thread and never prints or waits.
 *
 * Design: app.script_runs counts the runs that may still touch shared state.
 * It goes up before the thread exists and down as the thread's very last
 * step, after its last print and exchange. Start-up deletes card_lock only
 * when the count is 0 (script_runs_wait), so a run still going when the
 * program quits never enters a deleted lock. Thread handles are closed at
 * once: nothing waits on a single run.
 */
#include "script/script.h"

#include "app/app_state.h"
#include "console/console.h"

/* The thread's entry: the run, then the count. */
static PlatformThreadResult PLATFORM_THREAD_CALL script_run_entry(void *path) {
    PlatformThreadResult result = script_thread(path);
    platform_counter_add(&app.script_runs, -1);
    return result;
}

/* Runs the script at path on a new thread. The path is handed over as it
   is; the run copies it as it starts, so it must stay valid until then
   (callers pass AppState fields, which live as long as the process). */
int start_script(const char *path) {
    platform_counter_add(&app.script_runs, 1);
    if (!platform_thread_start(script_run_entry, (void *)path))
        platform_counter_add(&app.script_runs, -1);
    return 1;
}

/* Starts the script of the card just read: its ATR record's script, or the
   automatic script for a card the table does not know. */
int run_card_script(void) {
    LONG index = app.gui.reader.atr_index;

    if (index >= 0 && index < app.atr_count && index < ATR_TABLE_MAX)
        start_script(app.atr_table[index].script);
    else
        start_script(app.auto_script_name);
    return 0;
}

/* Waits until no run is left or timeout_ms have passed; 1 when none is
   left, and with a timeout of 0 only that check. Runs queue their text for
   the GUI thread and wait only when a queue is full, so on the GUI thread
   the queues are drained meanwhile; sent messages are taken in too. */
int script_runs_wait(DWORD timeout_ms) {
    DWORD start = GetTickCount();
    MSG msg;

    for (;;) {
        if (platform_counter_read(&app.script_runs) <= 0)
            return 1;
        if (GetTickCount() - start >= timeout_ms)
            return 0;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_SENDMESSAGE);
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        pane_drain_all();
    }
}
