/*
 * pane_print.cpp: the variadic print entry points, one pair for both
 * builds; each build's pane_vprint decides where the text goes.
 */
#include "console/pane_print.h"

#include "app/app_state.h"

int reader_print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_vprint(PANE_READER, format, args);
    va_end(args);
    return length;
}

int console_print(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_vprint(PANE_CONSOLE, format, args);
    va_end(args);
    return length;
}

int pane_print(int pane, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int length = pane_vprint(pane, format, args);
    va_end(args);
    return length;
}
