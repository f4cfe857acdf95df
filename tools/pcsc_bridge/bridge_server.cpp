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

#include "tools/loopback.h"
#include "tools/pcsc_bridge/bridge_protocol.h"

bool bridge_verbose = false;

namespace {

/* One request: false when the connection is gone or the request is bad. */
bool serve_one(BridgeClient &client, std::vector<uint8_t> &payload,
               std::vector<uint8_t> &response) {
    uint8_t head[8];
    if (!loopback_recv_all(client.fd, head, sizeof head))
        return false;
    uint32_t size = bridge_u32_at(head), op = bridge_u32_at(head + 4);
    if (size < 4 || size > BRIDGE_MESSAGE_MAX) {
        if (bridge_verbose)
            fprintf(stderr, "bridge: client %u: bad size %u\n", client.id, size);
        return false;
    }
    payload.resize(size - 4);
    if (!payload.empty() && !loopback_recv_all(client.fd, payload.data(), payload.size()))
        return false;
    if (!bridge_call(client, op, payload, response)) {
        if (bridge_verbose)
            fprintf(stderr, "bridge: client %u: bad request %u\n", client.id, op);
        return false;
    }
    if (bridge_verbose)
        fprintf(stderr, "bridge: client %u: op %u -> 0x%08X\n", client.id, op,
                bridge_u32_at(response.data() + 4));
    return loopback_send_all(client.fd, response.data(), response.size());
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
    return loopback_listen(port, 64);
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
