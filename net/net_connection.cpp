/*
 * net_connection.cpp: one client connection of the network reader: its
 * state machine (receive, send, close, idle: NET_SLOT_*), the answers to
 * requests, the socket helpers and the hexadecimal trace.
 *
 * Design: the connection lock guards the slot's state and socket between the
 * server thread and the stop. The server thread holds it except around each
 * blocking receive and send; after one it looks at the state again, so a
 * stop that closed the socket meanwhile (NET_SLOT_IDLE) wins. Requests are
 * answered with the lock held, so card_transmit and card_get_atr take
 * card_lock while it is held (app/app_state.h places the two). Nothing here
 * prints while card_lock is held; those routines take and leave it
 * themselves.
 *
 * Every buffer is sized for the worst a client can cause: the receive
 * buffer holds NET_RECEIVE_SIZE characters (a long request of 271 bytes
 * takes 549), the request buffer holds the NET_FRAME_DATA_MAX decoded bytes
 * and, after the command byte, a response of the network reader's own
 * capacity, NET_RESPONSE_CAPACITY (512) bytes: a longer response fails the
 * exchange and gets the failed reply. The reply has a buffer of its own,
 * NET_REPLY_SIZE, since a reply takes two characters a byte and ten more.
 */
#include "net/net.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "app/text_form.h"
#include "card/card.h"
#include "card/scard_name.h"
#include "console/console.h"
#include "net/net_frame.h"

enum {
    NET_RECEIVE_SIZE = 1024,     /* request text held at once */
    NET_RESPONSE_CAPACITY = 512, /* the longest response a reply carries */
    /* decoded request; then the command byte and the response */
    NET_REQUEST_SIZE = NET_FRAME_DATA_MAX > 1 + NET_RESPONSE_CAPACITY ? NET_FRAME_DATA_MAX
                                                                      : 1 + NET_RESPONSE_CAPACITY,
    NET_REPLY_SIZE = 2 * NET_RESPONSE_CAPACITY + 10, /* the longest reply and its NUL */
    NET_TRACE_SIZE = 2048,                           /* trace text printed at once */
    NET_TRACE_PER_LINE = 32,                         /* bytes per trace line */
    NET_SHUT_BOTH = 2,                               /* shutdown(): no more receives or sends */
    NET_STATUS_DONE = 0x00,
    NET_STATUS_FAILED = 0xFB
};

/* What one connection works on; lives on the server thread's stack. */
struct NetExchange {
    char received[NET_RECEIVE_SIZE];
    int count; /* characters received towards the next frame */
    unsigned char request[NET_REQUEST_SIZE];
    char reply[NET_REPLY_SIZE];
    int reply_length;
};

static NetConnection *net_slot(int slot) {
    return slot == 0 ? &app.gui.net_connection : 0;
}

/* The slot's socket, read without the lock by the thread that serves it:
   the stop may set it to none at any moment, which only makes the next
   call fail. */
static SOCKET net_slot_socket(NetConnection *connection) {
    return *(volatile SOCKET *)&connection->socket;
}

/* The slot's socket, or INVALID_SOCKET for no slot or no connection. */
static SOCKET net_slot_handle(int slot) {
    NetConnection *connection = net_slot(slot);

    return connection ? net_slot_socket(connection) : INVALID_SOCKET;
}

int net_recv(int slot, char *buffer, int room) {
    SOCKET handle = buffer && room > 0 ? net_slot_handle(slot) : INVALID_SOCKET;

    if (handle == INVALID_SOCKET)
        return 0;
    int got = recv(handle, buffer, room, 0);
    return got > 0 ? got : 0; /* SOCKET_ERROR is nothing received */
}

int net_send_all(int slot, const char *text, int length) {
    SOCKET handle = text && length > 0 ? net_slot_handle(slot) : INVALID_SOCKET;

    if (handle == INVALID_SOCKET)
        return 0;
    while (length > 0) {
        int sent = send(handle, text, length, 0);
        if (sent <= 0)
            return 0;
        text += sent;
        length -= sent;
    }
    return 1;
}

int net_socket_close(int slot) {
    NetConnection *connection = net_slot(slot);

    if (!connection || connection->socket == INVALID_SOCKET)
        return 0;
    SOCKET handle = connection->socket;
    connection->socket = INVALID_SOCKET;
    shutdown(handle, NET_SHUT_BOTH);
    closesocket(handle);
    return 1;
}

int net_connection_close(int slot) {
    NetConnection *connection = net_slot(slot);

    if (!connection)
        return 0;
    net_socket_close(slot);
    connection->state = NET_SLOT_IDLE;
    return 1;
}

int net_connection_reset(int slot) {
    NetConnection *connection = net_slot(slot);

    if (!connection)
        return 0;
    connection->state = NET_SLOT_RECEIVE;
    return 1;
}

/* Prints bytes[first] .. bytes[first + count - 1] as "%02X" (or "%02X "),
   per_line to a line, always ending with exactly one line break. A trace
   longer than the buffer goes out in pieces that the pane joins. */
void net_hex_trace(const unsigned char *bytes, int count, int first, int per_line, int spaced) {
    char text[NET_TRACE_SIZE];
    int used = 0;

    if (!bytes || count < 0 || first < 0)
        count = 0;
    if (per_line <= 0)
        per_line = count > 0 ? count : 1;
    text[0] = 0;
    for (int i = 0; i < count; i++) {
        if (used > NET_TRACE_SIZE - 8) {
            reader_print("%s", text);
            used = 0;
        }
        used += (int)hex_text(text + used, (size_t)(NET_TRACE_SIZE - used), bytes + first + i, 1,
                              spaced ? " " : "");
        if ((i + 1) % per_line == 0)
            used += snprintf(text + used, (size_t)(NET_TRACE_SIZE - used), "\r\n");
    }
    if (count % per_line)
        reader_print("%s\r\n", text);
    else
        reader_print("%s", text);
}

static_assert((int)NET_REPLY_SIZE >= 2 * (int)NET_RESPONSE_CAPACITY + 10, "a whole reply fits");
static_assert((int)NET_RESPONSE_CAPACITY <= (int)XFER_RESPONSE_MAX,
              "within the exchange's contract");

/* An APDU request: request[1..count-1] goes to the card; the response
   comes back over request[1..]. Returns the response length. A response
   longer than a reply carries fails with its status named in the trace. */
static int net_answer_apdu(unsigned char *request, int count, int *status) {
    int error = 0;

    reader_print("\n");
    reader_print("Out:\n ");
    net_hex_trace(request, count - 1, 1, NET_TRACE_PER_LINE, 0);
    int n =
        card_exchange(gui_session(), request + 1, count - 1, NET_RESPONSE_CAPACITY, &error, NULL);
    if (n > 0) {
        reader_print("In:\n ");
        net_hex_trace(request, n, 1, NET_TRACE_PER_LINE, 0);
        *status = NET_STATUS_DONE;
        return n;
    }
    reader_print("Error...\n");
    if ((LONG)error == SCARD_E_INSUFFICIENT_BUFFER)
        reader_print("Response over %d bytes: 0x%08X %s\n", NET_RESPONSE_CAPACITY, (unsigned)error,
                     scard_name((unsigned long)(unsigned)error));
    *status = NET_STATUS_FAILED;
    return 0;
}

/* The ATR request: resets the card and answers 00 00 count ATR, or fails
   when the last state query left no usable ATR (count 256). */
static int net_answer_atr(unsigned char *request, int *status) {
    unsigned char atr[CARD_ATR_SIZE];
    /* card_get_atr resets the card first: the card is named again and its
       script starts, as for a card just inserted. */
    int length = card_get_atr(atr);

    if (length < 0 || length >= CARD_ATR_SIZE) {
        *status = NET_STATUS_FAILED;
        return 0;
    }
    request[0] = 0x00;
    request[1] = 0x00;
    request[2] = (unsigned char)length;
    memcpy(request + 3, atr, (size_t)length);
    *status = NET_STATUS_DONE;
    return length + 3;
}

/* Answers the decoded request of count bytes and builds the reply. */
static void net_answer(NetExchange *exchange, int count) {
    unsigned char *request = exchange->request;
    const unsigned char *data = request;
    int status = NET_STATUS_DONE;
    int n = 0;

    if ((request[0] & 0xF0) == 0xD0) {
        n = net_answer_apdu(request, count, &status);
        data = request + 1;
    } else if (request[0] == 0x6E) {
        n = net_answer_atr(request, &status);
    }
    exchange->reply_length = net_frame_build(status, data, n, exchange->reply);
}

/* NET_SLOT_RECEIVE, entered and left with the lock held. */
static void net_connection_receive(NetConnection *connection, NetExchange *exchange) {
    int room = NET_RECEIVE_SIZE - exchange->count;

    LeaveCriticalSection(&connection->lock);
    int got = room > 0 ? net_recv(0, exchange->received + exchange->count, room) : 0;
    EnterCriticalSection(&connection->lock);
    if (connection->state != NET_SLOT_RECEIVE)
        return;
    if (got <= 0) {
        connection->state = NET_SLOT_CLOSE;
        return;
    }
    exchange->count += got;
    int length = net_frame_parse(exchange->received, exchange->count, exchange->request);
    if (length == 0)
        return;
    if (length < 0) {
        connection->state = NET_SLOT_CLOSE;
        return;
    }
    exchange->count = 0; /* what followed the frame in this receive is dropped */
    net_answer(exchange, length);
    connection->state = NET_SLOT_SEND;
}

/* NET_SLOT_SEND, entered and left with the lock held. */
static void net_connection_send(NetConnection *connection, NetExchange *exchange) {
    LeaveCriticalSection(&connection->lock);
    int sent = net_send_all(0, exchange->reply, exchange->reply_length);
    EnterCriticalSection(&connection->lock);
    if (connection->state != NET_SLOT_SEND)
        return;
    connection->state = sent ? NET_SLOT_RECEIVE : NET_SLOT_CLOSE;
}

int net_connection_run(int slot) {
    NetConnection *connection = net_slot(slot);
    NetExchange exchange;

    if (!connection)
        return 0;
    reader_print("Process %d begin\n", slot);
    exchange.count = 0;
    exchange.reply_length = 0;
    EnterCriticalSection(&connection->lock);
    while (connection->state != NET_SLOT_IDLE) {
        if (connection->state == NET_SLOT_RECEIVE)
            net_connection_receive(connection, &exchange);
        else if (connection->state == NET_SLOT_SEND)
            net_connection_send(connection, &exchange);
        else
            net_connection_close(slot);
    }
    LeaveCriticalSection(&connection->lock);
    reader_print("Process %d end\n", slot);
    return 1;
}
