/*
 * text_form.h: numbers and words as text, the one place each form is
 * written or read: bytes as upper-case hexadecimal pairs, capped decimal
 * numbers, and words between separators. No Win32 here; callable from any
 * thread (no state).
 */
#ifndef VORLANE_TEXT_FORM_H
#define VORLANE_TEXT_FORM_H

#include <stddef.h>

/* Exports from app/text_form.cpp */

/* Writes the low byte of value as two upper-case hexadecimal digits at
   text[0] and text[1]; no terminator. */
void hex_pair_put(char *text, unsigned value);

/* Writes bytes[0 .. count-1] as 2 * count upper-case hexadecimal digits at
   text, no separator, no terminator: the fast form for long traces. */
void hex_run_put(char *text, const unsigned char *bytes, size_t count);

/* Writes bytes[0 .. count-1] into text (size bytes) as hexadecimal pairs,
   each followed by separator ("" for none), as many whole pairs as fit
   before the terminator. Returns the characters written (terminator not
   counted); a count of 0 or less gives an empty text, a size of 0 writes
   nothing. */
size_t hex_text(char *text, size_t size, const unsigned char *bytes, int count,
                const char *separator);

/* Value 0-15 of one hexadecimal digit (either case), or -1. */
int hex_digit_value(char c);

/* The one reader of hexadecimal pairs: text (NUL-terminated) as pairs,
   blanks and tabs allowed between them, into bytes (capacity bytes).
   Returns the count, or -1 for a stray character, an odd digit or more
   than capacity bytes. */
int hex_pairs_read(const char *text, unsigned char *bytes, int capacity);

/* Reads an optional sign and then at least one decimal digit at text (no
   white space is skipped). The value is held within the range of int, so
   any run of digits is read whole. Returns the character after the digits
   and sets *value; 0 (and *value untouched) when no digit comes. */
const char *decimal_scan(const char *text, int *value);

/* The next word of *at: the characters is_separator takes are skipped,
   then the word runs to the next separator or the end of the text (a NUL
   ends it whatever is_separator says). Returns the word's start and sets
   *length, 0 when no word is left; *at moves past the word. Each reader
   passes its own separators, so what splits its words stays its own. */
const char *text_word_next(const char **at, int (*is_separator)(char), size_t *length);

#endif
