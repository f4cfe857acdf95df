/*
 * card_transmit.h: the one APDU exchange routine and its clock, for the GUI
 * program and the command-line runner alike.
 */
#ifndef VORLANE_CARD_TRANSMIT_H
#define VORLANE_CARD_TRANSMIT_H

/* Exports from card/card_transmit.cpp */
/* Any thread not holding card_lock or a pane lock: sends buffer[0..length)
   when the card is ready and writes the response over buffer, which must
   hold XFER_RESPONSE_MAX (512) bytes. Returns the response length (0..512),
   or -1 on any failure: card not ready, length outside 0..XFER_COMMAND_MAX
   (*error = SCARD_E_INVALID_PARAMETER), or the platform's failure (*error =
   its code). *error is 0 otherwise; error may be 0. Takes card_lock, then
   xfer_lock; prints its Console line after leaving them. */
int card_transmit(unsigned char *buffer, int length, int *error);
/* card_transmit, and on success the exchange's time in ms as its Console
   line shows it into *elapsed_ms (may be 0). Any thread; takes card_lock. */
int card_transmit_timed(unsigned char *buffer, int length, int *error, int *elapsed_ms);
/* Empties the exchange statistics (under xfer_lock). */
void xfer_stats_clear(void);
/* Tests replace the wall clock; 0 restores it. */
typedef void (*xfer_clock_fn)(long long *seconds, int *milliseconds);
void xfer_clock_set(xfer_clock_fn clock);

#endif
