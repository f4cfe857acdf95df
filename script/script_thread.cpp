/*
 * script_thread.cpp: the script interpreter, one run of one script file on a
 * thread of its own.
 *
 * A run reads the file line by line, carries out the directive lines, sends
 * every APDU line through card_exchange and traces what went out and came
 * back in its session's reader pane. A line that starts with a backslash
 * continues the APDU line before it, so a long command can be written over
 * many lines. With "/T=0" it answers 61xx and 6Cxx itself: one loop sends
 * a command and its follow-ups before the next file line, for plain and
 * secured lines and for the secure channel's opening alike; with "/OPEN" it
 * copies response data into a log file of raw bytes. The run ends at the
 * end of the file or at the first exchange that fails, and closes with the
 * run time and the "Card is ready" prompt, which the reader window relies
 * on to tell the user that a fresh card can be used. "/EXPECT" lines judge
 * the final response of the last exchange (after its T=0 follow-ups) and
 * its time; a run that made checks counts them at its end. Backslash lines
 * continue an "/EXPECT" pattern as they continue a command.
 *
 * Design: every per-run item lives in one ScriptRun, allocated when the run
 * starts (its command and response buffers take the largest APDUs) and
 * freed when it ends; the shared state touched is the session's
 * xfer_total_ms and script_name, set under its xfer_lock when the run
 * starts (the name as a copy of the run's own path), and its connection
 * counts, which a secure channel reads under card_lock (script_scp.cpp).
 * The thread prints under neither lock (card_exchange, too, prints only
 * after leaving them), so printing from here cannot deadlock against the
 * GUI thread. The
 * path is copied at the start, so a Browse in the script dialog while this
 * run goes on changes neither which file is read nor the name the Console
 * shows for it.
 */
#include "app/text_form.h"
#include "script/script_run.h"

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/app_state.h"
#include "app/file_io.h"
#include "app/prompt.h"
#include "card/card_transmit.h"
#include "card/explain_print.h"
#include "console/pane_print.h"
#include "crypto/crypto_wipe.h"
#include "dialogs/apdu_text.h"
#include "script/script_local.h"

/* Every message of a run goes to its session's reader pane. */
void script_print(const ScriptRun *run, const char *format, ...) {
    va_list args;
    va_start(args, format);
    pane_vprint(run->session->reader_pane, format, args);
    va_end(args);
}

/* A new run resets its session's exchange total and names itself for the
   Console's script header; a run going on beside it on the same session
   sees both change. */
static void script_mark_start(const ScriptRun *run) {
    CardSession *session = run->session;

    platform_lock_enter(&session->xfer_lock);
    session->xfer_total_ms = 0;
    strcpy(session->script_name, run->path); /* both SCRIPT_FILE_NAME_SIZE */
    platform_lock_leave(&session->xfer_lock);
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
    script_print(run, "Waiting %d ms\r\n", run->wait_value);
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
    run->log = platform_file_open(run->log_name, "w+b");
    if (run->log)
        script_print(run, "Logging data in file %s\n", run->log_name);
}

/* A write or close that fails (a full disk) is told once, like the other
   write errors, and ends the logging of this run; the run goes on. */
static void script_log_failed(ScriptRun *run) {
    script_print(run, "!!! Error While Writing %s\r\n", run->log_name);
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

/* The trace of any number of bytes, in pieces that the pane joins into
   the one text a short trace has always been. */
void script_print_trace(ScriptRun *run, const char *title, const unsigned char *bytes, int count) {
    int done = 0;

    for (;;) {
        int before = done;
        int length =
            script_trace_piece(run->trace_text, sizeof run->trace_text, title, bytes, count, &done);
        pane_write(run->session->reader_pane, run->trace_text, (size_t)length);
        if (done >= count || done == before)
            return;
    }
}

/* The T=0 follow-up of the answer (received bytes), written over
   run->command: its length, or 0 when the answer is final. An APDU line's
   follow-up is named by its text in run->line, as checks on it name it;
   the language's rule gives that text, the channel's the bytes. */
static int script_follow_up(ScriptRun *run, int opening, int received) {
    if (opening < 0 && !run->t0)
        return 0;
    int length = script_scp_follow_up(run, opening, received);
    if (length > 0 && opening < 0)
        hex_text(run->line, sizeof run->line, run->command, length, "");
    if (length >= 0)
        return length;
    if (!script_followup_line(run->line, run->command, run->command_count, run->values->response,
                              received))
        return 0;
    script_line_chomp(run->line, (int)strlen(run->line));
    return hex_pairs_read(run->line, run->command, XFER_COMMAND_MAX);
}

/* One answer (received bytes, its exchange's ms) kept where R and SW read
   it, and the follow-up it asks for, unless the chain is at its limit: a
   card that answers every follow-up with 61xx or 6Cxx must not keep the
   run going for ever. The follow-up's length, or 0. */
static int script_answered(ScriptRun *run, int opening, int received, int *ms, int took) {
    *ms += took;
    run->values->response_length = received;
    run->response_count = received;
    run->response_ms = *ms;
    int follow = script_follow_up(run, opening, received);
    if (follow > 0 && run->chain >= SCRIPT_CHAIN_MAX) {
        script_print(run, "No further follow-up after %d in a row\r\n", SCRIPT_CHAIN_MAX);
        return 0;
    }
    return follow;
}

void script_note_error(ScriptRun *run, int error) {
    if (!run->tally)
        return;
    run->tally->error_line = run->place.number;
    script_place_text(&run->place, run->tally->error_at, sizeof run->tally->error_at);
    run->tally->error_code = (unsigned long)(unsigned)error;
}

/* The runner's record of one check: its name is its place and the line as
   written (or the title given for it). */
static void script_tally_case(ScriptRun *run, const char *place, const char *title) {
    char name[SCRIPT_LINE_SIZE + SCRIPT_LABEL_SIZE + 8];

    snprintf(name, sizeof name, "%s: %s", place, title);
    script_tally_add(run->tally, run->response_count < 0 ? 0 : run->response_ms, name,
                     run->check_text);
}

void script_check_done(ScriptRun *run, const char *message) {
    script_check_done_as(run, run->line, message);
}

void script_check_done_as(ScriptRun *run, const char *title, const char *message) {
    char place[SCRIPT_LABEL_SIZE];

    script_place_text(&run->place, place, sizeof place);
    run->check_text[0] = 0;
    if (!message) {
        run->checks_passed++;
    } else {
        run->checks_failed++;
        snprintf(run->check_text, sizeof run->check_text, "Check failed, %s: %s", place, message);
        script_print(run, "!!! %s\r\n", run->check_text);
    }
    if (run->tally)
        script_tally_case(run, place, title);
}

/* text with its values in, into run->expand, for a directive whose text
   after its word of length word may hold references; text itself when it
   holds none. 0 with the reason in message. */
static const char *script_text_expanded(ScriptRun *run, const char *text, size_t word,
                                        char *message, size_t size) {
    if (!strchr(text + word, '$'))
        return text;
    memcpy(run->expand, text, word);
    if (!script_text_expand(run->values, text + word, SCRIPT_EXPAND_PATTERN, 0, run->expand + word,
                            sizeof run->expand - word, message, size))
        return 0;
    return run->expand;
}

static const char *script_line_expanded(ScriptRun *run, size_t word, char *message, size_t size) {
    return script_text_expanded(run, run->line, word, message, size);
}

/* The "/EXPECT" line joined with the lines that continue it (each starts
   with a backslash, which is dropped, as for a command), so that a
   response longer than one line can be written whole; the line itself
   when none follows. 0 when memory ran out. */
static const char *script_expect_text(ScriptRun *run) {
    TextBuffer *joined = &run->joined;

    if (!script_read_ahead(run) || run->ahead_line[0] != '\\')
        return run->line;
    joined->used = 0;
    joined->lost = 0;
    text_buffer_add(joined, run->line, strlen(run->line));
    while (script_read_ahead(run) && run->ahead_line[0] == '\\') {
        text_buffer_add(joined, run->ahead_line + 1, strlen(run->ahead_line + 1));
        run->ahead = 0;
    }
    return text_buffer_add(joined, "", 1) ? joined->text : 0;
}

/* "/EXPECT": a check that holds prints nothing; one that fails, or cannot
   be read, prints one line and the run goes on. */
static void script_do_expect(ScriptRun *run) {
    char message[SCRIPT_CHECK_MESSAGE_SIZE];
    ScriptCheck check;
    int held = 0;
    const char *text = script_expect_text(run);
    const char *line =
        text ? script_text_expanded(run, text, strlen("/EXPECT"), message, sizeof message) : 0;

    if (!text)
        strcpy(message, "out of memory");
    else if (!line)
        ; /* a reference that cannot be made: message says which */
    else if (!script_check_parse(line, &check))
        strcpy(message, "cannot read the check");
    else if (run->response_count == -1)
        strcpy(message, "nothing sent yet");
    else if (run->response_count < 0)
        strcpy(message, "the APDU line before it was not sent");
    else
        held = script_check_judge(&check, run->values->response, run->response_count,
                                  run->response_ms, message, sizeof message);
    if (!held && line && run->response_count >= 0 && card_session_explains(run->session)) {
        size_t used = strlen(message); /* the status word's meaning, last */
        explain_check_suffix(message + used, sizeof message - used, run->line_head,
                             run->line_head_count, run->values->response, run->response_count);
    }
    script_check_done(run, held ? 0 : message);
}

/* Feeds one physical line of a command to the reader, its references
   replaced; 0 with the reason in message when one cannot be made. */
static int script_feed(ScriptRun *run, ApduTextReader *reader, const char *text, char *message,
                       size_t size) {
    if (!strchr(text, '$')) {
        apdu_text_feed(reader, text, run->command, XFER_COMMAND_MAX);
        return 1;
    }
    if (!script_text_expand(run->values, text, SCRIPT_EXPAND_APDU, reader->open, run->expand,
                            sizeof run->expand, message, size))
        return 0;
    apdu_text_feed(reader, run->expand, run->command, XFER_COMMAND_MAX);
    return 1;
}

/* The command bytes of the line, and of the lines that continue it (each
   starts with a backslash, which is dropped: the texts are read as one).
   Returns the command's length, -1 when a pair is not hexadecimal, -2
   when the command cannot be made (message says why). */
static long script_read_command(ScriptRun *run, char *message, size_t size) {
    ApduTextReader reader;
    int made = 1;

    apdu_text_begin(&reader);
    made = script_feed(run, &reader, run->line, message, size);
    while (script_read_ahead(run) && run->ahead_line[0] == '\\') {
        if (made)
            made = script_feed(run, &reader, run->ahead_line + 1, message, size);
        run->ahead = 0;
    }
    if (!made)
        return -2;
    if (!reader.sound)
        return -1;
    if (reader.count > XFER_COMMAND_MAX) {
        snprintf(message, size, "command longer than %d bytes", XFER_COMMAND_MAX);
        return -2;
    }
    return reader.count;
}

/* The command about to go out; a line's own (not a follow-up's, nor the
   secure channel opening's) is the one its answers are explained for. */
static void script_note_command(ScriptRun *run, int count, int opening) {
    run->command_count = count;
    if (run->chain != 0 || opening >= 0)
        return;
    run->line_head_count = count < SCRIPT_COMMAND_HEAD_SIZE ? count : (int)SCRIPT_COMMAND_HEAD_SIZE;
    memcpy(run->line_head, run->command, (size_t)run->line_head_count);
}

/* One exchange of run->command (count bytes): through the open secure
   channel (which traces what it sends and receives), else in the clear.
   The answer's length, written where R and SW read it; -1 when the
   exchange failed (*error), SCRIPT_SCP_NOT_SENT. */
static int script_exchange_one(ScriptRun *run, int count, int opening, int *error, int *took,
                               int *secured) {
    if (run->trace)
        script_print_trace(run, "Sending", run->command, count);
    script_note_command(run, count, opening);
    int received = script_scp_exchange(run, count, error, took);
    run->resend = 0;
    *secured = received != SCRIPT_SCP_PLAIN;
    if (*secured)
        return received;
    return card_exchange_into(run->session, run->command, count, run->values->response,
                              XFER_RESPONSE_MAX, error, took);
}

/* A failed exchange: R and SW are empty, and the run ends. */
static int script_exchange_failed(ScriptRun *run, int error) {
    run->values->response_length = 0;
    script_note_error(run, error);
    script_print(run, "\r\nReader is busy, try later...\r\n");
    if (error != 0 && card_session_explains(run->session))
        explain_print_status(run->session->reader_pane, error);
    return -1;
}

/* What a line shows of an answer in the clear: its final data logged, its
   trace and its explanation. The opening's answers are traced only. */
static void script_show_answer(ScriptRun *run, int opening, int received, int secured, int final) {
    const unsigned char *response = run->values->response;

    if (opening < 0 && final && run->log && received >= 2)
        script_log_write(run, response, (size_t)received - 2);
    if (run->trace && !secured)
        script_print_trace(run, "Received", response, received);
    if (opening < 0 && run->trace && card_session_explains(run->session))
        explain_print_response(run->session->reader_pane, run->line_head, run->line_head_count,
                               response, received);
}

int script_exchange_final(ScriptRun *run, int count, int opening, int *error, int *ms) {
    for (;;) {
        int took = 0, secured = 0;
        int received = script_exchange_one(run, count, opening, error, &took, &secured);
        if (received == SCRIPT_SCP_NOT_SENT) {
            run->response_count = -2;
            return received;
        }
        if (received < 0)
            return script_exchange_failed(run, *error);
        int follow = script_answered(run, opening, received, ms, took);
        script_show_answer(run, opening, received, secured, follow == 0);
        if (follow == 0)
            return received;
        run->chain++;
        run->resend = run->values->response[received - 2] == 0x6C;
        count = follow;
        if (script_scp_refuses(run)) {
            run->response_count = -2;
            return SCRIPT_SCP_NOT_SENT;
        }
    }
}

/* Sends one APDU line and its follow-ups. Returns 0 when an exchange
   failed and the run ends. A line that cannot be read is skipped, as it
   always was, but a check after it must not judge the exchange before it;
   a command longer than any APDU fails like a check and is not sent. */
static int script_do_apdu(ScriptRun *run) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];
    long count = script_read_command(run, message, sizeof message);
    int error = 0, ms = 0;

    if (count == -2)
        script_check_done(run, message);
    if (count < 0 || script_scp_refuses(run)) {
        run->response_count = -2;
        return 1;
    }
    return script_exchange_final(run, (int)count, -1, &error, &ms) != -1;
}

/* "/SET NAME TEXT": NAME gets the bytes of TEXT once its references are
   in; a line that cannot be carried out fails like a check, named
   "/SET NAME" (its text may be a key). A line whose text starts with a
   function's word is "/SET NAME FUNCTION ARG...". */
static void script_do_set(ScriptRun *run) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE];
    char title[SCRIPT_SET_TITLE_SIZE];
    char name[SCRIPT_VALUE_NAME_SIZE];
    const char *rest = run->line + strlen("/SET");
    int word_length = 0;
    const char *at = script_word_next(&rest, &word_length);
    size_t length = (size_t)word_length;

    if (script_set_call(run, at, length))
        return;
    script_set_title(title, sizeof title, at, length, 0, 0);
    if (!script_value_name_ok(at, (int)length)) {
        script_set_bad_name(message, sizeof message, at, length);
        script_check_done_as(run, title, message);
        return;
    }
    snprintf(name, sizeof name, "%.*s", (int)length, at);
    size_t word = (size_t)(at + length - run->line);
    const char *line = script_line_expanded(run, word, message, sizeof message);
    /* the value's bytes go into the command buffer, free between exchanges */
    int count = line ? hex_pairs_read(line + word, run->command, SCRIPT_VALUE_MAX) : -1;
    if (line && count < 0)
        snprintf(message, sizeof message, "%s: not whole hexadecimal pairs", name);
    int set = count >= 0 &&
              script_value_set(run->values, name, run->command, count, message, sizeof message);
    if (line == run->expand)
        crypto_wipe(run->expand, strlen(run->expand));
    crypto_wipe(run->command, count > 0 ? (size_t)count : 0);
    if (!set)
        script_check_done_as(run, title, message);
}

/* A "/SET" or "/SCP" line may name keys: it is wiped once carried out. */
static void script_line_wipe(ScriptRun *run) {
    crypto_wipe(run->line, strlen(run->line));
}

/* The lines that exchange with the card: 0 when an exchange failed and
   the run ends. */
static int script_do_exchanges(ScriptRun *run, ScriptLineKind kind) {
    int going;

    switch (kind) {
        case SCRIPT_LINE_SCP:
            going = script_do_scp(run);
            script_line_wipe(run);
            return going;
        case SCRIPT_LINE_LOAD: return script_do_load(run);
        case SCRIPT_LINE_INSTALL: return script_do_install(run);
        case SCRIPT_LINE_DELETE: return script_do_delete(run);
        default: return script_do_apdu(run);
    }
}

/* Executes lines until the end of the script or a failed exchange.
   Returns 0 when an exchange failed, 1 when the script was read to its
   end. */
static int script_run_lines(ScriptRun *run) {
    while (script_next_line(run) != 0) {
        ScriptLineKind kind = script_line_classify(run->line);
        switch (kind) {
            case SCRIPT_LINE_SET:
                script_do_set(run);
                script_line_wipe(run);
                break;
            case SCRIPT_LINE_INCLUDE: script_do_include(run); break;
            case SCRIPT_LINE_REPEAT: script_do_repeat(run); break;
            case SCRIPT_LINE_END: script_do_end(run); break;
            case SCRIPT_LINE_SKIP: break;
            case SCRIPT_LINE_COMMENT: script_print(run, "%s\r\n", run->line); break;
            case SCRIPT_LINE_WAIT: script_do_wait(run); break;
            case SCRIPT_LINE_TRACE_ON: run->trace = 1; break;
            case SCRIPT_LINE_TRACE_OFF: run->trace = 0; break;
            case SCRIPT_LINE_OPEN: script_do_open(run); break;
            case SCRIPT_LINE_T0: run->t0 = 1; break;
            case SCRIPT_LINE_CLOSE: script_do_close(run); break;
            case SCRIPT_LINE_EXPECT: script_do_expect(run); break;
            default:
                if (!script_do_exchanges(run, kind))
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

    script_sources_close(run);
    script_do_close(run);
    wall_clock_read(&end_seconds, &end_ms);
    int elapsed = script_elapsed_ms(start_seconds, start_ms, end_seconds, end_ms);
    if (run->checks_passed + run->checks_failed > 0)
        script_print(run, "Checks: %d passed, %d failed\r\n", run->checks_passed,
                     run->checks_failed);
    script_print(run, "\r\n\r\n%s\r\n", "End of script");
    /* Line feed only, as every run has ended this line. */
    script_print(run, "Time: %d ms\n", elapsed);
    if (run->tally) {
        run->tally->passed = run->checks_passed;
        run->tally->failed = run->checks_failed;
        run->tally->elapsed_ms = elapsed;
    }
    script_print(run, "\r\n%s Card is ready\r\n", app_prompt);
}

/* Opens the script and runs it to its end. */
static int script_run_file(ScriptRun *run) {
    long long start_seconds;
    int start_ms;

    script_print(run, "\r\nLoading script %s ...", run->path);
    if (!script_source_open(run)) {
        script_print(run, "\r\nFile not found");
        script_print(run, "\r\n\r\n%s Card is ready\r\n", app_prompt);
        return SCRIPT_RUN_NO_FILE;
    }
    script_print(run, "\r\n");
    script_mark_start(run);
    wall_clock_read(&start_seconds, &start_ms);
    int ended = script_run_lines(run);
    script_finish(run, start_seconds, start_ms);
    return ended ? SCRIPT_RUN_DONE : SCRIPT_RUN_FAILED;
}

/* One run of the script at path on the calling thread; the script dialog's
   threads and the command-line runner both come here. The run's buffers
   take the largest APDUs, too much for a thread's stack: they are one
   allocation for the run. */
static int script_run_no_memory(const CardSession *session, const char *name) {
    pane_print(session->reader_pane, "\r\nLoading script %.*s ...\r\nOut of memory", 255, name);
    pane_print(session->reader_pane, "\r\n\r\n%s Card is ready\r\n", app_prompt);
    return SCRIPT_RUN_NO_MEMORY;
}

/* A run before its first line, every field that is read before it is
   written set by name: the buffers from line on are written first, and
   each source is set when it is pushed. The records are zeroed as their
   comments ask. */
static void script_run_clear(ScriptRun *run, CardSession *session, ScriptTally *tally) {
    run->session = session;
    run->log = 0;
    run->log_failed = 0;
    run->ahead = 0;
    run->trace = 1;
    run->t0 = 0;
    run->wait_value = 0;
    run->chain = 0;
    run->command_count = 0;
    run->line_head_count = 0;
    run->tally = tally;
    run->values = tally && tally->values ? tally->values : &run->own_values;
    run->call = 0;
    run->depth = 0;
    run->response_count = -1;
    run->response_ms = 0;
    run->checks_passed = run->checks_failed = 0;
    memset(&run->joined, 0, sizeof run->joined);
    run->channel = tally && tally->channel ? tally->channel : &run->own_channel;
    run->scp_space = 0;
    run->resend = 0;
    memset(&run->own_channel, 0, sizeof run->own_channel);
    memset(&run->place, 0, sizeof run->place);
    memset(&run->own_values, 0, sizeof run->own_values);
    strcpy(run->log_name, "null");
}

int script_run(CardSession *session, const char *path, ScriptTally *tally) {
    const char *name = path ? path : "";
    ScriptRun *run = (ScriptRun *)malloc(sizeof *run);

    if (!run)
        return script_run_no_memory(session, name);
    script_run_clear(run, session, tally);
    script_copy_path(run, name);
    int result = script_values_room(run->values, XFER_RESPONSE_MAX)
                     ? script_run_file(run)
                     : script_run_no_memory(session, name);
    script_scp_free(run);
    script_values_free(&run->own_values);
    script_set_free(run);
    text_buffer_free(&run->joined);
    free(run);
    return result;
}

PlatformThreadResult PLATFORM_THREAD_CALL script_thread(void *path) {
    script_run(gui_session(), (const char *)path, NULL);
    return 0;
}
