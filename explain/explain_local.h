/*
 * explain_local.h: what the explanation files share among themselves: the
 * piece of text being filled, the tree walk without its own piece, the
 * reading of one BER-TLV header, and the GlobalPlatform answers' decoders.
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

/* Exports from explain/explain_tlv.cpp */

/* One BER-TLV object's header */
typedef struct TlvHeader {
    size_t at;         /* where the tag starts */
    size_t tag_length; /* 1 to 3 */
    unsigned tag;      /* the tag bytes as one number, e.g. 0x9F38 */
    int constructed;   /* bit 6 of the first tag byte */
    size_t length;     /* of the value */
    size_t value;      /* where the value starts */
} TlvHeader;

/* The tree of data into out (explain_tlv without its own piece), or 0 with
   the reason and nothing written. */
int explain_tlv_tree(ExplainOut *out, const unsigned char *data, size_t length, char *reason,
                     size_t reason_size);
/* The header of the object at header->at, its value ending by end inside
   the object tagged parent (0: the data itself): 1, or 0 with the reason
   ("length runs past the enclosing E3 at byte 12"). */
int explain_tlv_header(const unsigned char *data, size_t end, unsigned parent, TlvHeader *header,
                       char *reason, size_t size);
/* The first byte at or after at that is not padding (00 or FF), or end */
size_t explain_tlv_skip_padding(const unsigned char *data, size_t at, size_t end);
/* Two spaces a level below depth 1, then the tag and the length in
   hexadecimal ("  9F70 01"), as the tree writes them. */
void explain_tlv_write_head(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                            size_t depth);
/* "private primitive" and the like, for a tag known by no name */
const char *explain_tlv_class_name(unsigned first_byte);

/* Exports from explain/explain_gp.cpp: the GlobalPlatform answers are read
   object by object and written as they are read; where the data breaks,
   one line says where and why and the reading ends. */

/* A name for a coded value, in tables looked up by explain_name_find */
typedef struct ExplainName {
    unsigned value;
    const char *name;
} ExplainName;

/* The name of value in table (count rows), or 0 */
const char *explain_name_find(const ExplainName *table, size_t count, unsigned value);

/* A run of objects: those between at and end, inside the object tagged
   parent (0: the data itself) */
typedef struct GpObjects {
    const unsigned char *data;
    size_t at, end;
    unsigned parent;
} GpObjects;

void explain_gp_objects(GpObjects *run, const unsigned char *data, size_t at, size_t end,
                        unsigned parent);
/* The objects inside the value of header */
void explain_gp_objects_in(GpObjects *run, const unsigned char *data, const TlvHeader *header);
/* "TAG LEN NAME" for the constructed object header, a line at depth, and
   run set on the objects inside it */
void explain_gp_enter(GpObjects *run, ExplainOut *out, const unsigned char *data,
                      const TlvHeader *header, size_t depth, const char *name);
/* The next object: 1; 0 at the end of the run; -1 when it cannot be read,
   after the line "(the rest is not BER-TLV: REASON)" at depth when out is
   given. */
int explain_gp_next(GpObjects *run, TlvHeader *header, ExplainOut *out, size_t depth);
/* A run over data whose first object is tagged tag; 0 when it starts with
   anything else (data not of the form looked for). */
int explain_gp_start(GpObjects *run, const unsigned char *data, size_t length, unsigned tag);
/* The next object tagged tag: 1, or 0 at the end of the run; the objects
   before it are written at depth by their class (explain_gp_write_other). */
int explain_gp_next_of(GpObjects *run, unsigned tag, TlvHeader *object, ExplainOut *out,
                       size_t depth);
/* "TAG LEN NAME: VALUE" (": VALUE" only when there is one), a line */
void explain_gp_write_named(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                            size_t depth, const char *name);
/* An object these answers give no name: its class and its value whole */
void explain_gp_write_other(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                            size_t depth);
/* The answer data to command in words: 1, or 0 when the command is not one
   of those known here or the data does not have their form (nothing
   written: the caller writes the tree). */
int explain_gp_answer(ExplainOut *out, const unsigned char *command, size_t command_count,
                      const unsigned char *data, size_t length);
/* The meaning command gives sw1 sw2, or 0 when it gives none of its own */
const char *explain_gp_sw(const unsigned char *command, size_t command_count, unsigned sw1,
                          unsigned sw2);

/* Exports from explain/explain_status.cpp: GET STATUS with its P1 and P2 */
int explain_status(ExplainOut *out, unsigned p1, unsigned p2, const unsigned char *data,
                   size_t length);

/* Exports from explain/explain_card_data.cpp: GET DATA of the CPLC (9F7F),
   the key information template (E0) and the sequence counter (C1) */
int explain_cplc(ExplainOut *out, const unsigned char *data, size_t length);
int explain_keys(ExplainOut *out, const unsigned char *data, size_t length);
int explain_counter(ExplainOut *out, const unsigned char *data, size_t length);

/* Exports from explain/explain_recognition.cpp: GET DATA of the card
   recognition data (66) */
int explain_recognition(ExplainOut *out, const unsigned char *data, size_t length);

#endif
