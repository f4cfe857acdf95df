/*
 * platform.cpp (POSIX): the platform layer over pthreads, for the native
 * command-line runner; its clock and files are in platform_world.cpp, which
 * the fuzzers replace.
 */
#include "app/platform.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

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

/* Timed waits count on the monotonic clock, which a change of the wall
   clock does not move. */
void platform_lock_free(PlatformLock *lock) {
    pthread_mutex_destroy(lock);
}

void platform_signal_free(PlatformSignal *signal) {
    pthread_cond_destroy(signal);
}

void platform_signal_init(PlatformSignal *signal) {
    pthread_condattr_t monotonic;

    if (pthread_condattr_init(&monotonic) == 0 &&
        pthread_condattr_setclock(&monotonic, CLOCK_MONOTONIC) == 0)
        pthread_cond_init(signal, &monotonic);
    else
        pthread_cond_init(signal, NULL);
    pthread_condattr_destroy(&monotonic);
}

void platform_signal_wait(PlatformSignal *signal, PlatformLock *lock, unsigned ms) {
    struct timespec until;

    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += (time_t)(ms / 1000u);
    until.tv_nsec += (long)(ms % 1000u) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    pthread_cond_timedwait(signal, lock, &until);
}

void platform_signal_wake(PlatformSignal *signal) {
    pthread_cond_broadcast(signal);
}

int platform_thread_start(PlatformThreadEntry entry, void *arg) {
    pthread_t thread;

    if (pthread_create(&thread, NULL, entry, arg) != 0)
        return 0;
    pthread_detach(thread);
    return 1;
}

int platform_thread_run(PlatformThread *thread, PlatformThreadEntry entry, void *arg) {
    return pthread_create(thread, NULL, entry, arg) == 0;
}

void platform_thread_join(PlatformThread *thread) {
    pthread_join(*thread, NULL);
}

long platform_counter_add(PlatformCounter *counter, long delta) {
    return __atomic_add_fetch(counter, delta, __ATOMIC_SEQ_CST);
}

void platform_counter_set(PlatformCounter *counter, long value) {
    __atomic_store_n(counter, value, __ATOMIC_SEQ_CST);
}

long platform_counter_read(const PlatformCounter *counter) {
    return __atomic_load_n(counter, __ATOMIC_SEQ_CST);
}

/* POSIX streams never translate line ends. */
void platform_stream_binary(FILE *) {}

void platform_stream_text(FILE *) {}

void platform_host_name(char *name, size_t size) {
    if (size == 0)
        return;
    if (gethostname(name, size) != 0)
        name[0] = 0;
    name[size - 1] = 0;
}

/* A signal handler takes no argument: what it counts into is kept here.
   Both are set before the handler is installed and read by it on any
   thread, so they are atomic. */
static PlatformCounter *interrupt_count;
static int interrupt_exit_code;

static void platform_on_interrupt(int) {
    PlatformCounter *count = __atomic_load_n(&interrupt_count, __ATOMIC_SEQ_CST);
    if (count && platform_counter_add(count, 1) >= 2)
        _exit(__atomic_load_n(&interrupt_exit_code, __ATOMIC_SEQ_CST));
}

void platform_interrupts_catch(PlatformCounter *count, int exit_code) {
    struct sigaction action;

    __atomic_store_n(&interrupt_exit_code, exit_code, __ATOMIC_SEQ_CST);
    __atomic_store_n(&interrupt_count, count, __ATOMIC_SEQ_CST);
    memset(&action, 0, sizeof action);
    action.sa_handler = platform_on_interrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, NULL);
    sigaction(SIGTERM, &action, NULL);
}

/* The process ends when its main thread returns: nothing waits here. */
void platform_interrupts_done(void) {}

/* pcsc-lite reports a bit mask (SCARD_ABSENT 0x0002, SCARD_PRESENT 0x0004,
   ...); its highest bit set is the state Windows would report. */
DWORD platform_card_state(DWORD reported) {
    static const DWORD bits[] = {SCARD_SPECIFIC,  SCARD_NEGOTIABLE, SCARD_POWERED,
                                 SCARD_SWALLOWED, SCARD_PRESENT,    SCARD_ABSENT};

    for (int i = 0; i < 6; i++) {
        if (reported & bits[i])
            return (DWORD)(6 - i);
    }
    return 0;
}
