/*
 * bridge_server.cpp: the bridge's listening socket and its client threads.
 * Each client thread reads a request, makes the call and answers in a single
 * send. Sockets have TCP_NODELAY and quick ACKs are re-armed before each
 * receive, so a bridged exchange waits on neither Nagle's algorithm nor a
 * delayed ACK.
 */
#include "tools/pcsc_bridge/bridge.h"

#include <cerrno>
#include <cstdio>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tools/pcsc_bridge/bridge_protocol.h"

bool bridge_verbose = false;

namespace {

bool read_full(int fd, uint8_t *bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        ssize_t got = recv(fd, bytes + done, length - done, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += (size_t)got;
    }
    return true;
}

bool write_full(int fd, const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        done += (size_t)sent;
    }
    return true;
}

/* One request: false when the connection is gone or the request is bad. */
bool serve_one(BridgeClient &client, std::vector<uint8_t> &payload,
               std::vector<uint8_t> &response) {
    uint8_t head[8];
    if (!read_full(client.fd, head, sizeof head))
        return false;
    uint32_t size = bridge_u32_at(head), op = bridge_u32_at(head + 4);
    if (size < 4 || size > BRIDGE_MESSAGE_MAX) {
        if (bridge_verbose)
            fprintf(stderr, "bridge: client %u: bad size %u\n", client.id, size);
        return false;
    }
    payload.resize(size - 4);
    if (!payload.empty() && !read_full(client.fd, payload.data(), payload.size()))
        return false;
    if (!bridge_call(client, op, payload, response)) {
        if (bridge_verbose)
            fprintf(stderr, "bridge: client %u: bad request %u\n", client.id, op);
        return false;
    }
    if (bridge_verbose)
        fprintf(stderr, "bridge: client %u: op %u -> 0x%08X\n", client.id, op,
                bridge_u32_at(response.data() + 4));
    return write_full(client.fd, response);
}

void serve_client(int fd) {
    BridgeClient client;
    client.fd = fd;
    std::vector<uint8_t> payload, response;
    while (serve_one(client, payload, response)) {
    }
    bridge_client_release(client);
    close(fd);
}

} // namespace

bool bridge_client_gone(const BridgeClient &client) {
    pollfd p = {client.fd, POLLRDHUP, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

int bridge_listen(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (sockaddr *)&address, sizeof address) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void bridge_accept_loop(int listener) {
    for (;;) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE ||
                errno == ENOBUFS || errno == ENOMEM) {
                if (errno != EINTR && errno != ECONNABORTED)
                    usleep(100000); /* out of descriptors: let clients finish */
                continue;
            }
            perror("bridge: accept");
            return;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(serve_client, fd).detach();
    }
}
