/*
 * scp_wrap_fuzz.cpp: an open secure channel fed any command to wrap and
 * any answer to unwrap. The channel is a published SCP03 session at
 * MAC+ENC+RMAC+RENC (AES-128), opened once; its chain and counter then run
 * on through every input. Byte 0 picks the way (bit 0: unwrap, bit 1: the
 * Le kept), the rest is the command or the answer. Whatever its lengths
 * say, nothing may be read or written past a buffer.
 */
#include <stdint.h>
#include <string.h>

#include "scp/scp.h"

namespace {

int hex_into(const char *text, unsigned char *bytes) {
    int n = 0;
    for (; text[0] && text[1]; text += 2, n++) {
        auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        bytes[n] = (unsigned char)(digit(text[0]) << 4 | digit(text[1]));
    }
    return n;
}

ScpSession *channel_open(ScpWork *work) {
    static ScpSession session;
    ScpRequest request;
    ScpKeys keys;
    unsigned char answer[64], command[SCP_AUTHENTICATE_SIZE];
    char message[SCP_MESSAGE_SIZE];
    int length;

    memset(&request, 0, sizeof request);
    request.level = 0x33;
    request.scp02_i = -1;
    request.host_length = (size_t)hex_into("fdf38259a1e0de44", request.host);
    keys.length = (size_t)hex_into("000102030405060708090a0b0c0d0e0f", keys.enc);
    hex_into("101112131415161718191a1b1c1d1e1f", keys.mac);
    hex_into("202122232425262728292a2b2c2d2e2f", keys.dek);
    int n = hex_into("000000000000000000003003703B1ACA81E821F219081CDC01C26B372D000003", answer);
    if (scp_authenticate(&session, &request, &keys, answer, (size_t)n, command, &length, work,
                         message, sizeof message) != SCP_OK)
        __builtin_trap(); /* the published session must open */
    return &session;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static ScpWork work;
    static ScpSession *session = channel_open(&work);
    static unsigned char bytes[XFER_BUFFER_SIZE];
    char message[SCP_MESSAGE_SIZE];
    int length;

    if (size < 1 || size - 1 > sizeof bytes)
        return 0;
    int n = (int)(size - 1);
    memcpy(bytes, data + 1, (size_t)n);
    if (data[0] & 1) {
        if (n <= XFER_RESPONSE_MAX)
            scp_unwrap(session, bytes, n, &length, &work, message, sizeof message);
    } else {
        static unsigned char out[XFER_COMMAND_MAX];
        scp_wrap(session, bytes, n, data[0] & 2, out, (int)sizeof out, &length, &work, message,
                 sizeof message);
    }
    return 0;
}
