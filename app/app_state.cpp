/*
 * app_state.cpp: the one AppState instance and the initial values of its
 * portable part and its card sessions; the window part has its own
 * (app_window_state_init).
 */
#include "app/app_state.h"

#include <stddef.h>
#include <string.h>

AppState app;

static void app_state_init_card(void) {
    card_session_init(gui_session(), PANE_READER, PANE_CONSOLE);
    strcpy(app.reader_names, "PCSC Reader 0");
    app.sc_scope = SCARD_SCOPE_SYSTEM;
    app.sc_protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
    for (int i = 0; i < RUN_SESSIONS_MAX; i++)
        card_session_init(&app.run_sessions[i], PANE_RUN_FIRST + i, PANE_NONE);
    for (int i = 0; i < PANE_STREAM_COUNT; i++)
        app.pane_stream_out[i].prefix = -1;
}

static void app_state_init_dialogs(void) {
    strcpy(app.apdu_comment, "Select Applet");
    strcpy(app.apdu_text, "00 A4 04 00 05 01 02 03 04 05");
    strcpy(app.apdu_file_path, "pdu.txt");
    app.memory_read_size = 256;
    app.tag_read_size = 256;
    strcpy(app.memory_dump_path, "Smart");
    strcpy(app.tag_dump_path, "Smart");
    strcpy(app.script_file_name, "script.txt");
}

/* Sets every field but the locks to its initial value. Runs before any
   window or thread exists; the locks are created by app_locks_create. */
void app_state_init(void) {
    memset(static_cast<AppPortableState *>(&app), 0, offsetof(AppPortableState, run_sessions));
    strcpy(app.auto_script_name, "scriptdefault.txt");
    app_state_init_card();
    app_state_init_dialogs();
    app_window_state_init();
}

/* Creates the locks that live for the whole process. They are never deleted
   while a script or network thread may still enter them (see app_run). */
void app_locks_create(void) {
    if (app.locks_ready)
        return;
    card_session_locks_create(gui_session());
    for (int i = 0; i < RUN_SESSIONS_MAX; i++)
        card_session_locks_create(&app.run_sessions[i]);
    platform_lock_init(&app.pane_stream_lock);
    platform_lock_init(&app.run_lock);
    platform_signal_init(&app.run_reader_ended);
    platform_lock_init(&app.stream_queue_lock);
    platform_signal_init(&app.stream_queue_data);
    platform_signal_init(&app.stream_queue_room);
    app_window_locks_create();
    app.locks_ready = 1;
}
