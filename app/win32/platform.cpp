/*
 * platform.cpp (Windows): the platform layer over Win32 and the C runtime.
 */
#include "app/platform.h"

#include <fcntl.h>
#include <io.h>

void platform_lock_init(PlatformLock *lock) {
    InitializeCriticalSection(lock);
}

void platform_lock_enter(PlatformLock *lock) {
    EnterCriticalSection(lock);
}

void platform_lock_leave(PlatformLock *lock) {
    LeaveCriticalSection(lock);
}

void platform_sleep_ms(unsigned ms) {
    Sleep(ms);
}

unsigned platform_tick_ms(void) {
    return GetTickCount();
}

void wall_clock_read(long long *seconds, int *milliseconds) {
    FILETIME now;

    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    unsigned long long ms = ticks / 10000ull - 11644473600000ull; /* 1601 to 1970 */
    *seconds = (long long)(ms / 1000ull);
    *milliseconds = (int)(ms % 1000ull);
}

int platform_thread_start(PlatformThreadEntry entry, void *arg) {
    HANDLE thread = CreateThread(NULL, 0, entry, arg, 0, NULL);

    if (!thread)
        return 0;
    CloseHandle(thread); /* detached: nothing waits on a single thread */
    return 1;
}

long platform_counter_add(PlatformCounter *counter, long delta) {
    return InterlockedExchangeAdd(counter, (LONG)delta) + delta;
}

void platform_stream_binary(FILE *stream) {
    _setmode(_fileno(stream), _O_BINARY);
}

void platform_stream_text(FILE *stream) {
    _setmode(_fileno(stream), _O_TEXT);
}

FILE *platform_file_open(const char *path, const char *mode) {
    return fopen(path, mode);
}

int platform_file_replace(const char *from, const char *to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

/* Windows reports the state as one value already. */
DWORD platform_card_state(DWORD reported) {
    return reported;
}
