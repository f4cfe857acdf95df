/*
 * roundtrip_loop.h: the two sides of the PC/SC round-trip benchmark share
 * their loop: connect to the reader's card, time one SCardTransmit of
 * 80 F0 00 12 at a time (the first 100 warm up), and print "SIDE COUNT
 * MEAN MEDIAN" in microseconds. Each side includes it after its own
 * winscard.h and gives its clock and its way of naming a failure.
 */
#ifndef VORLANE_BENCH_ROUNDTRIP_LOOP_H
#define VORLANE_BENCH_ROUNDTRIP_LOOP_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

/* What differs between the sides */
struct RoundtripSide {
    const char *name;       /* "native" or "wine": the first word of each line */
    double (*now_us)(void); /* the side's clock */
    /* A failure on stderr: the reader that could not be reached
       (connecting 1) or "exchange failed", and the status. */
    void (*report)(const char *what, int connecting, LONG rv);
};

struct RoundtripCard {
    SCARDCONTEXT context;
    SCARDHANDLE card;
    const SCARD_IO_REQUEST *pci;
};

/* [READER] [COUNT] from the command line (the rig's first reader and
   2,000 exchanges by default), and a connection to the reader's card.
   Returns the count, 0 when the card cannot be reached (reported). */
static inline int roundtrip_start(const RoundtripSide &side, int argc, char **argv,
                                  RoundtripCard &open) {
    const char *reader = argc > 1 ? argv[1] : "Virtual PCD 00 00";
    int count = argc > 2 ? atoi(argv[2]) : 2000;
    DWORD protocol = 0;
    open.context = 0;
    open.card = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &open.context);
    if (rv == SCARD_S_SUCCESS)
        rv = SCardConnect(open.context, reader, SCARD_SHARE_SHARED,
                          SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &open.card, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        side.report(reader, 1, rv);
        return 0;
    }
    open.pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    return count < 1 ? 1 : count;
}

/* The timed loop of count exchanges and its line; the card is let go.
   The process's exit status. */
static inline int roundtrip_run(const RoundtripSide &side, RoundtripCard &open, int count) {
    const BYTE command[] = {0x80, 0xF0, 0x00, 0x12};
    std::vector<double> times;
    for (int i = -100; i < count; i++) {
        BYTE response[64];
        DWORD length = sizeof response;
        double start = side.now_us();
        LONG rv =
            SCardTransmit(open.card, open.pci, command, sizeof command, nullptr, response, &length);
        double end = side.now_us();
        if (rv != SCARD_S_SUCCESS || length != 0x12) {
            side.report("exchange failed", 0, rv);
            return 1;
        }
        if (i >= 0) /* the first 100 warm up */
            times.push_back(end - start);
    }
    double total = 0;
    for (double t : times)
        total += t;
    std::sort(times.begin(), times.end());
    printf("%s %d %.1f %.1f\n", side.name, count, total / count, times[times.size() / 2]);
    SCardDisconnect(open.card, SCARD_LEAVE_CARD);
    SCardReleaseContext(open.context);
    return 0;
}

#endif
