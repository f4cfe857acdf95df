/*
 * file_dialogs.cpp: the one shared description of the platform's open and
 * save dialogs, set up by each caller's dialog with the program's filters,
 * and the length of an open file.
 *
 * Every caller runs on the GUI thread inside a modal dialog, so at most one
 * file dialog is open at a time and the shared description needs no lock.
 */
#include "app/app.h"

#include <string.h>

#include "app/app_state.h"

/* Description and pattern, twice, ended by an empty text. */
static const char file_text_filter[] = "Text files  (*.TXT)\0*.txt\0"
                                       "All files   (*.*)\0*.*\0";

static void file_dialog_fill(HWND owner, const char *filter) {
    memset(&app.gui.file_dialog, 0, sizeof app.gui.file_dialog);
    /* The record's true size for this build: a 64-bit program that passes
       the 32-bit size gets every dialog refused. */
    app.gui.file_dialog.lStructSize = sizeof(OPENFILENAMEA);
    app.gui.file_dialog.hwndOwner = owner;
    app.gui.file_dialog.lpstrFilter = filter;
    app.gui.file_dialog.nMaxFile = PATH_SIZE;
    app.gui.file_dialog.lpstrDefExt = "txt";
}

void file_dialog_init(HWND owner) {
    file_dialog_fill(owner, file_text_filter);
}

/* Copies a filter list (texts ended by an empty one) into file_filter_buffer.
   A list that does not fit keeps only the description and pattern pairs that
   fit whole, so the dialog never sees a pattern without its description or a
   list without its end. */
void file_dialog_init_filter(HWND owner, const char *filter_list) {
    char *out = app.gui.file_filter_buffer;
    size_t used = 0;
    const char *in = filter_list ? filter_list : "";

    while (in[0]) {
        size_t description = strlen(in) + 1;
        size_t pattern = strlen(in + description) + 1;
        if (pattern == 1 || used + description + pattern + 1 > sizeof app.gui.file_filter_buffer)
            break;
        memcpy(out + used, in, description + pattern);
        used += description + pattern;
        in += description + pattern;
    }
    out[used] = 0;
    if (used == 0)
        out[1] = 0; /* an empty list: no filter at all */
    file_dialog_fill(owner, app.gui.file_filter_buffer);
}

/* Runs the open or save dialog on a copy of the caller's path, so that a
   cancelled dialog leaves the path exactly as it was and a chosen path that
   does not fit is refused by the dialog instead of overflowing. */
static int file_dialog_run(HWND owner, char *path, const char *title, DWORD flags, int save) {
    char chosen[PATH_SIZE];
    BOOL ok;

    strncpy(chosen, path, sizeof chosen - 1);
    chosen[sizeof chosen - 1] = 0;
    app.gui.file_dialog.hwndOwner = owner;
    app.gui.file_dialog.lpstrFile = chosen;
    app.gui.file_dialog.nMaxFile = sizeof chosen;
    app.gui.file_dialog.lpstrTitle = title;
    app.gui.file_dialog.Flags = flags;
    ok = save ? GetSaveFileNameA(&app.gui.file_dialog) : GetOpenFileNameA(&app.gui.file_dialog);
    app.gui.file_dialog.lpstrFile = 0;
    if (!ok)
        return 0;
    memcpy(path, chosen, strlen(chosen) + 1);
    return 1;
}

int choose_open_file(HWND owner, char *path, const char *title) {
    return file_dialog_run(owner, path, title, OFN_CREATEPROMPT | OFN_HIDEREADONLY, 0);
}

int choose_save_file(HWND owner, char *path, const char *title) {
    return file_dialog_run(owner, path, title, OFN_OVERWRITEPROMPT, 1);
}
