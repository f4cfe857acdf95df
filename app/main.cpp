/*
 * main.cpp: the program entry of vorlane.exe.
 */
#include <windows.h>

#include "app/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)previous;
    return app_run(instance, command_line, show);
}
