/*
 * crypto_test.cpp: the crypto vectors of the native test against the
 * static libgcrypt and libgpg-error linked into the Windows programs, and
 * the library's Windows random generator.
 */
#include "tests/crypto_cases.h"

TEST(CryptoWindows, PublishedVectorsAndFailures) {
    crypto_check_cases();
    unsigned char first[32] = {0}, second[32] = {0};
    ASSERT_EQ(crypto_random(first, sizeof first, 0, 0), CRYPTO_OK);
    ASSERT_EQ(crypto_random(second, sizeof second, 0, 0), CRYPTO_OK);
    EXPECT_NE(memcmp(first, second, sizeof first), 0);
}
