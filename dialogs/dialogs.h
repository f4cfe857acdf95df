/*
 * dialogs.h: the Command dialog and the memory and tag read/write dialogs.
 */
#ifndef VORLANE_DIALOGS_H
#define VORLANE_DIALOGS_H

#include <windows.h>

/* Exports from dialogs/dlg_item.cpp; GUI thread (the dialog's own) */
/* Replaces the item's text with the formatted text, whatever its length;
   returns that length, or -1 when formatting or memory fails. */
int dlg_item_printf(HWND dialog, int id, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
/* sscanf of the item's text (its first 199 characters) into the one value
   out points to; returns sscanf's result, out untouched when none is read. */
int dlg_item_scanf(HWND dialog, int id, const char *format, void *out);

/* Exports from dialogs/dlg_work.cpp: a dialog's exchanges on a worker */
/* GUI thread, in a dialog's handler: runs work(arg) on a worker thread and
   returns when it has ended, dispatching this thread's messages meanwhile
   (the dialog's keys included); the dialog's enabled buttons but keep_id
   are greyed until then. Without a thread the work runs here. */
void dlg_work_run(HWND dialog, int keep_id, void (*work)(void *arg), void *arg);
/* GUI thread, a dialog's command while a work runs: 1 when it is consumed
   (quit_id asks the work to stop and the dialog to close afterwards). */
int dlg_work_command(int id, int quit_id);
/* The worker, between chunks: 1 once QUIT asked it to stop. */
int dlg_work_stopping(void);
/* GUI thread, at the end of the handler: closes the dialog if QUIT came. */
void dlg_work_end(HWND dialog);

/* Exports from dialogs/command_dialog.cpp */
INT_PTR CALLBACK command_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from dialogs/memory_chunks.cpp. One READ BINARY (length bytes)
   or WRITE / UPDATE BINARY (buffer[0..length), at most 255 bytes, else -1
   and nothing sent) at a 16-bit address or block, through card_transmit:
   its result, with the response copied to buffer, which holds
   CARD_TRANSMIT_CAPACITY bytes. Any thread holding no lock. */
int memory_read_binary(unsigned char *buffer, int length, unsigned address);
int tag_read_binary(unsigned char *buffer, int length, unsigned block);
int memory_write_binary(unsigned char *buffer, int length, unsigned address);
int tag_update_binary(unsigned char *buffer, int length, unsigned block);

/* Exports from dialogs/memory_dialogs.cpp */
INT_PTR CALLBACK memory_write_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK tag_write_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK memory_read_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK tag_read_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

#endif
