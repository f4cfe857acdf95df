/*
 * replay_bench.cpp: what a replay reader costs against the fake PC/SC, on
 * LINES short APDUs (default 5,000), interleaved A B C D over ROUNDS:
 *   A  a raw loop of the fake PC/SC provider's transmit,
 *   B  the same loop over a replay reader (the replay provider) answering from
 *      a recording of those exchanges,
 *   C  vorlane-run --replay on that recording (traced, to /dev/null),
 *   D  vorlane-run on the fake PC/SC, the same script.
 * The recording is made first by vorlane-run --record on the fake. Prints
 * the medians and the median ratios C / A (a replayed run against the raw
 * loop), B / A and C / D with their spread. The fake's transmit sleeps its
 * answer's delay, 0 ms here, which still costs a timer's slack (tens of
 * microseconds): A is a card that answers at once, not a free one.
 *   build/host/bench/host/replay_bench [LINES] [ROUNDS]
 */
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "card/replay_provider.h"
#include "run/run.h"
#include "run/run_main.h"
#include "tests/fake/pcsc_fake.h"

namespace {

typedef std::chrono::steady_clock Clock;

std::vector<std::vector<unsigned char>> commands;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void fake_ready(void) {
    fake_pcsc_reset();
    int reader = fake_reader_add("Bench Reader");
    fake_card_insert(reader, {0x3B, 0x00});
    fake_answer_default(reader, fake_pattern(16));
}

int run_words(std::vector<std::string> words) {
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    FILE *out = fopen("/dev/null", "wb");
    int status = run_main((int)argv.size(), argv.data(), stdin, out, stderr);
    fclose(out);
    return status;
}

/* A: every command through the fake's transmit. */
double raw_fake(void) {
    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    unsigned char response[512];

    fake_ready();
    const PcscProvider *pcsc = &pcsc_platform;
    pcsc->establish(pcsc->self, SCARD_SCOPE_SYSTEM, &context);
    pcsc->connect(pcsc->self, context, "Bench Reader", SCARD_PROTOCOL_T1, &handle, &protocol);
    Clock::time_point start = Clock::now();
    for (const auto &command : commands) {
        DWORD length = sizeof response;
        if (pcsc->transmit(pcsc->self, handle, protocol, command.data(), (DWORD)command.size(),
                           response, &length) != SCARD_S_SUCCESS)
            exit(1);
    }
    return ms_since(start);
}

/* B: the same through a replay reader of the recording. */
double raw_replay(const std::string &recording) {
    static ReplayProvider replay; /* large: off the stack */
    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    unsigned char response[512];
    std::string name = "Replay: " + recording;
    const char *files[1] = {recording.c_str()};
    char refusal[REPLAY_REFUSAL_SIZE];

    if (!replay_provider_open(&replay, files, 1, refusal, sizeof refusal))
        exit(1);
    const PcscProvider *calls = &replay.pcsc;
    calls->establish(calls->self, SCARD_SCOPE_SYSTEM, &context);
    calls->connect(calls->self, context, name.c_str(), SCARD_PROTOCOL_T1, &handle, &protocol);
    Clock::time_point start = Clock::now();
    for (const auto &command : commands) {
        DWORD length = sizeof response;
        if (calls->transmit(calls->self, handle, protocol, command.data(), (DWORD)command.size(),
                            response, &length) != SCARD_S_SUCCESS)
            exit(1);
    }
    double ms = ms_since(start);
    replay_provider_close(&replay);
    return ms;
}

double timed_run(const std::vector<std::string> &words) {
    fake_ready();
    Clock::time_point start = Clock::now();
    if (run_words(words) != 0)
        exit(1);
    return ms_since(start);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void report(const char *what, const std::vector<double> &ratios) {
    printf("%s: median %.3f (spread %.3f to %.3f)\n", what, median(ratios),
           *std::min_element(ratios.begin(), ratios.end()),
           *std::max_element(ratios.begin(), ratios.end()));
}

} // namespace

int main(int argc, char **argv) {
    int lines = argc > 1 ? atoi(argv[1]) : 5000;
    int rounds = argc > 2 ? atoi(argv[2]) : 11;
    char dir[] = "/tmp/vorlane-replay-bench-XXXXXX";
    if (lines < 1 || rounds < 1 || !mkdtemp(dir))
        return 2;
    std::string script = std::string(dir) + "/bench.txt", recording = std::string(dir) + "/rec.txt";
    FILE *file = fopen(script.c_str(), "wb");
    for (int i = 0; i < lines && file; i++) {
        fputs(i % 2 ? "00B0000010\n" : "80F00004\n", file);
        if (i % 2)
            commands.push_back({0x00, 0xB0, 0x00, 0x00, 0x10});
        else
            commands.push_back({0x80, 0xF0, 0x00, 0x04});
    }
    if (!file || fclose(file) != 0)
        return 2;
    if (timed_run({"vorlane-run", "--record", recording, script}) < 0)
        return 1;
    std::vector<double> a, b, c, d, replayed_ratio, raw_ratio, run_ratio;
    for (int r = 0; r < rounds; r++) {
        a.push_back(raw_fake());
        b.push_back(raw_replay(recording));
        c.push_back(timed_run({"vorlane-run", "--replay", recording, script}));
        d.push_back(timed_run({"vorlane-run", script}));
        replayed_ratio.push_back(c.back() / a.back());
        raw_ratio.push_back(b.back() / a.back());
        run_ratio.push_back(c.back() / d.back());
    }
    printf("%d APDUs, medians of %d rounds:\n", lines, rounds);
    printf("A raw loop over the fake PC/SC:   %8.2f ms\n", median(a));
    printf("B raw loop over a replay reader:  %8.2f ms\n", median(b));
    printf("C vorlane-run --replay (traced):  %8.2f ms\n", median(c));
    printf("D vorlane-run on the fake PC/SC:  %8.2f ms\n", median(d));
    report("ratio C / A", replayed_ratio);
    report("ratio B / A", raw_ratio);
    report("ratio C / D", run_ratio);
    return system(("rm -rf " + std::string(dir)).c_str()) == 0 ? 0 : 1;
}
