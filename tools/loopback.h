/*
 * loopback.h: TCP on 127.0.0.1 for the rig's Linux tools (the test card,
 * the PC/SC bridge and their tests): a listening socket, a connection, and
 * reads and writes that move every byte or fail.
 */
#ifndef VORLANE_TOOLS_LOOPBACK_H
#define VORLANE_TOOLS_LOOPBACK_H

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

inline sockaddr_in loopback_address(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

/* A socket listening on 127.0.0.1:port (0: any free port), or -1. */
inline int loopback_listen(int port, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = loopback_address(port);
    if (bind(fd, (sockaddr *)&address, sizeof address) != 0 || listen(fd, backlog) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

/* The port a socket is bound to, 0 when it is not. */
inline int loopback_port(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, (sockaddr *)&address, &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

/* A connection to 127.0.0.1:port, or -1. */
inline int loopback_connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback_address(port);
    if (connect(fd, (sockaddr *)&address, sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Moves length bytes by calls of step(offset, left), each moving some of
   them (send or recv): a call a signal broke is made again; false at an
   error or when the peer is gone. */
template <typename Step> inline bool loopback_move_all(size_t length, Step step) {
    size_t done = 0;
    while (done < length) {
        ssize_t moved = step(done, length - done);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0)
            return false;
        done += (size_t)moved;
    }
    return true;
}

/* Sends all length bytes (a signal retries); false when the peer is gone. */
inline bool loopback_send_all(int fd, const void *data, size_t length) {
    const char *bytes = (const char *)data;
    return loopback_move_all(length, [&](size_t offset, size_t left) {
        return send(fd, bytes + offset, left, MSG_NOSIGNAL);
    });
}

/* Receives exactly length bytes, asking for quick ACKs before each receive
   (without them a peer that writes in pieces waits for a delayed ACK). */
inline bool loopback_recv_all(int fd, void *data, size_t length) {
    char *bytes = (char *)data;
    return loopback_move_all(length, [&](size_t offset, size_t left) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        return recv(fd, bytes + offset, left, 0);
    });
}

#endif
