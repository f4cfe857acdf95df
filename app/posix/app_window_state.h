/*
 * app_window_state.h (POSIX): the native build has no windows, dialogs or
 * network reader, so the window part of AppState is empty.
 */
#ifndef VORLANE_APP_WINDOW_STATE_H
#define VORLANE_APP_WINDOW_STATE_H

struct AppWindowState {};

inline void app_window_state_init(void) {}
inline void app_window_locks_create(void) {}

#endif
