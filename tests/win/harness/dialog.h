/*
 * dialog.h: drives a modal dialog the way a user does, for the Win32
 * tests of the Command, memory and tag dialogs. The dialog runs modal on the
 * test's own (GUI) thread; a second thread finds it by its title, types into
 * its fields, clicks its buttons and answers the file dialogs it opens.
 *
 * Clicks that finish within the dialog's procedure are sent (the driver
 * waits for them); clicks that open a file dialog are posted, and the driver
 * then waits for the file dialog, types a path and presses its OK button.
 * The driver thread records what it sees; the test asserts afterwards.
 * Once the dialog has closed, the driver must not send to any window of the
 * test's thread: that thread is then waiting for the driver to end.
 */
#ifndef VORLANE_HARNESS_DIALOG_H
#define VORLANE_HARNESS_DIALOG_H

#include <functional>
#include <string>

#include <windows.h>

/* Runs the dialog from template `name` with `proc` modal on this thread,
   while `drive` works on it from a second thread. If the driver leaves the
   dialog open it is cancelled. Returns false when the dialog never showed. */
bool dialog_drive(const char *name, const char *title, DLGPROC proc,
                  const std::function<void(HWND)> &drive);
/* A click whose work ends inside the dialog procedure: returns when done. */
void dialog_click(HWND dialog, int id);
/* A click that opens a nested modal window (a file dialog): returns at once. */
void dialog_click_posted(HWND dialog, int id);
/* The way a user toggles a check box: the box changes and notifies. */
void dialog_toggle(HWND dialog, int id);
void dialog_set(HWND dialog, int id, const std::string &text);
std::string dialog_get(HWND dialog, int id);
/* Waits until the dialog's thread is back in the dialog's own message loop:
   the nested window is gone and the click's exchanges and work are done. */
void dialog_settle(HWND dialog);
/* A visible window owned by `owner` (a message box over a file dialog). */
HWND dialog_find_owned(HWND owner, int wait_ms);
bool dialog_wait_gone(HWND window, int wait_ms);

/* A filter list as the file dialog reads it: texts up to the empty one,
   each followed by '|'. */
std::string filter_text(const char *list);
/* The file name box of an open or save dialog: the edit control with id
   edt1, or the edit inside the combo box cmb13, or the first visible edit. */
HWND file_dialog_name_box(HWND file_dialog);

/* What happened in a file dialog: the proposed name it showed and whether
   a path was typed and confirmed. */
struct FileDialogSeen {
    bool shown = false;
    std::string proposed;
    bool confirmed = false;
};

/* Answers the file dialog titled `title`: types `path` and presses OK, or
   cancels when `path` is empty. `answer_box` (IDYES / IDNO / 0) answers a
   message box the file dialog then raises (create or overwrite prompt). */
FileDialogSeen file_dialog_answer(const char *title, const std::string &path, int answer_box = 0);

#endif
