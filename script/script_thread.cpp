/*
 * script_thread.cpp: the script interpreter, one run of one script file on a
 * thread of its own.
 *
 * A run reads the file line by line, carries out the directive lines, sends
 * every APDU line through card_transmit and traces what went out and came
 * back in the reader pane. With "/T=0" it answers 61xx and 6Cxx itself by
 * queueing a follow-up line that runs before the next file line; with
 * "/OPEN" it copies response data into a log file of raw bytes. The run ends
 * at the end of the file or at the first exchange that fails, and closes
 * with the run time and the "Card is ready" prompt, which the reader window
 * relies on to tell the user that a fresh card can be used.
 *
 * Design: every per-run item lives in a ScriptRun on this thread's stack;
 * the only shared state touched is xfer_total_ms and script_name, set under
 * xfer_lock when the run starts (the name as a copy of the run's own path).
 * The thread never takes card_lock itself
 * (card_transmit does, and prints only after leaving it), so printing from
 * here cannot deadlock against the GUI thread. The path is copied at the
 * start, so a Browse in the script dialog while this run goes on changes
 * neither which file is read nor the name the Console shows for it.
 */
#include "script/script_run.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "app/file_written.h"
#include "app/app_state.h"
#include "app/prompt.h"
#include "card/card_transmit.h"
#include "console/pane_print.h"
#include "dialogs/apdu_text.h"
#include "script/script_line.h"

/* Per-run items, owned by the run's thread */
struct ScriptRun {
    FILE *file;                             /* the script, opened "rt" */
    FILE *log;                              /* response data goes here, or 0 */
    int log_failed;                         /* 1 after a failed write: no more logging */
    int pending;                            /* 1 while pending_line waits to be executed */
    int trace;                              /* 1: commands and responses shown in hexadecimal */
    int t0;                                 /* 1: 61xx and 6Cxx followed up automatically */
    int wait_value;                         /* last number read by a wait line, ms; 0 before any */
    int chain;                              /* follow-ups in a row since the last file line */
    int kept_count;                         /* bytes in kept */
    char path[SCRIPT_FILE_NAME_SIZE];       /* the caller's path, copied */
    char line[SCRIPT_LINE_SIZE];            /* the line being executed */
    char pending_line[SCRIPT_PENDING_SIZE]; /* GET RESPONSE or re-send */
    char log_name[SCRIPT_LOG_NAME_SIZE];    /* kept for "/OPEN" without a name */
    unsigned char command[SCRIPT_COMMAND_SIZE]; /* command, then the response */
    unsigned char kept[SCRIPT_COMMAND_SIZE];    /* the command as sent */
    char trace_text[SCRIPT_TRACE_SIZE];         /* "Sending" / "Received" text */
};

/* A new run resets the shared exchange total and names itself for the
   Console's script header; a run going on beside it sees both change. */
static void script_mark_start(const ScriptRun *run) {
    platform_lock_enter(&app.xfer_lock);
    app.xfer_total_ms = 0;
    strcpy(app.script_name, run->path); /* both SCRIPT_FILE_NAME_SIZE */
    platform_lock_leave(&app.xfer_lock);
}

static void script_copy_path(ScriptRun *run, const char *path) {
    size_t length = strnlen(path, sizeof run->path - 1);
    memcpy(run->path, path, length);
    run->path[length] = 0;
}

static void script_do_wait(ScriptRun *run) {
    int value;

    if (script_wait_parse(run->line, &value))
        run->wait_value = value;
    reader_print("Waiting %d ms\r\n", run->wait_value);
    platform_sleep_ms(script_wait_pause_ms(run->wait_value));
}

/* "/OPEN": a log file already open makes the line do nothing. A name too
   long to keep refuses the line, like a file that cannot be opened. After a
   failed write the run logs nothing more: a log with a hole in it would
   look complete. */
static void script_do_open(ScriptRun *run) {
    char name[SCRIPT_LOG_NAME_SIZE];

    if (run->log || run->log_failed)
        return;
    int given = script_open_parse(run->line, name, sizeof name);
    if (given < 0)
        return;
    if (given > 0)
        strcpy(run->log_name, name);
    run->log = fopen(run->log_name, "w+b");
    if (run->log)
        reader_print("Logging data in file %s\n", run->log_name);
}

/* A write or close that fails (a full disk) is told once, like the other
   write errors, and ends the logging of this run; the run goes on. */
static void script_log_failed(ScriptRun *run) {
    reader_print("!!! Error While Writing %s\r\n", run->log_name);
    run->log_failed = 1;
}

static void script_do_close(ScriptRun *run) {
    if (!run->log)
        return;
    int failed = file_close_written(run->log) != 0;
    run->log = 0;
    if (failed && !run->log_failed)
        script_log_failed(run);
}

/* Copies response data into the log; a short write closes it. */
static void script_log_write(ScriptRun *run, const unsigned char *bytes, size_t count) {
    if (fwrite(bytes, 1, count, run->log) == count)
        return;
    script_log_failed(run);
    fclose(run->log);
    run->log = 0;
}

static void script_print_trace(ScriptRun *run, const char *title, const unsigned char *bytes,
                               int count) {
    script_trace_text(run->trace_text, sizeof run->trace_text, title, bytes, count);
    reader_print("%s", run->trace_text);
}

/* Queues the T=0 follow-up of a response, unless the chain is at its limit:
   a card that answers every follow-up with 61xx or 6Cxx must not keep the
   run going for ever. */
static void script_follow_up(ScriptRun *run, int received) {
    if (!script_followup_line(run->pending_line, run->kept, run->kept_count, run->command,
                              received))
        return;
    if (run->chain >= SCRIPT_CHAIN_MAX) {
        reader_print("No further follow-up after %d in a row\r\n", SCRIPT_CHAIN_MAX);
        return;
    }
    run->chain++;
    run->pending = 1;
}

/* Sends one APDU line. Returns 0 when the exchange failed and the run ends. */
static int script_do_apdu(ScriptRun *run) {
    int count = 0;
    int error = 0;

    if (!apdu_text_to_bytes(run->line, run->command, &count))
        return 1;
    if (count < 0 || count > SCRIPT_COMMAND_SIZE - 1)
        return 1;
    if (run->trace)
        script_print_trace(run, "Sending", run->command, count);
    memcpy(run->kept, run->command, (size_t)count);
    run->kept_count = count;
    int received = card_transmit(run->command, count, &error);
    if (received < 0) {
        reader_print("\r\nReader is busy, try later...\r\n");
        return 0;
    }
    if (received > XFER_RESPONSE_MAX)
        received = XFER_RESPONSE_MAX;
    if (run->t0)
        script_follow_up(run, received);
    if (run->log && !run->pending && received >= 2)
        script_log_write(run, run->command, (size_t)received - 2);
    if (run->trace)
        script_print_trace(run, "Received", run->command, received);
    return 1;
}

/* Takes the pending follow-up, else the next file line. Returns 0 at the
   end of the file. */
static int script_next_line(ScriptRun *run) {
    if (run->pending) {
        memcpy(run->line, run->pending_line, sizeof run->pending_line);
        run->pending = 0;
        script_line_chomp(run->line, (int)strlen(run->line));
        return 1;
    }
    int length = script_line_read(run->file, run->line, sizeof run->line);
    if (length < 0)
        return 0;
    run->chain = 0;
    script_line_chomp(run->line, length);
    return 1;
}

/* Executes lines until the end of the file or a failed exchange. Returns 0
   when an exchange failed, 1 when the file was read to its end. */
static int script_run_lines(ScriptRun *run) {
    while (script_next_line(run)) {
        switch (script_line_classify(run->line)) {
            case SCRIPT_LINE_SKIP: break;
            case SCRIPT_LINE_COMMENT: reader_print("%s\r\n", run->line); break;
            case SCRIPT_LINE_WAIT: script_do_wait(run); break;
            case SCRIPT_LINE_TRACE_ON: run->trace = 1; break;
            case SCRIPT_LINE_TRACE_OFF: run->trace = 0; break;
            case SCRIPT_LINE_OPEN: script_do_open(run); break;
            case SCRIPT_LINE_T0: run->t0 = 1; break;
            case SCRIPT_LINE_CLOSE: script_do_close(run); break;
            case SCRIPT_LINE_APDU:
                if (!script_do_apdu(run))
                    return 0;
                break;
        }
    }
    return 1;
}

/* Closes the files, then reports. The log is complete on disk before the
   user reads that the script has ended. */
static void script_finish(ScriptRun *run, long long start_seconds, int start_ms) {
    long long end_seconds;
    int end_ms;

    fclose(run->file);
    script_do_close(run);
    wall_clock_read(&end_seconds, &end_ms);
    reader_print("\r\n\r\n%s\r\n", "End of script");
    reader_print("Time: %d ms\n", script_elapsed_ms(start_seconds, start_ms, end_seconds, end_ms));
    reader_print("\r\n%s Card is ready\r\n", app_prompt);
}

/* One run of the script at path on the calling thread; the script dialog's
   threads and the command-line runner both come here. */
int script_run(const char *path) {
    const char *name = path ? path : "";
    ScriptRun run;
    long long start_seconds;
    int start_ms;

    memset(&run, 0, offsetof(ScriptRun, line));
    script_copy_path(&run, name);
    run.trace = 1;
    strcpy(run.log_name, "null");
    reader_print("\r\nLoading script %s ...", run.path);
    run.file = fopen(run.path, "rt");
    if (!run.file) {
        reader_print("\r\nFile not found");
        reader_print("\r\n\r\n%s Card is ready\r\n", app_prompt);
        return SCRIPT_RUN_NO_FILE;
    }
    reader_print("\r\n");
    script_mark_start(&run);
    wall_clock_read(&start_seconds, &start_ms);
    int ended = script_run_lines(&run);
    script_finish(&run, start_seconds, start_ms);
    return ended ? SCRIPT_RUN_DONE : SCRIPT_RUN_FAILED;
}

PlatformThreadResult PLATFORM_THREAD_CALL script_thread(void *path) {
    script_run((const char *)path);
    return 0;
}
