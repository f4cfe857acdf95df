/*
 * crypto_wipe.h: clearing memory that held secrets, and comparing secrets
 * without telling where they differ.
 *
 * A plain memset of a buffer that is never read again is a dead store the
 * compiler may remove, so every buffer that held a key, a session key, a
 * master key or a line that named one is cleared with crypto_wipe, which
 * the compiler must keep: each platform has its own way (the build picks
 * crypto/win32/ or crypto/posix/). crypto_equal takes the same time
 * whatever the bytes, so a card's cryptogram or an answer's MAC does not
 * leak, by the time its check takes, how many of its leading bytes were
 * right.
 */
#ifndef VORLANE_CRYPTO_WIPE_H
#define VORLANE_CRYPTO_WIPE_H

#include <stddef.h>

/* Exports from crypto/win32/crypto_wipe.cpp or crypto/posix/crypto_wipe.cpp */
/* Sets count bytes at bytes to zero; never removed as a dead store. */
void crypto_wipe(void *bytes, size_t count);

/* Exports from crypto/crypto_equal.cpp */
/* 1 when a and b hold the same count bytes; its time does not depend on
   the bytes. */
int crypto_equal(const void *a, const void *b, size_t count);

#endif
