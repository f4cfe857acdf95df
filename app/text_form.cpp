/*
 * text_form.cpp: bytes as hexadecimal text, capped decimal numbers and the
 * walk over words. The card, script, dialog, network and runner code all
 * show bytes and read numbers and words the same way, so each form is
 * written once here and tested on the host under the sanitizers.
 */
#include "app/text_form.h"

#include <limits.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static const char hex_digits[] = "0123456789ABCDEF";

/* Every byte's two digits, for the traces of long responses: one table
   load a byte instead of two lookups and shifts. */
struct HexPairs {
    char digits[2 * 256];
};

static constexpr HexPairs hex_pairs_make(void) {
    HexPairs table = {};
    for (int i = 0; i < 256; i++) {
        table.digits[2 * i] = "0123456789ABCDEF"[i >> 4];
        table.digits[2 * i + 1] = "0123456789ABCDEF"[i & 0x0F];
    }
    return table;
}

static constexpr HexPairs hex_pairs = hex_pairs_make();

void hex_pair_put(char *text, unsigned value) {
    text[0] = hex_digits[(value >> 4) & 0x0F];
    text[1] = hex_digits[value & 0x0F];
}

#if defined(__SSE2__)
/* Sixteen bytes at a time where the processor has SSE2 (every x86-64): a
   65,535-byte trace then costs a few microseconds, not a hundred. Each
   nibble n becomes '0' + n, plus 7 above 9; the high and low digits are
   then interleaved. */
static size_t hex_run_put_wide(char *text, const unsigned char *bytes, size_t count) {
    const __m128i low_nibble = _mm_set1_epi8(0x0F);
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i zero_digit = _mm_set1_epi8('0');
    const __m128i letter_gap = _mm_set1_epi8('A' - '0' - 10);
    size_t done = 0;

    for (; done + 16 <= count; done += 16) {
        __m128i v = _mm_loadu_si128((const __m128i *)(bytes + done));
        __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), low_nibble);
        __m128i low = _mm_and_si128(v, low_nibble);
        high = _mm_add_epi8(_mm_add_epi8(high, zero_digit),
                            _mm_and_si128(_mm_cmpgt_epi8(high, nine), letter_gap));
        low = _mm_add_epi8(_mm_add_epi8(low, zero_digit),
                           _mm_and_si128(_mm_cmpgt_epi8(low, nine), letter_gap));
        _mm_storeu_si128((__m128i *)(text + 2 * done), _mm_unpacklo_epi8(high, low));
        _mm_storeu_si128((__m128i *)(text + 2 * done + 16), _mm_unpackhi_epi8(high, low));
    }
    return done;
}
#else
static size_t hex_run_put_wide(char *, const unsigned char *, size_t) {
    return 0;
}
#endif

void hex_run_put(char *text, const unsigned char *bytes, size_t count) {
    for (size_t i = hex_run_put_wide(text, bytes, count); i < count; i++)
        memcpy(text + 2 * i, hex_pairs.digits + 2 * bytes[i], 2);
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

int hex_pairs_read(const char *text, unsigned char *bytes, int capacity) {
    int count = 0;

    for (const char *at = text; *at;) {
        if (*at == ' ' || *at == '\t') {
            at++;
            continue;
        }
        int high = hex_digit_value(at[0]);
        int low = high < 0 ? -1 : hex_digit_value(at[1]);
        if (low < 0 || count >= capacity)
            return -1;
        bytes[count++] = (unsigned char)(high << 4 | low);
        at += 2;
    }
    return count;
}

const char *text_word_next(const char **at, int (*is_separator)(char), size_t *length) {
    const char *word = *at;

    while (*word && is_separator(*word))
        word++;
    const char *end = word;
    while (*end && !is_separator(*end))
        end++;
    *at = end;
    *length = (size_t)(end - word);
    return word;
}
