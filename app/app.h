/*
 * app.h: start-up, the frame window, the About box, the logo and the shared
 * file dialogs.
 */
#ifndef VORLANE_APP_H
#define VORLANE_APP_H

#include <stdio.h>
#include <windows.h>

#include "app/file_written.h" /* file_close_written */
#include "app/platform.h"     /* wall_clock_read */

/* Exports from app/startup.cpp */
int app_run(HINSTANCE instance, const char *command_line, int show);
int app_register_classes(HINSTANCE instance);
HWND app_create_frame(int show);

/* Exports from app/frame.cpp */
LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK mdi_client_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void frame_close_all(void);

/* Exports from app/logo.cpp */
void logo_load(void);
void logo_release(void);
void paint_logo(HWND client);

/* Exports from app/file_dialogs.cpp */
void file_dialog_init(HWND owner);
void file_dialog_init_filter(HWND owner, const char *filter_list);
int choose_open_file(HWND owner, char *path, const char *title);
int choose_save_file(HWND owner, char *path, const char *title);
long file_length(FILE *stream);

#endif
