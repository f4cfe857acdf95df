/*
 * line_bench.cpp: two readers against one, side by side, with readers
 * whose cards answer after 10 ms (the fake PC/SC): the same script run by
 * vorlane-run on reader 0 alone and on readers 0 and 1 at once,
 * interleaved (A B B A ...). Since each reader runs on its own thread, two
 * readers should take hardly longer than one. Prints the median of each,
 * the ratio two / one and its spread.
 *   build/host/bench/host/line_bench [LINES, default 100] [ROUNDS, default 6]
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/host/host_bench.h"
#include "tests/fake/pcsc_fake.h"

static double bench_run(const std::vector<std::string> &words) {
    fake_pcsc_reset();
    FakeAnswer slow = fake_pattern(16);
    slow.delay_ms = 10;
    for (const char *name : {"Bench Reader 0", "Bench Reader 1"}) {
        int reader = fake_reader_add(name);
        fake_card_insert(reader, {0x3B, 0x00});
        fake_answer_default(reader, slow);
    }
    BenchClock::time_point start = BenchClock::now();
    int status = bench_run_words(words);
    double ms = bench_ms_since(start);
    if (status != 0) {
        fprintf(stderr, "line_bench: vorlane-run ended with %d\n", status);
        exit(1);
    }
    return ms;
}

int main(int argc, char **argv) {
    int lines = 100, rounds = 6;
    char dir[] = "/tmp/vorlane-line-bench-XXXXXX";
    std::string script = bench_script_make(argc, argv, &lines, &rounds, dir);
    std::vector<double> one, two, ratios;
    for (int r = 0; r < rounds; r++) {
        double a, b;
        if (r % 2 == 0) {
            a = bench_run({"vorlane-run", "-r", "0", script});
            b = bench_run({"vorlane-run", "-r", "0", "-r", "1", script});
        } else {
            b = bench_run({"vorlane-run", "-r", "0", "-r", "1", script});
            a = bench_run({"vorlane-run", "-r", "0", script});
        }
        one.push_back(a);
        two.push_back(b);
        ratios.push_back(b / a);
    }
    std::sort(ratios.begin(), ratios.end());
    printf("%d APDUs answered after 10 ms, %d rounds\n", lines, rounds);
    printf("one reader:  %.0f ms (median)\n", bench_median(one));
    printf("two readers: %.0f ms (median), %.0f APDUs a second against %.0f\n", bench_median(two),
           2000.0 * lines / bench_median(two), 1000.0 * lines / bench_median(one));
    printf("ratio two / one: median %.3f (spread %.3f to %.3f)\n", bench_median(ratios),
           ratios.front(), ratios.back());
    unlink(script.c_str());
    rmdir(dir);
    return 0;
}
