/*
 * platform_fake.cpp: the platform layer (app/platform.h) for the fuzzers.
 * Locks, threads and counters are real, over pthreads as on the POSIX side.
 * The clock is not: the wall clock and the tick count start at a fixed time
 * and move only when a sleep moves them, so a run never waits and its
 * times follow from its input alone. Files stay off the disk: a script is
 * handed over as an open stream, never opened by name, and every file
 * opened for writing goes to /dev/null, or to /dev/full for a name that
 * starts with "full", so that a log that cannot be written is reachable.
 */
#include "app/platform.h"

#include <string.h>
#include <time.h>

#include "tests/fake/platform_fake.h"

namespace {

/* 2026-01-01 00:00:00 UTC, the fixed start of the fake wall clock */
const long long fake_clock_start_seconds = 1767225600;

unsigned long long fake_clock_ms; /* ms since the start; __atomic builtins only */

} // namespace

void fake_clock_reset(unsigned long long offset_ms) {
    __atomic_store_n(&fake_clock_ms, offset_ms, __ATOMIC_SEQ_CST);
}

void platform_lock_init(PlatformLock *lock) {
    pthread_mutexattr_t attributes;

    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(lock, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void platform_lock_enter(PlatformLock *lock) {
    pthread_mutex_lock(lock);
}

void platform_lock_leave(PlatformLock *lock) {
    pthread_mutex_unlock(lock);
}

/* Waits are real (the writer of the streams waits on them), but never
   long: the clock stands still while nobody sleeps. */
void platform_signal_init(PlatformSignal *signal) {
    pthread_cond_init(signal, NULL);
}

void platform_signal_wait(PlatformSignal *signal, PlatformLock *lock, unsigned) {
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(signal, lock, &until);
}

void platform_signal_wake(PlatformSignal *signal) {
    pthread_cond_broadcast(signal);
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

int platform_thread_start(PlatformThreadEntry entry, void *arg) {
    pthread_t thread;

    if (pthread_create(&thread, NULL, entry, arg) != 0)
        return 0;
    pthread_detach(thread);
    return 1;
}

long platform_counter_add(PlatformCounter *counter, long delta) {
    return __atomic_add_fetch(counter, delta, __ATOMIC_SEQ_CST);
}

void platform_stream_binary(FILE *) {}

void platform_stream_text(FILE *) {}

/* No file is read by name; writes go nowhere, or fail for "full...". */
FILE *platform_file_open(const char *path, const char *mode) {
    if (mode[0] == 'r')
        return 0;
    return fopen(strncmp(path, "full", 4) == 0 ? "/dev/full" : "/dev/null", "wb");
}

/* Nothing is ever on the disk to be renamed. */
/* Scripts are never read by name here: nothing is a regular file. */
int platform_file_regular(const char *) {
    return 0;
}

int platform_file_replace(const char *, const char *) {
    return 0;
}

/* The fake PC/SC service reports Windows' values already. */
DWORD platform_card_state(DWORD reported) {
    return reported <= 6 ? reported : 0;
}
