/*
 * crypto_wipe.cpp (POSIX): explicit_bzero where the C library has it (the
 * build tells), else stores through a volatile pointer, which the compiler
 * must carry out one by one.
 */
#include <string.h>

#include "crypto/crypto_wipe.h"

void crypto_wipe(void *bytes, size_t count) {
    if (!bytes || count == 0)
        return;
#ifdef VORLANE_HAVE_EXPLICIT_BZERO
    explicit_bzero(bytes, count);
#else
    volatile unsigned char *at = (volatile unsigned char *)bytes;
    while (count--)
        *at++ = 0;
#endif
}
