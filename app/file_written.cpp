/*
 * file_written.cpp: closing a file that was written, with its errors told.
 */
#include "app/file_written.h"

/* Closes a file that was written. The buffer is flushed and checked first:
   not every C runtime reports a failed flush (a full disk) from fclose
   itself, and a short file must never pass for a whole one. 0 when every
   byte reached the file. */
int file_close_written(FILE *stream) {
    int failed = fflush(stream) != 0 || ferror(stream);

    failed |= fclose(stream) != 0;
    return failed ? -1 : 0;
}
