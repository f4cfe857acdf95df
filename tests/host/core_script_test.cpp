/*
 * core_script_test.cpp: the interpreter's long commands and T=0 follow-ups
 * against the fake PC/SC. A line that starts with a backslash continues the
 * APDU line before it, up to the largest command, and an "/EXPECT" pattern
 * likewise; 61xx and 6Cxx are answered by follow-ups that run before the
 * next file line. Each row says which commands the card must receive, in
 * order.
 */
#include "tests/host/core_harness.h"

#include <string.h>

#include <atomic>
#include <thread>

#include "script/script_check.h"
#include "script/script_line.h"
#include "script/script_run.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct ScriptPiece {
    std::string text;
    int count; /* times the reader pane shows it */
};

struct ScriptRow {
    std::string name;
    std::vector<std::string> lines;
    std::vector<FakeAnswer> answers;
    std::vector<Bytes> sent; /* the commands the card receives */
    std::vector<ScriptPiece> shown;
    int passed, failed;
    FakeAnswer fallback = fake_pattern(0);
    std::vector<std::pair<std::string, std::string>> files = {}; /* beside the script */
};

Bytes bytes_of(const std::string &hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((uint8_t)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

FakeAnswer answer_of(const std::string &hex, unsigned delay_ms = 0) {
    FakeAnswer answer;
    answer.bytes = bytes_of(hex);
    answer.delay_ms = delay_ms;
    return answer;
}

/* count command bytes (i % 251) written 1,000 bytes a line, each line after
   the first continuing it */
Bytes long_command(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = (uint8_t)(i % 251);
    return bytes;
}

std::vector<std::string> long_lines(const Bytes &bytes) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < bytes.size(); i += 1000)
        lines.push_back((i ? "\\" : "") + core_hex(bytes, i, 1000));
    return lines;
}

/* "/EXPECT" with the bytes, 1,024 digits a line, as a recording writes it */
std::vector<std::string> check_lines(const Bytes &bytes) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < bytes.size(); i += 512)
        lines.push_back((i ? "\\" : "/EXPECT ") + core_hex(bytes, i, 512));
    return lines;
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<ScriptRow> script_rows(void) {
    Bytes largest = long_command(XFER_COMMAND_MAX), too_long = long_command(XFER_COMMAND_MAX + 1);
    std::vector<std::string> too_long_lines = long_lines(too_long);
    std::string not_sent = "!!! Check failed, line " + std::to_string(too_long_lines.size() + 2) +
                           ": the APDU line before it was not sent\r\n";
    Bytes select = bytes_of("00A40400023F00");
    std::vector<Bytes> rounds; /* 80 and the round in two bytes, then the lengths of B */
    for (int k = 1; k <= 256; k++)
        rounds.push_back({0x80, (uint8_t)(k >> 8), (uint8_t)k});
    rounds.push_back(bytes_of("800100"));
    // clang-format off
    return {
        // Continuations: the texts join before they are read, blanks and
        // empty continuations included.
        {"continued", {"00A4 04", "\\00 02", "\\", "\\3F00", "/EXPECT 9000"}, {}, {select},
         {{"Sending\r\n00A40400023F00\r\n", 1}}, 1, 0},
        {"pair split across lines", {"00A40", "\\400023F0", "\\0", "/EXPECT 9000"}, {}, {select},
         {}, 1, 0},
        {"bad pair in a continuation", {"00A4", "\\04ZZ", "/EXPECT *"}, {}, {},
         {{"!!! Check failed, line 3: the APDU line before it was not sent\r\n", 1}}, 0, 1},
        {"largest command", joined(long_lines(largest), {"/EXPECT 9000"}), {}, {largest},
         {{core_trace("Sending", largest), 1}}, 1, 0},
        // One byte more is not sent; it fails with the first line's number
        // and its continuations are not read as commands.
        {"command too long", joined(joined({"// long"}, too_long_lines), {"/EXPECT *", "00B0000000"}),
         {}, {bytes_of("00B0000000")},
         {{"!!! Check failed, line 2: command longer than 65544 bytes\r\n", 1}, {not_sent, 1},
          {"Sending\r\n", 1}}, 0, 2},
        // A check continues as a command does; the lines after it are no
        // commands, and its message names its first line.
        {"check continued", {"00B0000004", "/EXPECT 0001", "\\02 0", "\\", "\\3 9000", "80"}, {},
         {bytes_of("00B0000004"), bytes_of("80")}, {}, 1, 0, fake_pattern(4)},
        {"continued check fails", {"00B0000001", "/EXPECT 01", "\\ 6A82", "/EXPECT 00 9000"}, {},
         {bytes_of("00B0000001")}, {{"!!! Check failed, line 2: expected 01 6A82, received 009000"
                                     "\r\n", 1}}, 1, 1, fake_pattern(1)},
        {"largest answer checked whole", joined({"00B0000000FFFF"},
                                                check_lines(core_answer(XFER_RESPONSE_MAX).bytes)),
         {}, {bytes_of("00B0000000FFFF")}, {}, 1, 0, core_answer(XFER_RESPONSE_MAX)},
        // T=0: the follow-up runs before the file line read ahead; only a
        // two-byte answer is followed up.
        {"61xx", {"/T=0", "00A4040002", "\\3F00", "/EXPECT 0001 * 9000", "00B0000000"},
         {answer_of("6112"), fake_pattern(18)},
         {select, bytes_of("00C0000012"), bytes_of("00B0000000")},
         {{"Sending\r\n00C0000012\r\n", 1}}, 1, 0},
        {"61xx after data", {"/T=0", "00A4040000", "/EXPECT 00 6110"}, {answer_of("006110")},
         {bytes_of("00A4040000")}, {}, 1, 0},
        // The check's time is the whole chain's.
        {"chain time", {"/T=0", "00A4040000", "/EXPECT * WITHIN 55"},
         {answer_of("6110", 30), answer_of("0102", 30)}, {bytes_of("00A4040000"), bytes_of("00C0000010")},
         {{"!!! Check failed, line 3: expected within 55 ms, took ", 1}}, 0, 1},
        // Values: every reference form where a pair begins; elsewhere "$" is
        // the character it was ("0$" reads as 00).
        {"references", {"/SET A 01 02 03 04 05", "80CA $#A $A", "00D6 0000 00 $##A $A[1:3]",
                        "00 $A[-2:] $A[:1] $A[1:-3]", "00A404000$AB"}, {},
         {bytes_of("80CA050102030405"), bytes_of("00D600000000050203"), bytes_of("0004050102"),
          bytes_of("00A4040000AB")}, {}, 0, 0},
        {"R and SW", {"00B0000003", "/SET S $SW", "00D0 0000 $#R $R[1:] $S"},
         {answer_of("1122336283")}, {bytes_of("00B0000003"), bytes_of("00D00000032233" "6283")},
         {{"Sending\r\n00D000000322336283\r\n", 1}}, 0, 0},
        {"references that cannot be made", {"/SET A 0102", "80 $Q", "/EXPECT *", "80 $A[1:5]",
                                            "80 $#B", "/SET R 00", "/SET C 0G", "/EXPECT $Q",
                                            "/SET B " + std::string(512, 'B')}, {},
         {}, {{"!!! Check failed, line 2: unknown value Q\r\n", 1},
              {"!!! Check failed, line 3: the APDU line before it was not sent\r\n", 1},
              {"!!! Check failed, line 4: A[1:5] outside its 2 bytes\r\n", 1},
              {"!!! Check failed, line 5: unknown value B\r\n", 1},
              {"!!! Check failed, line 6: cannot set R\r\n", 1},
              {"!!! Check failed, line 7: C: not whole hexadecimal pairs\r\n", 1},
              {"!!! Check failed, line 8: unknown value Q\r\n", 1}}, 0, 7},
        {"a check of a value", {"/SET V 00 01", "00B0000002", "/EXPECT $V 9000", "/EXPECT $R[1:]"},
         {}, {bytes_of("00B0000002")},
         {{"!!! Check failed, line 4: expected 01, received 00019000\r\n", 1}}, 1, 1,
         fake_pattern(2)},
        // Repeats: a count from a value, the round in NAME (two bytes past
        // 255 rounds), blocks within blocks, and the blocks that cannot run.
        {"repeat", {"/SET N 0003", "/REPEAT $N K", "80 $K", "/REPEAT 0", "81", "/END", "/END",
                    "/REPEAT 2", "/EXPECT 6A82", "/END"}, {},
         {bytes_of("8001"), bytes_of("8002"), bytes_of("8003")},
         {{"!!! Check failed, line 9 round 1: expected 6A82, received 9000\r\n", 1},
          {"!!! Check failed, line 9 round 2: ", 1}}, 0, 2},
        {"rounds of two bytes", {"/REPEAT 256 K", "/REPEAT 1", "80 $K", "/EXPECT 6A82", "/END",
                                 "/END", "/SET B $R $R[0:2]", "80 $#B", "80 $##B"}, {}, rounds,
         {{"line 4 round 256.1: ", 1}, {"Sending\r\n800100\r\n", 2},
          {"!!! Check failed, line 8: length of B does not fit\r\n", 1}}, 0, 257,
         fake_pattern(254)},
        {"blocks that cannot run", {"/END OF PERSO", "/REPEAT 65536", "80", "/END",
                                    "/REPEAT 2 R", "80", "/END", "/REPEAT 1", "80"}, {}, {},
         {{"!!! Check failed, line 1: /END without /REPEAT\r\n", 1},
          {"!!! Check failed, line 2: repeat count not 0 to 65535\r\n", 1},
          {"!!! Check failed, line 5: cannot read the repeat\r\n", 1},
          {"!!! Check failed, line 8: /REPEAT without /END\r\n", 1}}, 0, 4},
        {"nine blocks deep", {"/REPEAT 1", "/REPEAT 1", "/REPEAT 1", "/REPEAT 1", "/REPEAT 1",
                              "/REPEAT 1", "/REPEAT 1", "/REPEAT 1", "/REPEAT 1", "80", "/END",
                              "/END", "/END", "/END", "/END", "/END", "/END", "/END", "/END"},
         {}, {}, {{"line 9 round 1.1.1.1.1.1.1.1: more than 8 nested repeats\r\n", 1}}, 0, 1},
        // Includes: beside the including script, with its values; messages
        // name the file as written; missing files and cycles fail.
        {"include", {"/SET A 0A", "/INCLUDE sub/inc.txt", "/EXPECT $B 9000", "/INCLUDE nope.txt",
                     "/INCLUDE sub/self.txt"}, {}, {bytes_of("800A")},
         {{"!!! Check failed, sub/inc.txt line 2: expected 6A82, received 9000\r\n", 1},
          {"!!! Check failed, line 4: cannot include nope.txt: no such regular file\r\n", 1},
          {"!!! Check failed, sub/self.txt line 1: cannot include self.txt: it includes itself"
           "\r\n", 1}}, 1, 3, fake_pattern(0),
         {{"sub/inc.txt", "80 $A\n/EXPECT 6A82\n/INCLUDE inner.txt\n"},
          {"sub/inner.txt", "/SET B $R\n"}, {"sub/self.txt", "/INCLUDE self.txt\n"}}},
    };
    // clang-format on
}

} // namespace

TEST(CoreScript, LongCommandsAndFollowUps) {
    for (const ScriptRow &row : script_rows()) {
        SCOPED_TRACE(row.name);
        CoreRowRun run;
        for (const FakeAnswer &answer : row.answers)
            fake_answer_push(run.reader, answer);
        fake_answer_default(run.reader, row.fallback);
        if (!row.files.empty())
            EXPECT_EQ(system(("mkdir -p " + (run.dir / "sub")).c_str()), 0);
        for (const auto &file : row.files)
            core_file_write(run.dir / file.first, file.second);

        EXPECT_EQ(run.run(row.lines), SCRIPT_RUN_DONE);
        std::string text = core_stream_text(run.pane);
        EXPECT_TRUE(fake_commands(run.reader) == row.sent) << fake_commands(run.reader).size();
        for (const ScriptPiece &piece : row.shown)
            EXPECT_EQ(core_count(text, piece.text), piece.count) << piece.text << "\n"
                                                                 << text.substr(0, 2000);
        EXPECT_EQ(run.tally.passed, row.passed) << text.substr(0, 2000);
        EXPECT_EQ(run.tally.failed, row.failed) << text.substr(0, 2000);
    }
}

/* Explained under T=0: the answer a GET RESPONSE brings is read for the
   line's own command (here GET STATUS), and so is a failed check's SW. */
TEST(CoreScript, FollowUpAnswersAreExplainedForTheirLine) {
    CoreRowRun run;
    platform_counter_set(&run.session->explain, 1);
    fake_answer_push(run.reader, answer_of("6116"));
    fake_answer_push(run.reader, answer_of("E3144F09F0564F524C414E45019F700107C5030000006310"));
    EXPECT_EQ(run.run({"/T=0", "80F24002024F0000", "/EXPECT 9000"}), SCRIPT_RUN_DONE);
    std::string text = core_stream_text(run.pane), more = "(03 after 02)";
    EXPECT_NE(text.find("\r\nSW 6310: more data: repeat with P2 b1 set " + more + "\r\nE3 14 "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("C5030000006310 (more data: repeat with P2 b1 set " + more + ")\r\n"),
              std::string::npos)
        << text;
}

/* The GUI's "Explain" is turned on its own thread, through the atomic
   counter as the menu does, while a script runs on another and reads it at
   every answer: the run stays whole, every answer traced, and under
   ThreadSanitizer neither side's access is a race. */
TEST(CoreScript, ExplainTurnedWhileAScriptRuns) {
    CoreRowRun run;
    fake_answer_default(run.reader, answer_of("9000"));
    std::atomic<bool> done(false);
    int result = -1;
    std::thread script([&] {
        result = run.run(std::vector<std::string>(300, "00A4040000"));
        done = true;
    });
    for (int on = 1; !done; on = !on)
        platform_counter_set(&run.session->explain, on);
    script.join();
    EXPECT_EQ(result, SCRIPT_RUN_DONE);
    EXPECT_EQ(fake_commands(run.reader).size(), 300u);
    EXPECT_EQ(core_count(core_stream_text(run.pane), "Received"), 300);
}
