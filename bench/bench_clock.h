/*
 * bench_clock.h: the benchmarks' clock, the performance counter in
 * microseconds.
 */
#ifndef VORLANE_BENCH_CLOCK_H
#define VORLANE_BENCH_CLOCK_H

#include <windows.h>

static inline double bench_now_us(void) {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return (double)counter.QuadPart * 1e6 / (double)frequency.QuadPart;
}

#endif
