/*
 * card_sd_content.cpp: what the security domain tells about the card and
 * the keys it takes: GET DATA (card recognition data, key information, the
 * sequence counter, the card production life cycle data) and PUT KEY (a new
 * key set, or new keys of a set). Commands arrive plain: under a channel
 * they were unwrapped first.
 */
#include "tools/testcard/testcard.h"

#include <cstring>

namespace {

void sw_put(Bytes &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

/* ---- GET DATA ---- */

/* {globalPlatform n} followed by the given bytes, as an OID value. */
Bytes gp_oid(uint8_t n, const Bytes &tail) {
    Bytes oid = {0x2A, 0x86, 0x48, 0x86, 0xFC, 0x6B, n};
    oid.insert(oid.end(), tail.begin(), tail.end());
    return oid;
}

Bytes get_data_recognition(const CardSd &sd) {
    Bytes inner, field;
    sd_tlv_put(inner, 0x06, gp_oid(1, {}));
    sd_tlv_put(field, 0x06, gp_oid(2, {0x02, 0x03, 0x01})); /* card management 2.3.1 */
    sd_tlv_put(inner, 0x60, field);
    field.clear();
    sd_tlv_put(field, 0x06, gp_oid(3, {}));
    sd_tlv_put(inner, 0x63, field);
    field.clear();
    sd_tlv_put(field, 0x06, gp_oid(4, {(uint8_t)sd.scp, (uint8_t)sd.i}));
    sd_tlv_put(inner, 0x64, field);
    Bytes wrapped, out;
    sd_tlv_put(wrapped, 0x73, inner);
    sd_tlv_put(out, 0x66, wrapped);
    return out;
}

/* Key information: per key its identifier, version, type and length. */
Bytes get_data_keys(const CardSd &sd) {
    Bytes inner;
    uint8_t type = sd.scp == 2 ? SD_KEY_TYPE_DES : SD_KEY_TYPE_AES;
    for (const SdKeySet &set : sd.key_sets) {
        const Bytes *keys[] = {&set.enc, &set.mac, &set.dek};
        for (uint8_t id = 1; id <= 3; id++)
            sd_tlv_put(inner, 0xC0, {id, set.kvn, type, (uint8_t)keys[id - 1]->size()});
    }
    Bytes out;
    sd_tlv_put(out, 0xE0, inner);
    return out;
}

/* Card production life cycle data: fixed, made-up values, so that tools
   that show it have every field to show. Dates are YDDD (the year's last
   digit, then the day of that year); 0000 marks a field that is not set. */
const uint8_t cplc[] = {
    0xF0, 0x56,             /* IC fabricator */
    0x00, 0x01,             /* IC type */
    0xF0, 0x56,             /* operating system identifier */
    0x32, 0x75,             /* operating system release date: day 275 of a year ending in 3 */
    0x01, 0x00,             /* operating system release level */
    0x41, 0x23,             /* IC fabrication date: day 123 of a year ending in 4 */
    0x00, 0x00, 0x12, 0x34, /* IC serial number */
    0x00, 0x07,             /* IC batch identifier */
    0x00, 0x00,             /* IC module fabricator: not set */
    0x00, 0x00,             /* IC module packaging date: not set */
    0xF0, 0x56,             /* ICC manufacturer */
    0x42, 0x01,             /* IC embedding date: day 201 of a year ending in 4 */
    0x00, 0x00,             /* IC pre-personalizer: not set */
    0x00, 0x00,             /* IC pre-personalization equipment date: not set */
    0x00, 0x00, 0x00, 0x00, /* IC pre-personalization equipment identifier: not set */
    0xF0, 0x56,             /* IC personalizer */
    0x50, 0x12,             /* IC personalization date: day 12 of a year ending in 5 */
    0x00, 0x00, 0x00, 0x01, /* IC personalization equipment identifier */
};
static_assert(sizeof cplc == 42, "CPLC data is 42 bytes");

Bytes get_data_sequence(const CardSd &sd) {
    Bytes value;
    if (sd.scp == 3)
        value.push_back((uint8_t)(sd.sequence >> 16));
    value.push_back((uint8_t)(sd.sequence >> 8));
    value.push_back((uint8_t)sd.sequence);
    Bytes out;
    sd_tlv_put(out, 0xC1, value);
    return out;
}

/* ---- PUT KEY ---- */

struct KeyBlock {
    uint8_t type;
    Bytes key, check;
};

/* One key: type, length, the encrypted key (preceded by its plain length
   when that is no whole number of blocks), KCV length and KCV. */
int key_block_read(const SdSession &s, const uint8_t *&p, const uint8_t *end, KeyBlock &block) {
    if (end - p < 3)
        return 0x6A80;
    block.type = p[0];
    size_t n = p[1];
    if (block.type != SD_KEY_TYPE_DES && block.type != SD_KEY_TYPE_AES)
        return 0x6A80;
    if ((size_t)(end - p) < 2 + n + 1 || (size_t)(end - p) < 3 + n + p[2 + n])
        return 0x6A80;
    const uint8_t *value = p + 2;
    size_t cipher_block = s.scp == 2 ? 8 : 16, plain = n;
    if (n % cipher_block != 0) {
        plain = value[0];
        value++;
        n--;
    }
    Bytes encrypted(value, value + n);
    if (n == 0 || n % cipher_block != 0 || plain == 0 || plain > n ||
        !sd_key_decrypt(s, encrypted, block.key))
        return 0x6A80;
    block.key.resize(plain);
    size_t check_length = value[n];
    block.check.assign(value + n + 1, value + n + 1 + check_length);
    p = value + n + 1 + check_length;
    size_t k = block.key.size();
    bool length_ok =
        block.type == SD_KEY_TYPE_DES ? (k == 16 || k == 24) : (k == 16 || k == 24 || k == 32);
    if (!length_ok || (check_length != 0 && check_length != 3))
        return 0x6A80;
    Bytes expected;
    if (!sd_key_check(block.type, block.key, expected))
        return 0x6F00;
    if (check_length == 3 && expected != block.check)
        return 0x6A80;
    block.check = expected;
    return 0x9000;
}

int put_key_blocks(const SdSession &s, const Apdu &apdu, std::vector<KeyBlock> &blocks) {
    const uint8_t *p = apdu.data + 1, *end = apdu.data + apdu.lc;
    while (p < end) {
        KeyBlock block;
        int sw = key_block_read(s, p, end, block);
        if (sw != 0x9000)
            return sw;
        blocks.push_back(block);
    }
    bool multiple = (apdu.p2 & 0x80) != 0;
    if (blocks.empty() || blocks.size() > 3 || (!multiple && blocks.size() != 1))
        return 0x6A80;
    int first = apdu.p2 & 0x7F;
    if (first < 1 || first + blocks.size() - 1 > 3)
        return 0x6A88;
    return 0x9000;
}

SdKeySet *key_set_find(CardSd &sd, uint8_t kvn) {
    for (SdKeySet &set : sd.key_sets)
        if (set.kvn == kvn)
            return &set;
    return nullptr;
}

/* Where the keys go: a new set (P1 00, all three keys) or the set P1 names. */
int put_key_target(CardSd &sd, const Apdu &apdu, size_t count, SdKeySet *&target) {
    uint8_t kvn = apdu.data[0];
    SdKeySet *same = key_set_find(sd, kvn);
    if (apdu.p1 == 0x00) {
        if (count != 3 || (apdu.p2 & 0x7F) != 1 || same)
            return 0x6A80;
        if (sd.key_sets.size() >= SD_KEY_SETS_MAX)
            return 0x6A84;
        sd.key_sets.push_back(SdKeySet());
        target = &sd.key_sets.back();
        return 0x9000;
    }
    target = key_set_find(sd, apdu.p1);
    if (!target)
        return 0x6A88;
    if (same && same != target)
        return 0x6A80;
    return 0x9000;
}

} // namespace

/* Tag, length (one byte, or 81/82 and more) and value. */
void sd_tlv_put(Bytes &out, unsigned tag, const Bytes &value) {
    if (tag > 0xFF)
        out.push_back((uint8_t)(tag >> 8));
    out.push_back((uint8_t)tag);
    size_t n = value.size();
    if (n >= 0x100) {
        out.push_back(0x82);
        out.push_back((uint8_t)(n >> 8));
    } else if (n >= 0x80) {
        out.push_back(0x81);
    }
    out.push_back((uint8_t)n);
    out.insert(out.end(), value.begin(), value.end());
}

/* GET DATA: 0066 card recognition data, 00E0 key information, 00C1 the
   sequence counter the next channel uses, 9F7F the CPLC data. */
void sd_get_data(const CardSd &sd, const uint8_t *command, size_t length, Bytes &response) {
    Apdu apdu;
    if (!card_apdu_parse(command, length, false, apdu)) {
        sw_put(response, 0x6700);
        return;
    }
    switch (apdu.p1 << 8 | apdu.p2) {
        case 0x0066: response = get_data_recognition(sd); break;
        case 0x00E0: response = get_data_keys(sd); break;
        case 0x00C1: response = get_data_sequence(sd); break;
        case 0x9F7F: sd_tlv_put(response, 0x9F7F, Bytes(cplc, cplc + sizeof cplc)); break;
        default: sw_put(response, 0x6A88); return;
    }
    sw_put(response, 0x9000);
}

/* PUT KEY: P1 the key set to change (00: a new one), P2 the first key's
   identifier (1 ENC, 2 MAC, 3 DEK; bit 80: several keys), data the new key
   version and the key blocks. Answers the new version and the KCVs. */
void sd_put_key(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length, Bytes &response) {
    Apdu apdu;
    std::vector<KeyBlock> blocks;
    if (!card_apdu_parse(command, length, false, apdu) || apdu.lc < 1) {
        sw_put(response, 0x6700);
        return;
    }
    uint8_t kvn = apdu.data[0];
    int sw = kvn < 0x01 || kvn > 0x7F ? 0x6A80 : put_key_blocks(ch.session, apdu, blocks);
    SdKeySet *target = nullptr;
    if (sw == 0x9000)
        sw = put_key_target(sd, apdu, blocks.size(), target);
    if (sw != 0x9000) {
        sw_put(response, sw);
        return;
    }
    target->kvn = kvn;
    response.push_back(kvn);
    int id = apdu.p2 & 0x7F;
    for (const KeyBlock &block : blocks) {
        Bytes &slot = id == 1 ? target->enc : id == 2 ? target->mac : target->dek;
        slot = block.key;
        id++;
        response.insert(response.end(), block.check.begin(), block.check.end());
    }
    sw_put(response, 0x9000);
}
