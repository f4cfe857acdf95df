/*
 * script_scp.cpp: GlobalPlatform secure channels in a run.
 *
 *   /SCP LEVEL KEYS [KVN HH] [DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH]
 *        [CHANNEL N]
 *   /SCP END
 *
 * "/SCP LEVEL ..." sends INITIALIZE UPDATE, checks the card's cryptogram
 * (scp/scp.h) and only then sends EXTERNAL AUTHENTICATE; the line is a
 * check, named "/SCP LEVEL" in messages and reports, never with its keys.
 * While the channel is open every APDU line on its logical channel (N, 0
 * by default) is wrapped and its answer unwrapped; R, SW, "/EXPECT",
 * "/OPEN" and -x see the plain answer. Lines on other logical channels are
 * not part of the session and go out as written. A GET RESPONSE is
 * transport and goes out as written; at R-MAC levels the parts of an
 * answer that comes behind 61xx are joined and the whole is unwrapped
 * once, as its R-MAC covers the whole. A 6Cxx re-send is the plain command
 * wrapped again with the Le the card asked for; a command without Le is
 * never sent again.
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

#include "app/text_form.h"
#include "card/card_record.h"
#include "card/card_transmit.h"
#include "card/scard_name.h"
#include "crypto/crypto.h"
#include "crypto/crypto_wipe.h"
#include "script/script_local.h"

enum {
    SCP_FOLLOW_UPS = 4,   /* 61xx and 6Cxx answered within the opening, at most */
    SCP_ANSWER_MAX = 258, /* the opening's answers */
    SCP_WHY_SIZE = 80,    /* why a channel broke, after its line */
};

/* The room a run wraps in: too large for a thread's stack. */
struct ScriptScpSpace {
    ScpWork work;
    unsigned char secured[XFER_COMMAND_MAX];
    unsigned char joined[XFER_RESPONSE_MAX]; /* an answer that came in T=0 parts */
    int joined_length;                       /* its bytes so far, or -1: no parts */
};

/* One "/SCP" line, read */
struct ScpLine {
    ScpRequest request;
    ScpKeys keys;
    int host_given;
};

struct ScpLevelName {
    const char *name;
    int level;
};

static const ScpLevelName scp_levels[] = {
    {"MAC", SCP_LEVEL_MAC},
    {"MAC+ENC", SCP_LEVEL_MAC | SCP_LEVEL_ENC},
    {"MAC+RMAC", SCP_LEVEL_MAC | SCP_LEVEL_RMAC},
    {"MAC+ENC+RMAC", SCP_LEVEL_MAC | SCP_LEVEL_ENC | SCP_LEVEL_RMAC},
    {"MAC+ENC+RMAC+RENC", SCP_LEVEL_MAC | SCP_LEVEL_ENC | SCP_LEVEL_RMAC | SCP_LEVEL_RENC},
};

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
            run->scp_space->joined_length = -1;
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

/* The next blank-separated word from *at: its start and length (0 at the
   end). */
static size_t scp_word(const char **at, const char **word) {
    const char *p = *at;
    while (*p == ' ' || *p == '\t')
        p++;
    *word = p;
    while (*p && *p != ' ' && *p != '\t')
        p++;
    *at = p;
    return (size_t)(p - *word);
}

static int scp_word_is(const char *word, size_t length, const char *name) {
    return length == strlen(name) && strncmp(word, name, length) == 0;
}

/* The level a word names, or 0. */
static int scp_level_of(const char *word, size_t length) {
    for (size_t i = 0; i < sizeof scp_levels / sizeof scp_levels[0]; i++)
        if (scp_word_is(word, length, scp_levels[i].name))
            return scp_levels[i].level;
    return 0;
}

/* A byte argument (references or hexadecimal pairs, no blanks) into bytes
   (capacity); its count, or -1 with the reason in message. The expansion
   is wiped: it may be a key. */
static int scp_argument(ScriptRun *run, const char *word, size_t length, unsigned char *bytes,
                        int capacity, const char *what, char *message, size_t size) {
    char token[SCRIPT_LINE_SIZE];
    char reason[SCRIPT_VALUE_MESSAGE_SIZE];
    int count = -1;

    snprintf(token, sizeof token, "%.*s", (int)length, word);
    if (!script_text_expand(run->values, token, SCRIPT_EXPAND_PATTERN, 0, run->expand,
                            sizeof run->expand, reason, sizeof reason))
        snprintf(message, size, "secure channel: %s", reason);
    else if ((count = hex_pairs_read(run->expand, bytes, capacity)) < 0)
        snprintf(message, size,
                 "secure channel: %s is not whole hexadecimal pairs of at most %d "
                 "bytes",
                 what, capacity);
    crypto_wipe(run->expand, strnlen(run->expand, sizeof run->expand));
    crypto_wipe(token, length);
    return count;
}

/* One byte: KVN or I. */
static int scp_byte_argument(ScriptRun *run, const char **at, int *value, const char *what,
                             char *message, size_t size) {
    const char *word;
    unsigned char byte;
    size_t length = scp_word(at, &word);

    if (length == 0 || scp_argument(run, word, length, &byte, 1, what, message, size) != 1) {
        snprintf(message, size, "secure channel: %s takes one byte", what);
        return 0;
    }
    *value = byte;
    return 1;
}

/* CHANNEL N: a logical channel, decimal. */
static int scp_channel_argument(const char **at, int *channel, char *message, size_t size) {
    const char *word;
    size_t length = scp_word(at, &word);
    int value = 0;

    for (size_t i = 0; i < length && value <= SCP_CHANNEL_MAX; i++)
        value = word[i] >= '0' && word[i] <= '9' ? value * 10 + (word[i] - '0') : 1000;
    if (length == 0 || value > SCP_CHANNEL_MAX) {
        snprintf(message, size, "secure channel: CHANNEL takes 0 to %d", SCP_CHANNEL_MAX);
        return 0;
    }
    *channel = value;
    return 1;
}

/* KEY K, or ENC K MAC K DEK K (in any order), each a key of one length. */
static int scp_read_key(ScriptRun *run, const char *name, size_t name_length, const char **at,
                        ScpLine *line, int *given, char *message, size_t size) {
    unsigned char *into[4] = {line->keys.enc, line->keys.mac, line->keys.dek, 0};
    const char *names[3] = {"ENC", "MAC", "DEK"};
    const char *word;
    size_t length = scp_word(at, &word);
    int which = scp_word_is(name, name_length, "KEY") ? 3 : 0;

    while (which < 3 && !scp_word_is(name, name_length, names[which]))
        which++;
    unsigned char *key = which == 3 ? line->keys.enc : into[which];
    int count =
        length ? scp_argument(run, word, length, key, SCP_KEY_MAX, "a key", message, size) : -1;
    if (count < 0) {
        if (length == 0)
            snprintf(message, size, "%s", scp_usage);
        return 0;
    }
    if (*given && (size_t)count != line->keys.length) {
        snprintf(message, size, "secure channel: keys of %d and %d bytes", (int)line->keys.length,
                 count);
        return 0;
    }
    line->keys.length = (size_t)count;
    if (which == 3) {
        memcpy(line->keys.mac, key, (size_t)count);
        memcpy(line->keys.dek, key, (size_t)count);
        *given |= 7;
    } else {
        *given |= 1 << which;
    }
    return 1;
}

/* HOST HEX: the host challenge. */
static int scp_read_host(ScriptRun *run, const char **at, ScpLine *line, char *message,
                         size_t size) {
    const char *value;
    size_t n = scp_word(at, &value);
    int count = n ? scp_argument(run, value, n, line->request.host, SCP_CHALLENGE_MAX, "HOST",
                                 message, size)
                  : -1;

    line->request.host_length = count > 0 ? (size_t)count : 0;
    line->host_given = 1;
    if (n == 0)
        snprintf(message, size, "%s", scp_usage);
    return count >= 0;
}

/* DIVERSIFY VISA2|EMV. */
static int scp_read_diversify(const char **at, ScpLine *line, char *message, size_t size) {
    const char *value;
    size_t n = scp_word(at, &value);

    line->request.diversify = scp_word_is(value, n, "VISA2") ? SCP_DIVERSIFY_VISA2
                              : scp_word_is(value, n, "EMV") ? SCP_DIVERSIFY_EMV
                                                             : -1;
    if (line->request.diversify >= 0)
        return 1;
    snprintf(message, size, "secure channel: DIVERSIFY takes VISA2 or EMV");
    return 0;
}

/* One option after the level; 0 with the reason in message. */
static int scp_read_option(ScriptRun *run, const char *word, size_t length, const char **at,
                           ScpLine *line, int *keys, char *message, size_t size) {
    if (scp_word_is(word, length, "KEY") || scp_word_is(word, length, "ENC") ||
        scp_word_is(word, length, "MAC") || scp_word_is(word, length, "DEK"))
        return scp_read_key(run, word, length, at, line, keys, message, size);
    if (scp_word_is(word, length, "KVN"))
        return scp_byte_argument(run, at, &line->request.kvn, "KVN", message, size);
    if (scp_word_is(word, length, "I"))
        return scp_byte_argument(run, at, &line->request.scp02_i, "I", message, size);
    if (scp_word_is(word, length, "CHANNEL"))
        return scp_channel_argument(at, &line->request.channel, message, size);
    if (scp_word_is(word, length, "S16")) {
        line->request.s16 = 1;
        return 1;
    }
    if (scp_word_is(word, length, "DIVERSIFY"))
        return scp_read_diversify(at, line, message, size);
    if (scp_word_is(word, length, "HOST"))
        return scp_read_host(run, at, line, message, size);
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
static int scp_read_line(ScriptRun *run, const char *at, ScpLine *line, char *message,
                         size_t size) {
    const char *word;
    size_t length = scp_word(&at, &word);
    int keys = 0;

    crypto_wipe(line, sizeof *line);
    line->request.scp02_i = -1;
    line->request.level = scp_level_of(word, length);
    if (line->request.level == 0 && length == 0)
        snprintf(message, size, "%s", scp_usage);
    else if (line->request.level == 0)
        snprintf(message, size, "secure channel: unknown level (%d character%s)", (int)length,
                 length == 1 ? "" : "s");
    if (line->request.level == 0)
        return 0;
    while ((length = scp_word(&at, &word)) > 0)
        if (!scp_read_option(run, word, length, &at, line, &keys, message, size))
            return 0;
    if (keys != 7) {
        snprintf(message, size, "%s", scp_usage);
        return 0;
    }
    return scp_host_challenge(line, message, size);
}

/* ---- Opening ---- */

/* The follow-up of an answer within the opening, into command (its new
   length), or 0 when the answer is final: 61xx brings GET RESPONSE on the
   channel, 6Cxx the command again with the Le asked for, but only when it
   had one (EXTERNAL AUTHENTICATE has none: its MAC must not be changed). */
static int scp_open_follow_up(const ScpSession *scp, unsigned char *command, int count,
                              const unsigned char *answer, int received) {
    if (received != 2 || count < 4)
        return 0;
    if (answer[0] == 0x61) {
        unsigned char get_response[5] = {scp_channel_cla(0, scp->channel), 0xC0, 0x00, 0x00,
                                         answer[1]};
        memcpy(command, get_response, 5);
        return 5;
    }
    if (answer[0] != 0x6C || !scp_apdu_has_le(command, count))
        return 0;
    command[count - 1] = answer[1];
    return count;
}

/* One exchange of the opening, traced like an APDU line, its 61xx and 6Cxx
   followed up here whatever "/T=0" says, so the answer is final. The
   answer's length, or -1 when an exchange failed (*error). */
static int scp_open_exchange(ScriptRun *run, unsigned char *command, int count,
                             unsigned char *answer, int *ms, int *error) {
    int took = 0, received = -1;

    *ms = 0;
    for (int round = 0; round <= SCP_FOLLOW_UPS && count > 0; round++) {
        if (run->trace)
            script_print_trace(run, "Sending", command, count);
        received =
            card_exchange_into(run->session, command, count, answer, SCP_ANSWER_MAX, error, &took);
        if (received < 0) {
            script_note_error(run, *error);
            script_print(run, "\r\nReader is busy, try later...\r\n");
            return -1;
        }
        *ms += took;
        if (run->trace)
            script_print_trace(run, "Received", answer, received);
        count = scp_open_follow_up(&run->channel->scp, command, count, answer, received);
    }
    return received;
}

/* The answer kept for R, SW and "/EXPECT". */
static void scp_keep_answer(ScriptRun *run, const unsigned char *answer, int count, int ms) {
    memcpy(run->values->response, answer, (size_t)count);
    run->values->response_length = count;
    run->response_count = count;
    run->response_ms = ms;
}

/* An answer whose status word is not 9000: the reason in message. */
static int scp_answered_ok(const unsigned char *answer, int count, const char *what, char *message,
                           size_t size) {
    if (count >= 2 && answer[count - 2] == 0x90 && answer[count - 1] == 0x00)
        return 1;
    if (count < 2)
        snprintf(message, size, "secure channel: %s answered %d bytes", what, count);
    else
        snprintf(message, size, "secure channel: %s answered %02X%02X", what, answer[count - 2],
                 answer[count - 1]);
    return 0;
}

/* SCP_KDD and SCP_DEK for PUT KEY; 0 with the reason in message. */
static int scp_set_values(ScriptRun *run, char *message, size_t size) {
    const ScpSession *scp = &run->channel->scp;

    return script_value_set(run->values, "SCP_KDD", scp->kdd, SCP_KDD_SIZE, message, size) &&
           script_value_set(run->values, "SCP_DEK", scp->dek, (int)scp->key_length, message, size);
}

/* INITIALIZE UPDATE, the card's cryptogram, EXTERNAL AUTHENTICATE. 1 when
   the channel is open, 0 with the reason in message, -1 when an exchange
   failed (*error). */
static int scp_open(ScriptRun *run, ScpLine *line, char *message, size_t size, int *error) {
    unsigned char command[SCP_AUTHENTICATE_SIZE], answer[SCP_ANSWER_MAX];
    char reason[SCP_MESSAGE_SIZE];
    int length = scp_initialize_update(&line->request, command);
    int ms = 0, ea_ms = 0;

    run->channel->scp.channel = line->request.channel; /* for the opening's GET RESPONSE */
    int received = scp_open_exchange(run, command, length, answer, &ms, error);
    if (received < 0)
        return -1;
    scp_keep_answer(run, answer, received, ms);
    if (!scp_answered_ok(answer, received, "INITIALIZE UPDATE", message, size))
        return 0;
    if (scp_authenticate(&run->channel->scp, &line->request, &line->keys, answer,
                         (size_t)received - 2, command, &length, &run->scp_space->work, reason,
                         sizeof reason) != SCP_OK) {
        snprintf(message, size, "secure channel: %s", reason);
        return 0;
    }
    received = scp_open_exchange(run, command, length, answer, &ea_ms, error);
    if (received < 0)
        return -1;
    scp_keep_answer(run, answer, received, ms + ea_ms);
    if (!scp_answered_ok(answer, received, "EXTERNAL AUTHENTICATE", message, size))
        return 0;
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
    const char *word;
    ScpLine line;
    size_t length = scp_word(&at, &word);
    const char *rest = at;
    int opened = 0, error = 0;

    script_channel_close(run);
    if (scp_word_is(word, length, "END") && scp_word(&rest, &word) == 0) {
        card_record_channel(run->session, 0);
        return 1;
    }
    int level = scp_level_of(word, length);
    snprintf(title, sizeof title, "/SCP%s%.*s", level ? " " : "", level ? (int)length : 0, word);
    card_record_channel(run->session, 1); /* not even the opening is recorded */
    if (!script_scp_room(run))
        snprintf(message, sizeof message, "secure channel: no memory");
    else if (scp_read_line(run, run->line + strlen("/SCP"), &line, message, sizeof message))
        opened = scp_open(run, &line, message, sizeof message, &error);
    crypto_wipe(&line, sizeof line);
    return scp_opened(run, opened, title, message, error);
}

/* ---- Exchanges while a channel is open ---- */

int script_scp_refuses(ScriptRun *run) {
    char message[SCRIPT_CHANNEL_PLACE_SIZE + 64];
    ScriptChannel *channel = run->channel;
    const char *moved = channel->state == SCRIPT_CHANNEL_OPEN ? script_channel_moved(run) : 0;

    if (moved)
        script_channel_break(run, moved);
    if (channel->state != SCRIPT_CHANNEL_BROKEN)
        return 0;
    snprintf(message, sizeof message, "not sent: the secure channel failed at %s",
             channel->broken_at);
    script_check_done(run, message);
    return 1;
}

int script_scp_follow_up(ScriptRun *run, int received) {
    const ScriptChannel *channel = run->channel;
    const unsigned char *response = run->values->response;

    if (channel->state != SCRIPT_CHANNEL_OPEN || received < 2 || !run->scp_space ||
        !scp_session_owns(&channel->scp, run->command, run->command_count))
        return -1;
    unsigned char sw1 = response[received - 2], sw2 = response[received - 1];
    if (sw1 == 0x61 && (received == 2 || run->scp_space->joined_length >= 0)) {
        snprintf(run->pending_line, SCRIPT_PENDING_SIZE, "%02XC00000%02X\n",
                 scp_channel_cla(0, channel->scp.channel), sw2);
        return 1;
    }
    if (sw1 == 0x6C && received == 2 && scp_apdu_has_le(run->command, run->command_count))
        return script_followup_line(run->pending_line, run->command, run->command_count, response,
                                    received);
    return 0;
}

/* GET RESPONSE is transport: never wrapped. */
static int scp_is_get_response(const unsigned char *command, int count) {
    return count >= 4 && (command[0] & 0x80) == 0 && command[1] == 0xC0;
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
    if (scp_is_get_response(run->command, count))
        return count;
    space->joined_length = -1; /* a new command: no answer in parts goes on */
    int status = scp_wrap(&run->channel->scp, run->command, count, run->resend, space->secured,
                          XFER_COMMAND_MAX, &length, &space->work, reason, sizeof reason);
    if (status != SCP_OK)
        return scp_line_fails(run, reason, status != SCP_BAD_COMMAND);
    *command = space->secured;
    if (run->trace)
        script_print_trace(run, "Secured", *command, length);
    return length;
}

/* Adds an answer's bytes to the joined answer; 0 when they do not fit. */
static int scp_join(ScriptScpSpace *space, const unsigned char *bytes, int count) {
    int at = space->joined_length < 0 ? 0 : space->joined_length;

    if (count > XFER_RESPONSE_MAX - at)
        return 0;
    memcpy(space->joined + at, bytes, (size_t)count);
    space->joined_length = at + count;
    return 1;
}

/* At R-MAC levels an answer behind 61xx comes in parts: each part's data
   is kept, and the last part (its status word not 61xx) completes the
   whole answer, which replaces it in answer. The answer's length then;
   -1 while parts are still to come; -2 when the whole is too long. */
static int scp_whole_answer(ScriptRun *run, unsigned char *answer, int received) {
    ScriptScpSpace *space = run->scp_space;

    if (!(run->channel->scp.level & SCP_LEVEL_RMAC))
        return received;
    if (received >= 2 && answer[received - 2] == 0x61)
        return scp_join(space, answer, received - 2) ? -1 : -2;
    if (space->joined_length < 0)
        return received;
    if (!scp_join(space, answer, received))
        return -2;
    received = space->joined_length;
    memcpy(answer, space->joined, (size_t)received);
    space->joined_length = -1;
    return received;
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
    int whole = scp_whole_answer(run, answer, received);
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
