/*
 * inflate.cpp: raw deflate data and CRC-32 over zlib, the only file that
 * includes the library's header.
 *
 * An entry is inflated in one call into a buffer of its declared size.
 * When that buffer is full before the data has ended, one more byte of
 * room tells the two cases apart: data that merely has its end marker
 * left gives nothing more, data that goes on would write the byte, and
 * the entry is then refused rather than cut silently to its declared size.
 */
#define ZLIB_CONST
#include "cap/inflate.h"

#include <limits.h>
#include <string.h>
#include <zlib.h>

/* The library's counts are 32 bits: the archives we read are far smaller
   (a CAP file is at most a few MiB), and a larger request is refused. */
static int inflate_fits(size_t length) {
    return length <= UINT_MAX;
}

/* What the library's last answer means for an entry of size bytes. */
static int inflate_outcome(int status, size_t made, size_t size) {
    if (status == Z_STREAM_END)
        return made == size ? INFLATE_OK : INFLATE_SHORT;
    if (status == Z_MEM_ERROR)
        return INFLATE_LIBRARY;
    if (status == Z_BUF_ERROR && made < size)
        return INFLATE_SHORT; /* the data ran out first */
    return INFLATE_DAMAGED;   /* a bad stream, or one cut after size bytes */
}

int inflate_exact(const unsigned char *in, size_t in_length, unsigned char *out, size_t size,
                  size_t *made) {
    z_stream stream;
    unsigned char extra;
    int past = 0;

    *made = 0;
    if (!inflate_fits(in_length) || !inflate_fits(size))
        return INFLATE_LIBRARY;
    memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return INFLATE_LIBRARY;
    stream.next_in = in;
    stream.avail_in = (uInt)in_length;
    stream.next_out = out;
    stream.avail_out = (uInt)size;
    int status = inflate(&stream, Z_FINISH);
    *made = size - stream.avail_out;
    if (status == Z_BUF_ERROR && stream.avail_out == 0) {
        stream.next_out = &extra;
        stream.avail_out = 1;
        status = inflate(&stream, Z_FINISH);
        past = stream.avail_out == 0;
    }
    inflateEnd(&stream);
    return past ? INFLATE_PAST : inflate_outcome(status, *made, size);
}

unsigned long inflate_crc32(const unsigned char *data, size_t length) {
    unsigned long crc = crc32(0L, Z_NULL, 0);

    while (length > 0) {
        uInt piece = length > UINT_MAX ? UINT_MAX : (uInt)length;
        crc = crc32(crc, data, piece);
        data += piece;
        length -= piece;
    }
    return crc;
}
