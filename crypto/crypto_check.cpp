/*
 * crypto_check.cpp: the checks every routine of crypto/ makes before any
 * work, and the reasons they give: one line of text that names a length,
 * an algorithm or a block, never a key byte. Pure code, no state.
 */
#include "crypto/crypto_local.h"

#include <stdarg.h>
#include <stdio.h>

int crypto_say(char *message, size_t size, int status, const char *format, ...) {
    if (message && size > 0) {
        va_list args;
        va_start(args, format);
        vsnprintf(message, size, format, args);
        va_end(args);
    }
    return status;
}

unsigned long crypto_n(size_t count) {
    return (unsigned long)count;
}

const char *crypto_unit(size_t count) {
    return count == 1 ? "byte" : "bytes";
}

const unsigned char *crypto_bytes(const unsigned char *bytes) {
    static const unsigned char none = 0;
    return bytes ? bytes : &none;
}

size_t crypto_kind_block(int kind) {
    return kind == CRYPTO_KIND_AES ? CRYPTO_AES_BLOCK : CRYPTO_DES_BLOCK;
}

int crypto_key_fits(int kind, size_t length) {
    if (kind == CRYPTO_KIND_DES)
        return length == 8;
    if (kind == CRYPTO_KIND_3DES)
        return length == 16 || length == 24;
    return length == 16 || length == 24 || length == 32;
}

int crypto_bad_key(char *message, size_t size, size_t length, const char *name) {
    return crypto_say(message, size, CRYPTO_BAD_KEY, "key of %lu %s for %s", crypto_n(length),
                      crypto_unit(length), name);
}

int crypto_bad_iv(char *message, size_t size, size_t length, const char *name) {
    return crypto_say(message, size, CRYPTO_BAD_IV, "IV of %lu %s for %s", crypto_n(length),
                      crypto_unit(length), name);
}

int crypto_not_blocks(char *message, size_t size, size_t length, size_t block) {
    return crypto_say(message, size, CRYPTO_BAD_DATA, "data of %lu %s is not a multiple of %lu",
                      crypto_n(length), crypto_unit(length), crypto_n(block));
}

int crypto_no_room(char *message, size_t size, size_t need, size_t capacity) {
    return crypto_say(message, size, CRYPTO_NO_ROOM, "result of %lu %s does not fit in %lu",
                      crypto_n(need), crypto_unit(need), crypto_n(capacity));
}
