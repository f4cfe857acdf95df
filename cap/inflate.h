/*
 * inflate.h: our one door to the compression library, for the entries of
 * ZIP archives (CAP files): raw deflate data inflated into a buffer of
 * exactly the size the archive declares, and the CRC-32 an entry carries.
 * Nothing else in the program includes the library's header; no Win32
 * here. No state: any thread, any time.
 */
#ifndef VORLANE_INFLATE_H
#define VORLANE_INFLATE_H

#include <stddef.h>

/* What inflate_exact found */
enum InflateStatus {
    INFLATE_OK = 0,  /* the data ended exactly at size bytes */
    INFLATE_PAST,    /* the data goes on past size bytes: nothing more was written */
    INFLATE_SHORT,   /* the data ended (or ran out) before size bytes */
    INFLATE_DAMAGED, /* the data is not valid deflate data */
    INFLATE_LIBRARY, /* the library could not start (no memory) */
};

/* Exports from cap/inflate.cpp */

/* Raw deflate data (no zlib or gzip wrapping, as ZIP keeps it) in[0..
   in_length) inflated into out[0..size). *made is how many bytes it
   wrote; out is never written past size. */
int inflate_exact(const unsigned char *in, size_t in_length, unsigned char *out, size_t size,
                  size_t *made);

/* The CRC-32 (ISO 3309, as ZIP uses it) of data[0..length). */
unsigned long inflate_crc32(const unsigned char *data, size_t length);

#endif
