/*
 * card_transmit.h: the one APDU exchange routine and its clock, for the GUI
 * program and the command-line runner alike.
 */
#ifndef VORLANE_CARD_TRANSMIT_H
#define VORLANE_CARD_TRANSMIT_H

/* Exports from card/card_transmit.cpp */
/* Sends buffer[0..length) to the ready card and writes the response over it
   (the buffer holds 512 bytes); returns its length, or -1 with the status
   code in *error. Any thread; takes card_lock and prints after leaving it. */
int card_transmit(unsigned char *buffer, int length, int *error);
void xfer_stats_clear(void); /* empties the two-slot averages; takes xfer_lock */
/* Tests replace the wall clock; 0 restores it. */
typedef void (*xfer_clock_fn)(long long *seconds, int *milliseconds);
void xfer_clock_set(xfer_clock_fn clock);

#endif
