/*
 * card_sd_control.cpp: the control lines that configure the security domain.
 * They take effect at the next INITIALIZE UPDATE; an open channel keeps the
 * keys and options it was opened with. "content" shows and clears the
 * registry (card_sd_registry.cpp).
 *
 *   scp                        ok scp=03 i=70 kvn=30 keylen=16 seq=000001 channel=closed
 *   scp 02 HH / scp 03 HH      the protocol and its i
 *   keys KEY [KVN]             one key for ENC, MAC and DEK (replaces every key set)
 *   keys ENC MAC DEK [KVN]     three keys
 *   kdd HEX                    the 10 bytes of key diversification data
 *   seq N                      the sequence counter the next channel uses
 *   challenge HEX|off          a fixed card challenge (6 bytes SCP02, 8 or 16 SCP03)
 *   content [clear]            the registry, one line an entry; clear: back to its start
 */
#include "tools/testcard/testcard.h"

namespace {

const int scp03_i_bits = SD_I03_S16 | SD_I03_PSEUDO_RANDOM | SD_I03_RMAC | SD_I03_RENC;
const int scp02_i_needed = SD_I02_THREE_KEYS | SD_I02_EXPLICIT;
const int scp02_i_bits =
    scp02_i_needed | SD_I02_UNMODIFIED | SD_I02_ICV_ENCRYPT | SD_I02_PSEUDO_RANDOM;

std::string hex_byte(int value) {
    uint8_t byte = (uint8_t)value;
    return card_hex(&byte, 1);
}

std::string sd_report(const CardSd &sd) {
    const SdKeySet &keys = sd.key_sets.front();
    uint8_t counter[3] = {(uint8_t)(sd.sequence >> 16), (uint8_t)(sd.sequence >> 8),
                          (uint8_t)sd.sequence};
    std::string reply = "ok scp=" + hex_byte(sd.scp) + " i=" + hex_byte(sd.i);
    reply += " kvn=" + hex_byte(keys.kvn) + " keylen=" + std::to_string(keys.enc.size());
    reply += " seq=" + (sd.scp == 2 ? card_hex(counter + 1, 2) : card_hex(counter, 3));
    return reply + " channel=" + card_sd_state(sd.channels[0].session) + "\n";
}

bool key_sets_fit(const CardSd &sd, int scp) {
    for (const SdKeySet &set : sd.key_sets)
        if (scp == 2 && set.enc.size() != 16)
            return false;
    return true;
}

std::string sd_protocol(CardSd &sd, const std::vector<std::string> &words) {
    std::vector<uint8_t> scp, i;
    const char *usage = "error usage: scp [02 HH] or scp [03 HH] (HH: the protocol's i)\n";
    if (words.size() != 3 || !card_hex_parse(words[1], scp) || !card_hex_parse(words[2], i) ||
        scp.size() != 1 || i.size() != 1)
        return usage;
    if (scp[0] == 2 && ((i[0] & scp02_i_needed) != scp02_i_needed || (i[0] & ~scp02_i_bits)))
        return "error SCP02's i: bits 01 (three keys) and 04 (explicit initiation), and any of "
               "02 (C-MAC on the unmodified APDU), 10 (ICV encryption), 40 (pseudo-random)\n";
    if (scp[0] == 3 && ((i[0] & ~scp03_i_bits) || ((i[0] & SD_I03_RENC) && !(i[0] & SD_I03_RMAC))))
        return "error SCP03's i: bits 01 (S16), 10 (pseudo-random), 20 (R-MAC), 40 (R-ENC, "
               "with 20)\n";
    if (scp[0] != 2 && scp[0] != 3)
        return usage;
    if (!key_sets_fit(sd, scp[0]))
        return "error SCP02 takes 16-byte keys: set them with keys first\n";
    sd.scp = scp[0];
    sd.i = i[0];
    if (sd.scp == 2)
        sd.sequence &= 0xFFFF;
    return "ok\n";
}

std::string sd_keys(CardSd &sd, const std::vector<std::string> &words) {
    size_t count = words.size() - 1;
    const char *usage = "error usage: keys KEY [KVN] or keys ENC MAC DEK [KVN] (hexadecimal)\n";
    if (count < 1 || count > 4)
        return usage;
    bool three = count >= 3;
    size_t key_words = three ? 3 : 1;
    SdKeySet set;
    set.kvn = sd.key_sets.front().kvn;
    std::vector<uint8_t> kvn;
    if (count == key_words + 1 && (!card_hex_parse(words.back(), kvn) || kvn.size() != 1))
        return "error the key version is one byte of hexadecimal\n";
    if (count == 2 || count == 4)
        set.kvn = kvn[0];
    else if (count != key_words)
        return usage;
    Bytes *slots[] = {&set.enc, &set.mac, &set.dek};
    for (size_t k = 0; k < 3; k++) {
        if (!card_hex_parse(words[1 + (three ? k : 0)], *slots[k]))
            return usage;
        size_t n = slots[k]->size();
        if (n != set.enc.size() || (n != 16 && n != 24 && n != 32))
            return "error keys are 16, 24 or 32 bytes, all three of one length\n";
    }
    if (sd.scp == 2 && set.enc.size() != 16)
        return "error SCP02 takes 16-byte keys\n";
    sd.key_sets.assign(1, set);
    return "ok\n";
}

std::string sd_kdd(CardSd &sd, const std::vector<std::string> &words) {
    std::string text;
    for (size_t k = 1; k < words.size(); k++)
        text += words[k];
    Bytes kdd;
    if (!card_hex_parse(text, kdd) || kdd.size() != SD_KDD_SIZE)
        return "error usage: kdd HEX (10 bytes)\n";
    sd.kdd = kdd;
    return "ok\n";
}

std::string sd_sequence(CardSd &sd, const std::vector<std::string> &words) {
    long value = 0;
    long max = sd.scp == 2 ? 0xFFFF : 0xFFFFFF;
    if (words.size() != 2 || !card_number_parse(words[1], max, value))
        return sd.scp == 2 ? "error usage: seq N (0 to 65535 for SCP02)\n"
                           : "error usage: seq N (0 to 16777215 for SCP03)\n";
    sd.sequence = (uint32_t)value;
    return "ok\n";
}

std::string sd_challenge(CardSd &sd, const std::vector<std::string> &words) {
    Bytes challenge;
    if (words.size() == 2 && words[1] == "off") {
        sd.fixed_challenge.clear();
        return "ok\n";
    }
    std::string text;
    for (size_t k = 1; k < words.size(); k++)
        text += words[k];
    if (words.size() < 2 || !card_hex_parse(text, challenge) ||
        (challenge.size() != 6 && challenge.size() != 8 && challenge.size() != 16))
        return "error usage: challenge HEX (6, 8 or 16 bytes) or challenge off\n";
    sd.fixed_challenge = challenge;
    return "ok\n";
}

/* "scp" alone reports, with words it sets the protocol. */
std::string sd_scp(CardSd &sd, const std::vector<std::string> &words) {
    return words.size() == 1 ? sd_report(sd) : sd_protocol(sd, words);
}

/* The security domain's control commands, by their first word */
struct SdCommand {
    const char *name;
    std::string (*handler)(CardSd &sd, const std::vector<std::string> &words);
};
const SdCommand sd_commands[] = {
    {"scp", sd_scp},      {"keys", sd_keys},           {"kdd", sd_kdd},
    {"seq", sd_sequence}, {"challenge", sd_challenge}, {"content", sd_registry_control},
};

} // namespace

std::string card_sd_state(const SdSession &s) {
    switch (s.state) {
        case SD_INITIALIZED: return "initialized";
        case SD_OPEN: return hex_byte(s.level);
        default: return "closed";
    }
}

bool card_sd_control_known(const std::string &command) {
    for (const SdCommand &entry : sd_commands)
        if (command == entry.name)
            return true;
    return false;
}

std::string card_sd_control(CardSd &sd, const std::vector<std::string> &words) {
    for (const SdCommand &entry : sd_commands)
        if (words[0] == entry.name)
            return entry.handler(sd, words);
    return "error unknown command " + words[0] + "\n";
}
