/*
 * scp_test.cpp: the secure channel's own interface against published
 * GlobalPlatform vectors, one row a session: INITIALIZE UPDATE, the card's
 * answer checked and EXTERNAL AUTHENTICATE made, the session keys where the
 * vector gives them, then every command wrapped and every answer unwrapped
 * in order (the MAC chain and the SCP03 counter run through the row).
 */
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scp/scp.h"

namespace {

std::vector<uint8_t> hex(const std::string &text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back((uint8_t)strtoul(text.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string text(const uint8_t *bytes, size_t n) {
    std::string hex;
    for (size_t i = 0; i < n; i++)
        hex += "0123456789ABCDEF"[bytes[i] >> 4], hex += "0123456789ABCDEF"[bytes[i] & 15];
    return hex;
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), ::toupper);
    return s;
}

/* One command of a session: the plain command, what goes to the card, and
   optionally the card's answer and what it unwraps to. */
struct ScpStep {
    std::string plain, wrapped, answer = "", unwrapped = "";
};

struct ScpRow {
    std::string name;
    std::string enc, mac, dek;
    int level;
    std::string host, initialize_update, card_answer, external_authenticate;
    std::vector<ScpStep> steps;
    std::string session_enc = "", session_mac = "", session_rmac = "";
};

const std::string kic = "100102030405060708090a0b0c0d0e0f",
                  kid = "101102030405060708090a0b0c0d0e0f",
                  kik = "102102030405060708090a0b0c0d0e0f";
const std::string visa = "404142434445464748494A4B4C4D4E4F";
const std::string a128[3] = {"000102030405060708090a0b0c0d0e0f", "101112131415161718191a1b1c1d1e1f",
                             "202122232425262728292a2b2c2d2e2f"};
const std::string a192[3] = {"000102030405060708090a0b0c0d0e0f0001020304050607",
                             "101112131415161718191a1b1c1d1e1f1011121314151617",
                             "202122232425262728292a2b2c2d2e2f2021222324252627"};
const std::string a256[3] = {"000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f",
                             "101112131415161718191a1b1c1d1e1f101112131415161718191a1b1c1d1e1f",
                             "202122232425262728292a2b2c2d2e2f202122232425262728292a2b2c2d2e2f"};
const std::string sd_enc = "F995D0A069335C7DF42E590317FFEA6D",
                  sd_mac = "58563362EC5A4541ABCD32B34B1EAE7D",
                  sd_dek = "0A02A6D687406DCFA09DC70B3EDB7E38";

/* pySim's SCP03 sessions: GET EID wrapped and its answer unwrapped, then
   the four cases of commands. */
std::vector<ScpStep> eid_steps(const char *eid, const char *answer, const char *c1, const char *c2,
                               const char *c3, const char *c4) {
    return {{"80E2910006BF3E035C015A00", eid, std::string(answer) + "9000",
             "BF3E125A10898821199000000000000000000000059000"},
            {"80F22002", c1},
            {"80ca006600", c2},
            {"80F220020a4f0212345c054f9f70c5", c3},
            {"80f28002024f0000", c4}};
}

// clang-format off
const std::vector<ScpRow> scp_rows = {
    // pySim: SCP02 at level 01, the four cases chained.
    {"SCP02 MAC, pySim", kic, kid, kik, 0x01, "40A62C37FA6304F8", "805020000840A62C37FA6304F800",
     "00000000000000000000700200016B4524ABEE7CF32EA3838BC148F3",
     "8482010010BA6961667737C5BCEBECE14C7D6A4376",
     {{"80F22002", "84F220020814DB34FA4341DCA8"},
      {"80ca006600", "84CA00660855ED7C5FF069512B00"},
      {"80F220020a4f0212345c054f9f70c5", "84F22002124F0212345C054F9F70C58FC1B380C4228AF8"},
      {"80f28002024f0000", "84F280020A4F003B95F09317DE6A4E00"}}},
    // The GlobalPlatform library: SCP02 GET STATUS at level 01 ...
    {"SCP02 MAC, GET STATUS", visa, visa, visa, 0x01, "D5AD539A60CA5E72", "8050000008D5AD539A60CA5E7200",
     "000074746E6E6E6262620102069FAA2A0591E73367DD78794D04315E",
     "84820100107C799B3C771DBAE6BEF49310977617BA",
     {{"80F22002024F0000", "84F220020A4F00BB6E71C0EFCFCF0D00", "E30D4F07A00000000353509F70019000",
       "E30D4F07A00000000353509F70019000"}}},
    // ... and two DELETEs at level 03, their data encrypted.
    {"SCP02 MAC+ENC, DELETE", visa, visa, visa, 0x03, "EBAA9E53C696281B", "8050000008EBAA9E53C696281B00",
     "000074746E6E6E626262010206A15086BBEE58F467149061DA4B6EAE",
     "848203001005814C116071EB67D8BA9D9879454564",
     {{"80E400800A4F08D0D1D2D3D4D5010100", "84E4008018BC146FA0403BE4BAD3BC089E4ABD8674DA7EFEA21047B85800", "6A88", "6A88"},
      {"80E40080094F07D0D1D2D3D4D50100", "84E4008018C2748C1669FAFC0E20C5253680388A4A49C9A6038D77B45700", "009000", "009000"}}},
    // The GlobalPlatform library: SCP03 session keys and a DELETE at level 03.
    {"SCP03 MAC+ENC, DELETE", sd_enc, sd_mac, sd_dek, 0x03, "B2BDE1A2DC66BD56", "8050000008B2BDE1A2DC66BD5600",
     "00000000000000000000300370C40932A6FEFEAEB2E127185170F45FCA000015",
     "848203001059D54D932423D29F6313C970875F8C2F",
     {{"80E400800A4F08A00100015141434C", "84E400801829F06AEC3180B3EFE91FF662310B945DE0D5FE66AD67A5B6", "009000", "009000"}},
     "9B841BB63D1087484FF7F16802017243", "8117FE5ADED74AC0DAABE9FB81DBDB67", "4521D75E4D6F60DBFB8AB4EE254EF6F1"},
    // pySim: SCP03 with AES-128, -192 and -256 keys at levels 11, 03 and 33.
    {"SCP03 AES-128 MAC+RMAC", a128[0], a128[1], a128[2], 0x11, "b13e5f938fc108c4", "8050300008b13e5f938fc108c400",
     "000000000000000000003003703eb51047495b249f66c484c1d2ef1948000002",
     "84821100107d5f5826a993ebc89eea24957fa0b3ce",
     eid_steps("84e291000ebf3e035c015a558d036518a2829700",
               "bf3e125a1089882119900000000000000000000005971be68992dbbdfa",
               "84f220020863a63f8959827fb2", "84ca006608a0c6a4a74166f7ce00",
               "84f22002124f0212345c054f9f70c52249b50272656536", "84f280020a4f00e91443f6dce6b8ed00")},
    {"SCP03 AES-128 MAC+ENC", a128[0], a128[1], a128[2], 0x03, "8e1552d0513c60f3", "80503000088e1552d0513c60f300",
     "0000000000000000000030037030760cd2c47c1dd395065fe5ead8a9d7000001",
     "8482030010fd4721a14d9b07003c451d2f8ae6bb21",
     eid_steps("84e2910018ca9c00f6713d79bc8baa642bdff51c3f6a4082d3bd9ad26c00",
               "bf3e125a1089882119900000000000000000000005",
               "84f2200208c9811b11f1264cf1", "84ca006608e10ab60b3054798800",
               "84f22002184e2908bdb48b2315a55482e9e936ca122d6ecfae7d17416e",
               "84f28002180dd10a6b6193e5340b9e77d32d5a179cd710ac2773aefb2800")},
    {"SCP03 AES-128 MAC+ENC+RMAC+RENC", a128[0], a128[1], a128[2], 0x33, "fdf38259a1e0de44", "8050300008fdf38259a1e0de4400",
     "000000000000000000003003703b1aca81e821f219081cdc01c26b372d000003",
     "84823300108c36f96bcc00724a4e13ad591d7da3f0",
     eid_steps("84e2910018267a85dfe4a98fca6fb0527e0dfecce4914e40401433c87f00",
               "f3ba2b1013aa6224f5e1c138d71805c569e5439b47576260b75fc021b25097cb2e68f8a0144975b9",
               "84f2200208ac6a59024bed84cc", "84ca006608409912ad8fb7aed000",
               "84f22002185f3dafc3ac14c381536a488bf44e06d056df9d74dbd21e5a",
               "84f280021865165105be3373347d0424d4400af2ac393f569ec779389e00")},
    {"SCP03 AES-192 MAC+RMAC", a192[0], a192[1], a192[2], 0x11, "7396430b768b085b", "80503100087396430b768b085b00",
     "000000000000000000003103708cfc23522ffdbf1e5df5542cac8fd866000003",
     "84821100102145ed30b146f5db252fb7e624cec244",
     eid_steps("84e291000ebf3e035c015aff42cf801d14394400",
               "bf3e125a1089882119900000000000000000000005162fbd33e04940a9",
               "84f22002084584e4f6784811ee", "84ca006608937776ebe190fa3000",
               "84f22002124f0212345c054f9f70c59a52bddf3040368c", "84f280020a4f009804b11411f7393d00")},
    {"SCP03 AES-192 MAC+ENC", a192[0], a192[1], a192[2], 0x03, "69c65da8202bf19f", "805031000869c65da8202bf19f00",
     "00000000000000000000310370b570a67be38446717729d6dd3d2ec5b1000001",
     "848203001065df4f1a356a887905466516d9e5b7c1",
     eid_steps("84e2910018d2c6fb477c5d4afe4fd4d21f17eff10d3578ec1774a12a2d00",
               "bf3e125a1089882119900000000000000000000005",
               "84f2200208964e188f0b1bb697", "84ca006608f0820035a41d3e1800",
               "84f220021806b076ed452cd1fa84f77f5c08a146aa77a9286757dea791",
               "84f2800218d06527e39222dce091fabdb8e9b898417a67a6852d3577db00")},
    {"SCP03 AES-192 MAC+ENC+RMAC+RENC", a192[0], a192[1], a192[2], 0x33, "9b3f2eef0e8c9374", "80503100089b3f2eef0e8c937400",
     "00000000000000000000310370f6bb305a15bae1a68f79fb08212fbed7000002",
     "84823300109100bc22d58b45b86a26365ce39ff3cf",
     eid_steps("84e29100188f7f946c84f70d17994bc6e8791251bb1bb1bf02cf8de58900",
               "c05176c1b6f72aae50c32cbee63b0e95998928fd4dfb2be9f27ffde8c8476f5909b4805cc4039599",
               "84f2200208d5d97754b6b3d2ba", "84ca006608516c82b8e30adbeb00",
               "84f2200218cc247f4761e6944277a4e0d6e32e44025b1e31537e2fc668",
               "84f2800218ba22b63d509bef5d093b43e5eaed03ed23144ab2d9cb51de00")},
    {"SCP03 AES-256 MAC+RMAC", a256[0], a256[1], a256[2], 0x11, "11666d57866c6f54", "805032000811666d57866c6f5400",
     "0000000000000000000032037053ea8847efa7674e41498a4d66cf0dee000003",
     "84821100102f2ad190eff2fafc4908996d1cebd310",
     eid_steps("84e291000ebf3e035c015af4b680372542b59d00",
               "bf3e125a10898821199000000000000000000000058012dd7f01f1c4c1",
               "84f2200208d618b7da68d5fe52", "84ca0066088f3e055db23ad5e500",
               "84f22002124f0212345c054f9f70c5b6e15cc42404915e", "84f280020a4f00aa124aa74afe7f7500")},
    {"SCP03 AES-256 MAC+ENC", a256[0], a256[1], a256[2], 0x03, "c6066990fc426e1d", "8050320008c6066990fc426e1d00",
     "000000000000000000003203708682cd81bbd8919f2de3f2664581f118000001",
     "848203001077c493b632edadaf865a1e64acc07ce9",
     eid_steps("84e29100183ddaa60594963befaada3525b492ede23c2ab2c1ce3afe4400",
               "bf3e125a1089882119900000000000000000000005",
               "84f2200208480ddc8e419da38d", "84ca0066083e9d6a6c0b2d732000",
               "84f22002183ebfef2da8b04af2a85f491f299b76973df76ff08a4031be",
               "84f2800218783fff80990f5585b1055010ea95094a26e4a8f1ef4b18e100")},
    {"SCP03 AES-256 MAC+ENC+RMAC+RENC", a256[0], a256[1], a256[2], 0x33, "97b2055fe58599fd", "805032000897b2055fe58599fd00",
     "00000000000000000000320370a8439a22cedf045fa9f1903b2834f26e000002",
     "8482330010508a0fd959d2e547c6b33154a6be2057",
     eid_steps("84e29100187a5ef717eaf1e135ae92fe54429d0e465decda65f5fe5aea00",
               "ea90dbfa648a67c5eb6abc57f8530b97d0cd5647c5e8732016b55203b078dd2ace7f8bc5d1c1cd99",
               "84f2200208bcc5c17275545d93", "84ca00660804806aba9d543bb600",
               "84f2200218717222491556ec81a45f49ce48be33320024801a1c4cb0e0",
               "84f2800218561f105bccd3a1642904b251ccc1228beb80a82370a8637000")},
};
// clang-format on

void keys_from(const ScpRow &row, ScpKeys *keys) {
    std::vector<uint8_t> enc = hex(row.enc), mac = hex(row.mac), dek = hex(row.dek);
    keys->length = enc.size();
    memcpy(keys->enc, enc.data(), enc.size());
    memcpy(keys->mac, mac.data(), mac.size());
    memcpy(keys->dek, dek.data(), dek.size());
}

} // namespace

TEST(Scp, PublishedSessions) {
    static ScpWork work;
    for (const ScpRow &row : scp_rows) {
        SCOPED_TRACE(row.name);
        ScpRequest request;
        memset(&request, 0, sizeof request);
        request.level = row.level;
        request.scp02_i = -1;
        std::vector<uint8_t> iu = hex(row.initialize_update), host = hex(row.host);
        request.kvn = iu[2];
        request.host_length = host.size();
        memcpy(request.host, host.data(), host.size());
        unsigned char command[XFER_COMMAND_MAX];
        int length = scp_initialize_update(&request, command);
        EXPECT_EQ(text(command, (size_t)length), upper(row.initialize_update));

        ScpKeys keys;
        keys_from(row, &keys);
        ScpSession session;
        memset(&session, 0, sizeof session);
        char message[SCP_MESSAGE_SIZE] = "";
        std::vector<uint8_t> answer = hex(row.card_answer);
        ASSERT_EQ(scp_authenticate(&session, &request, &keys, answer.data(), answer.size(), command,
                                   &length, &work, message, sizeof message),
                  SCP_OK)
            << message;
        EXPECT_EQ(text(command, (size_t)length), upper(row.external_authenticate));
        if (!row.session_enc.empty()) {
            EXPECT_EQ(text(session.enc, 16), row.session_enc);
            EXPECT_EQ(text(session.mac, 16), row.session_mac);
            EXPECT_EQ(text(session.rmac, 16), row.session_rmac);
        }
        for (const ScpStep &step : row.steps) {
            std::vector<uint8_t> plain = hex(step.plain);
            ASSERT_EQ(scp_wrap(&session, plain.data(), (int)plain.size(), 0, command,
                               XFER_COMMAND_MAX, &length, &work, message, sizeof message),
                      SCP_OK)
                << message;
            EXPECT_EQ(text(command, (size_t)length), upper(step.wrapped)) << step.plain;
            if (step.answer.empty())
                continue;
            std::vector<uint8_t> received = hex(step.answer);
            int plain_length = 0;
            ASSERT_EQ(scp_unwrap(&session, received.data(), (int)received.size(), &plain_length,
                                 &work, message, sizeof message),
                      SCP_OK)
                << message;
            EXPECT_EQ(text(received.data(), (size_t)plain_length), upper(step.unwrapped));
        }
        scp_session_wipe(&session);
    }
}

/* SCP02 key diversification: each row the block 3DES-ECB encrypted under
   the master key, written out by hand over a KDD of distinct bytes. */
TEST(Scp, Diversification) {
    const uint8_t kdd[SCP_KDD_SIZE] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::pair<int, const char *> rows[] = {
        {SCP_DIVERSIFY_EMV, "040506070809F0010405060708090F01"},
        {SCP_DIVERSIFY_EMV, "040506070809F0030405060708090F03"},
        {SCP_DIVERSIFY_VISA2, "000104050607F0010001040506070F01"},
        {SCP_DIVERSIFY_VISA2, "000104050607F0020001040506070F02"}};
    std::vector<uint8_t> master = hex(visa);
    for (const auto &[method, text_block] : rows) {
        std::vector<uint8_t> block = hex(text_block);
        uint8_t want[16], got[16];
        crypto_encrypt(CRYPTO_3DES_ECB, master.data(), 16, 0, 0, block.data(), 16, want, 16, 0, 0);
        ASSERT_EQ(scp_diversify(method, master.data(), kdd, block[15], got), SCP_OK);
        EXPECT_EQ(text(got, 16), text(want, 16)) << text_block;
    }
}
