/*
 * win_roundtrip.cpp: the Windows side of the PC/SC round-trip benchmark: the
 * same SCardTransmit loop as native_roundtrip.cpp (bench/roundtrip_loop.h),
 * from a Win32 program under Wine, through the rig's winscard.dll and the
 * bridge.
 *   pcsc_roundtrip_win.exe [READER] [COUNT]
 * Prints "wine <count> <microseconds per exchange> <median>".
 */
#include <cstdio>

#include <windows.h>
#include <winscard.h>

#include "bench/bench_clock.h"
#include "bench/roundtrip_loop.h"

static void win_report(const char *what, int connecting, LONG rv) {
    fprintf(stderr, "wine: %s: %s0x%08lX\n", what, connecting ? "error " : "", (unsigned long)rv);
}

int main(int argc, char **argv) {
    const RoundtripSide side = {"wine", bench_now_us, win_report};
    RoundtripCard open;
    int count = roundtrip_start(side, argc, argv, open);
    return count ? roundtrip_run(side, open, count) : 1;
}
