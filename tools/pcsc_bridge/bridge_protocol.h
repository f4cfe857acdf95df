/*
 * bridge_protocol.h: the wire format between the rig's winscard.dll (a Windows
 * program's side, under Wine) and the PC/SC bridge (a Linux process making the
 * real pcsc-lite calls). Included by both; needs only the C++ library.
 *
 * One TCP connection on 127.0.0.1 is one PC/SC context. Every message, either
 * way, is
 *     u32 size   bytes that follow (4 + payload), at most BRIDGE_MESSAGE_MAX
 *     u32 code   request: the operation; response: the PC/SC status code
 *     payload
 * All integers are little-endian 32-bit. A "blob" is a u32 length and that many
 * bytes. Values on the wire are the Windows ones (status codes, protocols, card
 * states, control codes); the bridge translates where pcsc-lite differs.
 *
 * Requests (payload -> response payload, sent whatever the status code):
 *   ESTABLISH   magic, scope                -> context id (for CANCEL)
 *   RELEASE     -                           -> -
 *   IS_VALID    -                           -> -
 *   LIST        -                           -> blob: reader multi-string
 *   WAIT        timeout, n, n x (state, blob name)
 *                                           -> n, n x (event state, blob ATR)
 *   CANCEL      context id of another connection -> -
 *   CONNECT     share, protocols, blob reader -> card, protocol
 *   RECONNECT   card, share, protocols, init  -> protocol
 *   DISCONNECT  card, disposition           -> -
 *   BEGIN       card                        -> -
 *   END         card, disposition           -> -
 *   STATUS      card                        -> state, protocol, blob names, blob ATR
 *   TRANSMIT    card, protocol, receive max, data...
 *                                           -> protocol, length, data...
 *   CONTROL     card, code, output max, data... -> length, data...
 *   ATTRIB      card, attribute id          -> blob value
 * A connection that sends anything else (an unknown operation, a size out of
 * range, a payload that does not parse) is closed; others are not affected.
 */
#ifndef VORLANE_BRIDGE_PROTOCOL_H
#define VORLANE_BRIDGE_PROTOCOL_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

enum {
    BRIDGE_DEFAULT_PORT = 35980,
    BRIDGE_MESSAGE_MAX = 1 << 20,
    BRIDGE_MAGIC = 0x31425056, /* "VPB1" */
    BRIDGE_WAIT_READERS_MAX = 64,
    BRIDGE_TRANSMIT_MAX = 65548, /* longest extended response and its status */
};

enum BridgeOp : uint32_t {
    BRIDGE_ESTABLISH = 1,
    BRIDGE_RELEASE,
    BRIDGE_IS_VALID,
    BRIDGE_LIST,
    BRIDGE_WAIT,
    BRIDGE_CANCEL,
    BRIDGE_CONNECT,
    BRIDGE_RECONNECT,
    BRIDGE_DISCONNECT,
    BRIDGE_BEGIN,
    BRIDGE_END,
    BRIDGE_STATUS,
    BRIDGE_TRANSMIT,
    BRIDGE_CONTROL,
    BRIDGE_ATTRIB,
};

/* Builds a message: the size field is filled in by bridge_put_finish. */
inline void bridge_put_u32(std::vector<uint8_t> &out, uint32_t value) {
    for (int i = 0; i < 4; i++)
        out.push_back((uint8_t)(value >> (8 * i)));
}

inline void bridge_put_bytes(std::vector<uint8_t> &out, const void *bytes, size_t length) {
    const uint8_t *p = (const uint8_t *)bytes;
    out.insert(out.end(), p, p + length);
}

inline void bridge_put_blob(std::vector<uint8_t> &out, const void *bytes, size_t length) {
    bridge_put_u32(out, (uint32_t)length);
    bridge_put_bytes(out, bytes, length);
}

inline void bridge_put_start(std::vector<uint8_t> &out, uint32_t code) {
    out.clear();
    bridge_put_u32(out, 0);
    bridge_put_u32(out, code);
}

inline void bridge_put_finish(std::vector<uint8_t> &out) {
    uint32_t size = (uint32_t)(out.size() - 4);
    for (int i = 0; i < 4; i++)
        out[i] = (uint8_t)(size >> (8 * i));
}

inline uint32_t bridge_u32_at(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Reads a payload; any read past its end sets `bad` and yields zeros. */
struct BridgeReader {
    const uint8_t *at;
    size_t left;
    bool bad;
};

inline BridgeReader bridge_reader(const std::vector<uint8_t> &payload) {
    return BridgeReader{payload.data(), payload.size(), false};
}

inline uint32_t bridge_get_u32(BridgeReader &in) {
    if (in.bad || in.left < 4) {
        in.bad = true;
        return 0;
    }
    uint32_t value = bridge_u32_at(in.at);
    in.at += 4;
    in.left -= 4;
    return value;
}

inline const uint8_t *bridge_get_bytes(BridgeReader &in, size_t length) {
    if (in.bad || in.left < length) {
        in.bad = true;
        return nullptr;
    }
    const uint8_t *p = in.at;
    in.at += length;
    in.left -= length;
    return p;
}

inline std::vector<uint8_t> bridge_get_blob(BridgeReader &in) {
    uint32_t length = bridge_get_u32(in);
    const uint8_t *p = bridge_get_bytes(in, length);
    return p ? std::vector<uint8_t>(p, p + length) : std::vector<uint8_t>();
}

/* The rest of the payload. */
inline std::vector<uint8_t> bridge_get_rest(BridgeReader &in) {
    std::vector<uint8_t> rest;
    if (!in.bad)
        rest.assign(in.at, in.at + in.left);
    in.at += in.left;
    in.left = 0;
    return rest;
}

/* True when the payload was read exactly to its end. */
inline bool bridge_done(const BridgeReader &in) {
    return !in.bad && in.left == 0;
}

#endif
