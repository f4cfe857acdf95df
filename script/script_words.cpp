/*
 * script_words.cpp: the one word splitter and the one argument reader of
 * the script language (script_words.h), without Win32 and without state.
 *
 * A byte argument is walked pair by pair as the language reads a line: a
 * reference is taken only where a pair would begin, anything else is two
 * characters of a pair. The pairs between references are decoded by the
 * one reader of hexadecimal pairs (app/text_form.h), a piece at a time,
 * and the pieces that held key bytes are wiped. A fault is told where it
 * stands: the first bad pair, reference or byte beyond the room, from the
 * left, names the failure.
 */
#include "script/script_words.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/text_form.h"
#include "crypto/crypto_wipe.h"

enum { ARGS_PIECE = 64 }; /* characters of pairs decoded at a time: whole pairs */

static int words_blank(char c) {
    return c == ' ' || c == '\t';
}

const char *script_word_next(const char **at, int *length) {
    size_t count;
    const char *word = text_word_next(at, words_blank, &count);

    *length = (int)count;
    return word;
}

int script_words_count(const char *text) {
    int count = 0, length = 0;

    while (script_word_next(&text, &length), length > 0)
        count++;
    return count;
}

int script_word_is(const char *word, int length, const char *name) {
    return strlen(name) == (size_t)length && memcmp(word, name, (size_t)length) == 0;
}

int script_word_find(const char *word, int length, const ScriptName *names, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (script_word_is(word, length, names[i].word))
            return names[i].value;
    }
    return -1;
}

void script_args_begin(ScriptArgs *args, const ScriptValues *values, const char *text,
                       char *message, size_t size) {
    args->values = values;
    args->at = text;
    args->message = message;
    args->size = size;
}

const char *script_args_word(ScriptArgs *args, int *length) {
    const char *word = script_word_next(&args->at, length);
    return *length > 0 ? word : 0;
}

static int args_fail(ScriptArgs *args, int status, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

static int args_fail(ScriptArgs *args, int status, const char *format, ...) {
    va_list list;
    va_start(list, format);
    vsnprintf(args->message, args->size, format, list);
    va_end(list);
    return status;
}

/* The bytes one reference stands for (a length is made in small) */
struct ArgsValue {
    const unsigned char *bytes;
    int count;
    unsigned char small[2];
};

/* A reference's bytes into *value; SCRIPT_ARG_REFERENCE with the reason
   when it cannot be made. */
static int args_reference(ScriptArgs *args, const ScriptReference *reference, ArgsValue *value) {
    value->bytes = 0;
    value->count = 0;
    if (!script_reference_bytes(args->values, reference, &value->bytes, &value->count, value->small,
                                args->message, args->size))
        return SCRIPT_ARG_REFERENCE;
    return SCRIPT_ARG_OK;
}

/* Bytes appended to the room; SCRIPT_ARG_TOO_LONG when they do not fit. */
static int args_append(ScriptArgs *args, const char *role, const unsigned char *bytes, size_t count,
                       unsigned char *room, size_t capacity, ScriptArg *arg) {
    if (count > capacity - arg->count)
        return args_fail(args, SCRIPT_ARG_TOO_LONG, "%s longer than %lu bytes", role,
                         (unsigned long)capacity);
    if (count > 0)
        memcpy(room + arg->count, bytes, count);
    arg->count += count;
    return SCRIPT_ARG_OK;
}

/* Pairs (length characters, no reference where a pair begins) appended to
   the room. A pair just past the room is still decoded, so that a bad
   pair there is told rather than the room's end: from the left it comes
   first. */
static int args_pairs(ScriptArgs *args, const char *role, const char *text, int length,
                      unsigned char *room, size_t capacity, ScriptArg *arg) {
    char piece[ARGS_PIECE + 1];
    unsigned char bytes[ARGS_PIECE / 2];
    int status = SCRIPT_ARG_OK;

    while (status == SCRIPT_ARG_OK && length > 0) {
        size_t reach = 2 * (capacity - arg->count + 1);
        int n = length < ARGS_PIECE ? length : ARGS_PIECE;
        n = (size_t)n > reach ? (int)reach : n;
        memcpy(piece, text, (size_t)n);
        piece[n] = 0;
        int count = hex_pairs_read(piece, bytes, (int)sizeof bytes);
        status = count < 0 ? args_fail(args, SCRIPT_ARG_NOT_PAIRS,
                                       "%s is not whole hexadecimal pairs", role)
                           : args_append(args, role, bytes, (size_t)count, room, capacity, arg);
        text += n;
        length -= n;
    }
    crypto_wipe(piece, sizeof piece);
    crypto_wipe(bytes, sizeof bytes);
    return status;
}

/* Where the pairs from at end: at the next place a pair begins with a
   reference, or at the word's end. */
static int args_pairs_end(const char *word, int length, int at) {
    ScriptReference reference;

    do
        at += 2;
    while (at < length && script_reference_read(word + at, &reference) == 0);
    return at < length ? at : length;
}

/* A word of pairs and references, written into the room from the left. */
static int args_walk(ScriptArgs *args, const char *role, const char *word, int length,
                     unsigned char *room, size_t capacity, ScriptArg *arg) {
    int status = SCRIPT_ARG_OK;

    for (int at = 0; status == SCRIPT_ARG_OK && at < length;) {
        ScriptReference reference;
        ArgsValue value;
        int taken = script_reference_read(word + at, &reference);
        if (taken == 0) {
            int end = args_pairs_end(word, length, at);
            status = args_pairs(args, role, word + at, end - at, room, capacity, arg);
            at = end;
        } else if ((status = args_reference(args, &reference, &value)) == SCRIPT_ARG_OK) {
            status = args_append(args, role, value.bytes, (size_t)value.count, room, capacity, arg);
            at += taken;
        }
    }
    return status;
}

/* One whole reference: read where its value holds it. */
static int args_in_place(ScriptArgs *args, const char *role, const ScriptReference *reference,
                         unsigned char *room, size_t capacity, ScriptArg *arg) {
    ArgsValue value;
    int status = args_reference(args, reference, &value);

    if (status != SCRIPT_ARG_OK)
        return status;
    if ((size_t)value.count > capacity)
        return args_fail(args, SCRIPT_ARG_TOO_LONG, "%s longer than %lu bytes", role,
                         (unsigned long)capacity);
    arg->bytes = value.bytes ? value.bytes : room; /* a value of no bytes may have no block */
    arg->count = (size_t)value.count;
    return SCRIPT_ARG_OK;
}

int script_args_bytes(ScriptArgs *args, const char *role, unsigned char *room, size_t capacity,
                      ScriptArg *arg) {
    ScriptReference reference;
    int length = 0;
    const char *word = script_args_word(args, &length);

    arg->bytes = room;
    arg->count = 0;
    arg->written = 0;
    if (!word)
        return args_fail(args, SCRIPT_ARG_MISSING, "%s is missing", role);
    if (script_reference_read(word, &reference) == length && reference.kind == SCRIPT_REF_BYTES)
        return args_in_place(args, role, &reference, room, capacity, arg);
    int status = args_walk(args, role, word, length, room, capacity, arg);
    arg->written = arg->count; /* what reached the room, whatever came after */
    return status;
}

/* A reference read as a number, high byte first. */
static int args_reference_number(ScriptArgs *args, const ScriptReference *reference, long *value) {
    ArgsValue bytes;
    int status = args_reference(args, reference, &bytes);

    for (int i = 0; status == SCRIPT_ARG_OK && i < bytes.count; i++)
        *value = *value < SCRIPT_NUMBER_MAX ? *value * 256 + bytes.bytes[i] : *value;
    return status;
}

int script_args_number(ScriptArgs *args, const char *role, long *value) {
    ScriptReference reference;
    int length = 0;
    const char *word = script_args_word(args, &length);

    *value = 0;
    if (!word)
        return args_fail(args, SCRIPT_ARG_MISSING, "%s is missing", role);
    if (script_reference_read(word, &reference) == length)
        return args_reference_number(args, &reference, value);
    for (int i = 0; i < length; i++) {
        if (!isdigit((unsigned char)word[i]))
            return args_fail(args, SCRIPT_ARG_NOT_NUMBER, "%s is not a number", role);
        *value = *value < SCRIPT_NUMBER_MAX ? *value * 10 + (word[i] - '0') : *value;
    }
    return SCRIPT_ARG_OK;
}
