/*
 * card.h: the card reader window, the card connection and its state machine,
 * the APDU exchange, the ATR table and the protocol parameters.
 */
#ifndef VORLANE_CARD_H
#define VORLANE_CARD_H

#include <windows.h>
#include <winscard.h>

/* The reader window's card_lock (app.gui.reader.session): taken by the
   tick (only when free), card_reset, card_get_atr, card_print_atr_details
   (waiting 50 ms at most), card_print_parameters, the window's close and
   the leave that makes up a pending drop (both only when free),
   card_drop_wait at shutdown, and every exchange on the session
   (card_exchange and card_transmit: the dialogs, the script threads, the
   network reader) with the secure channel's look at the connection
   (script/script_scp.cpp). No worker prints while holding it (the tick's
   GUI-thread prints only queue), and none of these may be called by a
   thread that holds a pane's queue lock. Its place among the program's
   locks is app/app_state.h's. */

#include "card/card_transmit.h" /* card_transmit and its clock */
#include "app/app_state.h"      /* ReaderWindow */

/* Exports from card/reader_window.cpp */
ATOM reader_window_register(HINSTANCE instance);
LRESULT CALLBACK reader_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from card/reader_choice.cpp. GUI thread, no lock: it uses a
   context and handles of its own, before the reader window's timer runs. */
/* Lists the readers and offers those holding a card (offered_readers,
   offered_count); returns that count, -1 (nothing offered) when no context
   could be made. */
int reader_scan(void);
INT_PTR CALLBACK reader_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

/* Exports from card/card_state.cpp */
/* GUI thread (the reader window's timer): one step of the card state
   machine under card_lock; prints and starts the card's script after it. */
void card_tick(ReaderWindow *reader);
/* Any thread but one holding card_lock or a pane lock: reconnects a ready
   card, reads its ATR again (printing its name) and starts its script.
   text (1,024 bytes) gets the report; returns its length. */
int card_reset(char *text);
/* Resets the card (card_reset, so it also names the card and starts its
   script), then copies the ATR into atr (CARD_ATR_SIZE bytes). Returns the
   ATR's length, CARD_ATR_SIZE after a failed state query. */
int card_get_atr(unsigned char *atr);
/* GUI thread ("ATR details"): the ready card's ATR explained in the reader
   pane, or "No card is ready". Never waits long for card_lock. */
void card_print_atr_details(void);
/* Shutdown, GUI thread: if a closed window's drop is still pending, waits
   for the exchange in flight (card_lock) and does the drop. */
void card_drop_wait(void);

/* Exports from card/atr_table.cpp */
/* GUI thread at start-up: reads atr.txt from the current folder (a missing
   file gives an empty table). */
void atr_table_load(void);
/* The index of the table record whose ATR text equals atr[0..length), or
   -1; sets atr_index to it and prints "%s inserted...\r\n" for a match.
   Prints: a worker never calls it with card_lock held (the GUI thread may). */
int atr_match(const unsigned char *atr, int length);
/* Reads the reader's protocol attributes for handle under card_lock and
   prints the parameter line after leaving it; returns 0. A worker never
   calls it with card_lock held; the tick does, on the GUI thread. */
int card_print_parameters(SCARDHANDLE handle);

#endif
