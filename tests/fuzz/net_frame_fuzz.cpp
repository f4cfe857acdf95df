/*
 * net_frame_fuzz.cpp: the frame decoder against a plain reference on any
 * received text, and the encoder on any status and data. Both work on
 * exact-size heap buffers so that ASan sees a read or write past them.
 *
 * Reference of a request: the length pair must be two hexadecimal digits
 * (strtoul on exactly those two characters, nothing left over); 00 means
 * 256 + the low nibble of the command pair; the text must hold 2L + 7
 * characters; every data pair must be hexadecimal; the check pair is any
 * two characters.
 */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "net/net_frame.h"

static int reference_pair(const char *text) {
    if (!isxdigit((unsigned char)text[0]) || !isxdigit((unsigned char)text[1]))
        return -1;
    char two[3] = {text[0], text[1], 0};
    return (int)strtoul(two, 0, 16);
}

/* Returns the reference result; expected receives the L + 1 bytes. */
static int reference_parse(const char *text, size_t length, std::vector<unsigned char> *expected) {
    if (length < 7)
        return 0;
    int count = reference_pair(text + 2);
    if (count < 0)
        return -1;
    if (count == 0) {
        int command = reference_pair(text + 4);
        if (command < 0)
            return -1;
        count = 256 + command % 16;
    }
    if (length < (size_t)(2 * count + 7))
        return 0;
    for (int i = 0; i < count; i++) {
        int value = reference_pair(text + 4 + 2 * i);
        if (value < 0)
            return -1;
        expected->push_back((unsigned char)value);
    }
    int check = reference_pair(text + 4 + 2 * count);
    expected->push_back((unsigned char)(check < 0 ? 0 : check));
    return count;
}

static void fuzz_parse(const uint8_t *data, size_t size) {
    char *text = (char *)malloc(size ? size : 1);
    if (size)
        memcpy(text, data, size);
    unsigned char *out = (unsigned char *)malloc(272);
    int result = net_frame_parse(text, (int)size, out);
    std::vector<unsigned char> expected;
    int want = reference_parse((const char *)data, size, &expected);
    if (result != want)
        abort();
    if (result > 0 && memcmp(out, expected.data(), expected.size()) != 0)
        abort();
    if (result > 271)
        abort();
    free(out);
    free(text);
}

/* Random text rarely forms a long frame, so the input is also read as a
   recipe for a request: byte 0 sets how many pairs follow the start pair
   (up to 765), byte 1 the length pair (a quarter of the values give 00, a
   long request), the rest, repeated, the pair values. Odd pairs use lower
   case; the value 0x7E becomes the non-digit pair "Z7". */
static void fuzz_parse_hexified(const uint8_t *data, size_t size) {
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    if (size < 2)
        return;
    size_t pairs = (size_t)data[0] * 3;
    size_t tail = size - 2;
    std::string text = "60";
    for (size_t i = 0; i < pairs; i++) {
        const char *digits = i % 2 ? lower : upper;
        unsigned char value = tail ? data[2 + i % tail] : 0;
        if (i == 0)
            value = data[1] < 64 ? 0 : data[1];
        text += value == 0x7E ? 'Z' : digits[value >> 4];
        text += digits[value & 15];
    }
    text += data[1] % 2 ? "" : "\x03";
    fuzz_parse((const uint8_t *)text.data(), text.size());
}

/* The first two bytes choose the status and the length (up to 512 bytes,
   the largest response the card gives); the rest, repeated, is the data. */
static void fuzz_build(const uint8_t *data, size_t size) {
    if (size < 3)
        return;
    int status = data[0];
    int n = (int)(((unsigned)data[1] * 2 + data[2] % 2) % 513);
    size_t tail = size - 3;
    std::vector<unsigned char> bytes((size_t)n + 1);
    for (int i = 0; i < n; i++)
        bytes[(size_t)i] = tail ? data[3 + (size_t)i % tail] : 0;
    size_t room = (size_t)(2 * n + 10);
    char *frame = (char *)malloc(room);
    int length = net_frame_build(status, bytes.data(), n, frame);
    if (length != 2 * n + 9 || frame[length] != 0 || frame[length - 1] != 0x03)
        abort();
    int sum = 0;
    for (int i = 0; i + 1 < length; i += 2) {
        int value = reference_pair(frame + i);
        if (value < 0 || islower((unsigned char)frame[i]) || islower((unsigned char)frame[i + 1]))
            abort();
        if (i >= 6 && i < 6 + 2 * n && value != bytes[(size_t)(i - 6) / 2])
            abort();
        sum ^= value;
    }
    int ll = reference_pair(frame + 2);
    int shown = reference_pair(frame + 4);
    int want_status = n >= 255 && n <= 258 ? 0xE1 + n - 255 : status;
    if (sum != 0 || memcmp(frame, "60", 2) != 0 || ll != (n + 1 > 255 ? 255 : n + 1) ||
        shown != want_status)
        abort();
    free(frame);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_parse(data, size);
    fuzz_parse_hexified(data, size);
    fuzz_build(data, size);
    return 0;
}
