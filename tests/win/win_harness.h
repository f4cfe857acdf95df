/*
 * win_harness.h: helpers for the Win32 tests: a frame like the program's,
 * a message pump, and what a user would read in a window.
 */
#ifndef VORLANE_WIN_HARNESS_H
#define VORLANE_WIN_HARNESS_H

#include <string>
#include <vector>

#include <windows.h>

/* Fresh AppState, classes registered, frame created (no reader window). The
   frame stays hidden unless HARNESS_VISIBLE is set: under Wine without a
   window manager every shown window costs seconds to map and unmap. */
HWND harness_frame_open(void);
/* Closes the frame the way the user does (WM_CLOSE) and pumps until it is gone. */
void harness_frame_close(void);
/* Dispatches messages of this thread for about ms milliseconds. */
void harness_pump(int ms);
/* Pumps until done() is true or ms elapse; returns done(). */
bool harness_pump_until(bool (*done)(void), int ms);
/* The text a window shows (WM_GETTEXT). */
std::string harness_window_text(HWND window);
/* Lines of an edit control's text, split on CR LF (the last, unterminated piece included). */
std::vector<std::string> harness_lines(HWND edit);
/* Number of MDI children of the frame's client. */
int harness_child_count(void);
/* Finds a top-level window of this process with the given title, or 0. */
HWND harness_find_window(const char *title, int wait_ms);

#endif
