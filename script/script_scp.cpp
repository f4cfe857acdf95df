/*
 * script_scp.cpp: the "/SCP" directive, GlobalPlatform secure channels in
 * a run.
 *
 *   /SCP LEVEL KEYS [KVN HH] [DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH]
 *        [CHANNEL N]
 *   /SCP END
 *
 * The directive reads its line with the script's argument reader and
 * drives the protocol's steps (scp/scp.h): INITIALIZE UPDATE, the card's
 * cryptogram checked, and only then EXTERNAL AUTHENTICATE, each command
 * sent with its T=0 follow-ups by the interpreter's one exchange loop. The
 * line is a check, named "/SCP LEVEL" in messages and reports, never with
 * its keys. While the channel is open every APDU line on its logical
 * channel (N, 0 by default) is wrapped and its answer unwrapped; R, SW,
 * "/EXPECT", "/OPEN" and -x see the plain answer. Lines on other logical
 * channels are not part of the session and go out as written; how a
 * command travels (GET RESPONSE as transport, the follow-ups, an answer
 * joined from T=0 parts) is the protocol's rule.
 *
 * A channel that fails is broken, not closed: its /SCP line fails, an
 * answer's MAC does not match, an exchange fails, or the card was reset,
 * removed or replaced since it opened. A line meant for it must not go out
 * in the clear, so every APDU line fails like a check until "/SCP END" or
 * the next "/SCP" ("not sent: the secure channel failed at line 3 (card
 * reset)"). SCP_DEK, the key for PUT KEY, goes when the channel ends or
 * breaks; every buffer that held a key is wiped (crypto/crypto_wipe.h).
 */
#include "script/script_scp.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "card/card_record.h"
#include "card/card_transmit.h"
#include "card/scard_name.h"
#include "crypto/crypto.h"
#include "crypto/crypto_wipe.h"
#include "script/script_local.h"

enum {
    SCP_WHY_SIZE = 80, /* why a channel broke, after its line */
};

/* The room a run wraps in: too large for a thread's stack. */
struct ScriptScpSpace {
    ScpWork work;
    unsigned char secured[XFER_COMMAND_MAX];
    ScpJoined joined; /* an answer that comes in T=0 parts */
};

/* One "/SCP" line being read; wiped once used, as it holds the keys */
struct ScpLine {
    ScpRequest request;
    ScpKeys keys;
    int keys_given; /* 1 ENC, 2 MAC, 4 DEK */
    int host_given;
    ScriptArgs args;
    char reason[SCRIPT_VALUE_MESSAGE_SIZE]; /* why an argument could not be read */
};

/* The level words, the script's vocabulary for the protocol's levels */
static const ScriptName scp_levels[] = {
    {"MAC", SCP_LEVEL_C_MAC},
    {"MAC+ENC", SCP_LEVEL_C_MAC_ENC},
    {"MAC+RMAC", SCP_LEVEL_C_R_MAC},
    {"MAC+ENC+RMAC", SCP_LEVEL_C_R_MAC_ENC},
    {"MAC+ENC+RMAC+RENC", SCP_LEVEL_ALL},
};

enum { SCP_LEVEL_WORDS = sizeof scp_levels / sizeof scp_levels[0] };

static const char scp_usage[] =
    "secure channel: /SCP takes LEVEL KEY K | ENC K MAC K DEK K [KVN HH] [DIVERSIFY VISA2|EMV] "
    "[HOST HEX] [S16] [I HH] [CHANNEL N]";

/* ---- The channel's state ---- */

void script_channel_end(ScriptChannel *channel) {
    scp_session_wipe(&channel->scp);
    channel->state = SCRIPT_CHANNEL_NONE;
    channel->broken_at[0] = 0;
}

/* The channel ends and SCP_DEK with it. */
static void script_channel_close(ScriptRun *run) {
    script_channel_end(run->channel);
    script_value_remove(run->values, "SCP_DEK");
}

/* The channel breaks at this line; why, when given, is said after it. */
static void script_channel_break(ScriptRun *run, const char *why) {
    ScriptChannel *channel = run->channel;
    char place[SCRIPT_LABEL_SIZE];

    script_channel_close(run);
    channel->state = SCRIPT_CHANNEL_BROKEN;
    script_place_text(&run->place, place, sizeof place);
    snprintf(channel->broken_at, sizeof channel->broken_at, why ? "%s (%s)" : "%s", place, why);
}

/* An exchange of the channel failed: the card may have ended its side. */
static void script_channel_lost(ScriptRun *run, int error) {
    char why[SCP_WHY_SIZE];

    if (error == 0) /* nothing was sent: no card was ready */
        snprintf(why, sizeof why, "card removed");
    else
        snprintf(why, sizeof why, "exchange failed: %s",
                 scard_name((unsigned long)(unsigned)error));
    script_channel_break(run, why);
}

/* What became of the connection the channel was opened on: 0 when it is
   still the same, else why it is not. */
static const char *script_channel_moved(ScriptRun *run) {
    CardSession *session = run->session;

    platform_lock_enter(&session->card_lock);
    unsigned long now = session->card_connections;
    unsigned long reset = session->card_reset_connection;
    platform_lock_leave(&session->card_lock);
    if (now == run->channel->connection)
        return 0;
    return now == run->channel->connection + 1 && reset == now ? "card reset" : "card removed";
}

static void script_channel_opened(ScriptRun *run) {
    CardSession *session = run->session;

    run->channel->state = SCRIPT_CHANNEL_OPEN;
    platform_lock_enter(&session->card_lock);
    run->channel->connection = session->card_connections;
    platform_lock_leave(&session->card_lock);
}

static int script_scp_room(ScriptRun *run) {
    if (!run->scp_space) {
        run->scp_space = (ScriptScpSpace *)malloc(sizeof *run->scp_space);
        if (run->scp_space)
            run->scp_space->joined.length = -1;
    }
    return run->scp_space != 0;
}

void script_scp_free(ScriptRun *run) {
    if (run->channel == &run->own_channel)
        script_channel_end(run->channel);
    if (run->scp_space)
        crypto_wipe(run->scp_space, sizeof *run->scp_space);
    free(run->scp_space);
    run->scp_space = 0;
}

/* ---- Reading the line ---- */

/* The next argument as at most capacity bytes into bytes (a key, HOST,
   KVN or I): their count, or -1 with the reason in message. A missing
   word gives the usage; the reason never quotes the word, a key perhaps. */
static int scp_bytes(ScpLine *line, const char *what, unsigned char *bytes, int capacity,
                     char *message, size_t size) {
    ScriptArg arg;
    int status = script_args_bytes(&line->args, what, bytes, (size_t)capacity, &arg);

    if (status == SCRIPT_ARG_OK) {
        if (arg.bytes != bytes) /* a whole reference, read in place */
            memcpy(bytes, arg.bytes, arg.count);
        return (int)arg.count;
    }
    if (status == SCRIPT_ARG_MISSING)
        snprintf(message, size, "%s", scp_usage);
    else if (status == SCRIPT_ARG_REFERENCE)
        snprintf(message, size, "secure channel: %s", line->reason);
    else
        snprintf(message, size,
                 "secure channel: %s is not whole hexadecimal pairs of at most %d bytes", what,
                 capacity);
    return -1;
}

/* One byte: KVN or I. */
static int scp_read_byte(ScpLine *line, const char *what, int *value, char *message, size_t size) {
    unsigned char byte;

    if (scp_bytes(line, what, &byte, 1, message, size) != 1) {
        snprintf(message, size, "secure channel: %s takes one byte", what);
        return 0;
    }
    *value = byte;
    return 1;
}

/* CHANNEL N: a logical channel, a number as the script writes numbers. */
static int scp_read_channel(ScpLine *line, char *message, size_t size) {
    long value = 0;

    if (script_args_number(&line->args, "CHANNEL", &value) != SCRIPT_ARG_OK ||
        value > SCP_CHANNEL_MAX) {
        snprintf(message, size, "secure channel: CHANNEL takes 0 to %d", SCP_CHANNEL_MAX);
        return 0;
    }
    line->request.channel = (int)value;
    return 1;
}

/* KEY K, or ENC K MAC K DEK K (in any order), each a key of one length;
   which is 0 to 2 for ENC, MAC, DEK, and 3 for KEY. */
static int scp_read_key(ScpLine *line, int which, char *message, size_t size) {
    unsigned char *into[3] = {line->keys.enc, line->keys.mac, line->keys.dek};
    unsigned char *key = which == 3 ? line->keys.enc : into[which];
    int count = scp_bytes(line, "a key", key, SCP_KEY_MAX, message, size);

    if (count < 0)
        return 0;
    if (line->keys_given && (size_t)count != line->keys.length) {
        snprintf(message, size, "secure channel: keys of %d and %d bytes", (int)line->keys.length,
                 count);
        return 0;
    }
    line->keys.length = (size_t)count;
    if (which == 3) {
        memcpy(line->keys.mac, key, (size_t)count);
        memcpy(line->keys.dek, key, (size_t)count);
        line->keys_given |= 7;
    } else {
        line->keys_given |= 1 << which;
    }
    return 1;
}

/* HOST HEX: the host challenge. */
static int scp_read_host(ScpLine *line, char *message, size_t size) {
    int count = scp_bytes(line, "HOST", line->request.host, SCP_CHALLENGE_MAX, message, size);

    line->request.host_length = count > 0 ? (size_t)count : 0;
    line->host_given = 1;
    return count >= 0;
}

/* DIVERSIFY VISA2|EMV. */
static int scp_read_diversify(ScpLine *line, char *message, size_t size) {
    static const ScriptName methods[] = {{"VISA2", SCP_DIVERSIFY_VISA2},
                                         {"EMV", SCP_DIVERSIFY_EMV}};
    int length = 0;
    const char *word = script_args_word(&line->args, &length);

    line->request.diversify = script_word_find(word, length, methods, 2);
    if (line->request.diversify >= 0)
        return 1;
    snprintf(message, size, "secure channel: DIVERSIFY takes VISA2 or EMV");
    return 0;
}

/* One option after the level; 0 with the reason in message. */
static int scp_read_option(ScpLine *line, const char *word, int length, char *message,
                           size_t size) {
    static const ScriptName keys[] = {{"ENC", 0}, {"MAC", 1}, {"DEK", 2}, {"KEY", 3}};
    int key = script_word_find(word, length, keys, 4);

    if (key >= 0)
        return scp_read_key(line, key, message, size);
    if (script_word_is(word, length, "KVN"))
        return scp_read_byte(line, "KVN", &line->request.kvn, message, size);
    if (script_word_is(word, length, "I"))
        return scp_read_byte(line, "I", &line->request.scp02_i, message, size);
    if (script_word_is(word, length, "CHANNEL"))
        return scp_read_channel(line, message, size);
    if (script_word_is(word, length, "S16")) {
        line->request.s16 = 1;
        return 1;
    }
    if (script_word_is(word, length, "DIVERSIFY"))
        return scp_read_diversify(line, message, size);
    if (script_word_is(word, length, "HOST"))
        return scp_read_host(line, message, size);
    snprintf(message, size, "%s", scp_usage);
    return 0;
}

/* The host challenge: HOST's, of the length the request's S8 or S16
   wants, or drawn from the strong generator. */
static int scp_host_challenge(ScpLine *line, char *message, size_t size) {
    size_t host = line->request.s16 ? 16 : 8;

    if (line->host_given && line->request.host_length != host) {
        snprintf(message, size, "secure channel: HOST of %d bytes, %d wanted",
                 (int)line->request.host_length, (int)host);
        return 0;
    }
    line->request.host_length = host;
    if (!line->host_given && crypto_random(line->request.host, host, 0, 0) != CRYPTO_OK) {
        snprintf(message, size, "secure channel: no random host challenge");
        return 0;
    }
    return 1;
}

/* The level word and everything after it; 0 with the reason in message.
   An unknown level is named by its length: it may be a key written where
   the level belongs. */
static int scp_read_line(ScriptRun *run, const char *text, ScpLine *line, char *message,
                         size_t size) {
    int length = 0;

    crypto_wipe(line, sizeof *line);
    line->request.scp02_i = -1;
    script_args_begin(&line->args, run->values, text, line->reason, sizeof line->reason);
    const char *word = script_args_word(&line->args, &length);
    line->request.level = script_word_find(word, length, scp_levels, SCP_LEVEL_WORDS);
    if (!word)
        snprintf(message, size, "%s", scp_usage);
    else if (line->request.level < 0)
        snprintf(message, size, "secure channel: unknown level (%d character%s)", length,
                 length == 1 ? "" : "s");
    if (line->request.level < 0)
        return 0;
    while ((word = script_args_word(&line->args, &length)) != 0)
        if (!scp_read_option(line, word, length, message, size))
            return 0;
    if (line->keys_given != 7) {
        snprintf(message, size, "%s", scp_usage);
        return 0;
    }
    return scp_host_challenge(line, message, size);
}

/* ---- Opening ---- */

/* SCP_KDD and SCP_DEK for PUT KEY; 0 with the reason in message. */
static int scp_set_values(ScriptRun *run, char *message, size_t size) {
    const ScpSession *scp = &run->channel->scp;

    return script_value_set(run->values, "SCP_KDD", scp->kdd, SCP_KDD_SIZE, message, size) &&
           script_value_set(run->values, "SCP_DEK", scp->dek, (int)scp->key_length, message, size);
}

/* The protocol's steps, each command sent with its follow-ups (on the
   requested logical channel, whatever "/T=0" says) and its final answer,
   which R and SW keep, judged by the protocol. 1 when the channel is open,
   0 with the reason in message, -1 when an exchange failed (*error). */
static int scp_open(ScriptRun *run, const ScpLine *line, char *message, size_t size, int *error) {
    ScpOpening opening;
    char reason[SCP_MESSAGE_SIZE];
    int ms = 0, step = SCP_STEP_INITIALIZE_UPDATE;

    scp_open_begin(&opening, &line->request, &line->keys);
    while (step == SCP_STEP_INITIALIZE_UPDATE || step == SCP_STEP_EXTERNAL_AUTHENTICATE) {
        memcpy(run->command, opening.command, (size_t)opening.command_length);
        int received =
            script_exchange_final(run, opening.command_length, line->request.channel, error, &ms);
        if (received < 0)
            break;
        step = scp_open_answer(&opening, &run->channel->scp, run->values->response, received,
                               &run->scp_space->work, reason, sizeof reason);
    }
    crypto_wipe(&opening, sizeof opening);
    if (step == SCP_STEP_FAILED)
        snprintf(message, size, "secure channel: %s", reason);
    if (step != SCP_STEP_OPEN)
        return step == SCP_STEP_FAILED ? 0 : -1;
    return scp_set_values(run, message, size);
}

/* The line opened (1), failed as a check (0) or lost its card (-1). */
static int scp_opened(ScriptRun *run, int opened, const char *title, const char *message,
                      int error) {
    if (opened > 0) {
        script_channel_opened(run);
        script_check_done_as(run, title, 0);
        return 1;
    }
    if (opened < 0) {
        script_channel_lost(run, error);
        return 0;
    }
    script_channel_break(run, 0);
    script_check_done_as(run, title, message);
    return 1;
}

int script_do_scp(ScriptRun *run) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE + SCP_MESSAGE_SIZE];
    char title[32];
    const char *at = run->line + strlen("/SCP");
    int length = 0;
    const char *word = script_word_next(&at, &length);
    ScpLine line;
    int opened = 0, error = 0;

    script_channel_close(run);
    if (script_word_is(word, length, "END") && script_words_count(at) == 0) {
        card_record_channel(run->session, 0);
        return 1;
    }
    int level = script_word_find(word, length, scp_levels, SCP_LEVEL_WORDS) >= 0;
    snprintf(title, sizeof title, "/SCP%s%.*s", level ? " " : "", level ? length : 0, word);
    card_record_channel(run->session, 1); /* not even the opening is recorded */
    crypto_wipe(&line, sizeof line);
    if (!script_scp_room(run))
        snprintf(message, sizeof message, "secure channel: no memory");
    else if (scp_read_line(run, run->line + strlen("/SCP"), &line, message, sizeof message))
        opened = scp_open(run, &line, message, sizeof message, &error);
    crypto_wipe(&line, sizeof line);
    return scp_opened(run, opened, title, message, error);
}

/* ---- Exchanges while a channel is open ---- */

int script_scp_refusal(ScriptRun *run, char *message, size_t size) {
    ScriptChannel *channel = run->channel;
    const char *moved = channel->state == SCRIPT_CHANNEL_OPEN ? script_channel_moved(run) : 0;

    if (moved)
        script_channel_break(run, moved);
    if (channel->state != SCRIPT_CHANNEL_BROKEN)
        return 0;
    snprintf(message, size, "not sent: the secure channel failed at %s", channel->broken_at);
    return 1;
}

int script_scp_refuses(ScriptRun *run) {
    char message[SCRIPT_CHANNEL_PLACE_SIZE + 64];

    if (!script_scp_refusal(run, message, sizeof message))
        return 0;
    script_check_done(run, message);
    return 1;
}

void script_scp_command_class(const ScriptRun *run, unsigned char *cla, size_t *room) {
    const ScriptChannel *channel = run->channel;
    int open = channel->state == SCRIPT_CHANNEL_OPEN;

    *cla = scp_channel_cla(1, open ? channel->scp.channel : 0);
    *room = open ? scp_data_room(&channel->scp, 255) : 255;
}

int script_scp_follow_up(ScriptRun *run, int opening, int received) {
    const ScriptChannel *channel = run->channel;
    int on = opening, joining = 0;

    if (opening < 0) {
        if (channel->state != SCRIPT_CHANNEL_OPEN || !run->scp_space ||
            !scp_session_owns(&channel->scp, run->command, run->command_count))
            return -1;
        on = channel->scp.channel;
        joining = run->scp_space->joined.length >= 0;
    }
    return scp_follow_up(on, run->command, run->command_count, run->values->response, received,
                         joining, run->command);
}

/* A failure of the channel on this line: broken, reported like a check. */
static int scp_line_fails(ScriptRun *run, const char *reason, int breaks) {
    char message[SCP_MESSAGE_SIZE + 32];

    snprintf(message, sizeof message, "secure channel: %s", reason);
    if (breaks)
        script_channel_break(run, 0);
    run->values->response_length = 0;
    script_check_done(run, message);
    return SCRIPT_SCP_NOT_SENT;
}

/* The command as it goes out: a GET RESPONSE as written, any other
   command wrapped (and traced "Secured"). Its length, or
   SCRIPT_SCP_NOT_SENT. */
static int scp_outgoing(ScriptRun *run, int count, const unsigned char **command) {
    ScriptScpSpace *space = run->scp_space;
    char reason[SCP_MESSAGE_SIZE];
    int length = count;

    *command = run->command;
    if (scp_is_transport(run->command, count))
        return count;
    space->joined.length = -1; /* a new command: no answer in parts goes on */
    int status = scp_wrap(&run->channel->scp, run->command, count, run->resend, space->secured,
                          XFER_COMMAND_MAX, &length, &space->work, reason, sizeof reason);
    if (status != SCP_OK)
        return scp_line_fails(run, reason, status != SCP_BAD_COMMAND);
    *command = space->secured;
    if (run->trace)
        script_print_trace(run, "Secured", *command, length);
    return length;
}

int script_scp_exchange(ScriptRun *run, int count, int *error, int *ms) {
    char reason[SCP_MESSAGE_SIZE];
    const unsigned char *command;
    ScriptChannel *channel = run->channel;

    if (channel->state != SCRIPT_CHANNEL_OPEN ||
        !scp_session_owns(&channel->scp, run->command, count))
        return SCRIPT_SCP_PLAIN;
    if (!script_scp_room(run))
        return scp_line_fails(run, "no memory", 1);
    int length = scp_outgoing(run, count, &command);
    if (length < 0)
        return length;
    unsigned char *answer = run->values->response;
    int received =
        card_exchange_into(run->session, command, length, answer, XFER_RESPONSE_MAX, error, ms);
    if (received < 0) {
        script_channel_lost(run, *error);
        return -1;
    }
    if (run->trace)
        script_print_trace(run, "Received", answer, received);
    int whole = scp_join(&channel->scp, &run->scp_space->joined, answer, received);
    if (whole == -1)
        return received; /* a part: its MAC comes with the last one */
    if (whole == -2)
        return scp_line_fails(run, "the answer in parts is longer than any response", 1);
    int plain = whole;
    if (scp_unwrap(&channel->scp, answer, whole, &plain, &run->scp_space->work, reason,
                   sizeof reason) != SCP_OK)
        return scp_line_fails(run, reason, 1);
    if (run->trace)
        script_print_trace(run, "Plain", answer, plain);
    return plain;
}
