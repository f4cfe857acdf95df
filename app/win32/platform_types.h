/*
 * platform_types.h (Windows): the types of the platform layer and the
 * platform's own PC/SC declarations.
 */
#ifndef VORLANE_PLATFORM_TYPES_H
#define VORLANE_PLATFORM_TYPES_H

#include <windows.h>
#include <winscard.h>

typedef CRITICAL_SECTION PlatformLock; /* recursive; see platform_lock_init */
typedef CONDITION_VARIABLE PlatformSignal;
typedef volatile LONG PlatformCounter; /* changed only through platform_counter_add */
typedef DWORD PlatformThreadResult;
#define PLATFORM_THREAD_CALL WINAPI
typedef PlatformThreadResult(PLATFORM_THREAD_CALL *PlatformThreadEntry)(void *arg);
typedef HANDLE PlatformThread; /* a thread to join: platform_thread_run */

#endif
