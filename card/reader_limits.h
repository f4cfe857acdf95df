/*
 * reader_limits.h: how much of the platform's reader list Vorlane keeps:
 * the list as one multi-string, one reader's name, and how many names. No
 * Win32 and no PC/SC here, so the runner's reader choice sizes its tables
 * from the same limits natively.
 */
#ifndef VORLANE_READER_LIMITS_H
#define VORLANE_READER_LIMITS_H

enum {
    READER_NAMES_SIZE = 16000, /* a reader list as one multi-string */
    READER_NAME_SIZE = 1024,   /* one reader's name and its NUL */
    READER_LIST_MAX = 4096,    /* names taken from one list */
};

#endif
