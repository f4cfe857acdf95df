/*
 * core_content_test.cpp: /LOAD, /INSTALL, /DELETE and /SET NAME CAP
 * through the interpreter against the fake PC/SC, one row a script: the
 * commands as they reach the card (block sizes with no channel and at each
 * security level, BLOCK's extended form, the fields of INSTALL and DELETE),
 * a status word in the middle of a load, AIDs of the wrong length and a
 * broken channel refused before anything is sent, and every check's line
 * and report name. The CAP files are the real ones of tests/data/caps.
 */
#include "tests/host/core_harness.h"

#include <string.h>

#include "script/script_run.h"

namespace {

struct ContentRow {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::string> answers;              /* the card's first answers, then 9000 */
    size_t sent_count;                             /* commands the card receives */
    std::vector<std::pair<int, std::string>> sent; /* command N (from the end when < 0) */
    std::vector<std::string> failures;             /* every failed check's pane line */
    std::vector<std::string> records;              /* the report's names of every check */
};

const std::string pkg = "6D797061636B616731"; /* a.cap: 13,073 bytes of load file */
const std::string jc = "4A43416C6754657374", jc_applet = "4A43416C675465737431"; /* b.cap */
const std::string keys =
    "ENC 000102030405060708090A0B0C0D0E0F MAC 101112131415161718191A1B1C1D1E1F "
    "DEK 202122232425262728292A2B2C2D2E2F KVN 30 HOST B13E5F938FC108C4";
const std::string iu03 = "000000000000000000003003703EB51047495B249F66C484C1D2EF19480000029000";
const std::string iu02 = "00000000000000000000700200016B4524ABEE7CF32EA3838BC148F39000";
const std::string keys02 =
    "ENC 100102030405060708090A0B0C0D0E0F MAC 101102030405060708090A0B0C0D0E0F "
    "DEK 102102030405060708090A0B0C0D0E0F KVN 20 HOST 40A62C37FA6304F8";
const std::string not_sent = "not sent: the secure channel failed at line 1";

// clang-format off
const std::vector<ContentRow> content_rows = {
    // 13,073 bytes behind C4 82 3311 in 52 blocks of 255; SHA-1 from sha1sum.
    {"no channel, with a hash", {"/LOAD a.cap HASH SHA-1"}, {}, 53,
     {{0, "80E6020022096D797061636B61673100149" "99D087EE55A7E12DF0A873592654F9313E58939000000"},
      {1, "80E80000FFC4823311*00"}, {2, "80E80001FF*00"}, {-1, "80E8803348*00"}},
     {}, {"line 1: /LOAD a.cap"}},
    // Blocks that still fit a short command once wrapped: 247 with a MAC ...
    {"SCP03 MAC", {"/SCP MAC " + keys, "/LOAD a.cap"}, {iu03, "9000"}, 56,
     {{2, "84E6020016096D797061636B616731000000*00"}, {3, "84E80000FFC4823311*00"},
      {-1, "84E88034F1*00"}},
     {}, {"line 1: /SCP MAC", "line 2: /LOAD a.cap"}},
    // ... 239 with the data encrypted as well (240 padded and 8 of MAC).
    {"SCP03 MAC+ENC", {"/SCP MAC+ENC " + keys, "/LOAD a.cap"}, {iu03, "9000"}, 58,
     {{2, "84E6020018*00"}, {3, "84E80000F8*00"}, {-1, "84E88036B8*00"}},
     {}, {"line 1: /SCP MAC+ENC", "line 2: /LOAD a.cap"}},
    {"SCP02 MAC+ENC", {"/SCP MAC+ENC " + keys02, "/LOAD a.cap"}, {iu02, "9000"}, 58,
     {{3, "84E80000F8*00"}, {-1, "84E88036B8*00"}},
     {}, {"line 1: /SCP MAC+ENC", "line 2: /LOAD a.cap"}},
    {"BLOCK past 255: the extended form", {"/LOAD a.cap BLOCK 1000"}, {}, 15,
     {{1, "80E800000003E8C4823311*0000"}, {-1, "80E8800D4D*00"}}, {}, {"line 1: /LOAD a.cap"}},
    {"a status word in the middle of a load", {"/LOAD a.cap", "/LOAD a.cap BLOCK 10"},
     {"009000", "9000", "9000", "6A84"}, 4, {{-1, "80E80002FF*00"}},
     {"!!! Check failed, line 1: LOAD block 3 of 52 answered 6A84 (not enough memory space in the file)",
      "!!! Check failed, line 2: a load file of 13073 bytes takes more than 256 blocks of 10"},
     {"line 1: /LOAD a.cap", "line 2: /LOAD a.cap"}},
    {"INSTALL and DELETE", {"/INSTALL " + jc + " " + jc_applet + " AS A00000000101 PRIVILEGES 800000 "
                            "PARAMS 0102 NOSELECT", "/INSTALL " + jc + " " + jc_applet,
                            "/DELETE " + jc + " RELATED"}, {"009000", "009000", "6A88"}, 3,
     {{0, "80E6040026094A43416C67546573740A4A43416C67546573743106A000000001010380000004C902010200" "00"},
      {1, "80E60C0026094A43416C67546573740A4A43416C6754657374310A4A43416C6754657374310100" "02C9000000"},
      {2, "80E400800B4F094A43416C675465737400"}},
     {"!!! Check failed, line 3: DELETE answered 6A88 (referenced data or reference data not found)"},
     {"line 1: /INSTALL", "line 2: /INSTALL", "line 3: /DELETE"}},
    {"AIDs of 4 and 17 bytes, lines without arguments", {"/INSTALL 01020304 0102030405",
      "/DELETE 0102030405060708090A0B0C0D0E0F1011", "/LOAD a.cap TO 01020304", "/LOAD", "/INSTALL",
      "/DELETE", "/LOAD none.cap", "/LOAD a.cap HASH MD5", "/INSTALL " + jc + " " + jc_applet + " PRIVILEGES 0102"},
     {}, 0, {},
     {"!!! Check failed, line 1: PACKAGE of 4 bytes, an AID has 5 to 16",
      "!!! Check failed, line 2: AID of 17 bytes, an AID has 5 to 16",
      "!!! Check failed, line 3: TO of 4 bytes, an AID has 5 to 16",
      "!!! Check failed, line 4: /LOAD takes FILE [TO AID] [DESCRIPTOR] [HASH SHA-1|SHA-256] [BLOCK N]",
      "!!! Check failed, line 5: /INSTALL takes PACKAGE APPLET [AS INSTANCE] [PRIVILEGES HEX] [PARAMS HEX] [NOSELECT]",
      "!!! Check failed, line 6: /DELETE takes AID [RELATED]",
      "!!! Check failed, line 7: none.cap: cannot be read",
      "!!! Check failed, line 8: HASH takes SHA-1 or SHA-256",
      "!!! Check failed, line 9: PRIVILEGES of 2 bytes, 1 or 3 wanted"},
     {"line 1: /INSTALL", "line 2: /DELETE", "line 3: /LOAD a.cap", "line 4: /LOAD", "line 5: /INSTALL",
      "line 6: /DELETE", "line 7: /LOAD none.cap", "line 8: /LOAD a.cap", "line 9: /INSTALL"}},
    {"a broken channel sends none of them",
     {"/SCP MAC KEY 404142434445464748494A4B4C4D4E4F KVN 20 HOST 40A62C37FA6304F8", "/LOAD a.cap",
      "/INSTALL " + jc + " " + jc_applet, "/DELETE " + jc}, {iu02}, 1, {},
     {"!!! Check failed, line 1: secure channel: card cryptogram does not match (wrong keys?)",
      "!!! Check failed, line 2: " + not_sent, "!!! Check failed, line 3: " + not_sent,
      "!!! Check failed, line 4: " + not_sent},
     {"line 1: /SCP MAC", "line 2: /LOAD a.cap", "line 3: /INSTALL", "line 4: /DELETE"}},
    {"values from a CAP file", {"/SET P CAP b.cap PACKAGE", "/SET A CAP b.cap APPLET 1",
      "/SET V CAP b.cap VERSION", "/SET L CAP b.cap LOADFILE DESCRIPTOR", "/SET H CAP a.cap HASH SHA-1",
      "80 $P $A $V $##L $H", "/SET X CAP b.cap APPLET 2", "/SET X CAP b.cap", "/SET X CAP"},
     {}, 1, {{0, "80" + jc + jc_applet + "0000" "75F0" "999D087EE55A7E12DF0A873592654F9313E58939"}},
     {"!!! Check failed, line 7: APPLET 2: the file has 1 applets",
      "!!! Check failed, line 8: CAP takes FILE PACKAGE|APPLET N|VERSION|LOADFILE [DESCRIPTOR]|HASH SHA-1|SHA-256 [DESCRIPTOR]",
      "!!! Check failed, line 9: CAP takes FILE PACKAGE|APPLET N|VERSION|LOADFILE [DESCRIPTOR]|HASH SHA-1|SHA-256 [DESCRIPTOR]"},
     {"line 7: /SET X CAP", "line 8: /SET X CAP", "line 9: /SET X CAP"}},
};
// clang-format on

} // namespace

TEST(CoreContent, Directives) {
    const std::string caps = std::string(VORLANE_SOURCE_DIR) + "/tests/data/caps/";
    for (const ContentRow &row : content_rows) {
        SCOPED_TRACE(row.name);
        CoreDir dir;
        CardSession *session;
        FILE *pane;
        int reader = core_script_ready(&session, &pane);
        for (const std::string &answer : row.answers)
            fake_answer_push(reader, core_answer_hex(answer));
        core_file_write(dir / "a.cap", core_file_text(caps + "AlgTest_v1.2_jc2.1.2.cap"));
        core_file_write(dir / "b.cap", core_file_text(caps + "AlgTest_v1.8.2_jc222.cap"));
        core_script_write(dir / "row.txt", row.lines);
        ScriptTally tally;
        memset(&tally, 0, sizeof tally);

        EXPECT_EQ(script_run(session, (dir / "row.txt").c_str(), &tally), SCRIPT_RUN_DONE);
        std::string text = core_stream_text(pane);
        std::vector<std::vector<uint8_t>> commands = fake_commands(reader);
        ASSERT_EQ(commands.size(), row.sent_count) << text.substr(0, 3000);
        for (const auto &sent : row.sent) {
            size_t at = sent.first < 0 ? commands.size() + sent.first : (size_t)sent.first;
            EXPECT_TRUE(core_sent_matches(sent.second, core_hex(commands[at])))
                << at << ": " << core_hex(commands[at]).substr(0, 80);
        }
        EXPECT_EQ(core_failures(text), row.failures) << text.substr(0, 3000);
        std::string shown;
        EXPECT_EQ(core_tally_names(&tally, &shown), row.records);
        script_tally_free(&tally);
        fclose(pane);
    }
}
