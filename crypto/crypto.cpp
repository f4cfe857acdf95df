/*
 * crypto.cpp: the cryptography of card work over libgcrypt, the only file
 * that includes the library's header.
 *
 * The library does the ciphers, CMAC over AES, the hashes and the random
 * bytes. What it lacks, or gets wrong for cards, is composed here from its
 * block ciphers and nothing else: ISO/IEC 9797-1 MAC algorithms 1 and 3
 * (the last block of a CBC encryption; retail: DES CBC, then the last block
 * decrypted with the second key and encrypted with the first), padding
 * method 2, and CMAC over 3DES (NIST SP 800-38B), since the library's
 * 3DES CMAC refuses weak keys and then gives a wrong tag without an error.
 * The same composition serves a CMAC with a chaining value other than
 * zeros, which the library's CMAC does not take.
 *
 * Design: no state but the library's start, done once by the first caller
 * (a function-local static, which C++ initialises exactly once even when
 * threads race for it). Every cipher handle lives within one call. Weak DES
 * keys (all zeros is the factory key of many cards) are allowed on each
 * handle, and setkey's weak-key code then counts as success. Copies of key
 * material on the stack are wiped before a routine returns.
 */
#include "crypto/crypto.h"
#include "crypto/crypto_wipe.h"

#include <gcrypt.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

/* The library's oldest release with everything used here (weak keys
   allowed per handle, CMAC); the Debian package depends on it. */
static const char crypto_library_minimum[] = "1.8.0";

enum { KIND_DES, KIND_3DES, KIND_AES };

struct CryptoCipherInfo {
    const char *name;
    int kind;
    int mode; /* GCRY_CIPHER_MODE_ECB or _CBC */
};

static const CryptoCipherInfo cipher_table[CRYPTO_CIPHER_COUNT] = {
    {"DES-ECB", KIND_DES, GCRY_CIPHER_MODE_ECB},   {"DES-CBC", KIND_DES, GCRY_CIPHER_MODE_CBC},
    {"3DES-ECB", KIND_3DES, GCRY_CIPHER_MODE_ECB}, {"3DES-CBC", KIND_3DES, GCRY_CIPHER_MODE_CBC},
    {"AES-ECB", KIND_AES, GCRY_CIPHER_MODE_ECB},   {"AES-CBC", KIND_AES, GCRY_CIPHER_MODE_CBC},
};

struct CryptoMacInfo {
    const char *name;
    int kind; /* the block cipher it is built on (RETAIL: DES with a 16-byte key) */
};

static const CryptoMacInfo mac_table[CRYPTO_MAC_COUNT] = {
    {"CMAC-AES", KIND_AES}, {"CMAC-3DES", KIND_3DES}, {"RETAIL", KIND_3DES},
    {"CBC-DES", KIND_DES},  {"CBC-3DES", KIND_3DES},  {"CBC-AES", KIND_AES},
};

struct CryptoHashInfo {
    const char *name;
    int algo;
    size_t length;
};

static const CryptoHashInfo hash_table[CRYPTO_HASH_COUNT] = {
    {"SHA-1", GCRY_MD_SHA1, 20},     {"SHA-224", GCRY_MD_SHA224, 28},
    {"SHA-256", GCRY_MD_SHA256, 32}, {"SHA-384", GCRY_MD_SHA384, 48},
    {"SHA-512", GCRY_MD_SHA512, 64},
};

/* A key as the library takes it: 3DES always of 24 bytes. */
struct CryptoKey {
    int algo;                /* GCRY_CIPHER_* */
    unsigned char bytes[32]; /* the key */
    size_t length;           /* its bytes */
    size_t block;            /* the cipher's block */
};

/* Data of no bytes may come as a null pointer; the routines read it as
   an empty buffer. */
static const unsigned char *crypto_bytes(const unsigned char *bytes) {
    static const unsigned char none = 0;
    return bytes ? bytes : &none;
}

static int crypto_say(char *message, size_t size, int status, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

/* Writes the reason and returns status. */
static int crypto_say(char *message, size_t size, int status, const char *format, ...) {
    if (message && size > 0) {
        va_list args;
        va_start(args, format);
        vsnprintf(message, size, format, args);
        va_end(args);
    }
    return status;
}

/* A count for a reason's text ("%lu": the Windows C runtime has no %zu);
   every count here is far below 4 GiB. */
static unsigned long crypto_n(size_t count) {
    return (unsigned long)count;
}

/* "byte" after a count of one, else "bytes" */
static const char *crypto_unit(size_t count) {
    return count == 1 ? "byte" : "bytes";
}

static int crypto_no_room(char *message, size_t size, size_t need, size_t capacity) {
    return crypto_say(message, size, CRYPTO_NO_ROOM, "result of %lu %s does not fit in %lu",
                      crypto_n(need), crypto_unit(need), crypto_n(capacity));
}

static int crypto_not_blocks(char *message, size_t size, size_t length, size_t block) {
    return crypto_say(message, size, CRYPTO_BAD_DATA, "data of %lu %s is not a multiple of %lu",
                      crypto_n(length), crypto_unit(length), crypto_n(block));
}

static int crypto_library_failed(char *message, size_t size, const char *what, gcry_error_t err) {
    return crypto_say(message, size, CRYPTO_LIBRARY, "%s failed: %s", what, gcry_strerror(err));
}

/* ---- start ---- */

/* The library writes notes of its own to standard error: on Windows, at
   the first random bytes, that a disk statistics counter is off. The
   runner's standard error carries its own messages only, and every failure
   here is told by a routine's status, so only what comes right before the
   library ends the process is let through. (A callback beside the window
   procedures: the library has no other way to be quiet.) */
static void crypto_library_log(void *opaque, int level, const char *format, va_list args) {
    (void)opaque;
    if (level == GCRY_LOG_FATAL || level == GCRY_LOG_BUG)
        vfprintf(stderr, format, args);
}

/* The library's one start: the version check it asks for before any use,
   its notes kept off standard error, then no secure memory (it would need privileges a desktop tool
   lacks and print warnings; keys here live on the stack and are wiped). */
static const char *crypto_library_start(void) {
    if (!gcry_check_version(crypto_library_minimum))
        return "libgcrypt is older than 1.8.0";
    gcry_set_log_handler(crypto_library_log, 0);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    return 0;
}

int crypto_start(char *message, size_t message_size) {
    static const char *const failure = crypto_library_start();

    if (failure)
        return crypto_say(message, message_size, CRYPTO_LIBRARY, "%s", failure);
    return CRYPTO_OK;
}

/* ---- names ---- */

static int crypto_name_is(const char *name, size_t length, const char *word) {
    return strlen(word) == length && memcmp(name, word, length) == 0;
}

const char *crypto_cipher_name(int cipher) {
    return cipher >= 0 && cipher < CRYPTO_CIPHER_COUNT ? cipher_table[cipher].name : "";
}

const char *crypto_mac_name(int mac) {
    return mac >= 0 && mac < CRYPTO_MAC_COUNT ? mac_table[mac].name : "";
}

const char *crypto_hash_name(int hash) {
    return hash >= 0 && hash < CRYPTO_HASH_COUNT ? hash_table[hash].name : "";
}

int crypto_cipher_find(const char *name, size_t length) {
    for (int i = 0; i < CRYPTO_CIPHER_COUNT; i++) {
        if (crypto_name_is(name, length, cipher_table[i].name))
            return i;
    }
    return -1;
}

int crypto_mac_find(const char *name, size_t length) {
    for (int i = 0; i < CRYPTO_MAC_COUNT; i++) {
        if (crypto_name_is(name, length, mac_table[i].name))
            return i;
    }
    return -1;
}

int crypto_hash_find(const char *name, size_t length) {
    for (int i = 0; i < CRYPTO_HASH_COUNT; i++) {
        if (crypto_name_is(name, length, hash_table[i].name))
            return i;
    }
    return -1;
}

static size_t crypto_kind_block(int kind) {
    return kind == KIND_AES ? CRYPTO_AES_BLOCK : CRYPTO_DES_BLOCK;
}

size_t crypto_cipher_block(int cipher) {
    return cipher >= 0 && cipher < CRYPTO_CIPHER_COUNT
               ? crypto_kind_block(cipher_table[cipher].kind)
               : 0;
}

size_t crypto_mac_length(int mac) {
    return mac >= 0 && mac < CRYPTO_MAC_COUNT ? crypto_kind_block(mac_table[mac].kind) : 0;
}

size_t crypto_hash_length(int hash) {
    return hash >= 0 && hash < CRYPTO_HASH_COUNT ? hash_table[hash].length : 0;
}

/* ---- keys and handles ---- */

/* The key of kind as the library takes it; CRYPTO_BAD_KEY for a length
   the kind does not take (what names the algorithm in the reason). */
static int crypto_key_make(int kind, const unsigned char *key, size_t length, const char *what,
                           CryptoKey *out, char *message, size_t size) {
    int fits = kind == KIND_DES    ? length == 8
               : kind == KIND_3DES ? length == 16 || length == 24
                                   : length == 16 || length == 24 || length == 32;
    if (!fits || !key)
        return crypto_say(message, size, CRYPTO_BAD_KEY, "key of %lu %s for %s", crypto_n(length),
                          crypto_unit(length), what);
    memcpy(out->bytes, key, length);
    out->length = length;
    out->block = crypto_kind_block(kind);
    if (kind == KIND_DES) {
        out->algo = GCRY_CIPHER_DES;
    } else if (kind == KIND_3DES) {
        out->algo = GCRY_CIPHER_3DES;
        if (length == 16) /* K1 K2 K1 */
            memcpy(out->bytes + 16, key, 8);
        out->length = 24;
    } else {
        out->algo = length == 16   ? GCRY_CIPHER_AES128
                    : length == 24 ? GCRY_CIPHER_AES192
                                   : GCRY_CIPHER_AES256;
    }
    return CRYPTO_OK;
}

/* A single-DES key from 8 bytes (a half of a retail key). */
static void crypto_des_key(const unsigned char *bytes, CryptoKey *out) {
    memcpy(out->bytes, bytes, 8);
    out->length = 8;
    out->block = CRYPTO_DES_BLOCK;
    out->algo = GCRY_CIPHER_DES;
}

/* A handle for key in mode, weak keys allowed; for CBC, its chaining value
   set to iv (block bytes, 0 for zeros). */
static int crypto_open(const CryptoKey *key, int mode, const unsigned char *iv,
                       gcry_cipher_hd_t *handle, char *message, size_t size) {
    static const unsigned char zeros[CRYPTO_BLOCK_MAX] = {0};
    gcry_error_t err = gcry_cipher_open(handle, key->algo, mode, 0);

    if (err)
        return crypto_library_failed(message, size, "cipher open", err);
    gcry_cipher_ctl(*handle, GCRYCTL_SET_ALLOW_WEAK_KEY, NULL, 1);
    err = gcry_cipher_setkey(*handle, key->bytes, key->length);
    if (err && gcry_err_code(err) != GPG_ERR_WEAK_KEY) {
        gcry_cipher_close(*handle);
        return crypto_library_failed(message, size, "setting the key", err);
    }
    if (mode == GCRY_CIPHER_MODE_CBC) {
        err = gcry_cipher_setiv(*handle, iv ? iv : zeros, key->block);
        if (err) {
            gcry_cipher_close(*handle);
            return crypto_library_failed(message, size, "setting the IV", err);
        }
    }
    return CRYPTO_OK;
}

/* One call's block work on whole blocks: count bytes of in (in may be out)
   into out. */
static int crypto_block_run(const CryptoKey *key, int mode, const unsigned char *iv, int decrypt,
                            const unsigned char *in, size_t count, unsigned char *out,
                            char *message, size_t size) {
    gcry_cipher_hd_t handle;
    int status = crypto_open(key, mode, iv, &handle, message, size);

    if (status != CRYPTO_OK || count == 0) {
        if (status == CRYPTO_OK)
            gcry_cipher_close(handle);
        return status;
    }
    const void *source = in == out ? NULL : in; /* the library's in-place form */
    size_t source_length = in == out ? 0 : count;
    gcry_error_t err = decrypt ? gcry_cipher_decrypt(handle, out, count, source, source_length)
                               : gcry_cipher_encrypt(handle, out, count, source, source_length);
    gcry_cipher_close(handle);
    return err ? crypto_library_failed(message, size, decrypt ? "decryption" : "encryption", err)
               : CRYPTO_OK;
}

/* Encrypts whole blocks in a CBC handle, keeping only the last cipher
   block (the handle keeps the chain for a next call). */
static gcry_error_t crypto_cbc_last(gcry_cipher_hd_t handle, const unsigned char *data,
                                    size_t length, size_t block, unsigned char *last) {
    unsigned char piece[512]; /* whole blocks of both sizes */

    while (length > 0) {
        size_t count = length < sizeof piece ? length : sizeof piece;
        gcry_error_t err = gcry_cipher_encrypt(handle, piece, count, data, count);
        if (err)
            return err;
        memcpy(last, piece + count - block, block);
        data += count;
        length -= count;
    }
    crypto_wipe(piece, sizeof piece);
    return 0;
}

/* ---- ciphers ---- */

static int crypto_cipher_run(int cipher, int decrypt, const unsigned char *key, size_t key_length,
                             const unsigned char *iv, size_t iv_length, const unsigned char *data,
                             size_t length, unsigned char *out, size_t capacity, char *message,
                             size_t size) {
    char started[CRYPTO_MESSAGE_SIZE];
    CryptoKey made;

    if (cipher < 0 || cipher >= CRYPTO_CIPHER_COUNT)
        return crypto_say(message, size, CRYPTO_BAD_ALGORITHM, "no cipher %d", cipher);
    if (crypto_start(started, sizeof started) != CRYPTO_OK)
        return crypto_say(message, size, CRYPTO_LIBRARY, "%s", started);
    const CryptoCipherInfo *info = &cipher_table[cipher];
    data = crypto_bytes(data);
    int status = crypto_key_make(info->kind, key, key_length, info->name, &made, message, size);
    if (status != CRYPTO_OK)
        return status;
    if (length % made.block != 0)
        status = crypto_not_blocks(message, size, length, made.block);
    else if (iv && info->mode == GCRY_CIPHER_MODE_ECB)
        status = crypto_say(message, size, CRYPTO_BAD_IV, "%s takes no IV", info->name);
    else if (iv && iv_length != made.block)
        status = crypto_say(message, size, CRYPTO_BAD_IV, "IV of %lu %s for %s",
                            crypto_n(iv_length), crypto_unit(iv_length), info->name);
    else if (capacity < length)
        status = crypto_no_room(message, size, length, capacity);
    else
        status = crypto_block_run(&made, info->mode, iv, decrypt, data, length, out, message, size);
    crypto_wipe(&made, sizeof made);
    return status;
}

int crypto_encrypt(int cipher, const unsigned char *key, size_t key_length, const unsigned char *iv,
                   size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
                   size_t capacity, char *message, size_t message_size) {
    return crypto_cipher_run(cipher, 0, key, key_length, iv, iv_length, data, length, out, capacity,
                             message, message_size);
}

int crypto_decrypt(int cipher, const unsigned char *key, size_t key_length, const unsigned char *iv,
                   size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
                   size_t capacity, char *message, size_t message_size) {
    return crypto_cipher_run(cipher, 1, key, key_length, iv, iv_length, data, length, out, capacity,
                             message, message_size);
}

/* ---- MACs ---- */

/* ISO/IEC 9797-1 algorithm 1: the last block of the CBC encryption of data
   (whole blocks) from the chaining value iv. */
static int crypto_cbc_mac(const CryptoKey *key, const unsigned char *iv, const unsigned char *data,
                          size_t length, unsigned char *tag, char *message, size_t size) {
    gcry_cipher_hd_t handle;
    int status = crypto_open(key, GCRY_CIPHER_MODE_CBC, iv, &handle, message, size);

    if (status != CRYPTO_OK)
        return status;
    gcry_error_t err = crypto_cbc_last(handle, data, length, key->block, tag);
    gcry_cipher_close(handle);
    return err ? crypto_library_failed(message, size, "encryption", err) : CRYPTO_OK;
}

/* ISO/IEC 9797-1 algorithm 3 (retail): the DES CBC MAC under the key's
   first half, then its last block decrypted under the second half and
   encrypted under the first. */
static int crypto_retail_mac(const unsigned char *key, const unsigned char *iv,
                             const unsigned char *data, size_t length, unsigned char *tag,
                             char *message, size_t size) {
    CryptoKey first, second;

    crypto_des_key(key, &first);
    crypto_des_key(key + 8, &second);
    int status = crypto_cbc_mac(&first, iv, data, length, tag, message, size);
    if (status == CRYPTO_OK)
        status = crypto_block_run(&second, GCRY_CIPHER_MODE_ECB, 0, 1, tag, CRYPTO_DES_BLOCK, tag,
                                  message, size);
    if (status == CRYPTO_OK)
        status = crypto_block_run(&first, GCRY_CIPHER_MODE_ECB, 0, 0, tag, CRYPTO_DES_BLOCK, tag,
                                  message, size);
    crypto_wipe(&first, sizeof first);
    crypto_wipe(&second, sizeof second);
    return status;
}

/* NIST SP 800-38B's doubling of a subkey: one bit to the left, and the
   block's constant in when a bit fell out (0x1B for 64-bit blocks, 0x87 for
   128-bit ones). */
static void crypto_cmac_double(const unsigned char *in, size_t block, unsigned char *out) {
    unsigned char carry = in[0] & 0x80;

    for (size_t i = 0; i + 1 < block; i++)
        out[i] = (unsigned char)(in[i] << 1 | in[i + 1] >> 7);
    out[block - 1] = (unsigned char)(in[block - 1] << 1);
    if (carry)
        out[block - 1] ^= block == CRYPTO_DES_BLOCK ? 0x1B : 0x87;
}

/* CMAC's last block into last: the data's last part, whole, XORed with
   the first subkey, or padded (80 00...) and XORed with the second; the
   length of the data before it into *head. subkey is the encryption of a
   zero block. */
static void crypto_cmac_last(const unsigned char *subkey, size_t block, const unsigned char *data,
                             size_t length, unsigned char *last, size_t *head) {
    unsigned char k1[CRYPTO_BLOCK_MAX], k2[CRYPTO_BLOCK_MAX];
    size_t tail = length % block;

    if (length > 0 && tail == 0)
        tail = block;
    *head = length - tail;
    crypto_cmac_double(subkey, block, k1);
    crypto_cmac_double(k1, block, k2);
    memcpy(last, data + *head, tail);
    if (tail < block)
        last[tail] = 0x80;
    for (size_t i = 0; i < block; i++)
        last[i] ^= tail < block ? k2[i] : k1[i];
    crypto_wipe(k1, sizeof k1);
    crypto_wipe(k2, sizeof k2);
}

/* CMAC (NIST SP 800-38B) composed from the block cipher: the CBC MAC of
   the data with its last block made by crypto_cmac_last. The chaining
   value starts at iv. Every path out wipes the subkeys. */
static int crypto_cmac_composed(const CryptoKey *key, const unsigned char *iv,
                                const unsigned char *data, size_t length, unsigned char *tag,
                                char *message, size_t size) {
    unsigned char subkey[CRYPTO_BLOCK_MAX] = {0}, last[CRYPTO_BLOCK_MAX] = {0};
    size_t block = key->block, head = 0;
    gcry_cipher_hd_t handle;
    int status =
        crypto_block_run(key, GCRY_CIPHER_MODE_ECB, 0, 0, subkey, block, subkey, message, size);

    if (status == CRYPTO_OK) {
        crypto_cmac_last(subkey, block, data, length, last, &head);
        status = crypto_open(key, GCRY_CIPHER_MODE_CBC, iv, &handle, message, size);
    }
    if (status == CRYPTO_OK) {
        gcry_error_t err = crypto_cbc_last(handle, data, head, block, tag);
        if (!err)
            err = crypto_cbc_last(handle, last, block, block, tag);
        gcry_cipher_close(handle);
        if (err)
            status = crypto_library_failed(message, size, "encryption", err);
    }
    crypto_wipe(subkey, sizeof subkey);
    crypto_wipe(last, sizeof last);
    return status;
}

/* CMAC over AES by the library. */
static int crypto_cmac_aes_library(const CryptoKey *key, const unsigned char *data, size_t length,
                                   unsigned char *tag, char *message, size_t size) {
    gcry_mac_hd_t handle;
    size_t tag_length = CRYPTO_AES_BLOCK;
    gcry_error_t err = gcry_mac_open(&handle, GCRY_MAC_CMAC_AES, 0, NULL);

    if (err)
        return crypto_library_failed(message, size, "CMAC open", err);
    err = gcry_mac_setkey(handle, key->bytes, key->length);
    if (!err && length > 0)
        err = gcry_mac_write(handle, data, length);
    if (!err)
        err = gcry_mac_read(handle, tag, &tag_length);
    gcry_mac_close(handle);
    return err ? crypto_library_failed(message, size, "CMAC-AES", err) : CRYPTO_OK;
}

static int crypto_all_zero(const unsigned char *bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (bytes[i])
            return 0;
    }
    return 1;
}

/* What a MAC's data must be, after its key was taken. */
static int crypto_mac_data_check(int mac, const CryptoKey *key, size_t length, char *message,
                                 size_t size) {
    const char *name = mac_table[mac].name;

    if (mac == CRYPTO_MAC_CMAC_AES || mac == CRYPTO_MAC_CMAC_3DES)
        return CRYPTO_OK;
    if (length == 0)
        return crypto_say(message, size, CRYPTO_BAD_DATA, "data of 0 bytes for %s", name);
    if (length % key->block != 0)
        return crypto_not_blocks(message, size, length, key->block);
    return CRYPTO_OK;
}

static int crypto_mac_compute(int mac, const unsigned char *key, const CryptoKey *made,
                              const unsigned char *iv, const unsigned char *data, size_t length,
                              unsigned char *tag, char *message, size_t size) {
    switch (mac) {
        case CRYPTO_MAC_CMAC_AES:
            if (!iv || crypto_all_zero(iv, made->block))
                return crypto_cmac_aes_library(made, data, length, tag, message, size);
            return crypto_cmac_composed(made, iv, data, length, tag, message, size);
        case CRYPTO_MAC_CMAC_3DES:
            return crypto_cmac_composed(made, iv, data, length, tag, message, size);
        case CRYPTO_MAC_RETAIL: return crypto_retail_mac(key, iv, data, length, tag, message, size);
        default: return crypto_cbc_mac(made, iv, data, length, tag, message, size);
    }
}

int crypto_mac(int mac, const unsigned char *key, size_t key_length, const unsigned char *iv,
               size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
               size_t capacity, size_t *out_length, char *message, size_t message_size) {
    char started[CRYPTO_MESSAGE_SIZE];
    unsigned char tag[CRYPTO_BLOCK_MAX];
    CryptoKey made;

    if (mac < 0 || mac >= CRYPTO_MAC_COUNT)
        return crypto_say(message, message_size, CRYPTO_BAD_ALGORITHM, "no MAC %d", mac);
    if (crypto_start(started, sizeof started) != CRYPTO_OK)
        return crypto_say(message, message_size, CRYPTO_LIBRARY, "%s", started);
    const char *name = mac_table[mac].name;
    data = crypto_bytes(data);
    if (mac == CRYPTO_MAC_RETAIL && key_length != 16)
        return crypto_say(message, message_size, CRYPTO_BAD_KEY, "key of %lu %s for %s",
                          crypto_n(key_length), crypto_unit(key_length), name);
    int status =
        crypto_key_make(mac_table[mac].kind, key, key_length, name, &made, message, message_size);
    if (status == CRYPTO_OK)
        status = crypto_mac_data_check(mac, &made, length, message, message_size);
    if (status == CRYPTO_OK && iv && iv_length != made.block)
        status = crypto_say(message, message_size, CRYPTO_BAD_IV, "IV of %lu %s for %s",
                            crypto_n(iv_length), crypto_unit(iv_length), name);
    if (status == CRYPTO_OK && capacity < made.block)
        status = crypto_no_room(message, message_size, made.block, capacity);
    if (status == CRYPTO_OK)
        status = crypto_mac_compute(mac, key, &made, iv, data, length, tag, message, message_size);
    if (status == CRYPTO_OK) {
        memcpy(out, tag, made.block);
        *out_length = made.block;
    }
    crypto_wipe(&made, sizeof made);
    crypto_wipe(tag, sizeof tag);
    return status;
}

/* ---- hashes, random bytes ---- */

int crypto_hash(int hash, const unsigned char *data, size_t length, unsigned char *out,
                size_t capacity, size_t *out_length, char *message, size_t message_size) {
    char started[CRYPTO_MESSAGE_SIZE];

    if (hash < 0 || hash >= CRYPTO_HASH_COUNT)
        return crypto_say(message, message_size, CRYPTO_BAD_ALGORITHM, "no hash %d", hash);
    if (crypto_start(started, sizeof started) != CRYPTO_OK)
        return crypto_say(message, message_size, CRYPTO_LIBRARY, "%s", started);
    const CryptoHashInfo *info = &hash_table[hash];
    if (capacity < info->length)
        return crypto_no_room(message, message_size, info->length, capacity);
    gcry_md_hash_buffer(info->algo, out, crypto_bytes(data), length);
    *out_length = info->length;
    return CRYPTO_OK;
}

int crypto_random(unsigned char *out, size_t count, char *message, size_t message_size) {
    char started[CRYPTO_MESSAGE_SIZE];

    if (crypto_start(started, sizeof started) != CRYPTO_OK)
        return crypto_say(message, message_size, CRYPTO_LIBRARY, "%s", started);
    if (count > 0)
        gcry_randomize(out, count, GCRY_STRONG_RANDOM);
    return CRYPTO_OK;
}

/* ---- padding, XOR ---- */

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

/* ---- AES keys held ready ---- */

static int crypto_aes_made(const CryptoAesKey *key, CryptoKey *made, char *message, size_t size) {
    int status = crypto_start(message, size);
    if (status != CRYPTO_OK)
        return status;
    return crypto_key_make(KIND_AES, key->bytes, key->length, "AES", made, message, size);
}

int crypto_aes_cbc(CryptoAesKey *key, int decrypt, const unsigned char *iv,
                   const unsigned char *data, size_t length, unsigned char *out, size_t capacity,
                   char *message, size_t message_size) {
    static const unsigned char zeros[CRYPTO_AES_BLOCK] = {0};
    CryptoKey made;

    if (length % CRYPTO_AES_BLOCK != 0)
        return crypto_not_blocks(message, message_size, length, CRYPTO_AES_BLOCK);
    if (capacity < length)
        return crypto_no_room(message, message_size, length, capacity);
    if (!key->cipher) {
        gcry_cipher_hd_t handle;
        int status = crypto_aes_made(key, &made, message, message_size);
        if (status == CRYPTO_OK)
            status = crypto_open(&made, GCRY_CIPHER_MODE_CBC, 0, &handle, message, message_size);
        crypto_wipe(&made, sizeof made);
        if (status != CRYPTO_OK)
            return status;
        key->cipher = handle;
    }
    gcry_cipher_hd_t handle = (gcry_cipher_hd_t)key->cipher;
    gcry_error_t err = gcry_cipher_setiv(handle, iv ? iv : zeros, CRYPTO_AES_BLOCK);
    const void *source = data == out ? NULL : data;
    size_t source_length = data == out ? 0 : length;
    if (!err && length > 0)
        err = decrypt ? gcry_cipher_decrypt(handle, out, length, source, source_length)
                      : gcry_cipher_encrypt(handle, out, length, source, source_length);
    return err ? crypto_library_failed(message, message_size, "AES-CBC", err) : CRYPTO_OK;
}

int crypto_aes_cmac(CryptoAesKey *key, const unsigned char *data, size_t length, unsigned char *out,
                    char *message, size_t message_size) {
    size_t tag_length = CRYPTO_AES_BLOCK;
    gcry_error_t err = 0;

    if (!key->mac) {
        CryptoKey made;
        gcry_mac_hd_t handle;
        int status = crypto_aes_made(key, &made, message, message_size);
        if (status != CRYPTO_OK)
            return status;
        err = gcry_mac_open(&handle, GCRY_MAC_CMAC_AES, 0, NULL);
        if (!err && (err = gcry_mac_setkey(handle, made.bytes, made.length)) != 0)
            gcry_mac_close(handle);
        crypto_wipe(&made, sizeof made);
        if (err)
            return crypto_library_failed(message, message_size, "CMAC open", err);
        key->mac = handle;
    }
    gcry_mac_hd_t handle = (gcry_mac_hd_t)key->mac;
    err = gcry_mac_ctl(handle, GCRYCTL_RESET, NULL, 0);
    if (!err && length > 0)
        err = gcry_mac_write(handle, data, length);
    if (!err)
        err = gcry_mac_read(handle, out, &tag_length);
    return err ? crypto_library_failed(message, message_size, "CMAC-AES", err) : CRYPTO_OK;
}

void crypto_aes_close(CryptoAesKey *key) {
    if (key->cipher)
        gcry_cipher_close((gcry_cipher_hd_t)key->cipher);
    if (key->mac)
        gcry_mac_close((gcry_mac_hd_t)key->mac);
    crypto_wipe(key, sizeof *key);
}
