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
 * relies on to tell the user that a fresh card can be used. "/EXPECT"
 * lines judge the final response of the last exchange (after its T=0
 * follow-ups) and its time; a run that made checks counts them at its end.
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

#include "app/file_io.h"
#include "app/app_state.h"
#include "app/prompt.h"
#include "card/card_transmit.h"
#include "console/pane_print.h"
#include "dialogs/apdu_text.h"
#include "script/script_check.h"
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
    ScriptTally *tally;                     /* the runner's record of the run, or 0 */
    int line_number;                        /* number of the file line read last */
    int mid_line;                           /* 1: that piece ended without LF */
    int file_line;                          /* the executed line's number (kept by follow-ups) */
    int response_count;                     /* bytes in response; -1 before any exchange,
                                               -2 after an APDU line that was not sent */
    int response_ms;                        /* its exchange's ms, summed over the follow-ups */
    int checks_passed, checks_failed;       /* "/EXPECT" lines that held and that did not */
    char path[SCRIPT_FILE_NAME_SIZE];       /* the caller's path, copied */
    char line[SCRIPT_LINE_SIZE];            /* the line being executed */
    char pending_line[SCRIPT_PENDING_SIZE]; /* GET RESPONSE or re-send */
    char log_name[SCRIPT_LOG_NAME_SIZE];    /* kept for "/OPEN" without a name */
    unsigned char command[SCRIPT_COMMAND_SIZE];      /* command, then the response */
    unsigned char kept[SCRIPT_COMMAND_SIZE];         /* the command as sent */
    char trace_text[SCRIPT_TRACE_SIZE];              /* "Sending" / "Received" text */
    unsigned char response[SCRIPT_COMMAND_SIZE];     /* last exchange's final response */
    char check_text[SCRIPT_CHECK_MESSAGE_SIZE + 64]; /* "Check failed, line N: ..." */
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

/* Keeps the response for "/EXPECT": a line from the file starts a new
   time, a follow-up adds its exchange to the time of the line it follows. */
static void script_keep_response(ScriptRun *run, int received, int ms) {
    memcpy(run->response, run->command, (size_t)received);
    run->response_count = received;
    run->response_ms = run->chain == 0 ? ms : run->response_ms + ms;
}

static void script_note_error(ScriptRun *run, int error) {
    if (!run->tally)
        return;
    run->tally->error_line = run->file_line;
    run->tally->error_code = (unsigned long)(unsigned)error;
}

/* The runner's record of one check: its name is the line as written. */
static void script_tally_case(ScriptRun *run) {
    char name[SCRIPT_LINE_SIZE + 32];

    snprintf(name, sizeof name, "line %d: %s", run->file_line, run->line);
    script_tally_add(run->tally, run->response_count < 0 ? 0 : run->response_ms, name,
                     run->check_text);
}

/* "/EXPECT": a check that holds prints nothing; one that fails, or cannot
   be read, prints one line and the run goes on. */
static void script_do_expect(ScriptRun *run) {
    char message[SCRIPT_CHECK_MESSAGE_SIZE];
    ScriptCheck check;
    int held = 0;

    if (!script_check_parse(run->line, &check))
        strcpy(message, "cannot read the check");
    else if (run->response_count == -1)
        strcpy(message, "nothing sent yet");
    else if (run->response_count < 0)
        strcpy(message, "the APDU line before it was not sent");
    else
        held = script_check_judge(&check, run->response, run->response_count, run->response_ms,
                                  message, sizeof message);
    run->check_text[0] = 0;
    if (held) {
        run->checks_passed++;
    } else {
        run->checks_failed++;
        snprintf(run->check_text, sizeof run->check_text, "Check failed, line %d: %s",
                 run->file_line, message);
        reader_print("!!! %s\r\n", run->check_text);
    }
    if (run->tally)
        script_tally_case(run);
}

/* Sends one APDU line. Returns 0 when the exchange failed and the run ends.
   A line that cannot be read is skipped, as it always was, but a check
   after it must not judge the exchange before it. */
static int script_do_apdu(ScriptRun *run) {
    int count = 0;
    int error = 0;

    if (!apdu_text_to_bytes(run->line, run->command, &count) || count < 0 ||
        count > SCRIPT_COMMAND_SIZE - 1) {
        run->response_count = -2;
        return 1;
    }
    if (run->trace)
        script_print_trace(run, "Sending", run->command, count);
    memcpy(run->kept, run->command, (size_t)count);
    run->kept_count = count;
    int ms = 0;
    int received = card_transmit_timed(run->command, count, &error, &ms);
    if (received < 0) {
        script_note_error(run, error);
        reader_print("\r\nReader is busy, try later...\r\n");
        return 0;
    }
    if (received > XFER_RESPONSE_MAX)
        received = XFER_RESPONSE_MAX;
    script_keep_response(run, received, ms);
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
    /* a piece of an overlong line keeps that line's number */
    if (!run->mid_line)
        run->line_number++;
    run->mid_line = run->line[length - 1] != '\n';
    run->file_line = run->line_number;
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
            case SCRIPT_LINE_EXPECT: script_do_expect(run); break;
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

    if (!run->tally || run->file != run->tally->input)
        fclose(run->file);
    script_do_close(run);
    wall_clock_read(&end_seconds, &end_ms);
    int elapsed = script_elapsed_ms(start_seconds, start_ms, end_seconds, end_ms);
    if (run->checks_passed + run->checks_failed > 0)
        reader_print("Checks: %d passed, %d failed\r\n", run->checks_passed, run->checks_failed);
    reader_print("\r\n\r\n%s\r\n", "End of script");
    /* Line feed only, as every run has ended this line. */
    reader_print("Time: %d ms\n", elapsed);
    if (run->tally) {
        run->tally->passed = run->checks_passed;
        run->tally->failed = run->checks_failed;
        run->tally->elapsed_ms = elapsed;
    }
    reader_print("\r\n%s Card is ready\r\n", app_prompt);
}

/* One run of the script at path on the calling thread; the script dialog's
   threads and the command-line runner both come here. */
int script_run(const char *path, ScriptTally *tally) {
    const char *name = path ? path : "";
    ScriptRun run;
    long long start_seconds;
    int start_ms;

    memset(&run, 0, offsetof(ScriptRun, line));
    script_copy_path(&run, name);
    run.trace = 1;
    run.tally = tally;
    run.response_count = -1;
    strcpy(run.log_name, "null");
    reader_print("\r\nLoading script %s ...", run.path);
    run.file = tally && tally->input ? tally->input : fopen(run.path, "rt");
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
    script_run((const char *)path, NULL);
    return 0;
}
