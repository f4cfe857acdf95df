/*
 * crypto.h: the cryptography of card work, our one door to the crypto
 * library: DES, 3DES and AES in ECB and CBC, the MACs cards use (CMAC over
 * AES and 3DES, ISO/IEC 9797-1 MAC algorithm 3 "retail" and algorithm 1
 * "CBC MAC"), ISO/IEC 9797-1 padding method 2, the SHA family, strong
 * random bytes and XOR. Only crypto.cpp includes the library's header (its
 * start, handles, ciphers, CMAC over AES, hashes and random bytes); the
 * MACs composed over those ciphers (crypto_mac.cpp) and the padding and XOR
 * (crypto_pad.cpp) are plain code. No Win32 here. Algorithms are numbers;
 * the words a script writes for them are the script's vocabulary
 * (script/script_call.cpp).
 *
 * Every routine takes its input as pointer and length and writes into the
 * caller's buffer of capacity bytes; it returns CRYPTO_OK, or a CRYPTO_*
 * code with the reason as one line of text in message (message_size
 * bytes; message may be 0 when the reason is not wanted). A reason never
 * holds key bytes. Any routine may be called from any thread at any time:
 * the library is started once, on first use, by whichever thread comes
 * first. Output may be the input itself (same address), never a part of it.
 *
 * Keys: DES 8 bytes; 3DES 16 (K1 K2, used as K1 K2 K1) or 24 bytes; AES 16,
 * 24 or 32 bytes. Keys the library calls weak (all zeros, the factory key
 * of many cards) work like any other. Parity bits are ignored.
 * An IV pointer of 0 stands for zeros; any other IV must be one block long.
 */
#ifndef VORLANE_CRYPTO_H
#define VORLANE_CRYPTO_H

#include <stddef.h>

enum {
    CRYPTO_MESSAGE_SIZE = 96, /* room for any reason a routine gives */
    CRYPTO_DES_BLOCK = 8,     /* DES and 3DES block, bytes */
    CRYPTO_AES_BLOCK = 16,    /* AES block, bytes */
    CRYPTO_BLOCK_MAX = 16,    /* the largest block, and the largest MAC */
    CRYPTO_DIGEST_MAX = 64,   /* the largest digest (SHA-512) */
};

/* What a routine returns */
enum CryptoStatus {
    CRYPTO_OK = 0,
    CRYPTO_BAD_ALGORITHM, /* an algorithm number that is not one of ours */
    CRYPTO_BAD_KEY,       /* a key of a length the algorithm does not take */
    CRYPTO_BAD_IV,        /* an IV that is not one block, or one where none is taken */
    CRYPTO_BAD_DATA,      /* data that is not whole blocks, or no block where one is needed */
    CRYPTO_BAD_PADDING,   /* data that does not end in 80 00...; a block not 8 or 16 */
    CRYPTO_BAD_LENGTHS,   /* XOR of values of different lengths */
    CRYPTO_NO_ROOM,       /* the result does not fit in capacity */
    CRYPTO_LIBRARY,       /* the library failed (it could not start, or refused) */
};

/* Block ciphers with their mode, for crypto_encrypt and crypto_decrypt */
enum CryptoCipher {
    CRYPTO_DES_ECB,
    CRYPTO_DES_CBC,
    CRYPTO_3DES_ECB,
    CRYPTO_3DES_CBC,
    CRYPTO_AES_ECB,
    CRYPTO_AES_CBC,
    CRYPTO_CIPHER_COUNT
};

/* MACs, for crypto_mac. The IV is the chaining value the first block is
   XORed with (SCP02's ICV), zeros by default. */
enum CryptoMac {
    CRYPTO_MAC_CMAC_AES,  /* NIST SP 800-38B over AES, any data length, 16 bytes */
    CRYPTO_MAC_CMAC_3DES, /* NIST SP 800-38B over 3DES, any data length, 8 bytes */
    CRYPTO_MAC_RETAIL,    /* ISO/IEC 9797-1 algorithm 3: DES CBC, then 3DES on the
                             last block; 16-byte key, whole blocks, 8 bytes */
    CRYPTO_MAC_CBC_DES,   /* ISO/IEC 9797-1 algorithm 1: the last block of a CBC */
    CRYPTO_MAC_CBC_3DES,  /* encryption of whole blocks, 8 or 16 bytes */
    CRYPTO_MAC_CBC_AES,
    CRYPTO_MAC_COUNT
};

enum CryptoHash {
    CRYPTO_SHA1,
    CRYPTO_SHA224,
    CRYPTO_SHA256,
    CRYPTO_SHA384,
    CRYPTO_SHA512,
    CRYPTO_HASH_COUNT
};

/* Exports from crypto/crypto.cpp */

/* Starts the library if no call has yet (every routine does this itself);
   CRYPTO_LIBRARY when it cannot be used. */
int crypto_start(char *message, size_t message_size);

/* length bytes of data, whole blocks, encrypted or decrypted into out
   (length bytes). An ECB cipher takes no IV. */
int crypto_encrypt(int cipher, const unsigned char *key, size_t key_length, const unsigned char *iv,
                   size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
                   size_t capacity, char *message, size_t message_size);
int crypto_decrypt(int cipher, const unsigned char *key, size_t key_length, const unsigned char *iv,
                   size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
                   size_t capacity, char *message, size_t message_size);

/* A hash's name as reports show it ("SHA-256"), "" for no hash. The words
   a script writes for algorithms are the script's own. */
const char *crypto_hash_name(int hash);

/* The digest of data into out, its length in *out_length. */
int crypto_hash(int hash, const unsigned char *data, size_t length, unsigned char *out,
                size_t capacity, size_t *out_length, char *message, size_t message_size);

/* count bytes of the library's strong random generator into out. */
int crypto_random(unsigned char *out, size_t count, char *message, size_t message_size);

/* An AES key held ready for many operations, as a secure channel uses
   its session keys on every command: the library's handles are made at
   the first operation and kept, so no operation pays for a handle of its
   own. Zero it, set bytes and length, and release it with
   crypto_aes_close (which also wipes the key). One thread at a time. */
struct CryptoAesKey {
    unsigned char bytes[32];
    size_t length; /* 16, 24 or 32 */
    void *cipher;  /* the library's CBC handle, or 0 before the first use */
    void *mac;     /* its CMAC handle, or 0 */
};
/* AES-CBC of whole blocks with iv (0 for zeros) into out; ECB of one
   block is this with a zero IV. */
int crypto_aes_cbc(CryptoAesKey *key, int decrypt, const unsigned char *iv,
                   const unsigned char *data, size_t length, unsigned char *out, size_t capacity,
                   char *message, size_t message_size);
/* CMAC-AES of data into out (16 bytes). */
int crypto_aes_cmac(CryptoAesKey *key, const unsigned char *data, size_t length, unsigned char *out,
                    char *message, size_t message_size);
void crypto_aes_close(CryptoAesKey *key);

/* Exports from crypto/crypto_mac.cpp */
/* The MAC of data into out, its length (the block: 8, or 16 for CMAC-AES
   and CBC-AES) in *out_length. RETAIL and the CBC MACs take whole blocks,
   at least one, and pad nothing (crypto_pad first); the CMACs take any
   length. */
int crypto_mac(int mac, const unsigned char *key, size_t key_length, const unsigned char *iv,
               size_t iv_length, const unsigned char *data, size_t length, unsigned char *out,
               size_t capacity, size_t *out_length, char *message, size_t message_size);

/* Exports from crypto/crypto_pad.cpp */
/* ISO/IEC 9797-1 padding method 2: data, 80, then 00 up to a multiple of
   block (8 or 16) into out; *out_length the padded length (always more
   than length). */
int crypto_pad(size_t block, const unsigned char *data, size_t length, unsigned char *out,
               size_t capacity, size_t *out_length, char *message, size_t message_size);

/* Its removal: *out_length is length without the trailing 00 bytes and the
   80 before them; CRYPTO_BAD_PADDING when data does not end that way. */
int crypto_unpad(const unsigned char *data, size_t length, size_t *out_length, char *message,
                 size_t message_size);

/* a XOR b, both of length bytes, into out. */
int crypto_xor(const unsigned char *a, size_t a_length, const unsigned char *b, size_t b_length,
               unsigned char *out, size_t capacity, char *message, size_t message_size);

#endif
