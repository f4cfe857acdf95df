/*
 * scp_wrap_fuzz.cpp: an open secure channel fed any command to wrap and
 * any answer to unwrap. The channel is a published SCP03 session at
 * MAC+ENC+RMAC+RENC (AES-128 keys 00.., 10.., 20..), opened once; its chain
 * and counter then run on through every input. Byte 0 picks the way (bit
 * 0: unwrap, bit 1: the Le kept), the rest is the command or the answer.
 * Whatever its lengths say, nothing may be read or written past a buffer.
 */
#include <stdint.h>
#include <string.h>

#include "scp/scp.h"

static ScpSession *channel_open(ScpWork *work) {
    static ScpSession session;
    static const unsigned char host[8] = {0xFD, 0xF3, 0x82, 0x59, 0xA1, 0xE0, 0xDE, 0x44};
    static const unsigned char answer[32] = {0,    0,    0,    0,    0,    0,    0,    0,
                                             0,    0,    0x30, 0x03, 0x70, 0x3B, 0x1A, 0xCA,
                                             0x81, 0xE8, 0x21, 0xF2, 0x19, 0x08, 0x1C, 0xDC,
                                             0x01, 0xC2, 0x6B, 0x37, 0x2D, 0,    0,    0x03};
    ScpRequest request = {0x33, 0, 0, 0, -1, {0}, sizeof host, 0};
    ScpKeys keys;
    unsigned char command[SCP_AUTHENTICATE_SIZE];
    char message[SCP_MESSAGE_SIZE];
    int length;

    memcpy(request.host, host, sizeof host);
    keys.length = 16;
    for (int i = 0; i < 16; i++)
        keys.enc[i] = (unsigned char)i, keys.mac[i] = (unsigned char)(0x10 + i),
        keys.dek[i] = (unsigned char)(0x20 + i);
    if (scp_authenticate(&session, &request, &keys, answer, sizeof answer, command, &length, work,
                         message, sizeof message) != SCP_OK)
        __builtin_trap(); /* the published session must open */
    return &session;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ScpWork work;
    static ScpSession *session = channel_open(&work);
    static unsigned char bytes[XFER_BUFFER_SIZE], out[XFER_COMMAND_MAX];
    char message[SCP_MESSAGE_SIZE];
    int length, n = (int)size - 1;

    if (size < 1 || size - 1 > (data[0] & 1 ? XFER_RESPONSE_MAX : sizeof bytes))
        return 0;
    memcpy(bytes, data + 1, (size_t)n);
    if (data[0] & 1)
        scp_unwrap(session, bytes, n, &length, &work, message, sizeof message);
    else
        scp_wrap(session, bytes, n, data[0] & 2, out, (int)sizeof out, &length, &work, message,
                 sizeof message);
    return 0;
}
