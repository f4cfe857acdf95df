/*
 * text_buffer.h: bytes that grow as they are appended, the one growable
 * buffer of the program (the runner's report and standard input, a
 * script's check records and its blocks). A temporary buffer of one run:
 * zero it to start, free it at the end. No Win32 here.
 */
#ifndef VORLANE_TEXT_BUFFER_H
#define VORLANE_TEXT_BUFFER_H

#include <stddef.h>

struct TextBuffer {
    char *text;        /* the bytes, or 0 before the first */
    size_t used, size; /* bytes written and allocated */
    int lost;          /* 1 when memory ran out: some bytes are missing */
    int secret;        /* 1: it may hold keys (data rows): every block it leaves is
                          wiped, when it grows and when it is freed */
};

/* Exports from app/text_buffer.cpp; the caller serialises the calls on one
   buffer. */
/* Appends length bytes; 1, or 0 (and lost set) when memory ran out. Once
   lost, nothing more is appended. */
int text_buffer_add(TextBuffer *buffer, const void *bytes, size_t length);
void text_buffer_free(TextBuffer *buffer);

#endif
