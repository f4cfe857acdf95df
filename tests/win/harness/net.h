/*
 * net.h: a network reader client for the Win32 tests, and the rule that
 * the thread owning the frame keeps pumping while a client waits.
 *
 * The server thread prints into the reader pane through SendMessage to the
 * GUI thread (the test thread), so every client conversation runs on a
 * second thread while the test thread dispatches messages (harness_with_pump).
 */
#ifndef VORLANE_HARNESS_NET_H
#define VORLANE_HARNESS_NET_H

#include <string>

#include <winsock.h>

/* A connected client socket, or INVALID_SOCKET. */
SOCKET net_client_connect(int port, const char *address = "127.0.0.1");
/* Connects to port until a connection is taken (at most about 5 s), with
   this thread pumping its messages meanwhile (the server prints through
   it); the probe's connection is closed at once. True when one was taken. */
bool net_client_probe(int port);
bool net_client_send(SOCKET s, const std::string &text);
/* 1 when data is waiting, 0 on time-out, -1 on error. */
int net_client_wait(SOCKET s, int ms);
/* What the server sent until its closing byte 0x03 (included), until it
   closed the connection, or until ms passed without a byte. *closed is set
   when the server closed the connection. */
std::string net_client_reply(SOCKET s, int ms = 5000, bool *closed = nullptr);
/* True when the server closes the connection within ms without sending. */
bool net_client_sees_close(SOCKET s, int ms = 5000);
/* A request frame for the given bytes: start 60, length, data, a check pair
   and the byte 0x03. A count of 256 or more is sent as a long request. */
std::string net_request(const std::string &hex_bytes);
/* The reply frame the server must send for a status and data. */
std::string net_reply(int status, const std::string &hex_bytes);

#endif
