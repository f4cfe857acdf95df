/*
 * net_frame.cpp: request and reply frames of the network reader.
 *
 * Both directions carry every byte as two hexadecimal characters. A request
 * is: start pair (ignored), length pair L, L data pairs (command byte first),
 * check pair (decoded, not compared), one closing character (ignored). A
 * length pair of 00 marks a long request of 256 + (low nibble of the command
 * byte) data bytes. A reply is "60", LL, status, the data, the XOR check byte
 * and the raw byte 0x03.
 *
 * Decoding is strict where the bytes matter: every character of the length
 * and data pairs must be a hexadecimal digit (either case). Anything else
 * makes the frame bad, so the server closes the connection instead of
 * sending the card bytes that nobody wrote. The check pair is not compared
 * with anything, so any two characters are taken there; its value is kept
 * when it is a hexadecimal pair and 0 otherwise.
 */
#include "net/net_frame.h"

#include <stddef.h>

#include "app/text_form.h"

enum {
    NET_FRAME_MIN = 7,        /* shortest request: start, length, check, close */
    NET_FRAME_LONG_BASE = 256 /* data bytes of a long request, before its nibble */
};

/* Value of the pair at text[0..1], or -1 when either is not a digit. */
static int net_hex_pair(const char *text) {
    int high = hex_digit_value(text[0]);
    int low = hex_digit_value(text[1]);

    if (high < 0 || low < 0)
        return -1;
    return high * 16 + low;
}

/* The data bytes a request announces: its length pair, or for a length of
   00 the long request's 256 plus the command byte's low nibble; -1 when a
   pair read is not hexadecimal. */
static int net_frame_count(const char *text) {
    int count = net_hex_pair(text + 2);
    if (count != 0)
        return count;
    int command = net_hex_pair(text + 4);
    return command < 0 ? -1 : NET_FRAME_LONG_BASE + (command & 0x0F);
}

/* count data pairs from text into out; 0 at the first pair that is not
   hexadecimal, which leaves out partly written. */
static int net_frame_data(const char *text, int count, unsigned char *out) {
    for (int i = 0; i < count; i++) {
        int value = net_hex_pair(text + 2 * i);
        if (value < 0)
            return 0;
        out[i] = (unsigned char)value;
    }
    return 1;
}

int net_frame_parse(char *text, int length, unsigned char *out) {
    if (!text || !out || length < NET_FRAME_MIN)
        return 0;
    int count = net_frame_count(text);
    if (count < 0)
        return -1;
    if (length < 2 * count + NET_FRAME_MIN)
        return 0;
    if (!net_frame_data(text + 4, count, out))
        return -1;
    int check = net_hex_pair(text + 4 + 2 * count);
    out[count] = (unsigned char)(check < 0 ? 0 : check);
    /* A decoded frame is marked as taken: with the character after its start
       pair gone, the same text never decodes a second time. */
    text[2] = 0;
    return count;
}

int net_frame_build(int status, const unsigned char *data, int n, char *frame) {
    if (n < 0 || !data)
        n = 0;
    /* Replies of 255 to 258 bytes carry their length in the status byte,
       since LL stops at 255. */
    if (n >= 255 && n <= 258)
        status = 0xE1 + (n - 255);
    status &= 0xFF;
    int ll = n + 1 > 255 ? 255 : n + 1;
    int check = 0x60 ^ ll ^ status;
    char *at = frame;

    hex_pair_put(at, 0x60);
    hex_pair_put(at + 2, ll);
    hex_pair_put(at + 4, status);
    at += 6;
    for (int i = 0; i < n; i++, at += 2) {
        check ^= data[i];
        hex_pair_put(at, data[i]);
    }
    hex_pair_put(at, check);
    at[2] = 0x03;
    at[3] = 0;
    return 2 * n + 9;
}
