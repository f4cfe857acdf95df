/*
 * dlg_work.cpp: the card exchanges of the Command, memory and tag dialogs,
 * run on a worker thread while the dialog stays modal and answering.
 *
 * One APDU may take a minute, and a read of a tag thousands of them, so
 * the GUI thread must not make them itself. The dialog's handler starts
 * the work and, until it ends, dispatches the thread's messages itself:
 * the frame repaints, the panes show the worker's lines, the reader
 * window's ticks run, and the handler then carries on where it would have
 * after the exchanges, so the dialog ends exactly as it did before.
 *
 * Design: the dialogs are modal, so at most one work runs. Its buttons are
 * greyed but QUIT; the procedures ignore their other commands meanwhile,
 * and QUIT (Esc, the close box) asks the work to stop after the chunk in
 * flight and the dialog to close once the handler has finished.
 */
#include "dialogs/dialogs.h"

#include "app/app_state.h"
#include "console/console.h"

enum { DLG_WORK_BUTTONS = 32 }; /* more buttons than any dialog has */

struct DlgWork {
    void (*work)(void *arg);
    void *arg;
};

struct DlgGreyed {
    HWND buttons[DLG_WORK_BUTTONS];
    int count;
    int keep_id;
};

static DWORD WINAPI dlg_work_entry(LPVOID param) {
    DlgWork *work = (DlgWork *)param;
    work->work(work->arg);
    return 0;
}

static BOOL CALLBACK dlg_work_grey_one(HWND child, LPARAM param) {
    DlgGreyed *greyed = (DlgGreyed *)param;
    char cls[16] = "";

    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") != 0 || GetDlgCtrlID(child) == greyed->keep_id ||
        !IsWindowEnabled(child) || greyed->count >= DLG_WORK_BUTTONS)
        return TRUE;
    greyed->buttons[greyed->count++] = child;
    EnableWindow(child, FALSE);
    return TRUE;
}

/* Dispatches this thread's messages, the dialog's keys through the dialog,
   until the worker ends. A quit message is put back for the outer loop. */
static void dlg_work_pump(HWND dialog, HANDLE thread) {
    int quit = 0;
    WPARAM code = 0;
    MSG msg;

    for (;;) {
        DWORD woke =
            MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke != WAIT_OBJECT_0 + 1) { /* the worker ended (or waiting failed) */
            pane_wait_thread(thread);    /* a worker on a full queue still ends */
            break;
        }
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = 1;
                code = msg.wParam;
            } else if (!IsWindow(dialog) || !IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    if (quit)
        PostQuitMessage((int)code);
}

void dlg_work_run(HWND dialog, int keep_id, void (*work)(void *arg), void *arg) {
    DlgWork job = {work, arg};
    DlgGreyed greyed = {};

    greyed.keep_id = keep_id;
    InterlockedExchange(&app.gui.dialog_work_stop, 0);
    app.gui.dialog_work_close = 0;
    HANDLE thread = CreateThread(NULL, 0, dlg_work_entry, &job, 0, NULL);
    if (!thread) { /* no thread to be had: the work runs here, as it did */
        work(arg);
        return;
    }
    app.gui.dialog_work_busy = 1;
    HWND focus = GetFocus();
    EnumChildWindows(dialog, dlg_work_grey_one, (LPARAM)&greyed);
    SetFocus(GetDlgItem(dialog, keep_id)); /* Esc keeps reaching the dialog */
    dlg_work_pump(dialog, thread);
    CloseHandle(thread);
    for (int i = 0; i < greyed.count; i++)
        if (IsWindow(greyed.buttons[i]))
            EnableWindow(greyed.buttons[i], TRUE);
    /* Back to the field or button the user left, so that the next Enter
       or Space repeats the action instead of pressing QUIT. */
    if (IsWindow(dialog) && IsWindow(focus) && IsWindowEnabled(focus))
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)focus, TRUE);
    app.gui.dialog_work_busy = 0;
}

int dlg_work_command(int id, int quit_id) {
    if (!app.gui.dialog_work_busy)
        return 0;
    if (id == quit_id) {
        InterlockedExchange(&app.gui.dialog_work_stop, 1);
        app.gui.dialog_work_close = 1;
    }
    return 1;
}

int dlg_work_stopping(void) {
    return app.gui.dialog_work_stop != 0;
}

void dlg_work_end(HWND dialog) {
    if (!app.gui.dialog_work_close)
        return;
    app.gui.dialog_work_close = 0;
    if (IsWindow(dialog))
        EndDialog(dialog, 0);
}
