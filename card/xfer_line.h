/*
 * xfer_line.h: the text side of an APDU exchange: the Console line of
 * card_transmit, the time within the hour and the two-slot statistics.
 * No Win32 here.
 */
#ifndef VORLANE_XFER_LINE_H
#define VORLANE_XFER_LINE_H

#include <stddef.h>

#include "card/xfer_limits.h" /* the largest command and response */
#include "card/xfer_stat.h"

enum {
    XFER_HEADER_SIZE = 5,     /* CLA INS P1 P2 and the length byte */
    XFER_HOUR_MS = 3600000,   /* one hour in ms */
    XFER_LINE_SIZE = 512,     /* the exchange line */
};

/* Milliseconds since the start of the hour of a wall-clock reading. */
int xfer_ms_in_hour(long long seconds, int milliseconds);

/* Time from start to end, both within the hour; an exchange that spans the
   start of a new hour still measures its true length. */
int xfer_elapsed_ms(int start, int end);

/* a + b, held at INT_MAX instead of overflowing (both >= 0). */
int xfer_add_ms(int a, int b);

/* Copies the first min(length, 5) command bytes into header and zero-fills
   the rest. Returns the number copied. */
int xfer_header_copy(unsigned char header[XFER_HEADER_SIZE], const unsigned char *command,
                     int length);

/* The status word of a response: its last two bytes, or 00 00 when fewer
   than two came back. */
void xfer_status_word(unsigned char status_word[2], const unsigned char *response, int received);

/* Writes "%03d: ", the header bytes, then " SW1SW2" or, when fewer than 2
   bytes came back, "LengthError= %d\r\n". Returns the length written. */
int xfer_line_head(char *line, size_t size, int number, const unsigned char *header,
                   int header_length, const unsigned char *response, int received);

/* Counts an exchange in the slot that holds the same header and status
   word, or replaces the slot *next names and flips *next. Returns the slot;
   *average is the slot's mean after the update, or -1 for a new pair. */
int xfer_stats_record(XferStat stats[2], int *next, const unsigned char header[XFER_HEADER_SIZE],
                      const unsigned char status_word[2], int elapsed, int *average);

/* Empties both slots: counts and sums 0, next slot 0, first header and
   status bytes 0 (the other stored bytes stay). */
void xfer_stats_reset(XferStat stats[2], int *next);

/* Appends the timing part, "<slot:average>" or "<slot:>" for a new pair,
   at line + used. Returns the new length. */
int xfer_line_tail(char *line, size_t size, int used, int elapsed, int end, int start, int total,
                   int slot, int average);

#endif
