/*
 * dib.cpp: checks and layout of a device-independent bitmap read from a
 * file (see dib.h for what is accepted).
 *
 * Design: every offset and length is computed in 64 bits and compared with
 * the bytes actually present before any field beyond them is read, so a
 * hostile file can neither move a read past the buffer nor overflow a sum.
 */
#include "app/dib.h"

#include <string.h>

static uint32_t dib_u16(const unsigned char *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

static uint32_t dib_u32(const unsigned char *p) {
    return dib_u16(p) | dib_u16(p + 2) << 16;
}

void dib_put_u16(unsigned char *p, uint32_t value) {
    p[0] = (unsigned char)value;
    p[1] = (unsigned char)(value >> 8);
}

void dib_put_u32(unsigned char *p, uint32_t value) {
    dib_put_u16(p, value & 0xFFFF);
    dib_put_u16(p + 2, value >> 16);
}

size_t dib_file_image_size(const unsigned char *file_header, uint64_t file_length) {
    if (file_length < DIB_FILE_HEADER_SIZE || file_length > DIB_FILE_MAX)
        return 0;
    if (file_header[0] != 'B' || file_header[1] != 'M')
        return 0;
    uint32_t declared = dib_u32(file_header + 2);
    if (declared < DIB_FILE_HEADER_SIZE + DIB_CORE_HEADER_SIZE || declared > file_length)
        return 0;
    return (size_t)declared - DIB_FILE_HEADER_SIZE;
}

/* Width, height, orientation and depth from the info header. */
static int dib_parse_size(const unsigned char *image, DibInfo *info) {
    if (info->header_size == DIB_CORE_HEADER_SIZE) {
        info->width = dib_u16(image + 4);
        info->height = dib_u16(image + 6);
        info->bits = dib_u16(image + 10);
        info->top_down = 0;
        return info->bits == 1 || info->bits == 4 || info->bits == 8 || info->bits == 24;
    }
    int32_t width = (int32_t)dib_u32(image + 4);
    int32_t height = (int32_t)dib_u32(image + 8);
    info->bits = dib_u16(image + 14);
    if (width < 1 || width > 65535 || height < -65535 || height > 65535)
        return 0;
    info->width = (unsigned)width;
    info->top_down = height < 0;
    info->height = (unsigned)(height < 0 ? -height : height);
    return info->bits == 1 || info->bits == 4 || info->bits == 8 || info->bits == 16 ||
           info->bits == 24 || info->bits == 32;
}

/* A usable mask is one run of set bits inside the pixel. */
static int dib_mask_usable(uint32_t mask, unsigned bits) {
    if (mask == 0 || (bits == 16 && mask > 0xFFFF))
        return 0;
    uint32_t low = mask & (~mask + 1); /* lowest set bit */
    return ((mask + low) & mask) == 0; /* adding it clears the whole run */
}

/* Colour masks: inside headers of 52 bytes and more, else the 12 bytes that
   follow the header. */
static int dib_parse_masks(const unsigned char *image, size_t size, DibInfo *info) {
    if (info->bits != 16 && info->bits != 32)
        return 0;
    info->masks_offset = info->header_size >= 52 ? 40 : info->header_size;
    if ((uint64_t)info->masks_offset + 12 > size)
        return 0;
    for (int i = 0; i < 3; i++) {
        info->masks[i] = dib_u32(image + info->masks_offset + 4 * i);
        if (!dib_mask_usable(info->masks[i], info->bits))
            return 0;
    }
    return !(info->masks[0] & info->masks[1]) && !(info->masks[0] & info->masks[2]) &&
           !(info->masks[1] & info->masks[2]);
}

static int dib_parse_compression(const unsigned char *image, size_t size, DibInfo *info) {
    info->compression = DIB_RGB;
    info->table_offset = info->header_size;
    if (info->header_size < 20) /* no compression field: uncompressed */
        return 1;
    uint32_t compression = dib_u32(image + 16);
    if (compression == DIB_RGB)
        return 1;
    if (compression != DIB_BITFIELDS || !dib_parse_masks(image, size, info))
        return 0;
    info->compression = DIB_BITFIELDS;
    if (info->masks_offset == info->header_size)
        info->table_offset += 12;
    return 1;
}

/* Colour table: "colours used" when the header has that field and it is
   nonzero, else a full table up to 8 bits per pixel and none above. */
static void dib_parse_table(const unsigned char *image, DibInfo *info) {
    uint32_t used = info->header_size >= 36 ? dib_u32(image + 32) : 0;
    uint32_t full = info->bits <= 8 ? 1u << info->bits : 0;

    info->table_entries = used ? used : full;
    info->table_entry_size = info->header_size == DIB_CORE_HEADER_SIZE ? 3 : 4;
    info->palette_entries = info->table_entries < full ? info->table_entries : full;
}

int dib_parse(const unsigned char *image, size_t size, DibInfo *info) {
    memset(info, 0, sizeof *info);
    if (!image || size < 4)
        return 0;
    info->header_size = dib_u32(image);
    if (info->header_size < 16 && info->header_size != DIB_CORE_HEADER_SIZE)
        return 0;
    if (info->header_size > size)
        return 0;
    if (!dib_parse_size(image, info) || info->width == 0 || info->height == 0)
        return 0;
    if ((uint64_t)info->width * info->height > DIB_PIXELS_MAX)
        return 0;
    if (!dib_parse_compression(image, size, info))
        return 0;
    dib_parse_table(image, info);
    uint64_t bits_offset =
        (uint64_t)info->table_offset + (uint64_t)info->table_entries * info->table_entry_size;
    uint64_t row_bytes = ((uint64_t)info->width * info->bits + 31) / 32 * 4;
    if (bits_offset > size || row_bytes * info->height > size - bits_offset)
        return 0;
    info->bits_offset = (size_t)bits_offset;
    info->row_bytes = (size_t)row_bytes;
    return 1;
}

/* The accessors re-read the header of an image that dib_parse accepted with
   its real size: every field they read lies inside the part it checked. */
static DibInfo dib_accepted(const unsigned char *image) {
    DibInfo info;
    if (!dib_parse(image, SIZE_MAX, &info))
        memset(&info, 0, sizeof info);
    return info;
}

unsigned dib_width(const unsigned char *image) {
    return dib_accepted(image).width;
}

unsigned dib_height(const unsigned char *image) {
    return dib_accepted(image).height;
}

const unsigned char *dib_bits(const unsigned char *image) {
    return image + dib_accepted(image).bits_offset;
}

size_t dib_format(const unsigned char *image, unsigned char *format) {
    DibInfo info = dib_accepted(image);
    unsigned char *header = format;
    unsigned char *rest = format + DIB_INFO_HEADER_SIZE;

    memset(format, 0, DIB_FORMAT_SIZE);
    dib_put_u32(header, DIB_INFO_HEADER_SIZE);
    dib_put_u32(header + 4, info.width);
    dib_put_u32(header + 8, info.top_down ? (uint32_t)0 - info.height : info.height);
    dib_put_u16(header + 12, 1);
    dib_put_u16(header + 14, info.bits);
    dib_put_u32(header + 16, info.compression);
    dib_put_u32(header + 32, info.palette_entries);
    if (info.compression == DIB_BITFIELDS) {
        for (int i = 0; i < 3; i++)
            dib_put_u32(rest + 4 * i, info.masks[i]);
        return DIB_INFO_HEADER_SIZE + 12;
    }
    const unsigned char *table = image + info.table_offset;
    for (unsigned i = 0; i < info.palette_entries; i++)
        memcpy(rest + 4 * i, table + (size_t)i * info.table_entry_size, 3);
    return DIB_INFO_HEADER_SIZE + (size_t)info.palette_entries * 4;
}
