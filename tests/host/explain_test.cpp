/*
 * explain_test.cpp: status words, ATRs and BER-TLV data in words, each
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
std::string lines_of(Kind kind, const std::string &hex, size_t *pieces = nullptr) {
    Bytes in = bytes_of(hex);
    Collected out;
    char reason[EXPLAIN_REASON_SIZE] = "unchanged";
    int whole = 1;
    if (kind == ATR)
        explain_atr(in.data.get(), in.count, collect, &out);
    else if (kind == RESPONSE)
        explain_response(in.data.get(), in.count, collect, &out);
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
