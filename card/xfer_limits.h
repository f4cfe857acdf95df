/*
 * xfer_limits.h: the capacity contract of every APDU exchange. A command
 * or response buffer anywhere in the program is declared from these
 * constants, and each exchange is told the capacity of the buffer that
 * receives its response. No Win32 here.
 *
 * ISO/IEC 7816-4's extended length sets the limits: a command carries at
 * most 65,535 data bytes behind a three-byte Lc and asks with a two-byte Le
 * for at most 65,536 response bytes, which the status word follows.
 */
#ifndef VORLANE_XFER_LIMITS_H
#define VORLANE_XFER_LIMITS_H

enum {
    /* the largest response: 65,536 data bytes, SW1, SW2 */
    XFER_RESPONSE_MAX = 65536 + 2,
    /* the largest command: CLA INS P1 P2, Lc of three bytes, 65,535 data
       bytes, Le of two bytes */
    XFER_COMMAND_MAX = 4 + 3 + 65535 + 2,
    /* a buffer that takes any command and then its response */
    XFER_BUFFER_SIZE = XFER_COMMAND_MAX > XFER_RESPONSE_MAX ? XFER_COMMAND_MAX : XFER_RESPONSE_MAX,
    /* the response capacity card_transmit has always given its callers */
    CARD_TRANSMIT_CAPACITY = 512,
};

static_assert(CARD_TRANSMIT_CAPACITY <= XFER_RESPONSE_MAX,
              "a capacity within the largest response");

#endif
