/*
 * script_words.h: a directive's arguments, without Win32: the one word
 * splitter and the one argument reader of the script language, for the
 * functions of "/SET NAME FUNCTION ARG...", for "/SCP" and for every
 * directive written like them.
 *
 * Words are separated by blanks (spaces and tabs). An argument is a
 * keyword, bytes (hexadecimal pairs without blanks, and references where
 * a pair begins: "$K", "$R[0:8]", "00$K"; a value of no bytes is an empty
 * argument, not a missing one) or a number (decimal, or a reference read
 * high byte first). A reason never quotes a word: it may be key bytes
 * written in the wrong place, so it names the argument's role or its
 * length.
 */
#ifndef VORLANE_SCRIPT_WORDS_H
#define VORLANE_SCRIPT_WORDS_H

#include <stddef.h>

#include "script/script_values.h"

enum {
    SCRIPT_NUMBER_MAX = 10000000, /* a number past this stops growing: beyond any count */
};

/* A keyword and what it stands for */
struct ScriptName {
    const char *word;
    int value;
};

/* The reader over one directive's text. Set by script_args_begin; it
   holds no state of its own beyond the place it has read to. */
struct ScriptArgs {
    const ScriptValues *values; /* references are read here */
    const char *at;             /* the text not read yet */
    char *message;              /* the reason of a failure (size bytes) */
    size_t size;
};

/* What reading an argument gave */
enum {
    SCRIPT_ARG_OK = 0,
    SCRIPT_ARG_MISSING,    /* no word was left */
    SCRIPT_ARG_REFERENCE,  /* a reference cannot be made ("unknown value K") */
    SCRIPT_ARG_NOT_PAIRS,  /* not whole hexadecimal pairs */
    SCRIPT_ARG_TOO_LONG,   /* more bytes than the room takes */
    SCRIPT_ARG_NOT_NUMBER, /* neither decimal digits nor one reference */
};

/* One byte argument, read */
struct ScriptArg {
    const unsigned char *bytes; /* never 0, even for no bytes */
    size_t count;
    size_t written; /* bytes written into the caller's room: it wipes them */
};

/* Exports from script/script_words.cpp; every routine runs on any thread. */

/* The next word from *at (blanks before it skipped): its start, its length
   into *length (0 at the end of the text); *at moves past it. */
const char *script_word_next(const char **at, int *length);
/* The words left in text. */
int script_words_count(const char *text);
/* 1 when word (length characters) is name; case counts. */
int script_word_is(const char *word, int length, const char *name);
/* The value of word in names (count of them), or -1. */
int script_word_find(const char *word, int length, const ScriptName *names, size_t count);

/* A reader over text, its references read in values, its reasons into
   message (size bytes). */
void script_args_begin(ScriptArgs *args, const ScriptValues *values, const char *text,
                       char *message, size_t size);
/* The next word, taken; 0 when none is left (*length 0). */
const char *script_args_word(ScriptArgs *args, int *length);
/* The next word as bytes, taken: one whole reference is read where its
   value holds it, any other word is written into room (capacity bytes,
   at most SCRIPT_VALUE_MAX). role names the argument in a reason ("key is
   not whole hexadecimal pairs", "A longer than 65538 bytes", "data is
   missing"). SCRIPT_ARG_*. */
int script_args_bytes(ScriptArgs *args, const char *role, unsigned char *room, size_t capacity,
                      ScriptArg *arg);
/* The next word as a number, taken: decimal digits, or one reference
   read high byte first; it stops growing once past SCRIPT_NUMBER_MAX.
   SCRIPT_ARG_*, the reason naming role. */
int script_args_number(ScriptArgs *args, const char *role, long *value);

#endif
