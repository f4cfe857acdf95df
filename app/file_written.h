/*
 * file_written.h: closing written files, without Win32.
 */
#ifndef VORLANE_FILE_WRITTEN_H
#define VORLANE_FILE_WRITTEN_H

#include <stdio.h>

/* Exports from app/file_written.cpp */
int file_close_written(FILE *stream); /* closes it: 0, or -1 when the written file is short */

#endif
