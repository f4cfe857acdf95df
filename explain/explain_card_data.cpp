/*
 * explain_card_data.cpp: what GET DATA tells of the card itself and of its
 * keys: the card production life cycle data (CPLC, tag 9F7F), the key
 * information template (E0) and the sequence counter (C1).
 *
 * The CPLC is 42 bytes of fixed fields, sent with or without its 9F7F 2A
 * header; its dates are YDDD: the last digit of the year and the day of
 * the year, four BCD digits, 0000 when not set. A key's information is its
 * identifier, its version and a type and length for each of its parts (two
 * bytes each, or four in the extended form: FF, the type, a 2-byte length),
 * the extended form ending with the key's usage and access.
 */
#include "explain/explain_local.h"

#include <stdio.h>

enum { CPLC_SIZE = 42 };

typedef struct CplcField {
    const char *name;
    unsigned char size; /* bytes */
    unsigned char date; /* 1: YDDD */
} CplcField;

static const CplcField cplc_fields[] = {
    {"IC fabricator", 2, 0},
    {"IC type", 2, 0},
    {"operating system identifier", 2, 0},
    {"operating system release date", 2, 1},
    {"operating system release level", 2, 0},
    {"IC fabrication date", 2, 1},
    {"IC serial number", 4, 0},
    {"IC batch identifier", 2, 0},
    {"IC module fabricator", 2, 0},
    {"IC module packaging date", 2, 1},
    {"ICC manufacturer", 2, 0},
    {"IC embedding date", 2, 1},
    {"IC pre-personalizer", 2, 0},
    {"IC pre-personalization equipment date", 2, 1},
    {"IC pre-personalization equipment identifier", 4, 0},
    {"IC personalizer", 2, 0},
    {"IC personalization date", 2, 1},
    {"IC personalization equipment identifier", 4, 0},
};

static const ExplainName key_types[] = {
    {0x80, "DES (mode implicit)"},
    {0x81, "reserved (triple DES)"},
    {0x82, "triple DES in CBC mode"},
    {0x83, "DES in ECB mode"},
    {0x84, "DES in CBC mode"},
    {0x85, "pre-shared key for TLS"},
    {0x88, "AES"},
    {0x90, "HMAC-SHA1 (length implicit)"},
    {0x91, "HMAC-SHA1-160"},
    {0xA0, "RSA public exponent e"},
    {0xA1, "RSA modulus N (public)"},
    {0xA2, "RSA modulus N (private)"},
    {0xA3, "RSA private exponent d"},
    {0xA4, "RSA CRT prime P"},
    {0xA5, "RSA CRT prime Q"},
    {0xA6, "RSA CRT PQ (q^-1 mod p)"},
    {0xA7, "RSA CRT DP1 (d mod (p-1))"},
    {0xA8, "RSA CRT DQ1 (d mod (q-1))"},
    {0xB0, "ECC public key"},
    {0xB1, "ECC private key"},
    {0xB2, "ECC field parameter P"},
    {0xB3, "ECC field parameter A"},
    {0xB4, "ECC field parameter B"},
    {0xB5, "ECC field parameter G"},
    {0xB6, "ECC field parameter N"},
    {0xB7, "ECC field parameter k"},
    {0xF0, "ECC key parameters reference"},
};

/* " (year ending in 3, day 244)", " (not set)" or " (impossible date)" */
static void cplc_write_date(ExplainOut *out, const unsigned char *date) {
    unsigned high = date[0], low = date[1];
    unsigned digits[4] = {high >> 4, high & 0x0F, low >> 4, low & 0x0F};
    unsigned day = digits[1] * 100 + digits[2] * 10 + digits[3];
    if (date[0] == 0 && date[1] == 0)
        explain_out_text(out, " (not set)");
    else if (digits[0] > 9 || digits[1] > 9 || digits[2] > 9 || digits[3] > 9 || day == 0 ||
             day > 366)
        explain_out_text(out, " (impossible date)");
    else
        explain_out_format(out, " (year ending in %u, day %u)", digits[0], day);
}

static void cplc_write_fields(ExplainOut *out, const unsigned char *data, size_t at,
                              size_t length) {
    for (size_t i = 0; i < sizeof cplc_fields / sizeof *cplc_fields; i++) {
        const CplcField *field = &cplc_fields[i];
        if (length - at < field->size) {
            explain_out_format(out, "  (cut at byte %u: %s missing)\n", (unsigned)length,
                               field->name);
            return;
        }
        explain_out_format(out, "  %s: ", field->name);
        explain_out_hex(out, data + at, field->size);
        if (field->date)
            cplc_write_date(out, data + at);
        explain_out_text(out, "\n");
        at += field->size;
    }
    if (at < length) {
        explain_out_format(out, "  (%u byte%s after the CPLC: ", (unsigned)(length - at),
                           length - at == 1 ? "" : "s");
        explain_out_hex(out, data + at, length - at);
        explain_out_text(out, ")\n");
    }
}

int explain_cplc(ExplainOut *out, const unsigned char *data, size_t length) {
    int header = length != CPLC_SIZE && length >= 3 && data[0] == 0x9F && data[1] == 0x7F;
    if (!header && length != CPLC_SIZE)
        return 0;
    if (header) {
        explain_out_format(out, "9F7F %02X card production life cycle data (CPLC)", data[2]);
        if (data[2] != CPLC_SIZE)
            explain_out_format(out, " (a CPLC is %02X bytes)", (unsigned)CPLC_SIZE);
    } else {
        explain_out_text(out, "card production life cycle data (CPLC) without its 9F7F header");
    }
    explain_out_text(out, "\n");
    cplc_write_fields(out, data, header ? 3 : 0, length);
    return 1;
}

static void keys_write_type(ExplainOut *out, unsigned type) {
    const char *name = explain_name_find(key_types, sizeof key_types / sizeof *key_types, type);
    if (name)
        explain_out_text(out, name);
    else
        explain_out_format(out, "%s type %02X", type < 0x80 ? "private use" : "RFU", type);
}

/* The parts of a key from at: "AES, 16 bytes; ..." Returns where they end. */
static size_t keys_write_parts(ExplainOut *out, const unsigned char *value, size_t at,
                               size_t length) {
    int extended = value[at] == 0xFF;
    size_t part = extended ? 4 : 2;
    for (int first = 1; at < length && (!extended || value[at] == 0xFF); first = 0) {
        if (length - at < part)
            break;
        explain_out_text(out, first ? " " : "; ");
        keys_write_type(out, value[extended ? at + 1 : at]);
        unsigned size = extended ? (unsigned)value[at + 2] << 8 | value[at + 3] : value[at + 1];
        explain_out_format(out, ", %u bytes", size);
        at += part;
    }
    return at;
}

/* The extended form's usage and access after the parts: "; usage 14,
   access 00" (each a length and at most one byte). Returns where they end. */
static size_t keys_write_usage(ExplainOut *out, const unsigned char *value, size_t at,
                               size_t length) {
    static const char *const names[2] = {"usage", "access"};
    for (int i = 0; i < 2 && at < length; i++) {
        size_t count = value[at];
        if (count > length - at - 1)
            return at;
        explain_out_format(out, "%s%s ", i ? ", " : "; ", names[i]);
        if (count)
            explain_out_hex(out, value + at + 1, count);
        else
            explain_out_text(out, "not given");
        at += 1 + count;
    }
    return at;
}

static void keys_write_info(ExplainOut *out, const unsigned char *data, const TlvHeader *item) {
    const unsigned char *value = data + item->value;
    size_t length = item->length, at = 2;
    explain_tlv_write_head(out, data, item, 2);
    if (length < 2) {
        explain_out_text(out, " key information (cut short)\n");
        return;
    }
    explain_out_format(out, " key identifier %02X, version %02X:", value[0], value[1]);
    at = keys_write_parts(out, value, at, length);
    if (length == 2)
        explain_out_text(out, " no type given");
    if (at > 2 && value[2] == 0xFF)
        at = keys_write_usage(out, value, at, length);
    if (at < length) {
        explain_out_text(out, " (not read: ");
        explain_out_hex(out, value + at, length - at);
        explain_out_text(out, ")");
    }
    explain_out_text(out, "\n");
}

int explain_keys(ExplainOut *out, const unsigned char *data, size_t length) {
    GpObjects run, keys;
    TlvHeader object, item;
    if (!explain_gp_start(&run, data, length, 0xE0))
        return 0;
    while (explain_gp_next_of(&run, 0xE0, &object, out, 1)) {
        explain_gp_enter(&keys, out, data, &object, 1, "key information template");
        while (explain_gp_next_of(&keys, 0xC0, &item, out, 2))
            keys_write_info(out, data, &item);
    }
    return 1;
}

/* "C1 03 sequence counter: 00001E (30)": 2 bytes for SCP02, 3 for SCP03 */
static void counter_write(ExplainOut *out, const unsigned char *data, const TlvHeader *object) {
    const unsigned char *value = data + object->value;
    unsigned long number = 0;
    explain_tlv_write_head(out, data, object, 1);
    explain_out_text(out, " sequence counter: ");
    explain_out_hex(out, value, object->length);
    for (size_t i = 0; i < object->length && i < 4; i++)
        number = number << 8 | value[i];
    if (object->length == 2 || object->length == 3)
        explain_out_format(out, " (%lu)\n", number);
    else
        explain_out_text(out, " (2 or 3 bytes expected)\n");
}

int explain_counter(ExplainOut *out, const unsigned char *data, size_t length) {
    GpObjects run;
    TlvHeader object;
    if (!explain_gp_start(&run, data, length, 0xC1))
        return 0;
    while (explain_gp_next_of(&run, 0xC1, &object, out, 1))
        counter_write(out, data, &object);
    return 1;
}
