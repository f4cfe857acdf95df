/*
 * pcsc_bridge_test.cpp: the bridge, running in this process on a free port,
 * against clients that behave and clients that do not: garbage, unknown
 * operations, payloads that do not parse, and clients that vanish in the
 * middle of a request or of a wait. After each, a good client must still be
 * served. Parts that need pcscd skip when it is not running.
 */
#include "tools/pcsc_bridge/bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <PCSC/reader.h>

#include "tools/loopback.h"
#include "tools/pcsc_bridge/bridge_protocol.h"

namespace {

int bridge_port = 0;

struct BridgeEnvironment : ::testing::Environment {
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        int listener = bridge_listen(0);
        ASSERT_GE(listener, 0);
        bridge_port = loopback_port(listener);
        std::thread(bridge_accept_loop, listener).detach();
    }
};
const auto *environment = ::testing::AddGlobalTestEnvironment(new BridgeEnvironment);

int client_open() {
    int fd = loopback_connect(bridge_port);
    EXPECT_GE(fd, 0);
    return fd;
}

void send_raw(int fd, const std::vector<uint8_t> &bytes) {
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), (ssize_t)bytes.size());
}

std::vector<uint8_t> request(uint32_t op, const std::vector<uint32_t> &words,
                             const std::vector<uint8_t> &tail = {}) {
    std::vector<uint8_t> message;
    bridge_put_start(message, op);
    for (uint32_t word : words)
        bridge_put_u32(message, word);
    bridge_put_bytes(message, tail.data(), tail.size());
    bridge_put_finish(message);
    return message;
}

/* True when the bridge closed the connection (within ms): an orderly close,
   or a reset when it left unread bytes behind. */
bool closed_by_bridge(int fd, int ms = 3000) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, ms) != 1)
        return false;
    char c;
    return recv(fd, &c, 1, 0) <= 0;
}

/* Reads one response: the status code and the payload. False on EOF. */
bool response_read(int fd, uint32_t &rv, std::vector<uint8_t> &payload, int ms = 5000) {
    std::vector<uint8_t> bytes;
    size_t want = 8;
    while (bytes.size() < want) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            return false;
        uint8_t chunk[4096];
        ssize_t got = recv(fd, chunk, std::min(sizeof chunk, want - bytes.size()), 0);
        if (got <= 0)
            return false;
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (want == 8 && bytes.size() == 8)
            want = 4 + bridge_u32_at(bytes.data());
    }
    rv = bridge_u32_at(bytes.data() + 4);
    payload.assign(bytes.begin() + 8, bytes.end());
    return true;
}

uint32_t call(int fd, const std::vector<uint8_t> &message, std::vector<uint8_t> &payload) {
    send_raw(fd, message);
    uint32_t rv = 0xDEADBEEF;
    EXPECT_TRUE(response_read(fd, rv, payload));
    return rv;
}

/* The bridge still serves a fresh client: a request without a context gets
   its documented answer. */
void expect_bridge_serves() {
    int fd = client_open();
    std::vector<uint8_t> payload;
    EXPECT_EQ(call(fd, request(BRIDGE_IS_VALID, {}), payload), (uint32_t)SCARD_E_INVALID_HANDLE);
    EXPECT_TRUE(payload.empty());
    close(fd);
}

TEST(Bridge, RequestsWithoutContextGetCleanErrors) {
    int fd = client_open();
    std::vector<uint8_t> payload;
    EXPECT_EQ(call(fd, request(BRIDGE_IS_VALID, {}), payload), (uint32_t)SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(call(fd, request(BRIDGE_RELEASE, {}), payload), (uint32_t)SCARD_E_INVALID_HANDLE);
    std::vector<uint8_t> reader = {4, 0, 0, 0, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(call(fd, request(BRIDGE_CONNECT, {2, 3}, reader), payload),
              (uint32_t)SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(payload, std::vector<uint8_t>(8, 0)); /* card 0, protocol 0 */
    EXPECT_EQ(call(fd, request(BRIDGE_TRANSMIT, {7, 2, 258}, {0x00, 0xB0, 0, 0, 0}), payload),
              (uint32_t)SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(payload, std::vector<uint8_t>(8, 0));
    EXPECT_EQ(call(fd, request(BRIDGE_STATUS, {1}), payload), (uint32_t)SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(payload.size(), 16u); /* state, protocol, two empty blobs */
    EXPECT_EQ(call(fd, request(BRIDGE_CANCEL, {123456}), payload),
              (uint32_t)SCARD_E_INVALID_HANDLE);
    close(fd);
}

TEST(Bridge, BadRequestsCloseOnlyTheirConnection) {
    int good = client_open();
    const std::vector<std::vector<uint8_t>> bad = {
        {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1', '\r', '\n'},
        {0, 0, 0, 0, 1, 0, 0, 0},                     /* size below 4 */
        {0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0},         /* size far too big */
        request(99, {}),                              /* unknown operation */
        request(0, {}),                               /* operation 0 */
        request(BRIDGE_ESTABLISH, {0x12345678, 2}),   /* wrong magic */
        request(BRIDGE_ESTABLISH, {BRIDGE_MAGIC}),    /* short payload */
        request(BRIDGE_IS_VALID, {1}),                /* payload too long */
        request(BRIDGE_CONNECT, {2, 3, 1000}, {'x'}), /* blob past the end */
        request(BRIDGE_WAIT, {0, 65}),                /* too many readers */
        request(BRIDGE_WAIT, {0, 2, 0, 0}),           /* one reader of two */
    };
    for (const auto &message : bad) {
        int fd = client_open();
        send_raw(fd, message);
        EXPECT_TRUE(closed_by_bridge(fd)) << "message of " << message.size() << " bytes";
        close(fd);
    }
    /* The client that was open all along is served as before. */
    std::vector<uint8_t> payload;
    EXPECT_EQ(call(good, request(BRIDGE_IS_VALID, {}), payload), (uint32_t)SCARD_E_INVALID_HANDLE);
    close(good);
    expect_bridge_serves();
}

TEST(Bridge, ClientsVanishingMidRequest) {
    std::vector<uint8_t> whole = request(BRIDGE_TRANSMIT, {1, 2, 258}, {0, 0xA4, 4, 0, 0});
    for (size_t cut : {1u, 4u, 7u, 8u, 12u, 20u}) {
        int fd = client_open();
        send_raw(fd, std::vector<uint8_t>(whole.begin(), whole.begin() + (long)cut));
        close(fd);
    }
    /* One that sends half a request and just stays: it blocks only itself. */
    int idle = client_open();
    send_raw(idle, std::vector<uint8_t>(whole.begin(), whole.begin() + 10));
    /* One that sends a request and leaves before reading the answer. */
    int rude = client_open();
    send_raw(rude, request(BRIDGE_IS_VALID, {}));
    close(rude);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    expect_bridge_serves();
    close(idle);
    expect_bridge_serves();
}

/* Opens a client with a context; false (test skipped) without pcscd. */
bool client_establish(int &fd, uint32_t &id) {
    fd = client_open();
    std::vector<uint8_t> payload;
    uint32_t rv = call(fd, request(BRIDGE_ESTABLISH, {BRIDGE_MAGIC, 2}), payload);
    EXPECT_EQ(payload.size(), 4u);
    id = payload.size() == 4 ? bridge_u32_at(payload.data()) : 0;
    if (rv == (uint32_t)SCARD_E_NO_SERVICE) {
        EXPECT_EQ(id, 0u);
        close(fd);
        return false;
    }
    EXPECT_EQ(rv, (uint32_t)SCARD_S_SUCCESS);
    EXPECT_NE(id, 0u);
    return rv == SCARD_S_SUCCESS;
}

/* A wait that only ends when the reader count changes (or is cancelled). */
std::vector<uint8_t> endless_wait() {
    std::vector<uint8_t> message;
    const char name[] = "\\\\?PnP?\\Notification";
    bridge_put_start(message, BRIDGE_WAIT);
    bridge_put_u32(message, 0xFFFFFFFF);
    bridge_put_u32(message, 1);
    bridge_put_u32(message, 0);
    bridge_put_blob(message, name, sizeof name - 1);
    bridge_put_finish(message);
    return message;
}

TEST(BridgeWithPcscd, ContextListCancelAndVanishingWaiter) {
    int fd = -1;
    uint32_t id = 0;
    if (!client_establish(fd, id))
        GTEST_SKIP() << "pcscd is not running";
    std::vector<uint8_t> payload;
    EXPECT_EQ(call(fd, request(BRIDGE_IS_VALID, {}), payload), (uint32_t)SCARD_S_SUCCESS);
    uint32_t rv = call(fd, request(BRIDGE_LIST, {}), payload);
    if (rv == SCARD_S_SUCCESS) {
        ASSERT_GE(payload.size(), 6u);
        EXPECT_EQ(bridge_u32_at(payload.data()), payload.size() - 4);
        EXPECT_EQ(payload.back(), 0); /* the multi-string ends with an empty name */
        EXPECT_EQ(payload[payload.size() - 2], 0);
    } else {
        EXPECT_EQ(rv, (uint32_t)SCARD_E_NO_READERS_AVAILABLE);
    }
    /* A second client with its own context. */
    int other = -1;
    uint32_t other_id = 0;
    ASSERT_TRUE(client_establish(other, other_id));
    EXPECT_NE(other_id, id);

    /* An endless wait, cancelled from another connection. */
    send_raw(fd, endless_wait());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(call(other, request(BRIDGE_CANCEL, {id}), payload), (uint32_t)SCARD_S_SUCCESS);
    ASSERT_TRUE(response_read(fd, rv, payload));
    EXPECT_EQ(rv, (uint32_t)SCARD_E_CANCELLED);
    EXPECT_EQ(payload.size(), 12u); /* one reader: state and an empty ATR */

    /* The waiter leaves in the middle of another endless wait: its context
       goes (CANCEL no longer finds it), the other client keeps working. */
    send_raw(fd, endless_wait());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    close(fd);
    bool released = false;
    for (int i = 0; i < 40 && !released; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        released =
            call(other, request(BRIDGE_CANCEL, {id}), payload) == (uint32_t)SCARD_E_INVALID_HANDLE;
    }
    EXPECT_TRUE(released);
    EXPECT_EQ(call(other, request(BRIDGE_IS_VALID, {}), payload), (uint32_t)SCARD_S_SUCCESS);
    EXPECT_EQ(call(other, request(BRIDGE_RELEASE, {}), payload), (uint32_t)SCARD_S_SUCCESS);
    EXPECT_EQ(call(other, request(BRIDGE_IS_VALID, {}), payload), (uint32_t)SCARD_E_INVALID_HANDLE);
    close(other);
}

TEST(BridgeWithPcscd, SecondEstablishOnOneConnectionIsRefused) {
    int fd = -1;
    uint32_t id = 0;
    if (!client_establish(fd, id))
        GTEST_SKIP() << "pcscd is not running";
    send_raw(fd, request(BRIDGE_ESTABLISH, {BRIDGE_MAGIC, 2}));
    EXPECT_TRUE(closed_by_bridge(fd));
    close(fd);
    expect_bridge_serves();
}

TEST(BridgeTranslation, WindowsValues) {
    EXPECT_EQ(bridge_protocol_to_windows(SCARD_PROTOCOL_T0), 1u);
    EXPECT_EQ(bridge_protocol_to_windows(SCARD_PROTOCOL_T1), 2u);
    EXPECT_EQ(bridge_protocol_to_windows(SCARD_PROTOCOL_RAW), 0x10000u);
    EXPECT_EQ(bridge_protocol_from_windows(0x10000), (DWORD)SCARD_PROTOCOL_RAW);
    EXPECT_EQ(bridge_protocol_from_windows(3), (DWORD)(SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
    EXPECT_EQ(bridge_protocol_from_windows(0x80000000),
              (DWORD)(SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
    EXPECT_EQ(bridge_state_to_windows(0), 0u);
    EXPECT_EQ(bridge_state_to_windows(SCARD_ABSENT), 1u);
    EXPECT_EQ(bridge_state_to_windows(SCARD_PRESENT), 2u);
    EXPECT_EQ(bridge_state_to_windows(SCARD_PRESENT | SCARD_POWERED | SCARD_NEGOTIABLE), 5u);
    EXPECT_EQ(bridge_state_to_windows(SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC), 6u);
    /* Windows SCARD_CTL_CODE(3400) is 0x00313520; pcsc-lite's is 0x42000D48. */
    EXPECT_EQ(bridge_control_code_from_windows(0x00313520), (DWORD)SCARD_CTL_CODE(3400));
    EXPECT_EQ(bridge_control_code_from_windows(0x42000D48), 0x42000D48u);
    /* pcsc-lite's "unsupported feature" is Windows' "unexpected". */
    EXPECT_EQ(bridge_feature_status(SCARD_E_UNSUPPORTED_FEATURE), (LONG)0x80100022);
    EXPECT_EQ(bridge_feature_status(SCARD_E_INSUFFICIENT_BUFFER), SCARD_E_INSUFFICIENT_BUFFER);
}

} // namespace

namespace {

std::vector<uint8_t> hex_bytes(const char *hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
        bytes.push_back((uint8_t)std::stoi(std::string(hex + i, 2), nullptr, 16));
    return bytes;
}

/* The rig's answer for one attribute tag of class 8, read back as a number;
   -1 when the rig leaves the request to pcscd; -2 for a length other than 4. */
long long rig_attribute(const char *atr_hex, uint32_t protocol, uint32_t tag) {
    std::vector<uint8_t> atr = hex_bytes(atr_hex), value;
    if (!bridge_rig_attribute(atr.data(), atr.size(), protocol, 0x80000 + tag, value))
        return -1;
    if (value.size() != 4)
        return -2;
    return (long long)(value[0] | value[1] << 8 | value[2] << 16 | (uint32_t)value[3] << 24);
}

} // namespace

/* Cards whose historical bytes start "ATTR" get the twelve protocol
   attributes worked out from their ATR; other cards, other attributes and
   cut ATRs are left to pcscd. */
TEST(BridgeRigAttributes, ValuesComeFromTheAtrOfACardThatOptsIn) {
    /* TC1 = 2, T=1 with TA3 = FE (IFSC), TB3 = 45 (BWI 4, CWI 5). */
    const char *t1 = "3BC6028131FE45415454523031DD";
    const long long expected[12] = {2, 5000, 372, 1, 2, 10, 254, 254, 15371, 43, 0, -2};
    for (uint32_t tag = 0x0201; tag <= 0x020C; tag++)
        EXPECT_EQ(rig_attribute(t1, 2, tag), expected[tag - 0x0201]) << std::hex << tag;
    std::vector<uint8_t> atr = hex_bytes(t1), value;
    ASSERT_TRUE(bridge_rig_attribute(atr.data(), atr.size(), 2, 0x8020C, value));
    EXPECT_EQ(value, std::vector<uint8_t>({0x0B, 0x3C, 0, 0, 0, 0, 0, 0}));

    /* TA1 = 96 (Fi 512 at up to 5 MHz, Di 32), TC1 = FF, TC2 = 14 for T=0. */
    const char *t0 = "3BD596FF40144154545200";
    EXPECT_EQ(rig_attribute(t0, 1, 0x0201), 1);
    EXPECT_EQ(rig_attribute(t0, 1, 0x0202), 5000);
    EXPECT_EQ(rig_attribute(t0, 1, 0x0203), 512);
    EXPECT_EQ(rig_attribute(t0, 1, 0x0204), 32);
    EXPECT_EQ(rig_attribute(t0, 1, 0x0205), 255);
    EXPECT_EQ(rig_attribute(t0, 1, 0x0206), 0x14);

    EXPECT_EQ(rig_attribute("3B8F8001804F0CA000000306030001000000006A", 2, 0x0201), -1);
    EXPECT_EQ(rig_attribute("3BC6028131FE4541545452", 2, 0x0201), -1); /* historical bytes cut */
    EXPECT_EQ(rig_attribute("3BC6028131", 2, 0x0201), -1);             /* interface bytes cut */
    EXPECT_EQ(rig_attribute("3B", 2, 0x0201), -1);
    EXPECT_EQ(rig_attribute(t1, 2, 0x0100), -1);
    EXPECT_EQ(rig_attribute(t1, 2, 0x020D), -1);
}
