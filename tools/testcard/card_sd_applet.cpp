/*
 * card_sd_applet.cpp: the applications installed from loaded files. SELECT
 * by AID selects a SELECTABLE one on the channel it came on and answers its
 * FCI; an application that is only INSTALLED, the AID of a load file or of
 * a module, and an AID that DELETE removed answer 6A82. Other names are not
 * the card manager's: the card answers them as before, so the rig's tests
 * that select made-up names keep their answers. A selected application
 * answers its class's commands:
 *   80 10 00 00 Lc DATA [Le]   DATA and 90 00 (an echo)
 *   80 12 00 00 00             its install parameters (C9's value) and 90 00
 *   80 xx, another INS         6D 00
 * while the card's own commands of class 00 and FF stay the card's.
 */
#include "tools/testcard/testcard.h"

namespace {

void sw_put(Bytes &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

/* A name the card manager answers for: in the registry, a module of a load
   file, or deleted. */
bool application_name_known(CardSd &sd, const Bytes &aid) {
    if (sd_registry_find(sd, aid))
        return true;
    for (const SdEntry &e : sd.registry)
        for (const Bytes &module : e.modules)
            if (module == aid)
                return true;
    for (const Bytes &gone : sd.deleted)
        if (gone == aid)
            return true;
    return false;
}

int application_command(const SdEntry &app, const Apdu &apdu, Bytes &response) {
    if (apdu.ins != 0x10 && apdu.ins != 0x12)
        return 0x6D00;
    if (apdu.p1 != 0x00 || apdu.p2 != 0x00)
        return 0x6A86;
    if (apdu.ins == 0x12) {
        response = app.params;
        return 0x9000;
    }
    if (apdu.lc > CARD_RESPONSE_DATA_MAX)
        return 0x6700; /* the echo would not fit in a reader message */
    response.assign(apdu.data, apdu.data + apdu.lc);
    return 0x9000;
}

} // namespace

bool sd_application_select(CardSd &sd, SdChannel &ch, const Apdu &apdu, Bytes &response) {
    Bytes aid(apdu.data, apdu.data + apdu.lc);
    if (aid.empty() || !application_name_known(sd, aid))
        return false;
    const SdEntry *app = sd_registry_find(sd, aid);
    if (!app || app->kind != SD_ENTRY_APPLICATION || app->life_cycle != SD_LIFE_SELECTABLE) {
        sw_put(response, 0x6A82);
        return true;
    }
    ch.application = aid;
    if (apdu.p2 != 0x0C) {
        response = {0x6F, (uint8_t)(aid.size() + 2), 0x84, (uint8_t)aid.size()};
        response.insert(response.end(), aid.begin(), aid.end());
    }
    sw_put(response, 0x9000);
    return true;
}

bool sd_application_answer(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length,
                           Bytes &response) {
    const SdEntry *app = ch.application.empty() ? nullptr : sd_registry_find(sd, ch.application);
    if (!app || command[0] != 0x80)
        return false;
    Apdu apdu;
    int sw = card_apdu_parse(command, length, true, apdu)
                 ? application_command(*app, apdu, response)
                 : 0x6700;
    if (sw != 0x9000)
        response.clear();
    sw_put(response, sw);
    return true;
}
