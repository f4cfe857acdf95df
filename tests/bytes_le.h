/*
 * bytes_le.h: little-endian fields written into a byte buffer, for the
 * tests that build bitmap files (the native BMP checks and the logo test).
 */
#ifndef VORLANE_TESTS_BYTES_LE_H
#define VORLANE_TESTS_BYTES_LE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

typedef std::vector<unsigned char> Bytes;

inline void put16(Bytes &b, size_t at, uint32_t v) {
    b[at] = (unsigned char)v;
    b[at + 1] = (unsigned char)(v >> 8);
}

inline void put32(Bytes &b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

#endif
