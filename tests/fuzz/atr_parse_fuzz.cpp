/*
 * atr_parse_fuzz.cpp: any atr.txt loads without reading or writing out of
 * bounds, and every record it yields has terminated fields of their sizes.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "card/atr_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    AtrRecord table[32];
    FILE *stream = fmemopen((void *)data, size, "rb");
    if (!stream)
        return 0;
    int count = atr_table_read(stream, table, 32);
    fclose(stream);
    if (count < 0 || count > 32)
        abort();
    for (int i = 0; i < count; i++) {
        if (strnlen(table[i].name, 32) > 31 || strnlen(table[i].atr_text, 256) > 255 ||
            strnlen(table[i].script, 64) > 63)
            abort();
        char text[2 * 256 + 1];
        atr_to_text((const unsigned char *)table[i].atr_text, (int)strlen(table[i].atr_text), text,
                    sizeof text);
        atr_table_find(table, count, text);
    }
    return 0;
}
