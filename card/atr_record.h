/*
 * atr_record.h: one known card of the ATR table (atr.txt). No Win32 here,
 * so the table parser builds and is tested natively.
 */
#ifndef VORLANE_ATR_RECORD_H
#define VORLANE_ATR_RECORD_H

struct AtrRecord {
    char name[32];      /* printed when the ATR matches; at most 31 characters */
    char atr_text[256]; /* upper-case hex, two digits a byte, no separators */
    int value;          /* third field of the line; kept, read by nothing */
    char script[64];    /* script file run for this card; at most 63 characters */
};

#endif
