/*
 * crypto_local.h: what the files of crypto/ share among themselves and
 * nothing else includes: the block cipher families with their key and
 * block sizes, and the checks every routine makes on its arguments with
 * the reasons they give. The library's own calls stay in crypto.cpp; the
 * MACs composed over its ciphers (crypto_mac.cpp) and the byte work of
 * padding and XOR (crypto_pad.cpp) are pure code over crypto.h.
 */
#ifndef VORLANE_CRYPTO_LOCAL_H
#define VORLANE_CRYPTO_LOCAL_H

#include <stddef.h>

#include "crypto/crypto.h"

/* The block ciphers the algorithms are built on */
enum { CRYPTO_KIND_DES, CRYPTO_KIND_3DES, CRYPTO_KIND_AES };

/* Exports from crypto/crypto_check.cpp */
/* Writes the reason (when message is not 0) and returns status. */
int crypto_say(char *message, size_t size, int status, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
/* A count for a reason's text ("%lu": the Windows C runtime has no %zu);
   every count here is far below 4 GiB. */
unsigned long crypto_n(size_t count);
/* "byte" after a count of one, else "bytes" */
const char *crypto_unit(size_t count);
/* Data of no bytes may come as a null pointer; the routines read it as
   an empty buffer. */
const unsigned char *crypto_bytes(const unsigned char *bytes);
/* The block of a family: 8 bytes for DES and 3DES, 16 for AES. */
size_t crypto_kind_block(int kind);
/* 1 when a key of length bytes fits the family: DES 8; 3DES 16 or 24;
   AES 16, 24 or 32. */
int crypto_key_fits(int kind, size_t length);
/* The reasons: "key of N bytes for NAME", "IV of N bytes for NAME",
   "data of N bytes is not a multiple of B", "result of N bytes does not
   fit in C"; each returns its status. */
int crypto_bad_key(char *message, size_t size, size_t length, const char *name);
int crypto_bad_iv(char *message, size_t size, size_t length, const char *name);
int crypto_not_blocks(char *message, size_t size, size_t length, size_t block);
int crypto_no_room(char *message, size_t size, size_t need, size_t capacity);

#endif
