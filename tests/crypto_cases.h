/*
 * crypto_cases.h: published vectors at the crypto interface (crypto/crypto.h),
 * one row each, shared by the native test and the Windows test, so that the
 * shared library and the static one under Wine are held to the same bytes.
 *
 * Sources: FIPS-197 appendix C (AES), FIPS 81 appendix B (DES ECB and CBC,
 * "Now is the time for all "), NIST SP 800-67 (3DES, "The qufck brown fox
 * jump"), NIST SP 800-38A F.2.1 (AES-CBC, whose last block is the CBC MAC),
 * RFC 4493 and NIST SP 800-38B appendix D (CMAC over AES and TDEA), FIPS
 * 180 examples ("abc" and the 448-bit message). Rows marked "openssl" hold
 * values that no standard lists (all-zero keys, retail MACs, CBC-3DES) and
 * were computed here with Debian's openssl 3.0 (enc -des-cbc, -des-ede-cbc,
 * -des-ede3-cbc with the legacy provider; mac CMAC): an implementation
 * independent of the library under test.
 */
#ifndef VORLANE_CRYPTO_CASES_H
#define VORLANE_CRYPTO_CASES_H

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "crypto/crypto.h"

enum CryptoCaseKind { CIPHER_ROW, MAC_ROW, HASH_ROW, PAD_ROW };

struct CryptoCase {
    const char *name;
    int kind;                    /* CryptoCaseKind */
    int algorithm;               /* CryptoCipher, CryptoMac or CryptoHash; the block for a pad */
    const char *key, *iv, *data; /* hexadecimal; iv 0 for the default */
    const char *expected;        /* the ciphertext, MAC, digest or padded data; or the reason */
    int status = CRYPTO_OK;      /* what the routine returns */
};

#define FIPS81_TEXT "4E6F77206973207468652074696D6520666F7220616C6C20"
#define FIPS81_KEY "0123456789ABCDEF"
#define SP80067_TEXT "54686520717566636B2062726F776E20666F78206A756D70"
#define SP80067_KEY "0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123"
#define RFC4493_KEY "2B7E151628AED2A6ABF7158809CF4F3C"
#define SP80038_TEXT                                                                               \
    "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E51"                             \
    "30C81C46A35CE411E5FBC1191A0A52EFF69F2445DF4F9B17AD2B417BE66C3710"
#define ZERO8 "0000000000000000"
#define ZERO16 ZERO8 ZERO8
#define ZERO24 ZERO16 ZERO8
#define RETAIL_KEY "0123456789ABCDEFFEDCBA9876543210"
#define TDEA3_KEY "8AA83BF8CBDA10620BC1BF19FBB6CD58BC313D4A371CA8B5"
#define TDEA2_KEY "4CF15134A2850DD58A3D10BA80570D38"
#define SHA_TWO_BLOCKS                                                                             \
    "6162636462636465636465666465666765666768666768696768696A68696A6B"                             \
    "696A6B6C6A6B6C6D6B6C6D6E6C6D6E6F6D6E6F706E6F7071"

inline const std::vector<CryptoCase> crypto_cases = {
    {"FIPS-197 C.1 AES-128", CIPHER_ROW, CRYPTO_AES_ECB, "000102030405060708090A0B0C0D0E0F", 0,
     "00112233445566778899AABBCCDDEEFF", "69C4E0D86A7B0430D8CDB78070B4C55A"},
    {"FIPS-197 C.2 AES-192", CIPHER_ROW, CRYPTO_AES_ECB,
     "000102030405060708090A0B0C0D0E0F1011121314151617", 0, "00112233445566778899AABBCCDDEEFF",
     "DDA97CA4864CDFE06EAF70A0EC0D7191"},
    {"FIPS-197 C.3 AES-256", CIPHER_ROW, CRYPTO_AES_ECB,
     "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", 0,
     "00112233445566778899AABBCCDDEEFF", "8EA2B7CA516745BFEAFC49904B496089"},
    {"SP 800-38A F.2.1 AES-CBC", CIPHER_ROW, CRYPTO_AES_CBC, RFC4493_KEY,
     "000102030405060708090A0B0C0D0E0F", SP80038_TEXT,
     "7649ABAC8119B246CEE98E9B12E9197D5086CB9B507219EE95DB113A917678B2"
     "73BED6B8E3C1743B7116E69E222295163FF1CAA1681FAC09120ECA307586E1A7"},
    {"FIPS 81 DES-ECB", CIPHER_ROW, CRYPTO_DES_ECB, FIPS81_KEY, 0, FIPS81_TEXT,
     "3FA40E8A984D48156A271787AB8883F9893D51EC4B563B53"},
    {"FIPS 81 DES-CBC", CIPHER_ROW, CRYPTO_DES_CBC, FIPS81_KEY, "1234567890ABCDEF", FIPS81_TEXT,
     "E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6"},
    {"SP 800-67 3DES-ECB", CIPHER_ROW, CRYPTO_3DES_ECB, SP80067_KEY, 0, SP80067_TEXT,
     "A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900"},
    {"openssl 3DES-CBC", CIPHER_ROW, CRYPTO_3DES_CBC, SP80067_KEY, 0, SP80067_TEXT,
     "A826FD8CE53B855F854B649A0A3903C970D563820AFE8B35"},
    {"openssl 3DES, two keys", CIPHER_ROW, CRYPTO_3DES_ECB, RETAIL_KEY, 0, FIPS81_TEXT,
     "D80A0D8B2BAE5E4E6A0094171ABCFC2775D2235A706E232C"},
    {"no data", CIPHER_ROW, CRYPTO_AES_CBC, RFC4493_KEY, 0, "", ""},
    // All-zero (weak) keys: the factory key of many cards.
    {"openssl zero DES-ECB", CIPHER_ROW, CRYPTO_DES_ECB, ZERO8, 0, ZERO8, "8CA64DE9C1B123A7"},
    {"openssl zero DES-CBC", CIPHER_ROW, CRYPTO_DES_CBC, ZERO8, 0, FIPS81_TEXT,
     "7D65484BE578DD0DD855560608EE008890E511766E4A6265"},
    {"openssl zero 3DES-ECB 16", CIPHER_ROW, CRYPTO_3DES_ECB, ZERO16, 0, ZERO8, "8CA64DE9C1B123A7"},
    {"openssl zero 3DES-CBC", CIPHER_ROW, CRYPTO_3DES_CBC, ZERO16, ZERO8, FIPS81_TEXT,
     "7D65484BE578DD0DD855560608EE008890E511766E4A6265"},
    // CMAC over AES: RFC 4493 examples 1 to 4, SP 800-38B for 256 bits
    {"RFC 4493 example 1", MAC_ROW, CRYPTO_MAC_CMAC_AES, RFC4493_KEY, 0, "",
     "BB1D6929E95937287FA37D129B756746"},
    {"RFC 4493 example 2", MAC_ROW, CRYPTO_MAC_CMAC_AES, RFC4493_KEY, 0,
     "6BC1BEE22E409F96E93D7E117393172A", "070A16B46B4D4144F79BDD9DD04A287C"},
    {"RFC 4493 example 3", MAC_ROW, CRYPTO_MAC_CMAC_AES, RFC4493_KEY, 0,
     "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E5130C81C46A35CE411",
     "DFA66747DE9AE63030CA32611497C827"},
    {"RFC 4493 example 4", MAC_ROW, CRYPTO_MAC_CMAC_AES, RFC4493_KEY, 0, SP80038_TEXT,
     "51F0BEBF7E3B9D92FC49741779363CFE"},
    {"SP 800-38B AES-256 one block", MAC_ROW, CRYPTO_MAC_CMAC_AES,
     "603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4", 0,
     "6BC1BEE22E409F96E93D7E117393172A", "28A7023F452E8F82BD4BF28D8C37C35C"},
    {"zeros given as the IV", MAC_ROW, CRYPTO_MAC_CMAC_AES, RFC4493_KEY, ZERO16, "",
     "BB1D6929E95937287FA37D129B756746"},
    // CMAC over TDEA, SP 800-38B examples: three keys, then two (16 bytes, and 24 as K1 K2 K1)
    {"SP 800-38B TDEA3 empty", MAC_ROW, CRYPTO_MAC_CMAC_3DES, TDEA3_KEY, 0, "", "B7A688E122FFAF95"},
    {"SP 800-38B TDEA3 160 bits", MAC_ROW, CRYPTO_MAC_CMAC_3DES, TDEA3_KEY, 0,
     "6BC1BEE22E409F96E93D7E117393172AAE2D8A57", "743DDBE0CE2DC2ED"},
    {"SP 800-38B TDEA3 256 bits", MAC_ROW, CRYPTO_MAC_CMAC_3DES, TDEA3_KEY, 0,
     "6BC1BEE22E409F96E93D7E117393172AAE2D8A571E03AC9C9EB76FAC45AF8E51", "33E6B1092400EAE5"},
    {"SP 800-38B TDEA2 64 bits", MAC_ROW, CRYPTO_MAC_CMAC_3DES, TDEA2_KEY, 0, "6BC1BEE22E409F96",
     "4FF2AB813C53CE83"},
    {"SP 800-38B TDEA2 160 bits", MAC_ROW, CRYPTO_MAC_CMAC_3DES, TDEA2_KEY "4CF15134A2850DD5", 0,
     "6BC1BEE22E409F96E93D7E117393172AAE2D8A57", "62DD1B471902BD4E"},
    {"openssl zero CMAC-3DES empty", MAC_ROW, CRYPTO_MAC_CMAC_3DES, ZERO24, 0, "",
     "2B7D4F6014B48B15"},
    {"openssl zero CMAC-3DES 4 bytes", MAC_ROW, CRYPTO_MAC_CMAC_3DES, ZERO16, 0, "4E6F7720",
     "E90FAFDFC6CF9A13"},
    {"openssl zero CMAC-3DES 24 bytes", MAC_ROW, CRYPTO_MAC_CMAC_3DES, ZERO16, 0, FIPS81_TEXT,
     "B3E38C313DB043F9"},
    // ISO/IEC 9797-1 algorithm 3 (retail) and algorithm 1 (CBC MAC)
    {"openssl retail", MAC_ROW, CRYPTO_MAC_RETAIL, RETAIL_KEY, 0, FIPS81_TEXT, "A1C72E74EA3FA9B6"},
    {"openssl retail with an ICV", MAC_ROW, CRYPTO_MAC_RETAIL, RETAIL_KEY, "1234567890ABCDEF",
     FIPS81_TEXT, "1FD08E499607B662"},
    {"openssl retail padded", MAC_ROW, CRYPTO_MAC_RETAIL, RETAIL_KEY, 0,
     "4E6F77206973207468652074696D6520666F722069748000", "5A692CE64F404145"},
    {"openssl zero retail", MAC_ROW, CRYPTO_MAC_RETAIL, ZERO16, 0, FIPS81_TEXT, "90E511766E4A6265"},
    {"FIPS 81 CBC-DES", MAC_ROW, CRYPTO_MAC_CBC_DES, FIPS81_KEY, "1234567890ABCDEF", FIPS81_TEXT,
     "683788499A7C05F6"},
    {"openssl zero CBC-DES", MAC_ROW, CRYPTO_MAC_CBC_DES, ZERO8, 0, FIPS81_TEXT,
     "90E511766E4A6265"},
    {"openssl CBC-3DES", MAC_ROW, CRYPTO_MAC_CBC_3DES, SP80067_KEY, 0, SP80067_TEXT,
     "70D563820AFE8B35"},
    {"openssl zero CBC-3DES", MAC_ROW, CRYPTO_MAC_CBC_3DES, ZERO24, 0, FIPS81_TEXT,
     "90E511766E4A6265"},
    {"SP 800-38A CBC-AES", MAC_ROW, CRYPTO_MAC_CBC_AES, RFC4493_KEY,
     "000102030405060708090A0B0C0D0E0F", SP80038_TEXT, "3FF1CAA1681FAC09120ECA307586E1A7"},
    // FIPS 180 examples
    {"FIPS 180 SHA-1 abc", HASH_ROW, CRYPTO_SHA1, 0, 0, "616263",
     "A9993E364706816ABA3E25717850C26C9CD0D89D"},
    {"FIPS 180 SHA-1 two blocks", HASH_ROW, CRYPTO_SHA1, 0, 0, SHA_TWO_BLOCKS,
     "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
    {"FIPS 180 SHA-224 abc", HASH_ROW, CRYPTO_SHA224, 0, 0, "616263",
     "23097D223405D8228642A477BDA255B32AADBCE4BDA0B3F7E36C9DA7"},
    {"FIPS 180 SHA-256 abc", HASH_ROW, CRYPTO_SHA256, 0, 0, "616263",
     "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
    {"FIPS 180 SHA-384 abc", HASH_ROW, CRYPTO_SHA384, 0, 0, "616263",
     "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C82"
     "5A7"},
    {"FIPS 180 SHA-512 abc", HASH_ROW, CRYPTO_SHA512, 0, 0, "616263",
     "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
     "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
    // ISO/IEC 9797-1 padding method 2: always at least the 80
    {"pad 8 of 2", PAD_ROW, 8, 0, 0, "0102", "0102800000000000"},
    {"pad 8 of 8", PAD_ROW, 8, 0, 0, "0102030405060708", "01020304050607088000000000000000"},
    {"pad 16 of 0", PAD_ROW, 16, 0, 0, "", "80000000000000000000000000000000"},
    {"pad 16 of 15", PAD_ROW, 16, 0, 0, "000102030405060708090A0B0C0D0E",
     "000102030405060708090A0B0C0D0E80"},
    // Failures: the status and the reason, which never shows the key
    {"AES key of 15", CIPHER_ROW, CRYPTO_AES_ECB, "000102030405060708090A0B0C0D0E", 0, ZERO16,
     "key of 15 bytes for AES-ECB", CRYPTO_BAD_KEY},
    {"3DES key of 8", CIPHER_ROW, CRYPTO_3DES_CBC, FIPS81_KEY, 0, ZERO8,
     "key of 8 bytes for 3DES-CBC", CRYPTO_BAD_KEY},
    {"DES key of 16", CIPHER_ROW, CRYPTO_DES_ECB, ZERO16, 0, ZERO8, "key of 16 bytes for DES-ECB",
     CRYPTO_BAD_KEY},
    {"data not whole blocks", CIPHER_ROW, CRYPTO_AES_CBC, RFC4493_KEY, 0, "0102",
     "data of 2 bytes is not a multiple of 16", CRYPTO_BAD_DATA},
    {"IV for ECB", CIPHER_ROW, CRYPTO_DES_ECB, FIPS81_KEY, ZERO8, ZERO8, "DES-ECB takes no IV",
     CRYPTO_BAD_IV},
    {"IV of 4", CIPHER_ROW, CRYPTO_AES_CBC, RFC4493_KEY, "00000000", ZERO16,
     "IV of 4 bytes for AES-CBC", CRYPTO_BAD_IV},
    {"IV of 0", CIPHER_ROW, CRYPTO_3DES_CBC, ZERO16, "", ZERO8, "IV of 0 bytes for 3DES-CBC",
     CRYPTO_BAD_IV},
    {"no cipher", CIPHER_ROW, CRYPTO_CIPHER_COUNT, ZERO16, 0, ZERO16, "no cipher 6",
     CRYPTO_BAD_ALGORITHM},
    {"retail key of 24", MAC_ROW, CRYPTO_MAC_RETAIL, ZERO24, 0, ZERO8, "key of 24 bytes for RETAIL",
     CRYPTO_BAD_KEY},
    {"retail without data", MAC_ROW, CRYPTO_MAC_RETAIL, RETAIL_KEY, 0, "",
     "data of 0 bytes for RETAIL", CRYPTO_BAD_DATA},
    {"CBC MAC of part of a block", MAC_ROW, CRYPTO_MAC_CBC_3DES, ZERO16, 0, "0102030405",
     "data of 5 bytes is not a multiple of 8", CRYPTO_BAD_DATA},
    {"CMAC IV of 8 for AES", MAC_ROW, CRYPTO_MAC_CMAC_AES, RFC4493_KEY, ZERO8, "",
     "IV of 8 bytes for CMAC-AES", CRYPTO_BAD_IV},
    {"CMAC-3DES key of 32", MAC_ROW, CRYPTO_MAC_CMAC_3DES, ZERO16 ZERO16, 0, "",
     "key of 32 bytes for CMAC-3DES", CRYPTO_BAD_KEY},
    {"pad block of 7", PAD_ROW, 7, 0, 0, "01", "pad block not 8 or 16", CRYPTO_BAD_PADDING},
};

inline std::vector<unsigned char> crypto_bytes_of(const char *hex) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; hex && hex[i] && hex[i + 1]; i += 2)
        bytes.push_back((unsigned char)std::stoul(std::string(hex + i, 2), nullptr, 16));
    return bytes;
}

inline std::string crypto_hex(const unsigned char *bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; i++)
        text +=
            std::string(1, "0123456789ABCDEF"[bytes[i] >> 4]) + "0123456789ABCDEF"[bytes[i] & 15];
    return text;
}

/* A row's routine from data into out (capacity bytes; out may be data);
   the status, the result's length in *made. */
inline int crypto_case_run(const CryptoCase &c, const unsigned char *data, size_t length,
                           unsigned char *out, size_t capacity, size_t *made, char *message,
                           int decrypt = 0) {
    std::vector<unsigned char> key = crypto_bytes_of(c.key), iv = crypto_bytes_of(c.iv);
    unsigned char none = 0;
    const unsigned char *ivp = !c.iv ? 0 : iv.empty() ? &none : iv.data(); /* given empty */
    *made = length;
    if (c.kind == CIPHER_ROW)
        return (decrypt ? crypto_decrypt : crypto_encrypt)(c.algorithm, key.data(), key.size(), ivp,
                                                           iv.size(), data, length, out, capacity,
                                                           message, CRYPTO_MESSAGE_SIZE);
    if (c.kind == MAC_ROW)
        return crypto_mac(c.algorithm, key.data(), key.size(), ivp, iv.size(), data, length, out,
                          capacity, made, message, CRYPTO_MESSAGE_SIZE);
    if (c.kind == HASH_ROW)
        return crypto_hash(c.algorithm, data, length, out, capacity, made, message,
                           CRYPTO_MESSAGE_SIZE);
    return crypto_pad((size_t)c.algorithm, data, length, out, capacity, made, message,
                      CRYPTO_MESSAGE_SIZE);
}

/* Every row: the expected bytes and not one byte more (a canary after
   them), or the expected failure and its reason; a ciphertext also
   decrypts back in place. */
inline void crypto_check_cases(void) {
    for (const CryptoCase &c : crypto_cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> data = crypto_bytes_of(c.data);
        std::vector<unsigned char> expected = crypto_bytes_of(c.status ? "" : c.expected);
        std::vector<unsigned char> out(expected.size() + 64, 0xA5);
        char message[CRYPTO_MESSAGE_SIZE] = "";
        size_t made = 0;
        int status = crypto_case_run(c, data.data(), data.size(), out.data(),
                                     c.status ? out.size() : expected.size(), &made, message);
        EXPECT_EQ(status, c.status) << message;
        if (c.status != CRYPTO_OK || status != CRYPTO_OK) {
            EXPECT_STREQ(message, c.status ? c.expected : "");
            continue;
        }
        EXPECT_EQ(crypto_hex(out.data(), made), c.expected);
        EXPECT_EQ(out[expected.size()], 0xA5) << "written past the result";
        if (c.kind == CIPHER_ROW) {
            EXPECT_EQ(crypto_case_run(c, out.data(), made, out.data(), made, &made, message, 1),
                      CRYPTO_OK);
            EXPECT_EQ(crypto_hex(out.data(), made), crypto_hex(data.data(), data.size()));
        }
    }
}

#endif
