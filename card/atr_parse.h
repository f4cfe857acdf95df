/*
 * atr_parse.h: the text side of the ATR table: parsing atr.txt lines and
 * formatting an ATR for the match. No Win32 here.
 */
#ifndef VORLANE_ATR_PARSE_H
#define VORLANE_ATR_PARSE_H

#include <stddef.h>
#include <stdio.h>

#include "card/atr_record.h"

/* Result of one atr.txt line */
enum { ATR_LINE_RECORD = 1, ATR_LINE_COMMENT = 0, ATR_LINE_END = -1 };

/* Classifies a line and, for a record, fills *record (fields cut to size). */
int atr_line_parse(const char *line, AtrRecord *record);

/* Reads a whole table from stream; returns the number of records (<= max). */
int atr_table_read(FILE *stream, AtrRecord *table, int max);

/* Writes the match text of an ATR ("%02X" per byte) into text (size bytes). */
void atr_to_text(const unsigned char *atr, int length, char *text, size_t size);

/* Index of the first record whose atr_text equals text exactly, or -1. */
int atr_table_find(const AtrRecord *table, int count, const char *text);

#endif
