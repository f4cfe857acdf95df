/*
 * text_form.cpp: bytes as hexadecimal text and capped decimal numbers. The
 * card, script, dialog, network and runner code all show bytes and read
 * numbers the same way, so each form is written once here and tested on the
 * host under the sanitizers.
 */
#include "app/text_form.h"

#include <limits.h>
#include <string.h>

static const char hex_digits[] = "0123456789ABCDEF";

void hex_pair_put(char *text, unsigned value) {
    text[0] = hex_digits[(value >> 4) & 0x0F];
    text[1] = hex_digits[value & 0x0F];
}

size_t hex_text(char *text, size_t size, const unsigned char *bytes, int count,
                const char *separator) {
    size_t separator_length = strlen(separator);
    size_t used = 0;

    if (size == 0)
        return 0;
    for (int i = 0; i < count && used + 2 + separator_length < size; i++) {
        hex_pair_put(text + used, bytes[i]);
        memcpy(text + used + 2, separator, separator_length);
        used += 2 + separator_length;
    }
    text[used] = 0;
    return used;
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

const char *decimal_scan(const char *text, int *value) {
    int negative = 0;
    long long number = 0;

    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    if (*text < '0' || *text > '9')
        return 0;
    /* Held at INT_MAX + 1 so that INT_MIN itself can be read. */
    for (; *text >= '0' && *text <= '9'; text++) {
        number = number * 10 + (*text - '0');
        if (number > (long long)INT_MAX + 1)
            number = (long long)INT_MAX + 1;
    }
    if (negative)
        number = -number;
    *value = number > INT_MAX ? INT_MAX : (int)number;
    return text;
}
