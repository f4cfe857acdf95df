/*
 * scp_transport_test.cpp: the secure channel's protocol at its seams with
 * the interpreter, one row a behaviour: the opening's steps and how each
 * answer is judged (pySim's SCP03 session at level 11), the T=0 follow-up
 * an answer asks for on each logical channel, GET RESPONSE as transport,
 * and an answer joined from its parts at R-MAC levels.
 */
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "scp/scp.h"

namespace {

std::vector<uint8_t> bytes_of(const std::string &hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string hex_of(const uint8_t *bytes, size_t n) {
    std::string text;
    for (size_t i = 0; i < n; i++)
        text +=
            std::string(1, "0123456789ABCDEF"[bytes[i] >> 4]) + "0123456789ABCDEF"[bytes[i] & 15];
    return text;
}

const std::string initialize_update = "8050300008B13E5F938FC108C400";
const std::string card_answer =
    "000000000000000000003003703EB51047495B249F66C484C1D2EF19480000029000";
const std::string external_authenticate = "84821100107D5F5826A993EBC89EEA24957FA0B3CE";

struct OpeningRow {
    const char *name;
    const char *mac;                  /* the static MAC key; ENC and DEK as published */
    std::vector<std::string> answers; /* the card's final answers, one a step */
    std::vector<int> steps;           /* the step after each answer */
    std::string reason;               /* when the last step fails */
};

const char *good_mac = "101112131415161718191A1B1C1D1E1F";

// clang-format off
const std::vector<OpeningRow> opening_rows = {
    {"both answers 9000: open", good_mac, {card_answer, "9000"},
     {SCP_STEP_EXTERNAL_AUTHENTICATE, SCP_STEP_OPEN}, ""},
    {"INITIALIZE UPDATE refused", good_mac, {"6A88"}, {SCP_STEP_FAILED},
     "INITIALIZE UPDATE answered 6A88"},
    {"an answer without a status word", good_mac, {"90"}, {SCP_STEP_FAILED},
     "INITIALIZE UPDATE answered 1 bytes"},
    {"a card answer with data but no 9000", good_mac, {card_answer.substr(0, card_answer.size() - 4) + "6310"},
     {SCP_STEP_FAILED}, "INITIALIZE UPDATE answered 6310"},
    {"wrong keys: EXTERNAL AUTHENTICATE never made", "FF1112131415161718191A1B1C1D1E1F", {card_answer},
     {SCP_STEP_FAILED}, "card cryptogram does not match (wrong keys?)"},
    {"EXTERNAL AUTHENTICATE refused", good_mac, {card_answer, "6982"},
     {SCP_STEP_EXTERNAL_AUTHENTICATE, SCP_STEP_FAILED}, "EXTERNAL AUTHENTICATE answered 6982"},
    {"an answer after the end", good_mac, {card_answer, "9000", "9000"},
     {SCP_STEP_EXTERNAL_AUTHENTICATE, SCP_STEP_OPEN, SCP_STEP_FAILED}, "the opening has ended"},
};
// clang-format on

struct FollowRow {
    const char *name;
    int channel;
    std::string command, answer;
    int joining;
    std::string follow; /* "" for a final answer */
};

// clang-format off
const std::vector<FollowRow> follow_rows = {
    {"61xx: GET RESPONSE on channel 0", 0, "80CA006600", "6128", 0, "00C0000028"},
    {"61xx on channel 3", 3, "83CA006600", "6128", 0, "03C0000028"},
    {"61xx on channel 5: the further class", 5, "C1CA006600", "6128", 0, "41C0000028"},
    {"61xx on channel 19", 19, "CFCA006600", "6100", 0, "4FC0000000"},
    {"61xx after data, nothing joined: final", 0, "80CA006600", "AABB6110", 0, ""},
    {"61xx after data while joining", 0, "00C0000028", "AABB6110", 1, "00C0000010"},
    {"6Cxx: again with the Le asked for", 0, "80CA006600", "6C10", 0, "80CA006610"},
    {"6Cxx to a command with data keeps its data", 0, "80F2400002" "4F00" "00", "6C1C", 0, "80F24000024F001C"},
    {"6Cxx to an extended Le", 0, "80CA0066000000", "6C10", 0, "80CA0066000010"},
    {"6Cxx 00 to an extended Le asks for 256", 0, "80CA0066000000", "6C00", 0, "80CA0066000100"},
    {"6Cxx to a command without Le: never sent twice", 0, external_authenticate, "6C10", 0, ""},
    {"6Cxx after data: final", 0, "80CA006600", "AA6C10", 0, ""},
    {"9000: final", 0, "80CA006600", "9000", 0, ""},
    {"a command shorter than a header: final", 0, "80CA00", "6110", 0, ""},
};
// clang-format on

} // namespace

TEST(ScpOpening, StepsAndTheirJudgments) {
    static ScpWork work;
    for (const OpeningRow &row : opening_rows) {
        SCOPED_TRACE(row.name);
        ScpRequest request;
        ScpKeys keys;
        ScpSession session;
        ScpOpening opening;
        memset(&request, 0, sizeof request);
        memset(&session, 0, sizeof session);
        request.level = SCP_LEVEL_C_R_MAC;
        request.kvn = 0x30;
        request.scp02_i = -1;
        request.host_length = 8;
        memcpy(request.host, bytes_of("B13E5F938FC108C4").data(), 8);
        keys.length = 16;
        memcpy(keys.enc, bytes_of("000102030405060708090A0B0C0D0E0F").data(), 16);
        memcpy(keys.mac, bytes_of(row.mac).data(), 16);
        memcpy(keys.dek, bytes_of("202122232425262728292A2B2C2D2E2F").data(), 16);

        scp_open_begin(&opening, &request, &keys);
        EXPECT_EQ(opening.step, SCP_STEP_INITIALIZE_UPDATE);
        EXPECT_EQ(hex_of(opening.command, (size_t)opening.command_length), initialize_update);
        char message[SCP_MESSAGE_SIZE] = "";
        for (size_t i = 0; i < row.answers.size(); i++) {
            std::vector<uint8_t> answer = bytes_of(row.answers[i]);
            EXPECT_EQ(scp_open_answer(&opening, &session, answer.data(), (int)answer.size(), &work,
                                      message, sizeof message),
                      row.steps[i])
                << i;
            if (row.steps[i] == SCP_STEP_EXTERNAL_AUTHENTICATE)
                EXPECT_EQ(hex_of(opening.command, (size_t)opening.command_length),
                          external_authenticate);
        }
        if (row.steps.back() == SCP_STEP_FAILED)
            EXPECT_EQ(std::string(message), row.reason);
        scp_session_wipe(&session);
    }
}

TEST(ScpTransport, FollowUps) {
    for (const FollowRow &row : follow_rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> command = bytes_of(row.command), answer = bytes_of(row.answer);
        std::vector<uint8_t> out(command.size() + 5, 0xA5), in_place = command;
        in_place.resize(command.size() + 5);
        int length = scp_follow_up(row.channel, command.data(), (int)command.size(), answer.data(),
                                   (int)answer.size(), row.joining, out.data());
        EXPECT_EQ(hex_of(out.data(), (size_t)length), row.follow);
        /* the command's own buffer may take its follow-up */
        EXPECT_EQ(scp_follow_up(row.channel, in_place.data(), (int)command.size(), answer.data(),
                                (int)answer.size(), row.joining, in_place.data()),
                  length);
        EXPECT_EQ(hex_of(in_place.data(), (size_t)length), row.follow);
    }
}

TEST(ScpTransport, GetResponseIsTransport) {
    const std::pair<const char *, int> rows[] = {
        {"00C0000010", 1}, {"01C0000010", 1}, {"41C0000010", 1}, /* any logical channel */
        {"80C0000010", 0},                                       /* a proprietary INS C0 */
        {"00B0000010", 0}, {"00C000", 0},
    };
    for (const auto &[command, transport] : rows) {
        std::vector<uint8_t> bytes = bytes_of(command);
        EXPECT_EQ(scp_is_transport(bytes.data(), (int)bytes.size()), transport) << command;
    }
}

TEST(ScpTransport, AnswerJoinedFromItsParts) {
    static ScpSession session;
    static ScpJoined joined;
    static uint8_t answer[XFER_RESPONSE_MAX];
    auto put = [](const std::string &hex) {
        std::vector<uint8_t> bytes = bytes_of(hex);
        memcpy(answer, bytes.data(), bytes.size());
        return (int)bytes.size();
    };
    joined.length = -1;
    session.level = SCP_LEVEL_C_MAC;
    EXPECT_EQ(scp_join(&session, &joined, answer, put("AABB6102")), 4) << "no R-MAC: as it is";
    session.level = SCP_LEVEL_C_R_MAC;
    EXPECT_EQ(scp_join(&session, &joined, answer, put("9000")), 2) << "one part: as it is";
    EXPECT_EQ(scp_join(&session, &joined, answer, put("AABB6102")), -1);
    EXPECT_EQ(scp_join(&session, &joined, answer, put("6101")), -1) << "a part of no data";
    EXPECT_EQ(scp_join(&session, &joined, answer, put("CCDD9000")), 6);
    EXPECT_EQ(hex_of(answer, 6), "AABBCCDD9000");
    EXPECT_EQ(joined.length, -1) << "the next answer starts anew";
    joined.length = XFER_RESPONSE_MAX - 2;
    EXPECT_EQ(scp_join(&session, &joined, answer, put("CCDDEE6101")), -2) << "longer than any";
}
