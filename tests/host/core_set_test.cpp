/*
 * core_set_test.cpp: "/SET NAME FUNCTION ARG..." through the interpreter
 * against the fake PC/SC, one row of lines each: every function, with
 * literal, referenced, sliced and empty arguments, all-zero keys, and every
 * failure's line, its count and its report name, which never holds an
 * argument. Results reach the card in the commands that use them.
 */
#include "tests/host/core_harness.h"

#include <string.h>

#include "script/script_check.h"
#include "script/script_run.h"

namespace {

struct SetRow {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::string> sent;        /* the commands the card receives, hexadecimal */
    std::vector<std::string> failures;    /* every failed check's pane line, in order */
    std::vector<std::string> records;     /* the report's names of those checks, in order */
    std::vector<std::string> hidden = {}; /* texts never shown: keys */
    std::string answer = "9000";          /* every answer of the card */
};

// clang-format off
const std::vector<SetRow> set_rows = {
    {"ciphers",
     {"/SET K 0123456789ABCDEF23456789ABCDEF01456789ABCDEF0123",
      "/SET C ENCRYPT AES-ECB 000102030405060708090A0B0C0D0E0F 00112233445566778899AABBCCDDEEFF",
      "/SET P DECRYPT 3DES-ECB $K A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900",
      "/SET V 1234567890ABCDEF", "/SET I 0E0F",
      "/SET D ENCRYPT DES-CBC $K[0:8] 4E6F77206973207468652074696D6520666F7220616C6C20 $V",
      "/SET Z ENCRYPT\t3DES-ECB  00000000000000000000000000000000 0000000000000000",
      "/SET B DECRYPT AES-CBC 2B7E151628AED2A6ABF7158809CF4F3C 7649ABAC8119B246CEE98E9B12E9197D 000102030405060708090A0B0C0D$I",
      "80 $C", "80 $P", "80 $D[-8:]", "80 $Z", "80 $B"},
     {"8069C4E0D86A7B0430D8CDB78070B4C55A", "8054686520717566636B2062726F776E20666F78206A756D70",
      "80683788499A7C05F6", "808CA64DE9C1B123A7", "806BC1BEE22E409F96E93D7E117393172A"}, {}, {}},
    {"MACs",
     {"/SET K 2B7E151628AED2A6ABF7158809CF4F3C", "/SET E",
      "/SET M1 MAC CMAC-AES $K $E",
      "/SET M2 MAC CMAC-AES $K 6BC1BEE22E409F96E93D7E117393172A",
      "/SET T MAC CMAC-3DES 4CF15134A2850DD58A3D10BA80570D38 6BC1BEE22E409F96E93D7E117393172AAE2D8A57",
      "/SET D PAD 8 4E6F77206973207468652074696D6520666F72206974",
      "/SET R1 MAC RETAIL 0123456789ABCDEFFEDCBA9876543210 $D",
      "/SET R2 MAC CBC-DES 0123456789ABCDEF 4E6F77206973207468652074696D6520666F7220616C6C20 1234567890ABCDEF",
      "/SET Z MAC CMAC-3DES 00000000000000000000000000000000 4E6F7720",
      "/SET Y MAC RETAIL 00000000000000000000000000000000 4E6F77206973207468652074696D6520666F7220616C6C20",
      "80 $M1 $M2", "80 $T $R1 $R2", "80 $Z $Y"},
     {"80BB1D6929E95937287FA37D129B756746070A16B46B4D4144F79BDD9DD04A287C",
      "8062DD1B471902BD4E5A692CE64F404145683788499A7C05F6", "80E90FAFDFC6CF9A1390E511766E4A6265"},
     {}, {}},
    // Numbers are decimal or a reference read high byte first.
    {"padding, hashes, random bytes and XOR",
     {"/SET D PAD 16 0102", "/SET U UNPAD $D", "/SET B 0010", "/SET P PAD $B[1:] $D",
      "/SET H HASH SHA-256 616263", "/SET N RANDOM 8", "/SET L RANDOM $B", "/SET W RANDOM 65538",
      "/SET X XOR 0F0F $U", "/SET H1 HASH SHA-1 $E", "/SET E",
      "/SET T $W[65536:]", "80 $D", "80 $U $#P", "80 $H", "80 $#N $#L $#T", "80 $X"},
     {"8001028000000000000000000000000000", "80010220",
      "80BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", "80081002", "800E0D"},
     {"!!! Check failed, line 10: unknown value E"}, {"line 10: /SET H1 HASH"}},
    // The worked examples of the guide: key check values, and a GET
    // CHALLENGE answered for EXTERNAL AUTHENTICATE.
    {"key check values and a challenge",
     {"/SET K 404142434445464748494A4B4C4D4E4F", "/SET KCV ENCRYPT 3DES-ECB $K 0000000000000000",
      "/SET A 000102030405060708090A0B0C0D0E0F",
      "/SET AKCV ENCRYPT AES-ECB $A 01010101010101010101010101010101", "80 $KCV[0:3] $AKCV[0:3]",
      "0084000008", "/SET C ENCRYPT 3DES-ECB $K $R", "0082 0000 08 $C"},
     {"808BAF47C35280", "0084000008", "00820000080E9A7741E84385BE"}, {}, {}, {}, "01020304050607089000"},
    // A first word that can be hexadecimal pairs keeps its old meaning.
    {"lines written before", {"/SET X DEAD BEEF", "/SET Y ABC", "/SET Z BEEF ZZ", "80 $X"},
     {"80DEADBEEF"},
     {"!!! Check failed, line 2: Y: not whole hexadecimal pairs",
      "!!! Check failed, line 3: Z: not whole hexadecimal pairs"},
     {"line 2: /SET Y", "line 3: /SET Z"}},
    {"failures",
     {"/SET K 00112233445566778899AABBCCDDEE",
      "/SET X ENCRYPTT AES-ECB $K 00",
      "/SET X ENCRYPT AES-ECB $K 00112233445566778899AABBCCDDEEFF",
      "/SET X ENCRYPT AES-ECB 00112233445566778899AABBCCDDEEFF 0102",
      "/SET X XOR 01020304 0102030405",
      "/SET X ENCRYPT AES-CTR 00 00",
      "/SET X ENCRYPT 00112233445566778899AABBCCDDEEFF 00 00",
      "/SET X ENCRYPT AES-ECB 0011",
      "/SET X XOR 01 02 03",
      "/SET X MAC CMAC-AES 00112233445566778899AABBCCDDEEF 00",
      "/SET X MAC CMAC-AES $Q 00",
      "/SET X ENCRYPT AES-CBC 00112233445566778899AABBCCDDEEFF 00000000000000000000000000000000 00000000",
      "/SET X ENCRYPT DES-ECB 0011223344556677 0000000000000000 0000000000000000",
      "/SET X PAD 7 00",
      "/SET X UNPAD 0102",
      "/SET X RANDOM 0",
      "/SET X RANDOM 65539",
      "/SET R ENCRYPT DES-ECB 0011223344556677 0000000000000000",
      "/SET X MAC RETAIL 00112233445566778899AABBCCDDEEFF $K[0:0]",
      "/SET X HASH SHA-3 00",
      "/SET W RANDOM 65538", "/SET X PAD 16 $W", "/SET X XOR $W$W $W",
      "80 $X"},
     {},
     {"!!! Check failed, line 2: unknown function (8 characters)",
      "!!! Check failed, line 3: key of 15 bytes for AES-ECB",
      "!!! Check failed, line 4: data of 2 bytes is not a multiple of 16",
      "!!! Check failed, line 5: XOR of 4 and 5 bytes",
      "!!! Check failed, line 6: unknown algorithm (7 characters)",
      "!!! Check failed, line 7: unknown algorithm (32 characters)",
      "!!! Check failed, line 8: ENCRYPT takes ALG KEY DATA [IV]",
      "!!! Check failed, line 9: XOR takes A B",
      "!!! Check failed, line 10: key is not whole hexadecimal pairs",
      "!!! Check failed, line 11: unknown value Q",
      "!!! Check failed, line 12: IV of 4 bytes for AES-CBC",
      "!!! Check failed, line 13: DES-ECB takes no IV",
      "!!! Check failed, line 14: pad block not 8 or 16",
      "!!! Check failed, line 15: data does not end in 80 00...",
      "!!! Check failed, line 16: random count not 1 to 65538",
      "!!! Check failed, line 17: random count not 1 to 65538",
      "!!! Check failed, line 18: cannot set R",
      "!!! Check failed, line 19: data of 0 bytes for RETAIL",
      "!!! Check failed, line 20: unknown algorithm (5 characters)",
      "!!! Check failed, line 22: result of 65552 bytes does not fit in 65538",
      "!!! Check failed, line 23: A longer than 65538 bytes",
      "!!! Check failed, line 24: unknown value X"},
     {"line 2: /SET X", "line 3: /SET X ENCRYPT", "line 4: /SET X ENCRYPT",
      "line 5: /SET X XOR", "line 6: /SET X ENCRYPT", "line 7: /SET X ENCRYPT",
      "line 8: /SET X ENCRYPT", "line 9: /SET X XOR", "line 10: /SET X MAC", "line 11: /SET X MAC",
      "line 12: /SET X ENCRYPT", "line 13: /SET X ENCRYPT", "line 14: /SET X PAD",
      "line 15: /SET X UNPAD", "line 16: /SET X RANDOM", "line 17: /SET X RANDOM",
      "line 18: /SET R ENCRYPT", "line 19: /SET X MAC", "line 20: /SET X HASH",
      "line 22: /SET X PAD", "line 23: /SET X XOR", "line 24: 80 $X"},
     {"00112233445566778899AABBCCDDEE", "0011223344556677"}},
};
// clang-format on

} // namespace

TEST(CoreSet, FunctionsAndTheirFailures) {
    for (const SetRow &row : set_rows) {
        SCOPED_TRACE(row.name);
        CoreRowRun run;
        fake_answer_default(run.reader, core_answer_hex(row.answer));

        EXPECT_EQ(run.run(row.lines), SCRIPT_RUN_DONE);
        std::string text = core_stream_text(run.pane);
        std::vector<std::string> sent;
        for (const std::vector<uint8_t> &command : fake_commands(run.reader))
            sent.push_back(core_hex(command));
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(core_failures(text), row.failures) << text;
        EXPECT_EQ(run.tally.passed, 0) << "a function that succeeds is no check";
        EXPECT_EQ(run.tally.failed, (int)row.failures.size());
        std::string shown = text; /* the pane and the report */
        EXPECT_EQ(core_tally_names(&run.tally, &shown), row.records);
        for (const std::string &hidden : row.hidden)
            EXPECT_EQ(shown.find(hidden), std::string::npos) << hidden << "\n" << shown;
    }
}
