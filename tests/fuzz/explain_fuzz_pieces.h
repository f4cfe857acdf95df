/* explain_fuzz_pieces.h: the explanation fuzzers' sink: a piece empty, too
   long or not terminated stops the run; it counts bytes, keeps the last. */
#ifndef VORLANE_EXPLAIN_FUZZ_PIECES_H
#define VORLANE_EXPLAIN_FUZZ_PIECES_H

#include <stdlib.h>
#include <string.h>

#include "explain/explain.h"

struct Seen {
    size_t bytes;
    char last;
};

static void check_piece(void *context, const char *text, size_t length) {
    if (length == 0 || length > EXPLAIN_PIECE_SIZE - 1 || text[length] || strlen(text) != length)
        abort();
    ((Seen *)context)->bytes += length;
    ((Seen *)context)->last = text[length - 1];
}

#endif
