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
    {"SCP02 MAC, then in the clear after /SCP END",
     {"/SCP MAC " + scp02_keys + " KVN 20 HOST 40A62C37FA6304F8", "80F22002", "/EXPECT 9000",
      "/SCP END", "80 $SCP_KDD", "80 $#SCP_DEK"},
     {iu02, "9000", "9000"},
     {"805020000840A62C37FA6304F800", ea02, "84F220020814DB34FA4341DCA8", "8000000000000000000000", "8010"},
     {}, {"line 1: /SCP MAC", "line 3: /EXPECT 9000"}},
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
    // Logical channels: bit 3 of a first interindustry CLA, bit 6 of a further one.
    {"the secure-messaging indication on logical channels",
     {"/SCP MAC+RMAC " + k128 + " KVN 30 HOST B13E5F938FC108C4", "81CA006600", "/EXPECT 6A88",
      "C1CA006600", "/EXPECT 6A88", "4FCA006600", "/EXPECT 6A88"},
     {iu11, "9000", "6A88", "6A88", "6A88"},
     {"8050300008B13E5F938FC108C400", "84821100107D5F5826A993EBC89EEA24957FA0B3CE",
      "85CA006608*00", "E1CA006608*00", "6FCA006608*00"},
     {}, {"line 1: /SCP MAC+RMAC", "line 3: /EXPECT 6A88", "line 5: /EXPECT 6A88", "line 7: /EXPECT 6A88"}},
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
      "[DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH]"},
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
     {"!!! Check failed, line 1: secure channel: unknown level FAST",
      "!!! Check failed, line 2: secure channel: unknown value NOPE",
      "!!! Check failed, line 3: secure channel: keys of 2 and 3 bytes",
      "!!! Check failed, line 4: secure channel: HOST of 2 bytes, 8 wanted",
      "!!! Check failed, line 5: secure channel: DIVERSIFY takes VISA2 or EMV",
      "!!! Check failed, line 7: secure channel: /SCP takes LEVEL KEY K | ENC K MAC K DEK K [KVN HH] "
      "[DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH]"},
     {"line 1: /SCP FAST", "line 2: /SCP MAC", "line 3: /SCP MAC", "line 4: /SCP MAC",
      "line 5: /SCP MAC", "line 7: /SCP"}},
};
// clang-format on

bool sent_matches(const std::string &want, const std::string &got) {
    size_t star = want.find('*'), tail = star == std::string::npos ? 0 : want.size() - star - 1;
    return star == std::string::npos
               ? want == got
               : got.size() >= want.size() - 1 && got.rfind(want.substr(0, star), 0) == 0 &&
                     got.compare(got.size() - tail, tail, want, star + 1, tail) == 0;
}

} // namespace

TEST(CoreScp, LevelsAndFailures) {
    for (const ScpLineRow &row : scp_line_rows) {
        SCOPED_TRACE(row.name);
        CoreDir dir;
        CardSession *session;
        FILE *pane;
        int reader = core_script_ready(&session, &pane);
        for (const std::string &answer : row.answers)
            fake_answer_push(reader, core_answer_hex(answer));
        core_script_write(dir / "row.txt", row.lines);
        ScriptTally tally;
        memset(&tally, 0, sizeof tally);

        EXPECT_EQ(script_run(session, (dir / "row.txt").c_str(), &tally), SCRIPT_RUN_DONE);
        std::string text = core_stream_text(pane);
        std::vector<std::vector<uint8_t>> commands = fake_commands(reader);
        ASSERT_EQ(commands.size(), row.sent.size()) << text;
        for (size_t i = 0; i < commands.size(); i++)
            EXPECT_TRUE(sent_matches(row.sent[i], core_hex(commands[i])))
                << i << ": " << core_hex(commands[i]);
        EXPECT_EQ(core_failures(text), row.failures) << text;
        EXPECT_EQ(tally.failed, (int)row.failures.size());
        std::string shown = text;
        EXPECT_EQ(core_tally_names(&tally, &shown), row.records);
        for (const std::string &piece : row.shown)
            EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
        for (const char *key : {"000102030405060708090A0B0C0D0E0F",
                                "101102030405060708090A0B0C0D0E0F", "4041424344454647"})
            EXPECT_EQ(shown.find(key), std::string::npos) << key;
        script_tally_free(&tally);
        fclose(pane);
    }
}
