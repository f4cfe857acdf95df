/*
 * card_channel.cpp: the card's logical channels. The class byte of every
 * command names its channel. With b7 clear (the first interindustry coding)
 * channels 0 to 3 are in b2 b1 and secure messaging in b4 b3; with b7 set
 * (the further coding) channels 4 to 19 are 4 plus b4..b1 and secure
 * messaging is b6. In both, b8 marks a proprietary class and b5 command
 * chaining. The card answers each command in the state of its channel, in
 * the form channel 0 would have been sent: so one command set, one secure
 * channel code and one set of MAC rules serve every channel. FF is no class
 * byte: the card's own FF commands stay on channel 0.
 *
 * MANAGE CHANNEL (00 70, on any open channel) opens and closes channels 1 to
 * 19; channel 0 is always open. Power off, power on, reset and removal close
 * all but channel 0.
 */
#include "tools/testcard/testcard.h"

namespace {

const uint8_t class_further = 0x40;     /* b7: the further interindustry coding */
const uint8_t class_keep = 0x80 | 0x10; /* b8 (proprietary) and b5 (chaining) */
const uint8_t class_sm_further = 0x20;  /* secure messaging in the further coding */
const uint8_t class_sm_basic = 0x04;    /* and as channel 0 carries it */

void sw_put(std::vector<uint8_t> &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

/* The new channel starts with the selection of the one the command came on. */
void channel_open(TestCard &card, int channel) {
    card.channels[channel].open = true;
    card.channels[channel].pending.clear();
    card_sd_channel_open(card.sd, channel, card.channel);
}

void channel_close(TestCard &card, int channel) {
    card.channels[channel].open = false;
    card.channels[channel].pending.clear();
    card_sd_channel_close(card.sd, channel);
}

/* P2 00: the lowest free channel, its number answered. */
int channel_open_free(TestCard &card, std::vector<uint8_t> &response) {
    for (int channel = 1; channel < CARD_CHANNELS; channel++) {
        if (card.channels[channel].open)
            continue;
        channel_open(card, channel);
        response.push_back((uint8_t)channel);
        return 0x9000;
    }
    return 0x6A81; /* every channel is in use */
}

int channel_manage(TestCard &card, const Apdu &apdu, std::vector<uint8_t> &response) {
    int channel = apdu.p2;
    if (apdu.lc != 0)
        return 0x6700;
    if (apdu.p1 == 0x00 && channel == 0)
        return channel_open_free(card, response);
    if ((apdu.p1 != 0x00 && apdu.p1 != 0x80) || channel == 0 || channel >= CARD_CHANNELS)
        return 0x6A86;
    bool open = card.channels[channel].open;
    if (apdu.p1 == 0x00) {
        if (open)
            return 0x6985;
        channel_open(card, channel);
    } else {
        if (!open)
            return 0x6A88;
        channel_close(card, channel);
    }
    return 0x9000;
}

} // namespace

bool card_class_decode(uint8_t cla, CardClass &out) {
    if (cla == 0xFF)
        return false;
    if (!(cla & class_further)) {
        out.channel = cla & 0x03;
        out.basic = (uint8_t)(cla & ~0x03);
        return true;
    }
    out.channel = 4 + (cla & 0x0F);
    out.basic = (uint8_t)((cla & class_keep) | ((cla & class_sm_further) ? class_sm_basic : 0));
    return true;
}

bool card_channel_is_open(const TestCard &card, int channel) {
    return channel == 0 || card.channels[channel].open;
}

void card_manage_channel(TestCard &card, const Apdu &apdu, std::vector<uint8_t> &response) {
    int sw = channel_manage(card, apdu, response);
    if (sw != 0x9000)
        response.clear();
    sw_put(response, sw);
}

void card_channels_power(TestCard &card) {
    for (int channel = 0; channel < CARD_CHANNELS; channel++) {
        card.channels[channel].open = false;
        card.channels[channel].pending.clear();
    }
}

std::string card_channels_report(const TestCard &card) {
    std::string reply = "ok";
    for (int channel = 0; channel < CARD_CHANNELS; channel++) {
        if (!card_channel_is_open(card, channel))
            continue;
        reply +=
            " " + std::to_string(channel) + "=" + card_sd_state(card.sd.channels[channel].session);
    }
    return reply + "\n";
}
