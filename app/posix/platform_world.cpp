/*
 * platform_world.cpp (POSIX): the parts of the platform layer that touch
 * the world outside the process: the clocks, sleeping and files. The
 * fuzzers link a fake of just these (tests/fake/platform_fake.cpp), so a
 * run never waits and writes nothing, over the same locks and threads.
 */
#include "app/platform.h"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>

/* A signal that interrupts the pause does not shorten it. */
void platform_sleep_ms(unsigned ms) {
    struct timespec left = {(time_t)(ms / 1000u), (long)(ms % 1000u) * 1000000L};

    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

unsigned platform_tick_ms(void) {
    struct timespec now;

    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned)((unsigned long long)now.tv_sec * 1000ull +
                      (unsigned long long)now.tv_nsec / 1000000ull);
}

void wall_clock_read(long long *seconds, int *milliseconds) {
    struct timespec now;

    clock_gettime(CLOCK_REALTIME, &now);
    *seconds = (long long)now.tv_sec;
    *milliseconds = (int)(now.tv_nsec / 1000000L);
}

FILE *platform_file_open(const char *path, const char *mode) {
    return fopen(path, mode);
}

int platform_file_regular(const char *path) {
    struct stat facts;

    return stat(path, &facts) == 0 && S_ISREG(facts.st_mode);
}

/* rename() replaces an existing file in one step on POSIX. */
int platform_file_replace(const char *from, const char *to) {
    return rename(from, to) == 0;
}
