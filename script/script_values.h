/*
 * script_values.h: the values of the script language, without Win32. A
 * value is a named sequence of bytes (a script sets it with "/SET NAME
 * TEXT"; R and SW always hold the last final response's data and status
 * word), and a reference puts a value, a slice of it or its length where a
 * byte pair would begin in an APDU line, a "/SET" text, an "/EXPECT"
 * pattern or a "/REPEAT" count:
 *
 *   $NAME        its bytes
 *   $NAME[i:j]   bytes i up to but not including j, from 0; either bound
 *                may be left out; a negative bound counts from the end
 *   $#NAME       its length as one byte
 *   $##NAME      its length as two bytes, high byte first
 *
 * A name is letters, digits and underscores, starting with a letter;
 * case-sensitive.
 */
#ifndef VORLANE_SCRIPT_VALUES_H
#define VORLANE_SCRIPT_VALUES_H

#include <stddef.h>

#include "card/xfer_limits.h"

enum {
    SCRIPT_VALUES_MAX = 64,               /* names a run holds, R and SW not counted */
    SCRIPT_VALUE_NAME_SIZE = 64,          /* a name of at most 63 characters and its NUL */
    SCRIPT_VALUE_MAX = XFER_RESPONSE_MAX, /* bytes of one value, at most */
    SCRIPT_VALUE_MESSAGE_SIZE = 160,      /* why a reference or a value failed */
};

/* One value; its bytes are a temporary buffer of the run. */
struct ScriptValue {
    char name[SCRIPT_VALUE_NAME_SIZE];
    unsigned char *bytes; /* 0 while empty */
    int length, size;     /* bytes held and allocated */
};

/* The values of a run (in the runner, of a card) and the response R and SW
   are taken from. Zero it to start; free it with script_values_free. */
struct ScriptValues {
    ScriptValue values[SCRIPT_VALUES_MAX];
    int count;
    unsigned char *response; /* the last final response (R and SW), or 0 before any */
    int response_length, response_size;
};

/* A reference as written */
struct ScriptReference {
    int kind;         /* SCRIPT_REF_BYTES, SCRIPT_REF_LENGTH1, SCRIPT_REF_LENGTH2 */
    const char *name; /* points into the text */
    int name_length;
    int sliced;         /* 1: [i:j] follows the name */
    int has_from, from; /* i, when given */
    int has_to, to;     /* j, when given */
    const char *slice;  /* the "[i:j]" as written, for messages */
    int slice_length;
};

enum { SCRIPT_REF_BYTES, SCRIPT_REF_LENGTH1, SCRIPT_REF_LENGTH2 };

/* Exports from script/script_values.cpp */
/* 1 when text[0..length) is a name a script may give (not R or SW). */
int script_value_name_ok(const char *text, int length);
/* Reads a reference at text ('$' first); the characters it takes, or 0
   when text holds none there (it is then no reference at all). */
int script_reference_read(const char *text, ScriptReference *reference);
/* The bytes reference stands for: *bytes points into the value (or into
   small, for a length), *count their number. 0 with the reason in message
   ("unknown value NAME", "NAME[i:j] outside its N bytes", "length of NAME
   does not fit") when it cannot be made. */
int script_reference_bytes(const ScriptValues *values, const ScriptReference *reference,
                           const unsigned char **bytes, int *count, unsigned char small[2],
                           char *message, size_t size);
/* Gives the value named name (a name script_value_name_ok accepts) the
   count bytes. 0 with the reason in message when the run holds 64 names
   already or memory runs out. */
int script_value_set(ScriptValues *values, const char *name, const unsigned char *bytes, int count,
                     char *message, size_t size);
/* The value named name goes, its bytes wiped (nothing when there is
   none). */
void script_value_remove(ScriptValues *values, const char *name);
/* Keeps a final response for R and SW; 0 when memory runs out (R and SW
   are then empty). */
int script_values_response(ScriptValues *values, const unsigned char *bytes, int count);
/* Makes room for a response of count bytes, so that an exchange can write
   it in place (then only response_length is set); 0 when memory runs out. */
int script_values_room(ScriptValues *values, int count);
/* Copies every value of from into to (R and SW excepted); 0 when memory
   runs out. */
int script_values_copy(ScriptValues *to, const ScriptValues *from);
void script_values_free(ScriptValues *values);

/* How a text's byte pairs are told apart */
enum {
    SCRIPT_EXPAND_APDU = 0,    /* any two non-blank characters (the APDU text form) */
    SCRIPT_EXPAND_PATTERN = 1, /* two hexadecimal digits or X ("/EXPECT", "/SET") */
};

/*
 * Text with its references replaced by their bytes in hexadecimal, into
 * out (size bytes, terminated): a reference is read only where a byte pair
 * would begin (open: the text starts inside a pair). 1 when done; 0 with
 * the reason in message when a reference cannot be made or the text does
 * not fit.
 */
int script_text_expand(const ScriptValues *values, const char *text, int mode, int open, char *out,
                       size_t size, char *message, size_t message_size);

#endif
