/*
 * script_dialog.cpp: the "Execute a Script" dialog (template SCRIPT).
 *
 * The name field only shows script_file_name; what the user types there is
 * never read back. Browse is the one way to change the script, and EXEC
 * always runs script_file_name as Browse last left it.
 */
#include "script/script.h"

#include "app/app.h"
#include "app/app_state.h"
#include "dialogs/dialogs.h"
#include "resources/resource.h"

static INT_PTR script_dialog_on_init(HWND dialog) {
    file_dialog_init(dialog);
    dlg_item_printf(dialog, IDC_SCRIPT_NAME, "%s", app.gui.script_file_name);
    return TRUE;
}

static INT_PTR script_dialog_on_exec(HWND dialog) {
    start_script(app.gui.script_file_name);
    EndDialog(dialog, 1);
    return TRUE;
}

/* A cancelled choice leaves the name and the field as they were. */
static INT_PTR script_dialog_on_browse(HWND dialog) {
    if (choose_open_file(dialog, app.gui.script_file_name, "Read Script File"))
        dlg_item_printf(dialog, IDC_SCRIPT_NAME, "%s", app.gui.script_file_name);
    return TRUE;
}

static INT_PTR script_dialog_on_command(HWND dialog, WPARAM wparam) {
    switch (LOWORD(wparam)) {
        case IDC_SCRIPT_EXEC: return script_dialog_on_exec(dialog);
        case IDC_SCRIPT_QUIT: EndDialog(dialog, 0); return TRUE;
        case IDC_SCRIPT_BROWSE: return script_dialog_on_browse(dialog);
        default: return FALSE;
    }
}

INT_PTR CALLBACK script_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    (void)lparam;
    switch (message) {
        case WM_INITDIALOG: return script_dialog_on_init(dialog);
        case WM_COMMAND: return script_dialog_on_command(dialog, wparam);
        default: return FALSE;
    }
}
