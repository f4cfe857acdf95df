/*
 * app.h: start-up, the frame window, the About box, the logo and the shared
 * file dialogs.
 */
#ifndef VORLANE_APP_H
#define VORLANE_APP_H

#include <stdio.h>
#include <windows.h>

#include "app/file_io.h"
#include "app/platform.h" /* wall_clock_read */

/* Exports from app/startup.cpp; GUI thread */
/* The whole program: command line, tables, frame, message loop; returns
   the exit code. */
int app_run(HINSTANCE instance, const char *command_line, int show);
/* The frame, reader and Console classes; 1 when all three are registered
   (or already were). */
int app_register_classes(HINSTANCE instance);
/* The frame window with its menu and MDI client, shown with show; 0 when
   it cannot be made. */
HWND app_create_frame(int show);

/* Exports from app/frame.cpp */
LRESULT CALLBACK frame_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK mdi_client_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK about_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
/* GUI thread: "Close all": offers every descendant of the MDI client
   (edit controls included) the closing query and destroys the children
   that accept. */
void frame_close_all(void);

/* Exports from app/logo.cpp; GUI thread */
void logo_load(void);         /* smartlogo.bmp when sound, else the built-in logo */
void logo_release(void);      /* frees what logo_load made */
void paint_logo(HWND client); /* the MDI client's background, stretched logo */

/* Exports from app/file_dialogs.cpp; GUI thread, inside a modal dialog */
/* Prepares the shared description for owner with the text-file filter, or
   with filter_list (pairs cut to whole ones that fit FILE_FILTER_SIZE). */
void file_dialog_init(HWND owner);
void file_dialog_init_filter(HWND owner, const char *filter_list);
/* The open or save dialog over path (PATH_SIZE bytes, proposed and then
   chosen); 1 when the user chose a file, 0 when cancelled (path kept). */
int choose_open_file(HWND owner, char *path, const char *title);
int choose_save_file(HWND owner, char *path, const char *title);

#endif
