/*
 * core_line_test.cpp: vorlane-run with several readers against the fake
 * PC/SC, where readers and the service can come and go at will: the card
 * line over cards put in and taken out, readers that appear or vanish
 * mid-run, the service stopped and started again, more readers than the
 * runner drives, an interrupt, no reader at all, the reader list. Each
 * row is a command line and the steps a user (or a lab's robot) takes
 * while it runs.
 */
#include "tests/host/core_harness.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

enum StepKind {
    ADD_READER,    /* a reader named "Fake Reader <n>" appears (n: its index) */
    DROP_READER,   /* reader n vanishes */
    INSERT,        /* a card goes into reader n */
    PULL,          /* the card of reader n goes */
    SLOW,          /* reader n's card answers after 400 ms */
    STOP_SERVICE,  /* the service stops ... */
    START_SERVICE, /* ... and starts again */
    WAIT_OUT,      /* standard output holds text n times (at most 10 s) */
    SOON_OUT,      /* ... within 1 s */
    INTERRUPT,     /* Ctrl-C */
};

struct Step {
    StepKind kind;
    int n;
    const char *text;
};

struct Count {
    const char *text;
    int times;
};

struct LineRow {
    const char *name;
    int readers; /* readers there at the start, each with a card */
    std::vector<std::string> words;
    std::vector<Step> steps;
    int status;
    std::vector<Count> out;    /* pieces of standard output and how often */
    const char *err;           /* a piece of standard error, "" for none */
    std::vector<Count> report; /* pieces of r.xml and how often */
};

const char ready[] = "Velmo:> Card is ready\r\n";

// clang-format off
const std::vector<LineRow> line_rows = {
    // The line takes cards as they come, on both readers, K over all of them.
    {"three cards on two readers", 2, {"--each-card=3", "--junit", "r.xml", "ok.txt"},
     {{WAIT_OUT, 2, ready}, {PULL, 0, ""}, {INSERT, 0, ""}, {WAIT_OUT, 3, ready}},
     0, {{"[0] Velmo", 2}, {"[1] Velmo", 1}, {"Cards: 3 passed, 0 failed\r\n", 1}}, "",
     {{"<testsuite name=\"card ", 3}, {"<property name=\"card\" value=\"3\"/>", 1},
      {" on Fake Reader 0: ok.txt\" tests=", 2}}},
    // A reader plugged in mid-line joins it with the next number.
    {"a reader that appears", 1, {"--each-card=2", "ok.txt"},
     {{WAIT_OUT, 1, ready}, {ADD_READER, 1, ""}, {INSERT, 1, ""}, {WAIT_OUT, 2, ready}},
     0, {{"[1] Velmo", 1}, {"Cards: 2 passed, 0 failed", 1}}, "", {}},
    // A reader pulled out fails its card in progress; the other goes on.
    {"a reader that vanishes", 2, {"--each-card=3", "--junit", "r.xml", "two.txt"},
     {{WAIT_OUT, 2, ready}, {PULL, 0, ""}, {SLOW, 0, ""}, {DROP_READER, 0, ""}},
     1, {{"Cards: 2 passed, 1 failed", 1}}, "two.txt line 2: 0x",
     {{"errors=\"1\"", 1}}},
    // The service stops and comes back: the line makes new contexts and goes on.
    {"the service restarts", 1, {"--each-card=2", "ok.txt"},
     {{WAIT_OUT, 1, ready}, {PULL, 0, ""}, {STOP_SERVICE, 0, ""}, {START_SERVICE, 0, ""},
      {INSERT, 0, ""}, {WAIT_OUT, 2, ready}},
     0, {{"Cards: 2 passed, 0 failed", 1}}, "", {}},
    // An interrupt ends the line after the cards in progress, with the report.
    {"an interrupt", 1, {"--each-card", "--junit", "r.xml", "ok.txt"},
     {{WAIT_OUT, 1, ready}, {INTERRUPT, 0, ""}},
     0, {{"Cards: 1 passed, 0 failed", 1}}, "", {{"<testsuite ", 1}}},
    // ... also while the card's output is still being batched: all of it comes.
    {"an interrupt mid-batch", 1, {"--each-card", "many.txt"},
     {{WAIT_OUT, 1, "[0] Received\r\n"}, {INTERRUPT, 0, ""}},
     0, {{"[0] Received\r\n[0] 9000\r\n", 2000}, {ready, 1}, {"Cards: 1 passed, 0 failed", 1}},
     "", {}},
    // What a reader printed is written while its card works on (here: a pause).
    {"output during a pause", 1, {"--each-card", "pause.txt"},
     {{SOON_OUT, 1, "[0] Waiting 3000 ms\r\n"}, {INTERRUPT, 0, ""}},
     0, {{"Cards: 1 passed, 0 failed", 1}}, "", {}},
    // A log on a full disk fails the run; standard output still gets all.
    {"a log on a full disk", 1, {"--output-dir", "full", "ok.txt"}, {},
     1, {{"Received\r\n9000\r\n", 1}, {ready, 1}}, "cannot write the log of reader 0", {}},
    // A log that cannot be made fails the run, whose reader then never starts.
    {"a log that cannot be made", 1, {"--output-dir", "nodir", "ok.txt"}, {},
     1, {{ready, 0}}, "vorlane-run: cannot write nodir/reader-0.log\n", {}},
    // More readers than the runner drives: the first 16 run, the rest are named.
    {"seventeen readers", 17, {"--all", "ok.txt"}, {},
     0, {{"] Velmo", 16}, {"[16]", 0}}, "more than 16 readers; left out: Fake Reader 16", {}},
    // No reader at all: the plain run and the list say so.
    {"no reader", 0, {"ok.txt"}, {}, 1, {}, "vorlane-run: no reader\n", {}},
    {"no reader to list", 0, {"--list"}, {}, 1, {}, "vorlane-run: no reader\n", {}},
    // The list numbers the readers as -r takes them, and runs nothing.
    {"the reader list", 2, {"--list"}, {}, 0,
     {{"0: Fake Reader 0\r\n1: Fake Reader 1\r\n", 1}, {"Velmo", 0}}, "", {}},
    // Several -r words, one of them a fragment; an ignored reader stays out.
    {"fragments and ignores", 3, {"-r", "0", "-r", "reader 2", "--ignore", "READER 1", "ok.txt"},
     {}, 0, {{"[0] Velmo", 1}, {"[1] Velmo", 1}, {"[2]", 0}}, "", {}},
};
// clang-format on

std::string reader_name(int n) {
    return "Fake Reader " + std::to_string(n);
}

/* Waits until standard output (written unbuffered to path) holds text
   `times` times. */
void wait_out(const std::string &path, const char *text, int times, int tries = 1000) {
    for (int i = 0; i < tries; i++) {
        if (core_count(core_file_text(path), text) >= times)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "never saw " << times << " x " << text;
}

void step_take(const Step &step, const std::string &out) {
    switch (step.kind) {
        case ADD_READER: EXPECT_EQ(fake_reader_add(reader_name(step.n).c_str()), step.n); break;
        case DROP_READER: fake_reader_remove(step.n); break;
        case INSERT: fake_card_insert(step.n, core_atr); break;
        case PULL: /* long enough for a reader's wait to see it */
            fake_card_remove(step.n);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            break;
        case SLOW: {
            FakeAnswer slow = fake_pattern(0);
            slow.delay_ms = 400;
            fake_answer_default(step.n, slow);
            fake_card_insert(step.n, core_atr);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            break;
        }
        case STOP_SERVICE:
            fake_service_stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            break;
        case START_SERVICE: fake_service_start(); break;
        case WAIT_OUT: wait_out(out, step.text, step.n); break;
        case SOON_OUT: wait_out(out, step.text, step.n, 100); break;
        case INTERRUPT: raise(SIGINT); break;
    }
}

} // namespace

TEST(CoreLine, ReadersAndCardsComeAndGo) {
    CoreDir dir;
    ASSERT_TRUE(dir.enter());
    core_file_write("ok.txt", "00A4040000\n/EXPECT 9000\n");
    core_file_write("two.txt", "00A4040000\n00A4040000\n");
    core_file_write("pause.txt", "00A4040000\n/W 3000\n");
    core_file_write("many.txt", "/REPEAT 2000\n00A4040000\n/END\n");
    ASSERT_EQ(system("mkdir full && ln -s /dev/full full/reader-0.log"), 0);
    for (const LineRow &row : line_rows) {
        SCOPED_TRACE(row.name);
        fake_pcsc_reset();
        for (int i = 0; i < row.readers; i++)
            fake_card_insert(fake_reader_add(reader_name(i).c_str()), core_atr);
        FILE *out = fopen("out.txt", "wb"), *err = tmpfile();
        ASSERT_TRUE(out && err);
        setvbuf(out, NULL, _IONBF, 0);
        int status = -1;
        std::thread run([&] { status = core_runner(row.words, out, err); });
        for (const Step &step : row.steps)
            step_take(step, dir / "out.txt");
        run.join();
        EXPECT_EQ(status, row.status);
        std::string text = core_file_text("out.txt");
        for (const Count &piece : row.out)
            EXPECT_EQ(core_count(text, piece.text), piece.times) << piece.text << "\n" << text;
        std::string errors = core_stream_text(err);
        EXPECT_TRUE(*row.err ? errors.find(row.err) != std::string::npos : errors.empty())
            << errors;
        std::string report = core_file_text("r.xml");
        for (const Count &piece : row.report)
            EXPECT_EQ(core_count(report, piece.text), piece.times) << piece.text << "\n" << report;
        remove("r.xml");
        fclose(out);
        fclose(err);
    }
    signal(SIGINT, SIG_DFL);
}

/* Long answers fill the writer's halves faster than it writes them out
   (into a pipe read slowly here): the reader hands each full half over
   and goes on in the other, and waits when both are full. Every answer
   (a byte of its own, 60,000 times) still comes out whole and in order. */
TEST(CoreLine, LongTracesWholeAndInOrder) {
    const int answers = 40;
    const auto byte = [](int i) { return (uint8_t)(i % 16 * 0x11); }; /* 00 11 .. FF 00 */
    fake_pcsc_reset();
    int reader = fake_reader_add(reader_name(0).c_str());
    fake_card_insert(reader, core_atr);
    for (int i = 0; i < answers; i++) {
        FakeAnswer answer;
        answer.bytes.assign(60000, byte(i));
        answer.bytes.insert(answer.bytes.end(), {0x90, 0x00});
        fake_answer_push(reader, answer);
    }
    CoreDir dir;
    core_file_write(dir / "long.txt", "/REPEAT 40\n00B0000000EA60\n/END\n");
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    std::string text;
    std::thread slow_reader([&] {
        char chunk[65536];
        for (ssize_t n; (n = read(pipe_ends[0], chunk, sizeof chunk)) > 0;
             std::this_thread::sleep_for(std::chrono::milliseconds(2)))
            text.append(chunk, (size_t)n);
    });
    FILE *out = fdopen(pipe_ends[1], "wb"), *err = tmpfile();
    EXPECT_EQ(core_runner({(dir / "long.txt")}, out, err), 0);
    fclose(out);
    fclose(err);
    slow_reader.join();
    close(pipe_ends[0]);
    size_t at = 0;
    for (int i = 0; i < answers && at != std::string::npos; i++) {
        std::string line = std::string(64, "0123456789ABCDEF"[byte(i) & 15]) + "\r\n", block;
        for (int k = 0; k < 60000 / 32; k++)
            block += line;
        at = text.find("Received\r\n" + block + "9000\r\n", at);
        EXPECT_NE(at, std::string::npos) << "answer " << i;
    }
}
