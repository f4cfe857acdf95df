/*
 * crypto_pad.cpp: the byte work around the ciphers, pure code: ISO/IEC
 * 9797-1 padding method 2 and its removal, and XOR. No key passes through
 * here that a caller did not already hold; nothing is kept.
 */
#include "crypto/crypto_local.h"

#include <string.h>

int crypto_pad(size_t block, const unsigned char *data, size_t length, unsigned char *out,
               size_t capacity, size_t *out_length, char *message, size_t message_size) {
    if (block != CRYPTO_DES_BLOCK && block != CRYPTO_AES_BLOCK)
        return crypto_say(message, message_size, CRYPTO_BAD_PADDING, "pad block not 8 or 16");
    size_t padded = (length / block + 1) * block;
    if (capacity < padded)
        return crypto_no_room(message, message_size, padded, capacity);
    if (length > 0 && out != data)
        memmove(out, data, length); /* any overlap: out may be data itself */
    out[length] = 0x80;
    memset(out + length + 1, 0, padded - length - 1);
    *out_length = padded;
    return CRYPTO_OK;
}

int crypto_unpad(const unsigned char *data, size_t length, size_t *out_length, char *message,
                 size_t message_size) {
    size_t at = length;

    while (at > 0 && data[at - 1] == 0x00)
        at--;
    if (at == 0 || data[at - 1] != 0x80)
        return crypto_say(message, message_size, CRYPTO_BAD_PADDING,
                          "data does not end in 80 00...");
    *out_length = at - 1;
    return CRYPTO_OK;
}

int crypto_xor(const unsigned char *a, size_t a_length, const unsigned char *b, size_t b_length,
               unsigned char *out, size_t capacity, char *message, size_t message_size) {
    if (a_length != b_length)
        return crypto_say(message, message_size, CRYPTO_BAD_LENGTHS, "XOR of %lu and %lu bytes",
                          crypto_n(a_length), crypto_n(b_length));
    if (capacity < a_length)
        return crypto_no_room(message, message_size, a_length, capacity);
    for (size_t i = 0; i < a_length; i++)
        out[i] = (unsigned char)(a[i] ^ b[i]);
    return CRYPTO_OK;
}
