/*
 * explain_atr_fuzz.cpp: any bytes as an ATR and as a response are explained
 * without reading past them, in pieces never empty, under
 * EXPLAIN_PIECE_SIZE and terminated, the text ending with a whole line.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "explain/explain.h"

static void check_piece(void *context, const char *text, size_t length) {
    if (length == 0 || length > EXPLAIN_PIECE_SIZE - 1 || text[length] || strlen(text) != length)
        abort();
    *(char *)context = text[length - 1];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    /* An exact-size copy, so that ASan sees any read past the input. */
    unsigned char *copy = (unsigned char *)malloc(size ? size : 1);
    memcpy(copy, data, size);
    char last = 0, last_response = 0;
    explain_atr(copy, size, check_piece, &last);
    explain_response(0, 0, copy, size, check_piece, &last_response);
    if (last != '\n' || last_response != '\n')
        abort();
    free(copy);
    return 0;
}
