/*
 * card_apdu.cpp: what the test card answers to a command APDU.
 *
 * Commands (short APDUs; READ, WRITE and UPDATE BINARY of CLA 00 also in
 * extended length: 00 Le1 Le2, 00 Lc1 Lc2 data, 00 Lc1 Lc2 data Le1 Le2):
 *   00 A4 SELECT          answers the FCI "6F L 84 n <name>" (name: first 16
 *                         data bytes); in T=0 mode 61 xx and the FCI is kept
 *                         for GET RESPONSE; P2 0C: no data, 90 00.
 *   00 C0 GET RESPONSE    T=0 data left by SELECT; 69 85 when none.
 *   00 B0 READ BINARY     Le bytes at address P1P2 (Le 00 = 256, extended Le
 *                         0000 = 65,536); in T=0 mode a short Le 00 or no Le
 *                         answers 6C 08 (the card's record). More than 65,533
 *                         bytes do not fit in one reader message: the first
 *                         65,533 and 62 82.
 *   00 D0 WRITE BINARY    Lc bytes at address P1P2.
 *   00 D6 UPDATE BINARY   the same as WRITE BINARY.
 *   FF B0 / FF D6         the same on 4-byte blocks: address = P1P2 * 4.
 *   80 F0 P1 P2           exactly N = P1*256+P2 bytes (pattern, then 90 00).
 *   00 70 MANAGE CHANNEL  opens and closes logical channels (card_channel.cpp).
 * Past the end of memory (for a READ, the whole Le asked) 6B 00; unknown INS
 * 6D 00; unknown CLA 6E 00; a length that does not match the APDU, or an
 * extended length on another command, 67 00; P1 P2 other than 00 00 on GET
 * RESPONSE 6A 86.
 *
 * Every command is answered on the logical channel its class byte names
 * (68 81 when that channel is not open), in channel 0's form: the class
 * byte without the channel number. The security domain (card_sd.cpp) sees
 * every command first: its own, and those with secure messaging, which it
 * hands back here in their plain form.
 */
#include "tools/testcard/testcard.h"

#include <cstring>

#include <unistd.h>

namespace {

/* The most bytes an extended Le asks for: Le 0000. */
const int apdu_extended_le_max = 65536;

void sw_append(std::vector<uint8_t> &response, int sw) {
    response.push_back((uint8_t)(sw >> 8));
    response.push_back((uint8_t)sw);
}

/* Le from its field: one byte, or two in an extended APDU; zero asks for the
   most the field's form can. */
int apdu_le(const uint8_t *field, bool extended) {
    if (!extended)
        return field[0] ? field[0] : 256;
    int le = field[0] << 8 | field[1];
    return le ? le : apdu_extended_le_max;
}

/* The length fields from at: after CLA INS P1 P2 one byte each (Le, Lc
   data, or Lc data Le), or after CLA INS P1 P2 00 two bytes each (Le1 Le2,
   Lc1 Lc2 data, or Lc1 Lc2 data Le1 Le2). False for fields that do not
   match the length, and for an Lc of zero. */
bool apdu_parse_body(const uint8_t *command, size_t length, size_t at, bool extended, Apdu &apdu) {
    size_t width = extended ? 2 : 1;
    apdu.extended = extended;
    if (length == at + width) {
        apdu.le = apdu_le(command + at, extended);
        return true;
    }
    size_t lc = extended ? (size_t)command[at] << 8 | command[at + 1] : command[at];
    if (lc == 0)
        return false;
    apdu.data = command + at + width;
    apdu.lc = lc;
    size_t end = at + width + lc;
    if (length == end)
        return true;
    if (length == end + width) {
        apdu.le = apdu_le(command + end, extended);
        return true;
    }
    return false;
}

bool apdu_known(uint8_t cla, uint8_t ins) {
    switch (cla) {
        case 0x00:
            return ins == 0xA4 || ins == 0xB0 || ins == 0xC0 || ins == 0xD0 || ins == 0xD6 ||
                   ins == 0x70;
        case 0x80: return ins == 0xF0;
        case 0xFF: return ins == 0xB0 || ins == 0xD6;
        default: return false;
    }
}

/* READ, WRITE and UPDATE BINARY take extended lengths, to move up to the
   whole memory in one exchange. */
bool apdu_takes_extended(uint8_t cla, uint8_t ins) {
    return cla == 0x00 && (ins == 0xB0 || ins == 0xD0 || ins == 0xD6);
}

void card_select(TestCard &card, const Apdu &apdu, std::vector<uint8_t> &response) {
    if (apdu.p2 == 0x0C) {
        sw_append(response, 0x9000);
        return;
    }
    size_t n = apdu.lc < 16 ? apdu.lc : 16;
    std::vector<uint8_t> fci = {0x6F, (uint8_t)(n + 2), 0x84, (uint8_t)n};
    fci.insert(fci.end(), apdu.data, apdu.data + n);
    if (card.t0_mode) {
        card.channels[card.channel].pending = fci;
        sw_append(response, 0x6100 | (int)fci.size());
        return;
    }
    response = fci;
    sw_append(response, 0x9000);
}

void card_get_response(TestCard &card, const Apdu &apdu, std::vector<uint8_t> &response) {
    std::vector<uint8_t> &pending = card.channels[card.channel].pending;
    if (apdu.p1 != 0 || apdu.p2 != 0) {
        sw_append(response, 0x6A86);
        return;
    }
    if (pending.empty()) {
        sw_append(response, 0x6985);
        return;
    }
    size_t have = pending.size();
    size_t want = apdu.le < 0 ? 256 : (size_t)apdu.le;
    if (want > have) {
        sw_append(response, 0x6C00 | (int)have);
        return;
    }
    response.assign(pending.begin(), pending.begin() + (long)want);
    pending.erase(pending.begin(), pending.begin() + (long)want);
    sw_append(response, pending.empty() ? 0x9000 : 0x6100 | (int)pending.size());
}

void card_read(TestCard &card, unsigned address, int le, std::vector<uint8_t> &response) {
    if (le < 0) {
        sw_append(response, 0x6700);
        return;
    }
    if (address + (unsigned)le > CARD_MEMORY_SIZE) {
        sw_append(response, 0x6B00);
        return;
    }
    int sw = 0x9000;
    if (le > CARD_RESPONSE_DATA_MAX) {
        le = CARD_RESPONSE_DATA_MAX; /* the rest would not fit in the reader's message */
        sw = 0x6282;
    }
    response.assign(card.memory.begin() + address, card.memory.begin() + address + le);
    sw_append(response, sw);
}

void card_write(TestCard &card, unsigned address, const Apdu &apdu,
                std::vector<uint8_t> &response) {
    if (apdu.lc == 0) {
        sw_append(response, 0x6700);
        return;
    }
    if (!card_memory_write(card, address, apdu.data, apdu.lc)) {
        sw_append(response, 0x6B00);
        return;
    }
    sw_append(response, 0x9000);
}

/* N = P1*256+P2 bytes in all, so that tests can ask for any response length,
   the odd ones (0 and 1 byte) included. */
void card_pattern(const Apdu &apdu, std::vector<uint8_t> &response) {
    size_t n = (size_t)apdu.p1 * 256 + apdu.p2;
    if (n == 1) {
        response.push_back(0x90);
        return;
    }
    for (size_t i = 0; i + 2 < n; i++)
        response.push_back((uint8_t)i);
    if (n >= 2)
        sw_append(response, 0x9000);
}

void card_dispatch(TestCard &card, const Apdu &apdu, bool t0, std::vector<uint8_t> &response) {
    unsigned address = (unsigned)apdu.p1 << 8 | apdu.p2;
    switch (apdu.cla << 8 | apdu.ins) {
        case 0x00A4: card_select(card, apdu, response); break;
        case 0x00C0: card_get_response(card, apdu, response); break;
        case 0x00B0:
            if (t0 && !apdu.extended && (apdu.le < 0 || apdu.le == 256))
                sw_append(response, 0x6C08);
            else
                card_read(card, address, apdu.le, response);
            break;
        case 0x00D0:
        case 0x00D6: card_write(card, address, apdu, response); break;
        case 0xFFB0: card_read(card, address * 4, apdu.le, response); break;
        case 0xFFD6: card_write(card, address * 4, apdu, response); break;
        case 0x80F0: card_pattern(apdu, response); break;
        case 0x0070: card_manage_channel(card, apdu, response); break;
        default: sw_append(response, 0x6D00); break;
    }
}

} // namespace

/* A short Lc is never 00, so 00 there starts extended length fields, taken
   only by commands that allow them. */
bool card_apdu_parse(const uint8_t *command, size_t length, bool extended_allowed, Apdu &apdu) {
    apdu = Apdu{command[0], command[1], command[2], command[3], nullptr, 0, -1, false};
    if (length == 4)
        return true;
    if (extended_allowed && length >= 7 && command[4] == 0)
        return apdu_parse_body(command, length, 5, true, apdu);
    return apdu_parse_body(command, length, 4, false, apdu);
}

void card_apdu_answer(TestCard &card, const uint8_t *command, size_t length,
                      std::vector<uint8_t> &response) {
    response.clear();
    if (card.forced_count != 0) {
        if (card.forced_count > 0)
            card.forced_count--;
        sw_append(response, card.forced_sw);
        return;
    }
    if (length < 4) {
        sw_append(response, 0x6700);
        return;
    }
    CardClass c = {0, command[0]};
    card_class_decode(command[0], c);
    if (!card_channel_is_open(card, c.channel)) {
        sw_append(response, 0x6881);
        return;
    }
    card.channel = c.channel;
    std::vector<uint8_t> basic(command, command + length);
    basic[0] = c.basic;
    if (!(basic[0] == 0x00 && basic[1] == 0xC0))
        card.channels[c.channel].pending.clear();
    if (card_sd_answer(card, basic.data(), length, response))
        return;
    card_apdu_plain(card, basic.data(), length, card.t0_mode, response);
}

void card_apdu_plain(TestCard &card, const uint8_t *command, size_t length, bool t0,
                     std::vector<uint8_t> &response) {
    response.clear();
    if (command[0] != 0x00 && command[0] != 0x80 && command[0] != 0xFF) {
        sw_append(response, 0x6E00);
        return;
    }
    if (!apdu_known(command[0], command[1])) {
        sw_append(response, 0x6D00);
        return;
    }
    Apdu apdu;
    if (!card_apdu_parse(command, length, apdu_takes_extended(command[0], command[1]), apdu)) {
        sw_append(response, 0x6700);
        return;
    }
    card_dispatch(card, apdu, t0, response);
}

void card_power_event(TestCard &card) {
    card_channels_power(card);
    card_sd_power(card.sd);
}

void card_apdu_log(TestCard &card, char direction, const uint8_t *bytes, size_t length) {
    std::string line = std::string(1, direction) + ": " + card_hex(bytes, length);
    if (card.log_file) {
        fprintf(card.log_file, "%s\n", line.c_str());
        fflush(card.log_file);
    }
    card.log.push_back(line);
    while (card.log.size() > CARD_LOG_LINES)
        card.log.pop_front();
}

bool card_memory_write(TestCard &card, unsigned address, const uint8_t *bytes, size_t length) {
    if (address > CARD_MEMORY_SIZE || length > CARD_MEMORY_SIZE - address)
        return false;
    if (length == 0)
        return true;
    memcpy(card.memory.data() + address, bytes, length);
    if (card.memory_fd >= 0 && pwrite(card.memory_fd, bytes, length, address) != (ssize_t)length)
        perror("testcard: memory image");
    return true;
}

void card_state_reset(TestCard &card) {
    card.memory.assign(CARD_MEMORY_SIZE, 0);
    if (card.memory_fd >= 0 &&
        pwrite(card.memory_fd, card.memory.data(), CARD_MEMORY_SIZE, 0) != CARD_MEMORY_SIZE)
        perror("testcard: memory image");
    card.log.clear();
    card_channels_power(card);
    card.delay_ms = 0;
    card.forced_sw = 0;
    card.forced_count = 0;
    card_sd_reset(card.sd);
}
