/*
 * explain_tlv_fuzz.cpp: any bytes as BER-TLV: the tree goes out in sound
 * pieces when the data parses; when it does not, nothing goes out and a
 * reason is given. The same bytes always get the same answer.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "explain/explain.h"
#include "tests/fuzz/explain_fuzz_pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    unsigned char *copy = (unsigned char *)malloc(size ? size : 1);
    memcpy(copy, data, size);
    char reason[EXPLAIN_REASON_SIZE];
    Seen first = {0, 0}, again = {0, 0};
    int whole = explain_tlv(copy, size, check_piece, &first, reason, sizeof reason);
    if (whole ? first.last != '\n' : first.bytes != 0 || !reason[0])
        abort();
    if (explain_tlv(copy, size, check_piece, &again, reason, sizeof reason) != whole ||
        again.bytes != first.bytes)
        abort();
    free(copy);
    return 0;
}
