/*
 * card_sd_registry.cpp: the card manager's registry: the issuer security
 * domain, the load files and the applications installed from them. At
 * start (and after "reset" or "content clear") it holds the security domain
 * and one library package without modules; both stay. GET STATUS lists it,
 * DELETE takes entries out; INSTALL and LOAD (card_sd_load.cpp) put them in.
 * The registry is the card's content: it outlives power cycles and removal.
 */
#include "tools/testcard/testcard.h"

namespace {

const uint8_t isd_aid[] = {0xA0, 0x00, 0x00, 0x01, 0x51, 0x00, 0x00, 0x00};
const uint8_t library_aid[] = {0xF0, 0x56, 0x4F, 0x52, 0x4C, 0x41, 0x4E, 0x45};

void sw_put(Bytes &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

/* ---- GET STATUS ---- */

/* The entries each P1 lists: 80 the security domain, 40 applications, 20
   load files, 10 load files with their modules. */
bool status_lists(const SdEntry &e, uint8_t p1) {
    if (p1 == 0x80)
        return e.kind == SD_ENTRY_ISD;
    if (p1 == 0x40)
        return e.kind == SD_ENTRY_APPLICATION;
    return e.kind == SD_ENTRY_LOAD_FILE;
}

/* The older form: AID, life cycle, first privilege byte; for P1 10 the
   modules after them. */
void status_entry_short(const SdEntry &e, uint8_t p1, Bytes &out) {
    out.push_back((uint8_t)e.aid.size());
    out.insert(out.end(), e.aid.begin(), e.aid.end());
    out.push_back(e.life_cycle);
    out.push_back(e.privileges.empty() ? 0x00 : e.privileges[0]);
    if (p1 != 0x10)
        return;
    out.push_back((uint8_t)e.modules.size());
    for (const Bytes &m : e.modules) {
        out.push_back((uint8_t)m.size());
        out.insert(out.end(), m.begin(), m.end());
    }
}

/* The tagged form: E3 with 4F AID, 9F70 life cycle, C5 privileges, C4 the
   application's load file, CE the load file's version, 84 its modules (P1
   10), CC the associated security domain. */
void status_entry_tagged(const CardSd &sd, const SdEntry &e, uint8_t p1, Bytes &out) {
    Bytes inner;
    sd_tlv_put(inner, 0x4F, e.aid);
    sd_tlv_put(inner, 0x9F70, {e.life_cycle});
    if (e.kind != SD_ENTRY_LOAD_FILE)
        sd_tlv_put(inner, 0xC5, e.privileges);
    if (e.kind == SD_ENTRY_APPLICATION)
        sd_tlv_put(inner, 0xC4, e.load_file);
    if (e.kind == SD_ENTRY_LOAD_FILE)
        sd_tlv_put(inner, 0xCE, e.version);
    for (size_t k = 0; p1 == 0x10 && k < e.modules.size(); k++)
        sd_tlv_put(inner, 0x84, e.modules[k]);
    if (e.kind != SD_ENTRY_ISD)
        sd_tlv_put(inner, 0xCC, sd.registry.front().aid);
    sd_tlv_put(out, 0xE3, inner);
}

/* The search criteria: 4F and an AID prefix (4F 00: everything). */
bool status_criteria(const Apdu &apdu, Bytes &prefix) {
    if (apdu.lc < 2 || apdu.data[0] != 0x4F || apdu.data[1] > SD_AID_MAX ||
        2u + apdu.data[1] > apdu.lc)
        return false;
    prefix.assign(apdu.data + 2, apdu.data + 2 + apdu.data[1]);
    return true;
}

bool status_matches(const SdEntry &e, uint8_t p1, const Bytes &prefix) {
    return status_lists(e, p1) && e.aid.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), e.aid.begin());
}

/* SD_STATUS_PAGE entries from `skip` on; the channel remembers where the
   next page starts when more follow. */
int status_page(const CardSd &sd, SdChannel &ch, const Apdu &apdu, const Bytes &prefix, size_t skip,
                Bytes &response) {
    size_t index = 0, listed = 0;
    ch.status_next = 0;
    for (const SdEntry &e : sd.registry) {
        if (!status_matches(e, apdu.p1, prefix) || index++ < skip)
            continue;
        if (listed == SD_STATUS_PAGE) {
            ch.status_next = skip + listed;
            ch.status_p1 = apdu.p1;
            break;
        }
        if (apdu.p2 & 0x02)
            status_entry_tagged(sd, e, apdu.p1, response);
        else
            status_entry_short(e, apdu.p1, response);
        listed++;
    }
    if (listed == 0)
        return 0x6A88;
    return ch.status_next ? 0x6310 : 0x9000;
}

/* ---- DELETE ---- */

/* An application leaves the registry and every channel it was selected on. */
void delete_application(CardSd &sd, size_t index) {
    for (SdChannel &ch : sd.channels)
        if (ch.application == sd.registry[index].aid)
            ch.application.clear();
    sd.deleted.push_back(sd.registry[index].aid);
    sd.registry.erase(sd.registry.begin() + (long)index);
}

/* A load file with its applications (related), or refused while it has any. */
int delete_load_file(CardSd &sd, const Bytes &aid, bool related) {
    for (size_t k = sd.registry.size(); k-- > 0;) {
        const SdEntry &e = sd.registry[k];
        if (e.kind != SD_ENTRY_APPLICATION || e.load_file != aid)
            continue;
        if (!related)
            return 0x6985;
        delete_application(sd, k);
    }
    SdEntry *file = sd_registry_find(sd, aid);
    sd.deleted.insert(sd.deleted.end(), file->modules.begin(), file->modules.end());
    sd.deleted.push_back(aid);
    sd.registry.erase(sd.registry.begin() + (file - sd.registry.data()));
    return 0x9000;
}

int delete_object(CardSd &sd, const Apdu &apdu) {
    if (apdu.p1 != 0x00 || (apdu.p2 != 0x00 && apdu.p2 != 0x80))
        return 0x6A86;
    if (apdu.lc < 2 || apdu.data[0] != 0x4F || apdu.data[1] + 2u != apdu.lc ||
        apdu.data[1] < SD_AID_MIN || apdu.data[1] > SD_AID_MAX)
        return 0x6A80;
    Bytes aid(apdu.data + 2, apdu.data + apdu.lc);
    SdEntry *e = sd_registry_find(sd, aid);
    if (!e)
        return 0x6A88;
    if (e->fixed)
        return 0x6985;
    if (e->kind == SD_ENTRY_LOAD_FILE)
        return delete_load_file(sd, aid, apdu.p2 == 0x80);
    delete_application(sd, (size_t)(e - sd.registry.data()));
    return 0x9000;
}

/* ---- control lines ---- */

std::string content_hex(const Bytes &bytes) {
    return card_hex(bytes.data(), bytes.size());
}

/* One line of "content": kind, AID, life cycle, then what the kind has. */
std::string content_line(const SdEntry &e) {
    static const char *const kinds[] = {"isd", "loadfile", "app"};
    std::string line = std::string(kinds[e.kind]) + " " + content_hex(e.aid) +
                       " life=" + content_hex({e.life_cycle});
    if (e.kind != SD_ENTRY_LOAD_FILE)
        line += " privileges=" + content_hex(e.privileges);
    if (e.kind == SD_ENTRY_APPLICATION)
        return line + " loadfile=" + content_hex(e.load_file) + " module=" + content_hex(e.module) +
               " params=" + content_hex(e.params) + "\n";
    if (e.kind == SD_ENTRY_LOAD_FILE) {
        line +=
            " version=" + content_hex(e.version) + " bytes=" + std::to_string(e.size) + " modules=";
        for (size_t k = 0; k < e.modules.size(); k++)
            line += (k ? "," : "") + content_hex(e.modules[k]);
    }
    return line + "\n";
}

} // namespace

void sd_registry_reset(CardSd &sd) {
    SdEntry isd;
    isd.kind = SD_ENTRY_ISD;
    isd.aid.assign(isd_aid, isd_aid + sizeof isd_aid);
    isd.life_cycle = SD_LIFE_SECURED;
    isd.privileges = {0x9E, 0x00, 0x00};
    isd.fixed = true;
    SdEntry library;
    library.kind = SD_ENTRY_LOAD_FILE;
    library.aid.assign(library_aid, library_aid + sizeof library_aid);
    library.life_cycle = SD_LIFE_LOADED;
    library.version = {0x01, 0x00};
    library.fixed = true;
    sd.registry = {isd, library};
    sd.deleted.clear();
    for (SdChannel &ch : sd.channels) {
        ch.application.clear();
        ch.load = SdLoad();
    }
}

SdEntry *sd_registry_find(CardSd &sd, const Bytes &aid) {
    for (SdEntry &e : sd.registry)
        if (e.aid == aid)
            return &e;
    return nullptr;
}

void sd_registry_add(CardSd &sd, const SdEntry &entry) {
    sd.registry.push_back(entry);
    for (size_t k = sd.deleted.size(); k-- > 0;)
        if (sd.deleted[k] == entry.aid)
            sd.deleted.erase(sd.deleted.begin() + (long)k);
}

size_t sd_registry_content_size(const CardSd &sd) {
    size_t size = 0;
    for (const SdEntry &e : sd.registry)
        size += e.size;
    return size;
}

/* GET STATUS: P1 which entries, P2 bit 02 the tagged form (else the older
   one), bit 01 the next page of the last listing; 63 10 when more follow. */
void sd_get_status(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length,
                   Bytes &response) {
    Apdu apdu;
    Bytes prefix;
    if (!card_apdu_parse(command, length, false, apdu)) {
        sw_put(response, 0x6700);
        return;
    }
    uint8_t p1 = apdu.p1;
    int sw = 0x9000;
    bool next = (apdu.p2 & 0x01) != 0;
    if ((p1 != 0x80 && p1 != 0x40 && p1 != 0x20 && p1 != 0x10) || (apdu.p2 & ~0x03))
        sw = 0x6A86;
    else if (!status_criteria(apdu, prefix))
        sw = 0x6A80;
    else if (next && (ch.status_next == 0 || ch.status_p1 != p1))
        sw = 0x6A88;
    else
        sw = status_page(sd, ch, apdu, prefix, next ? ch.status_next : 0, response);
    if (sw != 0x9000 && sw != 0x6310)
        response.clear();
    sw_put(response, sw);
}

/* DELETE 4F AID: an application, or a load file (P2 80: with its
   applications). Answers 00 and 90 00. */
void sd_delete(CardSd &sd, const uint8_t *command, size_t length, Bytes &response) {
    Apdu apdu;
    int sw = card_apdu_parse(command, length, false, apdu) ? delete_object(sd, apdu) : 0x6700;
    if (sw == 0x9000)
        response.push_back(0x00);
    sw_put(response, sw);
}

std::string sd_registry_control(CardSd &sd, const std::vector<std::string> &words) {
    if (words.size() == 2 && words[1] == "clear") {
        sd_registry_reset(sd);
        return "ok\n";
    }
    if (words.size() != 1)
        return "error usage: content [clear]\n";
    std::string reply = "ok " + std::to_string(sd.registry.size()) + "\n";
    for (const SdEntry &e : sd.registry)
        reply += content_line(e);
    return reply;
}
