/*
 * script_call.cpp: the functions of "/SET NAME FUNCTION ARG...", without
 * Win32: one table of the functions (name and arguments, which the
 * dispatch and the usage reason both read), the words a script writes
 * for the algorithms, the arguments read in order by the script's one
 * argument reader (script_words.h), and the call into crypto/crypto.h.
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
#include "script/script_words.h"

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

/* The script's words for the algorithms (case counts) */
static const ScriptName call_ciphers[] = {
    {"DES-ECB", CRYPTO_DES_ECB},   {"DES-CBC", CRYPTO_DES_CBC}, {"3DES-ECB", CRYPTO_3DES_ECB},
    {"3DES-CBC", CRYPTO_3DES_CBC}, {"AES-ECB", CRYPTO_AES_ECB}, {"AES-CBC", CRYPTO_AES_CBC},
};

static const ScriptName call_macs[] = {
    {"CMAC-AES", CRYPTO_MAC_CMAC_AES}, {"CMAC-3DES", CRYPTO_MAC_CMAC_3DES},
    {"RETAIL", CRYPTO_MAC_RETAIL},     {"CBC-DES", CRYPTO_MAC_CBC_DES},
    {"CBC-3DES", CRYPTO_MAC_CBC_3DES}, {"CBC-AES", CRYPTO_MAC_CBC_AES},
};

static const ScriptName call_hashes[] = {
    {"SHA-1", CRYPTO_SHA1},     {"SHA-224", CRYPTO_SHA224}, {"SHA-256", CRYPTO_SHA256},
    {"SHA-384", CRYPTO_SHA384}, {"SHA-512", CRYPTO_SHA512},
};

/* One call: its arguments and where its result goes */
struct Call {
    ScriptArgs args; /* the arguments, read in order; the reason of a failure */
    ScriptCallSpace *space;
    int given;                             /* arguments given */
    size_t written[SCRIPT_CALL_BYTE_ARGS]; /* bytes written into each slot: wiped at the end */
    unsigned char *out;
    size_t capacity, made; /* out's room and the bytes of the result */
};

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

int script_call_word(const char *text, int *skipped) {
    int length = 0;
    const char *at = text;
    const char *word = script_word_next(&at, &length);

    *skipped = (int)(word - text);
    return call_word_length(word, length);
}

static int call_fail(Call *call, const char *format, ...) __attribute__((format(printf, 2, 3)));

static int call_fail(Call *call, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(call->args.message, call->args.size, format, args);
    va_end(args);
    return 0;
}

/* The next argument as bytes, written into the space's slot unless it is
   one whole reference. role names it in a reason. */
static int call_bytes(Call *call, const char *role, int slot, ScriptArg *arg) {
    int status =
        script_args_bytes(&call->args, role, call->space->bytes[slot], SCRIPT_VALUE_MAX, arg);

    if (arg->written > call->written[slot])
        call->written[slot] = arg->written;
    return status == SCRIPT_ARG_OK;
}

/* The algorithm the next argument names in a table of count words; -1 for
   none, named by its length: a word that is not a name may be key bytes
   written in the wrong place. */
static int call_algorithm(Call *call, const ScriptName *names, size_t count) {
    int length = 0;
    const char *word = script_args_word(&call->args, &length);
    int found = script_word_find(word, length, names, count);

    if (found < 0)
        call_fail(call, "unknown algorithm (%d character%s)", length, length == 1 ? "" : "s");
    return found;
}

/* The library's answer: 1 for done, else its reason is already in message. */
static int call_done(int status) {
    return status == CRYPTO_OK;
}

/* KEY DATA [IV] after an algorithm's name; 0 with the reason given. */
static int call_key_data_iv(Call *call, ScriptArg *key, ScriptArg *data, ScriptArg *iv) {
    return call_bytes(call, "key", 0, key) && call_bytes(call, "data", 1, data) &&
           (call->given <= 3 || call_bytes(call, "IV", 2, iv));
}

/* ENCRYPT and DECRYPT: ALG KEY DATA [IV]. */
static int call_cipher(Call *call, int decrypt) {
    ScriptArg key, data, iv = {0, 0, 0};
    int cipher = call_algorithm(call, call_ciphers, sizeof call_ciphers / sizeof call_ciphers[0]);
    char *message = call->args.message;
    size_t size = call->args.size;

    if (cipher < 0 || !call_key_data_iv(call, &key, &data, &iv))
        return 0;
    call->made = data.count;
    if (decrypt)
        return call_done(crypto_decrypt(cipher, key.bytes, key.count, iv.bytes, iv.count,
                                        data.bytes, data.count, call->out, call->capacity, message,
                                        size));
    return call_done(crypto_encrypt(cipher, key.bytes, key.count, iv.bytes, iv.count, data.bytes,
                                    data.count, call->out, call->capacity, message, size));
}

/* MAC ALG KEY DATA [IV] */
static int call_mac(Call *call) {
    ScriptArg key, data, iv = {0, 0, 0};
    int mac = call_algorithm(call, call_macs, sizeof call_macs / sizeof call_macs[0]);

    if (mac < 0 || !call_key_data_iv(call, &key, &data, &iv))
        return 0;
    return call_done(crypto_mac(mac, key.bytes, key.count, iv.bytes, iv.count, data.bytes,
                                data.count, call->out, call->capacity, &call->made,
                                call->args.message, call->args.size));
}

/* PAD BLOCK DATA */
static int call_pad(Call *call) {
    ScriptArg data;
    long block = 0;
    int read = script_args_number(&call->args, "BLOCK", &block);

    if (read == SCRIPT_ARG_REFERENCE)
        return 0;
    if (read != SCRIPT_ARG_OK || (block != 8 && block != 16))
        return call_fail(call, "pad block not 8 or 16");
    if (!call_bytes(call, "data", 0, &data))
        return 0;
    return call_done(crypto_pad((size_t)block, data.bytes, data.count, call->out, call->capacity,
                                &call->made, call->args.message, call->args.size));
}

/* UNPAD DATA */
static int call_unpad(Call *call) {
    ScriptArg data;

    if (!call_bytes(call, "data", 0, &data) ||
        !call_done(
            crypto_unpad(data.bytes, data.count, &call->made, call->args.message, call->args.size)))
        return 0;
    if (call->made > call->capacity)
        return call_fail(call, "result of %lu bytes does not fit in %lu", (unsigned long)call->made,
                         (unsigned long)call->capacity);
    memmove(call->out, data.bytes, call->made);
    return 1;
}

/* HASH ALG DATA */
static int call_hash(Call *call) {
    ScriptArg data;
    int hash = call_algorithm(call, call_hashes, sizeof call_hashes / sizeof call_hashes[0]);

    if (hash < 0 || !call_bytes(call, "data", 0, &data))
        return 0;
    return call_done(crypto_hash(hash, data.bytes, data.count, call->out, call->capacity,
                                 &call->made, call->args.message, call->args.size));
}

/* RANDOM COUNT */
static int call_random(Call *call) {
    long count = 0;
    int read = script_args_number(&call->args, "COUNT", &count);

    if (read == SCRIPT_ARG_REFERENCE)
        return 0;
    if (read != SCRIPT_ARG_OK || count < 1 || count > SCRIPT_CALL_RANDOM_MAX)
        return call_fail(call, "random count not 1 to %d", SCRIPT_CALL_RANDOM_MAX);
    if ((size_t)count > call->capacity)
        return call_fail(call, "result of %ld bytes does not fit in %lu", count,
                         (unsigned long)call->capacity);
    call->made = (size_t)count;
    return call_done(crypto_random(call->out, call->made, call->args.message, call->args.size));
}

/* XOR A B */
static int call_xor(Call *call) {
    ScriptArg a, b;

    if (!call_bytes(call, "A", 0, &a) || !call_bytes(call, "B", 1, &b))
        return 0;
    call->made = a.count;
    return call_done(crypto_xor(a.bytes, a.count, b.bytes, b.count, call->out, call->capacity,
                                call->args.message, call->args.size));
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
    return script_word_is(word, length, call_table[function].name);
}

int script_call_run(const ScriptValues *values, const char *text, ScriptCallSpace *space,
                    unsigned char *out, int capacity, int *count, char *message, size_t size) {
    Call call;
    int skipped = 0;
    int length = script_call_word(text, &skipped);
    const char *word = text + skipped;
    int function = 0;

    memset(&call, 0, sizeof call);
    script_args_begin(&call.args, values, word + length, message, size);
    call.space = space;
    call.out = out;
    call.capacity = capacity > 0 ? (size_t)capacity : 0;
    while (function < CALL_COUNT && !call_is(function, word, length))
        function++;
    if (length == 0 || function == CALL_COUNT)
        return call_fail(&call, "unknown function (%d character%s)", length,
                         length == 1 ? "" : "s");
    const CallInfo *info = &call_table[function];
    call.given = script_words_count(word + length);
    if (call.given < info->least || call.given > info->most)
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
