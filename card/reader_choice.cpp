/*
 * reader_choice.cpp: which reader the card reader window follows. The
 * readers are listed, each is probed for a card, and the one reader with a
 * card is taken at once; otherwise the user picks one in the READER dialog.
 * The chosen name becomes the reader window's session's reader, where
 * every connect finds it; without a choice that is the first reader listed
 * (or "" when listing failed), as the window has always shown.
 *
 * All of this runs on the GUI thread while the window is being created,
 * before its timer starts, on a probe session of its own: its own context
 * and connections, made through the connection layer with the share mode
 * and protocols of every connect of the window.
 */
#include "card/card.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "card/card_connect.h"
#include "card/card_local.h"
#include "card/pcsc.h"
#include "resources/names.h"
#include "resources/resource.h"

static int reader_list_parse(const char **list) {
    return reader_names_split(app.gui.reader_list, sizeof app.gui.reader_list, list,
                              READER_LIST_MAX);
}

/* 1 when the reader holds a card that answers the state query. */
static int reader_has_card(CardSession *probe, const char *name) {
    DWORD state = 0;
    int present = 0;

    snprintf(probe->reader_name, sizeof probe->reader_name, "%s", name);
    if (card_connect(probe, app.sc_protocols) != SCARD_S_SUCCESS)
        return 0;
    if (card_read_state(probe, &state) == SCARD_S_SUCCESS && state != PCSC_STATE_ABSENT)
        present = 1;
    card_disconnect(probe);
    return present;
}

/* A failed scan offers nothing: the entries of an earlier scan point into
   a list that has been replaced since. The list is empty when no context
   could be made or the listing failed. */
int reader_scan(void) {
    CardSession probe;
    int offered = 0;

    card_session_init(&probe, PANE_NONE, PANE_NONE);
    app.gui.offered_count = 0;
    app.gui.reader_list[0] = 0;
    if (card_context_open(&probe, app.sc_scope) != SCARD_S_SUCCESS)
        return -1;
    card_list_readers(&probe, app.gui.reader_list, sizeof app.gui.reader_list);
    int listed = reader_list_parse(app.gui.all_readers);
    for (int i = 0; i < listed; i++) {
        if (reader_has_card(&probe, app.gui.all_readers[i]))
            app.gui.offered_readers[offered++] = app.gui.all_readers[i];
    }
    card_context_close(&probe);
    app.gui.offered_count = offered;
    return offered;
}

/* The index SELECT ends with: the reader the combo box shows, which is
   what the user confirms (an earlier pick may have been left with Escape);
   else the last pick when it still names an offered reader, else the first
   reader (or none). */
static int reader_pick_valid(HWND dialog) {
    int shown = (int)SendDlgItemMessageA(dialog, IDC_READER_COMBO, CB_GETCURSEL, 0, 0);
    if (shown >= 0 && shown < app.gui.offered_count)
        return shown;
    if (app.gui.reader_pick >= 0 && app.gui.reader_pick < app.gui.offered_count)
        return app.gui.reader_pick;
    return app.gui.offered_count > 0 ? 0 : -1;
}

static INT_PTR reader_dialog_init(HWND dialog) {
    for (int i = 0; i < app.gui.offered_count; i++)
        SendDlgItemMessageA(dialog, IDC_READER_COMBO, CB_INSERTSTRING, (WPARAM)i,
                            (LPARAM)app.gui.offered_readers[i]);
    SendDlgItemMessageA(dialog, IDC_READER_COMBO, CB_SETCURSEL, (WPARAM)app.gui.reader_last_pick,
                        0);
    return TRUE;
}

static INT_PTR reader_dialog_command(HWND dialog, WPARAM wparam) {
    switch (LOWORD(wparam)) {
        case IDC_READER_COMBO:
            if (HIWORD(wparam) == CBN_SELCHANGE) {
                int selection =
                    (int)SendDlgItemMessageA(dialog, IDC_READER_COMBO, CB_GETCURSEL, 0, 0);
                if (selection >= 0)
                    app.gui.reader_pick = selection;
            }
            return TRUE;
        case IDC_READER_SELECT:
            app.gui.reader_pick = reader_pick_valid(dialog);
            app.gui.reader_last_pick = app.gui.reader_pick;
            EndDialog(dialog, app.gui.reader_pick);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, -1); return TRUE;
        default: return FALSE;
    }
}

INT_PTR CALLBACK reader_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    (void)lparam;
    switch (message) {
        case WM_INITDIALOG: return reader_dialog_init(dialog);
        case WM_COMMAND: return reader_dialog_command(dialog, wparam);
        default: return FALSE;
    }
}

static int reader_dialog_run(void) {
    return (int)DialogBoxParamA(app.gui.instance, RES_DIALOG_READER, app.gui.frame_window,
                                reader_dialog_proc, 0);
}

/* The session follows name from now on (cut to its room). */
static void reader_select(const char *name) {
    CardSession *session = &app.gui.reader.session;

    snprintf(session->reader_name, sizeof session->reader_name, "%s", name);
}

void reader_choose(void) {
    int pick = -1;
    int found = reader_scan();
    if (found == 1)
        pick = 0;
    else if (found >= 2)
        pick = reader_dialog_run();
    else if ((app.gui.offered_count = reader_list_parse(app.gui.offered_readers)) >= 1)
        pick = reader_dialog_run();
    if (pick >= 0 && pick < app.gui.offered_count)
        reader_select(app.gui.offered_readers[pick]);
    else
        reader_select(app.gui.reader_list);
}
