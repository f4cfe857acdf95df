/*
 * run_args.h: the command line of vorlane-run, the script runner:
 *   vorlane-run [-r READER] [-w SECONDS] [-c] [--junit FILE] SCRIPT...
 * Options come first; the first other word (or the word after "--") starts
 * the scripts. The script "-" is standard input. No Win32 here, so the rules are tested natively.
 */
#ifndef VORLANE_RUN_ARGS_H
#define VORLANE_RUN_ARGS_H

enum {
    RUN_WAIT_MAX_SECONDS = 86400, /* -w accepts up to one day */
};

/* The one-line usage message, printed to standard error */
extern const char run_usage[];

/* What the command line asks for. Strings point into argv. */
struct RunArgs {
    const char *reader; /* -r: a reader's name or its index in the list; 0: the first with a card */
    int wait_seconds;   /* -w: how long to wait for a card; 0: fail at once */
    int console;        /* -c: the Console's exchange lines too */
    const char *junit;  /* --junit: the report file to write, or 0 */
    int first_script;   /* argv index of the first script */
    int script_count;   /* scripts to run, at least 1 */
};

/* Exports from run/run_args.cpp */
/* 1 when the command line is sound, 0 for a usage error. */
int run_args_parse(int argc, const char *const *argv, RunArgs *args);
/* The index text names: 1 and *index when text is a decimal index. */
int run_reader_index(const char *text, int *index);

#endif
