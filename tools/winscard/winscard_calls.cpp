/*
 * winscard_calls.cpp: the exported PC/SC calls of the rig's winscard.dll. Each
 * checks its arguments, finds its link, makes one bridge request and gives
 * back the result with the Windows conventions: status codes unchanged,
 * 32-bit lengths, multi-string reader lists, length queries with a null
 * buffer, SCARD_AUTOALLOCATE, SCARD_E_INSUFFICIENT_BUFFER with the needed
 * length. No call lets an exception or a bad handle reach the caller.
 */
#include "tools/winscard/winscard_link.h"

#include <cstring>
#include <initializer_list>

#include "tools/pcsc_bridge/bridge_protocol.h"

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

namespace {

/* A response that does not have the shape of its request's answer. */
const LONG malformed = SCARD_F_COMM_ERROR;

template <typename Body> LONG guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return SCARD_E_NO_MEMORY;
    }
}

std::vector<uint8_t> request_build(uint32_t op, std::initializer_list<uint32_t> words,
                                   const void *tail = nullptr, size_t tail_length = 0) {
    std::vector<uint8_t> request;
    bridge_put_start(request, op);
    for (uint32_t word : words)
        bridge_put_u32(request, word);
    bridge_put_bytes(request, tail, tail_length);
    bridge_put_finish(request);
    return request;
}

/* One request on a link: the status of the call (the link's failure, or the
   bridge's status code) and the response payload. */
LONG link_request(Link &link, const std::vector<uint8_t> &request, std::vector<uint8_t> &payload) {
    uint32_t rv = 0;
    LONG failure = link_call(link, request, rv, payload);
    return failure != SCARD_S_SUCCESS ? failure : (LONG)rv;
}

/* One request about a card: its words follow the card's bridge number. */
LONG card_request(SCARDHANDLE card, uint32_t op, std::initializer_list<uint32_t> words,
                  std::vector<uint8_t> &payload, const void *tail = nullptr,
                  size_t tail_length = 0) {
    uint32_t number = 0;
    LinkRef link = card_find(card, number);
    if (!link)
        return SCARD_E_INVALID_HANDLE;
    std::vector<uint32_t> all = {number};
    all.insert(all.end(), words.begin(), words.end());
    std::vector<uint8_t> request;
    bridge_put_start(request, op);
    for (uint32_t word : all)
        bridge_put_u32(request, word);
    bridge_put_bytes(request, tail, tail_length);
    bridge_put_finish(request);
    return link_request(*link, request, payload);
}

/* The reader list of a link; the temporary link of a call without context. */
LONG readers_list(SCARDCONTEXT context, std::vector<uint8_t> &names) {
    LinkRef link;
    if (context == 0) {
        LONG rv = link_open_established(link);
        if (rv != SCARD_S_SUCCESS)
            return rv;
    } else if (!(link = context_find(context))) {
        return SCARD_E_INVALID_HANDLE;
    }
    std::vector<uint8_t> payload;
    LONG rv = link_request(*link, request_build(BRIDGE_LIST, {}), payload);
    BridgeReader in = bridge_reader(payload);
    names = bridge_get_blob(in);
    if (context == 0)
        link_shut(*link);
    return bridge_done(in) ? rv : malformed;
}

/* STATUS on a card: state, protocol, reader names and ATR. */
LONG card_status(SCARDHANDLE card, DWORD &state, DWORD &protocol, std::vector<uint8_t> &names,
                 std::vector<uint8_t> &atr) {
    std::vector<uint8_t> payload;
    LONG rv = card_request(card, BRIDGE_STATUS, {}, payload);
    if (rv == SCARD_E_INVALID_HANDLE && payload.empty())
        return rv;
    BridgeReader in = bridge_reader(payload);
    state = bridge_get_u32(in);
    protocol = bridge_get_u32(in);
    names = bridge_get_blob(in);
    atr = bridge_get_blob(in);
    if (!bridge_done(in))
        return payload.empty() ? rv : malformed;
    return rv;
}

LONG wait_readers(SCARDCONTEXT context, DWORD timeout, SCARD_READERSTATEA *states, DWORD count) {
    if ((count > 0 && !states) || count > BRIDGE_WAIT_READERS_MAX)
        return SCARD_E_INVALID_PARAMETER;
    for (DWORD i = 0; i < count; i++)
        if (!states[i].szReader)
            return SCARD_E_INVALID_PARAMETER;
    LinkRef link = context_find(context);
    if (!link)
        return SCARD_E_INVALID_HANDLE;
    std::vector<uint8_t> request, payload;
    bridge_put_start(request, BRIDGE_WAIT);
    bridge_put_u32(request, timeout);
    bridge_put_u32(request, count);
    for (DWORD i = 0; i < count; i++) {
        bridge_put_u32(request, states[i].dwCurrentState);
        bridge_put_blob(request, states[i].szReader, strlen(states[i].szReader));
    }
    bridge_put_finish(request);
    LONG rv = link_request(*link, request, payload);
    if (payload.empty())
        return rv;
    BridgeReader in = bridge_reader(payload);
    if (bridge_get_u32(in) != count)
        return malformed;
    for (DWORD i = 0; i < count; i++) {
        DWORD event = bridge_get_u32(in);
        std::vector<uint8_t> atr = bridge_get_blob(in);
        if (in.bad || atr.size() > sizeof states[i].rgbAtr)
            return malformed;
        states[i].dwEventState = event;
        states[i].cbAtr = (DWORD)atr.size();
        if (!atr.empty())
            memcpy(states[i].rgbAtr, atr.data(), atr.size());
    }
    return bridge_done(in) ? rv : malformed;
}

LONG transmit(SCARDHANDLE card, const SCARD_IO_REQUEST *send_pci, const BYTE *command,
              DWORD command_length, SCARD_IO_REQUEST *receive_pci, BYTE *response,
              DWORD *response_length) {
    if (!send_pci || !command || !response || !response_length ||
        *response_length == SCARD_AUTOALLOCATE || command_length > BRIDGE_TRANSMIT_MAX)
        return SCARD_E_INVALID_PARAMETER;
    std::vector<uint8_t> payload;
    DWORD room = *response_length;
    LONG rv = card_request(card, BRIDGE_TRANSMIT, {(uint32_t)send_pci->dwProtocol, room}, payload,
                           command, command_length);
    BridgeReader in = bridge_reader(payload);
    DWORD protocol = bridge_get_u32(in), length = bridge_get_u32(in);
    std::vector<uint8_t> data = bridge_get_rest(in);
    if (payload.empty() && rv != SCARD_S_SUCCESS) {
        *response_length = 0;
        return rv;
    }
    if (!bridge_done(in) || data.size() > room || (rv == SCARD_S_SUCCESS && data.size() != length))
        return malformed;
    *response_length = rv == SCARD_S_SUCCESS || rv == SCARD_E_INSUFFICIENT_BUFFER ? length : 0;
    if (rv == SCARD_S_SUCCESS && !data.empty())
        memcpy(response, data.data(), data.size());
    if (rv == SCARD_S_SUCCESS && receive_pci) {
        receive_pci->dwProtocol = protocol;
        receive_pci->cbPciLength = sizeof(SCARD_IO_REQUEST);
    }
    return rv;
}

} // namespace

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    return guarded([&]() -> LONG {
        if (!context)
            return SCARD_E_INVALID_PARAMETER;
        if (scope != SCARD_SCOPE_USER && scope != SCARD_SCOPE_TERMINAL &&
            scope != SCARD_SCOPE_SYSTEM)
            return SCARD_E_INVALID_VALUE;
        LinkRef link;
        LONG rv = link_open_established(link);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        *context = context_add(link);
        return SCARD_S_SUCCESS;
    });
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
    return guarded([&]() -> LONG {
        LinkRef link = context_remove(context);
        if (!link)
            return SCARD_E_INVALID_HANDLE;
        link->released = true;
        /* Polite release when the link is idle; a thread blocked on it (a
           wait) is freed by closing the connection, which the bridge also
           takes as a release. */
        std::unique_lock<std::mutex> idle(link->lock, std::try_to_lock);
        if (idle.owns_lock()) {
            std::vector<uint8_t> payload;
            uint32_t rv = 0;
            link_call_locked(*link, request_build(BRIDGE_RELEASE, {}), rv, payload);
        }
        link_shut(*link);
        return SCARD_S_SUCCESS;
    });
}

LONG WINAPI SCardIsValidContext(SCARDCONTEXT context) {
    return guarded([&]() -> LONG {
        LinkRef link = context_find(context);
        if (!link)
            return SCARD_E_INVALID_HANDLE;
        std::vector<uint8_t> payload;
        return link_request(*link, request_build(BRIDGE_IS_VALID, {}), payload);
    });
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length) {
    return guarded([&]() -> LONG {
        if (!length)
            return SCARD_E_INVALID_PARAMETER;
        std::vector<uint8_t> names;
        LONG rv = readers_list(context, names);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        return result_copy(names.data(), (DWORD)names.size(), readers, length);
    });
}

LONG WINAPI SCardCancel(SCARDCONTEXT context) {
    return guarded([&]() -> LONG {
        LinkRef target = context_find(context), link;
        if (!target)
            return SCARD_E_INVALID_HANDLE;
        /* The target's own connection may be blocked in the wait: cancel over
           a connection of our own. */
        LONG rv = link_open(link);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        std::vector<uint8_t> payload;
        rv = link_request(*link, request_build(BRIDGE_CANCEL, {target->bridge_id}), payload);
        link_shut(*link);
        return rv;
    });
}

LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout, LPSCARD_READERSTATEA states,
                                  DWORD count) {
    return guarded([&]() -> LONG { return wait_readers(context, timeout, states, count); });
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD active) {
    return guarded([&]() -> LONG {
        if (!reader || !card || !active)
            return SCARD_E_INVALID_PARAMETER;
        LinkRef link = context_find(context);
        if (!link)
            return SCARD_E_INVALID_HANDLE;
        std::vector<uint8_t> request, payload;
        bridge_put_start(request, BRIDGE_CONNECT);
        bridge_put_u32(request, share);
        bridge_put_u32(request, protocols);
        bridge_put_blob(request, reader, strlen(reader));
        bridge_put_finish(request);
        LONG rv = link_request(*link, request, payload);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        if (payload.size() != 8)
            return malformed;
        SCARDHANDLE handle = card_add(context, link, bridge_u32_at(payload.data()));
        if (!handle)
            return SCARD_E_INVALID_HANDLE;
        *card = handle;
        *active = bridge_u32_at(payload.data() + 4);
        return SCARD_S_SUCCESS;
    });
}

LONG WINAPI SCardReconnect(SCARDHANDLE card, DWORD share, DWORD protocols, DWORD initialization,
                           LPDWORD active) {
    return guarded([&]() -> LONG {
        if (!active)
            return SCARD_E_INVALID_PARAMETER;
        std::vector<uint8_t> payload;
        LONG rv = card_request(card, BRIDGE_RECONNECT, {share, protocols, initialization}, payload);
        if (rv == SCARD_S_SUCCESS && payload.size() != 4)
            return malformed;
        if (rv == SCARD_S_SUCCESS)
            *active = bridge_u32_at(payload.data());
        return rv;
    });
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
    return guarded([&]() -> LONG {
        std::vector<uint8_t> payload;
        LONG rv = card_request(card, BRIDGE_DISCONNECT, {disposition}, payload);
        if (rv != SCARD_E_INVALID_VALUE)
            card_remove(card);
        return rv;
    });
}

LONG WINAPI SCardBeginTransaction(SCARDHANDLE card) {
    return guarded([&]() -> LONG {
        std::vector<uint8_t> payload;
        return card_request(card, BRIDGE_BEGIN, {}, payload);
    });
}

LONG WINAPI SCardEndTransaction(SCARDHANDLE card, DWORD disposition) {
    return guarded([&]() -> LONG {
        std::vector<uint8_t> payload;
        return card_request(card, BRIDGE_END, {disposition}, payload);
    });
}

LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR names_out, LPDWORD names_length, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr_out, LPDWORD atr_length) {
    return guarded([&]() -> LONG {
        if ((names_out && !names_length) || (atr_out && !atr_length))
            return SCARD_E_INVALID_PARAMETER;
        DWORD card_state = 0, card_protocol = 0;
        std::vector<uint8_t> names, atr;
        LONG rv = card_status(card, card_state, card_protocol, names, atr);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        if (state)
            *state = card_state;
        if (protocol)
            *protocol = card_protocol;
        LONG names_rv =
            names_length ? result_copy(names.data(), (DWORD)names.size(), names_out, names_length)
                         : SCARD_S_SUCCESS;
        LONG atr_rv = atr_length ? result_copy(atr.data(), (DWORD)atr.size(), atr_out, atr_length)
                                 : SCARD_S_SUCCESS;
        return names_rv != SCARD_S_SUCCESS ? names_rv : atr_rv;
    });
}

LONG WINAPI SCardState(SCARDHANDLE card, LPDWORD state, LPDWORD protocol, LPBYTE atr_out,
                       LPDWORD atr_length) {
    return guarded([&]() -> LONG {
        if (!state || !protocol || !atr_out || !atr_length)
            return SCARD_E_INVALID_PARAMETER;
        DWORD card_state = 0, card_protocol = 0;
        std::vector<uint8_t> names, atr;
        LONG rv = card_status(card, card_state, card_protocol, names, atr);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        *state = card_state;
        *protocol = card_protocol;
        return result_copy(atr.data(), (DWORD)atr.size(), atr_out, atr_length);
    });
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST send_pci, LPCBYTE command,
                          DWORD command_length, LPSCARD_IO_REQUEST receive_pci, LPBYTE response,
                          LPDWORD response_length) {
    return guarded([&]() -> LONG {
        return transmit(card, send_pci, command, command_length, receive_pci, response,
                        response_length);
    });
}

LONG WINAPI SCardControl(SCARDHANDLE card, DWORD code, LPCVOID input, DWORD input_length,
                         LPVOID output, DWORD output_length, LPDWORD returned) {
    return guarded([&]() -> LONG {
        if (!returned || (!input && input_length) || (!output && output_length))
            return SCARD_E_INVALID_PARAMETER;
        std::vector<uint8_t> payload;
        LONG rv =
            card_request(card, BRIDGE_CONTROL, {code, output_length}, payload, input, input_length);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        BridgeReader in = bridge_reader(payload);
        DWORD length = bridge_get_u32(in);
        std::vector<uint8_t> data = bridge_get_rest(in);
        if (!bridge_done(in) || data.size() != length || length > output_length)
            return malformed;
        if (length)
            memcpy(output, data.data(), length);
        *returned = length;
        return SCARD_S_SUCCESS;
    });
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE card, DWORD attribute, LPBYTE value, LPDWORD length) {
    return guarded([&]() -> LONG {
        if (!length)
            return SCARD_E_INVALID_PARAMETER;
        std::vector<uint8_t> payload;
        LONG rv = card_request(card, BRIDGE_ATTRIB, {attribute}, payload);
        if (rv != SCARD_S_SUCCESS)
            return rv;
        BridgeReader in = bridge_reader(payload);
        std::vector<uint8_t> data = bridge_get_blob(in);
        if (!bridge_done(in))
            return malformed;
        return result_copy(data.data(), (DWORD)data.size(), value, length);
    });
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT, LPCVOID block) {
    return guarded([&]() -> LONG {
        /* Blocks outlive their context: any context, or none, may free them. */
        return block && memory_free(block) ? SCARD_S_SUCCESS : SCARD_E_INVALID_PARAMETER;
    });
}
