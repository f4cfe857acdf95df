/*
 * file_io.cpp: the length of an open file and the checked close of a
 * written one, shared by the dialogs and the script log.
 */
#include "app/file_io.h"

/* The length in bytes of an open file; the position is left where it was.
   -1 when the stream cannot seek (a pipe, a device) or the length does not
   fit a long: callers treat that as a file they cannot use. */
long file_length(FILE *stream) {
    long here = ftell(stream);
    long end;

    if (here < 0 || fseek(stream, 0, SEEK_END) != 0)
        return -1;
    end = ftell(stream);
    if (fseek(stream, here, SEEK_SET) != 0)
        return -1;
    return end;
}

/* Closes a file that was written. The buffer is flushed and checked first:
   not every C runtime reports a failed flush (a full disk) from fclose
   itself, and a short file must never pass for a whole one. 0 when every
   byte reached the file. */
int file_close_written(FILE *stream) {
    int failed = fflush(stream) != 0 || ferror(stream);

    failed |= fclose(stream) != 0;
    return failed ? -1 : 0;
}
