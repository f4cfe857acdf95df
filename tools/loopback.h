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

/* Sends all length bytes (a signal retries); false when the peer is gone. */
inline bool loopback_send_all(int fd, const void *data, size_t length) {
    const char *at = (const char *)data;
    while (length > 0) {
        ssize_t sent = send(fd, at, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        at += sent;
        length -= (size_t)sent;
    }
    return true;
}

/* Receives exactly length bytes, asking for quick ACKs before each receive
   (without them a peer that writes in pieces waits for a delayed ACK). */
inline bool loopback_recv_all(int fd, void *data, size_t length) {
    char *at = (char *)data;
    while (length > 0) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        ssize_t got = recv(fd, at, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        length -= (size_t)got;
    }
    return true;
}

#endif
