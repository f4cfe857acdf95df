/*
 * app_window_state.cpp (Windows): the initial values and the locks of the
 * window part of AppState.
 */
#include "app/app_state.h"

#include <stddef.h>
#include <string.h>

void app_window_state_init(void) {
    memset(static_cast<AppWindowState *>(&app), 0, offsetof(AppWindowState, pane_queue_lock));
    app.panes[PANE_CONSOLE].text_color = RGB(255, 255, 0);
    app.panes[PANE_CONSOLE].back_color = RGB(0, 0, 0);
    app.panes[PANE_READER].text_color = RGB(0, 0, 0);
    app.panes[PANE_READER].back_color = RGB(255, 255, 0);
    for (int pane = 0; pane < PANE_COUNT; pane++)
        app.panes[pane].queue_limit = PANE_QUEUE_SIZE;
    app.net_port = 8080;
    app.net_listen_socket = INVALID_SOCKET;
    app.net_connection.socket = INVALID_SOCKET;
}

void app_window_locks_create(void) {
    for (int pane = 0; pane < PANE_COUNT; pane++) {
        InitializeCriticalSection(&app.pane_queue_lock[pane]);
        InitializeConditionVariable(&app.pane_queue_space[pane]);
        InitializeConditionVariable(&app.pane_queue_shown[pane]);
    }
}
