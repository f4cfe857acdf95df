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
#include <string>
#include <vector>

#include "bench/host/host_bench.h"
#include "card/replay_provider.h"
#include "run/run.h"
#include "tests/fake/pcsc_fake.h"

namespace {

std::vector<std::vector<unsigned char>> commands;

void fake_ready(void) {
    fake_pcsc_reset();
    int reader = fake_reader_add("Bench Reader");
    fake_card_insert(reader, {0x3B, 0x00});
    fake_answer_default(reader, fake_pattern(16));
}

/* A: every command through the fake's transmit. */
double raw_fake(void) {
    fake_ready();
    return bench_transmit_all(&pcsc_platform, "Bench Reader", commands);
}

/* B: the same through a replay reader of the recording. */
double raw_replay(const std::string &recording) {
    static ReplayProvider replay; /* large: off the stack */
    std::string name = "Replay: " + recording;
    const char *files[1] = {recording.c_str()};
    char refusal[REPLAY_REFUSAL_SIZE];

    if (!replay_provider_open(&replay, files, 1, refusal, sizeof refusal))
        exit(1);
    double ms = bench_transmit_all(&replay.pcsc, name.c_str(), commands);
    replay_provider_close(&replay);
    return ms;
}

double timed_run(const std::vector<std::string> &words) {
    fake_ready();
    BenchClock::time_point start = BenchClock::now();
    if (bench_run_words(words) != 0)
        exit(1);
    return bench_ms_since(start);
}

void report(const char *what, const std::vector<double> &ratios) {
    printf("%s: median %.3f (spread %.3f to %.3f)\n", what, bench_median(ratios),
           *std::min_element(ratios.begin(), ratios.end()),
           *std::max_element(ratios.begin(), ratios.end()));
}

} // namespace

int main(int argc, char **argv) {
    int lines = 5000, rounds = 11;
    char dir[] = "/tmp/vorlane-replay-bench-XXXXXX";
    std::string script = bench_script_make(argc, argv, &lines, &rounds, dir);
    std::string recording = std::string(dir) + "/rec.txt";
    for (int i = 0; i < lines; i++) {
        if (i % 2)
            commands.push_back({0x00, 0xB0, 0x00, 0x00, 0x10});
        else
            commands.push_back({0x80, 0xF0, 0x00, 0x04});
    }
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
    printf("A raw loop over the fake PC/SC:   %8.2f ms\n", bench_median(a));
    printf("B raw loop over a replay reader:  %8.2f ms\n", bench_median(b));
    printf("C vorlane-run --replay (traced):  %8.2f ms\n", bench_median(c));
    printf("D vorlane-run on the fake PC/SC:  %8.2f ms\n", bench_median(d));
    report("ratio C / A", replayed_ratio);
    report("ratio B / A", raw_ratio);
    report("ratio C / D", run_ratio);
    return system(("rm -rf " + std::string(dir)).c_str()) == 0 ? 0 : 1;
}
