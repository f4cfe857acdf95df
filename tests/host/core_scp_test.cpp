/*
 * core_scp_test.cpp: "/SCP" lines through the interpreter against the fake
 * PC/SC, one row a script: every level opened with the card's answers of
 * published sessions (HOST fixes the host challenge), the commands as they
 * reach the card, and every failure's line, its report name and the lines
 * a broken channel keeps from going out. Keys never show.
 */
#include "tests/host/core_harness.h"

#include <string.h>

#include "script/script_check.h"
#include "script/script_run.h"
#include "script/script_scp.h"
#include "card/card_connect.h"
#include "crypto/crypto.h"

namespace {

struct ScpLineRow {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::string> answers;    /* the card's answers in order, then 9000 */
    std::vector<std::string> sent;       /* the commands the card receives; "A*B": starts
                                            with A, ends with B */
    std::vector<std::string> failures;   /* every failed check's pane line, in order */
    std::vector<std::string> records;    /* the report's names of every check, in order */
    std::vector<std::string> shown = {}; /* texts the pane holds */
};

const std::string k128 =
    "ENC 000102030405060708090A0B0C0D0E0F MAC 101112131415161718191A1B1C1D1E1F "
    "DEK 202122232425262728292A2B2C2D2E2F";
const std::string iu11 = "000000000000000000003003703EB51047495B249F66C484C1D2EF19480000029000";
const std::string eid = "80E2910006BF3E035C015A00";
const std::string eid_wrapped11 = "84E291000EBF3E035C015A558D036518A2829700";
const std::string eid_answer11 = "BF3E125A1089882119900000000000000000000005971BE68992DBBDFA9000";
const std::string eid_plain = "BF3E125A1089882119900000000000000000000005";
const std::string scp02_keys =
    "ENC 100102030405060708090A0B0C0D0E0F MAC 101102030405060708090A0B0C0D0E0F "
    "DEK 102102030405060708090A0B0C0D0E0F";
const std::string iu02 = "00000000000000000000700200016B4524ABEE7CF32EA3838BC148F39000";
const std::string ea02 = "8482010010BA6961667737C5BCEBECE14C7D6A4376";

// clang-format off
const std::vector<ScpLineRow> scp_line_rows = {
    {"SCP02 MAC, then in the clear after /SCP END, SCP_DEK gone with the channel",
     {"/SCP MAC " + scp02_keys + " KVN 20 HOST 40A62C37FA6304F8", "80F22002", "/EXPECT 9000",
      "/SCP END", "80 $SCP_KDD", "80 $#SCP_DEK"},
     {iu02, "9000", "9000"},
     {"805020000840A62C37FA6304F800", ea02, "84F220020814DB34FA4341DCA8", "8000000000000000000000"},
     {"!!! Check failed, line 6: unknown value SCP_DEK"},
     {"line 1: /SCP MAC", "line 3: /EXPECT 9000", "line 6: 80 $#SCP_DEK"}},
    {"SCP02 MAC+ENC, a status word the script expects",
     {"/SET K 404142434445464748494A4B4C4D4E4F", "/SCP MAC+ENC KEY $K HOST EBAA9E53C696281B",
      "80E40080 0A 4F08D0D1D2D3D4D50101 00", "/EXPECT 6A88"},
     {"000074746E6E6E626262010206A15086BBEE58F467149061DA4B6EAE9000", "9000", "6A88"},
     {"8050000008EBAA9E53C696281B00", "848203001005814C116071EB67D8BA9D9879454564",
      "84E4008018BC146FA0403BE4BAD3BC089E4ABD8674DA7EFEA21047B85800"},
     {}, {"line 2: /SCP MAC+ENC", "line 4: /EXPECT 6A88"}},
    {"SCP03 MAC+RMAC, the answer's R-MAC checked",
     {"/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4", eid, "/EXPECT " + eid_plain + " 9000"},
     {iu11, "9000", eid_answer11},
     {"8050300008B13E5F938FC108C400", "84821100107D5F5826A993EBC89EEA24957FA0B3CE", eid_wrapped11},
     {}, {"line 1: /SCP MAC+RMAC", "line 3: /EXPECT " + eid_plain + " 9000"}},
    {"SCP03 MAC+ENC with AES-256 keys",
     {"/SCP MAC+ENC ENC 000102030405060708090A0B0C0D0E0F000102030405060708090A0B0C0D0E0F "
      "MAC 101112131415161718191A1B1C1D1E1F101112131415161718191A1B1C1D1E1F "
      "DEK 202122232425262728292A2B2C2D2E2F202122232425262728292A2B2C2D2E2F KVN 32 HOST C6066990FC426E1D",
      eid, "/EXPECT " + eid_plain + " 9000"},
     {"000000000000000000003203708682CD81BBD8919F2DE3F2664581F1180000019000", "9000", eid_plain + "9000"},
     {"8050320008C6066990FC426E1D00", "848203001077C493B632EDADAF865A1E64ACC07CE9",
      "84E29100183DDAA60594963BEFAADA3525B492EDE23C2AB2C1CE3AFE4400"},
     {}, {"line 1: /SCP MAC+ENC", "line 3: /EXPECT " + eid_plain + " 9000"}},
    {"SCP03 MAC+ENC+RMAC+RENC, traced",
     {"/SCP MAC+ENC+RMAC+RENC " + k128 + " KVN 30 HOST FDF38259A1E0DE44", eid, "/EXPECT " + eid_plain + " 9000"},
     {"000000000000000000003003703B1ACA81E821F219081CDC01C26B372D0000039000", "9000",
      "F3BA2B1013AA6224F5E1C138D71805C569E5439B47576260B75FC021B25097CB2E68F8A0144975B99000"},
     {"8050300008FDF38259A1E0DE4400", "84823300108C36F96BCC00724A4E13AD591D7DA3F0",
      "84E2910018267A85DFE4A98FCA6FB0527E0DFECCE4914E40401433C87F00"},
     {}, {"line 1: /SCP MAC+ENC+RMAC+RENC", "line 3: /EXPECT " + eid_plain + " 9000"},
     {"Sending\r\n" + eid + "\r\nSecured\r\n84E2910018267A85DFE4A98FCA6FB0527E0DFECCE4914E40401433C87F00\r\n"
      "Received\r\nF3BA2B1013AA6224F5E1C138D71805C569E5439B47576260B75FC021B25097CB\r\n2E68F8A0144975B99000\r\n"
      "Plain\r\n" + eid_plain + "9000\r\n"}},
    // No published session at level 13: the card's status word carries no
    // R-MAC, and the level reaches EXTERNAL AUTHENTICATE's P1.
    {"SCP03 MAC+ENC+RMAC, an answer without R-MAC",
     {"/SCP MAC+ENC+RMAC " + k128 + " HOST B13E5F938FC108C4", eid, "/EXPECT 6A88"},
     {iu11, "9000", "6A88"},
     {"8050000008B13E5F938FC108C400", "8482130010*", "84E2910018*00"},
     {}, {"line 1: /SCP MAC+ENC+RMAC", "line 3: /EXPECT 6A88"}},
    // T=0: GET RESPONSE goes out as written and the answer it brings is
    // unwrapped; a 6Cxx re-send is wrapped again with the Le asked for.
    {"T=0 follow-ups under a channel",
     {"/T=0", "/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4", eid, "/EXPECT " + eid_plain + " 9000",
      "/OFF", "80CA006600", "/EXPECT 6A88"},
     {iu11, "9000", "6128", eid_answer11, "6C10", "6A88"},
     {"8050300008B13E5F938FC108C400", "84821100107D5F5826A993EBC89EEA24957FA0B3CE", eid_wrapped11,
      "00C0000028", "84CA006608*00", "84CA006608*10"},
     {}, {"line 2: /SCP MAC+RMAC", "line 4: /EXPECT " + eid_plain + " 9000", "line 7: /EXPECT 6A88"}},
    // Logical channels. The MACs are the published channel-0 ones: a C-MAC
    // covers channel 0's class byte (84 for SCP03 and SCP02's modified
    // command), so only the class byte sent differs: bit 3 of a first
    // interindustry CLA, bit 6 of a further one. A MAC over the class byte
    // as sent would differ. Lines on other channels go out as written.
    {"SCP03 on logical channel 1, channel 0 in the clear",
     {"/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4 CHANNEL 1", "81" + eid.substr(2),
      "/EXPECT " + eid_plain + " 9000", "80CA006600", "/EXPECT 6A88"},
     {iu11, "9000", eid_answer11, "6A88"},
     {"8150300008B13E5F938FC108C400", "85821100107D5F5826A993EBC89EEA24957FA0B3CE",
      "85" + eid_wrapped11.substr(2), "80CA006600"},
     {}, {"line 1: /SCP MAC+RMAC", "line 3: /EXPECT " + eid_plain + " 9000", "line 5: /EXPECT 6A88"}},
    {"SCP03 on logical channel 5, the opening's GET RESPONSE on it too",
     {"/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4 CHANNEL 5", "C1" + eid.substr(2),
      "/EXPECT " + eid_plain + " 9000"},
     {"6122", iu11, "9000", eid_answer11},
     {"C150300008B13E5F938FC108C400", "41C0000022", "E1821100107D5F5826A993EBC89EEA24957FA0B3CE",
      "E1" + eid_wrapped11.substr(2)},
     {}, {"line 1: /SCP MAC+RMAC", "line 3: /EXPECT " + eid_plain + " 9000"}},
    {"SCP02 on logical channel 1",
     {"/SCP MAC " + scp02_keys + " KVN 20 HOST 40A62C37FA6304F8 CHANNEL 1", "81F22002", "00B0000004"},
     {iu02, "9000", "9000", "9000"},
     {"815020000840A62C37FA6304F800", "85" + ea02.substr(2), "85F220020814DB34FA4341DCA8", "00B0000004"},
     {}, {"line 1: /SCP MAC"}},
    // A command without Le is never sent again after 6Cxx under a channel
    // (a MAC sent twice): EXTERNAL AUTHENTICATE's 6C10 is its answer, and
    // so is a secured case 1 command's.
    {"6Cxx to a command without Le",
     {"/T=0", "/SCP MAC " + k128 + " KVN 30 HOST B13E5F938FC108C4",
      "/SCP MAC " + k128 + " KVN 30 HOST B13E5F938FC108C4", "80F22002", "/EXPECT 6C10"},
     {iu11, "6C10", iu11, "9000", "6C10"},
     {"8050300008B13E5F938FC108C400", "84820100107D5F5826A993EBC8*", "8050300008B13E5F938FC108C400",
      "84820100107D5F5826A993EBC8*", "84F2200208*"},
     {"!!! Check failed, line 2: secure channel: EXTERNAL AUTHENTICATE answered 6C10"},
     {"line 2: /SCP MAC", "line 3: /SCP MAC", "line 5: /EXPECT 6C10"}},
    {"an SCP02 i asking for implicit initiation, CHANNEL out of range",
     {"/SCP MAC " + scp02_keys + " KVN 20 HOST 40A62C37FA6304F8 I 11",
      "/SCP MAC " + scp02_keys + " CHANNEL 20"},
     {iu02}, {"805020000840A62C37FA6304F800"},
     {"!!! Check failed, line 1: secure channel: SCP02 i=11 asks for implicit initiation, which is not offered",
      "!!! Check failed, line 2: secure channel: CHANNEL takes 0 to 19"},
     {"line 1: /SCP MAC", "line 2: /SCP MAC"}},
    {"wrong keys: EXTERNAL AUTHENTICATE never sent, the channel broken until /SCP END",
     {"/SET K 404142434445464748494A4B4C4D4E4F", "/SCP MAC KEY $K KVN 20 HOST 40A62C37FA6304F8",
      "80F22002", "/SCP END", "00A4040000"},
     {iu02, "9000"},
     {"805020000840A62C37FA6304F800", "00A4040000"},
     {"!!! Check failed, line 2: secure channel: card cryptogram does not match (wrong keys?)",
      "!!! Check failed, line 3: not sent: the secure channel failed at line 2"},
     {"line 2: /SCP MAC", "line 3: 80F22002"}},
    {"a broken R-MAC breaks the channel",
     {"/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4", eid, "80F22002", "/SCP MAC+RMAC"},
     {iu11, "9000", "BF3E125A1089882119900000000000000000000005971BE68992DBBDFB9000"},
     {"8050300008B13E5F938FC108C400", "84821100107D5F5826A993EBC89EEA24957FA0B3CE", eid_wrapped11},
     {"!!! Check failed, line 2: secure channel: response MAC does not match",
      "!!! Check failed, line 3: not sent: the secure channel failed at line 2",
      "!!! Check failed, line 4: secure channel: /SCP takes LEVEL KEY K | ENC K MAC K DEK K [KVN HH] "
      "[DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH] [CHANNEL N]"},
     {"line 1: /SCP MAC+RMAC", "line 2: " + eid, "line 3: 80F22002", "line 4: /SCP MAC+RMAC"}},
    {"the card refuses",
     {"/SCP MAC " + k128, "/SCP MAC " + k128 + " HOST B13E5F938FC108C4", "/SCP MAC+RMAC " + scp02_keys,
      "/SCP MAC " + k128 + " S16", "/SCP MAC " + k128, "/SCP MAC " + k128, "/SCP END", "80CA006600"},
     {"6A88", iu11, "6982", iu02, iu11, "0000000000000000000030039000",
      "000000000000000000003001703EB51047495B249F66C484C1D2EF19480000029000", "9000"},
     {"8050000008*00", "8050000008B13E5F938FC108C400", "84820100*", "8050000008*00",
      "8050000010*00", "8050000008*00", "8050000008*00", "80CA006600"},
     {"!!! Check failed, line 1: secure channel: INITIALIZE UPDATE answered 6A88",
      "!!! Check failed, line 2: secure channel: EXTERNAL AUTHENTICATE answered 6982",
      "!!! Check failed, line 3: secure channel: SCP02 offers MAC and MAC+ENC only",
      "!!! Check failed, line 4: secure channel: the card's SCP03 i=70 does not allow S16",
      "!!! Check failed, line 5: secure channel: INITIALIZE UPDATE answer is not SCP03's",
      "!!! Check failed, line 6: secure channel: the card offers SCP01, not SCP02 or SCP03"},
     {"line 1: /SCP MAC", "line 2: /SCP MAC", "line 3: /SCP MAC+RMAC", "line 4: /SCP MAC",
      "line 5: /SCP MAC", "line 6: /SCP MAC"}},
    {"lines that cannot be read",
     {"/SCP FAST KEY 00", "/SCP MAC KEY $NOPE", "/SCP MAC ENC 0011 MAC 001122 DEK 0011",
      "/SCP MAC KEY 404142434445464748494A4B4C4D4E4F HOST 0102", "/SCP MAC KEY 4041 DIVERSIFY AMEX",
      "/SCPX", "/SCP"},
     {}, {},
     {"!!! Check failed, line 1: secure channel: unknown level (4 characters)",
      "!!! Check failed, line 2: secure channel: unknown value NOPE",
      "!!! Check failed, line 3: secure channel: keys of 2 and 3 bytes",
      "!!! Check failed, line 4: secure channel: HOST of 2 bytes, 8 wanted",
      "!!! Check failed, line 5: secure channel: DIVERSIFY takes VISA2 or EMV",
      "!!! Check failed, line 7: secure channel: /SCP takes LEVEL KEY K | ENC K MAC K DEK K [KVN HH] "
      "[DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH] [CHANNEL N]"},
     {"line 1: /SCP", "line 2: /SCP MAC", "line 3: /SCP MAC", "line 4: /SCP MAC",
      "line 5: /SCP MAC", "line 7: /SCP"}},
};
// clang-format on

} // namespace

TEST(CoreScp, LevelsAndFailures) {
    for (const ScpLineRow &row : scp_line_rows) {
        SCOPED_TRACE(row.name);
        CoreRowRun run;
        for (const std::string &answer : row.answers)
            fake_answer_push(run.reader, core_answer_hex(answer));

        EXPECT_EQ(run.run(row.lines), SCRIPT_RUN_DONE);
        std::string text = core_stream_text(run.pane);
        std::vector<std::vector<uint8_t>> commands = fake_commands(run.reader);
        ASSERT_EQ(commands.size(), row.sent.size()) << text;
        for (size_t i = 0; i < commands.size(); i++)
            EXPECT_TRUE(core_sent_matches(row.sent[i], core_hex(commands[i])))
                << i << ": " << core_hex(commands[i]);
        EXPECT_EQ(core_failures(text), row.failures) << text;
        EXPECT_EQ(run.tally.failed, (int)row.failures.size());
        std::string shown = text;
        EXPECT_EQ(core_tally_names(&run.tally, &shown), row.records);
        for (const std::string &piece : row.shown)
            EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
        for (const char *key : {"000102030405060708090A0B0C0D0E0F",
                                "101102030405060708090A0B0C0D0E0F", "4041424344454647"})
            EXPECT_EQ(shown.find(key), std::string::npos) << key;
    }
}

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes bytes_of(const std::string &hex) {
    return core_answer_hex(hex).bytes;
}

Bytes joined(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/* The protocols' MACs computed here from crypto/crypto.h alone, apart
   from scp/, so that one misreading cannot pass both. */
Bytes model_mac(int mac, const Bytes &key, const Bytes &iv, Bytes data) {
    Bytes out(16);
    size_t made = 0;
    if (mac == CRYPTO_MAC_RETAIL) /* ISO/IEC 9797-1 padding method 2 */
        for (data.push_back(0x80); data.size() % 8;)
            data.push_back(0);
    EXPECT_EQ(crypto_mac(mac, key.data(), key.size(), iv.empty() ? 0 : iv.data(), iv.size(),
                         data.data(), data.size(), out.data(), out.size(), &made, 0, 0),
              CRYPTO_OK);
    out.resize(made);
    return out;
}

/* SCP03's session key of constant: the counter-mode KDF, one block. */
Bytes model_kdf(const Bytes &key, uint8_t constant, const Bytes &context) {
    Bytes data(11, 0);
    data.insert(data.end(), {constant, 0x00, 0x00, 0x80, 0x01});
    return model_mac(CRYPTO_MAC_CMAC_AES, key, {}, joined(data, context));
}

Bytes model_first(const Bytes &bytes, size_t n) {
    return Bytes(bytes.begin(), bytes.begin() + (long)n);
}

/* The run of lines with answers queued; the commands the card received. */
std::vector<std::string> run_lines(const std::vector<std::string> &lines,
                                   const std::vector<Bytes> &answers, std::string *text) {
    CoreDir dir;
    CardSession *session;
    FILE *pane;
    int reader = core_script_ready(&session, &pane);
    for (const Bytes &answer : answers) {
        FakeAnswer made;
        made.bytes = answer;
        fake_answer_push(reader, made);
    }
    core_script_write(dir / "s.txt", lines);
    EXPECT_EQ(script_run(session, (dir / "s.txt").c_str(), NULL), SCRIPT_RUN_DONE);
    *text = core_stream_text(pane);
    fclose(pane);
    std::vector<std::string> sent;
    for (const Bytes &command : fake_commands(reader))
        sent.push_back(core_hex(command));
    return sent;
}

} // namespace

/* SCP02's i as the GlobalPlatform table reads it: 05 MACs the modified
   command with a plain ICV, 17 the unmodified one with the ICV encrypted;
   a session the published vector opened (i=15). */
TEST(CoreScp, Scp02Options) {
    const Bytes s_mac = [] {
        Bytes mac_key = bytes_of("101102030405060708090A0B0C0D0E0F"), out(16);
        Bytes data = bytes_of("01010001000000000000000000000000");
        EXPECT_EQ(crypto_encrypt(CRYPTO_3DES_CBC, mac_key.data(), 16, 0, 0, data.data(), 16,
                                 out.data(), 16, 0, 0),
                  CRYPTO_OK);
        return out;
    }();
    const Bytes host_cryptogram = bytes_of("BA6961667737C5BC");
    ASSERT_EQ(core_hex(model_mac(CRYPTO_MAC_RETAIL, s_mac, {},
                                 joined(bytes_of("8482010010"), host_cryptogram))),
              ea02.substr(26)); /* the model agrees with the published EXTERNAL AUTHENTICATE */
    for (int i : {0x05, 0x17}) {
        SCOPED_TRACE(i);
        bool unmodified = i & 0x02;
        Bytes first =
            model_mac(CRYPTO_MAC_RETAIL, s_mac, {},
                      joined(bytes_of(unmodified ? "8082010008" : "8482010010"), host_cryptogram));
        auto next = [&](const Bytes &last,
                        const char *input) { /* the ICV chained */
                                             Bytes icv = last;
                                             if (i & 0x10)
                                                 EXPECT_EQ(crypto_encrypt(CRYPTO_DES_ECB,
                                                                          s_mac.data(), 8, 0, 0,
                                                                          last.data(), 8,
                                                                          icv.data(), 8, 0, 0),
                                                           CRYPTO_OK);
                                             return model_mac(CRYPTO_MAC_RETAIL, s_mac, icv,
                                                              bytes_of(input));
        };
        /* unmodified: the command as sent plain, Lc only with data */
        Bytes second = next(first, unmodified ? "80F22002024F00" : "84F220020A4F00");
        Bytes third = next(second, unmodified ? "80F22002" : "84F2200208");
        char option[8];
        snprintf(option, sizeof option, " I %02X", i);
        std::string text;
        std::vector<std::string> sent = run_lines(
            {"/SCP MAC " + scp02_keys + " KVN 20 HOST 40A62C37FA6304F8" + option, "80F22002024F00",
             "80F22002"},
            {bytes_of(iu02), bytes_of("9000"), bytes_of("9000"), bytes_of("9000")}, &text);
        EXPECT_EQ(sent, (std::vector<std::string>{"805020000840A62C37FA6304F800",
                                                  "8482010010BA6961667737C5BC" + core_hex(first),
                                                  "84F220020A4F00" + core_hex(second),
                                                  "84F2200208" + core_hex(third)}))
            << text;
    }
}

/* Under R-MAC an answer of 300 bytes comes behind 61xx in T=0 parts: the
   parts are joined and the whole unwrapped once, as its R-MAC covers the
   whole. */
TEST(CoreScp, RmacAnswerInParts) {
    const Bytes context = bytes_of("B13E5F938FC108C43EB51047495B249F");
    const Bytes mac_key = bytes_of("101112131415161718191A1B1C1D1E1F");
    const Bytes s_mac = model_kdf(mac_key, 0x06, context),
                s_rmac = model_kdf(mac_key, 0x07, context);
    Bytes chain = model_mac(CRYPTO_MAC_CMAC_AES, s_mac, {},
                            joined(Bytes(16, 0), bytes_of("84821100107D5F5826A993EBC8")));
    ASSERT_EQ(core_hex(model_first(chain, 8)), "9EEA24957FA0B3CE"); /* the published one */
    chain = model_mac(CRYPTO_MAC_CMAC_AES, s_mac, {}, joined(chain, bytes_of("84CA00FE08")));
    Bytes plain = fake_pattern(300).bytes;
    Bytes data = model_first(plain, 300);
    Bytes whole = joined(data, model_first(model_mac(CRYPTO_MAC_CMAC_AES, s_rmac, {},
                                                     joined(joined(chain, data), bytes_of("9000"))),
                                           8));
    Bytes part1 = joined(model_first(whole, 256), bytes_of("6134"));
    Bytes part2 = joined(Bytes(whole.begin() + 256, whole.end()), bytes_of("9000"));
    std::string text;

    std::vector<std::string> sent =
        run_lines({"/T=0", "/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4", "80CA00FE00",
                   "/EXPECT * 9000"},
                  {bytes_of(iu11), bytes_of("9000"), bytes_of("6100"), part1, part2}, &text);
    EXPECT_EQ(sent, (std::vector<std::string>{"8050300008B13E5F938FC108C400",
                                              "84821100107D5F5826A993EBC89EEA24957FA0B3CE",
                                              "84CA00FE08" + core_hex(model_first(chain, 8)) + "00",
                                              "00C0000000", "00C0000034"}));
    EXPECT_EQ(core_failures(text), std::vector<std::string>{}) << text;
    EXPECT_NE(text.find(core_trace("Plain", plain)), std::string::npos) << text;
}

namespace {

/* What happens to the card right after the channel's first command. */
enum BreakCause { BREAK_RESET, BREAK_SWAP, BREAK_REMOVAL, BREAK_FAILURE };

struct BreakRow {
    const char *name;
    BreakCause cause;
    const char *why;      /* the reason a later line names */
    bool run_ends;        /* the failed exchange ends the script */
    const char *gui_sent; /* the last command the card got, GUI path: "plain" or "secured" */
};

const std::vector<BreakRow> break_rows = {
    {"reset", BREAK_RESET, "card reset", false, "plain"},
    {"card swapped", BREAK_SWAP, "card removed", false, "plain"},
    {"card removed", BREAK_REMOVAL, "exchange failed: SCARD_W_REMOVED_CARD", true, "secured"},
    {"failed exchange", BREAK_FAILURE, "exchange failed: SCARD_E_NOT_TRANSACTED", true, "secured"},
};

CardSession *break_session;

void break_reset(void *) {
    card_reconnect(break_session, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
}

void break_swap(void *) {
    card_disconnect(break_session);
    fake_card_insert(0, core_atr);
    card_connect(break_session, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
    break_session->card_state = CARD_READY;
}

void break_remove(void *) {
    fake_card_remove(0);
}

void break_answers(int reader, BreakCause cause) {
    FakeAnswer first = core_answer_hex("6A88"), failed;
    void (*hooks[])(void *) = {break_reset, break_swap, break_remove, nullptr};
    first.then = hooks[cause];
    failed.status = SCARD_E_NOT_TRANSACTED;
    for (const std::string &answer : {iu11, std::string("9000")})
        fake_answer_push(reader, core_answer_hex(answer));
    fake_answer_push(reader, first);
    if (cause == BREAK_FAILURE)
        fake_answer_push(reader, failed);
}

const std::vector<std::string> break_a = {"/SCP MAC " + k128 + " KVN 30 HOST B13E5F938FC108C4",
                                          "80CA006600", "80CA006600", "/SCP END", "80CA006600"};
const std::vector<std::string> break_b = {"80CA006600", "/SCP END", "80CA006600"};

} // namespace

/* A channel broken by what became of its card, never ended: in the GUI's
   path (one run, its own channel) and in the runner's (a card's scripts
   share the channel), no line meant for it goes out in the clear until
   /SCP END. */
TEST(CoreScp, BreakCauses) {
    for (const BreakRow &row : break_rows) {
        for (bool runner_path : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (runner_path ? ", runner" : ", GUI"));
            CoreDir dir;
            FILE *pane;
            int reader = core_script_ready(&break_session, &pane);
            snprintf(break_session->reader_name, sizeof break_session->reader_name, "%s",
                     core_reader_name); /* for the reconnects */
            break_answers(reader, row.cause);
            core_script_write(dir / "a.txt", break_a);
            core_script_write(dir / "b.txt", break_b);
            ScriptValues values;
            ScriptChannel channel;
            ScriptTally tally;
            memset(&values, 0, sizeof values);
            memset(&channel, 0, sizeof channel);
            memset(&tally, 0, sizeof tally);
            tally.values = &values;
            tally.channel = &channel;
            ScriptTally *shared = runner_path ? &tally : NULL;

            int a = script_run(break_session, (dir / "a.txt").c_str(), shared);
            EXPECT_EQ(a, row.run_ends ? SCRIPT_RUN_FAILED : SCRIPT_RUN_DONE);
            if (runner_path)
                script_run(break_session, (dir / "b.txt").c_str(), shared);
            std::string text = core_stream_text(pane);
            std::string refused =
                std::string("not sent: the secure channel failed at line 3 (") + row.why + ")";
            std::vector<std::string> failures;
            if (!row.run_ends)
                failures.push_back("!!! Check failed, line 3: " + refused);
            if (runner_path && row.run_ends)
                failures.push_back("!!! Check failed, line 1: " + refused);
            EXPECT_EQ(core_failures(text), failures) << text;
            std::vector<std::vector<uint8_t>> sent = fake_commands(reader);
            ASSERT_GE(sent.size(), 3u);
            EXPECT_EQ(core_hex(sent[2]).substr(0, 10), "84CA006608");
            for (size_t i = 3; i < sent.size(); i++) /* nothing secured but what failed */
                EXPECT_TRUE(core_hex(sent[i]) == "80CA006600" ||
                            (row.cause == BREAK_FAILURE && i == 3))
                    << core_hex(sent[i]);
            if (!runner_path)
                EXPECT_EQ(core_hex(sent.back()) == "80CA006600" ? "plain" : "secured",
                          std::string(row.gui_sent));
            script_channel_end(&channel);
            script_values_free(&values);
            script_tally_free(&tally);
            fclose(pane);
        }
    }
}
