/*
 * pcsc_fake_test.cpp: the fake PC/SC answers as the platform does where the
 * runner relies on it: the reader list, a connection that outlives its
 * card, reader or service, and the wait for a change of the readers'
 * states, ended by the change, the timeout or a service stop.
 */
#include "tests/host/core_harness.h"

#include <chrono>
#include <string>
#include <thread>

namespace {

const char pnp_name[] = "\\\\?PnP?\\Notification";

enum FakeEvent {
    EVENT_NONE,
    EVENT_INSERT,
    EVENT_REMOVE,
    EVENT_READER_GONE,
    EVENT_READER_NEW,
    EVENT_STOP
};

struct WaitRow {
    const char *name;
    bool card;         /* a card in the reader when the wait starts */
    FakeEvent event;   /* what happens 100 ms into a wait of 2 s */
    LONG status;       /* what the wait returns */
    DWORD reader_bits; /* the reader's event state, low word */
    bool pnp_changed;  /* the notification name reports a change */
};

// clang-format off
const std::vector<WaitRow> wait_rows = {
    {"card put in", false, EVENT_INSERT, SCARD_S_SUCCESS, SCARD_STATE_PRESENT | SCARD_STATE_CHANGED, false},
    {"card taken out", true, EVENT_REMOVE, SCARD_S_SUCCESS, SCARD_STATE_EMPTY | SCARD_STATE_CHANGED, false},
    {"reader gone", true, EVENT_READER_GONE, SCARD_S_SUCCESS, SCARD_STATE_UNKNOWN | SCARD_STATE_CHANGED, true},
    {"another reader", false, EVENT_READER_NEW, SCARD_S_SUCCESS, SCARD_STATE_EMPTY, true},
    {"service stopped", false, EVENT_STOP, SCARD_E_NO_SERVICE, 0, false},
};
// clang-format on

void fake_event(FakeEvent event, int reader) {
    switch (event) {
        case EVENT_NONE: break;
        case EVENT_INSERT: fake_card_insert(reader, core_atr); break;
        case EVENT_REMOVE: fake_card_remove(reader); break;
        case EVENT_READER_GONE: fake_reader_remove(reader); break;
        case EVENT_READER_NEW: fake_reader_add("Fake Reader 1"); break;
        case EVENT_STOP: fake_service_stop(); break;
    }
}

} // namespace

/* What each entry reports at once, then what a wait on that knowledge
   ends with. */
TEST(PcscFake, WaitForChange) {
    for (const WaitRow &row : wait_rows) {
        SCOPED_TRACE(row.name);
        int reader = core_start();
        if (!row.card)
            fake_card_remove(reader);
        SCARDCONTEXT context = 0;
        ASSERT_EQ(pcsc_establish(SCARD_SCOPE_SYSTEM, &context), SCARD_S_SUCCESS);
        SCARD_READERSTATEA states[2] = {};
        states[0].szReader = core_reader_name;
        states[1].szReader = pnp_name;
        ASSERT_EQ(pcsc_get_status_change(context, 0, states, 2), SCARD_S_SUCCESS);
        EXPECT_EQ(states[0].dwEventState & 0xFFFF,
                  (row.card ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY) | SCARD_STATE_CHANGED);
        EXPECT_EQ(states[0].cbAtr, row.card ? core_atr.size() : 0u);
        for (SCARD_READERSTATEA &state : states)
            state.dwCurrentState = state.dwEventState & ~(DWORD)SCARD_STATE_CHANGED;
        EXPECT_EQ(pcsc_get_status_change(context, 50, states, 2), SCARD_E_TIMEOUT);

        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            fake_event(row.event, reader);
        });
        auto begin = std::chrono::steady_clock::now();
        LONG status = pcsc_get_status_change(context, 2000, states, 2);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - begin)
                      .count();
        later.join();
        EXPECT_EQ(status, row.status);
        EXPECT_TRUE(ms >= 90 && ms < 1500) << ms;
        if (status == SCARD_S_SUCCESS) {
            EXPECT_EQ(states[0].dwEventState & 0xFFFF, row.reader_bits);
            EXPECT_EQ((states[1].dwEventState & SCARD_STATE_CHANGED) != 0, row.pnp_changed);
        }
        fake_service_start();
        EXPECT_EQ(pcsc_get_status_change(context, 0, states, 2),
                  row.event == EVENT_STOP ? SCARD_E_INVALID_HANDLE : SCARD_S_SUCCESS);
    }
}

/* The list and a connection through the changes around it. */
TEST(PcscFake, ListAndConnection) {
    int reader = core_start();
    int second = fake_reader_add("Fake Reader 1");
    char names[64];
    DWORD length = 5;
    EXPECT_EQ(pcsc_list_readers(0, names, &length), SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 29u);
    length = sizeof names;
    ASSERT_EQ(pcsc_list_readers(0, names, &length), SCARD_S_SUCCESS);
    EXPECT_EQ(std::string(names, length), std::string("Fake Reader 0\0Fake Reader 1\0\0", 29));

    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0, state = 0;
    ASSERT_EQ(pcsc_establish(SCARD_SCOPE_SYSTEM, &context), SCARD_S_SUCCESS);
    EXPECT_EQ(pcsc_connect(context, "Nothing", SCARD_PROTOCOL_T1, &handle, &protocol),
              SCARD_E_UNKNOWN_READER);
    EXPECT_EQ(pcsc_connect(context, "Fake Reader 1", SCARD_PROTOCOL_T1, &handle, &protocol),
              SCARD_E_NO_SMARTCARD);
    ASSERT_EQ(pcsc_connect(context, core_reader_name, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                           &handle, &protocol),
              SCARD_S_SUCCESS);
    EXPECT_EQ(protocol, (DWORD)SCARD_PROTOCOL_T1);
    unsigned char atr[CARD_ATR_SIZE], response[4];
    DWORD atr_length = sizeof atr, response_length = sizeof response;
    ASSERT_EQ(pcsc_state(handle, &state, &protocol, atr, &atr_length), SCARD_S_SUCCESS);
    EXPECT_EQ(std::vector<uint8_t>(atr, atr + atr_length), core_atr);
    EXPECT_EQ(state, (DWORD)FAKE_STATE_SPECIFIC);

    /* a card put in again is another card: the old connection stays dead */
    fake_card_remove(reader);
    fake_card_insert(reader, core_atr);
    EXPECT_EQ(pcsc_state(handle, &state, &protocol, atr, &atr_length), SCARD_W_REMOVED_CARD);
    EXPECT_EQ(state, (DWORD)PCSC_STATE_ABSENT);
    EXPECT_EQ(pcsc_transmit(handle, protocol, atr, 4, response, &response_length),
              SCARD_W_REMOVED_CARD);
    ASSERT_EQ(pcsc_connect(context, core_reader_name, SCARD_PROTOCOL_T1, &handle, &protocol),
              SCARD_S_SUCCESS);
    fake_reader_remove(second);
    fake_reader_remove(reader);
    EXPECT_EQ(pcsc_transmit(handle, protocol, atr, 4, response, &response_length),
              SCARD_E_READER_UNAVAILABLE);
    length = sizeof names;
    EXPECT_EQ(pcsc_list_readers(context, names, &length), SCARD_E_NO_READERS_AVAILABLE);
    EXPECT_TRUE(fake_commands(reader).empty());
}
