/*
 * host_bench.h: what the host benchmarks of the runner share: a scratch
 * folder with a script of short APDUs, vorlane-run called in this process
 * against the fake PC/SC, a timed loop over a provider's transmit, and the
 * median of a series.
 */
#ifndef VORLANE_BENCH_HOST_BENCH_H
#define VORLANE_BENCH_HOST_BENCH_H

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "card/pcsc.h"
#include "run/run_main.h"

typedef std::chrono::steady_clock BenchClock;

inline double bench_ms_since(BenchClock::time_point start) {
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

inline double bench_median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

/* The scripts' two APDUs by turns, 80 F0 00 04 first (a 4-byte answer from
   the test cards) and 00 B0 00 00 10: line i of a script. */
inline const char *bench_line(int i) {
    return i % 2 ? "00B0000010\n" : "80F00004\n";
}

/* [LINES] [ROUNDS] from the command line over the defaults in *lines and
   *rounds, and a folder made from dir (a mkdtemp pattern, rewritten)
   holding bench.txt with that many APDU lines: the script's path. A count
   below 1, or a folder or script that cannot be made, ends the process
   with status 2. */
inline std::string bench_script_make(int argc, char **argv, int *lines, int *rounds, char *dir) {
    *lines = argc > 1 ? atoi(argv[1]) : *lines;
    *rounds = argc > 2 ? atoi(argv[2]) : *rounds;
    if (*lines < 1 || *rounds < 1 || !mkdtemp(dir))
        exit(2);
    std::string script = std::string(dir) + "/bench.txt";
    FILE *file = fopen(script.c_str(), "wb");
    for (int i = 0; i < *lines && file; i++)
        fputs(bench_line(i), file);
    if (!file || fclose(file) != 0)
        exit(2);
    return script;
}

/* vorlane-run with words (the program's name first) in this process, its
   standard output to /dev/null; its exit status. */
inline int bench_run_words(std::vector<std::string> words) {
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    FILE *out = fopen("/dev/null", "wb");
    int status = run_main((int)argv.size(), argv.data(), stdin, out, stderr);
    fclose(out);
    return status;
}

/* Milliseconds for every command once through calls, on one connection to
   reader made before the clock starts; the process ends at a failed
   exchange. */
inline double bench_transmit_all(const PcscProvider *calls, const char *reader,
                                 const std::vector<std::vector<unsigned char>> &commands) {
    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    unsigned char response[512];

    calls->establish(calls->self, SCARD_SCOPE_SYSTEM, &context);
    calls->connect(calls->self, context, reader, SCARD_PROTOCOL_T1, &handle, &protocol);
    BenchClock::time_point start = BenchClock::now();
    for (const auto &command : commands) {
        DWORD length = sizeof response;
        if (calls->transmit(calls->self, handle, protocol, command.data(), (DWORD)command.size(),
                            response, &length) != SCARD_S_SUCCESS)
            exit(1);
    }
    return bench_ms_since(start);
}

#endif
