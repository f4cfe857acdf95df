/*
 * crypto.cpp: the cryptography of card work over libgcrypt, the only file
 * that includes the library's header: its start, its handles, the block
 * ciphers DES, 3DES and AES in ECB and CBC, CMAC over AES, the hashes and
 * the random bytes. What the library lacks or gets wrong for cards (the
 * retail and CBC MACs, CMAC over 3DES, padding) is composed over these
 * routines in crypto_mac.cpp and crypto_pad.cpp.
 *
 * Design: no state but the library's start, done once by the first caller
 * (a function-local static, which C++ initialises exactly once even when
 * threads race for it). Every cipher handle lives within one call, but for
 * an AES key held ready (CryptoAesKey), which keeps its own. Weak DES keys
 * (all zeros is the factory key of many cards) are allowed on each handle,
 * and setkey's weak-key code then counts as success. Copies of key
 * material on the stack are wiped before a routine returns.
 */
#include "crypto/crypto_local.h"
#include "crypto/crypto_wipe.h"

#include <gcrypt.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

/* The library's oldest release with everything used here (weak keys
   allowed per handle, CMAC); the Debian package depends on it. */
static const char crypto_library_minimum[] = "1.8.0";

struct CryptoCipherInfo {
    const char *name; /* as reasons name it */
    int kind;         /* CRYPTO_KIND_* */
    int mode;         /* GCRY_CIPHER_MODE_ECB or _CBC */
};

static const CryptoCipherInfo cipher_table[CRYPTO_CIPHER_COUNT] = {
    {"DES-ECB", CRYPTO_KIND_DES, GCRY_CIPHER_MODE_ECB},
    {"DES-CBC", CRYPTO_KIND_DES, GCRY_CIPHER_MODE_CBC},
    {"3DES-ECB", CRYPTO_KIND_3DES, GCRY_CIPHER_MODE_ECB},
    {"3DES-CBC", CRYPTO_KIND_3DES, GCRY_CIPHER_MODE_CBC},
    {"AES-ECB", CRYPTO_KIND_AES, GCRY_CIPHER_MODE_ECB},
    {"AES-CBC", CRYPTO_KIND_AES, GCRY_CIPHER_MODE_CBC},
};

struct CryptoHashInfo {
    const char *name; /* as reports name it */
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

/* ---- keys and handles ---- */

/* The key of kind as the library takes it; CRYPTO_BAD_KEY for a length
   the kind does not take (what names the algorithm in the reason). */
static int crypto_key_make(int kind, const unsigned char *key, size_t length, const char *what,
                           CryptoKey *out, char *message, size_t size) {
    if (!crypto_key_fits(kind, length) || !key)
        return crypto_bad_key(message, size, length, what);
    memcpy(out->bytes, key, length);
    out->length = length;
    out->block = crypto_kind_block(kind);
    if (kind == CRYPTO_KIND_DES) {
        out->algo = GCRY_CIPHER_DES;
    } else if (kind == CRYPTO_KIND_3DES) {
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
        status = crypto_bad_iv(message, size, iv_length, info->name);
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

/* ---- hashes, random bytes ---- */

const char *crypto_hash_name(int hash) {
    return hash >= 0 && hash < CRYPTO_HASH_COUNT ? hash_table[hash].name : "";
}

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

/* ---- AES keys held ready ---- */

static int crypto_aes_made(const CryptoAesKey *key, CryptoKey *made, char *message, size_t size) {
    int status = crypto_start(message, size);
    if (status != CRYPTO_OK)
        return status;
    return crypto_key_make(CRYPTO_KIND_AES, key->bytes, key->length, "AES", made, message, size);
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
