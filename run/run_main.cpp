/*
 * run_main.cpp: the entry of vorlane-run, the command-line script
 * runner. It runs script files with the Script dialog's interpreter, one
 * after the other on one card connection, on its own thread and without a
 * window: what the reader pane would show goes to standard output (with -c
 * the Console's exchange lines too), messages and usage to standard error.
 *
 * Exit status: 0 when every script was found and ran to its end; 1 when a
 * script was not found, no card was there or an exchange failed; 2 for a
 * usage error.
 */
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "run/run.h"
#include "script/script_run.h"

enum { RUN_OK = 0, RUN_FAILED = 1, RUN_USAGE = 2 };

/* Runs one script; 1 when it was found and every exchange reached the card. */
static int run_one_script(const char *path) {
    /* The interpreter keeps at most 1023 characters of a path: a longer one
       would open another file than the one named. */
    if (strlen(path) >= SCRIPT_FILE_NAME_SIZE) {
        fprintf(stderr, "vorlane-run: script name too long: %.40s...\n", path);
        return 0;
    }
    int result = script_run(path);

    fflush(stdout);
    if (result == SCRIPT_RUN_NO_FILE)
        fprintf(stderr, "vorlane-run: cannot open %s\n", path);
    else if (result == SCRIPT_RUN_FAILED)
        fprintf(stderr, "vorlane-run: an exchange failed in %s\n", path);
    return result == SCRIPT_RUN_DONE;
}

/* The panes' text goes out byte for byte: their lines already end in CR LF. */
static void run_streams_open(int console) {
    platform_stream_binary(stdout);
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[0] = stdout;
    app.pane_stream[1] = console ? stdout : 0;
    platform_lock_leave(&app.pane_stream_lock);
}

static void run_streams_close(void) {
    platform_lock_enter(&app.pane_stream_lock);
    app.pane_stream[0] = 0;
    app.pane_stream[1] = 0;
    platform_lock_leave(&app.pane_stream_lock);
    fflush(stdout);
}

int main(int argc, char **argv) {
    RunArgs args;

    if (!run_args_parse(argc, (const char *const *)argv, &args)) {
        fprintf(stderr, "%s\n", run_usage);
        return RUN_USAGE;
    }
    app_state_init();
    app_locks_create();
    run_streams_open(args.console);
    if (!run_card_open(&args)) {
        run_card_close();
        run_streams_close();
        return RUN_FAILED;
    }
    int status = RUN_OK;
    for (int i = 0; i < args.script_count; i++) {
        if (!run_one_script(argv[args.first_script + i]))
            status = RUN_FAILED;
    }
    run_card_close();
    run_streams_close();
    return status;
}
