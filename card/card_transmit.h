/*
 * card_transmit.h: the one APDU exchange routine and its clock, for the GUI
 * program and the command-line runner alike.
 */
#ifndef VORLANE_CARD_TRANSMIT_H
#define VORLANE_CARD_TRANSMIT_H

#include "card/card_session.h"

/* Exports from card/card_transmit.cpp */
/* Any thread holding no card_lock or pane lock: sends buffer[0..length)
   over session's card when it is ready and writes the response over
   buffer, which holds at least max(length, capacity) bytes. Returns the
   response length (0..capacity), or -1 on any failure, the buffer then
   unchanged: card not ready (*error 0, nothing sent, no Console line),
   length outside 0..XFER_COMMAND_MAX or capacity outside
   0..XFER_RESPONSE_MAX (*error = SCARD_E_INVALID_PARAMETER), a response
   longer than capacity (*error = SCARD_E_INSUFFICIENT_BUFFER: never cut),
   or another platform failure (*error = its code). *error is 0 otherwise;
   error may be 0. With elapsed_ms (may be 0), a success also gives the
   exchange's time as its Console line shows it. Takes session's card_lock,
   then its xfer_lock; prints its Console line after leaving them. */
int card_exchange(CardSession *session, unsigned char *buffer, int length, int capacity, int *error,
                  int *elapsed_ms);
/* card_exchange with the response written to response (capacity bytes),
   a buffer apart from the command, which stays as it is: no copy is made.
   After a failure response holds nothing the caller may use. */
int card_exchange_into(CardSession *session, const unsigned char *command, int length,
                       unsigned char *response, int capacity, int *error, int *elapsed_ms);
/* card_exchange on the GUI's session with the capacity its callers have
   always given: buffer holds CARD_TRANSMIT_CAPACITY (512) bytes. */
int card_transmit(unsigned char *buffer, int length, int *error);
/* Empties the GUI session's exchange statistics (under its xfer_lock). */
void xfer_stats_clear(void);
/* Tests replace the wall clock; 0 restores it. */
typedef void (*xfer_clock_fn)(long long *seconds, int *milliseconds);
void xfer_clock_set(xfer_clock_fn clock);

#endif
