/*
 * explain_recognition.cpp: the card recognition data a GlobalPlatform card
 * gives for GET DATA 66: card data (66) holding the recognition data (73),
 * whose objects each hold an object identifier under {globalPlatform} =
 * 1.2.840.114283: 06 names the data itself {globalPlatform 1}, 60 the
 * card management version {globalPlatform 2 v}, 63 the card identification
 * scheme, 64 a secure channel protocol and its option i {globalPlatform 4
 * scp i} (one 64 a protocol), 65 the card configuration and 66 the card and
 * chip details.
 *
 * Cards write a protocol number past 7F (SCP80, SCP81) as the byte itself
 * rather than as an identifier's arc, so two bytes after {globalPlatform 4}
 * are read as the protocol and i; anything else as arcs.
 */
#include "explain/explain_local.h"

#include <stdio.h>
#include <string.h>

enum {
    OID_ARC_BYTES_MAX = 4, /* 28 bits an arc: more is not read as a number */
    GP_OID_SIZE = 6,       /* {globalPlatform} */
};

static const unsigned char gp_oid[GP_OID_SIZE] = {0x2A, 0x86, 0x48, 0x86, 0xFC, 0x6B};

typedef struct ScpBit {
    unsigned bit;
    const char *set, *clear;
} ScpBit;

static const ScpBit scp02_bits[] = {
    {0x01, "3 secure channel keys", "1 secure channel base key"},
    {0x02, "C-MAC on unmodified APDU", "C-MAC on modified APDU"},
    {0x04, "explicit initiation", "implicit initiation"},
    {0x08, "ICV set to MAC over AID", "ICV set to zero"},
    {0x10, "ICV encryption for C-MAC session", "no ICV encryption"},
    {0x20, "R-MAC support", "no R-MAC"},
    {0x40, "well-known pseudo-random algorithm (card challenge)",
     "card challenge generation unspecified"},
};

static const ScpBit scp03_bits[] = {
    {0x01, "S16 mode", "S8 mode"},
    {0x10, "pseudo-random card challenge", "random card challenge"},
    {0x20, "R-MAC support", "no R-MAC"},
    {0x40, "R-ENC support", "no R-ENC"},
};

/* The arc at *at, advanced past it; 0 when it is cut or too long. */
static int oid_arc(const unsigned char *bytes, size_t count, size_t *at, unsigned long *arc) {
    *arc = 0;
    for (size_t used = 0; *at < count; used++) {
        if (used == OID_ARC_BYTES_MAX)
            return 0;
        unsigned byte = bytes[(*at)++];
        *arc = *arc << 7 | (byte & 0x7F);
        if (!(byte & 0x80))
            return 1;
    }
    return 0;
}

/* 1 when every arc of the bytes reads */
static int oid_sound(const unsigned char *bytes, size_t count) {
    unsigned long arc;
    for (size_t at = 0; at < count;) {
        if (!oid_arc(bytes, count, &at, &arc))
            return 0;
    }
    return count > 0;
}

/* The arcs dotted; when whole, the first split in two as an identifier's
   first arc is (1.2 from 2A). */
static void oid_write(ExplainOut *out, const unsigned char *bytes, size_t count, int whole) {
    unsigned long arc;
    if (!oid_sound(bytes, count)) {
        explain_out_hex(out, bytes, count);
        explain_out_text(out, " (not an object identifier)");
        return;
    }
    for (size_t at = 0; at < count;) {
        int first = at == 0;
        oid_arc(bytes, count, &at, &arc);
        if (first && whole) {
            unsigned long top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            explain_out_format(out, "%lu.%lu", top, arc - 40 * top);
        } else {
            explain_out_format(out, "%s%lu", first ? "" : ".", arc);
        }
    }
}

/* The arcs after {globalPlatform n}, or 0 when the identifier is not one */
static const unsigned char *gp_arcs(const unsigned char *bytes, size_t count, unsigned n) {
    if (count <= GP_OID_SIZE || memcmp(bytes, gp_oid, GP_OID_SIZE) || bytes[GP_OID_SIZE] != n)
        return 0;
    return bytes + GP_OID_SIZE + 1;
}

static void scp_write_bits(ExplainOut *out, const ScpBit *bits, size_t count, unsigned i,
                           unsigned rfu) {
    for (size_t k = 0; k < count; k++)
        explain_out_format(out, "%s%s", k ? ", " : ": ",
                           i & bits[k].bit ? bits[k].set : bits[k].clear);
    if (i & rfu)
        explain_out_format(out, ", RFU bits %02X", i & rfu);
}

/* "SCP03 i=70: S8 mode, ..." from the bytes after {globalPlatform 4} */
static int scp_write(ExplainOut *out, const unsigned char *rest, size_t count) {
    unsigned long scp, i;
    size_t at = 0;
    if (count == 2) {
        scp = rest[0];
        i = rest[1];
    } else if (!oid_arc(rest, count, &at, &scp) || !oid_arc(rest, count, &at, &i) || at != count) {
        return 0;
    }
    explain_out_format(out, "SCP%02lX i=%0*lX", scp, i > 0xFF ? 4 : 2, i);
    if (scp == 0x02 && i <= 0xFF)
        scp_write_bits(out, scp02_bits, sizeof scp02_bits / sizeof *scp02_bits, (unsigned)i, 0x80);
    if (scp == 0x03 && i <= 0xFF)
        scp_write_bits(out, scp03_bits, sizeof scp03_bits / sizeof *scp03_bits, (unsigned)i, 0x8E);
    return 1;
}

/* One identifier inside 60 to 66: the version, the protocol, or dotted */
static void recognition_write_oid(ExplainOut *out, unsigned parent, const unsigned char *bytes,
                                  size_t count) {
    const unsigned char *rest = gp_arcs(bytes, count, parent == 0x60 ? 2 : 4);
    size_t left = rest ? count - (size_t)(rest - bytes) : 0;
    if (rest && parent == 0x60 && oid_sound(rest, left)) {
        explain_out_text(out, "GlobalPlatform ");
        oid_write(out, rest, left, 0);
        return;
    }
    if (rest && parent == 0x64 && scp_write(out, rest, left))
        return;
    oid_write(out, bytes, count, 1);
}

static const char *recognition_name(unsigned tag) {
    switch (tag) {
        case 0x60: return "card management type and version";
        case 0x63: return "card identification scheme";
        case 0x64: return "secure channel protocol";
        case 0x65: return "card configuration details";
        case 0x66: return "card / chip details";
        default: return 0;
    }
}

/* 60 to 66: "NAME: " and the identifiers inside, or the bytes when they
   are not BER-TLV */
static void recognition_write_field(ExplainOut *out, const unsigned char *data,
                                    const TlvHeader *field, size_t depth) {
    GpObjects run;
    TlvHeader inner;
    int objects = 0, sound = 1;
    explain_gp_objects_in(&run, data, field);
    while (sound && (sound = explain_gp_next(&run, &inner, 0, 0)) > 0)
        objects++;
    explain_tlv_write_head(out, data, field, depth);
    explain_out_format(out, " %s: ", recognition_name(field->tag));
    if (sound < 0 || objects == 0) {
        explain_out_hex(out, data + field->value, field->length);
        explain_out_text(out, sound < 0 ? " (not BER-TLV)\n" : "\n");
        return;
    }
    explain_gp_objects_in(&run, data, field);
    for (int k = 0; explain_gp_next(&run, &inner, 0, 0) > 0; k++) {
        explain_out_text(out, k ? ", " : "");
        if (inner.tag == 0x06) {
            recognition_write_oid(out, field->tag, data + inner.value, inner.length);
        } else {
            explain_out_hex(out, data + inner.at, inner.value + inner.length - inner.at);
        }
    }
    explain_out_text(out, "\n");
}

/* The objects of 73 */
static void recognition_write_items(ExplainOut *out, const unsigned char *data,
                                    const TlvHeader *template_, size_t depth) {
    GpObjects run;
    TlvHeader item;
    explain_gp_enter(&run, out, data, template_, depth, "card recognition data");
    while (explain_gp_next(&run, &item, out, depth + 1) > 0) {
        const unsigned char *value = data + item.value;
        if (item.tag == 0x06) {
            int own = gp_arcs(value, item.length, 1) == value + item.length;
            explain_tlv_write_head(out, data, &item, depth + 1);
            explain_out_text(out, own ? " GlobalPlatform card recognition data: "
                                      : " object identifier: ");
            oid_write(out, value, item.length, 1);
            explain_out_text(out, "\n");
        } else if (recognition_name(item.tag) && item.constructed) {
            recognition_write_field(out, data, &item, depth + 1);
        } else {
            explain_gp_write_other(out, data, &item, depth + 1);
        }
    }
}

int explain_recognition(ExplainOut *out, const unsigned char *data, size_t length) {
    GpObjects run, inner;
    TlvHeader object, item;
    if (explain_gp_start(&run, data, length, 0x73)) {
        while (explain_gp_next_of(&run, 0x73, &object, out, 1))
            recognition_write_items(out, data, &object, 1);
        return 1;
    }
    if (!explain_gp_start(&run, data, length, 0x66))
        return 0;
    while (explain_gp_next_of(&run, 0x66, &object, out, 1)) {
        explain_gp_enter(&inner, out, data, &object, 1, "card data");
        while (explain_gp_next_of(&inner, 0x73, &item, out, 2))
            recognition_write_items(out, data, &item, 2);
    }
    return 1;
}
