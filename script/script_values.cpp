/*
 * script_values.cpp: values and references of the script language, without
 * Win32.
 *
 * A reference is read only where a byte pair would begin, so every script
 * written before keeps its meaning: "$" anywhere else is the character it
 * always was. Nothing here keeps state between calls; a value's bytes are a
 * temporary buffer of its run, grown as a "/SET" needs.
 */
#include "script/script_values.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/text_form.h"
#include "crypto/crypto_wipe.h"

static int value_name_char(char c, int first) {
    return isalpha((unsigned char)c) || (!first && (isdigit((unsigned char)c) || c == '_'));
}

/* The length of the name at text, 0 when none starts there. */
static int value_name_length(const char *text) {
    int length = 0;

    while (value_name_char(text[length], length == 0))
        length++;
    return length;
}

static int value_is(const char *name, int length, const char *word) {
    return (int)strlen(word) == length && memcmp(name, word, (size_t)length) == 0;
}

int script_value_name_ok(const char *text, int length) {
    return length > 0 && length < SCRIPT_VALUE_NAME_SIZE && value_name_length(text) >= length &&
           !value_is(text, length, "R") && !value_is(text, length, "SW");
}

/* A slice bound: an optional '-' and decimal digits, or nothing. Returns
   the characters taken; *given is 0 for nothing. */
static int reference_bound(const char *text, int *given, int *value) {
    int at = text[0] == '-' ? 1 : 0;
    int number = 0;

    *given = 0;
    if (!isdigit((unsigned char)text[at]))
        return at == 0 ? 0 : -1;
    while (isdigit((unsigned char)text[at]) && number < 1000000)
        number = number * 10 + (text[at++] - '0');
    if (isdigit((unsigned char)text[at]))
        return -1; /* far beyond any value */
    *given = 1;
    *value = text[0] == '-' ? -number : number;
    return at;
}

/* "[i:j]" after a name; the characters taken, 0 when none follows, -1
   when it is no slice. */
static int reference_slice(const char *text, ScriptReference *reference) {
    int at = 1;
    int taken;

    if (text[0] != '[')
        return 0;
    if ((taken = reference_bound(text + at, &reference->has_from, &reference->from)) < 0)
        return -1;
    at += taken;
    if (text[at++] != ':')
        return -1;
    if ((taken = reference_bound(text + at, &reference->has_to, &reference->to)) < 0)
        return -1;
    at += taken;
    if (text[at++] != ']')
        return -1;
    reference->sliced = 1;
    reference->slice = text;
    reference->slice_length = at;
    return at;
}

int script_reference_read(const char *text, ScriptReference *reference) {
    int at = 1;

    memset(reference, 0, sizeof *reference);
    if (text[0] != '$')
        return 0;
    reference->kind = SCRIPT_REF_BYTES;
    if (text[1] == '#') {
        reference->kind = text[2] == '#' ? SCRIPT_REF_LENGTH2 : SCRIPT_REF_LENGTH1;
        at = text[2] == '#' ? 3 : 2;
    }
    reference->name = text + at;
    reference->name_length = value_name_length(text + at);
    if (reference->name_length == 0)
        return 0;
    at += reference->name_length;
    if (reference->kind == SCRIPT_REF_BYTES) {
        int taken = reference_slice(text + at, reference);
        if (taken < 0)
            return 0;
        at += taken;
    }
    return at;
}

/* The whole value a name stands for: R, SW, or one set; 0 when unknown. */
static int value_find(const ScriptValues *values, const char *name, int length,
                      const unsigned char **bytes, int *count) {
    const unsigned char *response = values->response;
    int n = values->response ? values->response_length : 0;

    if (value_is(name, length, "R") || value_is(name, length, "SW")) {
        int data = n >= 2 ? n - 2 : 0;
        *bytes = value_is(name, length, "R") ? response : response + data;
        *count = value_is(name, length, "R") ? data : n - data;
        return 1;
    }
    for (int i = 0; i < values->count; i++) {
        const ScriptValue *value = &values->values[i];
        if (value_is(name, length, value->name)) {
            *bytes = value->bytes;
            *count = value->length;
            return 1;
        }
    }
    return 0;
}

/* A slice's bounds made absolute; 0 when they fall outside the value. */
static int reference_range(const ScriptReference *reference, int count, int *from, int *to) {
    long first = reference->has_from ? reference->from : 0;
    long last = reference->has_to ? reference->to : count;

    if (first < 0)
        first += count;
    if (last < 0)
        last += count;
    if (first < 0 || last > count || first > last)
        return 0;
    *from = (int)first;
    *to = (int)last;
    return 1;
}

int script_reference_bytes(const ScriptValues *values, const ScriptReference *reference,
                           const unsigned char **bytes, int *count, unsigned char small[2],
                           char *message, size_t size) {
    const unsigned char *whole = 0;
    int length = 0, from = 0, to = 0;
    int name_length = reference->name_length;

    if (!value_find(values, reference->name, name_length, &whole, &length)) {
        snprintf(message, size, "unknown value %.*s", name_length, reference->name);
        return 0;
    }
    if (reference->kind != SCRIPT_REF_BYTES) {
        int two = reference->kind == SCRIPT_REF_LENGTH2;
        if (length > (two ? 0xFFFF : 0xFF)) {
            snprintf(message, size, "length of %.*s does not fit", name_length, reference->name);
            return 0;
        }
        small[0] = (unsigned char)(two ? length >> 8 : length);
        small[1] = (unsigned char)length;
        *bytes = small;
        *count = two ? 2 : 1;
        return 1;
    }
    if (!reference->sliced) {
        *bytes = whole;
        *count = length;
        return 1;
    }
    if (!reference_range(reference, length, &from, &to)) {
        snprintf(message, size, "%.*s%.*s outside its %d bytes", name_length, reference->name,
                 reference->slice_length, reference->slice, length);
        return 0;
    }
    *bytes = whole + from;
    *count = to - from;
    return 1;
}

/* The slot for name: its own, or a new one. */
static ScriptValue *value_slot(ScriptValues *values, const char *name) {
    for (int i = 0; i < values->count; i++) {
        if (strcmp(values->values[i].name, name) == 0)
            return &values->values[i];
    }
    if (values->count >= SCRIPT_VALUES_MAX)
        return 0;
    ScriptValue *value = &values->values[values->count++];
    memset(value, 0, sizeof *value);
    snprintf(value->name, sizeof value->name, "%s", name);
    return value;
}

/* A value's room grown to count bytes: the old bytes copied into a new
   block, then wiped and freed, so no copy of a key stays behind in freed
   memory (realloc would leave one). 0 when memory runs out. */
static int value_grow(ScriptValue *value, int count) {
    unsigned char *grown = (unsigned char *)malloc((size_t)count);

    if (!grown)
        return 0;
    if (value->length > 0)
        memcpy(grown, value->bytes, (size_t)value->length);
    crypto_wipe(value->bytes, (size_t)value->size);
    free(value->bytes);
    value->bytes = grown;
    value->size = count;
    return 1;
}

int script_value_set(ScriptValues *values, const char *name, const unsigned char *bytes, int count,
                     char *message, size_t size) {
    ScriptValue *value = value_slot(values, name);

    if (!value) {
        snprintf(message, size, "more than %d values", SCRIPT_VALUES_MAX);
        return 0;
    }
    /* a slice of the value itself is never longer than its room, so the
       block it points into is not the one replaced here */
    if (count > value->size && !value_grow(value, count)) {
        snprintf(message, size, "no memory for %s", name);
        return 0;
    }
    if (count > 0)
        memmove(value->bytes, bytes, (size_t)count); /* may be a slice of itself */
    if (value->length > count)
        crypto_wipe(value->bytes + count, (size_t)(value->length - count));
    value->length = count;
    return 1;
}

void script_value_remove(ScriptValues *values, const char *name) {
    for (int i = 0; i < values->count; i++) {
        ScriptValue *value = &values->values[i];
        if (strcmp(value->name, name) != 0)
            continue;
        crypto_wipe(value->bytes, (size_t)value->size);
        free(value->bytes);
        values->count--;
        memmove(value, value + 1, (size_t)(values->count - i) * sizeof *value);
        return;
    }
}

int script_values_copy(ScriptValues *to, const ScriptValues *from) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];

    for (int i = 0; i < from->count; i++) {
        const ScriptValue *value = &from->values[i];
        if (!script_value_set(to, value->name, value->bytes, value->length, message,
                              sizeof message))
            return 0;
    }
    return 1;
}

int script_values_room(ScriptValues *values, int count) {
    if (count <= values->response_size)
        return 1;
    unsigned char *grown = (unsigned char *)realloc(values->response, (size_t)count);
    if (!grown)
        return 0;
    values->response = grown;
    values->response_size = count;
    return 1;
}

int script_values_response(ScriptValues *values, const unsigned char *bytes, int count) {
    if (!script_values_room(values, count)) {
        values->response_length = 0;
        return 0;
    }
    if (count > 0 && bytes != values->response)
        memcpy(values->response, bytes, (size_t)count);
    values->response_length = count;
    return 1;
}

void script_values_free(ScriptValues *values) {
    for (int i = 0; i < values->count; i++) {
        crypto_wipe(values->values[i].bytes, (size_t)values->values[i].size);
        free(values->values[i].bytes);
    }
    crypto_wipe(values->response, (size_t)values->response_size);
    free(values->response);
    memset(values, 0, sizeof *values);
}

/* 1 when c fills half a pair in mode. */
static int expand_pair_char(char c, int mode) {
    if (mode == SCRIPT_EXPAND_APDU)
        return c != ' ';
    return hex_digit_value(c) >= 0 || c == 'X' || c == 'x';
}

/* Appends a reference's bytes as hexadecimal; 0 when they do not fit. */
static int expand_append(const unsigned char *bytes, int count, char *out, size_t size,
                         size_t *used) {
    if ((size_t)count > (size - *used - 1) / 2)
        return 0;
    hex_run_put(out + *used, bytes, (size_t)count);
    *used += 2 * (size_t)count;
    return 1;
}

int script_text_expand(const ScriptValues *values, const char *text, int mode, int open, char *out,
                       size_t size, char *message, size_t message_size) {
    size_t used = 0;
    const char *at = text;

    while (*at) {
        ScriptReference reference;
        int taken = open ? 0 : script_reference_read(at, &reference);
        if (taken > 0) {
            const unsigned char *bytes = 0;
            unsigned char small[2];
            int count = 0;
            if (!script_reference_bytes(values, &reference, &bytes, &count, small, message,
                                        message_size))
                return 0;
            if (!expand_append(bytes, count, out, size, &used))
                break;
            at += taken;
            continue;
        }
        if (used + 2 > size)
            break;
        if (expand_pair_char(*at, mode))
            open = !open;
        else if (mode == SCRIPT_EXPAND_PATTERN && *at != ' ' && *at != '\t')
            open = 0; /* '*' and '|' stand between pairs */
        out[used++] = *at++;
    }
    if (size > 0)
        out[used < size ? used : size - 1] = 0;
    if (!*at)
        return 1;
    snprintf(message, message_size, "line too long once its values are in");
    return 0;
}
