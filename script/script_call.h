/*
 * script_call.h: the functions of "/SET NAME FUNCTION ARG...", without
 * Win32. A function gives NAME the bytes it computes over its arguments:
 *
 *   ENCRYPT ALG KEY DATA [IV]   DES-ECB DES-CBC 3DES-ECB 3DES-CBC AES-ECB AES-CBC
 *   DECRYPT ALG KEY DATA [IV]
 *   MAC ALG KEY DATA [IV]       CMAC-AES CMAC-3DES RETAIL CBC-DES CBC-3DES CBC-AES
 *   PAD BLOCK DATA              ISO/IEC 9797-1 padding method 2, BLOCK 8 or 16
 *   UNPAD DATA                  its removal
 *   HASH ALG DATA               SHA-1 SHA-224 SHA-256 SHA-384 SHA-512
 *   RANDOM COUNT                COUNT bytes, 1 to 65,538
 *   XOR A B                     two values of equal length
 *
 * Each argument is one token (blanks separate them), its references
 * resolved on their own: hexadecimal pairs without blanks and references
 * where a pair begins ("$K", "$R[0:8]", "00$K"); an empty value is an
 * empty argument. BLOCK and COUNT are decimal, or a reference read as a
 * number, high byte first. Reasons for a failure never quote an argument,
 * which may be a key.
 */
#ifndef VORLANE_SCRIPT_CALL_H
#define VORLANE_SCRIPT_CALL_H

#include <stddef.h>

#include "script/script_values.h"

enum {
    SCRIPT_CALL_BYTE_ARGS = 3, /* byte arguments of one call, at most (KEY DATA IV) */
    SCRIPT_CALL_RANDOM_MAX = SCRIPT_VALUE_MAX, /* bytes RANDOM gives, at most */
    SCRIPT_CALL_WORD_MAX = 32, /* characters of a function or algorithm name quoted */
};

/* Room for the byte arguments that are written out rather than one whole
   reference (those are read where the value holds them). */
struct ScriptCallSpace {
    unsigned char bytes[SCRIPT_CALL_BYTE_ARGS][SCRIPT_VALUE_MAX];
};

/* Exports from script/script_call.cpp; every routine runs on any thread. */

/* The length of the function word that text (after NAME) starts with,
   blanks before it skipped through *skipped; 0 when text is no function
   line. A function word is letters, digits, '-' and '_', starting with a
   letter, and not hexadecimal pairs alone ("DEAD" is two bytes). */
int script_call_word(const char *text, int *skipped);

/* 1 when word (length characters) names one of the functions. */
int script_call_known(const char *word, int length);

/* Carries out the function line text (after NAME) into out, at most
   capacity bytes, and their count into *count. 1 when done; 0 with the
   reason in message ("key of 15 bytes for AES-ECB", "unknown function
   (8 characters)", "XOR of 4 and 5 bytes", ...). The arguments written out
   into space are wiped before it returns. */
int script_call_run(const ScriptValues *values, const char *text, ScriptCallSpace *space,
                    unsigned char *out, int capacity, int *count, char *message, size_t size);

#endif
