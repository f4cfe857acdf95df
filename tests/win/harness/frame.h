/*
 * frame.h: the Win32 tests' frame like the program's, the message pump of
 * the test's (GUI) thread, and what a user would read in a window.
 */
#ifndef VORLANE_HARNESS_FRAME_H
#define VORLANE_HARNESS_FRAME_H

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

/* Fresh AppState, classes registered, frame created (no reader window). The
   frame stays hidden unless HARNESS_VISIBLE is set: under Wine without a
   window manager every shown window costs seconds to map and unmap. */
HWND harness_frame_open(void);
/* Closes the frame the way the user does (WM_CLOSE) and pumps until it is gone. */
void harness_frame_close(void);
/* Dispatches the messages waiting for this thread, then returns. */
void harness_pump_once(void);
/* Dispatches messages of this thread for about ms milliseconds. */
void harness_pump(int ms);
/* Pumps until done() is true or ms elapse; returns done(). */
bool harness_pump_until(bool (*done)(void), int ms);
/* Runs work on a second thread and pumps this thread's messages until it
   returns (a worker that prints waits for this thread); false when it took
   longer than ms (the thread is still joined). */
bool harness_with_pump(const std::function<void()> &work, int ms = 20000);
/* Runs gui on this thread while a second thread keeps sending `window`
   WM_GETTEXTLENGTH; returns the longest this thread took to answer (ms). */
DWORD harness_worst_answer_ms(HWND window, const std::function<void()> &gui);
/* The text a window shows (WM_GETTEXT); a pane shows its queued text first. */
std::string harness_window_text(HWND window);
/* Lines of an edit control's text, split on CR LF (the last, unterminated piece included). */
std::vector<std::string> harness_lines(HWND edit);
/* Empties a pane as the user sees it and its line history (pane 0 =
   reader, 1 = Console). */
void harness_pane_clear(HWND edit, int pane);
/* Waits until no script run is left (at most ms), taking in what the runs
   print meanwhile; true when none is left. */
bool harness_scripts_wait(int ms);
/* Number of MDI children of the frame's client. */
int harness_child_count(void);
/* Opens the reader window (menu New, CardReader). With readers listed but
   no card in any, it asks for a reader in the READER dialog; that dialog is
   cancelled, which keeps the first reader. */
void harness_reader_open(void);
/* Waits at most wait_ms for a visible top-level window of this process
   that match accepts; the window or 0. */
HWND harness_find_visible(const std::function<bool(HWND)> &match, int wait_ms);
/* Finds a top-level window of this process with the given title, or 0. */
HWND harness_find_window(const char *title, int wait_ms);

#endif
