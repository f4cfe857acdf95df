/*
 * net_server.cpp: the network reader's server: the socket library, the start
 * and stop, and the server thread that accepts one local client at a time on
 * 127.0.0.1 and serves it on itself (net_connection.cpp).
 *
 * Design: the GUI thread starts the server while the frame is created and
 * stops it after the message loop. net_running is 1 from a start until its
 * stop and 2 while the stop runs, so two starts never make two servers and
 * never re-create a lock in use. The server thread publishes its listening
 * socket in net_listen_socket; the stop takes it out and closes it, which
 * makes a blocked accept fail. Both sides swap that field atomically, and
 * the thread looks at net_running after publishing, so a stop that comes
 * before the socket exists still ends the thread. A client accepted while a
 * stop runs is closed at once instead of being served.
 *
 * The server thread prints into the reader pane, which waits for the GUI
 * thread. The GUI thread enters the connection lock only in the stop, after
 * the message loop, when the panes are gone and printing returns at once.
 */
#include "net/net.h"

#include "app/app_state.h"
#include "console/console.h"

enum {
    NET_RUNNING = 1,  /* net_running while the server runs */
    NET_STOPPING = 2, /* net_running while a stop runs */
    NET_BACKLOG = 5,  /* clients waiting while one is served */
    NET_STOP_PAUSE_MS = 1000,
    NET_ACCEPT_RETRY_MS = 100 /* pause before retrying an accept that failed again */
};

/* Swaps value into net_listen_socket and returns what was there. */
static SOCKET net_listen_swap(SOCKET value) {
    return (SOCKET)InterlockedExchangePointer((PVOID volatile *)&app.gui.net_listen_socket,
                                              (PVOID)value);
}

/* Takes the listening socket out of the record and closes it. */
static void net_listen_close(void) {
    SOCKET listener = net_listen_swap(INVALID_SOCKET);

    if (listener != INVALID_SOCKET)
        closesocket(listener);
}

static int net_server_running(void) {
    return InterlockedCompareExchange(&app.gui.net_running, 0, 0) == NET_RUNNING;
}

int net_startup(WORD version) {
    WSADATA data;

    if (app.gui.net_winsock_started)
        return 1;
    if (WSAStartup(version, &data) != 0)
        return 0;
    app.gui.net_winsock_started = 1;
    return 1;
}

/* A server thread that ended by itself (port taken, accept failed) leaves
   its handle behind; collect it so that a later start may try again. */
static void net_server_reap(void) {
    if (!net_server_running() || !app.gui.net_daemon_thread)
        return;
    if (WaitForSingleObject(app.gui.net_daemon_thread, 0) != WAIT_OBJECT_0)
        return;
    CloseHandle(app.gui.net_daemon_thread);
    app.gui.net_daemon_thread = 0;
    InterlockedExchange(&app.gui.net_running, 0);
}

int net_server_start(int initialise) {
    NetConnection *connection = &app.gui.net_connection;

    net_server_reap();
    if (InterlockedCompareExchange(&app.gui.net_running, NET_RUNNING, 0) != 0)
        return 0;
    if (initialise && !net_startup(0x0101)) {
        InterlockedExchange(&app.gui.net_running, 0);
        return 0;
    }
    connection->socket = INVALID_SOCKET;
    connection->state = NET_SLOT_IDLE;
    app.gui.net_daemon_thread = 0;
    /* The thread needs the lock whatever the caller asked for. */
    if (!app.gui.net_lock_ready) {
        InitializeCriticalSection(&connection->lock);
        app.gui.net_lock_ready = 1;
    }
    HANDLE thread =
        CreateThread(NULL, 0, net_server_thread, NULL, 0, &app.gui.net_daemon_thread_id);
    if (!thread) {
        InterlockedExchange(&app.gui.net_running, 0);
        return 0;
    }
    app.gui.net_daemon_thread = thread;
    return 1;
}

int net_server_stop(int clean_up) {
    NetConnection *connection = &app.gui.net_connection;

    InterlockedExchange(&app.gui.net_running, NET_STOPPING);
    net_listen_close();
    if (app.gui.net_lock_ready) {
        EnterCriticalSection(&connection->lock);
        net_connection_close(0);
        LeaveCriticalSection(&connection->lock);
    }
    if (app.gui.net_daemon_thread) {
        pane_wait_thread(app.gui.net_daemon_thread); /* its trace may wait for room */
        CloseHandle(app.gui.net_daemon_thread);
        app.gui.net_daemon_thread = 0;
    }
    if (clean_up && app.gui.net_winsock_started) {
        WSACleanup();
        app.gui.net_winsock_started = 0;
    }
    Sleep(NET_STOP_PAUSE_MS);
    connection->socket = INVALID_SOCKET;
    connection->state = NET_SLOT_IDLE;
    if (clean_up && app.gui.net_lock_ready) {
        DeleteCriticalSection(&connection->lock);
        app.gui.net_lock_ready = 0;
    }
    InterlockedExchange(&app.gui.net_running, 0);
    return 1;
}

/* Puts an accepted client into the slot, ready to receive; 0 (client
   closed) when a stop has begun meanwhile. */
static int net_server_adopt(SOCKET client) {
    NetConnection *connection = &app.gui.net_connection;
    int adopted = 0;

    EnterCriticalSection(&connection->lock);
    if (net_server_running()) {
        connection->socket = client;
        net_connection_reset(0);
        adopted = 1;
    }
    LeaveCriticalSection(&connection->lock);
    if (!adopted)
        closesocket(client);
    return adopted;
}

/* Whether a failed accept ends the server: only when the stop has closed
   the listening socket, or the socket cannot accept at all (not a socket,
   or not listening). Anything else is one client's trouble: a client that
   reset before it was taken fails the accept with WSAECONNRESET, and the
   reader must stay on for the next one. */
static int net_accept_failure_ends(int error) {
    if (app.gui.net_listen_socket == INVALID_SOCKET || !net_server_running())
        return 1;
    return error == WSAENOTSOCK || error == WSAEINVAL || error == WSAEOPNOTSUPP ||
           error == WSANOTINITIALISED;
}

/* Serves one client after the other until the stop closes the listening
   socket. Clients that come meanwhile wait in the backlog. A failure that
   repeats is retried after a short pause, not in a busy loop. */
static void net_server_accept_loop(SOCKET listener) {
    int failures = 0;

    while (app.gui.net_listen_socket != INVALID_SOCKET) {
        struct sockaddr_in peer = {};
        int size = sizeof peer;
        SOCKET client = accept(listener, (struct sockaddr *)&peer, &size);

        if (client == INVALID_SOCKET) {
            if (net_accept_failure_ends(WSAGetLastError()))
                break;
            if (++failures > 1)
                Sleep(NET_ACCEPT_RETRY_MS);
            continue;
        }
        failures = 0;
        if (!net_server_adopt(client))
            break;
        const unsigned char *address = (const unsigned char *)&peer.sin_addr;
        /* "Connexion": the line clients' logs have always matched. */
        reader_print("Connexion from %d.%d.%d.%d\n", address[0], address[1], address[2],
                     address[3]);
        net_connection_run(0);
    }
}

DWORD WINAPI net_server_thread(LPVOID unused) {
    (void)unused;
    int port = app.gui.net_port;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);

    net_listen_swap(listener);
    if (!net_server_running()) {
        net_listen_close();
        reader_print("End of Server Daemon\n");
        return 0;
    }
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)port);
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(listener, (struct sockaddr *)&address, sizeof address) == SOCKET_ERROR) {
        /* Closed, not only forgotten: the port is free for a later start. */
        net_listen_close();
        reader_print("Error, Server daemon !!!\n");
        return 0;
    }
    if (listen(listener, NET_BACKLOG) == 0)
        reader_print("Network Reader ready on port %d...\n", port);
    net_server_accept_loop(listener);
    net_listen_close();
    reader_print("End of Server Daemon\n");
    return 0;
}
