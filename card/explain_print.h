/*
 * explain_print.h: explanations (explain/explain.h) printed where traces go:
 * into a pane or a runner's stream, as lines ending in CR LF, or into a
 * text the card state machine collects under its lock.
 */
#ifndef VORLANE_EXPLAIN_PRINT_H
#define VORLANE_EXPLAIN_PRINT_H

#include <stddef.h>

/* Exports from card/explain_print.cpp; any thread holding no lock (the
   prints may wait for the GUI thread). */
/* The lines that follow a Received trace: the status word's meaning and
   the data's fields or BER-TLV tree; command (command_count bytes, 0 for
   none) is what the response answers, as written before secure messaging. */
void explain_print_response(int pane, const unsigned char *command, int command_count,
                            const unsigned char *response, int count);
/* The ATR explained, item by item. */
void explain_print_atr(int pane, const unsigned char *atr, int length);
/* "PC/SC status: 0x%08X NAME", the status an exchange failed with. */
void explain_print_status(int pane, long status);
/* The ATR explained into text (size bytes, terminated, cut at a line);
   returns its length. No printing: for text collected under a lock. */
size_t explain_atr_text(char *text, size_t size, const unsigned char *atr, int length);
/* " (MEANING)" of the status word that ends response, the answer to
   command, into text (size bytes); "" when the response has no status
   word. For failed checks. */
void explain_check_suffix(char *text, size_t size, const unsigned char *command, int command_count,
                          const unsigned char *response, int count);

#endif
