/*
 * dialogs.h: the Command dialog and the memory and tag read/write dialogs.
 */
#ifndef VORLANE_DIALOGS_H
#define VORLANE_DIALOGS_H

#include <windows.h>

/* Exports from dialogs/dlg_item.cpp */
int dlg_item_printf(HWND dialog, int id, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
int dlg_item_scanf(HWND dialog, int id, const char *format, void *out);

/* Exports from dialogs/command_dialog.cpp */
INT_PTR CALLBACK command_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from dialogs/memory_chunks.cpp */
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
