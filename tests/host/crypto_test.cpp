/*
 * crypto_test.cpp: the crypto interface natively: the shared vector table,
 * the composed CMAC against the library's, and random bytes (padding's
 * removal and XOR are in the interpreter's table, core_set_test.cpp).
 */
#include "tests/crypto_cases.h"

TEST(Crypto, PublishedVectorsAndFailures) {
    crypto_check_cases();
}

/* A chaining value makes the CMAC the composed one; over a first block
   that is whole it equals the library's CMAC of the data with that block
   XORed with the value. */
static void chained_cmac_agrees(size_t length) {
    std::vector<unsigned char> key = crypto_bytes_of(RFC4493_KEY);
    std::vector<unsigned char> iv = crypto_bytes_of("F0E1D2C3B4A5968778695A4B3C2D1E0F");
    std::vector<unsigned char> data(length), folded;
    for (size_t i = 0; i < length; i++)
        data[i] = (unsigned char)(i * 7 + 1);
    folded = data;
    for (size_t i = 0; i < 16; i++)
        folded[i] ^= iv[i];
    unsigned char chained[16], plain[16];
    size_t made = 0;
    ASSERT_EQ(crypto_mac(CRYPTO_MAC_CMAC_AES, key.data(), 16, iv.data(), 16, data.data(), length,
                         chained, 16, &made, 0, 0),
              CRYPTO_OK);
    ASSERT_EQ(crypto_mac(CRYPTO_MAC_CMAC_AES, key.data(), 16, 0, 0, folded.data(), length, plain,
                         16, &made, 0, 0),
              CRYPTO_OK);
    EXPECT_EQ(crypto_hex(chained, 16), crypto_hex(plain, 16)) << length;
}

/* ... for every length and both block positions. */
TEST(Crypto, ChainedCmacAgreesWithTheLibrarys) {
    for (size_t length = 16; length <= 48; length++)
        chained_cmac_agrees(length);
}

TEST(Crypto, RandomBytesDiffer) {
    unsigned char first[32] = {0}, second[32] = {0}, zeros[32] = {0};
    ASSERT_EQ(crypto_random(first, sizeof first, 0, 0), CRYPTO_OK);
    ASSERT_EQ(crypto_random(second, sizeof second, 0, 0), CRYPTO_OK);
    EXPECT_NE(memcmp(first, second, 32), 0);
    EXPECT_NE(memcmp(first, zeros, 32), 0);
}

/* The composed MACs run the CBC in pieces: over data of many pieces each
   is the last block of one CBC encryption of the whole (algorithm 1), the
   retail MAC that block decrypted and encrypted again (algorithm 3), and a
   chained CMAC-AES the library's over the data with its chaining value
   folded into the first block, at lengths around the pieces' edges. */
TEST(Crypto, MacsOverManyPiecesAgreeWithOneCbc) {
    const struct {
        int mac, cipher;
        const char *key;
    } rows[] = {
        {CRYPTO_MAC_CBC_AES, CRYPTO_AES_CBC, RFC4493_KEY},
        {CRYPTO_MAC_CBC_DES, CRYPTO_DES_CBC, FIPS81_KEY},
        {CRYPTO_MAC_CBC_3DES, CRYPTO_3DES_CBC, SP80067_KEY},
        {CRYPTO_MAC_RETAIL, CRYPTO_DES_CBC, RETAIL_KEY},
    };
    for (size_t length : {1008u, 1024u, 1040u, 4096u, 65536u}) {
        std::vector<unsigned char> data(length), whole(length);
        for (size_t i = 0; i < length; i++)
            data[i] = (unsigned char)(i * 13 + 5);
        for (const auto &row : rows) {
            SCOPED_TRACE(std::to_string(length) + " " + std::to_string(row.mac));
            std::vector<unsigned char> key = crypto_bytes_of(row.key);
            size_t block = row.mac == CRYPTO_MAC_CBC_AES ? 16 : 8, made = 0;
            unsigned char tag[16], last[16];
            ASSERT_EQ(crypto_encrypt(row.cipher, key.data(),
                                     row.mac == CRYPTO_MAC_RETAIL ? 8 : key.size(), 0, 0,
                                     data.data(), length, whole.data(), length, 0, 0),
                      CRYPTO_OK);
            memcpy(last, whole.data() + length - block, block);
            if (row.mac == CRYPTO_MAC_RETAIL) {
                ASSERT_EQ(
                    crypto_decrypt(CRYPTO_DES_ECB, key.data() + 8, 8, 0, 0, last, 8, last, 8, 0, 0),
                    CRYPTO_OK);
                ASSERT_EQ(
                    crypto_encrypt(CRYPTO_DES_ECB, key.data(), 8, 0, 0, last, 8, last, 8, 0, 0),
                    CRYPTO_OK);
            }
            ASSERT_EQ(crypto_mac(row.mac, key.data(), key.size(), 0, 0, data.data(), length, tag,
                                 sizeof tag, &made, 0, 0),
                      CRYPTO_OK);
            EXPECT_EQ(crypto_hex(tag, made), crypto_hex(last, block));
        }
    }
    for (size_t length : {1023u, 1024u, 1025u, 3000u})
        chained_cmac_agrees(length);
}
