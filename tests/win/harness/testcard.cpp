/*
 * testcard.cpp: the Win32 tests' side of the test cards' control port.
 * One short TCP connection per call keeps no state between calls, so a card
 * restarted by the rig is simply reached again by the next call.
 */
#include "tests/win/harness/testcard.h"

#include "tests/win/harness/net.h"

#include <cstdio>
#include <cstdlib>

#include <winscard.h>
#include <winsock.h>

#include "app/text_form.h"

namespace {

/* An insert waits until the reader has taken the card (about a second). */
const int reply_timeout_ms = 15000;

int control_port(int reader) {
    char text[16];
    DWORD length = GetEnvironmentVariableA("VORLANE_TESTCARD_CONTROL_PORT", text, sizeof text);
    int base = 35970;
    if (length > 0 && length < sizeof text && atoi(text) > 0 && atoi(text) < 65535)
        base = atoi(text);
    return base + reader;
}

SOCKET control_connect(int reader) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((u_short)control_port(reader));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return s;
    int timeout = reply_timeout_ms;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&one, sizeof one);
    if (connect(s, (sockaddr *)&address, sizeof address) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

/* Reads reply lines without their line ends. A first line "ok N" of a log
   reply announces N more lines when `counted` is set. */
bool control_read(SOCKET s, bool counted, std::vector<std::string> &lines) {
    std::string pending;
    size_t wanted = 1;
    char chunk[4096];
    while (lines.size() < wanted) {
        size_t end = pending.find('\n');
        if (end == std::string::npos) {
            int got = recv(s, chunk, sizeof chunk, 0);
            if (got <= 0)
                return false;
            pending.append(chunk, (size_t)got);
            continue;
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line[line.size() - 1] == '\r')
            line.erase(line.size() - 1);
        if (lines.empty() && counted && line.compare(0, 3, "ok ") == 0)
            wanted += strtoul(line.c_str() + 3, nullptr, 10);
        lines.push_back(line);
    }
    return true;
}

/* One command; its reply lines (empty when the card cannot be reached). */
std::vector<std::string> control_exchange(int reader, const std::string &line, bool counted) {
    std::vector<std::string> lines;
    if (reader < 0 || reader > 1 || line.find('\n') != std::string::npos)
        return lines;
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return lines;
    SOCKET s = control_connect(reader);
    if (s != INVALID_SOCKET) {
        if (!net_client_send(s, line + "\n") || !control_read(s, counted, lines))
            lines.clear();
        closesocket(s);
    }
    WSACleanup();
    return lines;
}

bool control_ok(int reader, const std::string &line) {
    std::vector<std::string> reply = control_exchange(reader, line, false);
    return !reply.empty() && (reply[0] == "ok" || reply[0].compare(0, 3, "ok ") == 0);
}

} // namespace

bool testcard_insert(int reader, const char *atr_hex, bool t0_mode) {
    std::string line = "insert";
    if (atr_hex && *atr_hex)
        line += std::string(" ") + atr_hex;
    line += t0_mode ? " t0" : " t1";
    return control_ok(reader, line) && testcard_seen(reader, true);
}

/* The card answers an insert once the reader has powered it and asked for
   its ATR, but pcscd marks the reader present only after reading that ATR,
   and sees a card taken out only at its next poll: a connect sent at once
   can meet the old state on a loaded machine. */
bool testcard_seen(int reader, bool present) {
    SCARDCONTEXT context = 0;
    if (reader < 0 || reader > 1 ||
        SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return false;
    SCARD_READERSTATEA state = {};
    state.szReader = testcard_reader_names[reader];
    bool seen = false;
    DWORD start = GetTickCount();
    while (!seen && GetTickCount() - start < 10000) {
        state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        LONG rv = SCardGetStatusChangeA(context, 250, &state, 1);
        if (rv != SCARD_S_SUCCESS && rv != (LONG)SCARD_E_TIMEOUT)
            break;
        seen = ((state.dwEventState & SCARD_STATE_PRESENT) != 0) == present;
    }
    SCardReleaseContext(context);
    return seen;
}

bool testcard_remove(int reader) {
    return control_ok(reader, "remove");
}

bool testcard_reset_state(int reader) {
    return control_ok(reader, "reset");
}

std::vector<std::string> testcard_log(int reader) {
    std::vector<std::string> lines = control_exchange(reader, "log", true);
    if (lines.empty() || lines[0].compare(0, 3, "ok ") != 0)
        return std::vector<std::string>();
    lines.erase(lines.begin());
    return lines;
}

void testcard_log_clear(int reader) {
    control_ok(reader, "clearlog");
}

std::vector<unsigned char> testcard_memory(int reader, unsigned address, unsigned length) {
    std::vector<unsigned char> bytes;
    char line[64];
    snprintf(line, sizeof line, "mem %u %u", address, length);
    std::vector<std::string> reply = control_exchange(reader, line, false);
    if (reply.empty() || (reply[0] != "ok" && reply[0].compare(0, 3, "ok ") != 0))
        return bytes;
    const std::string hex = reply[0].size() > 3 ? reply[0].substr(3) : std::string();
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        int high = hex_digit_value(hex[i]), low = hex_digit_value(hex[i + 1]);
        if (high < 0 || low < 0)
            return std::vector<unsigned char>();
        bytes.push_back((unsigned char)(high << 4 | low));
    }
    if (bytes.size() != length)
        bytes.clear();
    return bytes;
}

bool testcard_memory_set(int reader, unsigned address, const std::vector<unsigned char> &bytes) {
    std::string hex(bytes.size() * 2, '0');
    for (size_t i = 0; i < bytes.size(); i++)
        hex_pair_put(&hex[i * 2], bytes[i]);
    return control_ok(reader, "memset " + std::to_string(address) + " " + hex);
}

bool testcard_delay(int reader, int milliseconds) {
    return milliseconds >= 0 && control_ok(reader, "delay " + std::to_string(milliseconds));
}

bool testcard_force_status(int reader, int sw1, int sw2, int count) {
    if (sw1 < 0 || sw1 > 255 || sw2 < 0 || sw2 > 255 || count < -1)
        return false;
    char line[64];
    snprintf(line, sizeof line, "force %02X%02X %d", sw1, sw2, count);
    return control_ok(reader, line);
}

std::string testcard_command(int reader, const std::string &line) {
    std::vector<std::string> reply = control_exchange(reader, line, false);
    return reply.empty() ? std::string() : reply[0];
}
