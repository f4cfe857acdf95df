/*
 * apdu_text.cpp: the APDU text form, the rule by which typed hexadecimal text
 * becomes command bytes. The Command dialog and the script interpreter both
 * read APDU text through here, so a line means the same bytes everywhere.
 *
 * Only the space character separates. A byte pair is one non-space
 * character, any number of spaces, and the next non-space character; the
 * pair is converted with scanf's "%x", whose leniency is part of the form:
 * "A 4" gives 0A (the conversion stops at the space), "4G" gives 04, "-1"
 * gives FF (a sign is accepted), a leading tab is skipped, "0x" gives 00.
 * A pair where "%x" finds no number marks the whole text as faulty.
 */
#include "dialogs/apdu_text.h"

#include <stdio.h>

/* Converts one closed pair. The spaces inside a pair only ever stop or get
   skipped by "%x", so one space stands for any number of them: the
   converted text is at most three characters and never needs a buffer the
   size of the pair. Returns 1 and the low 8 bits of the number, or 0 when no
   number was found ("%x" gives 0 or, for an all-blank pair, EOF). */
static int apdu_pair_convert(char first, int spaces, char last, unsigned char *byte) {
    char pair[4];
    int n = 0;
    unsigned value = 0;

    pair[n++] = first;
    if (spaces)
        pair[n++] = ' ';
    pair[n++] = last;
    pair[n] = 0;
    if (sscanf(pair, "%x", &value) != 1)
        return 0;
    *byte = (unsigned char)(value & 0xFF);
    return 1;
}

void apdu_text_begin(ApduTextReader *reader) {
    reader->count = 0;
    reader->sound = 1;
    reader->open = 0;
    reader->spaces = 0;
    reader->first = 0;
}

void apdu_text_feed(ApduTextReader *reader, const char *text, unsigned char *bytes,
                    size_t capacity) {
    unsigned char byte;

    for (const char *p = text; *p; p++) {
        if (*p == ' ') {
            if (reader->open)
                reader->spaces = 1;
            continue;
        }
        if (!reader->open) {
            reader->first = *p;
            reader->open = 1;
            reader->spaces = 0;
            continue;
        }
        reader->open = 0;
        if (!apdu_pair_convert(reader->first, reader->spaces, *p, &byte)) {
            reader->sound = 0;
            continue;
        }
        if ((size_t)reader->count < capacity)
            bytes[reader->count] = byte;
        reader->count++;
    }
}

/* A pair still open at the end of the text is an odd last character:
   dropped. */
int apdu_text_to_bytes(const char *text, unsigned char *bytes, int *count) {
    ApduTextReader reader;

    apdu_text_begin(&reader);
    apdu_text_feed(&reader, text, bytes, (size_t)-1);
    *count = (int)reader.count;
    return reader.sound;
}
