/*
 * run_args.cpp: reading vorlane-run's command line. Every word is checked
 * before anything runs: a missing value, an unknown option, a wait or a
 * count that is not a whole number, more -r or --ignore words than kept, or
 * no script at all is a usage error.
 */
#include "run/run_args.h"

#include <string.h>

#include "app/text_form.h"

const char run_usage[] =
    "usage: vorlane-run [--list] [-r READER]... [--all] [--ignore FRAGMENT]... "
    "[-w SECONDS] [-c] [-x] [--atr[=HEX]] [--each-card[=COUNT]] "
    "[--output-dir DIR] [--junit FILE] [--set NAME=HEX]... [--data FILE] "
    "[--record FILE] [--replay FILE]... SCRIPT... | --cap-info FILE...";

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

/* Options without a value; 0 when word is none of them. */
static int run_parse_flag(const char *word, RunArgs *args) {
    if (strcmp(word, "-c") == 0)
        args->console = 1;
    else if (strcmp(word, "-x") == 0 || strcmp(word, "--explain") == 0)
        args->explain = 1;
    else if (strcmp(word, "--list") == 0)
        args->list = 1;
    else if (strcmp(word, "--atr") == 0)
        args->atr = 1;
    else if (strncmp(word, "--atr=", 6) == 0)
        return (args->atr = 1, args->atr_hex = word + 6, *args->atr_hex != 0);
    else if (strcmp(word, "--all") == 0)
        args->all = 1;
    else if (strcmp(word, "--each-card") == 0)
        args->each_card = 1;
    else if (strncmp(word, "--each-card=", 12) == 0)
        return (args->each_card = run_parse_count(word + 12, RUN_CARDS_MAX, &args->card_limit)) &&
               args->card_limit > 0;
    else
        return 0;
    return 1;
}

/* Keeps a repeatable option's value; 0 when there is no room left. */
static int run_keep_word(const char **list, int *count, const char *value) {
    if (*count >= RUN_WORDS_MAX || *value == 0)
        return 0;
    list[(*count)++] = value;
    return 1;
}

/* Reads one option at argv[*at] (and its value); 0 for a usage error. */
static int run_parse_option(int argc, const char *const *argv, int *at, RunArgs *args) {
    const char *word = argv[*at];

    if (run_parse_flag(word, args))
        return 1;
    if (word[1] == '-' && strncmp(word, "--each-card=", 12) == 0)
        return 0; /* a COUNT that is no count */
    if (*at + 1 >= argc || !argv[*at + 1])
        return 0;
    const char *value = argv[++*at];
    if (strcmp(word, "-r") == 0)
        return run_keep_word(args->readers, &args->reader_count, value);
    if (strcmp(word, "--ignore") == 0)
        return run_keep_word(args->ignores, &args->ignore_count, value);
    if (strcmp(word, "--set") == 0)
        return run_keep_word(args->sets, &args->set_count, value);
    if (strcmp(word, "--replay") == 0)
        return run_keep_word(args->replays, &args->replay_count, value);
    if (strcmp(word, "-w") == 0)
        return run_parse_count(value, RUN_WAIT_MAX_SECONDS, &args->wait_seconds);
    if (strcmp(word, "--junit") == 0)
        args->junit = value;
    else if (strcmp(word, "--output-dir") == 0)
        args->output_dir = value;
    else if (strcmp(word, "--data") == 0)
        args->data = value;
    else if (strcmp(word, "--record") == 0)
        args->record = value;
    else
        return 0;
    return *value != 0;
}

int run_args_parse(int argc, const char *const *argv, RunArgs *args) {
    int at = 1;

    memset(args, 0, sizeof *args);
    /* "-" alone is a script: standard input */
    while (at < argc && argv[at] && argv[at][0] == '-' && argv[at][1] != 0) {
        args->cap_info = strcmp(argv[at], "--cap-info") == 0;
        if (args->cap_info || strcmp(argv[at], "--") == 0) {
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
    if (args->cap_info) /* files are described, no card is touched */
        return args->script_count > 0 && !args->list && !args->atr && !args->each_card &&
               !args->record && !args->replay_count;
    if (args->list) /* the readers are listed, nothing is run or recorded */
        return args->script_count == 0 && !args->each_card && !args->atr && !args->record;
    if (args->atr) /* the ATR is explained, nothing is run or recorded */
        return args->script_count == 0 && !args->each_card && !args->record;
    return args->script_count > 0;
}
