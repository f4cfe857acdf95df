/*
 * net.cpp: the tests' network reader client and frames.
 */
#include "tests/win/harness/net.h"

#include <stdio.h>
#include <stdlib.h>

#include "tests/win/harness/frame.h"

/* A connected client socket, or INVALID_SOCKET. */
SOCKET net_client_connect(int port, const char *address) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return s;
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons((u_short)port);
    to.sin_addr.s_addr = inet_addr(address);
    if (connect(s, (struct sockaddr *)&to, sizeof to) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool net_client_probe(int port) {
    bool up = false;
    harness_with_pump([&] {
        for (int i = 0; i < 500 && !up; i++) {
            SOCKET s = net_client_connect(port);
            up = s != INVALID_SOCKET;
            if (up)
                closesocket(s);
            else
                Sleep(10);
        }
    });
    return up;
}

bool net_client_send(SOCKET s, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        int sent = send(s, text.data() + done, (int)(text.size() - done), 0);
        if (sent <= 0)
            return false;
        done += (size_t)sent;
    }
    return true;
}

/* 1 when data is waiting, 0 on time-out, -1 on error. */
int net_client_wait(SOCKET s, int ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    struct timeval limit = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, NULL, NULL, &limit);
}

/* What the server sent until its closing byte 0x03 (included), until it
   closed the connection, or until ms passed without a byte. *closed is set
   when the server closed the connection. */
std::string net_client_reply(SOCKET s, int ms, bool *closed) {
    std::string got;
    if (closed)
        *closed = false;
    while (got.empty() || got.back() != '\x03') {
        if (net_client_wait(s, ms) <= 0)
            break;
        char c;
        if (recv(s, &c, 1, 0) <= 0) {
            if (closed)
                *closed = true;
            break;
        }
        got += c;
    }
    return got;
}

/* True when the server closes the connection within ms without sending. */
bool net_client_sees_close(SOCKET s, int ms) {
    bool closed = false;
    std::string extra = net_client_reply(s, ms, &closed);
    return closed && extra.empty();
}

/* A request frame for the given bytes: start 60, length, data, a check pair
   and the byte 0x03. A count of 256 or more is sent as a long request. */
std::string net_request(const std::string &hex_bytes) {
    char length[3];
    size_t count = hex_bytes.size() / 2;
    snprintf(length, sizeof length, "%02X", count >= 256 ? 0 : (unsigned)count);
    return "60" + std::string(length) + hex_bytes + "00\x03";
}

/* The reply frame the server must send for a status and data. */
std::string net_reply(int status, const std::string &hex_bytes) {
    size_t n = hex_bytes.size() / 2;
    if (n >= 255 && n <= 258)
        status = 0xE1 + (int)(n - 255);
    int ll = n + 1 > 255 ? 255 : (int)n + 1;
    int check = 0x60 ^ ll ^ status;
    for (size_t i = 0; i < n; i++)
        check ^= (int)strtoul(hex_bytes.substr(2 * i, 2).c_str(), 0, 16);
    char head[7], tail[3];
    snprintf(head, sizeof head, "60%02X%02X", ll, status);
    snprintf(tail, sizeof tail, "%02X", check);
    return head + hex_bytes + tail + "\x03";
}
