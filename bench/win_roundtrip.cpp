/*
 * win_roundtrip.cpp: the Windows side of the PC/SC round-trip benchmark: the
 * same SCardTransmit loop as native_roundtrip.cpp, from a Win32 program under
 * Wine, through the rig's winscard.dll and the bridge.
 *   pcsc_roundtrip_win.exe [READER] [COUNT]
 * Prints "wine <count> <microseconds per exchange> <median>".
 */
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <windows.h>
#include <winscard.h>

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
        rv = SCardConnectA(context, reader, SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        fprintf(stderr, "wine: %s: error 0x%08lX\n", reader, (unsigned long)rv);
        return 1;
    }
    const SCARD_IO_REQUEST *pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    const BYTE command[] = {0x80, 0xF0, 0x00, 0x12};
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = -100; i < count; i++) {
        BYTE response[64];
        DWORD length = sizeof response;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        rv = SCardTransmit(card, pci, command, sizeof command, nullptr, response, &length);
        QueryPerformanceCounter(&end);
        if (rv != SCARD_S_SUCCESS || length != 0x12) {
            fprintf(stderr, "wine: exchange failed: 0x%08lX\n", (unsigned long)rv);
            return 1;
        }
        if (i >= 0) /* the first 100 warm up */
            times.push_back((double)(end.QuadPart - start.QuadPart) * 1e6 /
                            (double)frequency.QuadPart);
    }
    double total = 0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    printf("wine %d %.1f %.1f\n", count, total / count, times[times.size() / 2]);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return 0;
}
