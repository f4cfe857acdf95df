/*
 * explain_tlv.cpp: the BER-TLV tree of a response's data, coded by the
 * rules of ITU-T X.690 as ISO/IEC 7816-4 uses them: tags of one to three
 * bytes, lengths in short form or 81 to 84, and 00 or FF bytes between
 * objects skipped as padding. A line per object: tag, length, name and, for
 * a primitive object, its value in hexadecimal.
 *
 * Design: one loop walks the data twice, first only to check it, so that
 * nothing goes to the sink for data that is not BER-TLV, then to write the
 * tree. The loop keeps the open constructed objects on a stack of
 * EXPLAIN_DEPTH_MAX entries instead of recursing, so no data can exhaust
 * the thread's stack; the value of a constructed object at the deepest
 * level is named, not parsed.
 */
#include "explain/explain_local.h"

#include <stdio.h>
#include <string.h>

#include "app/text_form.h"

enum { TLV_TAG_MAX = 3, TLV_LENGTH_BYTES_MAX = 4 };

typedef struct TlvLevel {
    size_t end;   /* where the value holding this level's objects ends */
    unsigned tag; /* the tag of that value's object, 0 for the data itself */
} TlvLevel;

typedef struct TlvName {
    unsigned tag;
    const char *name;
} TlvName;

/* Inside a file control template (62 FCP, 64 FMD, 6F FCI) the tags 80 to 8A
   describe the file. Elsewhere the same numbers mean other things (82 is
   the application interchange profile in a payment response), so the name
   follows the parent: these inside the three templates, the general table
   everywhere else. */
static const TlvName tlv_file_names[] = {
    {0x80, "data bytes in the file"},
    {0x81, "bytes in the file with structure information"},
    {0x82, "file descriptor"},
    {0x83, "file identifier"},
    {0x84, "DF name"},
    {0x85, "proprietary information"},
    {0x86, "security attributes (proprietary)"},
    {0x87, "FCI extension file identifier"},
    {0x88, "short EF identifier"},
    {0x8A, "life cycle status"},
};

static const TlvName tlv_names[] = {
    {0x4F, "application identifier"},
    {0x50, "application label"},
    {0x57, "track 2 equivalent data"},
    {0x5A, "application PAN"},
    {0x5F20, "cardholder name"},
    {0x5F24, "application expiration date"},
    {0x5F25, "application effective date"},
    {0x5F28, "issuer country code"},
    {0x5F2D, "language preference"},
    {0x5F34, "PAN sequence number"},
    {0x61, "application template"},
    {0x62, "FCP template"},
    {0x64, "FMD template"},
    {0x66, "card data"},
    {0x6F, "FCI template"},
    {0x70, "record template"},
    {0x73, "card recognition data"},
    {0x77, "response template format 2"},
    {0x80, "response template format 1"},
    {0x82, "application interchange profile"},
    {0x84, "DF name"},
    {0x87, "application priority indicator"},
    {0x88, "short file identifier"},
    {0x8C, "CDOL1 (card risk management data object list 1)"},
    {0x8D, "CDOL2 (card risk management data object list 2)"},
    {0x94, "application file locator"},
    {0x9F10, "issuer application data"},
    {0x9F12, "preferred name"},
    {0x9F26, "application cryptogram"},
    {0x9F27, "cryptogram information data"},
    {0x9F36, "application transaction counter"},
    {0x9F38, "PDOL (processing options data object list)"},
    {0x9F6E, "application production life cycle data"},
    {0xA5, "proprietary information"},
    {0xBF0C, "FCI issuer discretionary data"},
    {0xCF, "key diversification data"},
};

/* Tags whose value is text: it is shown in quotes after the hexadecimal. */
static const unsigned tlv_text_tags[] = {0x50, 0x5F20, 0x5F2D, 0x9F12};

/* Any other tag is named by its class (bits 8-7) and form (bit 6). */
static const char *const tlv_class_names[8] = {
    "universal primitive",     "universal constructed",      "application primitive",
    "application constructed", "context-specific primitive", "context-specific constructed",
    "private primitive",       "private constructed",
};

static const char *tlv_find_name(const TlvName *table, size_t count, unsigned tag) {
    for (size_t i = 0; i < count; i++) {
        if (table[i].tag == tag)
            return table[i].name;
    }
    return 0;
}

const char *explain_tlv_class_name(unsigned first_byte) {
    return tlv_class_names[(first_byte >> 5) & 7];
}

static const char *tlv_name(const TlvHeader *header, unsigned parent, unsigned first_byte) {
    const char *name = 0;
    if (parent == 0x62 || parent == 0x64 || parent == 0x6F)
        name = tlv_find_name(tlv_file_names, sizeof tlv_file_names / sizeof *tlv_file_names,
                             header->tag);
    if (!name)
        name = tlv_find_name(tlv_names, sizeof tlv_names / sizeof *tlv_names, header->tag);
    return name ? name : explain_tlv_class_name(first_byte);
}

static int tlv_fail(char *reason, size_t size, const char *what, size_t at) {
    if (reason && size)
        snprintf(reason, size, "%s at byte %lu", what, (unsigned long)at);
    return 0;
}

/* The tag at header->at: one byte, or a first byte with number bits 11111
   and subsequent bytes while bit 8 is set. */
static int tlv_read_tag(const unsigned char *data, size_t end, TlvHeader *header, char *reason,
                        size_t size) {
    size_t at = header->at;
    int more = (data[at] & 0x1F) == 0x1F;

    header->tag = data[at];
    header->constructed = (data[at] & 0x20) != 0;
    size_t next = at + 1;
    while (more) {
        if (next - at == TLV_TAG_MAX)
            return tlv_fail(reason, size, "tag longer than 3 bytes", at);
        if (next >= end)
            return tlv_fail(reason, size, "tag cut short", at);
        header->tag = header->tag << 8 | data[next];
        more = (data[next++] & 0x80) != 0;
    }
    header->tag_length = next - at;
    return 1;
}

/* The length after the tag, in short form or as 81 to 84 and that many
   bytes; the value must end within end. */
static int tlv_read_length(const unsigned char *data, const TlvLevel *level, TlvHeader *header,
                           char *reason, size_t size) {
    size_t at = header->at + header->tag_length;
    if (at >= level->end)
        return tlv_fail(reason, size, "length cut short", at);
    unsigned first = data[at];
    size_t count = first < 0x80 ? 0 : first & 0x7F;
    if (first == 0x80)
        return tlv_fail(reason, size, "indefinite length", at);
    if (first == 0xFF)
        return tlv_fail(reason, size, "reserved length byte FF", at);
    if (count > TLV_LENGTH_BYTES_MAX)
        return tlv_fail(reason, size, "length in more than 4 bytes", at);
    if (count >= level->end - at)
        return tlv_fail(reason, size, "length cut short", at);
    header->length = first < 0x80 ? first : 0;
    for (size_t i = 1; i <= count; i++)
        header->length = header->length << 8 | data[at + i];
    header->value = at + 1 + count;
    if (header->length <= level->end - header->value)
        return 1;
    if (level->tag == 0)
        return tlv_fail(reason, size, "length runs past the data", at);
    char what[48];
    int digits = level->tag > 0xFFFF ? 6 : level->tag > 0xFF ? 4 : 2;
    snprintf(what, sizeof what, "length runs past the enclosing %0*X", digits, level->tag);
    return tlv_fail(reason, size, what, at);
}

int explain_tlv_header(const unsigned char *data, size_t end, unsigned parent, TlvHeader *header,
                       char *reason, size_t size) {
    TlvLevel level;
    level.end = end;
    level.tag = parent;
    return tlv_read_tag(data, end, header, reason, size) &&
           tlv_read_length(data, &level, header, reason, size);
}

size_t explain_tlv_skip_padding(const unsigned char *data, size_t at, size_t end) {
    while (at < end && (data[at] == 0x00 || data[at] == 0xFF))
        at++;
    return at;
}

static void tlv_write_indent(ExplainOut *out, size_t depth) {
    static const char spaces[] = "                                                                ";
    size_t count = 2 * (depth - 1);
    explain_out_bytes(out, spaces, count < sizeof spaces - 1 ? count : sizeof spaces - 1);
}

static int tlv_is_text_tag(unsigned tag) {
    for (size_t i = 0; i < sizeof tlv_text_tags / sizeof *tlv_text_tags; i++) {
        if (tlv_text_tags[i] == tag)
            return 1;
    }
    return 0;
}

/* The value in quotes when every byte of it is printable ASCII */
static void tlv_write_text(ExplainOut *out, const unsigned char *value, size_t length) {
    for (size_t i = 0; i < length; i++) {
        if (value[i] < 0x20 || value[i] > 0x7E)
            return;
    }
    explain_out_text(out, " \"");
    explain_out_bytes(out, (const char *)value, length);
    explain_out_text(out, "\"");
}

/* LEN in hexadecimal with as many whole bytes as the length needs */
void explain_tlv_write_head(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                            size_t depth) {
    unsigned char length[sizeof(size_t)];
    size_t count = 0;
    for (size_t rest = header->length; count == 0 || rest; rest >>= 8)
        length[sizeof length - ++count] = (unsigned char)rest;

    tlv_write_indent(out, depth);
    explain_out_hex(out, data + header->at, header->tag_length);
    explain_out_text(out, " ");
    explain_out_hex(out, length + sizeof length - count, count);
}

/* "TAG LEN NAME" and, for a primitive, ": VALUE" */
static void tlv_write_object(ExplainOut *out, const unsigned char *data, const TlvHeader *header,
                             size_t depth, unsigned parent) {
    explain_tlv_write_head(out, data, header, depth);
    explain_out_format(out, " %s", tlv_name(header, parent, data[header->at]));
    if (!header->constructed && header->length) {
        explain_out_text(out, ": ");
        explain_out_hex(out, data + header->value, header->length);
        if (tlv_is_text_tag(header->tag))
            tlv_write_text(out, data + header->value, header->length);
    }
    explain_out_text(out, "\n");
}

/* A constructed object at the deepest level: its contents are not walked,
   and the tree says so. */
static int tlv_too_deep(ExplainOut *out, const TlvHeader *header, size_t depth) {
    if (depth < EXPLAIN_DEPTH_MAX)
        return 0;
    if (out && header->length) {
        tlv_write_indent(out, depth + 1);
        explain_out_format(out, "(%lu bytes not parsed: nested deeper than %d levels)\n",
                           (unsigned long)header->length, (int)EXPLAIN_DEPTH_MAX);
    }
    return 1;
}

/* One walk over data: checks it (out 0) or writes its tree (out given). */
static int tlv_walk(const unsigned char *data, size_t length, ExplainOut *out, char *reason,
                    size_t size) {
    TlvLevel stack[EXPLAIN_DEPTH_MAX];
    size_t depth = 1, at = 0, objects = 0;

    stack[0].end = length;
    stack[0].tag = 0;
    while (depth > 0) {
        const TlvLevel *level = &stack[depth - 1];
        at = explain_tlv_skip_padding(data, at, level->end);
        if (at == level->end) {
            depth--;
            continue;
        }
        TlvHeader header;
        header.at = at;
        if (!tlv_read_tag(data, level->end, &header, reason, size) ||
            !tlv_read_length(data, level, &header, reason, size))
            return 0;
        objects++;
        if (out)
            tlv_write_object(out, data, &header, depth, level->tag);
        at = header.value + header.length;
        if (!header.constructed || tlv_too_deep(out, &header, depth))
            continue;
        stack[depth].end = at;
        stack[depth].tag = header.tag;
        depth++;
        at = header.value;
    }
    if (objects == 0 && reason && size)
        snprintf(reason, size, "%s", length ? "padding bytes only, no object" : "no data");
    return objects > 0;
}

int explain_tlv_tree(ExplainOut *out, const unsigned char *data, size_t length, char *reason,
                     size_t reason_size) {
    if (!data)
        length = 0;
    if (reason && reason_size)
        reason[0] = 0;
    if (!tlv_walk(data, length, 0, reason, reason_size))
        return 0;
    tlv_walk(data, length, out, 0, 0);
    return 1;
}

int explain_tlv(const unsigned char *data, size_t length, ExplainSink sink, void *context,
                char *reason, size_t reason_size) {
    ExplainOut out;
    explain_out_start(&out, sink, context);
    int whole = explain_tlv_tree(&out, data, length, reason, reason_size);
    explain_out_end(&out);
    return whole;
}
