/*
 * winscard_link.h: the rig's winscard.dll, inside. The DLL makes no PC/SC call
 * itself: each context is one TCP connection (a "link") to the PC/SC bridge on
 * 127.0.0.1, and each call is one request and one response on it (the format
 * is in tools/pcsc_bridge/bridge_protocol.h).
 *
 * Design: the handles given to the caller are numbers of our own, mapped in
 * two tables (contexts -> link, cards -> link and the bridge's card number)
 * under `table_lock`; a stale or foreign handle is simply not found. A link is
 * shared (shared_ptr) by its context and its cards, and by any call running
 * on it, so a context released by one thread while another thread is in a
 * call on it stays alive until that call returns. `link.lock` serialises the
 * request/response pairs of one link between threads. A thread that needs
 * both takes table_lock first and link.lock inside it, never the other way
 * round, and table_lock is never held across the network.
 */
#ifndef VORLANE_WINSCARD_LINK_H
#define VORLANE_WINSCARD_LINK_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

/* This DLL defines the PC/SC data symbols that programs import: declare
   them without dllimport (windows.h declares them too). */
#define WINSCARDDATA
#include <winsock2.h>
#include <winscard.h>

struct Link {
    SOCKET socket = INVALID_SOCKET;    /* connection to the bridge (Winsock), or */
    intptr_t unix_fd = -1;             /* the same as a Linux descriptor under Wine */
    std::mutex lock;                   /* one request/response at a time */
    uint32_t bridge_id = 0;            /* the bridge's id of this context (for cancel) */
    std::atomic<bool> released{false}; /* SCardReleaseContext was called */
    std::atomic<bool> broken{false};   /* the connection failed: every call fails */
};

typedef std::shared_ptr<Link> LinkRef;

/* winscard_unix.cpp: direct Linux socket calls under Wine. */
bool unix_available(void);
intptr_t unix_connect(int port); /* -1 on failure */
bool unix_send(intptr_t fd, const uint8_t *bytes, size_t length);
bool unix_receive(intptr_t fd, uint8_t *bytes, size_t length);
void unix_shutdown(intptr_t fd);
void unix_close(intptr_t fd);

/* winscard_link.cpp */
LONG link_open(LinkRef &link); /* connects; SCARD_E_NO_SERVICE without a bridge */
void link_shut(Link &link);    /* ends the connection; calls in progress return */
/* Sends one request, reads the response's status code and payload. Returns
   SCARD_S_SUCCESS when a response arrived, else the failure of the link. */
LONG link_call(Link &link, const std::vector<uint8_t> &request, uint32_t &rv,
               std::vector<uint8_t> &payload);
/* The same, with link.lock already held by the caller. */
LONG link_call_locked(Link &link, const std::vector<uint8_t> &request, uint32_t &rv,
                      std::vector<uint8_t> &payload);
/* Opens a link with a context of its own: for the calls made without one. */
LONG link_open_established(LinkRef &link);

SCARDCONTEXT context_add(const LinkRef &link);
LinkRef context_find(SCARDCONTEXT context);
LinkRef context_remove(SCARDCONTEXT context); /* and every card of it */
SCARDHANDLE card_add(SCARDCONTEXT context, const LinkRef &link,
                     uint32_t number); /* 0: context gone */
LinkRef card_find(SCARDHANDLE card, uint32_t &number);
void card_remove(SCARDHANDLE card);

/* Copies a result to the caller the Windows way: a null buffer asks for the
   length; SCARD_AUTOALLOCATE in *length makes the DLL allocate the block
   (the buffer argument is then a pointer to the caller's pointer, and
   SCardFreeMemory frees it); a buffer too small gets
   SCARD_E_INSUFFICIENT_BUFFER with the needed length. */
LONG result_copy(const void *data, DWORD size, void *buffer, DWORD *length);
bool memory_free(const void *block);

#endif
