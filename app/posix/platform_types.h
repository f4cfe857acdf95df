/*
 * platform_types.h (Linux and other POSIX systems): the types of the
 * platform layer and pcsc-lite's PC/SC declarations.
 *
 * pcsc-lite's DWORD and LONG are unsigned long and long, 8 bytes on 64-bit
 * Linux where Windows has 4: code that passes them by pointer or prints
 * them must not assume their size. Its calls take single-byte text and
 * carry no A suffix; the names below let the one PC/SC layer (card/pcsc.cpp)
 * and the runner call them as on Windows.
 */
#ifndef VORLANE_PLATFORM_TYPES_H
#define VORLANE_PLATFORM_TYPES_H

#include <pthread.h>
#include <winscard.h>

#define SCardListReadersA SCardListReaders
#define SCardConnectA SCardConnect
#define SCardStatusA SCardStatus
#define SCardGetStatusChangeA SCardGetStatusChange
typedef SCARD_READERSTATE SCARD_READERSTATEA;

typedef pthread_mutex_t PlatformLock; /* recursive; see platform_lock_init */
typedef pthread_cond_t PlatformSignal;
typedef long PlatformCounter; /* changed only through platform_counter_add */
typedef void *PlatformThreadResult;
#define PLATFORM_THREAD_CALL
typedef PlatformThreadResult (*PlatformThreadEntry)(void *arg);
typedef pthread_t PlatformThread; /* a thread to join: platform_thread_run */

#endif
