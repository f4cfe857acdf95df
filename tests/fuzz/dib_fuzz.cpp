/*
 * dib_fuzz.cpp: any bytes as a logo file. The file header check and the
 * image checks must never read outside the bytes given, and an accepted
 * image must hold its colour table and every padded row.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "app/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < DIB_FILE_HEADER_SIZE)
        return 0;
    size_t image_size = dib_file_image_size(data, size);
    if (image_size == 0)
        return 0;
    if (image_size > size - DIB_FILE_HEADER_SIZE)
        abort(); /* would read past the file */
    /* An exact-size copy, as the loader's block is. */
    unsigned char *image = (unsigned char *)malloc(image_size);
    memcpy(image, data + DIB_FILE_HEADER_SIZE, image_size);
    DibInfo info;
    if (dib_parse(image, image_size, &info)) {
        uint64_t end = (uint64_t)info.bits_offset + (uint64_t)info.row_bytes * info.height;
        if (end > image_size || info.width == 0 || info.height == 0)
            abort();
        if (dib_width(image) != info.width || dib_height(image) != info.height ||
            dib_bits(image) != image + info.bits_offset)
            abort();
        if (info.row_bytes % 4 != 0 || info.row_bytes * 8 < (uint64_t)info.width * info.bits)
            abort();
        /* Touch the last pixel byte and every colour entry a drawer reads. */
        volatile unsigned char sink = image[end - 1];
        unsigned char format[DIB_FORMAT_SIZE];
        size_t written = dib_format(image, format);
        if (written > DIB_FORMAT_SIZE)
            abort();
        for (size_t i = 0; i < written; i++)
            sink = sink + format[i];
        (void)sink;
    }
    free(image);
    return 0;
}
