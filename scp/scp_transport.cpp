/*
 * scp_transport.cpp: how a secure channel's commands and answers travel
 * under T=0. GET RESPONSE is transport: it goes out as written on the
 * channel's logical channel, never wrapped, and the answer it brings is
 * unwrapped as the answer of the command before it. A 61xx is followed by
 * GET RESPONSE on the channel; a 6Cxx by the command again with the Le
 * the card asked for, but never a command without Le: its MAC would be
 * counted twice towards locking the card. At R-MAC levels an answer that
 * comes in parts is joined, since its R-MAC covers the whole.
 *
 * No state here: the joined answer is the caller's record.
 */
#include "scp/scp.h"

#include <string.h>

enum {
    SCP_SW_MORE = 0x61,     /* 61xx: xx more bytes for GET RESPONSE */
    SCP_SW_WRONG_LE = 0x6C, /* 6Cxx: the command again with Le xx */
    SCP_INS_GET_RESPONSE = 0xC0,
};

int scp_is_transport(const unsigned char *command, int length) {
    return length >= 4 && (command[0] & 0x80) == 0 && command[1] == SCP_INS_GET_RESPONSE;
}

int scp_follow_up(int channel, const unsigned char *command, int count, const unsigned char *answer,
                  int received, int joining, unsigned char *out) {
    if (received < 2 || count < 4)
        return 0;
    unsigned char sw1 = answer[received - 2], sw2 = answer[received - 1];
    if (sw1 == SCP_SW_MORE && (received == 2 || joining)) {
        out[0] = scp_channel_cla(0, channel);
        out[1] = SCP_INS_GET_RESPONSE;
        out[2] = out[3] = 0x00;
        out[4] = sw2;
        return 5;
    }
    int le = scp_apdu_le_bytes(command, count);
    if (sw1 != SCP_SW_WRONG_LE || received != 2 || le == 0)
        return 0;
    memmove(out, command, (size_t)count);
    if (le == 2) /* an extended Le: 00 stands for 256 there too */
        out[count - 2] = sw2 == 0 ? 0x01 : 0x00;
    out[count - 1] = sw2;
    return count;
}

/* Adds bytes to the joined answer; 0 when they do not fit. */
static int scp_join_add(ScpJoined *joined, const unsigned char *bytes, int count) {
    int at = joined->length < 0 ? 0 : joined->length;

    if (count > XFER_RESPONSE_MAX - at)
        return 0;
    memcpy(joined->bytes + at, bytes, (size_t)count);
    joined->length = at + count;
    return 1;
}

int scp_join(const ScpSession *session, ScpJoined *joined, unsigned char *answer, int received) {
    if (!(session->level & SCP_LEVEL_RMAC))
        return received;
    if (received >= 2 && answer[received - 2] == SCP_SW_MORE)
        return scp_join_add(joined, answer, received - 2) ? -1 : -2;
    if (joined->length < 0)
        return received;
    if (!scp_join_add(joined, answer, received))
        return -2;
    received = joined->length;
    memcpy(answer, joined->bytes, (size_t)received);
    joined->length = -1;
    return received;
}
