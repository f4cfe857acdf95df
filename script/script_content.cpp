/*
 * script_content.cpp: card content in a run: a Java Card package loaded
 * from its CAP file, an applet installed, content deleted, and values taken
 * from a CAP file.
 *
 *   /LOAD FILE [TO AID] [DESCRIPTOR] [HASH SHA-1|SHA-256] [BLOCK N]
 *   /INSTALL PACKAGE APPLET [AS INSTANCE] [PRIVILEGES HEX] [PARAMS HEX] [NOSELECT]
 *   /DELETE AID [RELATED]
 *   /SET NAME CAP FILE PACKAGE|APPLET N|VERSION|LOADFILE [DESCRIPTOR]|HASH ALG [DESCRIPTOR]
 *
 * Each directive is one check, named "/LOAD FILE", "/INSTALL" or "/DELETE":
 * everything it reads (the CAP file, the AIDs, the sizes) is checked before
 * anything is sent, and every command it sends must answer 9000; the first
 * that does not stops it, and the check says which step and what the status
 * word means. The commands (cap/cap.h builds them) are sent as APDU lines
 * are, traced and followed up after 61xx as "/T=0" asks, through the open
 * secure channel with its logical channel's class byte (80 without one);
 * a broken channel sends none of them. LOAD blocks are as large as a short
 * command takes once the channel has wrapped them, unless BLOCK says
 * otherwise.
 */
#include <stdio.h>
#include <string.h>

#include "cap/cap.h"
#include "crypto/crypto.h"
#include "explain/explain.h"
#include "script/script_local.h"
#include "script/script_words.h"

enum {
    CONTENT_ARG_ROOM = 256,   /* an AID, privileges or install parameters, read */
    CONTENT_TITLE_SIZE = 160, /* "/LOAD FILE", the file cut to fit */
    CONTENT_FAILED = -1,      /* an exchange failed: the run ends */
    CONTENT_REPORTED = -2,    /* the secure channel reported its own failure */
    CONTENT_MESSAGE_SIZE = 320,
};

/* One directive's line, being read */
struct ContentLine {
    ScriptArgs args;
    char reason[SCRIPT_VALUE_MESSAGE_SIZE]; /* the reader's reason */
};

static const char load_usage[] =
    "/LOAD takes FILE [TO AID] [DESCRIPTOR] [HASH SHA-1|SHA-256] [BLOCK N]";
static const char install_usage[] = "/INSTALL takes PACKAGE APPLET [AS INSTANCE] [PRIVILEGES HEX] "
                                    "[PARAMS HEX] [NOSELECT]";
static const char delete_usage[] = "/DELETE takes AID [RELATED]";
static const char set_usage[] = "CAP takes FILE PACKAGE|APPLET N|VERSION|LOADFILE [DESCRIPTOR]|"
                                "HASH SHA-1|SHA-256 [DESCRIPTOR]";

static void content_begin(ContentLine *line, ScriptRun *run, const char *text) {
    script_args_begin(&line->args, run->values, text, line->reason, sizeof line->reason);
}

/* The next word is word; it is then taken. */
static int content_keyword(ContentLine *line, const char *word) {
    const char *at = line->args.at;
    int length = 0;
    const char *next = script_word_next(&at, &length);

    if (!next || !script_word_is(next, length, word))
        return 0;
    line->args.at = at;
    return 1;
}

/* The next argument as bytes (at most max) into out; its count, or -1
   with the reason in message. */
static int content_bytes(ContentLine *line, const char *role, unsigned char *out, int max,
                         char *message, size_t size) {
    unsigned char room[CONTENT_ARG_ROOM];
    ScriptArg arg;

    if (script_args_bytes(&line->args, role, room, sizeof room, &arg) != SCRIPT_ARG_OK) {
        snprintf(message, size, "%s", line->reason);
        return -1;
    }
    if ((int)arg.count > max) {
        snprintf(message, size, "%s of %d bytes, at most %d", role, (int)arg.count, max);
        return -1;
    }
    memcpy(out, arg.bytes, arg.count);
    return (int)arg.count;
}

/* The next argument as an AID: 5 to 16 bytes. */
static int content_aid(ContentLine *line, const char *role, CapAid *aid, char *message,
                       size_t size) {
    int count = content_bytes(line, role, aid->bytes, CONTENT_ARG_ROOM, message, size);

    if (count >= 0 && (count < CAP_AID_MIN || count > CAP_AID_MAX)) {
        snprintf(message, size, "%s of %d bytes, an AID has %d to %d", role, count, CAP_AID_MIN,
                 CAP_AID_MAX);
        return 0;
    }
    aid->length = count;
    return count >= 0;
}

/* The CAP file named by the next word, found beside the script; 0 with
   the reason in message. file keeps the word. */
static int content_cap(ScriptRun *run, ContentLine *line, CapFile *cap, char *file, size_t room,
                       char *message, size_t size) {
    char path[SCRIPT_FILE_NAME_SIZE];
    int length = 0;
    const char *word = script_args_word(&line->args, &length);

    if (!word)
        return 0;
    snprintf(file, room, "%.*s", length, word);
    if (!script_path_beside(run, file, path, sizeof path)) {
        snprintf(message, size, "%s: name too long", file);
        return 0;
    }
    FILE *stream = platform_file_open(path, "rb");
    int read = stream && cap_read_stream(stream, file, cap); /* named as the line wrote it */
    if (stream)
        fclose(stream);
    if (read)
        return 1;
    if (stream)
        snprintf(message, size, "%s", cap->message);
    else
        snprintf(message, size, "%s: cannot be read", file);
    return 0;
}

/* ---- Sending ---- */

/* "answered 6A84 (not enough memory space)" for the answer in R and SW. */
static void content_answered(const ScriptRun *run, const char *step, char *message, size_t size) {
    const unsigned char *answer = run->values->response;
    int count = run->values->response_length;
    char meaning[EXPLAIN_SW_SIZE];

    if (count < 2) {
        snprintf(message, size, "%s answered %d bytes", step, count);
        return;
    }
    explain_sw(answer[count - 2], answer[count - 1], meaning, sizeof meaning);
    snprintf(message, size, "%s answered %02X%02X (%s)", step, answer[count - 2], answer[count - 1],
             meaning);
}

/* run->command (count bytes) sent as an APDU line is, its follow-ups
   included: 1 when it answered 9000; 0 with the reason in message;
   CONTENT_FAILED or CONTENT_REPORTED. */
static int content_send(ScriptRun *run, int count, const char *step, int *ms, char *message,
                        size_t size) {
    int error = 0;

    if (script_scp_refusal(run, message, size))
        return 0;
    run->chain = 0;
    run->resend = 0;
    int received = script_exchange_final(run, count, -1, &error, ms);
    if (received == -1)
        return CONTENT_FAILED;
    if (received == SCRIPT_SCP_NOT_SENT)
        return CONTENT_REPORTED;
    const unsigned char *answer = run->values->response;
    if (received >= 2 && answer[received - 2] == 0x90 && answer[received - 1] == 0x00)
        return 1;
    content_answered(run, step, message, size);
    return 0;
}

/* The directive's end: its check, unless the channel reported one. 0 when
   an exchange failed and the run ends. */
static int content_done(ScriptRun *run, int sent, const char *title, const char *message) {
    if (sent == CONTENT_FAILED)
        return 0;
    if (sent != CONTENT_REPORTED)
        script_check_done_as(run, title, sent > 0 ? 0 : message);
    return 1;
}

/* ---- /LOAD ---- */

/* What "/LOAD" asks for besides its file */
struct LoadRequest {
    unsigned char domain[CAP_AID_MAX];
    int domain_length;
    int descriptor; /* CAP_WITHOUT_DESCRIPTOR or CAP_WITH_DESCRIPTOR */
    int hash;       /* CRYPTO_SHA1, CRYPTO_SHA256, or -1: none */
    long block;     /* BLOCK N, or 0: as large as fits */
};

/* HASH's algorithm: CRYPTO_SHA1 or CRYPTO_SHA256, or -1. */
static int content_hash_word(ContentLine *line) {
    if (content_keyword(line, "SHA-1"))
        return CRYPTO_SHA1;
    return content_keyword(line, "SHA-256") ? CRYPTO_SHA256 : -1;
}

/* One option of "/LOAD"; 0 with the reason in message. */
static int content_load_option(ContentLine *line, LoadRequest *load, char *message, size_t size) {
    CapAid aid;

    if (content_keyword(line, "DESCRIPTOR")) {
        load->descriptor = CAP_WITH_DESCRIPTOR;
    } else if (content_keyword(line, "TO")) {
        if (!content_aid(line, "TO", &aid, message, size))
            return 0;
        memcpy(load->domain, aid.bytes, (size_t)aid.length);
        load->domain_length = aid.length;
    } else if (content_keyword(line, "HASH")) {
        if ((load->hash = content_hash_word(line)) < 0)
            return snprintf(message, size, "HASH takes SHA-1 or SHA-256"), 0;
    } else if (content_keyword(line, "BLOCK")) {
        if (script_args_number(&line->args, "BLOCK", &load->block) != SCRIPT_ARG_OK ||
            load->block < 1 || load->block > 65535)
            return snprintf(message, size, "BLOCK takes 1 to 65535"), 0;
    } else {
        return snprintf(message, size, "%s", load_usage), 0;
    }
    return 1;
}

/* INSTALL [for load], then every LOAD block. */
static int content_load_send(ScriptRun *run, const CapFile *cap, const LoadRequest *load,
                             char *message, size_t size) {
    unsigned char hash[CAP_HASH_MAX], cla;
    size_t hash_length = 0, room, length;
    const unsigned char *file = cap_load_file(cap, load->descriptor, &length);
    int ms = 0;

    script_scp_command_class(run, &cla, &room);
    size_t block = load->block ? (size_t)load->block : room;
    int blocks = cap_load_block_count(length, block);
    if (blocks < 0)
        return snprintf(message, size, "a load file of %lu bytes takes more than %d blocks of %lu",
                        (unsigned long)length, CAP_LOAD_BLOCKS_MAX, (unsigned long)block),
               0;
    if (load->hash >= 0 && cap_load_file_hash(cap, load->descriptor, load->hash, hash, sizeof hash,
                                              &hash_length, message, size) != CRYPTO_OK)
        return 0;
    int count = cap_install_for_load(cla, &cap->package, load->domain, load->domain_length, hash,
                                     (int)hash_length, run->command, XFER_COMMAND_MAX);
    int sent = content_send(run, count, "INSTALL [for load]", &ms, message, size);
    for (int i = 0; sent > 0 && i < blocks; i++) {
        char step[48];
        snprintf(step, sizeof step, "LOAD block %d of %d", i + 1, blocks);
        count = cap_load_command(cla, file, length, block, i, run->command, XFER_COMMAND_MAX);
        sent = content_send(run, count, step, &ms, message, size);
    }
    return sent;
}

int script_do_load(ScriptRun *run) {
    char message[CONTENT_MESSAGE_SIZE] = "";
    char title[CONTENT_TITLE_SIZE], file[SCRIPT_FILE_NAME_SIZE] = "";
    ContentLine line;
    LoadRequest load = {{0}, 0, CAP_WITHOUT_DESCRIPTOR, -1, 0};
    CapFile cap;
    int sent = 0;

    content_begin(&line, run, run->line + strlen("/LOAD"));
    int read = content_cap(run, &line, &cap, file, sizeof file, message, sizeof message);
    int held = read;
    if (!read && !file[0])
        snprintf(message, sizeof message, "%s", load_usage);
    while (read && script_words_count(line.args.at) > 0)
        read = content_load_option(&line, &load, message, sizeof message);
    if (read)
        sent = content_load_send(run, &cap, &load, message, sizeof message);
    if (held)
        cap_free(&cap);
    snprintf(title, sizeof title, "/LOAD%s%.*s", file[0] ? " " : "", CONTENT_TITLE_SIZE - 8, file);
    return content_done(run, sent, title, message);
}

/* ---- /INSTALL ---- */

/* One option of "/INSTALL"; 0 with the reason in message. */
static int content_install_option(ContentLine *line, CapInstall *install, unsigned char *params,
                                  char *message, size_t size) {
    int count;

    if (content_keyword(line, "NOSELECT")) {
        install->selectable = 0;
    } else if (content_keyword(line, "AS")) {
        return content_aid(line, "AS", &install->instance, message, size);
    } else if (content_keyword(line, "PRIVILEGES")) {
        count = content_bytes(line, "PRIVILEGES", install->privileges, 3, message, size);
        if (count == 1 || count == 3)
            install->privileges_length = count;
        else if (count >= 0)
            snprintf(message, size, "PRIVILEGES of %d bytes, 1 or 3 wanted", count);
        return count == 1 || count == 3;
    } else if (content_keyword(line, "PARAMS")) {
        count = content_bytes(line, "PARAMS", params, CAP_PARAMS_MAX, message, size);
        install->params_length = count;
        return count >= 0;
    } else {
        snprintf(message, size, "%s", install_usage);
        return 0;
    }
    return 1;
}

/* The line read into install (params its parameters' room); 0 with the
   reason in message. */
static int content_install_read(ContentLine *line, CapInstall *install, unsigned char *params,
                                char *message, size_t size) {
    int read;

    memset(install, 0, sizeof *install);
    install->privileges_length = 1; /* 00: no privilege */
    install->params = params;
    install->selectable = 1;
    if (script_words_count(line->args.at) < 2) {
        snprintf(message, size, "%s", install_usage);
        return 0;
    }
    read = content_aid(line, "PACKAGE", &install->package, message, size) &&
           content_aid(line, "APPLET", &install->module, message, size);
    install->instance = install->module; /* the module's AID, unless AS says */
    while (read && script_words_count(line->args.at) > 0)
        read = content_install_option(line, install, params, message, size);
    return read;
}

int script_do_install(ScriptRun *run) {
    char message[CONTENT_MESSAGE_SIZE] = "";
    unsigned char params[CAP_PARAMS_MAX], cla;
    ContentLine line;
    CapInstall install;
    size_t room;
    int sent = 0, ms = 0;

    content_begin(&line, run, run->line + strlen("/INSTALL"));
    if (content_install_read(&line, &install, params, message, sizeof message)) {
        script_scp_command_class(run, &cla, &room);
        int count = cap_install_for_install(cla, &install, run->command, XFER_COMMAND_MAX);
        if (count < 0)
            snprintf(message, sizeof message, "INSTALL data longer than a short command takes");
        else
            sent = content_send(run, count,
                                install.selectable ? "INSTALL [for install and make selectable]"
                                                   : "INSTALL [for install]",
                                &ms, message, sizeof message);
    }
    return content_done(run, sent, "/INSTALL", message);
}

/* ---- /DELETE ---- */

int script_do_delete(ScriptRun *run) {
    char message[CONTENT_MESSAGE_SIZE] = "";
    unsigned char cla;
    ContentLine line;
    CapAid aid;
    size_t room;
    int sent = 0, ms = 0;

    content_begin(&line, run, run->line + strlen("/DELETE"));
    int read = script_words_count(line.args.at) > 0 &&
               content_aid(&line, "AID", &aid, message, sizeof message);
    int related = read && content_keyword(&line, "RELATED");
    if (read && script_words_count(line.args.at) > 0)
        read = 0;
    if (!read && !message[0])
        snprintf(message, sizeof message, "%s", delete_usage);
    if (read) {
        script_scp_command_class(run, &cla, &room);
        int count = cap_delete(cla, &aid, related, run->command, XFER_COMMAND_MAX);
        sent = content_send(run, count, "DELETE", &ms, message, sizeof message);
    }
    return content_done(run, sent, "/DELETE", message);
}

/* ---- /SET NAME CAP ---- */

/* The part of the CAP file the line names, as bytes: *bytes points into
   cap or into small (room for a hash); 0 with the reason in message. */
static int content_part(ContentLine *line, const CapFile *cap, unsigned char *small,
                        const unsigned char **bytes, size_t *count, char *message, size_t size) {
    long n = 0;

    *bytes = small;
    if (content_keyword(line, "PACKAGE")) {
        *bytes = cap->package.bytes;
        *count = (size_t)cap->package.length;
    } else if (content_keyword(line, "VERSION")) {
        cap_package_version(cap, small);
        *count = 2;
    } else if (content_keyword(line, "APPLET")) {
        const CapAid *applet = script_args_number(&line->args, "APPLET", &n) == SCRIPT_ARG_OK
                                   ? cap_applet(cap, (int)n)
                                   : 0;
        if (!applet)
            return snprintf(message, size, "APPLET %ld: the file has %d applets", n,
                            cap->applet_count),
                   0;
        *bytes = applet->bytes;
        *count = (size_t)applet->length;
    } else if (content_keyword(line, "LOADFILE")) {
        int descriptor = content_keyword(line, "DESCRIPTOR");
        *bytes = cap_load_file(cap, descriptor, count);
    } else if (content_keyword(line, "HASH")) {
        int hash = content_hash_word(line);
        int descriptor = content_keyword(line, "DESCRIPTOR");
        if (hash < 0)
            return snprintf(message, size, "HASH takes SHA-1 or SHA-256"), 0;
        return cap_load_file_hash(cap, descriptor, hash, small, CAP_HASH_MAX, count, message,
                                  size) == CRYPTO_OK;
    } else {
        return snprintf(message, size, "%s", set_usage), 0;
    }
    return 1;
}

/* The value name gets the part; 0 with the reason in message. */
static int content_set_part(ScriptRun *run, ContentLine *line, const CapFile *cap, const char *name,
                            char *message, size_t size) {
    unsigned char small[CAP_HASH_MAX];
    const unsigned char *bytes;
    size_t count = 0;

    if (!content_part(line, cap, small, &bytes, &count, message, size))
        return 0;
    if (script_words_count(line->args.at) > 0)
        return snprintf(message, size, "%s", set_usage), 0;
    if (count > SCRIPT_VALUE_MAX)
        return snprintf(message, size, "a load file of %lu bytes is longer than a value's %d",
                        (unsigned long)count, SCRIPT_VALUE_MAX),
               0;
    return script_value_set(run->values, name, bytes, (int)count, message, size);
}

void script_content_set(ScriptRun *run, const char *name, const char *text, const char *title) {
    char message[CONTENT_MESSAGE_SIZE] = "";
    char file[SCRIPT_FILE_NAME_SIZE] = "";
    ContentLine line;
    CapFile cap;

    content_begin(&line, run, text);
    if (!content_cap(run, &line, &cap, file, sizeof file, message, sizeof message)) {
        if (!file[0])
            snprintf(message, sizeof message, "%s", set_usage);
        script_check_done_as(run, title, message);
        return;
    }
    int set = content_set_part(run, &line, &cap, name, message, sizeof message);
    cap_free(&cap);
    if (!set)
        script_check_done_as(run, title, message);
}
