/*
 * run_args.h: the command line of vorlane-run, the script runner (run_usage
 * shows it whole). Options come first; the first other word (or the word
 * after "--") starts the scripts. The script "-" is standard input.
 * "--cap-info" ends the options too: every word after it is a CAP file. No
 * Win32 here, so the rules are tested natively.
 */
#ifndef VORLANE_RUN_ARGS_H
#define VORLANE_RUN_ARGS_H

enum {
    RUN_WAIT_MAX_SECONDS = 86400, /* -w accepts up to one day */
    RUN_WORDS_MAX = 64,           /* -r and --ignore words, each */
    RUN_CARDS_MAX = 1 << 30,      /* --each-card=COUNT at most */
};

/* The one-line usage message, printed to standard error */
extern const char run_usage[];

/* What the command line asks for. Strings point into argv. */
struct RunArgs {
    const char *readers[RUN_WORDS_MAX]; /* -r: a reader's name, its index or a fragment */
    int reader_count;                   /* 0: the first reader holding a card */
    const char *ignores[RUN_WORDS_MAX]; /* --ignore: readers whose name holds one are left out */
    int ignore_count;
    int all;                /* --all: every reader */
    int each_card;          /* --each-card: every card put into the chosen readers */
    int card_limit;         /* its COUNT: cards over all readers; 0: no limit */
    const char *output_dir; /* --output-dir: each reader's output also to DIR/reader-N.log */
    int wait_seconds;       /* -w: how long to wait for a card; 0: fail at once */
    int console;            /* -c: the Console's exchange lines too */
    int explain;            /* -x, --explain: traces and failed checks explained */
    int list;               /* --list: print the readers instead of running scripts */
    int atr;                /* --atr: explain an ATR instead of running scripts */
    const char *atr_hex;    /* --atr=HEX: that ATR; 0: each chosen reader's card's */
    const char *junit;      /* --junit: the report file to write, or 0 */
    const char *sets[RUN_WORDS_MAX]; /* --set NAME=HEX: values every card starts with */
    int set_count;
    const char *data;   /* --data: one row of values per card, or 0 */
    const char *record; /* --record: each card's exchanges written to this script, or 0 */
    const char *replays[RUN_WORDS_MAX]; /* --replay: a replay reader for each recording */
    int replay_count;
    int cap_info;     /* --cap-info: describe CAP files (the words after it) instead */
    int first_script; /* argv index of the first script, or with --cap-info the first file */
    int script_count; /* scripts to run, at least 1 (none with --atr or --list); or files */
};

/* Exports from run/run_args.cpp */
/* 1 when the command line is sound, 0 for a usage error. */
int run_args_parse(int argc, const char *const *argv, RunArgs *args);
/* The index text names: 1 and *index when text is a decimal index. */
int run_reader_index(const char *text, int *index);

#endif
