/*
 * card.h: the card reader window, the card connection and its state machine,
 * the APDU exchange, the ATR table and the protocol parameters.
 */
#ifndef VORLANE_CARD_H
#define VORLANE_CARD_H

#include <windows.h>
#include <winscard.h>

#include "card/card_transmit.h" /* card_transmit and its clock */
#include "card/reader_list.h"   /* the reader list */

/* Exports from card/reader_window.cpp */
ATOM reader_window_register(HINSTANCE instance);
LRESULT CALLBACK reader_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from card/reader_choice.cpp */
int reader_scan(void);
INT_PTR CALLBACK reader_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from card/card_state.cpp */
void card_tick(void);
int card_reset(char *text);
int card_get_atr(unsigned char *atr); /* atr holds CARD_ATR_SIZE bytes */

/* Exports from card/atr_table.cpp */
void atr_table_load(void);
int atr_match(const unsigned char *atr, int length);
int card_print_parameters(SCARDHANDLE handle);

#endif
