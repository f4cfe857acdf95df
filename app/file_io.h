/*
 * file_io.h: what the program needs of an open C stream beyond stdio: its
 * length, and a close that tells whether every written byte arrived. No
 * Win32 here; callable from any thread on a stream that thread owns.
 */
#ifndef VORLANE_FILE_IO_H
#define VORLANE_FILE_IO_H

#include <stdio.h>

/* Exports from app/file_io.cpp */

/* Length in bytes of stream, the position kept; -1 when it cannot seek. */
long file_length(FILE *stream);

/* Flushes and closes a written stream (always closed): 0, or -1 when the
   file is short. */
int file_close_written(FILE *stream);

#endif
