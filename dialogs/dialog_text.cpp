/*
 * dialog_text.cpp: reading APDU file lines and building the pane text of a
 * memory chunk, apart from the dialogs so that the host tests reach them.
 */
#include "dialogs/dialog_text.h"

#include <stdio.h>

#include "app/text_form.h"

/* Reads one line of a text-mode file, line end included, keeping its first
   `room` characters in `line` (no terminator). Returns the line's whole
   length; 0 when the file has no further line. */
size_t command_read_line(FILE *file, char *line, size_t room) {
    size_t length = 0;
    int c;

    while ((c = fgetc(file)) != EOF) {
        if (length < room)
            line[length] = (char)c;
        length++;
        if (c == '\n')
            break;
    }
    return length;
}

/* The pane text of a chunk read: the bytes as characters up to the first
   zero (text format), or the hexadecimal bytes then their characters with
   "." for what is not printable, and a line end. */
void memory_chunk_text(char *text, size_t room, const unsigned char *data, int chunk,
                       int text_format) {
    size_t used = 0;

    if (text_format) {
        for (int i = 0; i < chunk && data[i] && used + 1 < room; i++)
            text[used++] = (char)data[i];
        text[used] = 0;
        return;
    }
    used += hex_text(text, room, data, chunk, " ");
    for (int i = 0; i < chunk && used + 1 < room; i++)
        text[used++] = (data[i] >= 0x20 && data[i] <= 0x7E) ? (char)data[i] : '.';
    snprintf(text + used, room - used, "\r\n");
}
