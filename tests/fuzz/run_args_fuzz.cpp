/*
 * run_args_fuzz.cpp: any command line (words split at NUL bytes) read by
 * vorlane-run's parser stays inside argv and keeps the parser's promises: an
 * accepted line names at least one script, every script word is non-empty,
 * the wait lies within its bounds and the reader is one of the words.
 */
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "run/run_args.h"

static void fuzz_check(bool ok) {
    if (!ok)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> words(1, "vorlane-run");
    std::string word;
    for (size_t i = 0; i < size && words.size() < 32; i++) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += (char)data[i];
        }
    }
    if (!word.empty() || size == 0)
        words.push_back(word);
    std::vector<const char *> argv;
    for (const std::string &w : words)
        argv.push_back(w.c_str());

    RunArgs args;
    int argc = (int)argv.size();
    if (!run_args_parse(argc, argv.data(), &args))
        return 0;
    fuzz_check(args.script_count >= 1 && args.first_script >= 1);
    fuzz_check(args.first_script + args.script_count == argc);
    fuzz_check(args.wait_seconds >= 0 && args.wait_seconds <= RUN_WAIT_MAX_SECONDS);
    fuzz_check(args.console == 0 || args.console == 1);
    for (int i = args.first_script; i < argc; i++)
        fuzz_check(argv[(size_t)i][0] != 0);
    if (args.reader) {
        bool found = false;
        for (int i = 1; i < args.first_script; i++)
            found |= args.reader == argv[(size_t)i];
        fuzz_check(found && args.reader[0] != 0);
    }
    return 0;
}
