/*
 * net.h: the network reader server.
 */
#ifndef VORLANE_NET_H
#define VORLANE_NET_H

#include <winsock.h>
#include <windows.h>

/* Exports from net/net_server.cpp */
int net_startup(WORD version);
int net_server_start(int initialise);
int net_server_stop(int clean_up);
DWORD WINAPI net_server_thread(LPVOID unused);

/* Exports from net/net_connection.cpp */
int net_connection_run(int slot);
int net_recv(int slot, char *buffer, int room);
int net_send_all(int slot, const char *text, int length);
int net_socket_close(int slot);
int net_connection_close(int slot);
int net_connection_reset(int slot);
void net_hex_trace(const unsigned char *bytes, int count, int first, int per_line, int spaced);

#endif
