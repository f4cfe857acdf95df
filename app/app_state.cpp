/*
 * app_state.cpp: the one AppState instance and its initial values.
 */
#include "app/app_state.h"

#include <stddef.h>
#include <string.h>

AppState app;

static void app_state_init_shell(void) {
    strcpy(app.auto_script_name, "scriptdefault.txt");
    app.panes[PANE_CONSOLE].text_color = RGB(255, 255, 0);
    app.panes[PANE_CONSOLE].back_color = RGB(0, 0, 0);
    app.panes[PANE_READER].text_color = RGB(0, 0, 0);
    app.panes[PANE_READER].back_color = RGB(255, 255, 0);
    for (int pane = 0; pane < PANE_COUNT; pane++)
        app.panes[pane].queue_limit = PANE_QUEUE_SIZE;
}

static void app_state_init_card(void) {
    strcpy(app.reader_names, "PCSC Reader 0");
    app.sc_scope = SCARD_SCOPE_SYSTEM;
    app.sc_protocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
    app.atr_index = -1;
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

static void app_state_init_net(void) {
    app.net_port = 8080;
    app.net_listen_socket = INVALID_SOCKET;
    app.net_connection.socket = INVALID_SOCKET;
}

/* Sets every field but the locks to its initial value. Runs before any
   window or thread exists; the locks are created by app_locks_create. */
void app_state_init(void) {
    memset(&app, 0, offsetof(AppState, card_lock));
    app_state_init_shell();
    app_state_init_card();
    app_state_init_dialogs();
    app_state_init_net();
}

/* Creates the locks that live for the whole process. They are never deleted
   while a script or network thread may still enter them (see app_run). */
void app_locks_create(void) {
    if (app.card_lock_ready)
        return;
    InitializeCriticalSection(&app.card_lock);
    InitializeCriticalSection(&app.xfer_lock);
    for (int pane = 0; pane < PANE_COUNT; pane++) {
        InitializeCriticalSection(&app.pane_queue_lock[pane]);
        InitializeConditionVariable(&app.pane_queue_space[pane]);
        InitializeConditionVariable(&app.pane_queue_shown[pane]);
    }
    app.card_lock_ready = 1;
}
