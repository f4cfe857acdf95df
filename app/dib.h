/*
 * dib.h: checks and layout of a device-independent bitmap read from a
 * file, without Win32, so that the logo's loader can be tested natively.
 *
 * An "image" is what follows the 14-byte file header: the info header, the
 * colour table (or the three colour masks) and the pixel data. A logo file
 * is input the user may not control, so every field is checked against the
 * bytes actually read before anything uses it; a refused file makes the
 * program fall back to its built-in picture.
 *
 * Accepted: info headers of 12 bytes (core) or 16 bytes and more; 1, 4, 8
 * and 24 bits per pixel with the core header, 1, 4, 8, 16, 24 and 32 with
 * larger ones; uncompressed pixels, and colour masks (16 and 32 bits only)
 * when each mask is one run of bits inside the pixel and none overlap;
 * width and height of 1 to 65535 and at most DIB_PIXELS_MAX pixels in all;
 * bottom-up files and top-down ones (negative height), the latter shown the
 * right way up. Refused: everything else, and any file whose colour table
 * or rows (each padded to 4 bytes) would reach past the bytes read.
 */
#ifndef VORLANE_DIB_H
#define VORLANE_DIB_H

#include <stddef.h>
#include <stdint.h>

enum {
    DIB_FILE_HEADER_SIZE = 14,
    DIB_CORE_HEADER_SIZE = 12,
    DIB_INFO_HEADER_SIZE = 40, /* the header dib_format writes */
    DIB_RGB = 0,               /* uncompressed */
    DIB_BITFIELDS = 3,         /* uncompressed with colour masks */
    /* dib_format's output: a 40-byte header and 256 colour entries (or the
       three masks). */
    DIB_FORMAT_SIZE = DIB_INFO_HEADER_SIZE + 256 * 4,
};

/* Largest logo file accepted, in bytes: far beyond any sensible logo, and
   small enough that reading it never strains memory. */
#define DIB_FILE_MAX (64u * 1024u * 1024u)
/* Most pixels accepted: the screen-compatible copy takes up to 4 bytes a
   pixel (128 MiB here). */
#define DIB_PIXELS_MAX (32u * 1024u * 1024u)

/* What dib_parse found in an image it accepts. */
struct DibInfo {
    unsigned header_size;      /* info header size, 12 or 16 and more */
    unsigned width;            /* pixels, 1..65535 */
    unsigned height;           /* pixels (rows), 1..65535 */
    unsigned bits;             /* bits per pixel */
    int top_down;              /* 1: the first row in the file is the top one */
    unsigned compression;      /* DIB_RGB or DIB_BITFIELDS */
    uint32_t masks[3];         /* red, green, blue masks (DIB_BITFIELDS only) */
    size_t masks_offset;       /* where the masks are read (DIB_BITFIELDS only) */
    uint32_t table_entries;    /* colour-table entries in the file */
    unsigned table_entry_size; /* 3 (core header) or 4 bytes */
    size_t table_offset;       /* where the colour table starts */
    unsigned palette_entries;  /* entries the pixels can use (at most 2^bits, 0 over 8 bits) */
    size_t bits_offset;        /* where the pixel data starts */
    size_t row_bytes;          /* bytes per row, padded to 4 */
};

/* Checks the 14-byte file header against the file's real length. Returns the
   number of bytes to read after it (the file-size field minus 14), or 0 when
   the file is refused: not starting with "BM", longer than DIB_FILE_MAX,
   shorter than its file-size field claims (truncated), or with a file-size
   field too small to hold the smallest info header. Bytes past the file-size
   field are ignored. */
size_t dib_file_image_size(const unsigned char *file_header, uint64_t file_length);

/* Checks an image of size bytes. Returns 1 and fills info when the image is
   usable, 0 when it is refused (info is then left undefined). */
int dib_parse(const unsigned char *image, size_t size, DibInfo *info);

/* These take an image that dib_parse accepted. */
unsigned dib_width(const unsigned char *image);
unsigned dib_height(const unsigned char *image);
/* The pixel data: after the info header, the masks when they follow the
   header, and the colour table; the file header's pixel-data offset is not
   used. */
const unsigned char *dib_bits(const unsigned char *image);
/* Writes a 40-byte info header (negative height for a top-down image)
   followed by the masks or the colour table as 4-byte entries into format
   (DIB_FORMAT_SIZE bytes). The header describes only what dib_parse checked,
   so the drawing code never sees a field of the file it did not check.
   Returns the number of bytes written. */
size_t dib_format(const unsigned char *image, unsigned char *format);

/* Little-endian fields of a bitmap file, as the loader reads them (also
   for tools that write one). */
void dib_put_u16(unsigned char *p, uint32_t value);
void dib_put_u32(unsigned char *p, uint32_t value);

#endif
