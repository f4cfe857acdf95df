/*
 * crypto_test.cpp: the crypto vectors of the native test against the
 * static libgcrypt and libgpg-error linked into the Windows programs, with
 * the library's Windows random generator.
 */
#include "tests/crypto_cases.h"

TEST(CryptoWindows, PublishedVectors) {
    crypto_check_cases();
}

TEST(CryptoWindows, FailuresSayWhatIsWrong) {
    crypto_check_failures();
}

TEST(CryptoWindows, RandomBytesDiffer) {
    unsigned char first[32] = {0}, second[32] = {0};
    char message[CRYPTO_MESSAGE_SIZE] = "";
    ASSERT_EQ(crypto_random(first, sizeof first, message, sizeof message), CRYPTO_OK) << message;
    ASSERT_EQ(crypto_random(second, sizeof second, message, sizeof message), CRYPTO_OK) << message;
    EXPECT_NE(memcmp(first, second, sizeof first), 0);
}
