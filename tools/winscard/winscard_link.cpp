/*
 * winscard_link.cpp: links to the bridge, the handle tables and the blocks
 * handed out with SCARD_AUTOALLOCATE.
 */
#include "tools/winscard/winscard_link.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include <ws2tcpip.h>

#include "tools/pcsc_bridge/bridge_protocol.h"

namespace {

std::mutex table_lock;                    /* guards the tables and counters below */
std::map<SCARDCONTEXT, LinkRef> contexts; /* caller's context -> its link */
struct CardEntry {
    LinkRef link;
    uint32_t number; /* the bridge's card number on that link */
};
std::map<SCARDHANDLE, CardEntry> cards;           /* caller's card handle -> link and number */
std::map<SCARDHANDLE, SCARDCONTEXT> card_context; /* card handle -> its context */
ULONG_PTR handle_next = 0x5C000001;               /* contexts and cards never share a value */
std::set<const void *> blocks;                    /* SCARD_AUTOALLOCATE blocks not yet freed */
bool winsock_started = false;

void link_free(Link *link) {
    if (link->socket != INVALID_SOCKET)
        closesocket(link->socket);
    if (link->unix_fd >= 0)
        unix_close(link->unix_fd);
    delete link;
}

int bridge_port(void) {
    char text[16];
    DWORD length = GetEnvironmentVariableA("VORLANE_PCSC_BRIDGE_PORT", text, sizeof text);
    if (length == 0 || length >= sizeof text)
        return BRIDGE_DEFAULT_PORT;
    char *end = nullptr;
    long port = strtol(text, &end, 10);
    return *end == '\0' && port > 0 && port < 65536 ? (int)port : BRIDGE_DEFAULT_PORT;
}

bool winsock_start(void) {
    std::lock_guard<std::mutex> hold(table_lock);
    WSADATA data;
    /* Started once for the life of the process: WSACleanup from a DLL would
       pull Winsock from under the program's own sockets. */
    if (!winsock_started && WSAStartup(MAKEWORD(2, 2), &data) == 0)
        winsock_started = true;
    return winsock_started;
}

bool send_all(Link &link, const std::vector<uint8_t> &bytes) {
    if (link.unix_fd >= 0)
        return unix_send(link.unix_fd, bytes.data(), bytes.size());
    size_t done = 0;
    while (done < bytes.size()) {
        int sent =
            send(link.socket, (const char *)bytes.data() + done, (int)(bytes.size() - done), 0);
        if (sent <= 0)
            return false;
        done += (size_t)sent;
    }
    return true;
}

bool receive_all(Link &link, uint8_t *bytes, size_t length) {
    if (link.unix_fd >= 0)
        return unix_receive(link.unix_fd, bytes, length);
    size_t done = 0;
    while (done < length) {
        int got = recv(link.socket, (char *)bytes + done, (int)(length - done), 0);
        if (got <= 0)
            return false;
        done += (size_t)got;
    }
    return true;
}

} // namespace

LONG link_open(LinkRef &link) {
    link.reset(new Link, link_free);
    if (unix_available()) {
        link->unix_fd = unix_connect(bridge_port());
        return link->unix_fd >= 0 ? SCARD_S_SUCCESS : SCARD_E_NO_SERVICE;
    }
    if (!winsock_start())
        return SCARD_E_NO_SERVICE;
    link->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (link->socket == INVALID_SOCKET)
        return SCARD_E_NO_SERVICE;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)bridge_port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(link->socket, (sockaddr *)&address, sizeof address) != 0)
        return SCARD_E_NO_SERVICE;
    BOOL one = TRUE;
    setsockopt(link->socket, IPPROTO_TCP, TCP_NODELAY, (const char *)&one, sizeof one);
    return SCARD_S_SUCCESS;
}

void link_shut(Link &link) {
    link.broken = true;
    if (link.unix_fd >= 0)
        unix_shutdown(link.unix_fd);
    else if (link.socket != INVALID_SOCKET)
        shutdown(link.socket, SD_BOTH);
}

LONG link_call(Link &link, const std::vector<uint8_t> &request, uint32_t &rv,
               std::vector<uint8_t> &payload) {
    std::lock_guard<std::mutex> hold(link.lock);
    return link_call_locked(link, request, rv, payload);
}

LONG link_call_locked(Link &link, const std::vector<uint8_t> &request, uint32_t &rv,
                      std::vector<uint8_t> &payload) {
    uint8_t head[8];
    bool ok = !link.broken && send_all(link, request) && receive_all(link, head, sizeof head);
    uint32_t size = ok ? bridge_u32_at(head) : 0;
    ok = ok && size >= 4 && size <= BRIDGE_MESSAGE_MAX;
    if (ok) {
        payload.resize(size - 4);
        ok = payload.empty() || receive_all(link, payload.data(), payload.size());
    }
    if (!ok) {
        link_shut(link);
        return link.released ? SCARD_E_CANCELLED : SCARD_E_SERVICE_STOPPED;
    }
    rv = bridge_u32_at(head + 4);
    return SCARD_S_SUCCESS;
}

LONG link_open_established(LinkRef &link) {
    LONG rv = link_open(link);
    if (rv != SCARD_S_SUCCESS)
        return rv;
    std::vector<uint8_t> request, payload;
    bridge_put_start(request, BRIDGE_ESTABLISH);
    bridge_put_u32(request, BRIDGE_MAGIC);
    bridge_put_u32(request, SCARD_SCOPE_SYSTEM);
    bridge_put_finish(request);
    uint32_t status = 0;
    rv = link_call(*link, request, status, payload);
    if (rv != SCARD_S_SUCCESS)
        return rv == SCARD_E_SERVICE_STOPPED ? SCARD_E_NO_SERVICE : rv;
    if (status == SCARD_S_SUCCESS && payload.size() == 4)
        link->bridge_id = bridge_u32_at(payload.data());
    return (LONG)status;
}

SCARDCONTEXT context_add(const LinkRef &link) {
    std::lock_guard<std::mutex> hold(table_lock);
    SCARDCONTEXT context = handle_next++;
    contexts[context] = link;
    return context;
}

LinkRef context_find(SCARDCONTEXT context) {
    std::lock_guard<std::mutex> hold(table_lock);
    auto found = contexts.find(context);
    return found == contexts.end() ? LinkRef() : found->second;
}

LinkRef context_remove(SCARDCONTEXT context) {
    std::lock_guard<std::mutex> hold(table_lock);
    auto found = contexts.find(context);
    if (found == contexts.end())
        return LinkRef();
    LinkRef link = found->second;
    contexts.erase(found);
    for (auto card = card_context.begin(); card != card_context.end();) {
        if (card->second == context) {
            cards.erase(card->first);
            card = card_context.erase(card);
        } else {
            ++card;
        }
    }
    return link;
}

SCARDHANDLE card_add(SCARDCONTEXT context, const LinkRef &link, uint32_t number) {
    std::lock_guard<std::mutex> hold(table_lock);
    if (contexts.find(context) == contexts.end())
        return 0; /* released by another thread meanwhile */
    SCARDHANDLE card = handle_next++;
    cards[card] = CardEntry{link, number};
    card_context[card] = context;
    return card;
}

LinkRef card_find(SCARDHANDLE card, uint32_t &number) {
    std::lock_guard<std::mutex> hold(table_lock);
    auto found = cards.find(card);
    if (found == cards.end())
        return LinkRef();
    number = found->second.number;
    return found->second.link;
}

void card_remove(SCARDHANDLE card) {
    std::lock_guard<std::mutex> hold(table_lock);
    cards.erase(card);
    card_context.erase(card);
}

LONG result_copy(const void *data, DWORD size, void *buffer, DWORD *length) {
    if (!length)
        return SCARD_E_INVALID_PARAMETER;
    if (!buffer) {
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length == SCARD_AUTOALLOCATE) {
        void *block = malloc(size ? size : 1);
        if (!block)
            return SCARD_E_NO_MEMORY;
        memcpy(block, data, size);
        {
            std::lock_guard<std::mutex> hold(table_lock);
            blocks.insert(block);
        }
        *(void **)buffer = block;
        *length = size;
        return SCARD_S_SUCCESS;
    }
    if (*length < size) {
        *length = size;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    memcpy(buffer, data, size);
    *length = size;
    return SCARD_S_SUCCESS;
}

bool memory_free(const void *block) {
    std::lock_guard<std::mutex> hold(table_lock);
    if (!blocks.erase(block))
        return false;
    free((void *)block);
    return true;
}
