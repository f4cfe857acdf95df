/*
 * apdu_text.h: the APDU text form, hexadecimal text to command bytes.
 * No Win32 here.
 */
#ifndef VORLANE_APDU_TEXT_H
#define VORLANE_APDU_TEXT_H

#include <stddef.h>

/*
 * Turns text into bytes (bytes must hold strlen(text) / 2 bytes). Stores the
 * byte count in *count. Returns 1 when every pair was a hexadecimal number,
 * 0 when the text is faulty (and must not be sent).
 */
int apdu_text_to_bytes(const char *text, unsigned char *bytes, int *count);

/*
 * The same rule over a text that arrives in parts (a script's command
 * continued on further lines): feeding the parts one after the other gives
 * the bytes of their joined text. Zero it to start. Bytes beyond the
 * capacity given to apdu_text_feed are counted but not stored.
 */
struct ApduTextReader {
    long count; /* pairs converted so far, stored or not */
    int sound;  /* 1 until a pair fails to read */
    int open;   /* a pair is open: first holds its first character */
    int spaces; /* the open pair holds spaces */
    char first;
};

/* Starts a reader. */
void apdu_text_begin(ApduTextReader *reader);
/* Reads the next part of the text into bytes (capacity bytes, from the
   start of the whole text's bytes). */
void apdu_text_feed(ApduTextReader *reader, const char *text, unsigned char *bytes,
                    size_t capacity);

#endif
