/*
 * bridge_calls.cpp: each request of a client, made as the pcsc-lite call and
 * answered in the Windows form. Every handler first reads its whole payload
 * (a payload that does not parse exactly is a bad request), then calls, then
 * writes its response payload in full whatever the status code, so the client
 * can always read the same shape.
 */
#include "tools/pcsc_bridge/bridge.h"

#include <chrono>
#include <mutex>

#include <PCSC/reader.h>

#include "tools/pcsc_bridge/bridge_protocol.h"

namespace {

/* Live contexts by registry id, for CANCEL from another connection. A client
   leaves the registry before its context is released, and CANCEL calls
   SCardCancel with the lock held, so it never touches a released context. */
std::mutex registry_lock;
std::map<uint32_t, BridgeClient *> registry;
uint32_t registry_next = 1;

/* A wait is made in slices so that a client that goes away during a long or
   endless wait is noticed and its thread ends. */
const DWORD wait_slice_ms = 250;
const DWORD wait_infinite = 0xFFFFFFFF;

/* Windows protocol value for raw transfer, and its "default" flag. */
const uint32_t windows_protocol_raw = 0x10000;
const uint32_t windows_protocol_default = 0x80000000;

typedef bool (*Handler)(BridgeClient &, BridgeReader &, LONG &, std::vector<uint8_t> &);

bool card_find(BridgeClient &client, uint32_t number, SCARDHANDLE &handle, LONG &rv) {
    auto found = client.cards.find(number);
    if (!client.established || found == client.cards.end()) {
        rv = SCARD_E_INVALID_HANDLE;
        return false;
    }
    handle = found->second;
    return true;
}

bool op_establish(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t magic = bridge_get_u32(in), scope = bridge_get_u32(in);
    if (!bridge_done(in) || magic != BRIDGE_MAGIC || client.established)
        return false;
    rv = SCardEstablishContext(scope, nullptr, nullptr, &client.context);
    if (rv == SCARD_S_SUCCESS) {
        client.established = true;
        std::lock_guard<std::mutex> hold(registry_lock);
        client.id = registry_next++;
        registry[client.id] = &client;
    }
    bridge_put_u32(body, client.established ? client.id : 0);
    return true;
}

bool op_release(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &) {
    if (!bridge_done(in))
        return false;
    if (!client.established) {
        rv = SCARD_E_INVALID_HANDLE;
        return true;
    }
    bridge_client_release(client);
    rv = SCARD_S_SUCCESS;
    return true;
}

bool op_is_valid(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &) {
    if (!bridge_done(in))
        return false;
    rv = client.established ? SCardIsValidContext(client.context) : SCARD_E_INVALID_HANDLE;
    return true;
}

bool op_list(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    if (!bridge_done(in))
        return false;
    std::vector<char> names;
    rv = SCARD_E_INVALID_HANDLE;
    for (int attempt = 0; client.established && attempt < 3; attempt++) {
        DWORD length = 0;
        rv = SCardListReaders(client.context, nullptr, nullptr, &length);
        if (rv != SCARD_S_SUCCESS)
            break;
        names.resize(length);
        rv = SCardListReaders(client.context, nullptr, names.data(), &length);
        names.resize(rv == SCARD_S_SUCCESS ? length : 0);
        if (rv != SCARD_E_INSUFFICIENT_BUFFER) /* the list grew in between: again */
            break;
    }
    bridge_put_blob(body, names.data(), names.size());
    return true;
}

/* SCardGetStatusChange in slices; false when the client went away. */
bool wait_sliced(BridgeClient &client, DWORD timeout, SCARD_READERSTATE *states, DWORD count,
                 LONG &rv) {
    auto start = std::chrono::steady_clock::now();
    client.cancelled = false;
    for (;;) {
        DWORD slice = wait_slice_ms;
        if (timeout != wait_infinite) {
            auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
            DWORD left = spent >= (long)timeout ? 0 : timeout - (DWORD)spent;
            slice = left < slice ? left : slice;
        }
        rv = SCardGetStatusChange(client.context, slice, states, count);
        if (rv != SCARD_E_TIMEOUT || slice < wait_slice_ms)
            return true;
        if (client.cancelled) {
            rv = SCARD_E_CANCELLED;
            return true;
        }
        if (bridge_client_gone(client))
            return false;
    }
}

bool op_wait(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t timeout = bridge_get_u32(in), count = bridge_get_u32(in);
    if (in.bad || count > BRIDGE_WAIT_READERS_MAX)
        return false;
    std::vector<std::string> names(count);
    std::vector<SCARD_READERSTATE> states(count);
    for (uint32_t i = 0; i < count; i++) {
        states[i].dwCurrentState = bridge_get_u32(in);
        std::vector<uint8_t> name = bridge_get_blob(in);
        names[i].assign(name.begin(), name.end());
    }
    if (!bridge_done(in))
        return false;
    for (uint32_t i = 0; i < count; i++)
        states[i].szReader = names[i].c_str();
    rv = SCARD_E_INVALID_HANDLE;
    if (client.established && !wait_sliced(client, timeout, states.data(), count, rv))
        return false;
    bridge_put_u32(body, count);
    for (const SCARD_READERSTATE &state : states) {
        bridge_put_u32(body, (uint32_t)state.dwEventState);
        DWORD atr_length = state.cbAtr <= MAX_ATR_SIZE ? state.cbAtr : 0;
        bridge_put_blob(body, state.rgbAtr, atr_length);
    }
    return true;
}

bool op_cancel(BridgeClient &, BridgeReader &in, LONG &rv, std::vector<uint8_t> &) {
    uint32_t id = bridge_get_u32(in);
    if (!bridge_done(in))
        return false;
    std::lock_guard<std::mutex> hold(registry_lock);
    auto found = registry.find(id);
    if (found == registry.end()) {
        rv = SCARD_E_INVALID_HANDLE;
        return true;
    }
    found->second->cancelled = true;
    rv = SCardCancel(found->second->context);
    return true;
}

bool op_connect(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t share = bridge_get_u32(in), protocols = bridge_get_u32(in);
    std::vector<uint8_t> name = bridge_get_blob(in);
    if (!bridge_done(in))
        return false;
    std::string reader(name.begin(), name.end());
    uint32_t number = 0;
    DWORD active = 0;
    rv = SCARD_E_INVALID_HANDLE;
    if (client.established) {
        SCARDHANDLE handle = 0;
        rv = SCardConnect(client.context, reader.c_str(), share,
                          bridge_protocol_from_windows(protocols), &handle, &active);
        if (rv == SCARD_S_SUCCESS) {
            number = client.next_card++;
            client.cards[number] = handle;
        }
    }
    bridge_put_u32(body, number);
    bridge_put_u32(body, rv == SCARD_S_SUCCESS ? bridge_protocol_to_windows(active) : 0);
    return true;
}

bool op_reconnect(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t number = bridge_get_u32(in), share = bridge_get_u32(in);
    uint32_t protocols = bridge_get_u32(in), init = bridge_get_u32(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    DWORD active = 0;
    if (card_find(client, number, handle, rv))
        rv = SCardReconnect(handle, share, bridge_protocol_from_windows(protocols), init, &active);
    bridge_put_u32(body, rv == SCARD_S_SUCCESS ? bridge_protocol_to_windows(active) : 0);
    return true;
}

bool op_disconnect(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &) {
    uint32_t number = bridge_get_u32(in), disposition = bridge_get_u32(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    if (card_find(client, number, handle, rv)) {
        rv = SCardDisconnect(handle, disposition);
        if (rv != SCARD_E_INVALID_VALUE) /* the handle is spent, whatever else happened */
            client.cards.erase(number);
    }
    return true;
}

bool op_transaction(BridgeClient &client, BridgeReader &in, LONG &rv, bool begin) {
    uint32_t number = bridge_get_u32(in);
    uint32_t disposition = begin ? 0 : bridge_get_u32(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    if (card_find(client, number, handle, rv))
        rv = begin ? SCardBeginTransaction(handle) : SCardEndTransaction(handle, disposition);
    return true;
}

bool op_begin(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &) {
    return op_transaction(client, in, rv, true);
}

bool op_end(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &) {
    return op_transaction(client, in, rv, false);
}

bool op_status(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t number = bridge_get_u32(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    char name[MAX_READERNAME + 1] = "";
    DWORD name_length = sizeof name, state = 0, protocol = 0, atr_length = MAX_ATR_SIZE;
    uint8_t atr[MAX_ATR_SIZE];
    if (card_find(client, number, handle, rv))
        rv = SCardStatus(handle, name, &name_length, &state, &protocol, atr, &atr_length);
    bool ok = rv == SCARD_S_SUCCESS;
    /* Windows gives the names as a multi-string: the name, NUL, NUL. */
    std::string names = ok ? std::string(name, strnlen(name, sizeof name)) : std::string();
    names.append(ok ? 2 : 0, '\0');
    bridge_put_u32(body, ok ? bridge_state_to_windows(state) : 0);
    bridge_put_u32(body, ok ? bridge_protocol_to_windows(protocol) : 0);
    bridge_put_blob(body, names.data(), names.size());
    bridge_put_blob(body, atr, ok && atr_length <= MAX_ATR_SIZE ? atr_length : 0);
    return true;
}

bool op_transmit(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t number = bridge_get_u32(in), protocol = bridge_get_u32(in);
    uint32_t receive_max = bridge_get_u32(in);
    std::vector<uint8_t> command = bridge_get_rest(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    std::vector<uint8_t> response(receive_max < BRIDGE_TRANSMIT_MAX ? receive_max
                                                                    : BRIDGE_TRANSMIT_MAX);
    DWORD length = response.size();
    SCARD_IO_REQUEST send_pci = {bridge_protocol_from_windows(protocol), sizeof(SCARD_IO_REQUEST)};
    SCARD_IO_REQUEST receive_pci = {0, sizeof(SCARD_IO_REQUEST)};
    if (card_find(client, number, handle, rv))
        rv = SCardTransmit(handle, &send_pci, command.data(), command.size(), &receive_pci,
                           response.data(), &length);
    bool ok = rv == SCARD_S_SUCCESS && length <= response.size();
    bool sized = ok || rv == SCARD_E_INSUFFICIENT_BUFFER;
    /* The receive block names the protocol of the exchange, which pcscd only
       lets succeed in the card's active protocol; the driver's own value in
       it is not that (vpcd gives 1 for T=1 too). */
    uint32_t received = protocol == 1 || protocol == 2
                            ? protocol
                            : bridge_protocol_to_windows(receive_pci.dwProtocol);
    bridge_put_u32(body, ok ? received : 0);
    bridge_put_u32(body, sized ? (uint32_t)length : 0);
    bridge_put_bytes(body, response.data(), ok ? length : 0);
    return true;
}

bool op_control(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t number = bridge_get_u32(in), code = bridge_get_u32(in);
    uint32_t output_max = bridge_get_u32(in);
    std::vector<uint8_t> input = bridge_get_rest(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    std::vector<uint8_t> output(output_max < BRIDGE_TRANSMIT_MAX ? output_max
                                                                 : BRIDGE_TRANSMIT_MAX);
    DWORD returned = 0;
    if (card_find(client, number, handle, rv))
        rv = bridge_feature_status(SCardControl(handle, bridge_control_code_from_windows(code),
                                                input.data(), input.size(), output.data(),
                                                output.size(), &returned));
    bool ok = rv == SCARD_S_SUCCESS && returned <= output.size();
    bridge_put_u32(body, ok ? (uint32_t)returned : 0);
    bridge_put_bytes(body, output.data(), ok ? returned : 0);
    return true;
}

/* The rig's own answer for a card that opted in (bridge_attrib.cpp). */
bool rig_attribute(SCARDHANDLE handle, uint32_t attribute, std::vector<uint8_t> &value, LONG &rv) {
    char name[MAX_READERNAME + 1];
    DWORD name_length = sizeof name, state = 0, protocol = 0, atr_length = MAX_ATR_SIZE;
    uint8_t atr[MAX_ATR_SIZE];
    if (SCardStatus(handle, name, &name_length, &state, &protocol, atr, &atr_length) !=
            SCARD_S_SUCCESS ||
        atr_length > MAX_ATR_SIZE)
        return false;
    if (!bridge_rig_attribute(atr, atr_length, bridge_protocol_to_windows(protocol), attribute,
                              value))
        return false;
    rv = SCARD_S_SUCCESS;
    return true;
}

bool op_attrib(BridgeClient &client, BridgeReader &in, LONG &rv, std::vector<uint8_t> &body) {
    uint32_t number = bridge_get_u32(in), attribute = bridge_get_u32(in);
    if (!bridge_done(in))
        return false;
    SCARDHANDLE handle = 0;
    /* pcsc-lite refuses a buffer longer than MAX_BUFFER_SIZE (insufficient
       buffer!), and no attribute is longer: ask with exactly that much. */
    std::vector<uint8_t> value(MAX_BUFFER_SIZE);
    DWORD length = value.size();
    if (card_find(client, number, handle, rv) && !rig_attribute(handle, attribute, value, rv))
        rv = bridge_feature_status(SCardGetAttrib(handle, attribute, value.data(), &length));
    else if (rv == SCARD_S_SUCCESS)
        length = value.size();
    bool ok = rv == SCARD_S_SUCCESS && length <= value.size();
    bridge_put_blob(body, value.data(), ok ? length : 0);
    return true;
}

const Handler handlers[] = {
    nullptr,   op_establish, op_release,   op_is_valid,   op_list,  op_wait,
    op_cancel, op_connect,   op_reconnect, op_disconnect, op_begin, op_end,
    op_status, op_transmit,  op_control,   op_attrib,
};

} // namespace

bool bridge_call(BridgeClient &client, uint32_t op, const std::vector<uint8_t> &payload,
                 std::vector<uint8_t> &response) {
    if (op == 0 || op >= sizeof handlers / sizeof handlers[0])
        return false;
    BridgeReader in = bridge_reader(payload);
    LONG rv = SCARD_F_INTERNAL_ERROR;
    std::vector<uint8_t> body;
    if (!handlers[op](client, in, rv, body))
        return false;
    bridge_put_start(response, (uint32_t)rv);
    bridge_put_bytes(response, body.data(), body.size());
    bridge_put_finish(response);
    return true;
}

void bridge_client_release(BridgeClient &client) {
    if (!client.established)
        return;
    {
        std::lock_guard<std::mutex> hold(registry_lock);
        registry.erase(client.id);
    }
    for (auto &card : client.cards)
        SCardDisconnect(card.second, SCARD_LEAVE_CARD);
    client.cards.clear();
    SCardReleaseContext(client.context);
    client.established = false;
    client.context = 0;
}

uint32_t bridge_protocol_to_windows(DWORD protocol) {
    uint32_t windows = (uint32_t)(protocol & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1 | 8));
    if (protocol & SCARD_PROTOCOL_RAW)
        windows |= windows_protocol_raw;
    return windows;
}

DWORD bridge_protocol_from_windows(uint32_t protocol) {
    DWORD lite = protocol & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1 | 8);
    if (protocol & windows_protocol_raw)
        lite |= SCARD_PROTOCOL_RAW;
    if (protocol & windows_protocol_default)
        lite |= SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
    return lite;
}

/* pcsc-lite reports the card state as bits, Windows as one value from
   SCARD_UNKNOWN (0) to SCARD_SPECIFIC (6): the highest bit set wins. */
uint32_t bridge_state_to_windows(DWORD state) {
    static const DWORD bits[] = {SCARD_SPECIFIC,  SCARD_NEGOTIABLE, SCARD_POWERED,
                                 SCARD_SWALLOWED, SCARD_PRESENT,    SCARD_ABSENT};
    for (int i = 0; i < 6; i++)
        if (state & bits[i])
            return (uint32_t)(6 - i);
    return 0;
}

/* pcsc-lite reports an unsupported attribute or control code as 0x8010001F,
   which is SCARD_E_UNEXPECTED for Windows; Windows' SCARD_E_UNSUPPORTED_FEATURE
   is 0x80100022. The two calls that can be unsupported answer the Windows one. */
LONG bridge_feature_status(LONG rv) {
    return rv == (LONG)0x8010001F ? (LONG)0x80100022 : rv;
}

/* Windows builds control codes as CTL_CODE(FILE_DEVICE_SMARTCARD, n, 0, 0),
   pcsc-lite as 0x42000000 + n. Other codes pass unchanged. */
DWORD bridge_control_code_from_windows(uint32_t code) {
    if ((code >> 16) == 0x31)
        return SCARD_CTL_CODE((code >> 2) & 0xFFF);
    return code;
}
