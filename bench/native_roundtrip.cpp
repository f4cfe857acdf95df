/*
 * native_roundtrip.cpp: the reference side of the PC/SC round-trip benchmark:
 * a native pcsc-lite loop of SCardTransmit against one card.
 *   pcsc_roundtrip_native [READER] [COUNT]
 * Prints "native <count> <microseconds per exchange> <median>".
 */
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <PCSC/winscard.h>

int main(int argc, char **argv) {
    const char *reader = argc > 1 ? argv[1] : "Virtual PCD 00 00";
    int count = argc > 2 ? atoi(argv[2]) : 2000;
    if (count < 1)
        count = 1;
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    if (rv == SCARD_S_SUCCESS)
        rv = SCardConnect(context, reader, SCARD_SHARE_SHARED,
                          SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        fprintf(stderr, "native: %s: %s\n", reader, pcsc_stringify_error(rv));
        return 1;
    }
    const SCARD_IO_REQUEST *pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    const BYTE command[] = {0x80, 0xF0, 0x00, 0x12};
    std::vector<double> times;
    for (int i = -100; i < count; i++) {
        BYTE response[64];
        DWORD length = sizeof response;
        auto start = std::chrono::steady_clock::now();
        rv = SCardTransmit(card, pci, command, sizeof command, nullptr, response, &length);
        auto end = std::chrono::steady_clock::now();
        if (rv != SCARD_S_SUCCESS || length != 0x12) {
            fprintf(stderr, "native: exchange failed: %s\n", pcsc_stringify_error(rv));
            return 1;
        }
        if (i >= 0) /* the first 100 warm up */
            times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    double total = 0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    printf("native %d %.1f %.1f\n", count, total / count, times[times.size() / 2]);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return 0;
}
