/*
 * explain_atr.cpp: an ATR item by item, as ISO/IEC 7816-3 codes it: TS, T0,
 * each interface byte with its meaning, the protocols offered, the
 * historical bytes by category with their compact-TLV objects (ISO/IEC
 * 7816-4) and the check byte TCK. One line per item.
 *
 * Every byte is read through atr_take, which writes where the ATR is cut
 * when the byte is missing: nothing is read past the length, and a cut ATR
 * is explained as far as it goes.
 */
#include "explain/explain_local.h"

#include <stdio.h>
#include <string.h>

enum {
    ATR_LENGTH_MAX = 33,     /* TS and at most 32 further bytes */
    ATR_PROTOCOL_COUNT = 16, /* T=0 to T=15 */
    ATR_ITEM_SIZE = 16,      /* "TA123" and the like */
};

typedef struct AtrWalk {
    const unsigned char *atr;
    size_t length;
    size_t at; /* the next byte to read */
    ExplainOut *out;
    unsigned char offered[ATR_PROTOCOL_COUNT]; /* in the order the TD bytes name them */
    size_t offered_count;
    int tck_present; /* a protocol other than T=0 is named */
} AtrWalk;

/* Fi and the highest clock frequency (kHz) by FI, Di by DI; 0 is reserved. */
static const unsigned atr_fi[16] = {372, 372, 558, 744,  1116, 1488, 1860, 0,
                                    0,   512, 768, 1024, 1536, 2048, 0,    0};
static const unsigned atr_fmax_khz[16] = {4000, 5000, 6000, 8000,  12000, 16000, 20000, 0,
                                          0,    5000, 7500, 10000, 15000, 20000, 0,     0};
static const unsigned atr_di[16] = {0, 1, 2, 4, 8, 16, 32, 64, 12, 20, 0, 0, 0, 0, 0, 0};

static const char *const atr_compact_names[16] = {
    "reserved",
    "country code",
    "issuer identification number",
    "card service data",
    "initial access data",
    "card issuer's data",
    "pre-issuing data",
    "card capabilities",
    "status indicator",
    "reserved",
    "reserved",
    "reserved",
    "reserved",
    "reserved",
    "reserved",
    "application identifier",
};

/* The next byte, or 0 after a last line saying that item is missing. */
static int atr_take(AtrWalk *walk, const char *item, unsigned *value) {
    if (walk->at >= walk->length) {
        explain_out_format(walk->out, "cut at byte %lu: %s missing\n", (unsigned long)walk->at,
                           item);
        return 0;
    }
    *value = walk->atr[walk->at++];
    return 1;
}

/* "TAi TBi present" for the bits 8-5 of T0 or TD(i-1) (TD counted only when
   with_td); returns 0 when none is present. */
static int atr_write_presence(ExplainOut *out, unsigned y, unsigned group, int with_td) {
    int any = 0;
    for (int kind = 0; kind < (with_td ? 4 : 3); kind++) {
        if (y & (1u << kind))
            explain_out_format(out, "%sT%c%u", any++ ? " " : "", "ABCD"[kind], group);
    }
    if (any)
        explain_out_text(out, " present");
    return any;
}

static int atr_ts(AtrWalk *walk) {
    unsigned ts;
    if (!atr_take(walk, "TS", &ts))
        return 0;
    if (ts == 0x3B || ts == 0x3F) {
        explain_out_format(walk->out, "TS %02X: %s convention\n", ts,
                           ts == 0x3B ? "direct" : "inverse");
        return 1;
    }
    explain_out_format(walk->out, "TS %02X: not an ATR (TS is 3B or 3F)\n", ts);
    return 0;
}

static int atr_t0(AtrWalk *walk, unsigned *t0) {
    if (!atr_take(walk, "T0", t0))
        return 0;
    unsigned count = *t0 & 0x0F;
    explain_out_format(walk->out, "T0 %02X: ", *t0);
    if (!atr_write_presence(walk->out, *t0 >> 4, 1, 1))
        explain_out_text(walk->out, "no interface bytes");
    if (count == 0)
        explain_out_text(walk->out, "; no historical bytes\n");
    else
        explain_out_format(walk->out, "; %u historical byte%s\n", count, count == 1 ? "" : "s");
    return 1;
}

static void atr_write_ta1(ExplainOut *out, unsigned value) {
    unsigned fi = atr_fi[value >> 4], di = atr_di[value & 0x0F];
    unsigned khz = atr_fmax_khz[value >> 4];
    if (!fi || !di) {
        explain_out_format(out, "FI %u%s, DI %u%s", value >> 4, fi ? "" : " reserved", value & 0x0F,
                           di ? "" : " reserved");
        return;
    }
    unsigned long long rate = ((unsigned long long)khz * 1000 * di + fi / 2) / fi;
    explain_out_format(out, "Fi %u, Di %u: fmax %u", fi, di, khz / 1000);
    if (khz % 1000)
        explain_out_format(out, ".%u", khz % 1000 / 100);
    explain_out_format(out, " MHz, %llu bit/s at fmax", rate);
}

static void atr_write_ta2(ExplainOut *out, unsigned value) {
    explain_out_format(out, "specific mode T=%u, %s, %s", value & 0x0F,
                       value & 0x10 ? "implicit parameters" : "Fi Di from TA1",
                       value & 0x80 ? "not changeable" : "changeable");
    if (value & 0x60)
        explain_out_text(out, ", reserved bits set");
}

static void atr_write_tc1(ExplainOut *out, unsigned value) {
    if (value == 0)
        explain_out_text(out, "no extra guard time");
    else if (value == 0xFF)
        explain_out_text(out, "extra guard time 255 (minimum: 12 etu for T=0, 11 for T=1)");
    else
        explain_out_format(out, "extra guard time %u etu", value);
}

/* TA, TB, TC after a TD naming T=1 */
static void atr_write_t1_byte(ExplainOut *out, int kind, unsigned value) {
    if (kind == 0)
        explain_out_format(out, "T=1 IFSC %u%s", value,
                           value == 0 || value == 0xFF ? " (reserved)" : " bytes");
    else if (kind == 1)
        explain_out_format(out, "T=1 BWI %u%s, CWI %u", value >> 4,
                           value >> 4 > 9 ? " (reserved)" : "", value & 0x0F);
    else
        explain_out_format(out, "T=1 error detection %s%s", value & 1 ? "CRC" : "LRC",
                           value & 0xFE ? ", reserved bits set" : "");
}

/* TA, TB, TC after a TD naming T=15: global parameters */
static void atr_write_t15_byte(ExplainOut *out, int kind, unsigned value) {
    static const char *const clock_stop[4] = {"not supported", "state L", "state H",
                                              "no preference"};
    if (kind == 1) {
        explain_out_text(out, value == 0     ? "C6 (SPU) not used"
                              : value & 0x80 ? "C6 (SPU) for proprietary use"
                                             : "C6 (SPU) for standard use");
        return;
    }
    if (kind == 2) {
        explain_out_text(out, "T=15 byte, reserved");
        return;
    }
    explain_out_format(out, "clock stop: %s; classes:", clock_stop[value >> 6]);
    if (value & 0x01)
        explain_out_text(out, " A (5 V)");
    if (value & 0x02)
        explain_out_text(out, " B (3 V)");
    if (value & 0x04)
        explain_out_text(out, " C (1.8 V)");
    if (!(value & 0x07))
        explain_out_text(out, " none given");
    if (value & 0x38)
        explain_out_text(out, ", reserved class bits set");
}

/* The meaning of TA (kind 0), TB (1) or TC (2) of a group; protocol is
   the T that TD(group-1) names. */
static void atr_write_interface_byte(ExplainOut *out, int kind, unsigned group, unsigned protocol,
                                     unsigned value) {
    if (group <= 2 && kind == 1)
        explain_out_text(out, value == 0 ? "no programming voltage (deprecated)"
                                         : "programming voltage (deprecated, to be ignored)");
    else if (group == 1 && kind == 0)
        atr_write_ta1(out, value);
    else if (group == 1)
        atr_write_tc1(out, value);
    else if (group == 2 && kind == 0)
        atr_write_ta2(out, value);
    else if (group == 2)
        explain_out_format(out, "T=0 waiting integer WI %u%s", value, value ? "" : " (reserved)");
    else if (protocol == 1)
        atr_write_t1_byte(out, kind, value);
    else if (protocol == 15)
        atr_write_t15_byte(out, kind, value);
    else
        explain_out_format(out, "T=%u parameter, not interpreted", protocol);
}

/* TDi: the bytes of the next group and the protocol it names. */
static void atr_td(AtrWalk *walk, unsigned group, unsigned value) {
    unsigned protocol = value & 0x0F;
    ExplainOut *out = walk->out;

    explain_out_format(out, "TD%u %02X: ", group, value);
    if (atr_write_presence(out, value >> 4, group + 1, 1))
        explain_out_text(out, "; ");
    explain_out_format(out, "T=%u", protocol);
    if (protocol == 15)
        explain_out_text(out, group == 1 ? " (not allowed in TD1)" : " (global parameters)");
    else if (protocol == 14)
        explain_out_text(out, " (not standardised)");
    else if (protocol > 1)
        explain_out_text(out, " (reserved)");
    explain_out_text(out, "\n");

    if (protocol != 0)
        walk->tck_present = 1;
    if (protocol == 15 || memchr(walk->offered, (int)protocol, walk->offered_count))
        return;
    walk->offered[walk->offered_count++] = (unsigned char)protocol;
}

static int atr_interface(AtrWalk *walk, unsigned y) {
    unsigned protocol = 0;
    char item[ATR_ITEM_SIZE];
    unsigned value;

    for (unsigned group = 1;; group++) {
        for (int kind = 0; kind < 3; kind++) {
            if (!(y & (1u << kind)))
                continue;
            snprintf(item, sizeof item, "T%c%u", "ABC"[kind], group);
            if (!atr_take(walk, item, &value))
                return 0;
            explain_out_format(walk->out, "%s %02X: ", item, value);
            atr_write_interface_byte(walk->out, kind, group, protocol, value);
            explain_out_text(walk->out, "\n");
        }
        if (!(y & 0x08))
            return 1;
        snprintf(item, sizeof item, "TD%u", group);
        if (!atr_take(walk, item, &value))
            return 0;
        atr_td(walk, group, value);
        protocol = value & 0x0F;
        y = value >> 4;
    }
}

static void atr_protocols(const AtrWalk *walk) {
    explain_out_text(walk->out, "Protocols offered: ");
    if (walk->offered_count == 0)
        explain_out_text(walk->out, "T=0 (implicit)");
    for (size_t i = 0; i < walk->offered_count; i++)
        explain_out_format(walk->out, "%sT=%u%s", i ? ", " : "", walk->offered[i],
                           i == 0 && walk->offered_count > 1 ? " (first)" : "");
    explain_out_text(walk->out, "\n");
}

static const char *atr_lcs_text(unsigned lcs) {
    if (lcs == 0x00)
        return "no information given";
    if (lcs == 0x01)
        return "creation state";
    if (lcs == 0x03)
        return "initialisation state";
    if ((lcs & 0xFD) == 0x05)
        return "operational state, activated";
    if ((lcs & 0xFD) == 0x04)
        return "operational state, deactivated";
    if ((lcs & 0xFC) == 0x0C)
        return "termination state";
    return lcs >= 0x10 ? "proprietary" : "reserved";
}

/* LCS, SW1 SW2 or both, as a status indicator of 1, 2 or 3 bytes holds them */
static void atr_write_status(ExplainOut *out, const unsigned char *value, size_t length) {
    char meaning[EXPLAIN_SW_SIZE];
    if (length == 1 || length == 3)
        explain_out_format(out, "LCS %02X (%s)", value[0], atr_lcs_text(value[0]));
    if (length == 3)
        explain_out_text(out, ", ");
    if (length == 2 || length == 3) {
        const unsigned char *sw = value + length - 2;
        explain_sw(sw[0], sw[1], meaning, sizeof meaning);
        explain_out_format(out, "SW %02X%02X (%s)", sw[0], sw[1], meaning);
    }
    if (length == 0 || length > 3)
        explain_out_text(out, "length other than 1 to 3 bytes");
}

/* The third byte of the card capabilities: chaining, lengths, channels */
static void atr_write_capabilities(ExplainOut *out, unsigned value) {
    unsigned assigned = (value >> 3) & 0x03, channels = value & 0x07;
    static const char *const by[4] = {"", "by the interface device", "by the card",
                                      "by the card and the interface device"};
    explain_out_format(out, "%scommand chaining, %sextended Lc and Le", value & 0x80 ? "" : "no ",
                       value & 0x40 ? "" : "no ");
    if (value & 0x20)
        explain_out_text(out, ", extended length information in EF.ATR/INFO");
    if (assigned == 0)
        explain_out_text(out, ", no logical channel");
    else if (channels == 7)
        explain_out_format(out, ", logical channels assigned %s, 8 or more", by[assigned]);
    else
        explain_out_format(out, ", logical channels assigned %s, up to %u", by[assigned],
                           channels + 1);
}

/* Compact-TLV objects: a byte with the tag in bits 8-5 and the length in
   bits 4-1, then the value. Contactless readers build ATRs for memory cards
   where 4F is followed by a length byte and an application identifier, as
   in BER-TLV; 4F is read that way when the compact reading would run past
   the bytes and the BER-TLV one fits. */
static void atr_compact_objects(ExplainOut *out, const unsigned char *bytes, size_t count) {
    for (size_t at = 0; at < count;) {
        size_t header = 1, length = bytes[at] & 0x0F, left = count - at - 1;
        const char *name = atr_compact_names[bytes[at] >> 4];
        if (bytes[at] == 0x4F && length > left && left >= 1 && bytes[at + 1] <= left - 1) {
            header = 2;
            length = bytes[at + 1];
            name = "application identifier";
        }
        explain_out_text(out, "  ");
        explain_out_hex(out, bytes + at, 1);
        if (header == 2)
            explain_out_format(out, " %02X", bytes[at + 1]);
        explain_out_format(out, " (%s)", name);
        if (length > count - at - header) {
            explain_out_format(out, ": runs past the historical bytes (needs %lu, %lu left)\n",
                               (unsigned long)length, (unsigned long)(count - at - header));
            return;
        }
        const unsigned char *value = bytes + at + header;
        if (length)
            explain_out_text(out, ": ");
        explain_out_hex(out, value, length);
        if (bytes[at] >> 4 == 7 && header == 1 && length >= 3) {
            explain_out_text(out, ": ");
            atr_write_capabilities(out, value[2]);
        }
        if (bytes[at] >> 4 == 8) {
            explain_out_text(out, ": ");
            atr_write_status(out, value, length);
        }
        explain_out_text(out, "\n");
        at += header + length;
    }
}

/* The historical bytes after the category byte; present is how many of
   count came before the ATR ended. */
static void atr_write_category(ExplainOut *out, const unsigned char *bytes, size_t present,
                               size_t count) {
    unsigned category = bytes[0];
    explain_out_format(out, "Historical bytes (%lu): category %02X, ", (unsigned long)count,
                       category);
    if (category == 0x00) {
        explain_out_text(out, "compact-TLV objects and a status indicator\n");
        int whole = present == count && count >= 4;
        atr_compact_objects(out, bytes + 1, whole ? count - 4 : present - 1);
        if (whole) {
            explain_out_text(out, "  status indicator: ");
            atr_write_status(out, bytes + count - 3, 3);
            explain_out_text(out, "\n");
        } else if (present == count) {
            explain_out_text(out, "  status indicator missing: it takes the last 3 bytes\n");
        }
    } else if (category == 0x10) {
        explain_out_text(out, "DIR data reference");
        if (present > 1)
            explain_out_text(out, " ");
        explain_out_hex(out, bytes + 1, present - 1);
        explain_out_text(out, "\n");
    } else if (category == 0x80) {
        explain_out_text(out, "compact-TLV objects\n");
        atr_compact_objects(out, bytes + 1, present - 1);
    } else {
        explain_out_text(out, category > 0x80 && category <= 0x8F ? "reserved\n" : "proprietary\n");
    }
}

static int atr_historical(AtrWalk *walk, size_t count) {
    size_t left = walk->length - walk->at;
    size_t present = left < count ? left : count;

    if (present > 0)
        atr_write_category(walk->out, walk->atr + walk->at, present, count);
    walk->at += present;
    if (present == count)
        return 1;
    explain_out_format(walk->out, "cut at byte %lu: %lu of %lu historical bytes missing\n",
                       (unsigned long)walk->at, (unsigned long)(count - present),
                       (unsigned long)count);
    return 0;
}

static int atr_tck(AtrWalk *walk) {
    unsigned tck, check = 0;

    if (!walk->tck_present) {
        explain_out_text(walk->out, "no TCK (only T=0 offered)\n");
        return 1;
    }
    if (!atr_take(walk, "TCK", &tck))
        return 0;
    for (size_t i = 1; i < walk->at; i++)
        check ^= walk->atr[i];
    if (check == 0)
        explain_out_format(walk->out, "TCK %02X: correct\n", tck);
    else
        explain_out_format(walk->out, "TCK %02X: wrong, expected %02X\n", tck, tck ^ check);
    return 1;
}

static void atr_tail(const AtrWalk *walk) {
    size_t extra = walk->length - walk->at;
    if (extra)
        explain_out_format(walk->out, "%lu byte%s after the end of the ATR\n", (unsigned long)extra,
                           extra == 1 ? "" : "s");
    if (walk->length > ATR_LENGTH_MAX)
        explain_out_format(walk->out, "ATR of %lu bytes, longer than the %d allowed\n",
                           (unsigned long)walk->length, (int)ATR_LENGTH_MAX);
}

void explain_atr(const unsigned char *atr, size_t length, ExplainSink sink, void *context) {
    ExplainOut out;
    AtrWalk walk;
    unsigned t0;

    explain_out_start(&out, sink, context);
    memset(&walk, 0, sizeof walk);
    walk.atr = atr;
    walk.length = atr ? length : 0;
    walk.out = &out;
    if (atr_ts(&walk) && atr_t0(&walk, &t0) && atr_interface(&walk, t0 >> 4)) {
        atr_protocols(&walk);
        if (atr_historical(&walk, t0 & 0x0F) && atr_tck(&walk))
            atr_tail(&walk);
    }
    explain_out_end(&out);
}
