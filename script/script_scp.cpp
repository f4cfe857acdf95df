/*
 * script_scp.cpp: GlobalPlatform secure channels in a run.
 *
 *   /SCP LEVEL KEYS [KVN HH] [DIVERSIFY VISA2|EMV] [HOST HEX] [S16] [I HH]
 *   /SCP END
 *
 * "/SCP LEVEL ..." sends INITIALIZE UPDATE, checks the card's cryptogram
 * (scp/scp.h) and only then sends EXTERNAL AUTHENTICATE; the line is a
 * check, named "/SCP LEVEL" in messages and reports, never with its keys.
 * While the channel is open every APDU line is wrapped and every answer
 * unwrapped; R, SW, "/EXPECT", "/OPEN" and -x see the plain answer. A GET
 * RESPONSE is transport and goes out as written; a 6Cxx re-send is the
 * plain command wrapped again with the Le the card asked for.
 *
 * A channel that fails (its /SCP line, or an answer whose MAC does not
 * match) is broken, not closed: a line meant for it must not go out in the
 * clear, so every APDU line fails like a check until "/SCP END" or the
 * next "/SCP". A card reset or a new card ends an open channel: the card
 * has ended its side.
 */
#include "script/script_scp.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/text_form.h"
#include "card/card_record.h"
#include "card/card_transmit.h"
#include "crypto/crypto.h"
#include "script/script_local.h"

enum {
    SCP_WORD_SHOWN = 40,  /* characters of the level word a title shows */
    SCP_FOLLOW_UPS = 4,   /* 61xx and 6Cxx answered within the opening, at most */
    SCP_ANSWER_MAX = 258, /* the opening's answers */
};

/* The room a run wraps in: too large for a thread's stack. */
struct ScriptScpSpace {
    ScpWork work;
    unsigned char secured[XFER_COMMAND_MAX];
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
    {"MAC", 0x01},          {"MAC+ENC", 0x03},           {"MAC+RMAC", 0x11},
    {"MAC+ENC+RMAC", 0x13}, {"MAC+ENC+RMAC+RENC", 0x33},
};

static const char scp_usage[] =
    "secure channel: /SCP takes LEVEL KEY K | ENC K MAC K DEK K [KVN HH] [DIVERSIFY VISA2|EMV] "
    "[HOST HEX] [S16] [I HH]";

/* ---- The channel's state ---- */

void script_channel_end(ScriptChannel *channel) {
    scp_session_wipe(&channel->scp);
    channel->state = SCRIPT_CHANNEL_NONE;
    channel->broken_at[0] = 0;
}

static void script_channel_break(ScriptRun *run) {
    ScriptChannel *channel = run->channel;

    script_channel_end(channel);
    channel->state = SCRIPT_CHANNEL_BROKEN;
    script_place_text(&run->place, channel->broken_at, sizeof channel->broken_at);
}

static unsigned long script_card_connection(CardSession *session) {
    platform_lock_enter(&session->card_lock);
    unsigned long connection = session->card_connections;
    platform_lock_leave(&session->card_lock);
    return connection;
}

static void script_channel_opened(ScriptRun *run) {
    run->channel->state = SCRIPT_CHANNEL_OPEN;
    run->channel->connection = script_card_connection(run->session);
}

static int script_scp_room(ScriptRun *run) {
    if (!run->scp_space)
        run->scp_space = (ScriptScpSpace *)malloc(sizeof *run->scp_space);
    return run->scp_space != 0;
}

void script_scp_free(ScriptRun *run) {
    if (run->channel == &run->own_channel)
        script_channel_end(run->channel);
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
    memset(run->expand, 0, strnlen(run->expand, sizeof run->expand));
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

/* One option after the level; 0 with the reason in message. */
static int scp_read_option(ScriptRun *run, const char *word, size_t length, const char **at,
                           ScpLine *line, int *keys, char *message, size_t size) {
    const char *value;
    size_t n;

    if (scp_word_is(word, length, "KEY") || scp_word_is(word, length, "ENC") ||
        scp_word_is(word, length, "MAC") || scp_word_is(word, length, "DEK"))
        return scp_read_key(run, word, length, at, line, keys, message, size);
    if (scp_word_is(word, length, "KVN"))
        return scp_byte_argument(run, at, &line->request.kvn, "KVN", message, size);
    if (scp_word_is(word, length, "I"))
        return scp_byte_argument(run, at, &line->request.scp02_i, "I", message, size);
    if (scp_word_is(word, length, "S16")) {
        line->request.s16 = 1;
        return 1;
    }
    if (scp_word_is(word, length, "DIVERSIFY")) {
        n = scp_word(at, &value);
        line->request.diversify = scp_word_is(value, n, "VISA2") ? SCP_DIVERSIFY_VISA2
                                  : scp_word_is(value, n, "EMV") ? SCP_DIVERSIFY_EMV
                                                                 : -1;
        if (line->request.diversify >= 0)
            return 1;
        snprintf(message, size, "secure channel: DIVERSIFY takes VISA2 or EMV");
        return 0;
    }
    if (scp_word_is(word, length, "HOST")) {
        n = scp_word(at, &value);
        int count = n ? scp_argument(run, value, n, line->request.host, SCP_CHALLENGE_MAX, "HOST",
                                     message, size)
                      : -1;
        line->request.host_length = count > 0 ? (size_t)count : 0;
        line->host_given = 1;
        if (n == 0)
            snprintf(message, size, "%s", scp_usage);
        return count >= 0;
    }
    snprintf(message, size, "%s", scp_usage);
    return 0;
}

/* The level word and everything after it; 0 with the reason in message. */
static int scp_read_line(ScriptRun *run, const char *at, ScpLine *line, char *message,
                         size_t size) {
    const char *word;
    size_t length = scp_word(&at, &word);
    int keys = 0;

    memset(line, 0, sizeof *line);
    line->request.scp02_i = -1;
    line->request.level = 0;
    for (size_t i = 0; i < sizeof scp_levels / sizeof scp_levels[0]; i++)
        if (scp_word_is(word, length, scp_levels[i].name))
            line->request.level = scp_levels[i].level;
    if (line->request.level == 0 && length == 0)
        snprintf(message, size, "%s", scp_usage);
    else if (line->request.level == 0)
        snprintf(message, size, "secure channel: unknown level %.*s",
                 (int)(length < 40 ? length : 40), word);
    if (line->request.level == 0)
        return 0;
    while ((length = scp_word(&at, &word)) > 0)
        if (!scp_read_option(run, word, length, &at, line, &keys, message, size))
            return 0;
    if (keys != 7) {
        snprintf(message, size, "%s", scp_usage);
        return 0;
    }
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

/* ---- Opening ---- */

/* One exchange of the opening, traced like an APDU line; 61xx and 6Cxx
   are followed up here, whatever "/T=0" says, so the answer is final.
   The answer's length, or -1 when the exchange failed. */
static int scp_open_exchange(ScriptRun *run, unsigned char *command, int count,
                             unsigned char *answer, int *ms) {
    int error = 0, took = 0, received = -1;

    *ms = 0;
    for (int round = 0; round <= SCP_FOLLOW_UPS; round++) {
        if (run->trace)
            script_print_trace(run, "Sending", command, count);
        received =
            card_exchange_into(run->session, command, count, answer, SCP_ANSWER_MAX, &error, &took);
        if (received < 0) {
            script_note_error(run, error);
            script_print(run, "\r\nReader is busy, try later...\r\n");
            return -1;
        }
        *ms += took;
        if (run->trace)
            script_print_trace(run, "Received", answer, received);
        if (received != 2 || (answer[0] != 0x61 && answer[0] != 0x6C) || count < 4)
            return received;
        if (answer[0] == 0x61) {
            unsigned char get_response[5] = {0x00, 0xC0, 0x00, 0x00, answer[1]};
            memcpy(command, get_response, 5);
        } else {
            command[count - 1] = answer[1]; /* the same command, the length asked for */
        }
        count = answer[0] == 0x61 ? 5 : count;
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
   failed. */
static int scp_open(ScriptRun *run, ScpLine *line, char *message, size_t size) {
    unsigned char command[SCP_AUTHENTICATE_SIZE], answer[SCP_ANSWER_MAX];
    int length = scp_initialize_update(&line->request, command);
    int ms = 0, ea_ms = 0;

    int received = scp_open_exchange(run, command, length, answer, &ms);
    if (received < 0)
        return -1;
    scp_keep_answer(run, answer, received, ms);
    if (!scp_answered_ok(answer, received, "INITIALIZE UPDATE", message, size))
        return 0;
    char reason[SCP_MESSAGE_SIZE];
    if (scp_authenticate(&run->channel->scp, &line->request, &line->keys, answer,
                         (size_t)received - 2, command, &length, &run->scp_space->work, reason,
                         sizeof reason) != SCP_OK) {
        snprintf(message, size, "secure channel: %s", reason);
        return 0;
    }
    received = scp_open_exchange(run, command, length, answer, &ea_ms);
    if (received < 0)
        return -1;
    scp_keep_answer(run, answer, received, ms + ea_ms);
    if (!scp_answered_ok(answer, received, "EXTERNAL AUTHENTICATE", message, size))
        return 0;
    return scp_set_values(run, message, size);
}

int script_do_scp(ScriptRun *run) {
    char message[SCRIPT_VALUE_MESSAGE_SIZE + SCP_MESSAGE_SIZE];
    char title[16 + SCP_WORD_SHOWN];
    const char *at = run->line + strlen("/SCP");
    const char *word;
    ScpLine line;
    size_t length = scp_word(&at, &word);
    const char *rest = at;

    if (scp_word_is(word, length, "END") && scp_word(&rest, &word) == 0) {
        script_channel_end(run->channel);
        card_record_channel(run->session, 0);
        return 1;
    }
    script_channel_end(run->channel);
    snprintf(title, sizeof title, "/SCP%s%.*s", length ? " " : "",
             (int)(length < (size_t)SCP_WORD_SHOWN ? length : (size_t)SCP_WORD_SHOWN), word);
    int opened = 0;
    card_record_channel(run->session, 1); /* not even the opening is recorded */
    if (!script_scp_room(run))
        snprintf(message, sizeof message, "secure channel: no memory");
    else if (scp_read_line(run, run->line + strlen("/SCP"), &line, message, sizeof message))
        opened = scp_open(run, &line, message, sizeof message);
    memset(&line, 0, sizeof line);
    if (opened > 0) {
        script_channel_opened(run);
        script_check_done_as(run, title, 0);
        return 1;
    }
    script_channel_break(run);
    if (opened < 0)
        return 0;
    script_check_done_as(run, title, message);
    return 1;
}

/* ---- Exchanges while a channel is open ---- */

int script_scp_refuses(ScriptRun *run) {
    char message[SCRIPT_CHANNEL_PLACE_SIZE + 64];
    ScriptChannel *channel = run->channel;

    if (channel->state == SCRIPT_CHANNEL_OPEN &&
        script_card_connection(run->session) != channel->connection) {
        script_channel_end(channel); /* the card was reset or replaced */
        card_record_channel(run->session, 0);
    }
    if (channel->state != SCRIPT_CHANNEL_BROKEN)
        return 0;
    snprintf(message, sizeof message, "not sent: the secure channel failed at %s",
             channel->broken_at);
    script_check_done(run, message);
    return 1;
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
        script_channel_break(run);
    run->values->response_length = 0;
    script_check_done(run, message);
    return SCRIPT_SCP_NOT_SENT;
}

int script_scp_exchange(ScriptRun *run, int count, int *error, int *ms) {
    char reason[SCP_MESSAGE_SIZE];
    const unsigned char *command = run->command;
    int length = count;

    if (run->channel->state != SCRIPT_CHANNEL_OPEN)
        return SCRIPT_SCP_PLAIN;
    if (!script_scp_room(run))
        return scp_line_fails(run, "no memory", 1);
    ScriptScpSpace *space = run->scp_space;
    if (!scp_is_get_response(run->command, count)) {
        int status = scp_wrap(&run->channel->scp, run->command, count, run->resend, space->secured,
                              XFER_COMMAND_MAX, &length, &space->work, reason, sizeof reason);
        if (status != SCP_OK)
            return scp_line_fails(run, reason, status != SCP_BAD_COMMAND);
        command = space->secured;
        if (run->trace)
            script_print_trace(run, "Secured", command, length);
    }
    unsigned char *answer = run->values->response;
    int received =
        card_exchange_into(run->session, command, length, answer, XFER_RESPONSE_MAX, error, ms);
    if (received < 0) {
        script_channel_end(run->channel); /* a card removed or reset ended its side */
        card_record_channel(run->session, 0);
        return -1;
    }
    if (run->trace)
        script_print_trace(run, "Received", answer, received);
    int plain = received;
    if (scp_unwrap(&run->channel->scp, answer, received, &plain, &space->work, reason,
                   sizeof reason) != SCP_OK)
        return scp_line_fails(run, reason, 1);
    if (run->trace)
        script_print_trace(run, "Plain", answer, plain);
    return plain;
}
