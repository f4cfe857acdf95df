/*
 * card.h: the card reader window, the card connection and its state machine,
 * the APDU exchange, the ATR table and the protocol parameters.
 */
#ifndef VORLANE_CARD_H
#define VORLANE_CARD_H

#include <windows.h>
#include <winscard.h>

/* Exports from card/reader_window.cpp */
ATOM reader_window_register(HINSTANCE instance);
LRESULT CALLBACK reader_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from card/reader_choice.cpp */
void reader_list_names(void); /* the readers' multi-string into reader_names */
int reader_scan(void);
int reader_list_all(void);
INT_PTR CALLBACK reader_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from card/card_state.cpp */
void card_tick(void);
int card_reset(char *text);
int card_get_atr(unsigned char *atr); /* atr holds CARD_ATR_SIZE bytes */
/* Shutdown, GUI thread: if a closed window's drop is still pending, waits
   for the exchange in flight (card_lock) and does the drop. */
void card_drop_wait(void);

/* Exports from card/card_transmit.cpp */
int card_transmit(unsigned char *buffer, int length, int *error);
/* card_transmit, and on success the exchange's time in ms as its Console
   line shows it into *elapsed_ms (may be 0). Any thread; takes card_lock. */
int card_transmit_timed(unsigned char *buffer, int length, int *error, int *elapsed_ms);
void xfer_stats_clear(void);
/* Tests replace the wall clock; 0 restores it. */
typedef void (*xfer_clock_fn)(long long *seconds, int *milliseconds);
void xfer_clock_set(xfer_clock_fn clock);

/* Exports from card/atr_table.cpp */
void atr_table_load(void);
int atr_match(const unsigned char *atr, int length);
int card_print_parameters(SCARDHANDLE handle);

#endif
