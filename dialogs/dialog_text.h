/*
 * dialog_text.h: the texts the Command and memory dialogs read from files
 * and build for the pane. No Win32 here.
 */
#ifndef VORLANE_DIALOG_TEXT_H
#define VORLANE_DIALOG_TEXT_H

#include <stddef.h>
#include <stdio.h>

/* Exports from dialogs/dialog_text.cpp */

/* Reads one line of file (line end included), keeping its first room
   characters in line, unterminated. Returns the whole line's length, 0 at
   the end of the file. */
size_t command_read_line(FILE *file, char *line, size_t room);

/* The pane text of a chunk of chunk bytes read from a card into text (room
   bytes, always terminated): the characters up to the first zero when
   text_format is set, else "%02X " per byte, the bytes as characters ("."
   for the unprintable) and CR LF. A room of 4 * chunk + 3 holds it all. */
void memory_chunk_text(char *text, size_t room, const unsigned char *data, int chunk,
                       int text_format);

#endif
