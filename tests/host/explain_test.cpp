/*
 * explain_test.cpp: status words, ATRs, BER-TLV data and the answers of
 * GlobalPlatform cards to the commands that asked for them in words, each
 * table a row per behaviour with the exact text expected. Inputs are
 * exact-size heap copies, so ASan reports any read past them; every piece
 * the sink gets is checked for its size and terminator.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/text_form.h"
#include "explain/explain.h"

namespace {

struct Bytes {
    std::unique_ptr<unsigned char[]> data;
    size_t count;
};

/* Hexadecimal (spaces ignored) into an exact-size heap copy */
Bytes bytes_of(std::string hex) {
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    Bytes bytes{std::unique_ptr<unsigned char[]>(new unsigned char[hex.size() / 2]),
                hex.size() / 2};
    for (size_t i = 0; i < bytes.count; i++)
        bytes.data[i] =
            (unsigned char)(hex_digit_value(hex[2 * i]) * 16 + hex_digit_value(hex[2 * i + 1]));
    return bytes;
}

struct Collected {
    std::string text;
    size_t pieces = 0;
    bool sound = true; /* every piece non-empty, under the piece size and terminated */
};

void collect(void *context, const char *text, size_t length) {
    Collected *collected = (Collected *)context;
    collected->sound = collected->sound && length > 0 && length < EXPLAIN_PIECE_SIZE &&
                       text[length] == 0 && strlen(text) == length;
    collected->text.append(text, length);
    collected->pieces++;
}

enum Kind { ATR, TLV, RESPONSE };

/* The text for hex; for BER-TLV, "!" and the reason when it does not parse,
   after checking that nothing went to the sink then. */
std::string lines_of(Kind kind, const std::string &hex, size_t *pieces = nullptr,
                     const std::string &command = "") {
    Bytes in = bytes_of(hex), sent = bytes_of(command);
    Collected out;
    char reason[EXPLAIN_REASON_SIZE] = "unchanged";
    int whole = 1;
    if (kind == ATR)
        explain_atr(in.data.get(), in.count, collect, &out);
    else if (kind == RESPONSE)
        explain_response(sent.data.get(), sent.count, in.data.get(), in.count, collect, &out);
    else
        whole = explain_tlv(in.data.get(), in.count, collect, &out, reason, sizeof reason);
    EXPECT_TRUE(out.sound) << hex;
    if (pieces)
        *pieces = out.pieces;
    if (whole)
        return out.text;
    EXPECT_EQ(out.text, "") << hex;
    return "!" + std::string(reason);
}

} // namespace

TEST(ExplainSw, EveryRangeAndItsEdges) {
    struct Case {
        unsigned sw;
        const char *text;
    } cases[] = {
        {0x9000, "normal processing"},
        {0x9001, "proprietary"},
        {0x6000, "proprietary"},
        {0x6100, "256 bytes still available"},
        {0x61FF, "255 bytes still available"},
        {0x6C00, "wrong Le, exact length is 256"},
        {0x6C0A, "wrong Le, exact length is 10"},
        {0x6200, "warning: no information given, memory unchanged"},
        {0x6201, "warning, memory unchanged"},
        {0x6202, "warning: triggering by the card (02)"},
        {0x6280, "warning: triggering by the card (80)"},
        {0x6288, "warning, memory unchanged"},
        {0x6381, "warning: file filled up by the last write"},
        {0x63C0, "verification failed, 0 tries left"},
        {0x63C1, "verification failed, 1 try left"},
        {0x63CF, "verification failed, 15 tries left"},
        {0x63BF, "warning, memory changed"},
        {0x63D0, "warning, memory changed"},
        {0x6400, "execution error, memory unchanged"},
        {0x6401, "execution error: immediate response required by the card"},
        {0x6402, "execution error: triggering by the card (02)"},
        {0x6480, "execution error: triggering by the card (80)"},
        {0x6481, "execution error, memory unchanged"},
        {0x6582, "execution error, memory changed"},
        {0x6600, "security-related problem"},
        {0x66FF, "security-related problem"},
        {0x6701, "wrong length"},
        {0x6885, "function in CLA not supported"},
        {0x6989, "command not allowed"},
        {0x6A8B, "wrong parameters P1-P2"},
        {0x6FFF, "no precise diagnosis"},
    };
    for (const Case &c : cases) {
        char text[EXPLAIN_SW_SIZE];
        size_t length = explain_sw(c.sw >> 8, c.sw & 0xFF, text, sizeof text);
        EXPECT_STREQ(text, c.text) << std::hex << c.sw;
        EXPECT_EQ(length, strlen(c.text)) << std::hex << c.sw;
    }
}

TEST(ExplainSw, CutToTheRoomAndNotByteValuesAreProprietary) {
    char text[16] = "###############";
    EXPECT_EQ(explain_sw(0x69, 0x82, text, 10), 9u);
    EXPECT_EQ(std::string(text, 11), std::string("security \0#", 11));
    EXPECT_EQ(explain_sw(0x90, 0x00, text + 1, 0), 0u); /* no room: untouched */
    EXPECT_EQ(explain_sw(0x90, 0x00, text, 1), 0u);
    EXPECT_EQ(std::string(text, 3), std::string("\0ec", 3));
    EXPECT_EQ(explain_sw(0x161, 0x10, text, sizeof text), 11u);
    EXPECT_EQ(explain_sw(0x61, 0x110, text + 11, 5), 4u);
    EXPECT_STREQ(text, "proprietaryprop");
}

TEST(ExplainAtr, ItemsByLine) {
    struct Case {
        std::string atr;
        const char *lines;
    } cases[] = {
        {"3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A",
         "TS 3B: direct convention\nT0 8F: TD1 present; 15 historical bytes\n"
         "TD1 80: TD2 present; T=0\nTD2 01: T=1\nProtocols offered: T=0 (first), T=1\n"
         "Historical bytes (15): category 80, compact-TLV objects\n"
         "  4F 0C (application identifier): A00000030603000100000000\nTCK 6A: correct\n"},
        {"3B FA 96 00 FF F0 91 00 0A F1 FE 45 01 3F C3 80 00 31 E0 73 00 00 9B 05 90 00 63",
         "TS 3B: direct convention\nT0 FA: TA1 TB1 TC1 TD1 present; 10 historical bytes\n"
         "TA1 96: Fi 512, Di 32: fmax 5 MHz, 312500 bit/s at fmax\n"
         "TB1 00: no programming voltage (deprecated)\n"
         "TC1 FF: extra guard time 255 (minimum: 12 etu for T=0, 11 for T=1)\n"
         "TD1 F0: TA2 TB2 TC2 TD2 present; T=0\n"
         "TA2 91: specific mode T=1, implicit parameters, not changeable\n"
         "TB2 00: no programming voltage (deprecated)\nTC2 0A: T=0 waiting integer WI 10\n"
         "TD2 F1: TA3 TB3 TC3 TD3 present; T=1\nTA3 FE: T=1 IFSC 254 bytes\n"
         "TB3 45: T=1 BWI 4, CWI 5\nTC3 01: T=1 error detection CRC\n"
         "TD3 3F: TA4 TB4 present; T=15 (global parameters)\n"
         "TA4 C3: clock stop: no preference; classes: A (5 V) B (3 V)\n"
         "TB4 80: C6 (SPU) for proprietary use\nProtocols offered: T=0 (first), T=1\n"
         "Historical bytes (10): category 00, compact-TLV objects and a status indicator\n"
         "  31 (card service data): E0\n"
         "  73 (card capabilities): 00009B: command chaining, no extended Lc and Le, logical "
         "channels assigned by the card and the interface device, up to 4\n"
         "  status indicator: LCS 05 (operational state, activated), SW 9000 (normal "
         "processing)\nTCK 63: correct\n"},
        {"3B 97 A1 01 80 81 05 82 90 00 4F 6E",
         "TS 3B: direct convention\nT0 97: TA1 TD1 present; 7 historical bytes\n"
         "TA1 A1: Fi 768, Di 1: fmax 7.5 MHz, 9766 bit/s at fmax\nTD1 01: T=1\n"
         "Protocols offered: T=1\nHistorical bytes (7): category 80, compact-TLV objects\n"
         "  81 (status indicator): 05: LCS 05 (operational state, activated)\n"
         "  82 (status indicator): 9000: SW 9000 (normal processing)\n"
         "  4F (initial access data): runs past the historical bytes (needs 15, 0 left)\n"
         "TCK 6E: correct\n"},
        {"3B 80 81 71 00 A4 03 D7",
         "TS 3B: direct convention\nT0 80: TD1 present; no historical bytes\n"
         "TD1 81: TD2 present; T=1\nTD2 71: TA3 TB3 TC3 present; T=1\n"
         "TA3 00: T=1 IFSC 0 (reserved)\nTB3 A4: T=1 BWI 10 (reserved), CWI 4\n"
         "TC3 03: T=1 error detection CRC, reserved bits set\nProtocols offered: T=1\n"
         "TCK D7: correct\n"},
        {"3B 81 8F 1E 55 4A 0F",
         "TS 3B: direct convention\nT0 81: TD1 present; 1 historical byte\n"
         "TD1 8F: TD2 present; T=15 (not allowed in TD1)\n"
         "TD2 1E: TA3 present; T=14 (not standardised)\nTA3 55: T=14 parameter, not interpreted\n"
         "Protocols offered: T=14\nHistorical bytes (1): category 4A, proprietary\n"
         "TCK 0F: correct\n"},
        {"3F 02 10 AB",
         "TS 3F: inverse convention\nT0 02: no interface bytes; 2 historical bytes\n"
         "Protocols offered: T=0 (implicit)\nHistorical bytes (2): category 10, DIR data "
         "reference AB\nno TCK (only T=0 offered)\n"},
        {"3B 72 7A 25 05 81 00 EE",
         "TS 3B: direct convention\nT0 72: TA1 TB1 TC1 present; 2 historical bytes\n"
         "TA1 7A: FI 7 reserved, DI 10 reserved\n"
         "TB1 25: programming voltage (deprecated, to be ignored)\n"
         "TC1 05: extra guard time 5 etu\nProtocols offered: T=0 (implicit)\n"
         "Historical bytes (2): category 81, reserved\nno TCK (only T=0 offered)\n"
         "1 byte after the end of the ATR\n"},
        {"3B 03 00 31 E0",
         "TS 3B: direct convention\nT0 03: no interface bytes; 3 historical bytes\n"
         "Protocols offered: T=0 (implicit)\n"
         "Historical bytes (3): category 00, compact-TLV objects and a status indicator\n"
         "  31 (card service data): E0\n  status indicator missing: it takes the last 3 bytes\n"
         "no TCK (only T=0 offered)\n"},
        /* Cut and malformed: explained as far as they go */
        {"", "cut at byte 0: TS missing\n"},
        {"3C 00", "TS 3C: not an ATR (TS is 3B or 3F)\n"},
        {"3B", "TS 3B: direct convention\ncut at byte 1: T0 missing\n"},
        {"3B 90 11",
         "TS 3B: direct convention\nT0 90: TA1 TD1 present; no historical bytes\n"
         "TA1 11: Fi 372, Di 1: fmax 5 MHz, 13441 bit/s at fmax\ncut at byte 3: TD1 missing\n"},
        {"3B 80 01 80",
         "TS 3B: direct convention\nT0 80: TD1 present; no historical bytes\nTD1 01: T=1\n"
         "Protocols offered: T=1\nTCK 80: wrong, expected 81\n"},
        {"3B 80 01",
         "TS 3B: direct convention\nT0 80: TD1 present; no historical bytes\nTD1 01: T=1\n"
         "Protocols offered: T=1\ncut at byte 3: TCK missing\n"},
        {"3B 03 80 31",
         "TS 3B: direct convention\nT0 03: no interface bytes; 3 historical bytes\n"
         "Protocols offered: T=0 (implicit)\n"
         "Historical bytes (3): category 80, compact-TLV objects\n"
         "  31 (card service data): runs past the historical bytes (needs 1, 0 left)\n"
         "cut at byte 4: 1 of 3 historical bytes missing\n"},
        {"3B 0F 4A" + std::string(14 * 2, 'A') + std::string(20 * 2, '0'),
         "TS 3B: direct convention\nT0 0F: no interface bytes; 15 historical bytes\n"
         "Protocols offered: T=0 (implicit)\nHistorical bytes (15): category 4A, proprietary\n"
         "no TCK (only T=0 offered)\n20 bytes after the end of the ATR\n"
         "ATR of 37 bytes, longer than the 33 allowed\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lines_of(ATR, c.atr), c.lines) << c.atr;
}

TEST(ExplainTlv, TreesAndReasons) {
    struct Case {
        const char *data;
        const char *lines; /* "!" and the reason when not BER-TLV */
    } cases[] = {
        {"6F 11 84 03 A00000 A5 0A 50 05 48454C4C4F 9F38 00",
         "6F 11 FCI template\n  84 03 DF name: A00000\n  A5 0A proprietary information\n"
         "    50 05 application label: 48454C4C4F \"HELLO\"\n"
         "    9F38 00 PDOL (processing options data object list)\n"},
        /* 82 names the file descriptor inside an FCP, the AIP elsewhere */
        {"62 07 82 01 38 83 02 3F00 82 02 1980 5F20 02 0741",
         "62 07 FCP template\n  82 01 file descriptor: 38\n  83 02 file identifier: 3F00\n"
         "82 02 application interchange profile: 1980\n5F20 02 cardholder name: 0741\n"},
        {"DF8101 01 55 1F22 00 04 00 30 00",
         "DF8101 01 private primitive: 55\n1F22 00 universal primitive\n"
         "04 00 universal primitive\n30 00 universal constructed\n"},
        {"00 FF 84 01 AA 00 A5 04 00 4F 01 41 FF",
         "84 01 DF name: AA\nA5 04 proprietary information\n  4F 01 application identifier: 41\n"},
        {"9F6E 84 00000001 11 CF 81 01 22 66 83 000003 73 01 00",
         "9F6E 01 application production life cycle data: 11\nCF 01 key diversification data: "
         "22\n66 03 card data\n  73 01 card recognition data\n"},
        {"", "!no data"},
        {"00 FF 00", "!padding bytes only, no object"},
        {"9F", "!tag cut short at byte 0"},
        {"DF 81 81 01 00", "!tag longer than 3 bytes at byte 0"},
        {"9F38", "!length cut short at byte 2"},
        {"84 82 01", "!length cut short at byte 1"},
        {"84 05 A0 00", "!length runs past the data at byte 1"},
        {"6F 03 84 02 AA BB", "!length runs past the enclosing 6F at byte 3"},
        {"BF0C 03 84 02 AA BB", "!length runs past the enclosing BF0C at byte 4"},
        {"6F 02 84 00 01", "!length cut short at byte 5"},
        {"6F 80 84 00 00 00", "!indefinite length at byte 1"},
        {"84 85 0000000001 AA", "!length in more than 4 bytes at byte 1"},
        {"84 FF", "!reserved length byte FF at byte 1"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lines_of(TLV, c.data), c.lines) << c.data;
    /* long-form lengths: the length's whole bytes shown, the value whole */
    for (const char *header : {"C1 81 80", "C1 82 0100", "C1 83 010000", "C1 84 00000100"}) {
        std::string length = std::string(header).substr(6), value;
        length.erase(0, length.find_first_not_of('0') & ~(size_t)1);
        value.assign(2 * strtoul(length.c_str(), nullptr, 16), 'A');
        EXPECT_EQ(lines_of(TLV, header + value),
                  "C1 " + length + " private primitive: " + value + "\n")
            << header;
    }
}

/* 32 levels parse; the value of a constructed object on the 32nd is shown
   as one line and not read, whatever it holds. */
TEST(ExplainTlv, NestingStopsAt32Levels) {
    std::string indent(2 * 31, ' ');
    for (int deeper : {0, 1}) {
        std::string data = deeper ? "A0038485FF" : "C10155", expected;
        expected = deeper ? indent + "A0 03 context-specific constructed\n" + indent +
                                "  (3 bytes not parsed: nested deeper than 32 levels)\n"
                          : indent + "C1 01 private primitive: 55\n";
        for (int level = 31; level >= 1; level--) {
            char header[8], line[96];
            snprintf(header, sizeof header, "A0%02X", (unsigned)data.size() / 2);
            snprintf(line, sizeof line, "%*sA0 %02X context-specific constructed\n", 2 * level - 2,
                     "", (unsigned)data.size() / 2);
            data = header + data;
            expected = line + expected;
        }
        EXPECT_EQ(lines_of(TLV, data), expected);
    }
}

TEST(ExplainResponse, StatusWordThenTreeOrReason) {
    struct Case {
        const char *response;
        const char *lines;
    } cases[] = {
        {"", "(no status word)\n"},
        {"90", "(no status word)\n"},
        {"9000", "SW 9000: normal processing\n"},
        {"84 01 AA 61 10", "SW 6110: 16 bytes still available\n84 01 DF name: AA\n"},
        {"84 05 A0 90 00", "SW 9000: normal processing\n(not BER-TLV: length runs past the data at "
                           "byte 1)\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lines_of(RESPONSE, c.response), c.lines) << c.response;
}

/* A value longer than a piece spans several, each within the piece size. */
TEST(ExplainResponse, LongValueGoesOutInPieces) {
    std::string value(2 * 3000, 'E');
    size_t pieces = 0;
    EXPECT_EQ(lines_of(RESPONSE, "5A 82 0BB8" + value + "9000", &pieces),
              "SW 9000: normal processing\n5A 0BB8 application PAN: " + value + "\n");
    EXPECT_GE(pieces, 6u);
}

/* GlobalPlatform answers read for the command that asked for them. Bytes
   from GPShell's statusTest.c and getDataTest.c (the GlobalPlatform
   library's tests), from answers quoted in GlobalPlatformPro issues (#114,
   #152, #305), from a GET STATUS walk-through (juejin.cn post 7074855862908485646),
   a key information and recognition dump (ctskinner.blogspot.com,
   2011-10) and from the rig's test card; rows marked "made" are built for
   the behaviour they check. */
TEST(ExplainAnswer, GlobalPlatformAnswersByTheirCommand) {
    struct Case {
        const char *command, *response, *lines;
    } cases[] = {
        /* statusTest.c: a security domain, applications, unknown EA, the
           last entry cut short, more data */
        {"80F2400200",
         "E33A4F10A0000005591010FFFFFFFF89000002009F70010FC50382FC80C40BD276000005AAFFCAFE0001CC10"
         "A0000005591010FFFFFFFF8900000200E3304F08D276000005AA3F019F700107C50104C40BD276000005AAFF"
         "CAFE0002CC10A0000005591010FFFFFFFF8900000200E3384F10A0000000871001F310FFFF89FFFFFF019F70"
         "0107C50100C40BD276000005AAFFCAFE0002CC10A0000005591010FFFFFFFF8900000200E3444F10A0000005"
         "591010FFFFFFFF89000001009F700107C50100C410D2760001180100FF49102589C0028000CC10A000000559"
         "1010FFFFFFFF8900000200EA058003018000E3304F09A00000015141434C009F7001076310",
         "SW 6310: more data: repeat with P2 b1 set (03 after 02)\nE3 3A security domain\n"
         "  4F 10 AID: A0000005591010FFFFFFFF8900000200\n  9F70 01 life cycle: 0F PERSONALIZED\n"
         "  C5 03 privileges: 82FC80 Security Domain, CVM Management, Trusted Path, Authorized "
         "Management, Token Verification, Global Delete, Global Lock, Global Registry, Receipt "
         "Generation\n  C4 0B executable load file AID: D276000005AAFFCAFE0001\n"
         "  CC 10 associated security domain AID: A0000005591010FFFFFFFF8900000200\n"
         "E3 30 application\n  4F 08 AID: D276000005AA3F01\n  9F70 01 life cycle: 07 SELECTABLE\n"
         "  C5 01 privileges: 04 Card Reset (formerly Default Selected)\n"
         "  C4 0B executable load file AID: D276000005AAFFCAFE0002\n"
         "  CC 10 associated security domain AID: A0000005591010FFFFFFFF8900000200\n"
         "E3 38 application\n  4F 10 AID: A0000000871001F310FFFF89FFFFFF01\n"
         "  9F70 01 life cycle: 07 SELECTABLE\n  C5 01 privileges: 00 none\n"
         "  C4 0B executable load file AID: D276000005AAFFCAFE0002\n"
         "  CC 10 associated security domain AID: A0000005591010FFFFFFFF8900000200\n"
         "E3 44 application\n  4F 10 AID: A0000005591010FFFFFFFF8900000100\n"
         "  9F70 01 life cycle: 07 SELECTABLE\n  C5 01 privileges: 00 none\n"
         "  C4 10 executable load file AID: D2760001180100FF49102589C0028000\n"
         "  CC 10 associated security domain AID: A0000005591010FFFFFFFF8900000200\n"
         "  EA 05 private constructed: 8003018000\n"
         "(the rest is not BER-TLV: length runs past the data at byte 239)\n"},
        /* the rig's card: its issuer security domain, under a channel (84) */
        {"84F28002", "E3134F08A0000001510000009F70010FC5039E00009000",
         "SW 9000: normal processing\nE3 13 issuer security domain\n  4F 08 AID: A000000151000000\n"
         "  9F70 01 life cycle: 0F SECURED\n  C5 03 privileges: 9E0000 Security Domain, Card Lock, "
         "Card Terminate, Card Reset (formerly Default Selected), CVM Management\n"},
        /* the rig's card's library (its version and domain), made up modules */
        {"80F21002",
         "E3324F08F0564F524C414E459F700101CE0201008409F0564F524C414E45418409F0564F524C"
         "414E4542CC08A0000001510000009000",
         "SW 9000: normal processing\nE3 32 executable load file\n  4F 08 AID: F0564F524C414E45\n"
         "  9F70 01 life cycle: 01 LOADED\n  CE 02 executable load file version: 0100 (1.0)\n"
         "  84 09 executable module AID: F0564F524C414E4541\n"
         "  84 09 executable module AID: F0564F524C414E4542\n"
         "  CC 08 associated security domain AID: A000000151000000\n"},
        /* made: every life cycle an application and a security domain can
           have, and those none can */
        {"80F24002",
         "E30A4F01A19F70010FC50100E30A4F01A29F700185C50100E30A4F01A39F700187C50100E30A4F01A49F7001"
         "8FC501809000",
         "SW 9000: normal processing\nE3 0A application\n  4F 01 AID: A1\n"
         "  9F70 01 life cycle: 0F application-specific 0F\n  C5 01 privileges: 00 none\n"
         "E3 0A application\n  4F 01 AID: A2\n  9F70 01 life cycle: 85 (not a defined state)\n"
         "  C5 01 privileges: 00 none\nE3 0A application\n  4F 01 AID: A3\n"
         "  9F70 01 life cycle: 87 LOCKED\n  C5 01 privileges: 00 none\nE3 0A security domain\n"
         "  4F 01 AID: A4\n  9F70 01 life cycle: 8F LOCKED\n  C5 01 privileges: 80 Security "
         "Domain\n"},
        {"80F28002", "E3074F01A69F70017F6310",
         "SW 6310: more data: repeat with P2 b1 set (03 after 02)\nE3 07 issuer security domain\n"
         "  4F 01 AID: A6\n  9F70 01 life cycle: 7F CARD_LOCKED\n"},
        /* made: privileges that go together, bits without those they need,
           RFU bits, a length of neither form */
        {"80F24002",
         "E30C4F01B19F700107C503C10000E30C4F01B29F700107C503A00000E30A4F01B39F700107C50140E30A4F01"
         "B49F700107C50101E30C4F01B59F700107C50300000FE30B4F01B69F700107C50280009000",
         "SW 9000: normal processing\nE3 0C security domain\n  4F 01 AID: B1\n"
         "  9F70 01 life cycle: 07 SELECTABLE\n  C5 03 privileges: C10000 Security Domain, DAP "
         "Verification, Mandated DAP Verification\nE3 0C security domain\n  4F 01 AID: B2\n"
         "  9F70 01 life cycle: 07 SELECTABLE\n"
         "  C5 03 privileges: A00000 Security Domain, Delegated Management\nE3 0A application\n"
         "  4F 01 AID: B3\n  9F70 01 life cycle: 07 SELECTABLE\n"
         "  C5 01 privileges: 40 DAP Verification bit without Security Domain\n"
         "E3 0A application\n  4F 01 AID: B4\n  9F70 01 life cycle: 07 SELECTABLE\n"
         "  C5 01 privileges: 01 Mandated DAP Verification bit without Security Domain and DAP "
         "Verification\nE3 0C application\n  4F 01 AID: B5\n  9F70 01 life cycle: 07 SELECTABLE\n"
         "  C5 03 privileges: 00000F RFU (byte 3: 0F)\nE3 0B security domain\n  4F 01 AID: B6\n"
         "  9F70 01 life cycle: 07 SELECTABLE\n"
         "  C5 02 privileges: 8000 Security Domain (1 or 3 bytes expected)\n"},
        /* juejin.cn: the older form, the issuer security domain */
        {"80F2800002", "08A000000003000000019E9000",
         "SW 9000: normal processing\nissuer security domain\n  AID: A000000003000000\n"
         "  life cycle: 01 OP_READY\n  privileges: 9E Security Domain, Card Lock, Card Terminate, "
         "Card Reset (formerly Default Selected), CVM Management\n"},
        /* juejin.cn: the older form, load files and their modules; made:
           the last entry cut, more data */
        {"80F2100002",
         "07A000000151535001000108A00000015153504109636F6D2E656475696401000105656"
         "46310",
         "SW 6310: more data: repeat with P2 b1 set (01 after 00)\nexecutable load file\n"
         "  AID: A0000001515350\n  life cycle: 01 LOADED\n  privileges: 00 none\n"
         "  executable modules: 1\n  executable module AID: A000000151535041\n"
         "(entry at byte 20 cut short: 19 bytes, 16 given)\n"},
        {"80F2400000", "01A1070063106310",
         "SW 6310: more data: repeat with P2 b1 set (01 after 00)\napplication\n  AID: A1\n"
         "  life cycle: 07 SELECTABLE\n  privileges: 00 none\n"
         "(entry at byte 4 cut short: 102 bytes, 2 given)\n"},
        /* a P1 GET STATUS does not know, a class other than GlobalPlatform's:
           the tree; 63 10 after another command */
        {"80F20102", "E3034F01A19000",
         "SW 9000: normal processing\nE3 03 private constructed\n  4F 01 application identifier: "
         "A1\n"},
        {"00F24002", "6310", "SW 6310: warning, memory changed\n"},
        /* getDataTest.c: the CPLC with its header, dates not set */
        {"80CA9F7F00",
         "9F7F2A4790D600470000000000324434295220844800000000000000001527823432393532000000000000000"
         "0"
         "9000",
         "SW 9000: normal processing\n9F7F 2A card production life cycle data (CPLC)\n"
         "  IC fabricator: 4790\n  IC type: D600\n  operating system identifier: 4700\n"
         "  operating system release date: 0000 (not set)\n"
         "  operating system release level: 0000\n"
         "  IC fabrication date: 3244 (year ending in 3, day 244)\n"
         "  IC serial number: 34295220\n  IC batch identifier: 8448\n"
         "  IC module fabricator: 0000\n  IC module packaging date: 0000 (not set)\n"
         "  ICC manufacturer: 0000\n  IC embedding date: 0000 (not set)\n"
         "  IC pre-personalizer: 1527\n"
         "  IC pre-personalization equipment date: 8234 (year ending in 8, day 234)\n"
         "  IC pre-personalization equipment identifier: 32393532\n  IC personalizer: 0000\n"
         "  IC personalization date: 0000 (not set)\n"
         "  IC personalization equipment identifier: 00000000\n"},
        /* getDataTest.c vector 3: dates that are no dates (not BCD, day 0E6) */
        {"80CA9F7F",
         "4750006100008303008000E692E082BE675C72877301FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF9000",
         "SW 9000: normal processing\n"
         "card production life cycle data (CPLC) without its 9F7F header\n"
         "  IC fabricator: 4750\n  IC type: 0061\n  operating system identifier: 0000\n"
         "  operating system release date: 8303 (year ending in 8, day 303)\n"
         "  operating system release level: 0080\n  IC fabrication date: 00E6 (impossible date)\n"
         "  IC serial number: 92E082BE\n  IC batch identifier: 675C\n"
         "  IC module fabricator: 7287\n"
         "  IC module packaging date: 7301 (year ending in 7, day 301)\n"
         "  ICC manufacturer: FFFF\n  IC embedding date: FFFF (impossible date)\n"
         "  IC pre-personalizer: FFFF\n"
         "  IC pre-personalization equipment date: FFFF (impossible date)\n"
         "  IC pre-personalization equipment identifier: FFFFFFFF\n  IC personalizer: FFFF\n"
         "  IC personalization date: FFFF (impossible date)\n"
         "  IC personalization equipment identifier: FFFFFFFF\n"},
        /* made: a CPLC cut short, its length byte wrong, a day past 366 */
        {"80CA9F7F", "9F7F2B4090191540900367019000",
         "SW 9000: normal processing\n"
         "9F7F 2B card production life cycle data (CPLC) (a CPLC is 2A bytes)\n"
         "  IC fabricator: 4090\n  IC type: 1915\n  operating system identifier: 4090\n"
         "  operating system release date: 0367 (impossible date)\n"
         "  (cut at byte 12: operating system release level missing)\n"},
        /* GlobalPlatformPro #114 (the rig's card answers the same): SCP03 */
        {"80CA006600",
         "6631732F06072A864886FC6B01600C060A2A864886FC6B02020201630906072A864886FC6B03640B06092A864"
         "8"
         "86FC6B0403709000",
         "SW 9000: normal processing\n66 31 card data\n  73 2F card recognition data\n"
         "    06 07 GlobalPlatform card recognition data: 1.2.840.114283.1\n"
         "    60 0C card management type and version: GlobalPlatform 2.2.1\n"
         "    63 09 card identification scheme: 1.2.840.114283.3\n"
         "    64 0B secure channel protocol: SCP03 i=70: S8 mode, pseudo-random card challenge, "
         "R-MAC support, R-ENC support\n"},
        /* ctskinner.blogspot.com: SCP02 i=15, the configuration and chip */
        {"00CA0066",
         "664C734A06072A864886FC6B01600C060A2A864886FC6B02020101630906072A864886FC6B03640B06092A864"
         "8"
         "86FC6B040215650B06092B8510864864020103660C060A2B060104012A026E01029000",
         "SW 9000: normal processing\n66 4C card data\n  73 4A card recognition data\n"
         "    06 07 GlobalPlatform card recognition data: 1.2.840.114283.1\n"
         "    60 0C card management type and version: GlobalPlatform 2.1.1\n"
         "    63 09 card identification scheme: 1.2.840.114283.3\n"
         "    64 0B secure channel protocol: SCP02 i=15: 3 secure channel keys, C-MAC on modified "
         "APDU, explicit initiation, ICV set to zero, ICV encryption for C-MAC session, no R-MAC, "
         "card challenge generation unspecified\n"
         "    65 0B card configuration details: 1.3.656.840.100.2.1.3\n"
         "    66 0C card / chip details: 1.3.6.1.4.1.42.2.110.1.2\n"},
        /* GlobalPlatformPro #152 (73 alone, from a SELECT): protocols as bytes,
           configuration that is no identifier, two identifiers */
        {"80CA0066",
         "736E06072A864886FC6B01600B06092A864886FC6B020202630906072A864886FC6B03640B06092A864886FC6"
         "B"
         "048000640B06092A864886FC6B040255640B06092A864886FC6B048107650AAACAADDEDFEDACADEEEE661806"
         "0A2B060104012A026E0103060A5354333349314D3202029000",
         "SW 9000: normal processing\n73 6E card recognition data\n"
         "  06 07 GlobalPlatform card recognition data: 1.2.840.114283.1\n"
         "  60 0B card management type and version: GlobalPlatform 2.2\n"
         "  63 09 card identification scheme: 1.2.840.114283.3\n"
         "  64 0B secure channel protocol: SCP80 i=00\n"
         "  64 0B secure channel protocol: SCP02 i=55: 3 secure channel keys, C-MAC on modified "
         "APDU, explicit initiation, ICV set to zero, ICV encryption for C-MAC session, no R-MAC, "
         "well-known pseudo-random algorithm (card challenge)\n"
         "  64 0B secure channel protocol: SCP81 i=07\n"
         "  65 0A card configuration details: AACAADDEDFEDACADEEEE (not BER-TLV)\n"
         "  66 18 card / chip details: 1.3.6.1.4.1.42.2.110.1.3, 2.3.84.51.51.73.49.77.50.2.2\n"},
        /* getDataTest.c: two protocols, the second's i in two arcs' bytes */
        {"80CA0066",
         "663F733D06072A864886FC6B01600C060A2A864886FC6B02020301630906072A864886FC6B03640B06092A864"
         "8"
         "86FC6B040360640C060A2A864886FC6B04119B069000",
         "SW 9000: normal processing\n66 3F card data\n  73 3D card recognition data\n"
         "    06 07 GlobalPlatform card recognition data: 1.2.840.114283.1\n"
         "    60 0C card management type and version: GlobalPlatform 2.3.1\n"
         "    63 09 card identification scheme: 1.2.840.114283.3\n"
         "    64 0B secure channel protocol: SCP03 i=60: S8 mode, random card challenge, R-MAC "
         "support, R-ENC support\n    64 0C secure channel protocol: SCP11 i=0D86\n"},
        /* GlobalPlatformPro #114: AES keys; the rig's card: version 30 */
        {"80CA00E000", "E012C00401018820C00402308810C004033088109000",
         "SW 9000: normal processing\nE0 12 key information template\n"
         "  C0 04 key identifier 01, version 01: AES, 32 bytes\n"
         "  C0 04 key identifier 02, version 30: AES, 16 bytes\n"
         "  C0 04 key identifier 03, version 30: AES, 16 bytes\n"},
        /* made: DES, RSA parts, private use, the extended form, RFU, cut keys */
        {"80CA00E0",
         "E031C00401018010C0087301A180A00301C0C00E0301FF880010FF88002001140100C0060401A6FF8910C001"
         "01C0040101FF889000",
         "SW 9000: normal processing\nE0 31 key information template\n"
         "  C0 04 key identifier 01, version 01: DES (mode implicit), 16 bytes\n"
         "  C0 08 key identifier 73, version 01: RSA modulus N (public), 128 bytes; RSA public "
         "exponent e, 3 bytes; private use type 01, 192 bytes\n"
         "  C0 0E key identifier 03, version 01: AES, 16 bytes; AES, 32 bytes; usage 14, access "
         "00\n"
         "  C0 06 key identifier 04, version 01: RSA CRT PQ (q^-1 mod p), 255 bytes; RFU type 89, "
         "16 bytes\n  C0 01 key information (cut short)\n"
         "  C0 04 key identifier 01, version 01: (not read: FF88)\n"},
        /* ctskinner.blogspot.com and GlobalPlatformPro #114: the counter */
        {"80CA00C1", "C10200C59000",
         "SW 9000: normal processing\nC1 02 sequence counter: 00C5 (197)\n"},
        {"80CA00C100", "C10300001E9000",
         "SW 9000: normal processing\nC1 03 sequence counter: 00001E (30)\n"},
        /* the tree for: a class GET DATA does not have, a command cut
           before P2, an answer without the form asked for */
        {"90CA00C1", "C10200C59000", "SW 9000: normal processing\nC1 02 private primitive: 00C5\n"},
        {"80CA00", "C10200C59000", "SW 9000: normal processing\nC1 02 private primitive: 00C5\n"},
        {"80CA00E0", "C10200C59000", "SW 9000: normal processing\nC1 02 private primitive: 00C5\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lines_of(RESPONSE, c.response, nullptr, c.command), c.lines) << c.command;
    std::string after = lines_of(RESPONSE, "9F7F2A" + std::string(86, '0') + "9000", 0, "80CA9F7F");
    EXPECT_EQ(after.substr(after.rfind("\n  ")), "\n  (1 byte after the CPLC: 00)\n");
    char text[EXPLAIN_SW_SIZE];
    const unsigned char status[] = {0x80, 0xF2, 0x40, 0x02};
    EXPECT_EQ(explain_answer_sw(status, 4, 0x63, 0x10, text, 12), 11u);
    EXPECT_STREQ(text, "more data: ");
}
