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
   XORed with the value, for every length and both block positions. */
TEST(Crypto, ChainedCmacAgreesWithTheLibrarys) {
    std::vector<unsigned char> key = crypto_bytes_of(RFC4493_KEY);
    std::vector<unsigned char> iv = crypto_bytes_of("F0E1D2C3B4A5968778695A4B3C2D1E0F");
    for (size_t length = 16; length <= 48; length++) {
        std::vector<unsigned char> data(length), folded;
        for (size_t i = 0; i < length; i++)
            data[i] = (unsigned char)(i * 7 + 1);
        folded = data;
        for (size_t i = 0; i < 16; i++)
            folded[i] ^= iv[i];
        unsigned char chained[16], plain[16];
        size_t made = 0;
        ASSERT_EQ(crypto_mac(CRYPTO_MAC_CMAC_AES, key.data(), 16, iv.data(), 16, data.data(),
                             length, chained, 16, &made, 0, 0),
                  CRYPTO_OK);
        ASSERT_EQ(crypto_mac(CRYPTO_MAC_CMAC_AES, key.data(), 16, 0, 0, folded.data(), length,
                             plain, 16, &made, 0, 0),
                  CRYPTO_OK);
        EXPECT_EQ(crypto_hex(chained, 16), crypto_hex(plain, 16)) << length;
    }
}

TEST(Crypto, RandomBytesDiffer) {
    unsigned char first[32] = {0}, second[32] = {0}, zeros[32] = {0};
    ASSERT_EQ(crypto_random(first, sizeof first, 0, 0), CRYPTO_OK);
    ASSERT_EQ(crypto_random(second, sizeof second, 0, 0), CRYPTO_OK);
    EXPECT_NE(memcmp(first, second, 32), 0);
    EXPECT_NE(memcmp(first, zeros, 32), 0);
}
