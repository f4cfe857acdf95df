/*
 * pending.cpp: entry points of subsystems still being built, so that every
 * commit links. Each line goes when its subsystem's own file lands.
 */
#include "app/app.h"
#include "app/app_state.h"
#include "card/card.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "script/script.h"

static INT_PTR CALLBACK pending_dialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    (void)lparam;
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

/* card/ */
void xfer_stats_clear(void) {}
int card_transmit(unsigned char *buffer, int length, int *error) { (void)buffer; (void)length; if (error) *error = 0; return -1; }
void xfer_clock_set(xfer_clock_fn clock) { (void)clock; }
void atr_table_load(void) {}
int atr_match(const unsigned char *atr, int length) { (void)atr; (void)length; return -1; }
int card_print_parameters(SCARDHANDLE handle) { (void)handle; return 0; }
int card_reset(char *text) { text[0] = 0; return 0; }
unsigned char *card_get_atr(int *length) { *length = app.card_atr_len; return app.card_atr; }
int reader_scan(void) { return -1; }
int reader_list_all(void) { return 0; }
void card_tick(void) {}
INT_PTR CALLBACK reader_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }

/* app/ logo */
void logo_load(void) {}
void logo_release(void) {}
void paint_logo(HWND client) { (void)client; }

/* app/ file dialogs */
void file_dialog_init(HWND owner) { (void)owner; }
void file_dialog_init_filter(HWND owner, const char *filter_list) { (void)owner; (void)filter_list; }
int choose_open_file(HWND owner, char *path, const char *title) { (void)owner; (void)path; (void)title; return 0; }
int choose_save_file(HWND owner, char *path, const char *title) { (void)owner; (void)path; (void)title; return 0; }
long file_length(FILE *stream) { (void)stream; return 0; }

/* dialogs/ */
int dlg_item_printf(HWND dialog, int id, const char *format, ...) { (void)dialog; (void)id; (void)format; return 0; }
int dlg_item_scanf(HWND dialog, int id, const char *format, void *out) { (void)dialog; (void)id; (void)format; (void)out; return 0; }
INT_PTR CALLBACK command_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }
INT_PTR CALLBACK memory_write_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }
INT_PTR CALLBACK tag_write_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }
INT_PTR CALLBACK memory_read_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }
INT_PTR CALLBACK tag_read_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }

/* script/ */
int start_script(const char *path) { (void)path; return 1; }
int run_card_script(void) { return 0; }
int script_runs_wait(DWORD timeout_ms) { (void)timeout_ms; return 1; }
INT_PTR CALLBACK script_dialog_proc(HWND d, UINT m, WPARAM w, LPARAM l) { return pending_dialog(d, m, w, l); }

/* net/ */
int net_server_start(int initialise) { (void)initialise; return 0; }
int net_server_stop(int clean_up) { (void)clean_up; return 1; }
