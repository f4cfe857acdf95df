/*
 * winscard_card_test.cpp: the PC/SC calls of a Windows program under Wine, through
 * the rig's winscard.dll and the bridge, against the rig's test cards: reader
 * lists, T=0 and T=1 cards, memory, 61xx/6Cxx, removal and insertion, and the
 * error codes a program sees without a service, without a card, with a bad
 * handle or with a buffer that is too small.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <winscard.h>

#include "tests/win/harness/testcard.h"

namespace {

const char reader0[] = "Virtual PCD 00 00";
const char reader1[] = "Virtual PCD 00 01";
const char t0_atr[] = "3B021450";

std::vector<BYTE> bytes_of(const char *hex) {
    std::vector<BYTE> bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        unsigned value = 0;
        sscanf(hex + i, "%2x", &value);
        bytes.push_back((BYTE)value);
    }
    return bytes;
}

std::string hex_of(const BYTE *bytes, DWORD length) {
    std::string text;
    char pair[3];
    for (DWORD i = 0; i < length; i++) {
        snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

struct PcscCard : ::testing::Test {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0; /* demo_card's */
    DWORD protocol = 0;
    void SetUp() override {
        ASSERT_TRUE(testcard_reset_state(0)) << "is the rig running? (scripts/rig start)";
        ASSERT_TRUE(testcard_reset_state(1));
        ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context),
                  SCARD_S_SUCCESS);
    }
    void TearDown() override {
        if (context)
            SCardReleaseContext(context);
        testcard_remove(0);
        testcard_remove(1);
    }
    /* Connects to the card in `reader`, T=0 or T=1 as the card offers. */
    SCARDHANDLE connect(const char *reader, DWORD &protocol) {
        SCARDHANDLE card = 0;
        EXPECT_EQ(SCardConnectA(context, reader, SCARD_SHARE_SHARED,
                                SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol),
                  SCARD_S_SUCCESS);
        return card;
    }
    /* A demo card put into reader 0 and connected to: card and protocol. */
    void demo_card() {
        ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
        card = connect(reader0, protocol);
    }
    /* One exchange; the response as hexadecimal, or "ERROR xxxxxxxx". */
    std::string exchange(SCARDHANDLE card, DWORD protocol, const char *command) {
        std::vector<BYTE> bytes = bytes_of(command);
        BYTE response[512];
        DWORD length = sizeof response;
        LONG rv = SCardTransmit(card, protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0,
                                bytes.data(), (DWORD)bytes.size(), nullptr, response, &length);
        if (rv != SCARD_S_SUCCESS) {
            char text[32];
            snprintf(text, sizeof text, "ERROR %08lX", (unsigned long)rv);
            return text;
        }
        return hex_of(response, length);
    }
    /* Waits until the reader shows a card (or none); false after ms. */
    bool wait_for(const char *reader, bool present, DWORD ms) {
        SCARD_READERSTATEA state = {};
        state.szReader = reader;
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        DWORD start = GetTickCount();
        do {
            LONG rv = SCardGetStatusChangeA(context, 200, &state, 1);
            if (rv != SCARD_S_SUCCESS && rv != (LONG)SCARD_E_TIMEOUT)
                return false;
            bool seen = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
            if (seen == present)
                return true;
            state.dwCurrentState = state.dwEventState;
        } while (GetTickCount() - start < ms);
        return false;
    }
};

TEST_F(PcscCard, ListsBothVirtualReaders) {
    DWORD length = 0;
    ASSERT_EQ(SCardListReadersA(context, nullptr, nullptr, &length), SCARD_S_SUCCESS);
    std::vector<char> names(length);
    ASSERT_EQ(SCardListReadersA(context, nullptr, names.data(), &length), SCARD_S_SUCCESS);
    ASSERT_EQ(length, names.size());
    std::vector<std::string> list;
    for (const char *name = names.data(); *name; name += strlen(name) + 1)
        list.push_back(name);
    EXPECT_EQ(names[length - 1], '\0');
    EXPECT_EQ(names[length - 2], '\0');
    EXPECT_NE(std::find(list.begin(), list.end(), reader0), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), reader1), list.end());

    /* Without a context, as the program's reader scan calls it. */
    char buffer[16000];
    DWORD size = sizeof buffer;
    ASSERT_EQ(SCardListReadersA(0, nullptr, buffer, &size), SCARD_S_SUCCESS);
    EXPECT_EQ(size, length);
    EXPECT_EQ(memcmp(buffer, names.data(), length), 0);

    /* Allocated by the library, freed with SCardFreeMemory. */
    char *allocated = nullptr;
    size = SCARD_AUTOALLOCATE;
    ASSERT_EQ(SCardListReadersA(context, nullptr, (LPSTR)&allocated, &size), SCARD_S_SUCCESS);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(size, length);
    EXPECT_EQ(memcmp(allocated, names.data(), length), 0);
    EXPECT_EQ(SCardFreeMemory(context, allocated), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardFreeMemory(context, allocated), SCARD_E_INVALID_PARAMETER); /* twice */

    /* A buffer one byte short. */
    size = length - 1;
    EXPECT_EQ(SCardListReadersA(context, nullptr, buffer, &size), SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, length);
    EXPECT_EQ(SCardIsValidContext(context), SCARD_S_SUCCESS);
}

TEST_F(PcscCard, T1AndT0CardsAndTheirAtr) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_insert(1, t0_atr, true));
    DWORD protocol0 = 0, protocol1 = 0;
    SCARDHANDLE card0 = connect(reader0, protocol0);
    SCARDHANDLE card1 = connect(reader1, protocol1);
    EXPECT_EQ(protocol0, (DWORD)SCARD_PROTOCOL_T1);
    EXPECT_EQ(protocol1, (DWORD)SCARD_PROTOCOL_T0);

    char names[64];
    BYTE atr[64];
    DWORD names_length = sizeof names, atr_length = sizeof atr, state = 0, protocol = 0;
    ASSERT_EQ(SCardStatusA(card0, names, &names_length, &state, &protocol, atr, &atr_length),
              SCARD_S_SUCCESS);
    EXPECT_EQ(hex_of(atr, atr_length), testcard_demo_atr);
    EXPECT_EQ(names_length, sizeof reader0 + 1); /* the name, NUL, NUL */
    EXPECT_EQ(std::string(names, names_length), std::string(reader0, sizeof reader0) + '\0');
    EXPECT_EQ(protocol, (DWORD)SCARD_PROTOCOL_T1);
    EXPECT_GE(state, (DWORD)SCARD_PRESENT);

    atr_length = sizeof atr;
    ASSERT_EQ(SCardState(card1, &state, &protocol, atr, &atr_length), SCARD_S_SUCCESS);
    EXPECT_EQ(hex_of(atr, atr_length), t0_atr);
    EXPECT_EQ(protocol, (DWORD)SCARD_PROTOCOL_T0);

    /* Only the lengths asked for; then an ATR buffer too small. */
    names_length = 0;
    atr_length = 0;
    ASSERT_EQ(SCardStatusA(card1, nullptr, &names_length, nullptr, nullptr, nullptr, &atr_length),
              SCARD_S_SUCCESS);
    EXPECT_EQ(names_length, sizeof reader1 + 1);
    EXPECT_EQ(atr_length, 4u);
    atr_length = 3;
    EXPECT_EQ(SCardStatusA(card1, nullptr, nullptr, nullptr, nullptr, atr, &atr_length),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(atr_length, 4u);
    EXPECT_EQ(SCardDisconnect(card0, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardDisconnect(card1, SCARD_RESET_CARD), SCARD_S_SUCCESS);
}

TEST_F(PcscCard, MemoryWrittenAndReadBack) {
    ASSERT_NO_FATAL_FAILURE(demo_card());
    EXPECT_EQ(exchange(card, protocol, "00D0001004CAFEBABE"), "9000");
    EXPECT_EQ(exchange(card, protocol, "00B0001004"), "CAFEBABE9000");
    EXPECT_EQ(testcard_memory(0, 0x10, 4), bytes_of("CAFEBABE"));
    EXPECT_EQ(exchange(card, protocol, "FFD600050401020304"), "9000");
    EXPECT_EQ(testcard_memory(0, 20, 4), bytes_of("01020304"));
    ASSERT_TRUE(testcard_memory_set(0, 0xFFFE, bytes_of("A55A")));
    EXPECT_EQ(exchange(card, protocol, "FFB03FFF04"), "0000A55A9000");
    EXPECT_EQ(exchange(card, protocol, "00B0FFFF02"), "6B00");
    std::vector<std::string> log = testcard_log(0);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0], "C: 00D0001004CAFEBABE");
    EXPECT_EQ(log[1], "R: 9000");
    EXPECT_EQ(log.back(), "R: 6B00");
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}

TEST_F(PcscCard, T0CardAnswers61xxAnd6Cxx) {
    ASSERT_TRUE(testcard_insert(1, t0_atr, true));
    DWORD protocol = 0;
    SCARDHANDLE card = connect(reader1, protocol);
    ASSERT_EQ(protocol, (DWORD)SCARD_PROTOCOL_T0);
    EXPECT_EQ(exchange(card, protocol, "00A4040002A0B1"), "6106");
    EXPECT_EQ(exchange(card, protocol, "00C0000006"), "6F048402A0B19000");
    EXPECT_EQ(exchange(card, protocol, "00B0000000"), "6C08");
    EXPECT_EQ(exchange(card, protocol, "00B0000008"), "00000000000000009000");
    EXPECT_EQ(exchange(card, protocol, "00C0000006"), "6985");
    ASSERT_TRUE(testcard_force_status(1, 0x6A, 0x82, 1));
    EXPECT_EQ(exchange(card, protocol, "00B0000008"), "6A82");
    EXPECT_EQ(exchange(card, protocol, "00B0000001"), "009000");
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}

TEST_F(PcscCard, ResponseLengthsAndSmallReceiveBuffer) {
    ASSERT_NO_FATAL_FAILURE(demo_card());
    EXPECT_EQ(exchange(card, protocol, "80F00002"), "9000");
    EXPECT_EQ(exchange(card, protocol, "80F00004"), "00019000");
    BYTE command[] = {0x80, 0xF0, 0x01, 0x02}, response[300];
    DWORD length = sizeof response;
    SCARD_IO_REQUEST receive = {};
    ASSERT_EQ(SCardTransmit(card, SCARD_PCI_T1, command, 4, &receive, response, &length),
              SCARD_S_SUCCESS);
    EXPECT_EQ(length, 258u);
    EXPECT_EQ(response[255], 255);
    EXPECT_EQ(receive.dwProtocol, (DWORD)SCARD_PROTOCOL_T1);
    length = 100;
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T1, command, 4, nullptr, response, &length),
              SCARD_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, 258u);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}

TEST_F(PcscCard, CardRemovedAndInsertedAgain) {
    ASSERT_NO_FATAL_FAILURE(demo_card());
    EXPECT_EQ(exchange(card, protocol, "80F00002"), "9000");
    ASSERT_TRUE(testcard_remove(0));
    ASSERT_TRUE(wait_for(reader0, false, 5000));
    EXPECT_NE(exchange(card, protocol, "80F00002"), "9000");
    DWORD state = 0, length = 0;
    EXPECT_NE(SCardStatusA(card, nullptr, nullptr, &state, nullptr, nullptr, &length),
              SCARD_S_SUCCESS);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCARDHANDLE none = 0;
    EXPECT_EQ(SCardConnectA(context, reader0, SCARD_SHARE_SHARED,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &none, &protocol),
              SCARD_E_NO_SMARTCARD);

    ASSERT_TRUE(testcard_insert(0, t0_atr, true));
    ASSERT_TRUE(wait_for(reader0, true, 5000));
    card = connect(reader0, protocol);
    EXPECT_EQ(protocol, (DWORD)SCARD_PROTOCOL_T0);
    EXPECT_EQ(exchange(card, protocol, "00A4040000"), "6104");
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}

TEST_F(PcscCard, CleanErrorCodes) {
    /* Bad handles and null pointers. */
    BYTE command[] = {0x80, 0xF0, 0x00, 0x02}, response[8];
    DWORD length = sizeof response, protocol = 0;
    EXPECT_EQ(SCardTransmit(0x1234, SCARD_PCI_T1, command, 4, nullptr, response, &length),
              SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(
        SCardTransmit((SCARDHANDLE)context, SCARD_PCI_T1, command, 4, nullptr, response, &length),
        SCARD_E_INVALID_HANDLE); /* a context is no card */
    EXPECT_EQ(SCardStatusA(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardDisconnect(0x99, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardIsValidContext(0x77), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardReleaseContext(0x77), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, nullptr),
              SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(SCardListReadersA(context, nullptr, nullptr, nullptr), SCARD_E_INVALID_PARAMETER);
    SCARDHANDLE card = 0;
    EXPECT_EQ(SCardConnectA(context, nullptr, SCARD_SHARE_SHARED, 3, &card, &protocol),
              SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(SCardGetStatusChangeA(context, 0, nullptr, 1), SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(SCardFreeMemory(context, response), SCARD_E_INVALID_PARAMETER);

    /* No card in the reader. */
    EXPECT_EQ(SCardConnectA(context, reader1, SCARD_SHARE_SHARED, 3, &card, &protocol),
              SCARD_E_NO_SMARTCARD);
    EXPECT_EQ(SCardConnectA(context, "No Such Reader 99", SCARD_SHARE_SHARED, 3, &card, &protocol),
              SCARD_E_UNKNOWN_READER);

    /* A handle of a released context is dead. */
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card = connect(reader0, protocol);
    SCARDCONTEXT old = context;
    EXPECT_EQ(SCardReleaseContext(old), SCARD_S_SUCCESS);
    context = 0;
    EXPECT_EQ(SCardReleaseContext(old), SCARD_E_INVALID_HANDLE);
    EXPECT_EQ(SCardTransmit(card, SCARD_PCI_T1, command, 4, nullptr, response, &length),
              SCARD_E_INVALID_HANDLE);

    /* No bridge: the DLL is pointed at a port where nothing listens. */
    SetEnvironmentVariableA("VORLANE_PCSC_BRIDGE_PORT", "1");
    SCARDCONTEXT none = 0;
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &none),
              SCARD_E_NO_SERVICE);
    char names[256];
    length = sizeof names;
    EXPECT_EQ(SCardListReadersA(0, nullptr, names, &length), SCARD_E_NO_SERVICE);
    SetEnvironmentVariableA("VORLANE_PCSC_BRIDGE_PORT", nullptr);
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context),
              SCARD_S_SUCCESS);
}

TEST_F(PcscCard, AttributesTransactionsAndReconnect) {
    ASSERT_NO_FATAL_FAILURE(demo_card());
    /* The virtual readers support no attribute; the program sees the Windows
       code for that, and a null length is refused before any call. */
    BYTE value[4];
    DWORD length = sizeof value;
    EXPECT_EQ(SCardGetAttrib(card, SCARD_ATTR_ATR_STRING, value, &length),
              SCARD_E_UNSUPPORTED_FEATURE);
    length = sizeof value;
    EXPECT_EQ(SCardGetAttrib(card, SCARD_ATTR_VALUE(8, 0x201), value, &length),
              SCARD_E_UNSUPPORTED_FEATURE);
    EXPECT_EQ(SCardGetAttrib(card, SCARD_ATTR_ATR_STRING, value, nullptr),
              SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(SCardGetAttrib(0x4242, SCARD_ATTR_ATR_STRING, value, &length),
              SCARD_E_INVALID_HANDLE);

    EXPECT_EQ(SCardBeginTransaction(card), SCARD_S_SUCCESS);
    EXPECT_EQ(exchange(card, protocol, "80F00003"), "009000");
    EXPECT_EQ(SCardEndTransaction(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    DWORD active = 0;
    EXPECT_EQ(
        SCardReconnect(card, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, SCARD_RESET_CARD, &active),
        SCARD_S_SUCCESS);
    EXPECT_EQ(active, (DWORD)SCARD_PROTOCOL_T1);
    EXPECT_EQ(exchange(card, protocol, "80F00003"), "009000");
    EXPECT_EQ(SCardDisconnect(card, SCARD_UNPOWER_CARD), SCARD_S_SUCCESS);
    EXPECT_EQ(SCardDisconnect(card, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
}

TEST_F(PcscCard, ThreadsShareOneCardHandle) {
    ASSERT_NO_FATAL_FAILURE(demo_card());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; i++) {
                BYTE command[] = {0x80, 0xF0, 0x00, (BYTE)(3 + t * 7 + i % 5)}, response[64];
                DWORD length = sizeof response;
                LONG rv = SCardTransmit(card, SCARD_PCI_T1, command, 4, nullptr, response, &length);
                if (rv != SCARD_S_SUCCESS || length != command[3] || response[length - 2] != 0x90 ||
                    response[length - 3] != (BYTE)(length - 3))
                    wrong++;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
}

TEST_F(PcscCard, WinsockPathGivesTheSameAnswers) {
    /* Under Wine the DLL talks to the bridge with direct Linux socket calls;
       elsewhere, or when told so, through Winsock. */
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    SetEnvironmentVariableA("VORLANE_WINSCARD_WINSOCK", "1");
    SCARDCONTEXT winsock = 0;
    LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &winsock);
    SetEnvironmentVariableA("VORLANE_WINSCARD_WINSOCK", nullptr);
    ASSERT_EQ(rv, SCARD_S_SUCCESS);
    std::swap(context, winsock);
    DWORD protocol = 0;
    SCARDHANDLE card = connect(reader0, protocol);
    EXPECT_EQ(protocol, (DWORD)SCARD_PROTOCOL_T1);
    EXPECT_EQ(exchange(card, protocol, "80F00006"), "000102039000");
    EXPECT_EQ(exchange(card, protocol, "00B0000002"), "00009000");
    DWORD length = 0;
    EXPECT_EQ(SCardListReadersA(context, nullptr, nullptr, &length), SCARD_S_SUCCESS);
    EXPECT_GT(length, 2u * sizeof reader0);
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    std::swap(context, winsock);
    EXPECT_EQ(SCardReleaseContext(winsock), SCARD_S_SUCCESS);
}

TEST_F(PcscCard, ReleaseFromAnotherThreadEndsAWait) {
    SCARD_READERSTATEA state = {};
    state.szReader = reader1;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    ASSERT_EQ(SCardGetStatusChangeA(context, 0, &state, 1), SCARD_S_SUCCESS);
    state.dwCurrentState = state.dwEventState;
    std::atomic<LONG> result{0};
    std::thread waiter([&] { result = SCardGetStatusChangeA(context, INFINITE, &state, 1); });
    Sleep(300);
    EXPECT_EQ(SCardReleaseContext(context), SCARD_S_SUCCESS);
    waiter.join();
    EXPECT_EQ(result.load(), (LONG)SCARD_E_CANCELLED);
    EXPECT_EQ(SCardIsValidContext(context), SCARD_E_INVALID_HANDLE);
    context = 0;
}

TEST_F(PcscCard, EndlessWaitIsCancelled) {
    SCARD_READERSTATEA state = {};
    state.szReader = reader1;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    ASSERT_EQ(SCardGetStatusChangeA(context, 0, &state, 1), SCARD_S_SUCCESS);
    state.dwCurrentState = state.dwEventState; /* wait for a change that does not come */
    std::atomic<LONG> result{0};
    std::thread waiter([&] { result = SCardGetStatusChangeA(context, INFINITE, &state, 1); });
    Sleep(300);
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(SCardCancel(context), SCARD_S_SUCCESS);
    waiter.join();
    EXPECT_EQ(result.load(), (LONG)SCARD_E_CANCELLED);
    EXPECT_EQ(SCardIsValidContext(context), SCARD_S_SUCCESS);
}

} // namespace
