/*
 * app_state.cpp: the one AppState instance and the initial values of its
 * portable part, field by field; the window part has its own
 * (app_window_state_init).
 */
#include "app/app_state.h"

#include <string.h>

AppState app;

/* Sets every field but the locks to its initial value. Runs before any
   window or thread exists; the locks are created by app_locks_create. */
void app_state_init(void) {
    strcpy(app.auto_script_name, "scriptdefault.txt");
    app.network_server_enabled = 0;
    app.sc_scope = SCARD_SCOPE_SYSTEM;
    app.sc_protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
    app.xfer_clock = 0;
    app.gui_card = 0;
    app.card_unlock_hook = 0;
    memset(app.atr_table, 0, sizeof app.atr_table);
    app.atr_count = 0;
    platform_counter_set(&app.script_runs, 0);
    app_window_state_init(); /* the GUI's session becomes gui_card */
}

/* Creates the locks that live for the whole process. They are never deleted
   while a script or network thread may still enter them (see app_run). */
void app_locks_create(void) {
    if (app.locks_ready)
        return;
    app_window_locks_create();
    app.locks_ready = 1;
}
