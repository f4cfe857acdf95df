/*
 * pane_print.cpp: the variadic print entry points, one set for both
 * builds; each build's pane_vprint decides where the text goes.
 */
#include "console/pane_print.h"

#include "app/app_state.h"

/* The body of every entry: a variadic function can hand its arguments on
   only as a va_list it starts and ends itself, so each entry does that
   here, in one place, and names its pane. */
#define PANE_PRINT_FORWARD(pane, format)                                                           \
    va_list args;                                                                                  \
    va_start(args, format);                                                                        \
    int length = pane_vprint((pane), (format), args);                                              \
    va_end(args);                                                                                  \
    return length

int reader_print(const char *format, ...) {
    PANE_PRINT_FORWARD(PANE_READER, format);
}

int console_print(const char *format, ...) {
    PANE_PRINT_FORWARD(PANE_CONSOLE, format);
}

int pane_print(int pane, const char *format, ...) {
    PANE_PRINT_FORWARD(pane, format);
}
