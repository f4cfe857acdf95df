/*
 * stream_print.cpp: a pane's prints in a build without windows (the native
 * command-line runner): they go to its stream only, and are dropped while it
 * has none, as prints to a pane without a window.
 */
#include "console/pane_print.h"

#include "console/pane_streams.h"

int pane_takes_prints(int pane) {
    return pane >= 0 && pane < PANE_STREAM_COUNT && pane_streams &&
           pane_streams->pane_stream[pane] != 0;
}

int pane_vprint(int pane, const char *format, va_list args) {
    if (pane < 0 || pane >= PANE_STREAM_COUNT || !pane_streams)
        return 0;
    return pane_stream_vprint(pane, format, args);
}

void pane_write(int pane, const char *text, size_t length) {
    if (pane >= 0 && pane < PANE_STREAM_COUNT && pane_streams)
        pane_stream_put(pane, text, length);
}
