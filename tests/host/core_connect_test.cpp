/*
 * core_connect_test.cpp: the connection layer both front ends share, over
 * the fake PC/SC: what a connect and the state query leave in a session
 * when the card answers, when the query fails after the connect, when the
 * service dies under the context and when the reader vanishes between the
 * list and the connect; and the runner's rule for a failed query (the card
 * fails, no ATR is reported).
 */
#include <gtest/gtest.h>

#include "card/card_connect.h"
#include "card/pcsc.h"
#include "tests/host/core_harness.h"

namespace {

enum ConnectTrouble { NONE, STATE_FAILS, SERVICE_DIES, READER_VANISHES };

struct ConnectRow {
    const char *name;
    ConnectTrouble trouble;
    LONG connect_status; /* what card_connect returns */
    LONG state_status;   /* what card_read_atr returns (when connected) */
    bool dead;           /* the status that ended it means the service is gone */
};

const ConnectRow connect_rows[] = {
    {"a card that answers", NONE, SCARD_S_SUCCESS, SCARD_S_SUCCESS, false},
    {"the state query fails", STATE_FAILS, SCARD_S_SUCCESS, SCARD_E_NOT_TRANSACTED, false},
    {"the service dies", SERVICE_DIES, SCARD_E_NO_SERVICE, 0, true},
    {"the reader vanishes", READER_VANISHES, SCARD_E_UNKNOWN_READER, 0, false},
};

/* What each status means for a session, the one reading both front ends
   act on. */
struct MeaningRow {
    LONG status;
    int meaning;
};

const MeaningRow meaning_rows[] = {
    {SCARD_S_SUCCESS, PCSC_ANSWERED},
    {SCARD_E_NO_SMARTCARD, PCSC_NO_CARD},
    {SCARD_W_UNRESPONSIVE_CARD, PCSC_NO_CARD},
    {SCARD_W_UNPOWERED_CARD, PCSC_NO_CARD},
    {SCARD_W_REMOVED_CARD, PCSC_CARD_CHANGED},
    {SCARD_W_RESET_CARD, PCSC_CARD_CHANGED},
    {SCARD_E_UNKNOWN_READER, PCSC_READER_GONE},
    {SCARD_E_READER_UNAVAILABLE, PCSC_READER_GONE},
    {SCARD_E_NO_READERS_AVAILABLE, PCSC_READER_GONE},
    {SCARD_E_NO_SERVICE, PCSC_SERVICE_GONE},
    {SCARD_E_SERVICE_STOPPED, PCSC_SERVICE_GONE},
    {SCARD_E_INVALID_HANDLE, PCSC_SERVICE_GONE},
    {SCARD_E_TIMEOUT, PCSC_FAILED},
    {SCARD_E_NOT_TRANSACTED, PCSC_FAILED},
    {SCARD_E_INSUFFICIENT_BUFFER, PCSC_FAILED},
    {SCARD_E_PROTO_MISMATCH, PCSC_FAILED},
    {SCARD_E_SHARING_VIOLATION, PCSC_FAILED},
};

} // namespace

TEST(CoreConnect, EachStatusMeansOneThing) {
    for (const MeaningRow &row : meaning_rows)
        EXPECT_EQ(pcsc_status_meaning(row.status), row.meaning) << std::hex << row.status;
}

TEST(CoreConnect, LayerKeepsOnlyReceivedBytes) {
    for (const ConnectRow &row : connect_rows) {
        SCOPED_TRACE(row.name);
        int reader = core_start();
        CardSession *session = &runner.readers[0].session;
        snprintf(session->reader_name, sizeof session->reader_name, "%s", core_reader_name);
        ASSERT_EQ(card_context_open(session, SCARD_SCOPE_SYSTEM), SCARD_S_SUCCESS);
        if (row.trouble == STATE_FAILS)
            fake_state_fail(reader, row.state_status);
        if (row.trouble == SERVICE_DIES)
            fake_service_stop();
        if (row.trouble == READER_VANISHES)
            fake_reader_remove(reader);
        memset(session->card_atr, 0x5A, sizeof session->card_atr);

        LONG status = card_connect(session, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
        EXPECT_EQ(status, row.connect_status);
        if (status == SCARD_S_SUCCESS) {
            DWORD state = 0;
            status = card_read_atr(session, &state);
            EXPECT_EQ(status, row.state_status);
            std::vector<uint8_t> kept(session->card_atr, session->card_atr + CARD_ATR_SIZE);
            std::vector<uint8_t> expected(CARD_ATR_SIZE, 0);
            if (status == SCARD_S_SUCCESS)
                std::copy(core_atr.begin(), core_atr.end(), expected.begin());
            EXPECT_EQ(session->card_atr_len, status == SCARD_S_SUCCESS ? (int)core_atr.size() : 0);
            EXPECT_TRUE(kept == expected) << "bytes not received were kept";
        } else {
            EXPECT_EQ(session->card_handle, (SCARDHANDLE)0);
        }
        EXPECT_EQ(pcsc_status_meaning(status) == PCSC_SERVICE_GONE, row.dead);
        card_context_close(session);
        EXPECT_EQ(session->card_state, CARD_NO_CONTEXT);
        fake_service_start();
    }
}

/* The runner's rule: a card whose ATR cannot be read fails with the
   status named, and the report carries no ATR (never the bytes the query
   left in its buffer). */
TEST(CoreConnect, RunnerFailsACardWithoutAtr) {
    CoreDir dir;
    int reader = core_start();
    fake_state_fail(reader, SCARD_E_NOT_TRANSACTED);
    std::string script = dir / "ok.txt", report = dir / "r.xml";
    core_file_write(script, "00 B0 00 00 04\n");
    FILE *out = tmpfile(), *err = tmpfile();

    int status = core_runner({"-r", core_reader_name, "--junit", report, script}, out, err);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(core_stream_text(err), std::string("vorlane-run: reader ") + core_reader_name +
                                         ": the ATR could not be read: 0x80100016 "
                                         "SCARD_E_NOT_TRANSACTED\n");
    EXPECT_EQ(core_stream_text(out), "");
    std::string xml = core_file_text(report);
    EXPECT_NE(xml.find("<property name=\"atr\" value=\"\"/>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("A5A5"), std::string::npos) << xml;
    EXPECT_NE(xml.find("the ATR could not be read: 0x80100016 SCARD_E_NOT_TRANSACTED"),
              std::string::npos)
        << xml;
    EXPECT_TRUE(fake_commands(reader).empty());
    fclose(out);
    fclose(err);
}
