/*
 * core_record_test.cpp: vorlane-run --record and --replay against the fake
 * PC/SC. The rows run in order in one folder, later ones replaying what
 * earlier ones recorded; the replay rows run with the service stopped, so
 * a PC/SC call that does not go to the replay readers fails them. A
 * recording's header is checked on every file made (tool, reader, a date
 * within seconds of now, ATR); below it, its exchanges byte for byte.
 */
#include "tests/host/core_harness.h"

#include <time.h>
#include <unistd.h>

#include <map>
#include <regex>

#include "card/card_record.h"
#include "card/card_transmit.h"
#include "vorlane_version.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Made {
    std::string file, reader, atr;
    std::string body; /* below the header; "=NAME": the body of file NAME */
};

struct RecordRow {
    const char *name;
    int readers; /* fake readers holding a card; 0: the service is stopped */
    bool queued; /* reader 0 answers s.txt's commands */
    std::vector<std::string> words;
    int status;
    std::vector<std::pair<std::string, int>> out; /* pieces of standard output, times */
    const char *err;                              /* a piece of standard error; "" none */
    std::vector<Made> made;
    const char *same_out_as = nullptr; /* standard output as that row's, run time aside */
};

/* The lines a recording holds for bytes: 1,024 digits a line. */
std::string lines_of(const std::string &start, const Bytes &bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 512)
        text += (i ? "\\" : start) + core_hex(bytes, i, 512) + "\r\n";
    return text;
}

Bytes long_command(void) {
    Bytes bytes = {0x80, 0xE2, 0x00, 0x00, 0x00, 0x02, 0x58};
    for (int i = 0; i < 600; i++)
        bytes.push_back((uint8_t)i);
    return bytes;
}

/* s.txt, answered by the fake's queue: an empty command answered by
   nothing, a T=0 chain, a value, a long command and answer, then an
   exchange that fails and ends the run. */
const std::string s_txt = "  \n/T=0\n00B0000000\n/SET A 0102\n80 $A\n// a comment\n/W 0\n" +
                          core_hex(long_command(), 0, 300) + "\n\\" +
                          core_hex(long_command(), 300) + "\n80F0\n/EXPECT 9000\n";

std::vector<FakeAnswer> s_answers(void) {
    FakeAnswer none, resend, removed;
    resend.bytes = {0x6C, 0x04};
    removed.status = SCARD_W_REMOVED_CARD;
    return {none, resend, fake_pattern(4), fake_pattern(0), fake_pattern(600), removed};
}

std::string s_body(void) {
    return "  \r\n// empty answer\r\n00B0000000\r\n/EXPECT 6C04\r\n"
           "00B0000004\r\n/EXPECT 000102039000\r\n800102\r\n/EXPECT 9000\r\n" +
           lines_of("", long_command()) + lines_of("/EXPECT ", fake_pattern(600).bytes) +
           "80F0\r\n// PC/SC status: 0x80100069 SCARD_W_REMOVED_CARD\r\n";
}

const char g_body[] = "00A4040000\r\n/EXPECT 9000\r\n00B0000004\r\n/EXPECT 010203049000\r\n";

const std::vector<std::pair<std::string, std::string>> record_files = {
    {"s.txt", s_txt},
    {"t.txt", "00A4040000\n"},
    {"g.txt", "// ATR 3B00\n00A4040000\n/EXPECT 9000\n00B00000\n\\04\n/EXPECT 01020304\n\\9000\n"},
    {"g2.txt", "// ATR 3B00\r\n00A4040000\r\n/EXPECT 9000 WITHIN 10\r\n00B0000004\r\n"
               "/EXPECT 010203049000\r\n"},
    {"d.txt", "00A4040000\n00B0000008\n"},
    {"e.txt", "00B0000004\n/EXPECT 010203049000\n"},
    {"o.txt", "00A4040000\n00B0000004\n80\n"},
    {"line.txt", "00A4040000\n/EXPECT 9000\n00B0000004\n"},
    {"x.txt", "// ATR 3B00\n00A4040000\n/EXPECT 6FXX9000\n"},
    {"odd.txt", "// ATR 3B00\n00A4040000\n/EXPECT 01\n\\90001\n"},
    {"star.txt", "// ATR 3B00\n00A4040000\n/EXPECT * 9000\n"},
    {"alt.txt", "// ATR 3B00\n00A4040000\n/EXPECT 9000 | 6A82\n"},
    {"ref.txt", "// ATR 3B00\n00A4040000\n/EXPECT $R 9000\n"},
    {"cont.txt", "// ATR 3B00\n00A4040000\n/EXPECT 01\n\\XX 9000\n"},
    {"unanswered.txt", "// ATR 3B00\n00A4040000\n00B0000004\n/EXPECT 9000\n"},
    {"no-atr.txt", "00A4040000\n/EXPECT 9000\n"},
};

const std::string fake_atr = "3B021450";

// clang-format off
const std::vector<RecordRow> record_rows = {
    // Every exchange as sent, T=0 follow-ups on their own lines, no directive.
    {"record", 1, true, {"--record", "rec.txt", "s.txt"}, 1, {{"Received\r\n6C04\r\n", 1}},
     "s.txt line 10: 0x80100069 SCARD_W_REMOVED_CARD", {{"rec.txt", core_reader_name, fake_atr, s_body()}}},
    // The recording replayed: the same run, without a PC/SC service.
    {"replay", 0, false, {"--replay", "rec.txt", "s.txt"}, 1, {},
     "s.txt line 10: 0x80100069 SCARD_W_REMOVED_CARD", {}, "record"},
    {"record a replay", 0, false, {"--replay", "rec.txt", "--record", "again.txt", "s.txt"}, 1, {},
     "s.txt line 10: ", {{"again.txt", "Replay: rec.txt", fake_atr, "=rec.txt"}}},
    // A command that differs fails and leaves the place: the next script goes on from it.
    {"differing command", 0, false, {"--replay", "g.txt", "d.txt", "e.txt"}, 1,
     {{"Checks: 1 passed, 0 failed", 1}},
     "d.txt line 2: 0x80100016 SCARD_E_NOT_TRANSACTED\n"
     "replay g.txt line 4: expected 00B0000004, sent 00B0000008\n", {}},
    {"running out", 0, false, {"--replay", "g.txt", "o.txt"}, 1, {{"Received\r\n010203049000\r\n", 1}},
     "o.txt line 3: 0x80100016 SCARD_E_NOT_TRANSACTED\nreplay g.txt: no more recorded exchanges\n",
     {}},
    // Recordings that cannot be replayed stop the run before any script.
    {"a digit left out", 0, false, {"--replay", "x.txt", "t.txt"}, 2, {},
     "vorlane-run: replay x.txt line 3: a pattern cannot be replayed\n", {}},
    {"an odd digit", 0, false, {"--replay", "odd.txt", "t.txt"}, 2, {},
     "vorlane-run: replay odd.txt line 3: cannot read the check\n", {}},
    {"any bytes", 0, false, {"--replay", "g.txt", "--replay", "star.txt", "t.txt"}, 2, {},
     "replay star.txt line 3: a pattern cannot be replayed", {}},
    {"alternatives", 0, false, {"--replay", "alt.txt", "t.txt"}, 2, {}, "alt.txt line 3: a pattern", {}},
    {"a value", 0, false, {"--replay", "ref.txt", "t.txt"}, 2, {},
     "ref.txt line 3: values cannot be replayed", {}},
    {"a pattern continued", 0, false, {"--replay", "cont.txt", "t.txt"}, 2, {}, "cont.txt line 3: a pattern", {}},
    {"a command unanswered", 0, false, {"--replay", "unanswered.txt", "t.txt"}, 2, {},
     "unanswered.txt line 2: the command has no recorded answer", {}},
    {"no ATR", 0, false, {"--replay", "no-atr.txt", "t.txt"}, 2, {}, "replay no-atr.txt: no ATR line\n", {}},
    {"no recording", 0, false, {"--replay", "none.txt", "t.txt"}, 2, {}, "replay none.txt: cannot be read", {}},
    {"twice", 0, false, {"--replay", "g.txt", "--replay", "g.txt", "t.txt"}, 2, {}, "g.txt: given twice", {}},
    // Several readers: .N before the file name's last dot, or appended.
    {"several readers", 2, false, {"--all", "--record", "golden.txt", "t.txt"}, 0, {{"] Velmo:>", 2}}, "",
     {{"golden.0.txt", "Fake Reader 0", fake_atr, "00A4040000\r\n/EXPECT 9000\r\n"},
      {"golden.1.txt", "Fake Reader 1", fake_atr, "=golden.0.txt"}}},
    {"a name without a dot", 2, false, {"-r", "1", "-r", "0", "--record", "dir.d/gold", "t.txt"}, 0, {}, "",
     {{"dir.d/gold.0", "Fake Reader 1", fake_atr, "=golden.0.txt"},
      {"dir.d/gold.1", "Fake Reader 0", fake_atr, "=golden.0.txt"}}},
    // The card line on replay readers: one card each, then the line ends.
    {"card line", 0, false, {"--each-card", "--replay", "g.txt", "--replay", "g2.txt", "--record",
                      "line.txt", "line.txt"}, 0, {{"Cards: 2 passed, 0 failed\r\n", 1}}, "",
     {{"line.card1.txt", "Replay: g", "3B00", g_body}, {"line.card2.txt", "Replay: g", "3B00", g_body}}},
    {"no file to record into", 1, false, {"--record", "nodir/r.txt", "t.txt"}, 1, {{"Loading", 0}},
     "vorlane-run: cannot write nodir/r.txt", {}},
    {"nothing to record", 1, false, {"--list", "--record", "r.txt"}, 2, {}, "usage: vorlane-run", {}},
};
// clang-format on

std::string masked(std::string text) {
    return std::regex_replace(text, std::regex("Time: [0-9]+ ms"), "Time: # ms");
}

/* The header's lines, and the text below it. */
std::string body_checked(const Made &made) {
    std::string text = core_file_text(made.file);
    std::smatch header;
    std::regex form("// Recorded by vorlane-run " VORLANE_VERSION_TEXT "\r\n// Host: [^\r\n]*\r\n"
                    "// Reader: " +
                    made.reader + "[^\r\n]*\r\n// Date: ([-0-9: ]{19}) UTC\r\n// ATR " + made.atr +
                    "\r\n");
    if (!std::regex_search(text, header, form) || header.position(0) != 0) {
        ADD_FAILURE() << made.file << " has no header:\n" << text.substr(0, 400);
        return text;
    }
    struct tm date = {};
    EXPECT_NE(strptime(header[1].str().c_str(), "%Y-%m-%d %H:%M:%S", &date), nullptr);
    EXPECT_LE(llabs((long long)timegm(&date) - (long long)time(nullptr)), 5) << header[1];
    return text.substr((size_t)header.length(0));
}

std::string body_of(const std::string &file) {
    std::string text = core_file_text(file);
    size_t at = text.find("// ATR ");
    return at == std::string::npos ? "" : text.substr(text.find("\r\n", at) + 2);
}

} // namespace

TEST(CoreRecord, RecordAndReplay) {
    CoreDir dir;
    ASSERT_TRUE(dir.enter());
    ASSERT_EQ(system("mkdir dir.d"), 0);
    for (const auto &file : record_files)
        core_file_write(file.first, file.second);
    std::map<std::string, std::string> outs;
    for (const RecordRow &row : record_rows) {
        SCOPED_TRACE(row.name);
        fake_pcsc_reset();
        for (int i = 0; i < row.readers; i++)
            fake_card_insert(fake_reader_add(("Fake Reader " + std::to_string(i)).c_str()),
                             {0x3B, 0x02, 0x14, 0x50});
        for (const FakeAnswer &answer : row.queued ? s_answers() : std::vector<FakeAnswer>())
            fake_answer_push(0, answer);
        if (row.readers == 0)
            fake_service_stop();
        FILE *out = tmpfile(), *err = tmpfile();
        ASSERT_TRUE(out && err);
        EXPECT_EQ(core_runner(row.words, out, err), row.status);
        std::string text = core_stream_text(out), errors = core_stream_text(err);
        outs[row.name] = text;
        for (const auto &piece : row.out)
            EXPECT_EQ(core_count(text, piece.first), piece.second) << piece.first << "\n" << text;
        EXPECT_TRUE(*row.err ? errors.find(row.err) != std::string::npos : errors.empty())
            << errors;
        if (row.status == 2) /* refused before any script */
            EXPECT_EQ(text, "");
        if (row.same_out_as)
            EXPECT_EQ(masked(text), masked(outs[row.same_out_as]));
        for (const Made &made : row.made) {
            std::string expected = made.body[0] == '=' ? body_of(made.body.substr(1)) : made.body;
            EXPECT_EQ(body_checked(made), expected) << made.file;
        }
        fclose(out);
        fclose(err);
    }
}

/* The secure channel's marks, as the interpreter gives them: the exchanges
   between are not in the recording, and a channel open at its end is
   closed there. */
TEST(CoreRecord, SecureChannelLeftOut) {
    CoreDir dir;
    core_start();
    CardSession *session = &runner.readers[0].session;
    core_session_ready(session);
    CardRecord record;
    CardRecordHeader header = {"host", core_reader_name, core_atr.data(), (int)core_atr.size()};
    FILE *file = fopen((dir / "r.txt").c_str(), "wb");
    ASSERT_TRUE(file && card_record_start(&record, file, &header));
    session->record = &record;
    unsigned char command[1] = {0x80}, response[16];
    for (const char *step = "x(xx)x(x"; *step; step++) {
        if (*step == 'x')
            EXPECT_EQ(card_exchange_into(session, command, 1, response, 16, NULL, NULL), 2);
        else
            card_record_channel(session, *step == '(');
    }
    session->record = 0;
    EXPECT_EQ(card_record_end(&record), 0);
    EXPECT_EQ(fake_commands(0).size(), 5u);
    EXPECT_EQ(body_of(dir / "r.txt"), "80\r\n/EXPECT 9000\r\n"
                                      "// Secure channel opened: its exchanges are not recorded\r\n"
                                      "// Secure channel ended\r\n"
                                      "80\r\n/EXPECT 9000\r\n"
                                      "// Secure channel opened: its exchanges are not recorded\r\n"
                                      "// Secure channel ended\r\n");
}

namespace {

/* Two replay readers whose cards fail in ways of their own: the first runs
   out of recorded exchanges, the second is sent a command it did not
   record. */
const std::vector<std::pair<std::string, std::string>> pair_files = {
    {"a.txt", "// ATR 3B00\n00A4040000\n/EXPECT 9000\n00B0000002\n/EXPECT 11229000\n"},
    {"b.txt", "// ATR 3B01\n00A4040000\n/EXPECT 9000\n00B0000004\n/EXPECT 112233449000\n"},
    {"p.txt", "00A4040000\n00B0000002\n00B0000002\n"},
};

struct PairRow {
    const char *name;
    std::vector<std::string> words;
    const char *out; /* a piece of standard output; "" none */
};

const std::vector<PairRow> pair_rows = {
    {"side by side", {"--all", "--junit", "r.xml", "p.txt"}, ""},
    {"the card line",
     {"--each-card", "--junit", "r.xml", "p.txt"},
     "Cards: 0 passed, 2 failed\r\n"},
};

} // namespace

/* Each replay reader's failure is its own, told to its own reader's lines
   and suite, while both exchange at once. */
TEST(CoreRecord, ReplayReadersKeepTheirOwnState) {
    CoreDir dir;
    ASSERT_TRUE(dir.enter());
    for (const auto &file : pair_files)
        core_file_write(file.first, file.second);
    for (const PairRow &row : pair_rows) {
        SCOPED_TRACE(row.name);
        core_start();
        fake_service_stop(); /* the replay readers need no service */
        FILE *out = tmpfile(), *err = tmpfile();
        std::vector<std::string> words = {"--replay", "a.txt", "--replay", "b.txt"};
        words.insert(words.end(), row.words.begin(), row.words.end());
        EXPECT_EQ(core_runner(words, out, err), 1);
        std::string errors = core_stream_text(err), xml = core_file_text("r.xml");
        for (const char *line : {"[0] p.txt line 3: 0x80100016 SCARD_E_NOT_TRANSACTED\n",
                                 "[0] replay a.txt: no more recorded exchanges\n",
                                 "[1] p.txt line 2: 0x80100016 SCARD_E_NOT_TRANSACTED\n",
                                 "[1] replay b.txt line 4: expected 00B0000004, sent 00B0000002\n"})
            EXPECT_EQ(core_count(errors, line), 1) << line << errors;
        EXPECT_EQ(core_count(errors, "replay"), 2) << errors;
        /* each in its own suite's error, as its message and its text */
        EXPECT_EQ(core_count(xml, "(replay a.txt: no more recorded exchanges)"), 2) << xml;
        EXPECT_EQ(core_count(xml, "(replay b.txt line 4: expected 00B0000004, sent 00B0000002)"), 2)
            << xml;
        EXPECT_EQ(core_count(core_stream_text(out), row.out), *row.out ? 1 : 0);
        fclose(out);
        fclose(err);
        fake_service_start();
    }
}
