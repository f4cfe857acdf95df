/*
 * crypto_wipe.cpp (Windows): the system's own clearing of secrets, which
 * the compiler never removes.
 */
#include <windows.h>

#include "crypto/crypto_wipe.h"

void crypto_wipe(void *bytes, size_t count) {
    if (bytes && count > 0)
        SecureZeroMemory(bytes, count);
}
