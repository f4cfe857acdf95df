/*
 * card_sd_load.cpp: INSTALL and LOAD, the way content comes onto the card.
 * INSTALL [for load] (P1 02) names the load file and the hash to check. The
 * LOAD blocks that follow are numbered from 00, P1 80 on the last; the first
 * starts with C4 and the length of the whole load file, which is the CAP
 * components one after the other (tag, u2 size, contents), the Header
 * first. At the last block the card checks the length, the hash, the
 * Header's magic and package AID, then registers the load file with the
 * modules its Applet component names. INSTALL [for install] (04), [for
 * install and make selectable] (0C) and [for make selectable] (08) make
 * applications of those modules. Every refusal of a LOAD ends the load.
 */
#include "tools/testcard/testcard.h"

#include "crypto/crypto.h"

#include <algorithm>
#include <cstring>

namespace {

const uint8_t cap_magic[] = {0xDE, 0xCA, 0xFF, 0xED};
const uint8_t cap_header = 0x01, cap_applet = 0x03;
const size_t sha1_size = 20, sha256_size = 32;

void sw_put(Bytes &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

bool aid_fits(const Bytes &aid) {
    return aid.size() >= SD_AID_MIN && aid.size() <= SD_AID_MAX;
}

/* INSTALL's data: count fields of one length byte and a value, nothing after. */
bool install_fields(const Apdu &apdu, size_t count, std::vector<Bytes> &fields) {
    const uint8_t *p = apdu.data, *end = apdu.data + apdu.lc;
    fields.assign(count, Bytes());
    for (Bytes &field : fields) {
        if (p >= end || (size_t)(end - p) < 1u + p[0])
            return false;
        field.assign(p + 1, p + 1 + p[0]);
        p += 1 + p[0];
    }
    return p == end;
}

/* Install parameters: TLVs among which C9, whose value the application
   keeps (possibly empty). None at all counts as an empty C9. */
bool install_params(const Bytes &params, Bytes &value) {
    bool found = params.empty();
    for (size_t at = 0; at < params.size();) {
        size_t left = params.size() - at;
        if (left < 2)
            return false;
        size_t head = params[at + 1] == 0x81 ? 3 : 2;
        if (left < head || (head == 2 && params[at + 1] >= 0x80))
            return false;
        size_t n = params[at + head - 1];
        if (left - head < n)
            return false;
        if (params[at] == 0xC9) {
            value.assign(params.begin() + (long)(at + head),
                         params.begin() + (long)(at + head + n));
            found = true;
        }
        at += head + n;
    }
    return found;
}

/* Fields: load file AID, security domain AID (empty: the selected one),
   hash, load parameters, token. */
int install_for_load(CardSd &sd, SdChannel &ch, const Apdu &apdu) {
    std::vector<Bytes> f;
    if (!install_fields(apdu, 5, f) || !aid_fits(f[0]))
        return 0x6A80;
    size_t hash = f[2].size();
    if (hash != 0 && hash != sha1_size && hash != sha256_size)
        return 0x6A80;
    if (!f[1].empty() && f[1] != ch.selected_aid && f[1] != sd.registry.front().aid)
        return 0x6A88;
    if (sd_registry_find(sd, f[0]))
        return 0x6985;
    ch.load.active = true;
    ch.load.aid = f[0];
    ch.load.hash = f[2];
    return 0x9000;
}

int make_selectable(CardSd &sd, const Bytes &aid) {
    SdEntry *app = sd_registry_find(sd, aid);
    if (!app || app->kind != SD_ENTRY_APPLICATION)
        return 0x6A88;
    if (app->life_cycle != SD_LIFE_INSTALLED)
        return 0x6985;
    app->life_cycle = SD_LIFE_SELECTABLE;
    return 0x9000;
}

/* Fields: load file AID, module AID, application AID, privileges (1 or 3
   bytes), install parameters, token. */
int install_application(CardSd &sd, const Apdu &apdu) {
    std::vector<Bytes> f;
    Bytes params;
    if (!install_fields(apdu, 6, f) || !aid_fits(f[2]) || (f[3].size() != 1 && f[3].size() != 3) ||
        !install_params(f[4], params))
        return 0x6A80;
    if (apdu.p1 == 0x08)
        return make_selectable(sd, f[2]);
    const SdEntry *file = sd_registry_find(sd, f[0]);
    if (!file || file->kind != SD_ENTRY_LOAD_FILE ||
        std::find(file->modules.begin(), file->modules.end(), f[1]) == file->modules.end())
        return 0x6A88;
    if (sd_registry_find(sd, f[2]))
        return 0x6985;
    if (sd.registry.size() >= SD_REGISTRY_MAX)
        return 0x6A84;
    SdEntry app;
    app.aid = f[2];
    app.life_cycle = (apdu.p1 & 0x08) ? SD_LIFE_SELECTABLE : SD_LIFE_INSTALLED;
    app.privileges = f[3];
    app.privileges.resize(3, 0x00);
    app.load_file = f[0];
    app.module = f[1];
    app.params = params;
    sd_registry_add(sd, app);
    return 0x9000;
}

/* C4 and the BER-TLV length of the whole load file (one to four bytes),
   p moved past them; the load file must fit in the content memory left. */
int load_length(const CardSd &sd, const uint8_t *&p, const uint8_t *end, size_t &length) {
    if (end - p < 2 || p[0] != 0xC4)
        return 0x6A80;
    size_t count = p[1] < 0x80 ? 0 : p[1] - 0x80u;
    if (count > 3 || p[1] == 0x80 || (size_t)(end - p) < 2 + count)
        return 0x6A80;
    length = count ? 0 : p[1];
    for (size_t k = 0; k < count; k++)
        length = length << 8 | p[2 + k];
    p += 2 + count;
    if (length == 0)
        return 0x6A80;
    return length > SD_CONTENT_MAX - sd_registry_content_size(sd) ? 0x6A84 : 0x9000;
}

int load_block(const CardSd &sd, SdLoad &load, const Apdu &apdu) {
    if (!load.active)
        return 0x6985;
    if ((apdu.p1 != 0x00 && apdu.p1 != 0x80) || apdu.p2 != load.next)
        return 0x6A86;
    const uint8_t *p = apdu.data, *end = apdu.data + apdu.lc;
    int sw = load.next == 0 ? load_length(sd, p, end, load.announced) : 0x9000;
    if (sw != 0x9000)
        return sw;
    if ((size_t)(end - p) > load.announced - load.data.size())
        return 0x6A80;
    load.data.insert(load.data.end(), p, end);
    load.next++;
    return 0x9000;
}

/* Header: magic, CAP format minor and major, flags, then the package's
   minor and major version, AID length and AID. */
bool cap_header_read(const uint8_t *c, size_t size, SdEntry &file) {
    if (size < 10 || memcmp(c, cap_magic, sizeof cap_magic) != 0)
        return false;
    size_t n = c[9];
    if (n < SD_AID_MIN || n > SD_AID_MAX || size < 10 + n)
        return false;
    file.version = {c[8], c[7]};
    file.aid.assign(c + 10, c + 10 + n);
    return true;
}

/* Applet component: a count, then per applet its AID's length, the AID and
   the u2 offset of its install method. */
bool cap_applets_read(const uint8_t *c, size_t size, SdEntry &file) {
    size_t at = 1;
    for (unsigned k = 0; size > 0 && k < c[0]; k++) {
        size_t n = at < size ? c[at] : 0;
        if (n < SD_AID_MIN || n > SD_AID_MAX || size - at < 1 + n + 2)
            return false;
        file.modules.emplace_back(c + at + 1, c + at + 1 + n);
        at += 1 + n + 2;
    }
    return size > 0 && at == size;
}

/* The components one after the other, the Header first and only there. */
bool load_file_read(const Bytes &data, SdEntry &file) {
    for (size_t at = 0; at < data.size();) {
        if (data.size() - at < 3)
            return false;
        uint8_t tag = data[at];
        size_t size = (size_t)data[at + 1] << 8 | data[at + 2];
        const uint8_t *c = data.data() + at + 3;
        if (data.size() - at - 3 < size || (at == 0) != (tag == cap_header))
            return false;
        if (tag == cap_header && !cap_header_read(c, size, file))
            return false;
        if (tag == cap_applet && !cap_applets_read(c, size, file))
            return false;
        at += 3 + size;
    }
    return !file.aid.empty();
}

int load_hash_check(const SdLoad &load) {
    if (load.hash.empty())
        return 0x9000;
    uint8_t digest[CRYPTO_DIGEST_MAX];
    size_t n = 0;
    int hash = load.hash.size() == sha1_size ? CRYPTO_SHA1 : CRYPTO_SHA256;
    if (crypto_hash(hash, load.data.data(), load.data.size(), digest, sizeof digest, &n, nullptr,
                    0) != CRYPTO_OK)
        return 0x6F00;
    return n == load.hash.size() && memcmp(digest, load.hash.data(), n) == 0 ? 0x9000 : 0x6A80;
}

int load_finish(CardSd &sd, const SdLoad &load) {
    if (load.data.size() != load.announced)
        return 0x6A80;
    int sw = load_hash_check(load);
    if (sw != 0x9000)
        return sw;
    SdEntry file;
    if (!load_file_read(load.data, file) || file.aid != load.aid)
        return 0x6A80;
    if (sd_registry_find(sd, file.aid))
        return 0x6985; /* loaded on another channel meanwhile */
    if (sd.registry.size() >= SD_REGISTRY_MAX)
        return 0x6A84;
    file.kind = SD_ENTRY_LOAD_FILE;
    file.life_cycle = SD_LIFE_LOADED;
    file.size = load.announced;
    sd_registry_add(sd, file);
    return 0x9000;
}

} // namespace

/* INSTALL: P1 02 for load, 04 for install, 0C for install and make
   selectable, 08 for make selectable; P2 00. Answers 00 and 90 00. */
void sd_install(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length, Bytes &response) {
    Apdu apdu;
    int sw = 0x6A86;
    if (!card_apdu_parse(command, length, false, apdu))
        sw = 0x6700;
    else if (apdu.p2 == 0x00 && apdu.p1 == 0x02)
        sw = install_for_load(sd, ch, apdu);
    else if (apdu.p2 == 0x00 && (apdu.p1 == 0x04 || apdu.p1 == 0x08 || apdu.p1 == 0x0C))
        sw = install_application(sd, apdu);
    if (apdu.p1 == 0x02 && sw != 0x9000)
        ch.load = SdLoad();
    if (sw == 0x9000)
        response.push_back(0x00);
    sw_put(response, sw);
}

/* LOAD: P1 00 (80 on the last block), P2 the block number. Answers 00 and
   90 00 for each block; any refusal ends the load. */
void sd_load(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length, Bytes &response) {
    Apdu apdu;
    int sw = card_apdu_parse(command, length, true, apdu) ? load_block(sd, ch.load, apdu) : 0x6700;
    bool last = sw == 0x9000 && apdu.p1 == 0x80;
    if (last)
        sw = load_finish(sd, ch.load);
    if (last || sw != 0x9000)
        ch.load = SdLoad();
    if (sw == 0x9000)
        response.push_back(0x00);
    sw_put(response, sw);
}
