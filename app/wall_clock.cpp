/*
 * wall_clock.cpp: the system's wall clock, read by the APDU exchange (its
 * timing line) and by script runs (their run time).
 */
#include "app/app.h"

/* Seconds since 1970 and the milliseconds within that second. */
void wall_clock_read(long long *seconds, int *milliseconds) {
    FILETIME now;

    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    unsigned long long ms = ticks / 10000ull - 11644473600000ull; /* 1601 to 1970 */
    *seconds = (long long)(ms / 1000ull);
    *milliseconds = (int)(ms % 1000ull);
}
