/*
 * net.h: the network reader server.
 */
#ifndef VORLANE_NET_H
#define VORLANE_NET_H

#include <winsock.h>
#include <windows.h>

/* Exports from net/net_server.cpp. Start and stop run on the GUI thread
   (start while the frame is created, stop after the message loop). */
/* Starts the socket library once per process; 1 when it is started. */
int net_startup(WORD version);
/* Starts the server thread (with initialise: the socket library first).
   1 when a thread was started; 0 when a server already runs or a step
   failed. Never waits. */
int net_server_start(int initialise);
/* Closes the listening socket and the connection (taking the connection
   lock), waits for the server thread while keeping the panes drained, with
   clean_up ends the socket library, then pauses one second. Returns 1. */
int net_server_stop(int clean_up);
DWORD WINAPI net_server_thread(LPVOID unused);

/* Exports from net/net_connection.cpp. All run on the server thread; slot
   0 is the only connection, any other slot gets 0 and nothing done. */
/* Serves the connection in slot until it is idle again: takes the
   connection lock and inside it card_lock (through card_transmit and
   card_get_atr), and prints only outside card_lock. 1 when served. */
int net_connection_run(int slot);
/* One receive of at most room characters; the count, 0 on a closed socket
   or any failure. Called without the connection lock (it may block). */
int net_recv(int slot, char *buffer, int room);
/* Sends all length characters; 1 when every one went, 0 otherwise. Called
   without the connection lock (it may block). */
int net_send_all(int slot, const char *text, int length);
/* Shuts down and closes the socket and marks it none; 0 when there was
   none. Needs the connection lock. */
int net_socket_close(int slot);
/* The socket closed and the slot idle; needs the connection lock. */
int net_connection_close(int slot);
/* The slot back to receiving the next request; needs the connection lock. */
int net_connection_reset(int slot);
/* Prints bytes[first .. first + count - 1] into the reader pane as "%02X"
   (spaced: "%02X "), per_line bytes to a line ("\r\n" after each full one),
   ending with exactly one line break. Prints: never call it under card_lock. */
void net_hex_trace(const unsigned char *bytes, int count, int first, int per_line, int spaced);

#endif
