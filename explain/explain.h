/*
 * explain.h: a card's answers in words: the meaning of a status word, the
 * BER-TLV tree of a response's data and the items of an ATR. An answer is
 * read with the command it answers, so that a GlobalPlatform card's own
 * answers (GET STATUS, and GET DATA of the CPLC, the card recognition data,
 * the key information and the sequence counter) are told field by field.
 * The text goes out in pieces to a sink the caller gives, so a trace line,
 * a pane or a file can take it. No Win32 here; no heap, no recursion, no
 * state between calls: callable from any thread.
 *
 * Byte positions in the texts ("at byte 12") count from 0, the first byte
 * of the data or of the ATR.
 */
#ifndef VORLANE_EXPLAIN_H
#define VORLANE_EXPLAIN_H

#include <stddef.h>

/* Receives the explanation as text in pieces: lines end with "\n" (LF only),
   a line may span several pieces, a piece holds at most EXPLAIN_PIECE_SIZE-1
   bytes and is NUL-terminated at text[length]. */
typedef void (*ExplainSink)(void *context, const char *text, size_t length);
enum {
    EXPLAIN_PIECE_SIZE = 1024,
    EXPLAIN_SW_SIZE = 128,
    EXPLAIN_REASON_SIZE = 128,
    EXPLAIN_DEPTH_MAX = 32
};

/* Exports from explain/explain_sw.cpp */

/* The meaning of SW1 SW2 in short English, lower case, no final period, into
   text (size bytes, cut to fit, always terminated); returns its length. Never
   empty: a status word outside the standard gives "proprietary" (you may add
   what is known, e.g. "proprietary warning"). 61XX and 6CXX give their numbers
   ("61XX": "XX bytes still available" in decimal; 6CXX: "wrong Le, exact length
   is N"), 63CX the counter ("verification failed, N tries left"). */
size_t explain_sw(unsigned sw1, unsigned sw2, char *text, size_t size);

/* explain_sw for the answer to command (command_count bytes, 0 for none):
   where the command gives SW1 SW2 a meaning of its own, that one (63 10
   after GET STATUS: "more data: repeat with P2 b1 set (03 after 02)"). */
size_t explain_answer_sw(const unsigned char *command, size_t command_count, unsigned sw1,
                         unsigned sw2, char *text, size_t size);

/* The lines that follow a Received trace, for a whole response (data and
   SW1 SW2) to command (command_count bytes: the command as written, before
   any secure messaging wraps it, with the answer unwrapped; 0 bytes when
   not known): "SW XXXX: MEANING\n"; then, when the data (response less its
   two last bytes) is not empty, the answer field by field when the command
   is one of the GlobalPlatform commands named above and the data has its
   form, else its BER-TLV tree, or the single line "(not BER-TLV: REASON)\n"
   -- never a second copy of the bytes. A response of fewer than 2 bytes
   gives one line "(no status word)\n". */
void explain_response(const unsigned char *command, size_t command_count,
                      const unsigned char *response, size_t count, ExplainSink sink, void *context);

/* Exports from explain/explain_tlv.cpp */

/* BER-TLV tree of data: 1 when the whole data parses (the tree went to the
   sink), 0 when it does not: nothing went to the sink and reason holds why
   and where, e.g. "length runs past the data at byte 12". */
int explain_tlv(const unsigned char *data, size_t length, ExplainSink sink, void *context,
                char *reason, size_t reason_size);

/* Exports from explain/explain_atr.cpp */

/* The ATR explained, line by line; a cut or malformed ATR is explained as far
   as it goes and a last line says where and why it breaks. */
void explain_atr(const unsigned char *atr, size_t length, ExplainSink sink, void *context);

#endif
