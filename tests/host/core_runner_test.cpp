/*
 * core_runner_test.cpp: vorlane-run through run_main against the fake
 * PC/SC: how it finds its reader and card (by name, by index, the first
 * holding a card, waiting for one), a service that is not there, an
 * exchange the platform fails, a script from standard input and the
 * Console's lines. Each row says which reader's card received the
 * commands.
 */
#include "tests/host/core_harness.h"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "run/run_main.h"

namespace {

enum RunnerSetup {
    SETUP_CARD_IN_0,     /* the card in reader 0 */
    SETUP_CARD_IN_1,     /* reader 0 empty, the card in reader 1 */
    SETUP_NO_CARD,       /* two empty readers */
    SETUP_NO_READER,     /* no reader at all */
    SETUP_NO_SERVICE,    /* the service is stopped */
    SETUP_INSERT_LATER,  /* the card goes into reader 0 after 300 ms */
    SETUP_REMOVED_ANSWER /* the first exchange finds the card gone */
};

struct RunnerRow {
    const char *name;
    RunnerSetup setup;
    std::vector<std::string> words; /* after the program's name */
    int status;
    std::vector<std::string> out; /* pieces of standard output; none: empty */
    std::string err;              /* standard error, whole */
    size_t sent[2];               /* commands each reader's card received */
    DWORD protocol = SCARD_PROTOCOL_T1;
};

const char ok_script[] = "00A4040000\n/EXPECT 9000\n";
const char ok_out[] = "Sending\r\n00A4040000\r\nReceived\r\n9000\r\nChecks: 1 passed, 0 failed\r\n"
                      "\r\n\r\nEnd of script\r\n";

// clang-format off
const std::vector<RunnerRow> runner_rows = {
    {"by name", SETUP_CARD_IN_0, {"-r", "Fake Reader 0", "ok.txt"}, 0, {ok_out}, "", {1, 0}},
    {"by index", SETUP_CARD_IN_1, {"-r", "1", "ok.txt"}, 0, {ok_out}, "", {0, 1}},
    {"the first holding a card", SETUP_CARD_IN_1, {"ok.txt", "ok.txt"}, 0, {ok_out}, "", {0, 2}},
    {"a T=0 card", SETUP_CARD_IN_0, {"ok.txt"}, 0, {ok_out}, "", {1, 0}, SCARD_PROTOCOL_T0},
    {"no card in the named reader", SETUP_NO_CARD, {"-r", "Fake Reader 1", "ok.txt"}, 1, {},
     "vorlane-run: no card in reader Fake Reader 1\n", {0, 0}},
    {"no such reader", SETUP_CARD_IN_0, {"-r", "2", "ok.txt"}, 1, {}, "vorlane-run: no reader 2\n",
     {0, 0}},
    {"no card anywhere", SETUP_NO_CARD, {"ok.txt"}, 1, {}, "vorlane-run: no card in any reader\n",
     {0, 0}},
    {"no reader", SETUP_NO_READER, {"ok.txt"}, 1, {}, "vorlane-run: no reader\n", {0, 0}},
    {"no service", SETUP_NO_SERVICE, {"ok.txt"}, 1, {},
     "vorlane-run: no PC/SC service (error 8010001D)\n", {0, 0}},
    {"a card put in while waiting", SETUP_INSERT_LATER, {"-w", "20", "ok.txt"}, 0, {ok_out}, "",
     {1, 0}},
    {"the card gone", SETUP_REMOVED_ANSWER, {"ok.txt"}, 1,
     {"Sending\r\n00A4040000\r\n\r\nReader is busy, try later...\r\n\r\n\r\nEnd of script\r\n"},
     "ok.txt line 1: 0x80100069 SCARD_W_REMOVED_CARD\n", {1, 0}},
    {"standard input", SETUP_CARD_IN_0, {"-"}, 0, {"\r\nLoading script - ...\r\n", ok_out}, "",
     {1, 0}},
    {"Console lines", SETUP_CARD_IN_0, {"-c", "ok.txt"}, 0,
     {"\r\nLoading script ok.txt ...\r\nSending\r\n00A4040000\r\n\r\nScript: ok.txt\r\n\r\n"
      "001: 00A4040000 9000 "}, "",
     {1, 0}},
};
// clang-format on

/* Two readers, the card where the row wants it; returns the thread that
   puts it in later, if any. */
std::thread runner_setup(const RunnerRow &row) {
    app_state_init();
    app_locks_create();
    fake_pcsc_reset();
    if (row.setup == SETUP_NO_READER)
        return std::thread();
    int first = fake_reader_add(core_reader_name);
    int second = fake_reader_add("Fake Reader 1");
    if (row.setup == SETUP_CARD_IN_0 || row.setup == SETUP_REMOVED_ANSWER)
        fake_card_insert(first, core_atr, row.protocol);
    if (row.setup == SETUP_CARD_IN_1)
        fake_card_insert(second, core_atr, row.protocol);
    if (row.setup == SETUP_NO_SERVICE)
        fake_service_stop();
    if (row.setup == SETUP_REMOVED_ANSWER) {
        FakeAnswer gone;
        gone.status = SCARD_W_REMOVED_CARD;
        fake_answer_push(first, gone);
    }
    if (row.setup != SETUP_INSERT_LATER)
        return std::thread();
    return std::thread([first] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        fake_card_insert(first, core_atr);
    });
}

size_t runner_sent(const RunnerRow &row, int reader) {
    return row.setup == SETUP_NO_READER ? 0 : fake_commands(reader).size();
}

} // namespace

TEST(CoreRunner, Readers) {
    CoreDir dir;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    core_file_write("ok.txt", ok_script);
    for (const RunnerRow &row : runner_rows) {
        SCOPED_TRACE(row.name);
        std::thread later = runner_setup(row);
        std::vector<std::string> words = {"vorlane-run"};
        words.insert(words.end(), row.words.begin(), row.words.end());
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(&word[0]);
        FILE *in = tmpfile(), *out = tmpfile(), *err = tmpfile();
        fputs(ok_script, in);
        rewind(in);
        auto begin = std::chrono::steady_clock::now();

        int status = run_main((int)argv.size(), argv.data(), in, out, err);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - begin)
                      .count();
        if (later.joinable()) {
            later.join();
            EXPECT_GE(ms, 300) << "did not wait for the card";
        }
        EXPECT_EQ(status, row.status);
        std::string text = core_stream_text(out);
        if (row.out.empty())
            EXPECT_EQ(text, "");
        for (const std::string &piece : row.out)
            EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
        EXPECT_EQ(core_stream_text(err), row.err);
        EXPECT_EQ(runner_sent(row, 0), row.sent[0]);
        EXPECT_EQ(runner_sent(row, 1), row.sent[1]);
        fclose(in);
        fclose(out);
        fclose(err);
    }
    EXPECT_EQ(chdir(here), 0);
}
