/*
 * card_sd_crypto.cpp: the cryptography of the security domain's channels,
 * the card's side of it: session keys, challenges and cryptograms, checking
 * and decrypting commands, MACing and encrypting answers, and the key
 * blocks of PUT KEY. Every cipher and MAC comes from crypto/crypto.h.
 *
 * SCP02 (i with three keys and explicit initiation): session keys are
 * 3DES-CBC encryptions (IV zero) of a derivation constant, the 2-byte
 * sequence counter and twelve zeros under the static keys; cryptograms are
 * full 3DES CBC MACs over the challenges; the C-MAC is the retail MAC over
 * the command with CLA | 04 and Lc + 8 and the plain data (on the modified
 * APDU), or over the command as the host wrote it, without the SM bit and
 * with Lc counting only its data (i bit 02, on the unmodified APDU); its ICV
 * is the previous C-MAC, encrypted with single DES under the first half of
 * the C-MAC key when i has bit 10, and zero for EXTERNAL AUTHENTICATE. At
 * C-DECRYPTION the data was padded and 3DES-CBC encrypted (IV zero) after
 * the MAC was computed. The class byte is channel 0's (84 or 04) for the
 * MAC whatever channel the command came on.
 *
 * SCP03: every derivation is the counter-mode KDF with CMAC-AES (label of
 * eleven zeros and the constant, a zero byte, L, the counter, the context);
 * the C-MAC is a CMAC over the chaining value and the command as sent (its
 * data already encrypted), and its full 16 bytes chain to the next one; the
 * encryption counter goes up by one for every command after EXTERNAL
 * AUTHENTICATE, with data or without, and AES of it is the ICV of the
 * command's data; AES of it with its first byte 80 is the ICV of the answer.
 */
#include "tools/testcard/testcard.h"

#include "crypto/crypto.h"

#include <cstring>

namespace {

const uint16_t scp02_cmac = 0x0101, scp02_rmac = 0x0102, scp02_dek = 0x0181, scp02_enc = 0x0182;
const uint8_t kdf_card_cryptogram = 0x00, kdf_host_cryptogram = 0x01, kdf_card_challenge = 0x02,
              kdf_s_enc = 0x04, kdf_s_mac = 0x06, kdf_s_rmac = 0x07;
const size_t scp02_challenge = 6;

bool sd_encrypt(int cipher, const Bytes &key, const uint8_t *iv, size_t iv_length,
                const Bytes &data, Bytes &out) {
    out.resize(data.size());
    return crypto_encrypt(cipher, key.data(), key.size(), iv, iv ? iv_length : 0, data.data(),
                          data.size(), out.data(), out.size(), nullptr, 0) == CRYPTO_OK;
}

bool sd_decrypt(int cipher, const Bytes &key, const uint8_t *iv, size_t iv_length,
                const Bytes &data, Bytes &out) {
    out.resize(data.size());
    return crypto_decrypt(cipher, key.data(), key.size(), iv, iv ? iv_length : 0, data.data(),
                          data.size(), out.data(), out.size(), nullptr, 0) == CRYPTO_OK;
}

bool sd_mac(int mac, const Bytes &key, const uint8_t *iv, size_t iv_length, const Bytes &data,
            Bytes &out) {
    out.resize(CRYPTO_BLOCK_MAX);
    size_t made = 0;
    int status = crypto_mac(mac, key.data(), key.size(), iv, iv ? iv_length : 0, data.data(),
                            data.size(), out.data(), out.size(), &made, nullptr, 0);
    out.resize(made);
    return status == CRYPTO_OK;
}

Bytes sd_pad(size_t block, const Bytes &data) {
    Bytes out(data.size() + block);
    size_t made = 0;
    crypto_pad(block, data.data(), data.size(), out.data(), out.size(), &made, nullptr, 0);
    out.resize(made);
    return out;
}

bool sd_unpad(Bytes &data) {
    size_t length = 0;
    if (crypto_unpad(data.data(), data.size(), &length, nullptr, 0) != CRYPTO_OK)
        return false;
    data.resize(length);
    return true;
}

Bytes sd_join(const Bytes &a, const Bytes &b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

/* Lc as a command codes it: one byte, or 00 and two bytes when it does not
   fit in one (or the command was extended). */
void sd_lc_put(Bytes &out, size_t lc, bool extended) {
    if (!extended && lc <= 255) {
        out.push_back((uint8_t)lc);
        return;
    }
    out.push_back(0);
    out.push_back((uint8_t)(lc >> 8));
    out.push_back((uint8_t)lc);
}

/* The plain command: short when its lengths allow, extended otherwise. */
Bytes sd_apdu_build(uint8_t cla, const uint8_t *header, const Bytes &data, int le) {
    Bytes out = {cla, header[1], header[2], header[3]};
    bool extended = data.size() > 255 || le > 256;
    if (!data.empty()) {
        sd_lc_put(out, data.size(), extended);
        out.insert(out.end(), data.begin(), data.end());
    }
    if (le >= 0) {
        if (extended && data.empty())
            out.push_back(0);
        if (extended)
            out.push_back((uint8_t)(le >> 8));
        out.push_back((uint8_t)le);
    }
    return out;
}

void sd_counter_increment(Bytes &counter) {
    for (size_t i = counter.size(); i-- > 0;)
        if (++counter[i] != 0)
            break;
}

bool sd_equal(const uint8_t *a, const uint8_t *b, size_t length) {
    uint8_t differ = 0;
    for (size_t i = 0; i < length; i++)
        differ |= a[i] ^ b[i];
    return differ == 0;
}

bool sd_scp02_start(SdSession &s, int i, const Bytes &aid) {
    if (!sd_scp02_session_key(s.keys.enc, scp02_enc, s.sequence, s.s_enc) ||
        !sd_scp02_session_key(s.keys.mac, scp02_cmac, s.sequence, s.s_mac) ||
        !sd_scp02_session_key(s.keys.mac, scp02_rmac, s.sequence, s.s_rmac) ||
        !sd_scp02_session_key(s.keys.dek, scp02_dek, s.sequence, s.s_dek))
        return false;
    s.chain.assign(CRYPTO_DES_BLOCK, 0);
    if (!s.card_challenge.empty())
        return true;
    if (i & SD_I02_PSEUDO_RANDOM) {
        /* Pseudo-random: the C-MAC of the selected AID under this session's
           C-MAC key, so that it changes with the sequence counter. */
        Bytes mac;
        if (!sd_mac(CRYPTO_MAC_RETAIL, s.s_mac, nullptr, 0, sd_pad(CRYPTO_DES_BLOCK, aid), mac))
            return false;
        s.card_challenge.assign(mac.begin(), mac.begin() + scp02_challenge);
        return true;
    }
    s.card_challenge.resize(scp02_challenge);
    return crypto_random(s.card_challenge.data(), scp02_challenge, nullptr, 0) == CRYPTO_OK;
}

bool sd_scp03_start(SdSession &s, int i, const Bytes &aid) {
    if (s.card_challenge.empty()) {
        if (i & SD_I03_PSEUDO_RANDOM) {
            if (!sd_kdf(s.keys.enc, kdf_card_challenge, s.size * 8, sd_join(s.sequence, aid),
                        s.card_challenge))
                return false;
        } else {
            s.card_challenge.resize(s.size);
            if (crypto_random(s.card_challenge.data(), s.size, nullptr, 0) != CRYPTO_OK)
                return false;
        }
    }
    Bytes context = sd_join(s.host_challenge, s.card_challenge);
    size_t bits = s.keys.enc.size() * 8;
    s.s_dek = s.keys.dek;
    s.chain.assign(CRYPTO_AES_BLOCK, 0);
    s.counter.assign(CRYPTO_AES_BLOCK, 0);
    return sd_kdf(s.keys.enc, kdf_s_enc, bits, context, s.s_enc) &&
           sd_kdf(s.keys.mac, kdf_s_mac, bits, context, s.s_mac) &&
           sd_kdf(s.keys.mac, kdf_s_rmac, bits, context, s.s_rmac);
}

/* The ICV of a command's C-MAC: zero for EXTERNAL AUTHENTICATE, then the
   last C-MAC, encrypted under the first half of the C-MAC key when i asks. */
bool sd_scp02_icv(const SdSession &s, Bytes &icv) {
    if (s.state != SD_OPEN) {
        icv.assign(CRYPTO_DES_BLOCK, 0);
        return true;
    }
    if (!(s.i & SD_I02_ICV_ENCRYPT)) {
        icv = s.chain;
        return true;
    }
    Bytes half(s.s_mac.begin(), s.s_mac.begin() + CRYPTO_DES_BLOCK);
    return sd_encrypt(CRYPTO_DES_ECB, half, nullptr, 0, s.chain, icv);
}

bool sd_scp02_unwrap(SdSession &s, const Apdu &apdu, const uint8_t *command, Bytes &plain) {
    const size_t mac_size = CRYPTO_DES_BLOCK;
    Bytes body(apdu.data, apdu.data + apdu.lc - mac_size);
    const uint8_t *mac = apdu.data + apdu.lc - mac_size;
    Bytes data = body;
    if ((s.level & SD_LEVEL_CDEC) && !body.empty()) {
        if (body.size() % CRYPTO_DES_BLOCK ||
            !sd_decrypt(CRYPTO_3DES_CBC, s.s_enc, nullptr, 0, body, data) || !sd_unpad(data))
            return false;
    }
    Bytes input = {apdu.cla, apdu.ins, apdu.p1, apdu.p2};
    if (!(s.i & SD_I02_UNMODIFIED)) {
        sd_lc_put(input, data.size() + mac_size, false);
    } else {
        /* As the host wrote it: no SM bit, and no Lc without data. */
        input[0] &= (uint8_t)~0x04;
        if (!data.empty())
            sd_lc_put(input, data.size(), false);
    }
    input.insert(input.end(), data.begin(), data.end());
    Bytes icv, expected;
    if (!sd_scp02_icv(s, icv) ||
        !sd_mac(CRYPTO_MAC_RETAIL, s.s_mac, icv.data(), icv.size(), sd_pad(CRYPTO_DES_BLOCK, input),
                expected) ||
        !sd_equal(expected.data(), mac, mac_size))
        return false;
    s.chain = expected;
    plain = sd_apdu_build(apdu.cla & ~0x04, command, data, apdu.le);
    return true;
}

bool sd_scp03_unwrap(SdSession &s, const Apdu &apdu, const uint8_t *command, Bytes &plain) {
    Bytes body(apdu.data, apdu.data + apdu.lc - s.size);
    const uint8_t *mac = apdu.data + apdu.lc - s.size;
    if (s.state == SD_OPEN)
        sd_counter_increment(s.counter);
    Bytes input = s.chain;
    input.insert(input.end(), command, command + 4);
    sd_lc_put(input, apdu.lc, apdu.extended);
    input.insert(input.end(), body.begin(), body.end());
    Bytes expected;
    if (!sd_mac(CRYPTO_MAC_CMAC_AES, s.s_mac, nullptr, 0, input, expected) ||
        !sd_equal(expected.data(), mac, s.size))
        return false;
    s.chain = expected;
    Bytes data = body;
    if ((s.level & SD_LEVEL_CDEC) && !body.empty()) {
        Bytes icv;
        if (body.size() % CRYPTO_AES_BLOCK ||
            !sd_encrypt(CRYPTO_AES_ECB, s.s_enc, nullptr, 0, s.counter, icv) ||
            !sd_decrypt(CRYPTO_AES_CBC, s.s_enc, icv.data(), icv.size(), body, data) ||
            !sd_unpad(data))
            return false;
    }
    plain = sd_apdu_build(apdu.cla & ~0x04, command, data, apdu.le);
    return true;
}

} // namespace

bool sd_kdf(const Bytes &key, uint8_t constant, size_t bits, const Bytes &context, Bytes &out) {
    Bytes input(11, 0);
    input.push_back(constant);
    input.push_back(0x00); /* separation indicator */
    input.push_back((uint8_t)(bits >> 8));
    input.push_back((uint8_t)bits);
    input.push_back(0); /* the counter, from 1 */
    input.insert(input.end(), context.begin(), context.end());
    out.clear();
    for (uint8_t counter = 1; out.size() * 8 < bits; counter++) {
        input[15] = counter;
        Bytes block;
        if (!sd_mac(CRYPTO_MAC_CMAC_AES, key, nullptr, 0, input, block))
            return false;
        out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(bits / 8);
    return true;
}

bool sd_scp02_session_key(const Bytes &key, uint16_t constant, const Bytes &sequence, Bytes &out) {
    Bytes input(16, 0);
    input[0] = (uint8_t)(constant >> 8);
    input[1] = (uint8_t)constant;
    if (sequence.size() != 2)
        return false;
    input[2] = sequence[0];
    input[3] = sequence[1];
    return sd_encrypt(CRYPTO_3DES_CBC, key, nullptr, 0, input, out);
}

bool sd_session_start(SdSession &s, int i, const Bytes &aid) {
    s.i = i;
    return s.scp == 2 ? sd_scp02_start(s, i, aid) : sd_scp03_start(s, i, aid);
}

bool sd_card_cryptogram(const SdSession &s, Bytes &out) {
    if (s.scp == 3)
        return sd_kdf(s.s_mac, kdf_card_cryptogram, s.size * 8,
                      sd_join(s.host_challenge, s.card_challenge), out);
    Bytes input = sd_join(s.host_challenge, sd_join(s.sequence, s.card_challenge));
    return sd_mac(CRYPTO_MAC_CBC_3DES, s.s_enc, nullptr, 0, sd_pad(CRYPTO_DES_BLOCK, input), out);
}

bool sd_host_cryptogram(const SdSession &s, Bytes &out) {
    if (s.scp == 3)
        return sd_kdf(s.s_mac, kdf_host_cryptogram, s.size * 8,
                      sd_join(s.host_challenge, s.card_challenge), out);
    Bytes input = sd_join(sd_join(s.sequence, s.card_challenge), s.host_challenge);
    return sd_mac(CRYPTO_MAC_CBC_3DES, s.s_enc, nullptr, 0, sd_pad(CRYPTO_DES_BLOCK, input), out);
}

bool sd_command_unwrap(SdSession &s, const uint8_t *command, size_t length, Bytes &plain) {
    Apdu apdu;
    size_t mac_size = s.scp == 2 ? CRYPTO_DES_BLOCK : s.size;
    if (length < 4 || !card_apdu_parse(command, length, true, apdu) || apdu.lc < mac_size)
        return false;
    return s.scp == 2 ? sd_scp02_unwrap(s, apdu, command, plain)
                      : sd_scp03_unwrap(s, apdu, command, plain);
}

bool sd_response_wrap(const SdSession &s, const Bytes &plain, Bytes &out) {
    out = plain;
    if (s.scp != 3 || plain.size() < 2 || !(s.level & (SD_LEVEL_RMAC | SD_LEVEL_RENC)))
        return true;
    Bytes data(plain.begin(), plain.end() - 2);
    uint8_t sw1 = plain[plain.size() - 2], sw2 = plain.back();
    if ((s.level & SD_LEVEL_RENC) && !data.empty()) {
        Bytes counter = s.counter, icv, encrypted;
        counter[0] = 0x80;
        if (!sd_encrypt(CRYPTO_AES_ECB, s.s_enc, nullptr, 0, counter, icv) ||
            !sd_encrypt(CRYPTO_AES_CBC, s.s_enc, icv.data(), icv.size(),
                        sd_pad(CRYPTO_AES_BLOCK, data), encrypted))
            return false;
        data = encrypted;
    }
    out = data;
    bool macked = (sw1 == 0x90 && sw2 == 0x00) || sw1 == 0x62 || sw1 == 0x63;
    if ((s.level & SD_LEVEL_RMAC) && macked) {
        Bytes input = sd_join(s.chain, data), mac;
        input.push_back(sw1);
        input.push_back(sw2);
        if (!sd_mac(CRYPTO_MAC_CMAC_AES, s.s_rmac, nullptr, 0, input, mac))
            return false;
        out.insert(out.end(), mac.begin(), mac.begin() + (long)s.size);
    }
    out.push_back(sw1);
    out.push_back(sw2);
    return true;
}

bool sd_key_check(uint8_t type, const Bytes &key, Bytes &out) {
    bool des = type == SD_KEY_TYPE_DES;
    Bytes block(des ? CRYPTO_DES_BLOCK : CRYPTO_AES_BLOCK, des ? 0x00 : 0x01);
    if (!sd_encrypt(des ? CRYPTO_3DES_ECB : CRYPTO_AES_ECB, key, nullptr, 0, block, out))
        return false;
    out.resize(3);
    return true;
}

bool sd_key_decrypt(const SdSession &s, const Bytes &encrypted, Bytes &key) {
    if (s.scp == 2)
        return sd_decrypt(CRYPTO_3DES_ECB, s.s_dek, nullptr, 0, encrypted, key);
    return sd_decrypt(CRYPTO_AES_CBC, s.s_dek, nullptr, 0, encrypted, key);
}
