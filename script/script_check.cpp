/*
 * script_check.cpp: the "/EXPECT" check, without Win32.
 *
 * A pattern is read into byte units first: a unit matches one byte through
 * a value and a mask (X leaves a digit out of the mask), or stands for '*'.
 * Since '*' only ever spans whole bytes, matching is the usual wildcard
 * walk over bytes that returns to the last star on a mismatch: linear in
 * practice, and never worse than pattern length times response length.
 */
#include "script/script_check.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "app/text_form.h"

namespace {

struct PatternUnit {
    unsigned char value, mask; /* a byte matches when (byte & mask) == value */
    unsigned char star;        /* 1: any number of whole bytes */
};

int check_digit(char c, unsigned char *value, unsigned char *mask) {
    if (c == 'X' || c == 'x') {
        *value = 0;
        *mask = 0;
        return 1;
    }
    int digit = hex_digit_value(c);
    if (digit < 0)
        return 0;
    *value = (unsigned char)digit;
    *mask = 15;
    return 1;
}

/* Reads one alternative into units (room for length + 1); the count, or -1. */
int pattern_read(const char *text, int length, PatternUnit *units) {
    int count = 0, half = 0;
    unsigned char value, mask;

    for (int i = 0; i < length; i++) {
        char c = text[i];
        if (c == ' ' || c == '\t')
            continue;
        if (c == '*') {
            if (half)
                return -1;
            if (count == 0 || !units[count - 1].star)
                units[count++] = PatternUnit{0, 0, 1};
            continue;
        }
        if (!check_digit(c, &value, &mask))
            return -1;
        if (!half) {
            units[count] = PatternUnit{(unsigned char)(value << 4), (unsigned char)(mask << 4), 0};
        } else {
            units[count].value |= value;
            units[count++].mask |= mask;
        }
        half = !half;
    }
    return half || count == 0 ? -1 : count;
}

int pattern_units_match(const PatternUnit *units, int n, const unsigned char *bytes, int count) {
    int p = 0, b = 0, star = -1, star_b = 0;

    while (b < count) {
        if (p < n && units[p].star) {
            star = p++;
            star_b = b;
        } else if (p < n && (bytes[b] & units[p].mask) == units[p].value) {
            p++;
            b++;
        } else if (star >= 0) {
            p = star + 1;
            b = ++star_b;
        } else {
            return 0;
        }
    }
    while (p < n && units[p].star)
        p++;
    return p == n;
}

/* Each alternative of the patterns against the response: 1 when one
   matches, 0 when none, -1 when one of them is no pattern. */
int patterns_match(const char *text, int length, const unsigned char *bytes, int count) {
    int found = 0;

    for (int start = 0; start <= length;) {
        const char *bar = (const char *)memchr(text + start, '|', (size_t)(length - start));
        int end = bar ? (int)(bar - text) : length;
        int result = script_pattern_match(text + start, end - start, bytes, count);
        if (result < 0)
            return -1;
        found |= result;
        start = end + 1;
    }
    return found;
}

int is_blank(char c) {
    return c == ' ' || c == '\t';
}

int is_within(const char *at) {
    for (int i = 0; i < 6; i++) {
        if (toupper((unsigned char)at[i]) != "WITHIN"[i])
            return 0;
    }
    return at[6] == 0 || is_blank(at[6]);
}

/* Where the word "WITHIN" (either case, on its own) starts, or 0. */
const char *find_within(const char *text) {
    for (const char *at = text; *at; at++) {
        if ((at == text || is_blank(at[-1])) && is_within(at))
            return at;
    }
    return 0;
}

/* "MS" after WITHIN: decimal digits between blanks, nothing else. */
int read_within(const char *text, int *ms) {
    int value = 0;

    while (is_blank(*text))
        text++;
    if (!isdigit((unsigned char)*text))
        return 0;
    text = decimal_scan(text, &value); /* saturates: a long run fails below */
    if (value > SCRIPT_CHECK_WITHIN_MAX)
        return 0;
    while (is_blank(*text))
        text++;
    *ms = value;
    return *text == 0;
}

/* The response as a failed check shows it: whole when short, else its
   first bytes and what the rest was. */
void check_received_text(char *text, size_t size, const unsigned char *response, int count) {
    if (count <= SCRIPT_CHECK_SHOWN_MAX) {
        hex_text(text, size, response, count, "");
        return;
    }
    size_t used = hex_text(text, size, response, SCRIPT_CHECK_SHOWN_MAX, "");
    snprintf(text + used, size - used, "... (%d bytes, SW %02X%02X)", count, response[count - 2],
             response[count - 1]);
}

} // namespace

int script_pattern_match(const char *pattern, int length, const unsigned char *response,
                         int count) {
    PatternUnit stack_units[256];
    PatternUnit *units = stack_units;

    if (length < 0)
        return -1;
    if (length + 1 > 256 && !(units = (PatternUnit *)malloc(sizeof *units * (size_t)(length + 1))))
        return -1;
    int n = pattern_read(pattern, length, units);
    int result = n < 0 ? -1 : pattern_units_match(units, n, response, count);
    if (units != stack_units)
        free(units);
    return result;
}

int script_check_parse(const char *line, ScriptCheck *check) {
    static const unsigned char none[1] = {0};
    const char *text = line + strlen("/EXPECT");
    const char *within = find_within(text);
    const char *end = within ? within : text + strlen(text);

    check->within_ms = -1;
    if (*text && !is_blank(*text)) /* "/EXPECTED 9000" is no check of ED 90 00 */
        return 0;
    if (within && !read_within(within + 6, &check->within_ms))
        return 0;
    while (is_blank(*text))
        text++;
    while (end > text && is_blank(end[-1]))
        end--;
    check->patterns = text;
    check->patterns_length = (int)(end - text);
    if (check->patterns_length == 0)
        return within != 0;
    return patterns_match(text, check->patterns_length, none, 0) >= 0;
}

int script_check_judge(const ScriptCheck *check, const unsigned char *response, int count,
                       int took_ms, char *message, size_t size) {
    if (check->patterns_length > 0 &&
        patterns_match(check->patterns, check->patterns_length, response, count) != 1) {
        int used = snprintf(message, size, "expected %.*s, received ", check->patterns_length,
                            check->patterns);
        if (used >= 0 && (size_t)used < size)
            check_received_text(message + used, size - (size_t)used, response, count);
        return 0;
    }
    if (check->within_ms >= 0 && took_ms > check->within_ms) {
        snprintf(message, size, "expected within %d ms, took %d ms", check->within_ms, took_ms);
        return 0;
    }
    return 1;
}

int script_tally_add(ScriptTally *tally, int ms, const char *name, const char *message) {
    TextBuffer *records = &tally->records;
    size_t before = records->used;
    int kept = text_buffer_add(records, &ms, sizeof ms) &&
               text_buffer_add(records, name, strlen(name) + 1) &&
               text_buffer_add(records, message, strlen(message) + 1);
    if (!kept) { /* the records end before the cut one; later ones may still fit */
        tally->lost = 1;
        records->used = before;
        records->lost = 0;
    }
    return kept;
}

int script_tally_next(const ScriptTally *tally, size_t *at, int *ms, const char **name,
                      const char **message) {
    if (*at >= tally->records.used)
        return 0;
    const char *record = tally->records.text + *at;
    memcpy(ms, record, sizeof *ms);
    *name = record + sizeof *ms;
    *message = *name + strlen(*name) + 1;
    *at = (size_t)(*message + strlen(*message) + 1 - tally->records.text);
    return 1;
}

void script_tally_free(ScriptTally *tally) {
    text_buffer_free(&tally->records);
}
