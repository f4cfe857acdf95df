/*
 * run_args.cpp: reading vorlane-run's command line. Every word is checked
 * before anything runs: a missing value, an unknown option, a wait that is
 * not a whole number of seconds or no script at all is a usage error.
 */
#include "run/run_args.h"

#include <string.h>

#include "app/text_form.h"

const char run_usage[] =
    "usage: vorlane-run [-r READER] [-w SECONDS] [-c] [--junit FILE] SCRIPT...";

/* Decimal digits only (no sign, nothing after them), at most max: 1, and
   the number in *value, when they fit. max is below INT_MAX, so a capped
   value fails. */
static int run_parse_count(const char *text, int max, int *value) {
    int number = 0;

    if (!text || *text < '0' || *text > '9')
        return 0;
    const char *end = decimal_scan(text, &number);
    if (*end || number > max)
        return 0;
    *value = number;
    return 1;
}

int run_reader_index(const char *text, int *index) {
    return run_parse_count(text, 1 << 30, index);
}

/* Reads one option at argv[*at] (and its value); 0 for a usage error. */
static int run_parse_option(int argc, const char *const *argv, int *at, RunArgs *args) {
    const char *word = argv[*at];

    if (strcmp(word, "-c") == 0) {
        args->console = 1;
        return 1;
    }
    if (strcmp(word, "-r") != 0 && strcmp(word, "-w") != 0 && strcmp(word, "--junit") != 0)
        return 0;
    if (*at + 1 >= argc || !argv[*at + 1])
        return 0;
    const char *value = argv[++*at];
    if (word[1] == '-') {
        args->junit = value;
        return *value != 0;
    }
    if (word[1] == 'r') {
        args->reader = value;
        return *value != 0;
    }
    return run_parse_count(value, RUN_WAIT_MAX_SECONDS, &args->wait_seconds);
}

int run_args_parse(int argc, const char *const *argv, RunArgs *args) {
    int at = 1;

    memset(args, 0, sizeof *args);
    /* "-" alone is a script: standard input */
    while (at < argc && argv[at] && argv[at][0] == '-' && argv[at][1] != 0) {
        if (strcmp(argv[at], "--") == 0) {
            at++;
            break;
        }
        if (!run_parse_option(argc, argv, &at, args))
            return 0;
        at++;
    }
    for (int i = at; i < argc; i++) {
        if (!argv[i] || !argv[i][0])
            return 0;
    }
    args->first_script = at;
    args->script_count = argc - at;
    return args->script_count > 0;
}
