/*
 * stream_read.h: everything a test's stream has received so far, read back
 * from its start, for the host and the Win32 tests alike (a temporary file
 * stands in for the runner's standard output or a pane's stream).
 */
#ifndef VORLANE_TESTS_STREAM_READ_H
#define VORLANE_TESTS_STREAM_READ_H

#include <stdio.h>

#include <string>

inline std::string stream_read_all(FILE *stream) {
    std::string text;
    char piece[4096];
    size_t n;
    fflush(stream);
    rewind(stream);
    while ((n = fread(piece, 1, sizeof piece, stream)) > 0)
        text.append(piece, n);
    return text;
}

#endif
