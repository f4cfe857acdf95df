/*
 * bridge.h: the PC/SC bridge. It serves Windows programs running under Wine,
 * whose winscard.dll forwards every PC/SC call over loopback TCP (the format is
 * in bridge_protocol.h), and makes the real calls into pcsc-lite.
 *
 * Design: one thread per client connection; a connection is one PC/SC context
 * with its card handles, owned by that thread alone. The only state shared
 * between threads is the registry of live contexts, which lets one connection
 * cancel a wait blocked on another (SCardCancel); it has its own lock. When a
 * client goes away or misbehaves, its thread disconnects its cards, releases
 * its context and ends; nothing else is touched.
 */
#ifndef VORLANE_BRIDGE_H
#define VORLANE_BRIDGE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include <PCSC/winscard.h>

struct BridgeClient {
    int fd = -1;                           /* the client's connection */
    bool established = false;              /* `context` is valid */
    SCARDCONTEXT context = 0;              /* pcsc-lite context of this client */
    uint32_t id = 0;                       /* registry id, given to the client */
    std::map<uint32_t, SCARDHANDLE> cards; /* client's card number -> pcsc-lite handle */
    uint32_t next_card = 1;                /* next card number to give out */
    std::atomic<bool> cancelled{false};    /* a CANCEL arrived for the running wait */
};

/* bridge_server.cpp */
extern bool bridge_verbose;            /* -v: one line per request on stderr */
int bridge_listen(int port);           /* 127.0.0.1:port (0: any free one), or -1 */
void bridge_accept_loop(int listener); /* serves clients until the listener fails */
bool bridge_client_gone(const BridgeClient &client);

/* bridge_calls.cpp: one request; false when it is a bad request (the
   connection is then closed). `response` is the complete message to send. */
bool bridge_call(BridgeClient &client, uint32_t op, const std::vector<uint8_t> &payload,
                 std::vector<uint8_t> &response);
void bridge_client_release(BridgeClient &client);
/* Translations between the Windows values on the wire and pcsc-lite's. */
uint32_t bridge_protocol_to_windows(DWORD protocol);
DWORD bridge_protocol_from_windows(uint32_t protocol);
uint32_t bridge_state_to_windows(DWORD state);
DWORD bridge_control_code_from_windows(uint32_t code);
LONG bridge_feature_status(LONG rv);

/* bridge_attrib.cpp: the attribute's value for a card whose ATR asks the rig
   to answer protocol attributes (historical bytes starting "ATTR"); false
   for any other card or attribute. `protocol` is the Windows value. */
bool bridge_rig_attribute(const uint8_t *atr, size_t length, uint32_t protocol, uint32_t attribute,
                          std::vector<uint8_t> &value);

#endif
