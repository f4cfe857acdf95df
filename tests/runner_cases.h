/*
 * runner_cases.h: the command-line runner's cases on the rig's test cards,
 * one table for vorlane-run.exe under Wine and the native vorlane-run.
 * runner_case_check runs one through a platform's side, Ops: dir and
 * newline (the runner's folder, standard error's line end); control(reader,
 * line), a test card's reply; remove(reader), out once the service sees it;
 * C start(words), running(C), R finish(C) with R's status, out and err.
 */
#ifndef VORLANE_TESTS_RUNNER_CASES_H
#define VORLANE_TESTS_RUNNER_CASES_H

#include <algorithm>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

enum RunnerEvent {
    RUNNER_NO_EVENT,
    RUNNER_INSERT_LATER,  /* still waiting after 2 s; then the card goes into reader 1 */
    RUNNER_PULL_MIDSCRIPT /* card 0 is taken out once it has seen a command */
};

struct RunnerPiece {
    std::string text; /* a regular expression when count is -1 */
    int count;        /* times text occurs */
};

struct RunnerCase {
    const char *name;
    std::vector<std::string> words; /* the command line after the program */
    int card0, card1;               /* 1: reader 0 (1) holds a demo card */
    RunnerEvent event;
    unsigned status;
    std::vector<RunnerPiece> out; /* what standard output holds; none: it is empty */
    const char *err;              /* piece of standard error; "" empty; 0 the usage line */
    unsigned min_ms, max_ms;      /* the run's time, when max_ms is not 0 */
    const char *report = nullptr; /* the --junit file (or a log) the run leaves, whole */
    std::vector<RunnerPiece> report_pieces = {};
    bool numbered = false; /* every line of standard output starts "[N] " */
};

inline constexpr char runner_demo_atr[] = "3B8F8001804F0CA000000306030001000000006A";
inline constexpr char runner_usage[] =
    "usage: vorlane-run [--list] [-r READER]... [--all] [--ignore FRAGMENT]... [-w SECONDS] [-c] "
    "[-x] "
    "[--atr[=HEX]] [--each-card[=COUNT]] [--output-dir DIR] [--junit FILE] [--set NAME=HEX]... "
    "[--data FILE] [--record FILE] [--replay FILE]... SCRIPT... | --cap-info FILE...";

/* The scripts every case finds in the runner's folder */
inline const std::vector<std::pair<std::string, std::string>> runner_files = {
    {"ok.txt", "00A4040000\n"},
    {"pull.txt", "00A4040000\n/EXPECT *\n/W 2500\n00B0000010\n00B0000010\n"},
    {"checks.txt", "00A4040000\n/EXPECT 6F XX 84 00 9000 | 6A82\n/EXPECT 6A82 WITHIN 60000\n"
                   "00A4ZZ\n/EXPECT *\n"},
    {"c.txt", "/OFF\n00A4040000\n00A4040000\n00B0000010\n80F00001\n"},
    {"ext.txt", "00D60000000005010203\n\\0405\n00B0000000FFFF\n/EXPECT 9000\n"},
    {"long.txt", "/REPEAT 6\n00B0000000FFFF\n80F00004\n/END\n"},
    {"crypto.txt",
     "/SET K 404142434445464748494A4B4C4D4E4F\n"
     "/SET C ENCRYPT 3DES-ECB $K 0000000000000000\n"
     "/SET M MAC CMAC-AES 2B7E151628AED2A6ABF7158809CF4F3C 6BC1BEE22E409F96E93D7E117393172A\n"
     "/SET H HASH SHA-1 616263\n/SET N RANDOM 16\n80CA0000 $C[0:3] $M $H $#N\n"
     "/SET F ENCRYPT AES-ECB $K 0102\n/SET G MAC RETAIL 00112233445566778899AABBCCDDEEFF 01\n"},
    {"golden.txt", "// ATR 3B021450\r\n00A4040000\r\n/EXPECT 6F0284009000\r\n"},
    {"scp.txt",
     "00A4040008A000000151000000\n/EXPECT * 9000\n"
     "/SCP MAC+ENC+RMAC+RENC KEY 404142434445464748494A4B4C4D4E4F\n"
     "80F0 0022 20 000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F 00\n/EXPECT "
     "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F 9000\n"},
    {"scp-use.txt", "80F00004\n/EXPECT 0001 9000\n/SCP END\n00A4040000\n"},
    {"gp.txt", "00A4040008A000000151000000\n/SCP MAC KEY 404142434445464748494A4B4C4D4E4F\n"
               "80F28002024F0000\n80F22002024F0000\n80CA9F7F00\n80CA006600\n"},
    {"scp-bad.txt", "00A4040008A000000151000000\n/SCP MAC KEY 00112233445566778899AABBCCDDEEFF\n"
                    "80F00004\n"},
    {"content.txt",
     "00A4040008A000000151000000\n/SCP MAC+ENC+RMAC+RENC KEY 404142434445464748494A4B4C4D4E4F\n"
     "/OFF\n/LOAD AlgTest_v1.8.2_jc222.cap HASH SHA-256\n/ON\n"
     "/INSTALL 4A43416C6754657374 4A43416C675465737431 PARAMS 0102\n80F24002024F0000\n"
     "/EXPECT E3 XX 4F0A4A43416C675465737431 9F700107 * 9000\n/SCP END\n"
     "00A404000A4A43416C675465737431\n/EXPECT * 9000\n8012000000\n/EXPECT 0102 9000\n"
     "00A4040008A000000151000000\n/SCP MAC KEY 404142434445464748494A4B4C4D4E4F\n"
     "/DELETE 4A43416C6754657374 RELATED\n/DELETE 4A43416C6754657374\n"},
    {"scp-channels.txt",
     "0070000001\n/EXPECT 01 9000\n00700005\n/EXPECT 9000\n01A4040008A000000151000000\n"
     "41A4040008A000000151000000\n/SCP MAC+RMAC KEY 404142434445464748494A4B4C4D4E4F CHANNEL 1\n"
     "81F00004\n/EXPECT 0001 9000\n00B0000002\n/EXPECT XXXX 9000\n"
     "/SCP MAC+ENC KEY 404142434445464748494A4B4C4D4E4F CHANNEL 5\nC1F00004\n/EXPECT 0001 9000\n"
     "/SCP END\n0070800100\n0070800500\n/EXPECT 9000\n"},
};

/* CAP files the cases read, copied from tests/data/caps into the runner's folder */
inline const char *const runner_caps[] = {"AlgTest_v1.2_jc2.1.2.cap", "AlgTest_v1.8.2_jc222.cap"};
#ifdef _WIN32 /* Wine's drive Z: is the Linux root */
inline const std::string runner_caps_dir =
    std::string("Z:") + VORLANE_SOURCE_DIR + "/tests/data/caps/";
#else
inline const std::string runner_caps_dir = VORLANE_SOURCE_DIR "/tests/data/caps/";
#endif

inline const std::string runner_timing = " +[0-9]+ ms = +[0-9]+ - +[0-9]+ Total: +[0-9]+ ";

// clang-format off
inline const std::vector<RunnerCase> runner_cases = {
    {"two scripts", {"-r", "0", "ok.txt", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"Velmo:> Card is ready", 2}}, "", 0, 0},
    // A missing script is reported as the pane does; the others still run.
    {"missing script", {"ok.txt", "missing.txt", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 1,
     {{"\r\nLoading script missing.txt ...\r\nFile not found\r\n", 1}, {"End of script", 2}},
     "missing.txt", 0, 0},
    {"name too long", {"ok.txt", std::string(3000, 's')}, 1, 0, RUNNER_NO_EVENT, 1, {{"End of script", 1}},
     "too long", 0, 0},
    // An empty reader, by index or name; readers that do not exist.
    {"empty by index", {"-r", "1", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 1, {}, "no card in reader 1", 0, 0},
    {"empty by name", {"-r", "Virtual PCD 00 01", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 1, {}, "no card", 0, 0},
    {"no such index", {"-r", "7", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 1, {}, "no reader 7", 0, 0},
    {"no such name", {"-r", "Nothing", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 1, {}, "no reader Nothing", 0, 0},
    {"long name", {"-r", std::string(5000, 'R'), "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 1, {}, "no reader", 0, 0},
    // Usage errors: the one usage line on standard error.
    {"no words", {}, 1, 0, RUNNER_NO_EVENT, 2, {}, nullptr, 0, 0},
    {"-w without value", {"-w"}, 1, 0, RUNNER_NO_EVENT, 2, {}, nullptr, 0, 0},
    {"-w not a number", {"-w", "x", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 2, {}, nullptr, 0, 0},
    {"unknown option", {"-q", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 2, {}, nullptr, 0, 0},
    {"no script", {"-c"}, 1, 0, RUNNER_NO_EVENT, 2, {}, nullptr, 0, 0},
    {"no card", {"ok.txt"}, 0, 0, RUNNER_NO_EVENT, 1, {}, "no card in any reader", 0, 0},
    {"reader list", {"--list"}, 0, 0, RUNNER_NO_EVENT, 0,
     {{"0: Virtual PCD 00 00\r\n1: Virtual PCD 00 01\r\n", 1}}, "", 0, 0},
    // The card goes during a pause: the next exchange fails and ends the run.
    {"card pulled", {"--junit", "p.xml", "pull.txt"}, 1, 0, RUNNER_PULL_MIDSCRIPT, 1,
     {{"Waiting 2500 ms\r\nSending\r\n00B0000010\r\n\r\nReader is busy, try later...\r\n"
       "Checks: 1 passed, 0 failed\r\n\r\n\r\nEnd of script\r\n", 1}, {"00B0000010", 1}},
     "pull.txt line 4: 0x8010", 0, 0, "p.xml",
     {{"<testsuite name=\"pull.txt\" tests=\"2\" failures=\"0\" errors=\"1\" ", 1},
      {"<testcase name=\"line 2: /EXPECT \\*\" classname=\"pull.txt\" time=\"[0-9.]+\"/>", -1},
      {"<error message=\"line 4: 0x8010[0-9A-F]{4} SCARD_[A-Z_]+\">", -1}}},
    // A failed check: the run goes on to its end, the status is 3.
    {"check failed", {"--junit", "r.xml", "checks.txt"}, 1, 0, RUNNER_NO_EVENT, 3,
     {{"!!! Check failed, line 3: expected 6A82, received 6F0284009000\r\n"
       "!!! Check failed, line 5: the APDU line before it was not sent\r\n"
       "Checks: 1 passed, 2 failed\r\n\r\n\r\nEnd of script\r\n", 1}},
     "", 0, 0, "r.xml",
     {{"<testsuite name=\"checks.txt\" tests=\"3\" failures=\"2\" errors=\"0\" ", 1},
      {"<testcase name=\"line 2: /EXPECT 6F XX 84 00 9000 | 6A82\" ", 1},
      {"<failure message=\"Check failed, line 3: expected 6A82, received 6F0284009000\">", 1},
      {"</testsuites>\n", 1}}},
    // -w waits for a card put in after the start, and gives up after its time.
    {"card inserted later", {"-w", "30", "ok.txt"}, 0, 0, RUNNER_INSERT_LATER, 0,
     {{"Received\r\n6F0284009000\r\n", 1}}, "", 2000, 25000},
    {"wait gives up", {"-w", "2", "ok.txt"}, 0, 0, RUNNER_NO_EVENT, 1, {}, "no card", 2000, 20000},
    // -c adds the Console's script header and exchange lines, in its format.
    {"no console lines", {"c.txt"}, 1, 0, RUNNER_NO_EVENT, 0, {{" ms = ", 0}}, "", 0, 0},
    {"console lines", {"-c", "c.txt"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"\r\nLoading script c.txt ...\r\n\r\nScript: c.txt\r\n\r\n001: ", 1}, {"Script: c.txt", 1},
      {"001: 00A4040000 9000" + runner_timing + "<0:>\r\n", -1},
      {"002: 00A4040000 9000" + runner_timing + "<0:[0-9]+>\r\n", -1},
      {"003: 00B0000010 9000" + runner_timing + "<1:>\r\n", -1},
      {"004: 80F00001LengthError= 1\r\n" + runner_timing + "<0:>\r\n", -1}},
     "", 0, 0},
    // A command continued on a second line; an extended answer of 65,535
    // bytes traced whole and judged whole, its failed check shortened.
    {"extended length", {"--junit", "x.xml", "ext.txt"}, 1, 0, RUNNER_NO_EVENT, 3,
     {{"Sending\r\n00D600000000050102030405\r\nReceived\r\n9000\r\n", 1},
      {"\r\n" + std::string(58, '0') + "6282\r\n!!! Check failed, line 4: expected 9000, "
       "received 0102030405" + std::string(502, '0') + "... (65535 bytes, SW 6282)\r\n", 1}},
     "", 0, 0, "x.xml",
     {{"<failure message=\"Check failed, line 4: expected 9000, received 0102030405", 1}}},
    // Two readers at once: every line whole and numbered by its reader,
    // in the order the readers joined; the worst status over both.
    {"both readers by -r", {"-r", "0", "-r", "1", "ok.txt"}, 1, 1, RUNNER_NO_EVENT, 0,
     {{"[0] Velmo:> Card is ready\r\n", 1}, {"[1] Velmo:> Card is ready\r\n", 1},
      {"[0] Received\r\n[0] 6F0284009000\r\n", 1}, {"[1] Received\r\n[1] 6F0284009000\r\n", 1}},
     "", 0, 0, nullptr, {}, true},
    {"--all with a report", {"--all", "--junit", "m.xml", "ok.txt"}, 1, 1, RUNNER_NO_EVENT, 0,
     {{"[0] Velmo:> Card is ready\r\n", 1}, {"[1] Velmo:> Card is ready\r\n", 1}}, "", 0, 0,
     "m.xml",
     {{"<testsuite name=\"Virtual PCD 00 00: ok.txt\" tests=\"1\" failures=\"0\" errors=\"0\" "
       "time=\"[0-9.]+\" hostname=\"[^\"]+\">", -1},
      {"<testsuite name=\"Virtual PCD 00 01: ok.txt\" ", 1},
      {"<property name=\"reader\" value=\"Virtual PCD 00 01\"/>", 1},
      {"<property name=\"atr\" value=\"" + std::string(runner_demo_atr) + "\"/>", 2}},
     true},
    {"fragment of one name", {"-r", "pcd 00 01", "ok.txt"}, 0, 1, RUNNER_NO_EVENT, 0,
     {{"\r\nLoading script ok.txt ...\r\n", 1}, {"[", 0}}, "", 0, 0},
    {"one of two empty", {"-r", "0", "-r", "1", "ok.txt", "missing.txt"}, 1, 0, RUNNER_NO_EVENT, 1,
     {{"[0] Velmo:> Card is ready\r\n", 2}, {"[1]", 0}}, "no card in reader 1", 0, 0, nullptr, {},
     true},
    {"output folder", {"--all", "--output-dir", ".", "checks.txt"}, 1, 1, RUNNER_NO_EVENT, 3,
     {{"[1] Checks: 1 passed, 2 failed\r\n", 1}}, "", 0, 0, "reader-1.log",
     {{"\r\nLoading script checks.txt ...\r\n", 1}, {"Checks: 1 passed, 2 failed\r\n", 1},
      {"[", 0}},
     true},
    // Long traces of both readers at once: their lines interleave whole and
    // in order (each reader's are its log).
    {"two readers' long traces", {"--all", "--output-dir", ".", "long.txt"}, 1, 1,
     RUNNER_NO_EVENT, 0, {{"] Received\r\n", 24}, {"] Velmo:> Card is ready\r\n", 2}}, "", 0, 0,
     nullptr, {}, true},
    // -x explains every answer and ends a failed check with its status word's meaning.
    {"explained", {"-x", "--junit", "e.xml", "checks.txt"}, 1, 0, RUNNER_NO_EVENT, 3,
     {{"Received\r\n6F0284009000\r\nSW 9000: normal processing\r\n6F 02 FCI template\r\n"
       "  84 00 DF name\r\n", 1},
      {"!!! Check failed, line 3: expected 6A82, received 6F0284009000 (normal processing)\r\n", 1},
      {"!!! Check failed, line 5: the APDU line before it was not sent\r\n", 1}},
     "", 0, 0, "e.xml",
     {{"<failure message=\"Check failed, line 3: expected 6A82, received 6F0284009000 "
       "(normal processing)\">", 1}}},
    // -x reads the security domain's answers for the commands that asked
    // for them, under the channel: GET STATUS's entries, the CPLC, the card
    // recognition data.
    {"explained registry", {"-x", "gp.txt"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"\r\nE3 13 issuer security domain\r\n  4F 08 AID: A000000151000000\r\n"
       "  9F70 01 life cycle: 0F SECURED\r\n", 1},
      {"\r\n  CE 02 executable load file version: 0100 (1.0)\r\n", 1},
      {"\r\n  IC embedding date: 4201 (year ending in 4, day 201)\r\n", 1},
      {"\r\n    64 0B secure channel protocol: SCP03 i=70: S8 mode, pseudo-random card "
       "challenge, R-MAC support, R-ENC support\r\n", 1}},
     "", 0, 0},
    // --atr explains the card's ATR without running a script; --atr=HEX the one given.
    {"--atr of the card", {"--atr"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"Answer to Reset: \r\n 3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A \r\n"
       "TS 3B: direct convention\r\n", 1}, {"TCK 6A: correct\r\n", 1}, {"Sending", 0}},
     "", 0, 0},
    {"--atr without a card", {"--atr"}, 0, 0, RUNNER_NO_EVENT, 1, {}, "no card in any reader", 0, 0},
    {"--atr of both cards", {"--atr", "--all"}, 1, 1, RUNNER_NO_EVENT, 0,
     {{"] TCK 6A: correct\r\n", 2}}, "", 0, 0, nullptr, {}, true},
    {"--atr given", {"--atr=3B 02 14 50"}, 0, 0, RUNNER_NO_EVENT, 0,
     {{"Answer to Reset: \r\n 3B 02 14 50 \r\nTS 3B: direct convention\r\n", 1}}, "", 0, 0},
    {"--atr not hexadecimal", {"--atr=3B8"}, 0, 0, RUNNER_NO_EVENT, 2, {},
     "not an ATR in hexadecimal: 3B8", 0, 0},
    {"--atr with a script", {"--atr", "ok.txt"}, 0, 0, RUNNER_NO_EVENT, 2, {}, nullptr, 0, 0},
    // --cap-info describes CAP files without a card; one that is not a CAP
    // file gives status 2 and its reason, and the others are still shown.
    {"--cap-info", {"--cap-info", "AlgTest_v1.2_jc2.1.2.cap"}, 0, 0, RUNNER_NO_EVENT, 0,
     {{"^AlgTest_v1.2_jc2.1.2.cap\r\nPackage AID: 6D797061636B616731\r\nPackage version: 1.0\r\n"
       "CAP format: 2.1\r\nApplet AID: 6D7970616330303031\r\n"
       "Import: A0000000620101 version 1.0 javacard.framework\r\n(Import: [^\r]+\r\n){3}"
       "Component Header: 22 bytes\r\n(Component [A-Za-z]+: [0-9]+ bytes\r\n){9}"
       "Load file: 13073 bytes\r\nLoad file SHA-1: 999D087EE55A7E12DF0A873592654F9313E58939\r\n"
       "Load file SHA-256: CB3360837DF8B51E3AB9CF66D7DCEC02BA696BA490D202506AD053A436666E73\r\n"
       "Load file with Descriptor: 13603 bytes\r\n(Load file with Descriptor SHA-[0-9]+: [0-9A-F]+\r\n){2}$", -1}},
     "", 0, 0},
    {"--cap-info of a text file", {"--cap-info", "ok.txt", "AlgTest_v1.8.2_jc222.cap"}, 0, 0,
     RUNNER_NO_EVENT, 2,
     {{"AlgTest_v1.8.2_jc222.cap\r\nPackage AID: 4A43416C6754657374\r\n", 1}, {"\r\n\r\n", 0}},
     "vorlane-run: ok.txt: not a ZIP archive", 0, 0},
    // A secure channel with the test card's security domain (SCP03, its
    // default keys): the command wrapped, the answer unwrapped, and the
    // channel still open in the card's next script until /SCP END.
    {"secure channel", {"--junit", "s.xml", "scp.txt", "scp-use.txt"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"Sending\r\n80F0002220000102030405060708090A0B0C0D0E0F101112131415161718191A\r\n1B1C1D1E1F00\r\nSecured\r\n84F0002238", 1},
      {"Plain\r\n000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\r\n9000\r\n", 1},
      {"Sending\r\n80F00004\r\nSecured\r\n84F000040", 1}, {"Plain\r\n00019000\r\n", 1},
      {"Sending\r\n00A4040000\r\nReceived\r\n", 1}, {"4041424344", 0}},
     "", 0, 0, "s.xml",
     {{"<testcase name=\"line 3: /SCP MAC\\+ENC\\+RMAC\\+RENC\" classname=\"scp.txt\" ", -1},
      {"<testcase name=\"line 2: /EXPECT 0001 9000\" classname=\"scp-use.txt\" ", 1}}},
    // Wrong keys: EXTERNAL AUTHENTICATE is never sent, the next line is
    // not sent, and the run ends with status 3.
    {"secure channel broken", {"--junit", "b.xml", "scp-bad.txt"}, 1, 0, RUNNER_NO_EVENT, 3,
     {{"!!! Check failed, line 2: secure channel: card cryptogram does not match (wrong keys?)\r\n"
       "!!! Check failed, line 3: not sent: the secure channel failed at line 2\r\n", 1},
      {"Sending\r\n8482", 0}, {"0011223344", 0}},
     "", 0, 0, "b.xml",
     {{"<testcase name=\"line 2: /SCP MAC\" classname=\"scp-bad.txt\" ", 1},
      {"<testcase name=\"line 3: 80F00004\" ", 1}}},
    // Secure channels on logical channels 1 and 5, opened with MANAGE
    // CHANNEL: each command carries its channel's class byte and SM
    // indication, the card checks MACs over channel 0's class byte, and
    // channel 0 stays in the clear meanwhile.
    {"secure channels on logical channels", {"scp-channels.txt"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"Sending\r\n8150000008", 1}, {"Sending\r\n85821100", 1}, {"Secured\r\n85F0000408", 1},
      {"Sending\r\n00B0000002\r\nReceived\r\n", 1}, {"Sending\r\nC150000008", 1},
      {"Secured\r\nE1F0000408", 1}, {"Plain\r\n00019000\r\n", 2}, {"Check failed", 0}},
     "", 0, 0},
    // A package loaded from its CAP file, its applet installed, selected
    // and answering, then deleted, through the card's security domain.
    {"card content", {"--junit", "content.xml", "content.txt"}, 1, 0, RUNNER_NO_EVENT, 3,
     {{"Sending\r\n80E60C0028094A43416C67546573740A4A43416C6754657374310A4A43416C67\r\n", 1},
      {"Sending\r\n8012000000\r\nReceived\r\n01029000\r\n", 1},
      {"Sending\r\n80E400800B4F094A43416C675465737400\r\nSecured\r\n84E4008013", 1},
      {"!!! Check failed, line 17: DELETE answered 6A88 (referenced data or reference data not "
       "found)\r\nChecks: 8 passed, 1 failed\r\n", 1}},
     "", 0, 0, "content.xml",
     {{"<testcase name=\"line 4: /LOAD AlgTest_v1.8.2_jc222.cap\" classname=\"content.txt\" ", 1},
      {"<testcase name=\"line 6: /INSTALL\" ", 1}, {"<testcase name=\"line 16: /DELETE\" ", 1}}},
    // Functions in /SET: a key check value, a CMAC, a hash and random bytes
    // reach the card; a function that fails is a failed check named without
    // its arguments, and no key is ever shown.
    {"cryptography", {"--junit", "k.xml", "crypto.txt"}, 1, 0, RUNNER_NO_EVENT, 3,
     {{"Sending\r\n80CA00008BAF47070A16B46B4D4144F79BDD9DD04A287CA9993E364706816ABA\r\n"
       "3E25717850C26C9CD0D89D10\r\n", 1},
      {"!!! Check failed, line 7: data of 2 bytes is not a multiple of 16\r\n"
       "!!! Check failed, line 8: data of 1 byte is not a multiple of 8\r\n"
       "Checks: 0 passed, 2 failed\r\n", 1},
      {"4041424344", 0}, {"0011223344", 0}},
     "", 0, 0, "k.xml",
     {{"<testcase name=\"line 7: /SET F ENCRYPT\" classname=\"crypto.txt\" ", 1},
      {"<testcase name=\"line 8: /SET G MAC\" ", 1},
      {"<failure message=\"Check failed, line 7: data of 2 bytes is not a multiple of 16\">", 1},
      {"4041424344", 0}, {"0011223344", 0}}},
    // A recording of the card's exchanges, CR LF lines on either platform;
    // replayed (and recorded again) with no card in any reader.
    {"recorded", {"--record", "rec.txt", "ok.txt"}, 1, 0, RUNNER_NO_EVENT, 0,
     {{"Received\r\n6F0284009000\r\n", 1}}, "", 0, 0, "rec.txt",
     {{"^// Recorded by vorlane-run [0-9.]+\r\n// Host: [^\r\n]+\r\n// Reader: Virtual PCD 00 00\r\n"
       "// Date: [-0-9]{10} [:0-9]{8} UTC\r\n// ATR " + std::string(runner_demo_atr) +
       "\r\n00A4040000\r\n/EXPECT 6F0284009000\r\n$", -1}}},
    {"replayed", {"--replay", "golden.txt", "--record", "again.txt", "ok.txt"}, 0, 0,
     RUNNER_NO_EVENT, 0, {{"Received\r\n6F0284009000\r\n", 1}}, "", 0, 0, "again.txt",
     {{"\r\n// Reader: Replay: golden.txt\r\n", 1},
      {"\r\n// ATR 3B021450\r\n00A4040000\r\n/EXPECT 6F0284009000\r\n", 1}}},
};
// clang-format on

inline int runner_count(const std::string &text, const std::string &piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        n++;
    return n;
}

/* Every line starts with its reader's number: no line mixes two readers. */
inline void runner_expect_numbered(const std::string &out) {
    size_t start = 0;
    for (size_t end; (end = out.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_TRUE(std::regex_search(out.substr(start, end - start), std::regex("^\\[[0-9]+\\] ")))
            << out.substr(start, end - start);
    EXPECT_EQ(start, out.size()) << "an unfinished last line";
}

template <class R> void runner_expect(const RunnerCase &c, const R &r, const char *newline) {
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.numbered)
        runner_expect_numbered(r.out);
    if (c.out.empty()) {
        EXPECT_EQ(r.out, "");
    }
    for (const RunnerPiece &piece : c.out) {
        if (piece.count < 0)
            EXPECT_TRUE(std::regex_search(r.out, std::regex(piece.text))) << piece.text << r.out;
        else
            EXPECT_EQ(runner_count(r.out, piece.text), piece.count) << piece.text << r.out;
    }
    if (!c.err)
        EXPECT_EQ(r.err, std::string(runner_usage) + newline);
    else
        EXPECT_TRUE(*c.err ? r.err.find(c.err) != std::string::npos : r.err.empty()) << r.err;
}

/* With --output-dir, each reader's numbered lines, the number taken off,
   are its log: nothing lost, reordered or mixed with the other's. */
inline void runner_expect_logs(const std::string &out, const std::string &dir) {
    std::map<std::string, std::string> lines; /* "N" -> that reader's lines */
    for (size_t at = 0, end; (end = out.find("\r\n", at)) != std::string::npos; at = end + 2) {
        size_t close = out.find("] ", at);
        if (out[at] == '[' && close < end)
            lines[out.substr(at + 1, close - at - 1)] += out.substr(close + 2, end - close);
    }
    for (const auto &reader : lines) {
        std::ifstream log(dir + "/reader-" + reader.first + ".log", std::ios::binary);
        if (log) {
            EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(log), {}) == reader.second)
                << "reader " << reader.first;
        }
    }
}

/* The report is there whole under its own name, the temporary one gone. */
inline void runner_report_expect(const RunnerCase &c, const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::string xml((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(std::ifstream(path + ".tmp").good()) << path;
    for (const RunnerPiece &piece : c.report_pieces) {
        if (piece.count < 0)
            EXPECT_TRUE(std::regex_search(xml, std::regex(piece.text))) << piece.text << xml;
        else
            EXPECT_EQ(runner_count(xml, piece.text), piece.count) << piece.text << xml;
    }
}

/* Puts the demo card (atr) into reader, or takes it out (0); the card is
   reset either way. inserted keeps what each reader holds ("?": unknown). */
template <class Ops>
void runner_card(Ops &ops, const char *inserted[2], int reader, const char *atr) {
    ASSERT_EQ(ops.control(reader, "reset"), "ok");
    if (atr && atr != inserted[reader]) {
        ops.insert(reader, atr);
    } else if (!atr && inserted[reader]) {
        ops.remove(reader);
    }
    inserted[reader] = atr;
}

/* One case: the files, the cards, the run and its events, the checks. */
template <class Ops>
void runner_case_check(const RunnerCase &c, Ops &ops, const char *inserted[2]) {
    SCOPED_TRACE(c.name);
    for (const auto &file : runner_files)
        std::ofstream(ops.dir + "/" + file.first, std::ios::binary) << file.second;
    for (const char *cap : runner_caps)
        std::ofstream(ops.dir + "/" + cap, std::ios::binary)
            << std::ifstream(runner_caps_dir + cap, std::ios::binary).rdbuf();
    for (const char *log : {"/reader-0.log", "/reader-1.log"}) /* an earlier case's */
        std::remove((ops.dir + log).c_str());
    runner_card(ops, inserted, 0, c.card0 ? runner_demo_atr : nullptr);
    runner_card(ops, inserted, 1, c.card1 ? runner_demo_atr : nullptr);
    ASSERT_EQ(ops.control(0, "delay 5"), "ok"); // a 0 ms exchange restarts the Console's numbers
    auto begin = std::chrono::steady_clock::now();
    auto child = ops.start(c.words);
    if (c.event == RUNNER_PULL_MIDSCRIPT) {
        for (int i = 0; i < 1000 && ops.control(0, "status").find(" log=0") != std::string::npos;
             i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ops.remove(0);
        inserted[0] = nullptr;
    } else if (c.event == RUNNER_INSERT_LATER) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        EXPECT_TRUE(ops.running(child)) << "did not wait";
        runner_card(ops, inserted, 1, runner_demo_atr);
    }
    auto r = ops.finish(child);
    unsigned ms = (unsigned)std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - begin)
                      .count();
    runner_expect(c, r, ops.newline);
    /* the logs of a run with --output-dir; an earlier case's stay behind */
    if (c.numbered && std::count(c.words.begin(), c.words.end(), "--output-dir") > 0)
        runner_expect_logs(r.out, ops.dir);
    if (c.report)
        runner_report_expect(c, ops.dir + "/" + c.report);
    if (c.max_ms) {
        EXPECT_TRUE(ms >= c.min_ms && ms < c.max_ms) << ms;
    }
}

#endif
