/*
 * xfer_stat.h: one slot of the exchange statistics of card_transmit. No
 * Win32 here, so the line and statistics code builds and is tested natively.
 */
#ifndef VORLANE_XFER_STAT_H
#define VORLANE_XFER_STAT_H

struct XferStat {
    unsigned char header[6];      /* CLA INS P1 P2 length; 5 stored and compared */
    unsigned char status_word[3]; /* SW1 SW2; 2 stored and compared */
    int count;                    /* exchanges counted in the slot */
    int sum_ms;                   /* their total time in ms */
};

#endif
