/*
 * stream_print.cpp: the print entry points of a build without windows (the
 * native command-line runner): each pane's prints go to its stream only,
 * and are dropped while it has none, as prints to a pane without a window.
 */
#include "console/pane_print.h"

#include "app/app_state.h"

int pane_takes_prints(int pane) {
    return app.pane_stream[pane] != 0;
}

int reader_print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_stream_vprint(PANE_READER, format, args);
    va_end(args);
    return length;
}

int console_print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_stream_vprint(PANE_CONSOLE, format, args);
    va_end(args);
    return length;
}
