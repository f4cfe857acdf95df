/*
 * testcard_sd_host.h: the host's side of the security domain's channels for
 * the card's tests, computed from crypto/crypto.h alone (not from the card's
 * own channel code), so that one misreading of the protocols cannot pass
 * both; and the fixture that sends commands and control lines in-process.
 */
#ifndef VORLANE_TESTCARD_SD_HOST_H
#define VORLANE_TESTCARD_SD_HOST_H

#include "tools/testcard/testcard.h"

#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace sdtest {

const char select_isd[] = "00A4040008A000000151000000";
const char key40[] = "404142434445464748494A4B4C4D4E4F";

inline Bytes hex(const std::string &text) {
    Bytes bytes;
    EXPECT_TRUE(card_hex_parse(text, bytes)) << text;
    return bytes;
}

inline std::string text(const Bytes &bytes) {
    return card_hex(bytes.data(), bytes.size());
}

struct SdFixture : ::testing::Test {
    TestCard card;
    void SetUp() override {
        card.memory.assign(CARD_MEMORY_SIZE, 0);
    }
    bool follow_61 = false; /* fetch 61xx answers with GET RESPONSE, as a T=0 reader does */
    int get_responses = 0;
    Bytes send(const Bytes &command) {
        Bytes response;
        card_apdu_answer(card, command.data(), command.size(), response);
        for (; follow_61 && response.size() == 2 && response[0] == 0x61; get_responses++) {
            Bytes get = {0x00, 0xC0, 0x00, 0x00, response[1]};
            card_apdu_answer(card, get.data(), get.size(), response);
        }
        return response;
    }
    std::string answer(const std::string &command) {
        return text(send(hex(command)));
    }
    std::string control(const std::string &line) {
        bool close = false;
        return card_control_line(card, line, close);
    }
    /* The card as after "reset", then the control lines (may be none). */
    void restart(const char *lines) {
        control("reset");
        if (*lines)
            setup(lines);
    }
    /* Control lines separated by ';', each answered "ok". */
    void setup(const std::string &lines) {
        std::stringstream in(lines);
        for (std::string line; std::getline(in, line, ';');)
            ASSERT_EQ(control(line), "ok\n") << line;
    }
};

/* ---- the host's side, computed here ---- */

inline Bytes run_mac(int mac, const Bytes &key, const Bytes &iv, const Bytes &data) {
    Bytes out(CRYPTO_BLOCK_MAX);
    size_t n = 0;
    EXPECT_EQ(crypto_mac(mac, key.data(), key.size(), iv.empty() ? nullptr : iv.data(), iv.size(),
                         data.data(), data.size(), out.data(), out.size(), &n, nullptr, 0),
              CRYPTO_OK);
    out.resize(n);
    return out;
}

inline Bytes run_cipher(bool decrypt, int cipher, const Bytes &key, const Bytes &iv,
                        const Bytes &data) {
    Bytes out(data.size());
    auto run = decrypt ? crypto_decrypt : crypto_encrypt;
    EXPECT_EQ(run(cipher, key.data(), key.size(), iv.empty() ? nullptr : iv.data(), iv.size(),
                  data.data(), data.size(), out.data(), out.size(), nullptr, 0),
              CRYPTO_OK);
    return out;
}

inline Bytes padded(size_t block, Bytes data) {
    for (data.push_back(0x80); data.size() % block;)
        data.push_back(0x00);
    return data;
}

inline Bytes cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes slice(const Bytes &b, size_t from, size_t n) {
    return Bytes(b.begin() + (long)from, b.begin() + (long)(from + n));
}

inline Bytes pattern(size_t n, uint8_t seed) {
    Bytes data(n);
    for (size_t i = 0; i < n; i++)
        data[i] = (uint8_t)(i * 13 + seed);
    return data;
}

/* SP 800-108 counter mode over CMAC-AES, as SCP03 lays out its input. */
inline Bytes kdf(const Bytes &key, uint8_t constant, size_t bits, const Bytes &context) {
    Bytes out;
    for (uint8_t i = 1; out.size() * 8 < bits; i++) {
        Bytes input = cat(Bytes(11, 0), {constant, 0x00, (uint8_t)(bits >> 8), (uint8_t)bits, i});
        out = cat(out, run_mac(CRYPTO_MAC_CMAC_AES, key, {}, cat(input, context)));
    }
    return slice(out, 0, bits / 8);
}

inline Bytes scp02_key(const Bytes &key, uint8_t constant, const Bytes &sequence) {
    Bytes input = cat({0x01, constant}, sequence);
    input.resize(16, 0);
    return run_cipher(false, CRYPTO_3DES_CBC, key, {}, input);
}

inline Bytes lc_field(size_t lc, bool extended) {
    if (!extended && lc <= 255)
        return {(uint8_t)lc};
    return {0x00, (uint8_t)(lc >> 8), (uint8_t)lc};
}

/* The class byte of a command on a logical channel, from channel 0's (00,
   80, 04 or 84): channels 0-3 in b2 b1; 4-19 with b7 set, secure messaging
   in b6 and the number less 4 in b4..b1. */
inline uint8_t class_on(int channel, uint8_t basic) {
    if (channel < 4)
        return (uint8_t)(basic | channel);
    return (uint8_t)(0x40 | (basic & 0x90) | ((basic & 0x04) ? 0x20 : 0) | (channel - 4));
}

struct Host {
    int channel = 0; /* the logical channel the host works on */
    int i02 = 0x15;  /* SCP02's options: bit 02 C-MAC on the unmodified APDU, 10 ICV encryption */
    int scp = 3, level = 0;
    size_t size = 8;
    Bytes enc, mac, dek, s_enc, s_mac, s_rmac, s_dek, chain;
    uint8_t commands = 0; /* SCP03's encryption counter (the tests stay below 256) */

    Bytes counter_icv(uint8_t first) const {
        Bytes block(16, 0);
        block[0] = first;
        block[15] = commands;
        return run_cipher(false, CRYPTO_AES_ECB, s_enc, {}, block);
    }
    /* INITIALIZE UPDATE and EXTERNAL AUTHENTICATE: the latter's status word,
       "card cryptogram" when the card's does not check out. */
    std::string open(SdFixture &f, int lvl, const Bytes &challenge, uint8_t kvn = 0,
                     bool spoil = false) {
        size = scp == 2 ? 8 : challenge.size();
        Bytes init =
            cat({class_on(channel, 0x80), 0x50, kvn, 0x00, (uint8_t)challenge.size()}, challenge);
        Bytes answer = f.send(cat(init, {0x00}));
        if (answer.size() < 28)
            return text(answer);
        Bytes card_challenge = slice(answer, scp == 2 ? 14 : 13, scp == 2 ? 6 : size);
        Bytes card_cryptogram = slice(answer, scp == 2 ? 20 : 13 + size, size), expected, host;
        if (scp == 2) {
            Bytes sequence = slice(answer, 12, 2);
            s_enc = scp02_key(enc, 0x82, sequence);
            s_mac = scp02_key(mac, 0x01, sequence);
            s_dek = scp02_key(dek, 0x81, sequence);
            Bytes a = cat(cat(challenge, sequence), card_challenge);
            Bytes b = cat(cat(sequence, card_challenge), challenge);
            expected = run_mac(CRYPTO_MAC_CBC_3DES, s_enc, {}, padded(8, a));
            host = run_mac(CRYPTO_MAC_CBC_3DES, s_enc, {}, padded(8, b));
            chain.clear();
        } else {
            Bytes context = cat(challenge, card_challenge);
            s_enc = kdf(enc, 0x04, enc.size() * 8, context);
            s_mac = kdf(mac, 0x06, mac.size() * 8, context);
            s_rmac = kdf(mac, 0x07, mac.size() * 8, context);
            s_dek = dek;
            expected = kdf(s_mac, 0x00, size * 8, context);
            host = kdf(s_mac, 0x01, size * 8, context);
            chain.assign(16, 0);
        }
        if (card_cryptogram != expected)
            return "card cryptogram";
        host[0] ^= spoil ? 1 : 0;
        level = 0;
        commands = 0;
        std::string sw = text(f.send(wrap({0x84, 0x82, (uint8_t)lvl, 0x00}, host, -1)));
        level = lvl;
        return sw;
    }
    /* The command as the channel sends it; le -1 for none. */
    Bytes wrap(const Bytes &header, Bytes data, int le) {
        Bytes head = {(uint8_t)(header[0] | 0x04), header[1], header[2], header[3]}, tag;
        if (scp == 2) {
            Bytes icv = chain.empty() ? Bytes(8, 0) : chain;
            if (!chain.empty() && (i02 & 0x10))
                icv = run_cipher(false, CRYPTO_DES_ECB, slice(s_mac, 0, 8), {}, chain);
            Bytes input = cat(cat(head, lc_field(data.size() + 8, false)), data);
            if (i02 & 0x02) { /* the command as written: no SM bit, Lc of the data alone */
                input = cat({(uint8_t)(head[0] & ~0x04), head[1], head[2], head[3]},
                            data.empty() ? Bytes() : cat(lc_field(data.size(), false), data));
            }
            tag = chain = run_mac(CRYPTO_MAC_RETAIL, s_mac, icv, padded(8, input));
            if ((level & 0x02) && !data.empty())
                data = run_cipher(false, CRYPTO_3DES_CBC, s_enc, {}, padded(8, data));
        } else {
            commands += level ? 1 : 0;
            if ((level & 0x02) && !data.empty())
                data = run_cipher(false, CRYPTO_AES_CBC, s_enc, counter_icv(0), padded(16, data));
            Bytes lc = lc_field(data.size() + size, data.size() + size > 255 || le > 256);
            chain = run_mac(CRYPTO_MAC_CMAC_AES, s_mac, {}, cat(cat(cat(chain, head), lc), data));
            tag = slice(chain, 0, size);
        }
        bool extended = data.size() + tag.size() > 255 || le > 256;
        head[0] = class_on(channel, head[0]);
        Bytes out = cat(cat(head, lc_field(data.size() + tag.size(), extended)), cat(data, tag));
        if (le >= 0 && extended)
            return cat(out, {(uint8_t)(le >> 8), (uint8_t)le});
        return le >= 0 ? cat(out, {(uint8_t)le}) : out;
    }
    /* The plain answer, or "R-MAC" / "R-ENC" when it does not check out. */
    std::string unwrap(const Bytes &answer) const {
        if (scp == 2 || answer.size() < 2)
            return text(answer);
        Bytes sw = slice(answer, answer.size() - 2, 2), data = slice(answer, 0, answer.size() - 2);
        if ((level & 0x10) && (sw[0] == 0x62 || sw[0] == 0x63 || text(sw) == "9000")) {
            if (data.size() < size)
                return "R-MAC";
            Bytes tag = slice(data, data.size() - size, size);
            data.resize(data.size() - size);
            Bytes full = run_mac(CRYPTO_MAC_CMAC_AES, s_rmac, {}, cat(cat(chain, data), sw));
            if (slice(full, 0, size) != tag)
                return "R-MAC";
        }
        if ((level & 0x20) && !data.empty()) {
            data = run_cipher(true, CRYPTO_AES_CBC, s_enc, counter_icv(0x80), data);
            size_t n = 0;
            if (crypto_unpad(data.data(), data.size(), &n, nullptr, 0) != CRYPTO_OK)
                return "R-ENC";
            data.resize(n);
        }
        return text(cat(data, sw));
    }
};

/* Three applications put straight into the registry (the third LOCKED), as
   instances of the library the card starts with, so that listings have
   more than one page. */
inline void registry_add_applications(TestCard &card) {
    const char *aids[] = {"F0564F524C414E4501", "F0564F524C414E4502", "F0564F524C414E4503"};
    for (int k = 0; k < 3; k++) {
        SdEntry app;
        app.aid = hex(aids[k]);
        app.life_cycle = k == 2 ? 0x83 : SD_LIFE_SELECTABLE;
        app.privileges = {0x00, 0x00, 0x00};
        app.load_file = hex("F0564F524C414E45");
        app.module = hex("F0564F524C414E4541");
        card.sd.registry.push_back(app);
    }
}

inline std::string read_two(SdFixture &f, Host &h) {
    return h.unwrap(f.send(h.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2)));
}

} // namespace sdtest

#endif
