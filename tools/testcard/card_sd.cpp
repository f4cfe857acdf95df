/*
 * card_sd.cpp: the security domain's commands and its secure channel.
 *
 * SELECT 00 A4 04 00 with the issuer security domain's AID (A000000151000000
 * or A000000003000000) selects it and answers its FCI; any other SELECT
 * leaves it and goes to the card as before. Once selected it takes
 * INITIALIZE UPDATE (80 50), EXTERNAL AUTHENTICATE (84 82), GET DATA (80 CA
 * or 00 CA), GET STATUS (80 F2) and PUT KEY (80 D8); any other command goes
 * to the card's own command set. Each logical channel has its own selection
 * and its own secure channel; commands arrive in channel 0's form and
 * card.channel names the channel.
 *
 * The channel: INITIALIZE UPDATE starts it, EXTERNAL AUTHENTICATE opens it
 * at a security level. From then on every command with CLA 84 or 04 is
 * checked and decrypted here and its plain form answered (by the security
 * domain or by the card), and the answer is MACed and encrypted as the level
 * asks. A command without secure messaging, a SELECT, a wrong MAC or
 * cryptogram, power off, power on and reset end the channel; GET RESPONSE
 * (00 C0) and MANAGE CHANNEL (00 70) are transport and leave it alone.
 * Secure messaging without an open channel answers 69 82.
 */
#include "tools/testcard/testcard.h"

#include <cstring>

namespace {

const uint8_t isd_aid[] = {0xA0, 0x00, 0x00, 0x01, 0x51, 0x00, 0x00, 0x00};
const uint8_t op_isd_aid[] = {0xA0, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00};
const uint8_t default_key[] = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,
                               0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F};
const uint8_t default_kdd[SD_KDD_SIZE] = {0x00, 0x01, 0x02, 0x03, 0x04,
                                          0x05, 0x06, 0x07, 0x08, 0x09};
const uint8_t default_kvn = 0x30;

void sw_put(Bytes &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

int sw_of(const Bytes &response) {
    size_t n = response.size();
    return n < 2 ? -1 : response[n - 2] << 8 | response[n - 1];
}

SdChannel &sd_on(TestCard &card) {
    return card.sd.channels[card.channel];
}

/* A load belongs to the session it started in. */
void sd_channel_end(SdChannel &ch) {
    ch.session = SdSession();
    ch.load = SdLoad();
}

/* T=0: an answer with data and 90 00 is kept for GET RESPONSE, and 61 xx
   says how much there is (00: 256 or more). */
void sd_deliver(TestCard &card, Bytes &response) {
    if (!card.t0_mode || response.size() <= 2 || sw_of(response) != 0x9000)
        return;
    Bytes &pending = card.channels[card.channel].pending;
    pending.assign(response.begin(), response.end() - 2);
    size_t n = pending.size();
    response.clear();
    sw_put(response, 0x6100 | (n >= 256 ? 0 : (int)n));
}

bool sd_aid_is_ours(const Apdu &apdu) {
    return (apdu.lc == sizeof isd_aid && memcmp(apdu.data, isd_aid, sizeof isd_aid) == 0) ||
           (apdu.lc == sizeof op_isd_aid && memcmp(apdu.data, op_isd_aid, sizeof op_isd_aid) == 0);
}

/* FCI: the AID, and in the proprietary template the most data a command
   may carry (what fits in one reader message with an extended header). */
Bytes sd_fci(const Bytes &aid) {
    Bytes fci = {0x6F, 0x00, 0x84, (uint8_t)aid.size()};
    fci.insert(fci.end(), aid.begin(), aid.end());
    const uint8_t proprietary[] = {0xA5, 0x05, 0x9F, 0x65, 0x02, 0xFF, 0xF0};
    fci.insert(fci.end(), proprietary, proprietary + sizeof proprietary);
    fci[1] = (uint8_t)(fci.size() - 2);
    return fci;
}

/* Every SELECT ends the channel and leaves what was selected; the security
   domain answers its own AIDs, the registry those of its applications. */
bool sd_select(TestCard &card, const uint8_t *command, size_t length, Bytes &response) {
    SdChannel &ch = sd_on(card);
    sd_channel_end(ch);
    ch.selected = false;
    ch.application.clear();
    Apdu apdu;
    if (command[0] != 0x00 || !card_apdu_parse(command, length, false, apdu) || apdu.p1 != 0x04 ||
        (apdu.p2 != 0x00 && apdu.p2 != 0x0C))
        return false;
    if (!sd_aid_is_ours(apdu)) {
        if (!sd_application_select(card.sd, ch, apdu, response))
            return false;
        sd_deliver(card, response);
        return true;
    }
    ch.selected = true;
    ch.selected_aid.assign(apdu.data, apdu.data + apdu.lc);
    ch.status_next = 0;
    if (apdu.p2 == 0x0C) {
        sw_put(response, 0x9000);
        return true;
    }
    response = sd_fci(ch.selected_aid);
    sw_put(response, 0x9000);
    sd_deliver(card, response);
    return true;
}

const SdKeySet *sd_key_set_find(const CardSd &sd, uint8_t kvn) {
    for (const SdKeySet &set : sd.key_sets)
        if (kvn == 0 || set.kvn == kvn)
            return &set;
    return nullptr;
}

bool sd_key_set_fits(const SdKeySet &set, int scp) {
    size_t n = set.enc.size();
    if (set.mac.size() != n || set.dek.size() != n)
        return false;
    return scp == 2 ? n == 16 : (n == 16 || n == 24 || n == 32);
}

Bytes sd_counter_bytes(uint32_t value, size_t size) {
    Bytes out(size);
    for (size_t i = 0; i < size; i++)
        out[i] = (uint8_t)(value >> (8 * (size - 1 - i)));
    return out;
}

/* The answer: KDD, key information, (SCP02: sequence counter), card
   challenge, card cryptogram, (SCP03 pseudo-random: sequence counter). */
Bytes sd_initialize_answer(const CardSd &sd, const SdSession &s, const Bytes &cryptogram) {
    Bytes out = sd.kdd;
    out.push_back(s.keys.kvn);
    out.push_back((uint8_t)s.scp);
    if (s.scp == 3)
        out.push_back((uint8_t)sd.i);
    else
        out.insert(out.end(), s.sequence.begin(), s.sequence.end());
    out.insert(out.end(), s.card_challenge.begin(), s.card_challenge.end());
    out.insert(out.end(), cryptogram.begin(), cryptogram.end());
    if (s.scp == 3 && (sd.i & SD_I03_PSEUDO_RANDOM))
        out.insert(out.end(), s.sequence.begin(), s.sequence.end());
    sw_put(out, 0x9000);
    return out;
}

/* INITIALIZE UPDATE: P1 the key version (00: the first key set), data the
   host challenge (16 bytes asks for SCP03's S16). */
void sd_initialize_update(CardSd &sd, SdChannel &ch, const Apdu &apdu, Bytes &response) {
    sd_channel_end(ch);
    size_t size = apdu.lc;
    bool s16 = sd.scp == 3 && (sd.i & SD_I03_S16) && size == 16;
    if (size != 8 && !s16) {
        sw_put(response, 0x6700);
        return;
    }
    if (apdu.p2 != 0x00) {
        sw_put(response, 0x6A86);
        return;
    }
    const SdKeySet *keys = sd_key_set_find(sd, apdu.p1);
    if (!keys || !sd_key_set_fits(*keys, sd.scp)) {
        sw_put(response, 0x6A88);
        return;
    }
    SdSession &s = ch.session;
    s.scp = sd.scp;
    s.size = size;
    s.keys = *keys;
    s.host_challenge.assign(apdu.data, apdu.data + size);
    s.sequence = sd_counter_bytes(sd.sequence, sd.scp == 2 ? 2 : 3);
    size_t challenge = sd.scp == 2 ? 6 : size;
    if (sd.fixed_challenge.size() == challenge)
        s.card_challenge = sd.fixed_challenge;
    Bytes cryptogram;
    if (!sd_session_start(s, sd.i, ch.selected_aid) || !sd_card_cryptogram(s, cryptogram)) {
        sd_channel_end(ch);
        sw_put(response, 0x6F00);
        return;
    }
    s.state = SD_INITIALIZED;
    if (sd.scp == 3) /* each pseudo-random challenge is used once */
        sd.sequence = (sd.sequence + 1) & 0xFFFFFF;
    response = sd_initialize_answer(sd, s, cryptogram);
}

/* The levels the session's protocol and options offer. */
bool sd_level_allowed(const SdSession &s, int level) {
    if (level == 0x01 || level == 0x03)
        return true;
    if (s.scp != 3)
        return false;
    if (level == 0x11 || level == 0x13)
        return (s.i & SD_I03_RMAC) != 0;
    return level == 0x33 && (s.i & SD_I03_RENC) && (s.i & SD_I03_RMAC);
}

/* EXTERNAL AUTHENTICATE: P1 the security level, data the host cryptogram
   and the C-MAC. Any failure ends the channel. */
int sd_external_authenticate(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length) {
    SdSession &s = ch.session;
    Apdu apdu;
    if (s.state != SD_INITIALIZED) {
        sd_channel_end(ch);
        return 0x6985;
    }
    if (!card_apdu_parse(command, length, false, apdu) || apdu.lc != 2 * s.size) {
        sd_channel_end(ch);
        return 0x6700;
    }
    if (apdu.p2 != 0x00 || !sd_level_allowed(s, apdu.p1)) {
        sd_channel_end(ch);
        return 0x6A86;
    }
    Bytes plain, cryptogram;
    if (!sd_command_unwrap(s, command, length, plain) || !sd_host_cryptogram(s, cryptogram) ||
        plain.size() < 5 + s.size || memcmp(plain.data() + 5, cryptogram.data(), s.size) != 0) {
        sd_channel_end(ch);
        return 0x6982;
    }
    s.state = SD_OPEN;
    s.level = apdu.p1;
    if (s.scp == 2)
        sd.sequence = (sd.sequence + 1) & 0xFFFF;
    return 0x9000;
}

/* The commands that need the open channel: GET STATUS, PUT KEY and the
   content management's. */
void sd_channel_command(CardSd &sd, SdChannel &ch, const Bytes &command, Bytes &response) {
    const uint8_t *c = command.data();
    size_t n = command.size();
    switch (command[1]) {
        case 0xF2: sd_get_status(sd, ch, c, n, response); break;
        case 0xD8: sd_put_key(sd, ch, c, n, response); break;
        case 0xE6: sd_install(sd, ch, c, n, response); break;
        case 0xE8: sd_load(sd, ch, c, n, response); break;
        default: sd_delete(sd, c, n, response); break;
    }
}

bool sd_ins_ours(uint8_t ins) {
    return ins == 0x50 || ins == 0xF2 || ins == 0xD8 || ins == 0xE6 || ins == 0xE8 || ins == 0xE4;
}

/* The security domain's own commands, plain (from the reader or unwrapped
   from the channel); false for a command that is not its. */
bool sd_command(TestCard &card, const Bytes &command, bool secured, Bytes &response) {
    CardSd &sd = card.sd;
    SdChannel &ch = sd_on(card);
    uint8_t cla = command[0], ins = command[1];
    if (!ch.selected || command.size() < 4)
        return false;
    if (ins == 0xCA && (cla == 0x80 || cla == 0x00)) {
        sd_get_data(sd, command.data(), command.size(), response);
        return true;
    }
    if (cla != 0x80 || !sd_ins_ours(ins))
        return false;
    if (ins == 0x50 && secured) {
        sw_put(response, 0x6985); /* INITIALIZE UPDATE is never secured */
    } else if (ins == 0x50) {
        Apdu apdu;
        if (!card_apdu_parse(command.data(), command.size(), false, apdu))
            sw_put(response, 0x6700);
        else
            sd_initialize_update(sd, ch, apdu, response);
    } else if (!secured) {
        sw_put(response, 0x6982); /* the others need the channel */
    } else {
        sd_channel_command(sd, ch, command, response);
    }
    return true;
}

/* A command with secure messaging: checked against the open channel, then
   answered in its plain form, the answer wrapped for the channel. */
void sd_secured(TestCard &card, const uint8_t *command, size_t length, Bytes &response) {
    SdChannel &ch = sd_on(card);
    if (command[0] == 0x84 && command[1] == 0x82) {
        sw_put(response, sd_external_authenticate(card.sd, ch, command, length));
        return;
    }
    Bytes plain, answer;
    if (ch.session.state != SD_OPEN || !sd_command_unwrap(ch.session, command, length, plain)) {
        sd_channel_end(ch);
        sw_put(response, 0x6982);
        return;
    }
    if (plain[1] == 0xA4) {
        /* SELECT ends the channel: its answer goes out plain. */
        if (!sd_select(card, plain.data(), plain.size(), response))
            card_apdu_plain(card, plain.data(), plain.size(), card.t0_mode, response);
        return;
    }
    if (!sd_command(card, plain, true, answer))
        card_apdu_plain(card, plain.data(), plain.size(), false, answer);
    if (ch.session.state != SD_OPEN) {
        response = answer;
        return;
    }
    if (!sd_response_wrap(ch.session, answer, response)) {
        sd_channel_end(ch);
        response.clear();
        sw_put(response, 0x6F00);
        return;
    }
    sd_deliver(card, response);
}

} // namespace

CardSd::CardSd() {
    card_sd_reset(*this);
}

bool card_sd_answer(TestCard &card, const uint8_t *command, size_t length, Bytes &response) {
    SdChannel &ch = sd_on(card);
    uint8_t cla = command[0], ins = command[1];
    if (cla == 0x00 && (ins == 0xC0 || ins == 0x70))
        return false; /* GET RESPONSE and MANAGE CHANNEL are transport */
    if (cla == 0x04 || cla == 0x84) {
        sd_secured(card, command, length, response);
        return true;
    }
    if (ins == 0xA4)
        return sd_select(card, command, length, response);
    if (ch.session.state != SD_CLOSED)
        sd_channel_end(ch); /* a command without secure messaging */
    if (sd_application_answer(card.sd, ch, command, length, response)) {
        sd_deliver(card, response);
        return true;
    }
    Bytes plain(command, command + length);
    if (!sd_command(card, plain, false, response))
        return false;
    sd_deliver(card, response);
    return true;
}

void card_sd_power(CardSd &sd) {
    for (SdChannel &ch : sd.channels)
        ch = SdChannel();
}

void card_sd_channel_open(CardSd &sd, int channel, int from) {
    SdChannel &ch = sd.channels[channel];
    ch = SdChannel();
    ch.selected = sd.channels[from].selected;
    ch.selected_aid = sd.channels[from].selected_aid;
    ch.application = sd.channels[from].application;
}

void card_sd_channel_close(CardSd &sd, int channel) {
    sd.channels[channel] = SdChannel();
}

void card_sd_reset(CardSd &sd) {
    card_sd_power(sd);
    sd.scp = 3;
    sd.i = 0x70;
    SdKeySet keys;
    keys.kvn = default_kvn;
    keys.enc.assign(default_key, default_key + sizeof default_key);
    keys.mac = keys.dek = keys.enc;
    sd.key_sets.assign(1, keys);
    sd.kdd.assign(default_kdd, default_kdd + SD_KDD_SIZE);
    sd.sequence = 1;
    sd.fixed_challenge.clear();
    sd_registry_reset(sd);
}
