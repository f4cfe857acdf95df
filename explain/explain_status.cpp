/*
 * explain_status.cpp: GET STATUS answers of a GlobalPlatform card, in both
 * forms: the TLV form (P2 b2 set), an E3 entry for each registry entry, and
 * the older fixed form (AID length, AID, life cycle, privileges; for P1 10
 * the executable modules too).
 *
 * What an entry is decides how its life cycle reads: P1 80 lists the issuer
 * security domain, whose life cycle is the card's; 40 applications and
 * security domains, told apart by privilege byte 1 b8; 20 and 10 executable
 * load files. Any other P1, or data without the form asked for, is left to
 * the BER-TLV tree.
 */
#include "explain/explain_local.h"

#include <stdio.h>

typedef enum EntryKind {
    ENTRY_CARD, /* the issuer security domain: the card's life cycle */
    ENTRY_APPLICATION,
    ENTRY_DOMAIN,
    ENTRY_LOAD_FILE,
} EntryKind;

static const char *const entry_names[] = {"issuer security domain", "application",
                                          "security domain", "executable load file"};

static const ExplainName card_states[] = {
    {0x01, "OP_READY"},    {0x07, "INITIALIZED"}, {0x0F, "SECURED"},
    {0x7F, "CARD_LOCKED"}, {0xFF, "TERMINATED"},
};

/* A locked security domain keeps the lower bits of the state it had. */
static const ExplainName domain_states[] = {
    {0x03, "INSTALLED"}, {0x07, "SELECTABLE"}, {0x0F, "PERSONALIZED"},
    {0x83, "LOCKED"},    {0x87, "LOCKED"},     {0x8F, "LOCKED"},
};

/* The names of what an entry holds */
static const ExplainName item_names[] = {
    {0x4F, "AID"},
    {0x9F70, "life cycle"},
    {0xC5, "privileges"},
    {0xC4, "executable load file AID"},
    {0xCE, "executable load file version"},
    {0x84, "executable module AID"},
    {0xCC, "associated security domain AID"},
    {0xCF, "implicit selection parameter"},
};

/* Privileges by number: byte 1 b8 is 0, byte 3 b1 is 23. DAP Verification
   and Delegated Management are privileges only with Security Domain,
   Mandated DAP Verification only with both (C0, A0, C1); byte 3 b4-b1 are
   RFU. */
static const char *const privilege_names[24] = {
    "Security Domain",
    "DAP Verification",
    "Delegated Management",
    "Card Lock",
    "Card Terminate",
    "Card Reset (formerly Default Selected)",
    "CVM Management",
    "Mandated DAP Verification",
    "Trusted Path",
    "Authorized Management",
    "Token Verification",
    "Global Delete",
    "Global Lock",
    "Global Registry",
    "Final Application",
    "Global Service",
    "Receipt Generation",
    "Ciphered Load File Data Block",
    "Contactless Activation",
    "Contactless Self-Activation",
};

enum {
    PRIVILEGE_DOMAIN = 0,
    PRIVILEGE_DAP = 1,
    PRIVILEGE_DELEGATED = 2,
    PRIVILEGE_MANDATED_DAP = 7,
    PRIVILEGE_NAMED = 20, /* those after are RFU */
    PRIVILEGE_BYTES = 3,
};

/* "07 SELECTABLE"; an application's own states between SELECTABLE and
   LOCKED are b4-b7 with b1-b3 set. */
static void status_write_life_cycle(ExplainOut *out, unsigned value, EntryKind kind) {
    const char *name = 0;
    if (kind == ENTRY_CARD)
        name = explain_name_find(card_states, sizeof card_states / sizeof *card_states, value);
    else if (kind == ENTRY_DOMAIN)
        name =
            explain_name_find(domain_states, sizeof domain_states / sizeof *domain_states, value);
    else if (kind == ENTRY_LOAD_FILE)
        name = value == 0x01 ? "LOADED" : 0;
    else if (value == 0x03)
        name = "INSTALLED";
    else if (value == 0x07)
        name = "SELECTABLE";
    else if ((value & 0x83) == 0x83)
        name = "LOCKED";
    if (name)
        explain_out_format(out, "%02X %s", value, name);
    else if (kind == ENTRY_APPLICATION && (value & 0x87) == 0x07)
        explain_out_format(out, "%02X application-specific %02X", value, value);
    else
        explain_out_format(out, "%02X (not a defined state)", value);
}

static int privilege_set(const unsigned char *bytes, size_t count, int number) {
    return (size_t)(number / 8) < count && (bytes[number / 8] & (0x80 >> number % 8)) != 0;
}

/* A privilege whose bit is set without those it needs, or 0 when it has them */
static const char *privilege_missing(const unsigned char *bytes, size_t count, int number) {
    int domain = privilege_set(bytes, count, PRIVILEGE_DOMAIN);
    if ((number == PRIVILEGE_DAP || number == PRIVILEGE_DELEGATED) && !domain)
        return "Security Domain";
    if (number == PRIVILEGE_MANDATED_DAP && !(domain && privilege_set(bytes, count, PRIVILEGE_DAP)))
        return "Security Domain and DAP Verification";
    return 0;
}

/* "9E0000 Security Domain, Card Lock, ..." for the 1- or 3-byte form */
static void status_write_privileges(ExplainOut *out, const unsigned char *bytes, size_t count) {
    int any = 0;
    explain_out_hex(out, bytes, count);
    size_t known = count < PRIVILEGE_BYTES ? count : (size_t)PRIVILEGE_BYTES;
    for (int number = 0; number < PRIVILEGE_NAMED; number++) {
        if (!privilege_set(bytes, known, number))
            continue;
        const char *missing = privilege_missing(bytes, known, number);
        explain_out_format(out, "%s%s", any++ ? ", " : " ", privilege_names[number]);
        if (missing)
            explain_out_format(out, " bit without %s", missing);
    }
    if (known == PRIVILEGE_BYTES && (bytes[2] & 0x0F))
        explain_out_format(out, "%sRFU (byte 3: %02X)", any++ ? ", " : " ", bytes[2] & 0x0F);
    if (!any)
        explain_out_text(out, " none");
    if (count != 1 && count != PRIVILEGE_BYTES)
        explain_out_text(out, " (1 or 3 bytes expected)");
}

/* What a TLV entry is: 40 lists security domains beside applications */
static EntryKind status_entry_kind(const unsigned char *data, const TlvHeader *entry, unsigned p1) {
    if (p1 == 0x80)
        return ENTRY_CARD;
    if (p1 != 0x40)
        return ENTRY_LOAD_FILE;
    GpObjects run;
    TlvHeader item;
    explain_gp_objects_in(&run, data, entry);
    while (explain_gp_next(&run, &item, 0, 0) > 0) {
        if (item.tag == 0xC5 && item.length > 0)
            return data[item.value] & 0x80 ? ENTRY_DOMAIN : ENTRY_APPLICATION;
    }
    return ENTRY_APPLICATION;
}

/* The value of 9F70, C5 and a 2-byte CE in words, the others as they are */
static void status_write_item(ExplainOut *out, const unsigned char *data, const TlvHeader *item,
                              EntryKind kind) {
    const unsigned char *value = data + item->value;
    const char *name =
        explain_name_find(item_names, sizeof item_names / sizeof *item_names, item->tag);
    int told = item->tag == 0x9F70 || item->tag == 0xC5 || (item->tag == 0xCE && item->length == 2);
    if (!name || !told) {
        if (name)
            explain_gp_write_named(out, data, item, 2, name);
        else
            explain_gp_write_other(out, data, item, 2);
        return;
    }
    explain_tlv_write_head(out, data, item, 2);
    explain_out_format(out, " %s: ", name);
    if (item->tag == 0xC5)
        status_write_privileges(out, value, item->length);
    else if (item->tag == 0xCE)
        explain_out_format(out, "%02X%02X (%u.%u)", value[0], value[1], value[0], value[1]);
    else if (item->length == 1)
        status_write_life_cycle(out, value[0], kind);
    else
        explain_out_hex(out, value, item->length);
    explain_out_text(out, "\n");
}

static void status_tlv_entry(ExplainOut *out, const unsigned char *data, const TlvHeader *entry,
                             unsigned p1) {
    EntryKind kind = status_entry_kind(data, entry, p1);
    GpObjects run;
    TlvHeader item;
    explain_gp_enter(&run, out, data, entry, 1, entry_names[kind]);
    while (explain_gp_next(&run, &item, out, 2) > 0)
        status_write_item(out, data, &item, kind);
}

/* The TLV form: E3 entries, whatever else comes named by its class */
static int status_tlv(ExplainOut *out, unsigned p1, const unsigned char *data, size_t length) {
    GpObjects run;
    TlvHeader entry;
    if (!explain_gp_start(&run, data, length, 0xE3))
        return 0;
    while (explain_gp_next_of(&run, 0xE3, &entry, out, 1))
        status_tlv_entry(out, data, &entry, p1);
    return 1;
}

/* The bytes an old-form entry at at needs, as far as they can be known
   from what is there; more than length - at when it is cut. */
static size_t status_old_size(const unsigned char *data, size_t length, size_t at, unsigned p1) {
    size_t need = 1 + (size_t)data[at] + 2 + (p1 == 0x10);
    if (p1 != 0x10 || need > length - at)
        return need;
    size_t modules = data[at + need - 1];
    for (size_t i = 0; i < modules; i++) {
        if (need >= length - at)
            return need + 1; /* the next module's length byte at least */
        need += 1 + (size_t)data[at + need];
    }
    return need;
}

static void status_old_modules(ExplainOut *out, const unsigned char *data, size_t at) {
    size_t modules = data[at++];
    explain_out_format(out, "  executable modules: %u\n", (unsigned)modules);
    for (size_t i = 0; i < modules; i++) {
        explain_out_text(out, "  executable module AID: ");
        explain_out_hex(out, data + at + 1, data[at]);
        explain_out_text(out, "\n");
        at += 1 + (size_t)data[at];
    }
}

/* One old-form entry at at, known to be whole */
static void status_old_entry(ExplainOut *out, const unsigned char *data, size_t at, unsigned p1) {
    size_t aid = data[at];
    unsigned life_cycle = data[at + 1 + aid], privileges = data[at + 2 + aid];
    EntryKind kind = p1 == 0x80          ? ENTRY_CARD
                     : p1 != 0x40        ? ENTRY_LOAD_FILE
                     : privileges & 0x80 ? ENTRY_DOMAIN
                                         : ENTRY_APPLICATION;
    explain_out_format(out, "%s\n  AID: ", entry_names[kind]);
    explain_out_hex(out, data + at + 1, aid);
    explain_out_text(out, "\n  life cycle: ");
    status_write_life_cycle(out, life_cycle, kind);
    explain_out_text(out, "\n  privileges: ");
    status_write_privileges(out, data + at + 2 + aid, 1);
    explain_out_text(out, "\n");
    if (p1 == 0x10)
        status_old_modules(out, data, at + 3 + aid);
}

/* The old form: its first entry must be whole, or it is not this form. */
static int status_old(ExplainOut *out, unsigned p1, const unsigned char *data, size_t length) {
    if (status_old_size(data, length, 0, p1) > length)
        return 0;
    for (size_t at = 0; at < length;) {
        size_t need = status_old_size(data, length, at, p1);
        if (need > length - at) {
            explain_out_format(out, "(entry at byte %u cut short: %u bytes, %u given)\n",
                               (unsigned)at, (unsigned)need, (unsigned)(length - at));
            break;
        }
        status_old_entry(out, data, at, p1);
        at += need;
    }
    return 1;
}

int explain_status(ExplainOut *out, unsigned p1, unsigned p2, const unsigned char *data,
                   size_t length) {
    if (p1 != 0x80 && p1 != 0x40 && p1 != 0x20 && p1 != 0x10)
        return 0;
    return p2 & 0x02 ? status_tlv(out, p1, data, length) : status_old(out, p1, data, length);
}
