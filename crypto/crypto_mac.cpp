/*
 * crypto_mac.cpp: the MACs cards use, composed from the block ciphers of
 * crypto.h and nothing else: ISO/IEC 9797-1 MAC algorithm 1 (the last
 * block of a CBC encryption) and algorithm 3, "retail" (DES CBC, then the
 * last block decrypted with the second key and encrypted with the first),
 * and CMAC (NIST SP 800-38B) over 3DES, since the library's 3DES CMAC
 * refuses weak keys and then gives a wrong tag without an error. The same
 * composition serves a CMAC over AES with a chaining value other than
 * zeros, which the library's CMAC does not take; with zeros the library's
 * own CMAC-AES does the work.
 *
 * Pure code, no state. Data goes through the CBC in pieces, each piece's
 * last block chaining the next, so a MAC of any length needs no buffer of
 * its size. Copies of keys and of the blocks between are wiped before a
 * routine returns.
 */
#include "crypto/crypto_local.h"
#include "crypto/crypto_wipe.h"

#include <string.h>

enum { MAC_PIECE = 1024 }; /* bytes enciphered per call: whole blocks of both sizes */

struct CryptoMacInfo {
    const char *name; /* as reasons name it */
    int kind;         /* the block cipher it is built on (RETAIL: DES with a 16-byte key) */
};

static const CryptoMacInfo mac_table[CRYPTO_MAC_COUNT] = {
    {"CMAC-AES", CRYPTO_KIND_AES}, {"CMAC-3DES", CRYPTO_KIND_3DES}, {"RETAIL", CRYPTO_KIND_3DES},
    {"CBC-DES", CRYPTO_KIND_DES},  {"CBC-3DES", CRYPTO_KIND_3DES},  {"CBC-AES", CRYPTO_KIND_AES},
};

static int mac_ecb(int kind) {
    return kind == CRYPTO_KIND_DES    ? CRYPTO_DES_ECB
           : kind == CRYPTO_KIND_3DES ? CRYPTO_3DES_ECB
                                      : CRYPTO_AES_ECB;
}

static int mac_cbc(int kind) {
    return kind == CRYPTO_KIND_DES    ? CRYPTO_DES_CBC
           : kind == CRYPTO_KIND_3DES ? CRYPTO_3DES_CBC
                                      : CRYPTO_AES_CBC;
}

/* The CBC encryption of data (whole blocks) from the chaining value in
   chain, which then holds the last cipher block: the CBC MAC. */
static int mac_cbc_last(int kind, const unsigned char *key, size_t key_length, unsigned char *chain,
                        const unsigned char *data, size_t length, char *message, size_t size) {
    unsigned char piece[MAC_PIECE];
    size_t block = crypto_kind_block(kind);
    int status = CRYPTO_OK;

    while (status == CRYPTO_OK && length > 0) {
        size_t count = length < sizeof piece ? length : sizeof piece;
        status = crypto_encrypt(mac_cbc(kind), key, key_length, chain, block, data, count, piece,
                                sizeof piece, message, size);
        if (status == CRYPTO_OK)
            memcpy(chain, piece + count - block, block);
        data += count;
        length -= count;
    }
    crypto_wipe(piece, sizeof piece);
    return status;
}

/* The chaining value to start from: iv, or zeros. */
static void mac_start(const unsigned char *iv, size_t block, unsigned char *chain) {
    if (iv)
        memcpy(chain, iv, block);
    else
        memset(chain, 0, block);
}

/* ISO/IEC 9797-1 algorithm 3 (retail): the DES CBC MAC under the key's
   first half, then its last block decrypted under the second half and
   encrypted under the first. */
static int mac_retail(const unsigned char *key, const unsigned char *iv, const unsigned char *data,
                      size_t length, unsigned char *tag, char *message, size_t size) {
    mac_start(iv, CRYPTO_DES_BLOCK, tag);
    int status = mac_cbc_last(CRYPTO_KIND_DES, key, 8, tag, data, length, message, size);
    if (status == CRYPTO_OK)
        status = crypto_decrypt(CRYPTO_DES_ECB, key + 8, 8, 0, 0, tag, CRYPTO_DES_BLOCK, tag,
                                CRYPTO_DES_BLOCK, message, size);
    if (status == CRYPTO_OK)
        status = crypto_encrypt(CRYPTO_DES_ECB, key, 8, 0, 0, tag, CRYPTO_DES_BLOCK, tag,
                                CRYPTO_DES_BLOCK, message, size);
    return status;
}

/* NIST SP 800-38B's doubling of a subkey: one bit to the left, and the
   block's constant in when a bit fell out (0x1B for 64-bit blocks, 0x87 for
   128-bit ones). */
static void mac_cmac_double(const unsigned char *in, size_t block, unsigned char *out) {
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
static void mac_cmac_last(const unsigned char *subkey, size_t block, const unsigned char *data,
                          size_t length, unsigned char *last, size_t *head) {
    unsigned char k1[CRYPTO_BLOCK_MAX], k2[CRYPTO_BLOCK_MAX];
    size_t tail = length % block;

    if (length > 0 && tail == 0)
        tail = block;
    *head = length - tail;
    mac_cmac_double(subkey, block, k1);
    mac_cmac_double(k1, block, k2);
    memcpy(last, data + *head, tail);
    if (tail < block)
        last[tail] = 0x80;
    for (size_t i = 0; i < block; i++)
        last[i] ^= tail < block ? k2[i] : k1[i];
    crypto_wipe(k1, sizeof k1);
    crypto_wipe(k2, sizeof k2);
}

/* CMAC (NIST SP 800-38B) composed from the block cipher: the CBC MAC of
   the data with its last block made by mac_cmac_last, the chaining value
   starting at iv. Every path out wipes the subkeys. */
static int mac_cmac_composed(int kind, const unsigned char *key, size_t key_length,
                             const unsigned char *iv, const unsigned char *data, size_t length,
                             unsigned char *tag, char *message, size_t size) {
    unsigned char subkey[CRYPTO_BLOCK_MAX] = {0}, last[CRYPTO_BLOCK_MAX] = {0};
    size_t block = crypto_kind_block(kind), head = 0;
    int status = crypto_encrypt(mac_ecb(kind), key, key_length, 0, 0, subkey, block, subkey, block,
                                message, size);

    if (status == CRYPTO_OK) {
        mac_cmac_last(subkey, block, data, length, last, &head);
        mac_start(iv, block, tag);
        status = mac_cbc_last(kind, key, key_length, tag, data, head, message, size);
    }
    if (status == CRYPTO_OK)
        status = mac_cbc_last(kind, key, key_length, tag, last, block, message, size);
    crypto_wipe(subkey, sizeof subkey);
    crypto_wipe(last, sizeof last);
    return status;
}

/* CMAC over AES by the library, under a key held for this one call. */
static int mac_cmac_aes(const unsigned char *key, size_t key_length, const unsigned char *data,
                        size_t length, unsigned char *tag, char *message, size_t size) {
    CryptoAesKey held = {};

    memcpy(held.bytes, key, key_length);
    held.length = key_length;
    int status = crypto_aes_cmac(&held, data, length, tag, message, size);
    crypto_aes_close(&held); /* its handle released, the key wiped */
    return status;
}

static int mac_all_zero(const unsigned char *bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (bytes[i])
            return 0;
    }
    return 1;
}

static int mac_compute(int mac, const unsigned char *key, size_t key_length,
                       const unsigned char *iv, const unsigned char *data, size_t length,
                       unsigned char *tag, char *message, size_t size) {
    int kind = mac_table[mac].kind;

    switch (mac) {
        case CRYPTO_MAC_CMAC_AES:
            if (!iv || mac_all_zero(iv, CRYPTO_AES_BLOCK))
                return mac_cmac_aes(key, key_length, data, length, tag, message, size);
            return mac_cmac_composed(kind, key, key_length, iv, data, length, tag, message, size);
        case CRYPTO_MAC_CMAC_3DES:
            return mac_cmac_composed(kind, key, key_length, iv, data, length, tag, message, size);
        case CRYPTO_MAC_RETAIL: return mac_retail(key, iv, data, length, tag, message, size);
        default:
            mac_start(iv, crypto_kind_block(kind), tag);
            return mac_cbc_last(kind, key, key_length, tag, data, length, message, size);
    }
}

/* What a MAC's key, data and IV must be; CRYPTO_OK or the reason. */
static int mac_check(int mac, size_t key_length, const unsigned char *iv, size_t iv_length,
                     size_t length, char *message, size_t size) {
    const CryptoMacInfo *info = &mac_table[mac];
    size_t block = crypto_kind_block(info->kind);
    int cmac = mac == CRYPTO_MAC_CMAC_AES || mac == CRYPTO_MAC_CMAC_3DES;

    if (mac == CRYPTO_MAC_RETAIL ? key_length != 16 : !crypto_key_fits(info->kind, key_length))
        return crypto_bad_key(message, size, key_length, info->name);
    if (!cmac && length == 0)
        return crypto_say(message, size, CRYPTO_BAD_DATA, "data of 0 bytes for %s", info->name);
    if (!cmac && length % block != 0)
        return crypto_not_blocks(message, size, length, block);
    if (iv && iv_length != block)
        return crypto_bad_iv(message, size, iv_length, info->name);
    return CRYPTO_OK;
}

int crypto_mac(int mac, const unsigned char *key, size_t key_length, const unsigned char *iv,
               size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
               size_t capacity, size_t *out_length, char *message, size_t message_size) {
    unsigned char tag[CRYPTO_BLOCK_MAX];

    if (mac < 0 || mac >= CRYPTO_MAC_COUNT)
        return crypto_say(message, message_size, CRYPTO_BAD_ALGORITHM, "no MAC %d", mac);
    int status = crypto_start(message, message_size);
    size_t block = crypto_kind_block(mac_table[mac].kind);
    if (status == CRYPTO_OK && !key)
        status = crypto_bad_key(message, message_size, key_length, mac_table[mac].name);
    if (status == CRYPTO_OK)
        status = mac_check(mac, key_length, iv, iv_length, length, message, message_size);
    if (status == CRYPTO_OK && capacity < block)
        status = crypto_no_room(message, message_size, block, capacity);
    if (status == CRYPTO_OK)
        status = mac_compute(mac, key, key_length, iv, crypto_bytes(data), length, tag, message,
                             message_size);
    if (status == CRYPTO_OK) {
        memcpy(out, tag, block);
        *out_length = block;
    }
    crypto_wipe(tag, sizeof tag);
    return status;
}
