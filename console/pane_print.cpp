/*
 * pane_print.cpp: the variadic print entry points, one pair for both
 * builds; each build's pane_vprint decides where the text goes.
 */
#include "console/pane_print.h"

#include <string.h>

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

/* A print's text is cut at PANE_FORMAT_SIZE - 1 characters, so a long
   text goes out in pieces of fewer; the pane joins them as one text. */
void pane_print_long(int pane, const char *text, size_t length) {
    const size_t piece_max = PANE_FORMAT_SIZE - 1;

    length = strnlen(text, length);
    while (length > 0) {
        size_t piece = length < piece_max ? length : piece_max;
        pane_print(pane, "%.*s", (int)piece, text);
        text += piece;
        length -= piece;
    }
}
