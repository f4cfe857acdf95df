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

void platform_lock_free(PlatformLock *lock) {
    DeleteCriticalSection(lock);
}

/* A condition variable holds nothing to let go. */
void platform_signal_free(PlatformSignal *) {}

void platform_signal_init(PlatformSignal *signal) {
    InitializeConditionVariable(signal);
}

void platform_signal_wait(PlatformSignal *signal, PlatformLock *lock, unsigned ms) {
    SleepConditionVariableCS(signal, lock, ms);
}

void platform_signal_wake(PlatformSignal *signal) {
    WakeAllConditionVariable(signal);
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

int platform_thread_run(PlatformThread *thread, PlatformThreadEntry entry, void *arg) {
    *thread = CreateThread(NULL, 0, entry, arg, 0, NULL);
    return *thread != NULL;
}

/* The handle is signalled once the thread has left the loader's exit
   calls too: nothing of it runs while the process ends. */
void platform_thread_join(PlatformThread *thread) {
    WaitForSingleObject(*thread, INFINITE);
    CloseHandle(*thread);
    *thread = NULL;
}

long platform_counter_add(PlatformCounter *counter, long delta) {
    return InterlockedExchangeAdd(counter, (LONG)delta) + delta;
}

void platform_counter_set(PlatformCounter *counter, long value) {
    InterlockedExchange(counter, (LONG)value);
}

long platform_counter_read(const PlatformCounter *counter) {
    return InterlockedCompareExchange((PlatformCounter *)counter, 0, 0);
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

int platform_file_regular(const char *path) {
    DWORD attributes = GetFileAttributesA(path);

    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

int platform_file_replace(const char *from, const char *to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

void platform_host_name(char *name, size_t size) {
    DWORD length = (DWORD)size;

    if (size == 0)
        return;
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &length) &&
        (length = (DWORD)size, !GetComputerNameA(name, &length)))
        name[0] = 0;
    name[size - 1] = 0;
}

/* The console's control handler takes no argument of ours: what it counts
   into is kept here. The handler runs on a thread of its own: the pointer
   is exchanged atomically, after the exit code is in place. */
static PlatformCounter *interrupt_count;
static int interrupt_exit_code;
static volatile LONG interrupt_work_done;

/* A second interrupt ends the process as _exit does on POSIX: ExitProcess
   would run the libraries' detach code after ending the other threads
   wherever they were, and hangs when one of them held the C library's
   stream or heap lock. */
static BOOL WINAPI platform_on_interrupt(DWORD type) {
    PlatformCounter *count = (PlatformCounter *)InterlockedCompareExchangePointer(
        (void *volatile *)&interrupt_count, 0, 0);
    if (count && platform_counter_add(count, 1) >= 2)
        TerminateProcess(GetCurrentProcess(), (UINT)interrupt_exit_code);
    /* Closing the console ends the process once this returns: give the
       work in progress the few seconds Windows allows. */
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        for (int waited = 0; waited < 4500 && !interrupt_work_done; waited += 50)
            Sleep(50);
    }
    return TRUE;
}

void platform_interrupts_catch(PlatformCounter *count, int exit_code) {
    interrupt_exit_code = exit_code;
    InterlockedExchangePointer((void *volatile *)&interrupt_count, (void *)count);
    SetConsoleCtrlHandler(platform_on_interrupt, TRUE);
}

void platform_interrupts_done(void) {
    InterlockedExchange(&interrupt_work_done, 1);
}

/* Windows reports the state as one value already. */
DWORD platform_card_state(DWORD reported) {
    return reported;
}
