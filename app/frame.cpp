/*
 * frame.cpp: the MDI frame window "Vorlane", its menu dispatch, Close all,
 * the MDI client's logo background and the About box.
 *
 * The frame handles window management, the two child kinds and the modal
 * dialogs itself; every other command goes to the active MDI child.
 */
#include "app/app.h"

#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "script/script.h"

static HWND frame_create_child(const char *class_name, const char *title) {
    MDICREATESTRUCTA create = {};

    create.szClass = class_name;
    create.szTitle = title;
    create.hOwner = app.gui.instance;
    create.x = CW_USEDEFAULT;
    create.y = CW_USEDEFAULT;
    create.cx = CW_USEDEFAULT;
    create.cy = CW_USEDEFAULT;
    create.style = 0;
    create.lParam = 0;
    return (HWND)SendMessageA(app.gui.mdi_client, WM_MDICREATE, 0, (LPARAM)&create);
}

static LRESULT frame_on_create(HWND window) {
    CLIENTCREATESTRUCT client = {};

    client.hWindowMenu = app.gui.window_menu;
    client.idFirstChild = IDM_FIRST_CHILD;
    app.gui.frame_window = window;
    app.gui.mdi_client =
        CreateWindowExA(0, "MDICLIENT", NULL, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 0, 0,
                        window, (HMENU)1, app.gui.instance, &client);
    app.gui.client_default_proc =
        (WNDPROC)SetWindowLongPtrA(app.gui.mdi_client, GWLP_WNDPROC, (LONG_PTR)mdi_client_proc);
    if (app.network_server_enabled)
        net_server_start(1);
    return 0;
}

static BOOL CALLBACK frame_close_one(HWND window, LPARAM unused) {
    (void)unused;
    if (!IsWindow(window) || GetWindow(window, GW_OWNER))
        return TRUE;
    HWND parent = GetParent(window);
    SendMessageA(parent, WM_MDIRESTORE, (WPARAM)window, 0);
    if (SendMessageA(window, WM_QUERYENDSESSION, 0, 0))
        SendMessageA(parent, WM_MDIDESTROY, (WPARAM)window, 0);
    return TRUE;
}

/* Visits every descendant of the MDI client, edit controls included: an
   edit control answers the query, and its parent ignores the MDI requests. */
void frame_close_all(void) {
    EnumChildWindows(app.gui.mdi_client, frame_close_one, 0);
}

static void frame_close_active(void) {
    HWND active = (HWND)SendMessageA(app.gui.mdi_client, WM_MDIGETACTIVE, 0, 0);

    if (active && SendMessageA(active, WM_QUERYENDSESSION, 0, 0))
        SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)active, 0);
}

/* The menu item is greyed only once its window exists: a window that
   failed to open must not leave the user without a way to try again. */
static void frame_grey_while_open(HWND child, UINT item) {
    if (child && IsWindow(child))
        EnableMenuItem(app.gui.frame_menu, item, MF_BYCOMMAND | MF_GRAYED);
}

static void frame_new_console(void) {
    HWND console = frame_create_child(CLASS_CONSOLE, "Console");
    console_print("Console is Ready ...\r\n");
    frame_grey_while_open(console, IDM_NEW_CONSOLE);
}

static void frame_new_reader(void) {
    frame_grey_while_open(frame_create_child(CLASS_READER, "Velmo"), IDM_NEW_READER);
}

static void frame_dialog(HWND window, const char *name, DLGPROC proc) {
    DialogBoxParamA(app.gui.instance, name, window, proc, 0);
}

/* Anything the frame does not handle goes to the active child, then to the
   default frame processing (which activates a child of the window list). */
static LRESULT frame_forward(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    HWND active = (HWND)SendMessageA(app.gui.mdi_client, WM_MDIGETACTIVE, 0, 0);

    if (active && IsWindow(active))
        SendMessageA(active, message, wparam, lparam);
    return DefFrameProcA(window, app.gui.mdi_client, message, wparam, lparam);
}

/* "Explain": traces of the reader pane explained or not, the menu item
   checked to match. Off at start, so the pane shows what it always did. */
static void frame_toggle_explain(void) {
    int on = !card_session_explains(gui_session());

    platform_counter_set(&gui_session()->explain, on);
    CheckMenuItem(app.gui.frame_menu, IDM_EXPLAIN, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

/* The whole parameter is compared, not its low word: the menu sends high
   word 0, and anything else (a control's notification) is forwarded to
   the active child rather than run as a menu command, as it always was. */
static LRESULT frame_on_command(HWND window, WPARAM wparam, LPARAM lparam) {
    switch (wparam) {
        case IDM_NEW_CONSOLE: frame_new_console(); break;
        case IDM_CLOSE: frame_close_active(); break;
        case IDM_QUIT:
        case IDM_QUIT_READER: SendMessageA(window, WM_CLOSE, 0, 0); break;
        case IDM_TILE: SendMessageA(app.gui.mdi_client, WM_MDITILE, 0, 0); break;
        case IDM_CASCADE: SendMessageA(app.gui.mdi_client, WM_MDICASCADE, 0, 0); break;
        case IDM_ARRANGE: SendMessageA(app.gui.mdi_client, WM_MDIICONARRANGE, 0, 0); break;
        case IDM_CLOSE_ALL: frame_close_all(); break;
        case IDM_NEW_READER: frame_new_reader(); break;
        case IDM_MEMORY_WRITE:
            frame_dialog(window, RES_DIALOG_WRITE, memory_write_dialog_proc);
            break;
        case IDM_MEMORY_READ: frame_dialog(window, RES_DIALOG_READ, memory_read_dialog_proc); break;
        case IDM_TAG_READ: frame_dialog(window, RES_DIALOG_READ, tag_read_dialog_proc); break;
        case IDM_TAG_WRITE: frame_dialog(window, RES_DIALOG_WRITE, tag_write_dialog_proc); break;
        case IDM_SCRIPT_EXEC: frame_dialog(window, RES_DIALOG_SCRIPT, script_dialog_proc); break;
        case IDM_ABOUT: frame_dialog(window, RES_DIALOG_ABOUT, about_dialog_proc); break;
        case IDM_EXPLAIN: frame_toggle_explain(); break;
        case IDM_ATR_DETAILS: card_print_atr_details(); break;
        default: return frame_forward(window, WM_COMMAND, wparam, lparam);
    }
    return 0;
}

/* WM_CLOSE and WM_QUERYENDSESSION: empty the frame first; refuse while a
   child is left. */
static LRESULT frame_on_close(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    SendMessageA(window, WM_COMMAND, IDM_CLOSE_ALL, 0);
    if (GetWindow(app.gui.mdi_client, GW_CHILD))
        return 0;
    return DefFrameProcA(window, app.gui.mdi_client, message, wparam, lparam);
}

static LRESULT frame_on_paint(HWND window) {
    PAINTSTRUCT paint;

    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE: return frame_on_create(window);
        case WM_DESTROY:
            pane_close_all(); /* frees writers waiting on a full queue */
            logo_release();
            PostQuitMessage(0);
            return 0;
        case WM_PAINT: return frame_on_paint(window);
        case WM_CLOSE:
        case WM_QUERYENDSESSION: return frame_on_close(window, message, wparam, lparam);
        case WM_COMMAND: return frame_on_command(window, wparam, lparam);
        case WM_PANE_PRINT: return pane_drain_message(wparam, lparam);
        case WM_TIMER:
            if (wparam >= PANE_DRAIN_TIMER && wparam < PANE_DRAIN_TIMER + PANE_COUNT) {
                pane_drain_timer(wparam);
                return 0;
            }
            break;
        default: break;
    }
    return DefFrameProcA(window, app.gui.mdi_client, message, wparam, lparam);
}

LRESULT CALLBACK mdi_client_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ERASEBKGND) {
        paint_logo(window);
        return 1;
    }
    return CallWindowProcA(app.gui.client_default_proc, window, message, wparam, lparam);
}

INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    (void)lparam;
    switch (message) {
        case WM_INITDIALOG: return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, 0);
                return TRUE;
            }
            break;
        default: break;
    }
    return FALSE;
}
