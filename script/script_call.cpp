/*
 * script_call.cpp: the functions of "/SET NAME FUNCTION ARG...", without
 * Win32: one table of the functions (name and arguments, which the
 * dispatch and the usage reason both read), the reading of the arguments
 * token by token, and the call into crypto/crypto.h.
 *
 * A function line used to fail as "NAME: not whole hexadecimal pairs", so
 * a line is only taken as one when its first word cannot be hexadecimal
 * pairs: no working script changes meaning. An argument that is one whole
 * reference is read where its value holds it; others are written into the
 * caller's ScriptCallSpace. No state between calls.
 */
#include "script/script_call.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/text_form.h"
#include "crypto/crypto.h"
#include "crypto/crypto_wipe.h"

enum CallFunction {
    CALL_ENCRYPT,
    CALL_DECRYPT,
    CALL_MAC,
    CALL_PAD,
    CALL_UNPAD,
    CALL_HASH,
    CALL_RANDOM,
    CALL_XOR,
    CALL_COUNT
};

struct CallInfo {
    const char *name;
    int least, most;   /* arguments it takes */
    const char *usage; /* the arguments, as a reason shows them */
};

static const CallInfo call_table[CALL_COUNT] = {
    {"ENCRYPT", 3, 4, "ALG KEY DATA [IV]"},
    {"DECRYPT", 3, 4, "ALG KEY DATA [IV]"},
    {"MAC", 3, 4, "ALG KEY DATA [IV]"},
    {"PAD", 2, 2, "BLOCK DATA"},
    {"UNPAD", 1, 1, "DATA"},
    {"HASH", 2, 2, "ALG DATA"},
    {"RANDOM", 1, 1, "COUNT"},
    {"XOR", 2, 2, "A B"},
};

enum { CALL_TOKENS_MAX = 4 }; /* arguments of any function, at most */

/* A word of the script's vocabulary and the algorithm it names */
struct CallName {
    const char *word;
    int number;
};

static const CallName call_ciphers[] = {
    {"DES-ECB", CRYPTO_DES_ECB},   {"DES-CBC", CRYPTO_DES_CBC}, {"3DES-ECB", CRYPTO_3DES_ECB},
    {"3DES-CBC", CRYPTO_3DES_CBC}, {"AES-ECB", CRYPTO_AES_ECB}, {"AES-CBC", CRYPTO_AES_CBC},
};

static const CallName call_macs[] = {
    {"CMAC-AES", CRYPTO_MAC_CMAC_AES}, {"CMAC-3DES", CRYPTO_MAC_CMAC_3DES},
    {"RETAIL", CRYPTO_MAC_RETAIL},     {"CBC-DES", CRYPTO_MAC_CBC_DES},
    {"CBC-3DES", CRYPTO_MAC_CBC_3DES}, {"CBC-AES", CRYPTO_MAC_CBC_AES},
};

static const CallName call_hashes[] = {
    {"SHA-1", CRYPTO_SHA1},     {"SHA-224", CRYPTO_SHA224}, {"SHA-256", CRYPTO_SHA256},
    {"SHA-384", CRYPTO_SHA384}, {"SHA-512", CRYPTO_SHA512},
};

/* One byte argument, resolved */
struct CallArg {
    const unsigned char *bytes; /* never 0, even for no bytes */
    size_t count;
};

/* One call: its arguments as written and where its result goes */
struct Call {
    const ScriptValues *values;
    ScriptCallSpace *space;
    const char *token[CALL_TOKENS_MAX]; /* the arguments, each up to a blank */
    int length[CALL_TOKENS_MAX];
    int tokens;                            /* arguments given (may exceed CALL_TOKENS_MAX) */
    size_t written[SCRIPT_CALL_BYTE_ARGS]; /* bytes written into each slot: wiped at the end */
    unsigned char *out;
    size_t capacity, made; /* out's room and the bytes of the result */
    char *message;
    size_t size;
};

static int call_blank(char c) {
    return c == ' ' || c == '\t';
}

static int call_word_char(char c) {
    return isalnum((unsigned char)c) || c == '-' || c == '_';
}

/* The length of a name-like word of length characters at text: letters,
   digits, '-' and '_' from a letter on, with one character at least that
   no hexadecimal pair holds. 0 when text is something else. */
static int call_word_length(const char *text, int length) {
    int plain = 0;

    if (length <= 0 || !isalpha((unsigned char)text[0]))
        return 0;
    for (int i = 0; i < length; i++) {
        if (!call_word_char(text[i]))
            return 0;
        plain |= hex_digit_value(text[i]) < 0;
    }
    return plain ? length : 0;
}

static int call_token_length(const char *text) {
    int length = 0;
    while (text[length] && !call_blank(text[length]))
        length++;
    return length;
}

int script_call_word(const char *text, int *skipped) {
    int at = 0;

    while (call_blank(text[at]))
        at++;
    *skipped = at;
    return call_word_length(text + at, call_token_length(text + at));
}

static int call_fail(Call *call, const char *format, ...) __attribute__((format(printf, 2, 3)));

static int call_fail(Call *call, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(call->message, call->size, format, args);
    va_end(args);
    return 0;
}

/* Splits text into the arguments; counts those beyond the most taken. */
static void call_split(Call *call, const char *text) {
    call->tokens = 0;
    for (;;) {
        while (call_blank(*text))
            text++;
        if (!*text)
            return;
        int length = call_token_length(text);
        if (call->tokens < CALL_TOKENS_MAX) {
            call->token[call->tokens] = text;
            call->length[call->tokens] = length;
        }
        call->tokens++;
        text += length;
    }
}

/* Appends bytes to the argument written out in slot. */
static int call_append(Call *call, const char *role, int slot, size_t *used,
                       const unsigned char *bytes, int count) {
    if ((size_t)count > SCRIPT_VALUE_MAX - *used)
        return call_fail(call, "%s longer than %d bytes", role, SCRIPT_VALUE_MAX);
    if (count > 0)
        memcpy(call->space->bytes[slot] + *used, bytes, (size_t)count);
    *used += (size_t)count;
    if (*used > call->written[slot])
        call->written[slot] = *used;
    return 1;
}

/* Argument index as bytes: one whole reference in place, else pairs and
   references written into the space's slot. role names it in a reason. */
static int call_bytes(Call *call, int index, const char *role, int slot, CallArg *arg) {
    const char *text = call->token[index];
    int length = call->length[index];
    unsigned char *to = call->space->bytes[slot];
    size_t used = 0;
    ScriptReference reference;
    const unsigned char *bytes = 0;
    unsigned char small[2];
    int count = 0;

    for (int at = 0; at < length;) {
        int taken = script_reference_read(text + at, &reference);
        if (taken > 0) {
            if (!script_reference_bytes(call->values, &reference, &bytes, &count, small,
                                        call->message, call->size))
                return 0;
            if (taken == length && reference.kind == SCRIPT_REF_BYTES) {
                arg->bytes = bytes ? bytes : to; /* the value itself */
                arg->count = (size_t)count;
                return 1;
            }
            if (!call_append(call, role, slot, &used, bytes, count))
                return 0;
            at += taken;
            continue;
        }
        int high = hex_digit_value(text[at]);
        int low = at + 1 < length ? hex_digit_value(text[at + 1]) : -1;
        if (high < 0 || low < 0)
            return call_fail(call, "%s is not whole hexadecimal pairs", role);
        unsigned char pair = (unsigned char)(high << 4 | low);
        if (!call_append(call, role, slot, &used, &pair, 1))
            return 0;
        at += 2;
    }
    arg->bytes = to;
    arg->count = used;
    return 1;
}

/* Argument index as a number: decimal, or a reference read high byte
   first. 1 with *value (held below ten million); 0 when it is no number,
   -1 when the reference cannot be made (its reason in message). */
static int call_number(Call *call, int index, long *value) {
    const char *text = call->token[index];
    int length = call->length[index];
    ScriptReference reference;
    const unsigned char *bytes = 0;
    unsigned char small[2];
    int count = 0;

    *value = 0;
    if (script_reference_read(text, &reference) == length) {
        if (!script_reference_bytes(call->values, &reference, &bytes, &count, small, call->message,
                                    call->size))
            return -1;
        for (int i = 0; i < count; i++)
            *value = *value < 10000000 ? *value * 256 + bytes[i] : *value;
        return 1;
    }
    for (int i = 0; i < length; i++) {
        if (!isdigit((unsigned char)text[i]))
            return 0;
        *value = *value < 10000000 ? *value * 10 + (text[i] - '0') : *value;
    }
    return length > 0;
}

/* An algorithm no function knows, named by its length: a word that is
   not a name may be key bytes written in the wrong place. */
static int call_unknown_algorithm(Call *call) {
    return call_fail(call, "unknown algorithm (%d character%s)", call->length[0],
                     call->length[0] == 1 ? "" : "s");
}

/* The algorithm the first argument names in a table of count words (case
   counts), or -1. */
static int call_find(const Call *call, const CallName *names, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (strlen(names[i].word) == (size_t)call->length[0] &&
            memcmp(names[i].word, call->token[0], (size_t)call->length[0]) == 0)
            return names[i].number;
    }
    return -1;
}

/* The library's answer: 1 for done, else its reason is already in message. */
static int call_done(int status) {
    return status == CRYPTO_OK;
}

/* KEY DATA [IV] after an algorithm's name; 0 with the reason given. */
static int call_key_data_iv(Call *call, CallArg *key, CallArg *data, CallArg *iv) {
    return call_bytes(call, 1, "key", 0, key) && call_bytes(call, 2, "data", 1, data) &&
           (call->tokens <= 3 || call_bytes(call, 3, "IV", 2, iv));
}

/* ENCRYPT and DECRYPT: ALG KEY DATA [IV]. */
static int call_cipher(Call *call, int decrypt) {
    CallArg key, data, iv = {0, 0};
    int cipher = call_find(call, call_ciphers, sizeof call_ciphers / sizeof call_ciphers[0]);

    if (cipher < 0)
        return call_unknown_algorithm(call);
    if (!call_key_data_iv(call, &key, &data, &iv))
        return 0;
    call->made = data.count;
    if (decrypt)
        return call_done(crypto_decrypt(cipher, key.bytes, key.count, iv.bytes, iv.count,
                                        data.bytes, data.count, call->out, call->capacity,
                                        call->message, call->size));
    return call_done(crypto_encrypt(cipher, key.bytes, key.count, iv.bytes, iv.count, data.bytes,
                                    data.count, call->out, call->capacity, call->message,
                                    call->size));
}

/* MAC ALG KEY DATA [IV] */
static int call_mac(Call *call) {
    CallArg key, data, iv = {0, 0};
    int mac = call_find(call, call_macs, sizeof call_macs / sizeof call_macs[0]);

    if (mac < 0)
        return call_unknown_algorithm(call);
    if (!call_key_data_iv(call, &key, &data, &iv))
        return 0;
    return call_done(crypto_mac(mac, key.bytes, key.count, iv.bytes, iv.count, data.bytes,
                                data.count, call->out, call->capacity, &call->made, call->message,
                                call->size));
}

/* PAD BLOCK DATA */
static int call_pad(Call *call) {
    CallArg data;
    long block = 0;
    int read = call_number(call, 0, &block);

    if (read < 0)
        return 0;
    if (read == 0 || (block != 8 && block != 16))
        return call_fail(call, "pad block not 8 or 16");
    if (!call_bytes(call, 1, "data", 0, &data))
        return 0;
    return call_done(crypto_pad((size_t)block, data.bytes, data.count, call->out, call->capacity,
                                &call->made, call->message, call->size));
}

/* UNPAD DATA */
static int call_unpad(Call *call) {
    CallArg data;

    if (!call_bytes(call, 0, "data", 0, &data) ||
        !call_done(crypto_unpad(data.bytes, data.count, &call->made, call->message, call->size)))
        return 0;
    if (call->made > call->capacity)
        return call_fail(call, "result of %lu bytes does not fit in %lu", (unsigned long)call->made,
                         (unsigned long)call->capacity);
    memmove(call->out, data.bytes, call->made);
    return 1;
}

/* HASH ALG DATA */
static int call_hash(Call *call) {
    CallArg data;
    int hash = call_find(call, call_hashes, sizeof call_hashes / sizeof call_hashes[0]);

    if (hash < 0)
        return call_unknown_algorithm(call);
    if (!call_bytes(call, 1, "data", 0, &data))
        return 0;
    return call_done(crypto_hash(hash, data.bytes, data.count, call->out, call->capacity,
                                 &call->made, call->message, call->size));
}

/* RANDOM COUNT */
static int call_random(Call *call) {
    long count = 0;
    int read = call_number(call, 0, &count);

    if (read < 0)
        return 0;
    if (read == 0 || count < 1 || count > SCRIPT_CALL_RANDOM_MAX)
        return call_fail(call, "random count not 1 to %d", SCRIPT_CALL_RANDOM_MAX);
    if ((size_t)count > call->capacity)
        return call_fail(call, "result of %ld bytes does not fit in %lu", count,
                         (unsigned long)call->capacity);
    call->made = (size_t)count;
    return call_done(crypto_random(call->out, call->made, call->message, call->size));
}

/* XOR A B */
static int call_xor(Call *call) {
    CallArg a, b;

    if (!call_bytes(call, 0, "A", 0, &a) || !call_bytes(call, 1, "B", 1, &b))
        return 0;
    call->made = a.count;
    return call_done(crypto_xor(a.bytes, a.count, b.bytes, b.count, call->out, call->capacity,
                                call->message, call->size));
}

static int call_dispatch(Call *call, int function) {
    switch (function) {
        case CALL_ENCRYPT: return call_cipher(call, 0);
        case CALL_DECRYPT: return call_cipher(call, 1);
        case CALL_MAC: return call_mac(call);
        case CALL_PAD: return call_pad(call);
        case CALL_UNPAD: return call_unpad(call);
        case CALL_HASH: return call_hash(call);
        case CALL_RANDOM: return call_random(call);
        default: return call_xor(call);
    }
}

static int call_is(int function, const char *word, int length) {
    return strlen(call_table[function].name) == (size_t)length &&
           memcmp(call_table[function].name, word, (size_t)length) == 0;
}

int script_call_run(const ScriptValues *values, const char *text, ScriptCallSpace *space,
                    unsigned char *out, int capacity, int *count, char *message, size_t size) {
    Call call;
    int skipped = 0;
    int length = script_call_word(text, &skipped);
    const char *word = text + skipped;
    int function = 0;

    memset(&call, 0, sizeof call);
    call.values = values;
    call.space = space;
    call.out = out;
    call.capacity = capacity > 0 ? (size_t)capacity : 0;
    call.message = message;
    call.size = size;
    while (function < CALL_COUNT && !call_is(function, word, length))
        function++;
    if (length == 0 || function == CALL_COUNT)
        return call_fail(&call, "unknown function (%d character%s)", length,
                         length == 1 ? "" : "s");
    const CallInfo *info = &call_table[function];
    call_split(&call, word + length);
    if (call.tokens < info->least || call.tokens > info->most)
        return call_fail(&call, "%s takes %s", info->name, info->usage);
    int done = call_dispatch(&call, function);
    for (int slot = 0; slot < SCRIPT_CALL_BYTE_ARGS; slot++)
        crypto_wipe(space->bytes[slot], call.written[slot]);
    if (done)
        *count = (int)call.made;
    return done;
}

int script_call_known(const char *word, int length) {
    for (int function = 0; function < CALL_COUNT; function++)
        if (call_is(function, word, length))
            return 1;
    return 0;
}
