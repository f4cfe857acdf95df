/*
 * explain_gp.cpp: which command an answer belongs to, and what is common to
 * the GlobalPlatform answers told field by field.
 *
 * GET STATUS is INS F2 with a GlobalPlatform class: 80 (or 84 with secure
 * messaging), the same on logical channels 1 to 3 (81-83, 85-87) and 4 to
 * 19 (C0-CF, E0-EF). GET DATA is INS CA (or CB) with P1 P2 the tag asked
 * for, in those classes or the interindustry ones (00-0F, 40-4F, 60-6F).
 * Any other command, or none, leaves the answer to the status word's
 * meaning and the BER-TLV tree, as before commands were known.
 */
#include "explain/explain_local.h"

#include <stdio.h>

typedef enum GpCommand {
    GP_NONE,
    GP_GET_STATUS,
    GP_CPLC,        /* GET DATA 9F7F */
    GP_RECOGNITION, /* GET DATA 0066 */
    GP_KEYS,        /* GET DATA 00E0 */
    GP_COUNTER,     /* GET DATA 00C1 */
} GpCommand;

enum { GP_HEADER_SIZE = 4 }; /* CLA INS P1 P2: all a command's kind needs */

static int gp_class(unsigned cla) {
    return (cla & 0xF8) == 0x80 || (cla & 0xF0) == 0xC0 || (cla & 0xF0) == 0xE0;
}

static int gp_iso_class(unsigned cla) {
    return (cla & 0xF0) == 0x00 || (cla & 0xF0) == 0x40 || (cla & 0xF0) == 0x60;
}

static GpCommand gp_command(const unsigned char *command, size_t count) {
    if (!command || count < GP_HEADER_SIZE)
        return GP_NONE;
    unsigned cla = command[0], ins = command[1];
    if (ins == 0xF2)
        return gp_class(cla) ? GP_GET_STATUS : GP_NONE;
    if ((ins != 0xCA && ins != 0xCB) || !(gp_class(cla) || gp_iso_class(cla)))
        return GP_NONE;
    switch (command[2] << 8 | command[3]) {
        case 0x9F7F: return GP_CPLC;
        case 0x0066: return GP_RECOGNITION;
        case 0x00E0: return GP_KEYS;
        case 0x00C1: return GP_COUNTER;
        default: return GP_NONE;
    }
}

int explain_gp_answer(ExplainOut *out, const unsigned char *command, size_t command_count,
                      const unsigned char *data, size_t length) {
    switch (gp_command(command, command_count)) {
        case GP_GET_STATUS: return explain_status(out, command[2], command[3], data, length);
        case GP_CPLC: return explain_cplc(out, data, length);
        case GP_RECOGNITION: return explain_recognition(out, data, length);
        case GP_KEYS: return explain_keys(out, data, length);
        case GP_COUNTER: return explain_counter(out, data, length);
        default: return 0;
    }
}

/* 63 10 after GET STATUS: the card has more entries than one answer holds;
   the same command with P2 b1 set gives the next ones. */
const char *explain_gp_sw(const unsigned char *command, size_t command_count, unsigned sw1,
                          unsigned sw2) {
    if (sw1 != 0x63 || sw2 != 0x10 || gp_command(command, command_count) != GP_GET_STATUS)
        return 0;
    return command[3] & 0x02 ? "more data: repeat with P2 b1 set (03 after 02)"
                             : "more data: repeat with P2 b1 set (01 after 00)";
}

const char *explain_name_find(const ExplainName *table, size_t count, unsigned value) {
    for (size_t i = 0; i < count; i++) {
        if (table[i].value == value)
            return table[i].name;
    }
    return 0;
}

/* Reading object by object */

void explain_gp_objects(GpObjects *run, const unsigned char *data, size_t at, size_t end,
                        unsigned parent) {
    run->data = data;
    run->at = at;
    run->end = end;
    run->parent = parent;
}

void explain_gp_objects_in(GpObjects *run, const unsigned char *data, const TlvHeader *header) {
    explain_gp_objects(run, data, header->value, header->value + header->length, header->tag);
}

void explain_gp_enter(GpObjects *run, ExplainOut *out, const unsigned char *data,
                      const TlvHeader *header, size_t depth, const char *name) {
    explain_tlv_write_head(out, data, header, depth);
    explain_out_format(out, " %s\n", name);
    explain_gp_objects_in(run, data, header);
}

int explain_gp_next(GpObjects *run, TlvHeader *header, ExplainOut *out, size_t depth) {
    char reason[EXPLAIN_REASON_SIZE];
    run->at = explain_tlv_skip_padding(run->data, run->at, run->end);
    if (run->at >= run->end)
        return 0;
    header->at = run->at;
    if (!explain_tlv_header(run->data, run->end, run->parent, header, reason, sizeof reason)) {
        run->at = run->end;
        if (out)
            explain_out_format(out, "%*s(the rest is not BER-TLV: %s)\n", (int)(2 * (depth - 1)),
                               "", reason);
        return -1;
    }
    run->at = header->value + header->length;
    return 1;
}

int explain_gp_start(GpObjects *run, const unsigned char *data, size_t length, unsigned tag) {
    TlvHeader first;
    explain_gp_objects(run, data, 0, length, 0);
    int found = explain_gp_next(run, &first, 0, 0) > 0 && first.tag == tag;
    explain_gp_objects(run, data, 0, length, 0);
    return found;
}

int explain_gp_next_of(GpObjects *run, unsigned tag, TlvHeader *object, ExplainOut *out,
                       size_t depth) {
    while (explain_gp_next(run, object, out, depth) > 0) {
        if (object->tag == tag)
            return 1;
        explain_gp_write_other(out, run->data, object, depth);
    }
    return 0;
}

void explain_gp_write_named(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                            size_t depth, const char *name) {
    explain_tlv_write_head(out, data, header, depth);
    explain_out_format(out, " %s", name);
    if (header->length) {
        explain_out_text(out, ": ");
        explain_out_hex(out, data + header->value, header->length);
    }
    explain_out_text(out, "\n");
}

void explain_gp_write_other(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                            size_t depth) {
    explain_gp_write_named(out, data, header, depth, explain_tlv_class_name(data[header->at]));
}
