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

int apdu_text_to_bytes(const char *text, unsigned char *bytes, int *count) {
    int sound = 1;
    int n = 0;
    int open = 0;   /* a pair is open: first holds its first character */
    int spaces = 0; /* the open pair holds spaces */
    char first = 0;

    for (const char *p = text; *p; p++) {
        if (*p == ' ') {
            if (open)
                spaces = 1;
            continue;
        }
        if (!open) {
            first = *p;
            open = 1;
            spaces = 0;
            continue;
        }
        if (apdu_pair_convert(first, spaces, *p, &bytes[n]))
            n++;
        else
            sound = 0;
        open = 0;
    }
    /* A pair still open here is an odd last character: dropped. */
    *count = n;
    return sound;
}
