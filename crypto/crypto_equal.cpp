/*
 * crypto_equal.cpp: a comparison of secrets that reads every byte: the
 * differences are gathered with OR, and only the total is tested.
 */
#include "crypto/crypto_wipe.h"

int crypto_equal(const void *a, const void *b, size_t count) {
    const volatile unsigned char *x = (const volatile unsigned char *)a;
    const volatile unsigned char *y = (const volatile unsigned char *)b;
    unsigned char differ = 0;

    for (size_t i = 0; i < count; i++)
        differ |= (unsigned char)(x[i] ^ y[i]);
    return differ == 0;
}
