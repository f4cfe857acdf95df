/*
 * platform.h: the few services the card, script and stream code needs
 * beyond PC/SC: a lock, sleep, a tick count, the wall clock, starting a
 * thread and atomic counters, plus the two places where the platform's
 * PC/SC service differs from Windows'. app/win32/ implements them for
 * Windows, app/posix/ for Linux; the build picks one directory, whose
 * platform_types.h also brings the PC/SC declarations (winscard.h).
 */
#ifndef VORLANE_PLATFORM_H
#define VORLANE_PLATFORM_H

#include <stddef.h>
#include <stdio.h>

#include "platform_types.h"

/* Exports from app/<platform>/platform.cpp */
/* Makes lock usable; call once, before any thread enters it. Recursive. */
void platform_lock_init(PlatformLock *lock);
/* Lets a lock that no thread will enter again go (a record of a shorter
   life than the process's). */
void platform_lock_free(PlatformLock *lock);
/* Waits until this thread holds lock; leave it as often as it was entered. */
void platform_lock_enter(PlatformLock *lock);
void platform_lock_leave(PlatformLock *lock);
/* A condition a thread waits on under a PlatformLock it holds once. */
void platform_signal_init(PlatformSignal *signal);
/* Lets a signal that no thread waits on any more go. */
void platform_signal_free(PlatformSignal *signal);
/* Leaves lock, waits until the signal is woken or ms have passed (it may
   also return early), then takes lock again. */
void platform_signal_wait(PlatformSignal *signal, PlatformLock *lock, unsigned ms);
/* Wakes every thread waiting on signal. */
void platform_signal_wake(PlatformSignal *signal);
/* Returns after at least ms milliseconds. */
void platform_sleep_ms(unsigned ms);
/* Milliseconds from a fixed start; wraps at 2^32 (compare differences). */
unsigned platform_tick_ms(void);
/* Seconds since 1970 and the milliseconds within that second. */
void wall_clock_read(long long *seconds, int *milliseconds);
/* Runs entry(arg) on a new, detached thread; 1 when it started. */
int platform_thread_start(PlatformThreadEntry entry, void *arg);
/* Runs entry(arg) on a new thread that platform_thread_join must end;
   1 when it started (*thread then names it). */
int platform_thread_run(PlatformThread *thread, PlatformThreadEntry entry, void *arg);
/* Waits until the thread has ended entirely, its exit included, so that
   the process may end after it; then lets its handle go. */
void platform_thread_join(PlatformThread *thread);
/* A PlatformCounter is changed and read only through these, atomically
   (sequentially consistent), so any thread may use one without a lock. */
/* Adds delta to *counter; returns the new value. */
long platform_counter_add(PlatformCounter *counter, long delta);
/* Sets *counter to value. */
void platform_counter_set(PlatformCounter *counter, long value);
/* The value of *counter. */
long platform_counter_read(const PlatformCounter *counter);
/* Writes to stream go out byte for byte: no LF becomes CR LF. */
void platform_stream_binary(FILE *stream);
/* Reads from stream as from a file opened "rt" (on Windows CR LF becomes
   LF and a 0x1A byte ends it; elsewhere bytes come as they are). */
void platform_stream_text(FILE *stream);
/* fopen: every file the interpreter opens (scripts, logs) goes through
   here, so a test's platform layer can keep them off the disk. */
FILE *platform_file_open(const char *path, const char *mode);
/* 1 when path names a regular file (not a folder or a device). */
int platform_file_regular(const char *path);
/* Renames from to to, replacing a file of that name: 1 when done. */
int platform_file_replace(const char *from, const char *to);
/* The machine's host name into name (size bytes, terminated); "" when it
   cannot be had. */
void platform_host_name(char *name, size_t size);
/* From now on an interrupt (Ctrl-C and SIGTERM; on Windows also Ctrl-Break
   and closing the console) adds 1 to *count instead of ending the process,
   and a second one ends it at once with exit_code. A console being closed
   waits (a few seconds at most, as Windows allows) until
   platform_interrupts_done is called. */
void platform_interrupts_catch(PlatformCounter *count, int exit_code);
/* The work an interrupt asked to finish is finished. */
void platform_interrupts_done(void);
/* The card state the PC/SC state query reported, as one of Windows'
   values 0 (unknown) to 6 (specific), whatever the service's coding. */
DWORD platform_card_state(DWORD reported);

#endif
