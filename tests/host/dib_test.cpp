/*
 * dib_test.cpp: which logo files are usable, and where their colour table
 * and pixels are found. Every buffer is exactly as long as the bytes a file
 * would deliver, so a read past them shows under the sanitizers.
 */
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "app/dib.h"
#include "tests/bytes_le.h"

/* An info header of size bytes (12: the core layout) followed by extra
   zero bytes for the colour table, masks and pixels. */
static Bytes image(unsigned size, int32_t width, int32_t height, unsigned bits, size_t extra,
                   uint32_t compression = 0, uint32_t used = 0) {
    Bytes b(size + extra, 0);
    put32(b, 0, size);
    if (size == 12) {
        put16(b, 4, (uint32_t)width);
        put16(b, 6, (uint32_t)height);
        put16(b, 8, 1);
        put16(b, 10, bits);
        return b;
    }
    put32(b, 4, (uint32_t)width);
    put32(b, 8, (uint32_t)height);
    if (size >= 16) {
        put16(b, 12, 1);
        put16(b, 14, bits);
    }
    if (size >= 20)
        put32(b, 16, compression);
    if (size >= 36)
        put32(b, 32, used);
    return b;
}

static bool usable(const Bytes &b, DibInfo *out = nullptr) {
    /* A vector may hold spare capacity; a copy of exact size may not. */
    std::unique_ptr<unsigned char[]> exact(new unsigned char[b.size() ? b.size() : 1]);
    memcpy(exact.get(), b.data(), b.size());
    DibInfo info;
    int ok = dib_parse(exact.get(), b.size(), &info);
    if (out)
        *out = info;
    return ok == 1;
}

/* A file header: "BM" and the file-size field. */
static Bytes file_header(const char *type, uint32_t declared) {
    Bytes b(14, 0);
    b[0] = (unsigned char)type[0];
    b[1] = (unsigned char)type[1];
    put32(b, 2, declared);
    return b;
}

TEST(DibFile, FileSizeFieldAgainstTheRealLength) {
    EXPECT_EQ(dib_file_image_size(file_header("BM", 1000).data(), 1000), 986u);
    /* Bytes after the declared size are ignored. */
    EXPECT_EQ(dib_file_image_size(file_header("BM", 1000).data(), 1200), 986u);
    /* A truncated file: the field promises more than is there. */
    EXPECT_EQ(dib_file_image_size(file_header("BM", 1000).data(), 999), 0u);
    /* Fields that leave no room for an info header, 0 and below 14 included. */
    for (uint32_t declared : {0u, 1u, 13u, 14u, 15u, 17u, 25u})
        EXPECT_EQ(dib_file_image_size(file_header("BM", declared).data(), 1000), 0u) << declared;
    EXPECT_EQ(dib_file_image_size(file_header("BM", 26).data(), 1000), 12u);
    EXPECT_EQ(dib_file_image_size(file_header("BM", 0xFFFFFFFF).data(), 1000), 0u);
}

TEST(DibFile, NotABitmapOrOutOfBounds) {
    EXPECT_EQ(dib_file_image_size(file_header("MB", 1000).data(), 1000), 0u);
    EXPECT_EQ(dib_file_image_size(file_header("bm", 1000).data(), 1000), 0u);
    EXPECT_EQ(dib_file_image_size(file_header("\0\0", 1000).data(), 1000), 0u);
    EXPECT_EQ(dib_file_image_size(file_header("BM", 1000).data(), 13), 0u);
    EXPECT_EQ(dib_file_image_size(file_header("BM", DIB_FILE_MAX).data(), DIB_FILE_MAX),
              (size_t)DIB_FILE_MAX - 14);
    EXPECT_EQ(dib_file_image_size(file_header("BM", 1000).data(), (uint64_t)DIB_FILE_MAX + 1), 0u);
    EXPECT_EQ(dib_file_image_size(file_header("BM", 1000).data(), (uint64_t)1 << 40), 0u);
}

TEST(DibHeader, SizesTwelveSixteenFortyAndLargerAccepted) {
    /* 2 x 2 at 24 bits: rows of 6 bytes padded to 8. */
    EXPECT_TRUE(usable(image(12, 2, 2, 24, 16)));
    EXPECT_TRUE(usable(image(16, 2, 2, 24, 16)));
    EXPECT_TRUE(usable(image(40, 2, 2, 24, 16)));
    EXPECT_TRUE(usable(image(108, 2, 2, 24, 16)));
    EXPECT_TRUE(usable(image(124, 2, 2, 24, 16)));
}

TEST(DibHeader, SizesBelowTwelveAndThirteenToFifteenRefused) {
    for (unsigned size = 0; size < 16; size++) {
        if (size == 12)
            continue;
        Bytes b(64, 0);
        put32(b, 0, size);
        put32(b, 4, 1);
        put32(b, 8, 1);
        put16(b, 14, 24);
        EXPECT_FALSE(usable(b)) << size;
    }
    /* Too short to hold the header size itself. */
    Bytes tiny = {12, 0, 0};
    EXPECT_FALSE(usable(tiny));
    DibInfo info;
    EXPECT_EQ(dib_parse(nullptr, 100, &info), 0);
}

TEST(DibTable, EightBitsWithoutColoursUsedTakeAFullTable) {
    /* 3 x 2 at 8 bits: rows of 3 bytes padded to 4. */
    Bytes b = image(40, 3, 2, 8, 1024 + 8);
    DibInfo info;
    ASSERT_TRUE(usable(b, &info));
    EXPECT_EQ(info.bits_offset, 40u + 1024u);
    EXPECT_EQ(dib_bits(b.data()), b.data() + 1064);
    EXPECT_EQ(info.palette_entries, 256u);
    b.pop_back();
    EXPECT_FALSE(usable(b));
}

TEST(DibTable, ColoursUsedSetsTheTable) {
    Bytes b = image(40, 3, 2, 8, 16 * 4 + 8, 0, 16);
    DibInfo info;
    ASSERT_TRUE(usable(b, &info));
    EXPECT_EQ(info.bits_offset, 40u + 64u);
    EXPECT_EQ(info.palette_entries, 16u);
    /* A 4-bit file: 16 entries; a 1-bit file: 2. */
    Bytes four = image(40, 8, 1, 4, 64 + 4);
    EXPECT_EQ(dib_bits(four.data()), four.data() + 40 + 64);
    EXPECT_TRUE(usable(image(40, 8, 1, 1, 8 + 4), &info));
    EXPECT_EQ(info.bits_offset, 48u);
    /* More entries than the depth can index: all are skipped, the pixels
       see only the first 2^bits. */
    ASSERT_TRUE(usable(image(40, 4, 1, 8, 300 * 4 + 4, 0, 300), &info));
    EXPECT_EQ(info.bits_offset, 40u + 1200u);
    EXPECT_EQ(info.palette_entries, 256u);
}

TEST(DibTable, TrueColourTakesNoTable) {
    DibInfo info;
    ASSERT_TRUE(usable(image(40, 3, 2, 24, 24), &info));
    EXPECT_EQ(info.bits_offset, 40u);
    ASSERT_TRUE(usable(image(40, 3, 2, 32, 24), &info));
    EXPECT_EQ(info.bits_offset, 40u);
    ASSERT_TRUE(usable(image(40, 3, 2, 16, 16), &info));
    EXPECT_EQ(info.bits_offset, 40u);
    /* Colours used on a true-colour file: a table of that many to skip. */
    ASSERT_TRUE(usable(image(40, 3, 2, 24, 5 * 4 + 24, 0, 5), &info));
    EXPECT_EQ(info.bits_offset, 60u);
    EXPECT_EQ(info.palette_entries, 0u);
}

TEST(DibTable, CoreHeaderEntriesAreThreeBytes) {
    DibInfo info;
    ASSERT_TRUE(usable(image(12, 3, 2, 8, 256 * 3 + 8), &info));
    EXPECT_EQ(info.bits_offset, 12u + 768u);
    ASSERT_TRUE(usable(image(12, 3, 2, 24, 24), &info));
    EXPECT_EQ(info.bits_offset, 12u);
    /* Core headers carry 16-bit sizes: 65535 is a width, not -1. */
    Bytes wide = image(12, 65535, 1, 1, 2 * 3 + 8192);
    ASSERT_TRUE(usable(wide, &info));
    EXPECT_EQ(dib_width(wide.data()), 65535u);
    /* Depths the core header cannot have. */
    EXPECT_FALSE(usable(image(12, 3, 2, 16, 64)));
    EXPECT_FALSE(usable(image(12, 3, 2, 32, 64)));
}

TEST(DibRefused, TableOrPixelsPastTheEnd) {
    /* Colours used so large that the table alone passes the end, up to a
       count whose byte size does not fit in 32 bits. */
    for (uint32_t used : {257u, 100000u, 0x40000000u, 0xFFFFFFFFu})
        EXPECT_FALSE(usable(image(40, 3, 2, 8, 1024 + 8, 0, used))) << used;
    EXPECT_FALSE(usable(image(40, 3, 2, 24, 24, 0, 0xFFFFFFFFu)));
    /* 3 x 2 at 24 bits needs rows of 12 bytes (9 padded), 24 in all. */
    EXPECT_TRUE(usable(image(40, 3, 2, 24, 24)));
    EXPECT_FALSE(usable(image(40, 3, 2, 24, 23)));
    EXPECT_FALSE(usable(image(40, 3, 2, 24, 18))); /* unpadded rows */
    /* 17 x 1 at 1 bit: 3 bytes padded to 4. */
    EXPECT_TRUE(usable(image(40, 17, 1, 1, 8 + 4)));
    EXPECT_FALSE(usable(image(40, 17, 1, 1, 8 + 3)));
    /* A header larger than the image: its later fields must not be read. */
    Bytes b = image(124, 1, 1, 24, 4);
    b.resize(100);
    EXPECT_FALSE(usable(b));
    Bytes short_header = image(40, 1, 1, 24, 0);
    short_header.resize(20);
    EXPECT_FALSE(usable(short_header));
    Bytes huge = image(40, 1, 1, 24, 4);
    put32(huge, 0, 0xFFFFFFF0u);
    EXPECT_FALSE(usable(huge));
}

TEST(DibRefused, SizesAndDepths) {
    EXPECT_FALSE(usable(image(40, 0, 2, 24, 64)));
    EXPECT_FALSE(usable(image(40, 2, 0, 24, 64)));
    EXPECT_FALSE(usable(image(12, 0, 2, 24, 64)));
    EXPECT_FALSE(usable(image(12, 2, 0, 24, 64)));
    EXPECT_FALSE(usable(image(40, -2, 2, 24, 64)));
    /* Widths and heights beyond 16 bits are not cut to their low bits. */
    EXPECT_FALSE(usable(image(40, 65536 + 2, 2, 24, 64)));
    EXPECT_FALSE(usable(image(40, 2, 65536 + 2, 24, 64)));
    EXPECT_FALSE(usable(image(40, 2, -65536, 24, 64)));
    EXPECT_FALSE(usable(image(40, 2, INT32_MIN, 24, 64)));
    for (unsigned bits : {0u, 2u, 7u, 12u, 48u, 64u, 65535u})
        EXPECT_FALSE(usable(image(40, 2, 2, bits, 4096))) << bits;
    for (unsigned bits : {1u, 4u, 8u, 16u, 24u, 32u})
        EXPECT_TRUE(usable(image(40, 2, 2, bits, 4096))) << bits;
}

TEST(DibRefused, PixelCountCap) {
    /* 65535 x 512 at 1 bit is just under DIB_PIXELS_MAX; one row more is over. */
    DibInfo info;
    EXPECT_TRUE(usable(image(40, 65535, 512, 1, 8 + 8192u * 512), &info));
    EXPECT_FALSE(usable(image(40, 65535, 513, 1, 8 + 8192u * 513)));
}

TEST(DibCompression, OnlyUncompressedOrCheckedMasks) {
    for (uint32_t compression : {1u, 2u, 4u, 5u, 6u, 11u, 0xFFFFFFFFu})
        EXPECT_FALSE(usable(image(40, 2, 2, 8, 1024 + 8, compression))) << compression;
    /* Masks for 5-6-5 pixels after a 40-byte header. */
    Bytes b = image(40, 2, 2, 16, 12 + 8, 3);
    put32(b, 40, 0xF800);
    put32(b, 44, 0x07E0);
    put32(b, 48, 0x001F);
    DibInfo info;
    ASSERT_TRUE(usable(b, &info));
    EXPECT_EQ(info.compression, (unsigned)DIB_BITFIELDS);
    EXPECT_EQ(info.bits_offset, 52u);
    EXPECT_EQ(dib_bits(b.data()), b.data() + 52);
    Bytes bad = b;
    put32(bad, 44, 0x0FE0); /* overlaps red */
    EXPECT_FALSE(usable(bad));
    bad = b;
    put32(bad, 48, 0x0015); /* not one run of bits */
    EXPECT_FALSE(usable(bad));
    bad = b;
    put32(bad, 48, 0);
    EXPECT_FALSE(usable(bad));
    bad = b;
    put32(bad, 40, 0x1F800); /* outside a 16-bit pixel */
    EXPECT_FALSE(usable(bad));
    /* The masks themselves missing. */
    Bytes cut = image(40, 1, 1, 16, 8, 3);
    EXPECT_FALSE(usable(cut));
    /* Masks only make sense for 16 and 32 bits. */
    Bytes deep = image(40, 1, 1, 24, 12 + 4, 3);
    put32(deep, 40, 0xFF0000);
    put32(deep, 44, 0x00FF00);
    put32(deep, 48, 0x0000FF);
    EXPECT_FALSE(usable(deep));
}

TEST(DibCompression, MasksInsideLargeHeaders) {
    Bytes b = image(108, 2, 1, 32, 8, 3);
    put32(b, 40, 0x00FF0000);
    put32(b, 44, 0x0000FF00);
    put32(b, 48, 0x000000FF);
    DibInfo info;
    ASSERT_TRUE(usable(b, &info));
    EXPECT_EQ(info.bits_offset, 108u);
    unsigned char format[DIB_FORMAT_SIZE];
    ASSERT_EQ(dib_format(b.data(), format), 52u);
    EXPECT_EQ(memcmp(format + 40, b.data() + 40, 12), 0);
    EXPECT_EQ(format[16], 3);
}

TEST(DibTopDown, ShownTheRightWayUp) {
    DibInfo info;
    Bytes b = image(40, 3, -2, 24, 24);
    ASSERT_TRUE(usable(b, &info));
    EXPECT_EQ(info.top_down, 1);
    EXPECT_EQ(info.height, 2u);
    EXPECT_EQ(dib_height(b.data()), 2u);
    EXPECT_FALSE(usable(image(40, 3, -2, 24, 23)));
    unsigned char format[DIB_FORMAT_SIZE];
    ASSERT_EQ(dib_format(b.data(), format), 40u);
    int32_t height;
    memcpy(&height, format + 8, 4);
    EXPECT_EQ(height, -2);
    ASSERT_TRUE(usable(image(40, 3, 2, 24, 24), &info));
    EXPECT_EQ(info.top_down, 0);
}

TEST(DibFormat, CoreTableWidensToFourByteEntries) {
    Bytes b = image(12, 2, 1, 1, 2 * 3 + 4);
    const unsigned char table[6] = {1, 2, 3, 4, 5, 6};
    memcpy(&b[12], table, 6);
    unsigned char format[DIB_FORMAT_SIZE];
    ASSERT_EQ(dib_format(b.data(), format), 40u + 8u);
    const unsigned char expected[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    EXPECT_EQ(memcmp(format + 40, expected, 8), 0);
    uint32_t size, width, used;
    memcpy(&size, format, 4);
    memcpy(&width, format + 4, 4);
    memcpy(&used, format + 32, 4);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(width, 2u);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(format[14], 1); /* bits */
}

TEST(DibFormat, FieldsTheChecksSkipAreNotPassedOn) {
    /* A 40-byte header whose image-size and resolution fields are garbage. */
    Bytes b = image(40, 1, 1, 24, 4);
    for (size_t at = 20; at < 32; at++)
        b[at] = 0xEE;
    put32(b, 36, 0xEEEEEEEE);
    unsigned char format[DIB_FORMAT_SIZE];
    ASSERT_EQ(dib_format(b.data(), format), 40u);
    for (size_t at = 20; at < 40; at++)
        EXPECT_EQ(format[at], 0) << at;
}
