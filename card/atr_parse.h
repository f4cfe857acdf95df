/*
 * atr_parse.h: the text side of the ATR table: parsing atr.txt lines and
 * formatting an ATR for the match. No Win32 here.
 */
#ifndef VORLANE_ATR_PARSE_H
#define VORLANE_ATR_PARSE_H

#include <stddef.h>
#include <stdio.h>

#include "card/atr_record.h"

/* atr.txt is read in pieces of at most 127 characters (a 128-byte buffer):
   a longer line is taken as several lines. */
enum { ATR_LINE_PIECE = 127 };

/* Result of one atr.txt line */
enum {
    ATR_LINE_RECORD = 1,  /* *record filled */
    ATR_LINE_COMMENT = 0, /* "/" or "*" first: skipped */
    ATR_LINE_END = -1,    /* fewer than four fields: the table ends here */
    ATR_LINE_SKIPPED = 2, /* four fields, but the ATR or script is too long to keep */
};

/* Classifies a line (only its first 127 characters are looked at) and, for a
   record, fills *record. A name over 31 characters is cut to 31; an ATR text
   over 255 or a script name over 63 characters skips the line, since a cut
   ATR or file name would name another card or file. */
int atr_line_parse(const char *line, AtrRecord *record);

/* Reads a whole table from stream; returns the number of records (<= max). */
int atr_table_read(FILE *stream, AtrRecord *table, int max);

/* Writes the match text of an ATR ("%02X" per byte) into text (size bytes),
   as many whole bytes as fit; a negative length gives an empty text. */
void atr_to_text(const unsigned char *atr, int length, char *text, size_t size);

/* The pane text of an ATR, "Answer to Reset: \r\n " then "%02X " per byte,
   into text (size bytes, terminated; whole bytes only). Returns its length. */
int card_atr_text(char *text, size_t size, const unsigned char *atr, int length);

/* Index of the first record whose atr_text equals text exactly, or -1. */
int atr_table_find(const AtrRecord *table, int count, const char *text);

#endif
