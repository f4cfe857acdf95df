/*
 * crypto_test.cpp: the crypto interface natively: the shared vector table,
 * the composed CMAC against the library's, the removal of padding, XOR,
 * random bytes and a result that finds no room.
 */
#include "tests/crypto_cases.h"

TEST(Crypto, PublishedVectors) {
    crypto_check_cases();
}

TEST(Crypto, FailuresSayWhatIsWrong) {
    crypto_check_failures();
}

/* A chaining value makes the CMAC the composed one; over a first block
   that is whole it equals the library's CMAC of the data with that block
   XORed with the value, for every length and both block positions. */
TEST(Crypto, ChainedCmacAgreesWithTheLibrarys) {
    std::vector<unsigned char> key = crypto_bytes_of(RFC4493_KEY);
    std::vector<unsigned char> iv = crypto_bytes_of("F0E1D2C3B4A5968778695A4B3C2D1E0F");
    for (size_t length = 16; length <= 48; length++) {
        SCOPED_TRACE(length);
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
        EXPECT_EQ(crypto_hex(chained, 16), crypto_hex(plain, 16));
    }
}

TEST(Crypto, PaddingComesOffOnlyWhereItIs) {
    struct Row {
        const char *data;
        int status;
        const char *left;
    };
    const Row rows[] = {
        {"0102800000", CRYPTO_OK, "0102"},  {"80", CRYPTO_OK, ""},
        {"8080", CRYPTO_OK, "80"},          {"0102", CRYPTO_BAD_PADDING, ""},
        {"000000", CRYPTO_BAD_PADDING, ""}, {"", CRYPTO_BAD_PADDING, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.data);
        std::vector<unsigned char> data = crypto_bytes_of(row.data);
        char message[CRYPTO_MESSAGE_SIZE] = "";
        size_t left = 99;
        EXPECT_EQ(crypto_unpad(data.data(), data.size(), &left, message, sizeof message),
                  row.status);
        if (row.status == CRYPTO_OK)
            EXPECT_EQ(crypto_hex(data.data(), left), row.left);
        else
            EXPECT_STREQ(message, "data does not end in 80 00...");
    }
}

TEST(Crypto, XorRandomAndRoom) {
    unsigned char a[5] = {1, 2, 3, 4, 5}, b[5] = {0xFF, 0x0F, 3, 0, 0x80}, out[8];
    char message[CRYPTO_MESSAGE_SIZE] = "";
    ASSERT_EQ(crypto_xor(a, 5, b, 5, out, sizeof out, message, sizeof message), CRYPTO_OK);
    EXPECT_EQ(crypto_hex(out, 5), "FE0D000485");
    EXPECT_EQ(crypto_xor(a, 4, b, 5, out, sizeof out, message, sizeof message), CRYPTO_BAD_LENGTHS);
    EXPECT_STREQ(message, "XOR of 4 and 5 bytes");

    /* two draws of 32 bytes are never equal, nor all zeros */
    unsigned char first[32] = {0}, second[32] = {0}, zeros[32] = {0};
    ASSERT_EQ(crypto_random(first, sizeof first, message, sizeof message), CRYPTO_OK);
    ASSERT_EQ(crypto_random(second, sizeof second, message, sizeof message), CRYPTO_OK);
    EXPECT_NE(memcmp(first, second, 32), 0);
    EXPECT_NE(memcmp(first, zeros, 32), 0);

    size_t made = 0;
    std::vector<unsigned char> key = crypto_bytes_of(RETAIL_KEY);
    unsigned char block[8] = {0};
    EXPECT_EQ(crypto_mac(CRYPTO_MAC_RETAIL, key.data(), 16, 0, 0, block, 8, out, 7, &made, message,
                         sizeof message),
              CRYPTO_NO_ROOM);
    EXPECT_STREQ(message, "result of 8 bytes does not fit in 7");
    EXPECT_EQ(crypto_pad(16, block, 8, out, 8, &made, message, sizeof message), CRYPTO_NO_ROOM);
}
