/*
 * explain_local.h: what the explanation files share among themselves: the
 * piece of text being filled and the tree walk without its own piece.
 * Callers use explain.h.
 */
#ifndef VORLANE_EXPLAIN_LOCAL_H
#define VORLANE_EXPLAIN_LOCAL_H

#include "explain/explain.h"

/* The piece being filled: text gathers in piece and goes to the sink when
   the piece is full and when the explanation ends. */
enum { EXPLAIN_LINE_SIZE = 256 }; /* one formatted stretch of a line */
typedef struct ExplainOut {
    char piece[EXPLAIN_PIECE_SIZE]; /* text not yet sent, terminated when it goes */
    size_t used;                    /* bytes in piece, at most EXPLAIN_PIECE_SIZE - 1 */
    ExplainSink sink;
    void *context;
} ExplainOut;

void explain_out_start(ExplainOut *out, ExplainSink sink, void *context);
void explain_out_bytes(ExplainOut *out, const char *text, size_t length);
void explain_out_text(ExplainOut *out, const char *text);
/* printf-style; a stretch longer than EXPLAIN_LINE_SIZE - 1 is cut. */
void explain_out_format(ExplainOut *out, const char *format, ...);
/* bytes as upper-case hexadecimal pairs without separators */
void explain_out_hex(ExplainOut *out, const unsigned char *bytes, size_t count);
/* Sends what is left. */
void explain_out_end(ExplainOut *out);

/* The tree of data into out (explain_tlv without its own piece), or 0 with
   the reason and nothing written. */
int explain_tlv_tree(ExplainOut *out, const unsigned char *data, size_t length, char *reason,
                     size_t reason_size);

#endif
