/*
 * platform_fake.cpp: the clocks and files of the platform layer
 * (app/platform.h) for the fuzzers, in place of app/posix/platform_world.cpp;
 * locks and threads are the POSIX side's own. The clock is fake: the wall
 * clock and the tick count start at a fixed time and move only when a sleep
 * moves them, so a run never waits and its times follow from its input
 * alone. Files stay off the disk: a script is handed over as an open stream,
 * never opened by name, and every file opened for writing goes to /dev/null,
 * or to /dev/full for a name that starts with "full", so that a log that
 * cannot be written is reachable.
 */
#include "app/platform.h"

#include <string.h>

#include "tests/fake/platform_fake.h"

namespace {

/* 2026-01-01 00:00:00 UTC, the fixed start of the fake wall clock */
const long long fake_clock_start_seconds = 1767225600;

unsigned long long fake_clock_ms; /* ms since the start; __atomic builtins only */

} // namespace

void fake_clock_reset(unsigned long long offset_ms) {
    __atomic_store_n(&fake_clock_ms, offset_ms, __ATOMIC_SEQ_CST);
}

void platform_sleep_ms(unsigned ms) {
    __atomic_add_fetch(&fake_clock_ms, ms, __ATOMIC_SEQ_CST);
}

unsigned platform_tick_ms(void) {
    return (unsigned)__atomic_load_n(&fake_clock_ms, __ATOMIC_SEQ_CST);
}

void wall_clock_read(long long *seconds, int *milliseconds) {
    unsigned long long now = __atomic_load_n(&fake_clock_ms, __ATOMIC_SEQ_CST);

    *seconds = fake_clock_start_seconds + (long long)(now / 1000);
    *milliseconds = (int)(now % 1000);
}

/* No file is read by name; writes go nowhere, or fail for "full...". */
FILE *platform_file_open(const char *path, const char *mode) {
    if (mode[0] == 'r')
        return 0;
    return fopen(strncmp(path, "full", 4) == 0 ? "/dev/full" : "/dev/null", "wb");
}

/* Nothing is on the disk: no file is a regular one, none is renamed. */
int platform_file_regular(const char *) {
    return 0;
}

int platform_file_replace(const char *, const char *) {
    return 0;
}
