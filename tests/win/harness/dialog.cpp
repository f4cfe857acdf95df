/*
 * dialog.cpp: the driver thread's side of the dialog tests.
 */
#include "tests/win/harness/dialog.h"

#include <string.h>

#include <thread>

#include "app/app_state.h"
#include "tests/win/harness/frame.h"

/* Runs the dialog from template `name` with `proc` modal on this thread,
   while `drive` works on it from a second thread. If the driver leaves the
   dialog open it is cancelled. Returns false when the dialog never showed. */
bool dialog_drive(const char *name, const char *title, DLGPROC proc,
                  const std::function<void(HWND)> &drive) {
    bool found = false;
    std::thread driver([&] {
        HWND dialog = harness_find_window(title, 10000);
        found = dialog != 0;
        if (!dialog)
            return;
        drive(dialog);
        if (IsWindow(dialog))
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    DialogBoxParamA(app.gui.instance, name, app.gui.frame_window, proc, 0);
    driver.join();
    return found;
}

/* A filter list as the file dialog reads it: texts up to the empty one. */
std::string filter_text(const char *list) {
    std::string text;
    while (*list) {
        text += list;
        text += '|';
        list += strlen(list) + 1;
    }
    return text;
}

void dialog_click(HWND dialog, int id) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

/* A click that opens a nested modal window (a file dialog): returns at once. */
void dialog_click_posted(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

/* The way a user toggles a check box: the box changes and notifies. */
void dialog_toggle(HWND dialog, int id) {
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void dialog_set(HWND dialog, int id, const std::string &text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

std::string dialog_get(HWND dialog, int id) {
    return harness_window_text(GetDlgItem(dialog, id));
}

/* Waits until the dialog's thread is back in the dialog's own message loop:
   a sent message is handled only once the nested window is gone and the
   click's work has returned. */
void dialog_settle(HWND dialog) {
    SendMessageA(dialog, WM_NULL, 0, 0);
    /* Exchanges run on a worker while the dialog keeps answering. */
    while (app.gui.dialog_work_busy)
        Sleep(5);
    SendMessageA(dialog, WM_NULL, 0, 0);
}

struct DialogChildFind {
    HWND found;
    const char *cls;
};

static BOOL CALLBACK dialog_find_edit_one(HWND window, LPARAM param) {
    DialogChildFind *find = (DialogChildFind *)param;
    char cls[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (!find->found && lstrcmpiA(cls, find->cls) == 0 && IsWindowVisible(window))
        find->found = window;
    return TRUE;
}

/* The file name box of an open or save dialog: the edit control with id
   edt1, or the edit inside the combo box cmb13, or the first visible edit. */
HWND file_dialog_name_box(HWND file_dialog) {
    HWND edit = GetDlgItem(file_dialog, 0x480);
    if (edit)
        return edit;
    HWND combo = GetDlgItem(file_dialog, 0x47C);
    if (combo) {
        edit = FindWindowExA(combo, 0, "Edit", 0);
        if (edit)
            return edit;
        return combo;
    }
    DialogChildFind find = {0, "Edit"};
    EnumChildWindows(file_dialog, dialog_find_edit_one, (LPARAM)&find);
    return find.found;
}

/* A visible window owned by `owner` (a message box over a file dialog). */
HWND dialog_find_owned(HWND owner, int wait_ms) {
    return harness_find_visible([&](HWND window) { return GetWindow(window, GW_OWNER) == owner; },
                                wait_ms);
}

bool dialog_wait_gone(HWND window, int wait_ms) {
    DWORD end = GetTickCount() + (DWORD)wait_ms;
    while (IsWindow(window) && IsWindowVisible(window)) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        Sleep(20);
    }
    return true;
}

/* Answers the file dialog titled `title`: types `path` and presses OK, or
   cancels when `path` is empty. `answer_box` (IDYES / IDNO / 0) answers a
   message box the file dialog then raises (create or overwrite prompt). */
FileDialogSeen file_dialog_answer(const char *title, const std::string &path, int answer_box) {
    FileDialogSeen seen;
    HWND box = harness_find_window(title, 10000);
    if (!box)
        return seen;
    seen.shown = true;
    Sleep(100); /* let the dialog fill its lists before typing */
    HWND name = file_dialog_name_box(box);
    if (name)
        seen.proposed = harness_window_text(name);
    if (path.empty()) {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    } else {
        SetWindowTextA(name, path.c_str());
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
        if (answer_box) {
            HWND prompt = dialog_find_owned(box, 5000);
            if (prompt)
                PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(answer_box, BN_CLICKED), 0);
        }
        seen.confirmed = true;
    }
    dialog_wait_gone(box, 10000);
    return seen;
}
