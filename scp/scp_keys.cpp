/*
 * scp_keys.cpp: opening a secure channel: the INITIALIZE UPDATE command,
 * the card's answer read (its protocol and options, the challenges), the
 * session keys derived from the static keys, the card cryptogram checked
 * and the EXTERNAL AUTHENTICATE command made. Also SCP02's diversification
 * of master keys by the card's KDD.
 *
 * The card cryptogram is always checked before EXTERNAL AUTHENTICATE
 * exists: a card counts every failed EXTERNAL AUTHENTICATE toward locking
 * itself, so wrong keys must never reach it.
 */
#include "scp/scp.h"

#include <stdio.h>
#include <string.h>

#include "crypto/crypto.h"
#include "crypto/crypto_wipe.h"

enum {
    SCP02_ANSWER = 28, /* KDD, key information, counter, challenge, cryptogram */
    SCP03_CHALLENGE_S8 = 8,
    SCP03_SEQUENCE = 3, /* the counter a pseudo-random challenge comes with */
    SCP03_I_S16 = 0x01,
};

/* SCP02's derivation constants, one a session key */
enum {
    SCP02_S_ENC = 0x0182,
    SCP02_S_MAC = 0x0101,
    SCP02_S_RMAC = 0x0102,
    SCP02_S_DEK = 0x0181,
    SCP02_I_DEFAULT = 0x15, /* the i of a card whose answer does not say it */
};

/* SCP03's derivation constants */
enum {
    SCP03_CARD_CRYPTOGRAM = 0x00,
    SCP03_HOST_CRYPTOGRAM = 0x01,
    SCP03_S_ENC = 0x04,
    SCP03_S_MAC = 0x06,
    SCP03_S_RMAC = 0x07,
};

static int scp_say(char *message, size_t size, int status, const char *text) {
    snprintf(message, size, "%s", text);
    return status;
}

static int scp_crypto_failed(char *message, size_t size) {
    return scp_say(message, size, SCP_CRYPTO, "the cryptography failed");
}

void scp_session_wipe(ScpSession *session) {
    crypto_aes_close(&session->aes_enc);
    crypto_aes_close(&session->aes_mac);
    crypto_aes_close(&session->aes_rmac);
    crypto_wipe(session, sizeof *session);
}

int scp_initialize_update(const ScpRequest *request, unsigned char *command) {
    size_t n = request->host_length;

    command[0] = scp_channel_cla(1, request->channel);
    command[1] = 0x50;
    command[2] = (unsigned char)request->kvn;
    command[3] = 0x00;
    command[4] = (unsigned char)n;
    memcpy(command + 5, request->host, n);
    command[5 + n] = 0x00;
    return (int)(6 + n);
}

int scp_diversify(int method, const unsigned char *master, const unsigned char *kdd, int n,
                  unsigned char *out) {
    unsigned char data[16];

    if (method == SCP_DIVERSIFY_EMV) {
        memcpy(data, kdd + 4, 6);
    } else {
        memcpy(data, kdd, 2);
        memcpy(data + 2, kdd + 4, 4);
    }
    memcpy(data + 8, data, 6);
    data[6] = 0xF0;
    data[14] = 0x0F;
    data[7] = data[15] = (unsigned char)n;
    int status =
        crypto_encrypt(CRYPTO_3DES_ECB, master, 16, 0, 0, data, sizeof data, out, 16, 0, 0);
    return status == CRYPTO_OK ? SCP_OK : SCP_CRYPTO;
}

int scp03_derive(const unsigned char *key, size_t key_length, int constant,
                 const unsigned char *context, size_t context_length, size_t length,
                 unsigned char *out) {
    unsigned char data[16 + 2 * SCP_CHALLENGE_MAX];
    unsigned char block[CRYPTO_BLOCK_MAX];
    size_t bits = 8 * length;
    size_t made;

    if (context_length > 2 * SCP_CHALLENGE_MAX)
        return SCP_CRYPTO;
    crypto_wipe(data, 11); /* the label */
    data[11] = (unsigned char)constant;
    data[12] = 0x00;
    data[13] = (unsigned char)(bits >> 8);
    data[14] = (unsigned char)bits;
    memcpy(data + 16, context, context_length);
    int status = SCP_OK;
    for (size_t done = 0, i = 1; status == SCP_OK && done < length; i++, done += 16) {
        data[15] = (unsigned char)i;
        if (crypto_mac(CRYPTO_MAC_CMAC_AES, key, key_length, 0, 0, data, 16 + context_length, block,
                       sizeof block, &made, 0, 0) != CRYPTO_OK)
            status = SCP_CRYPTO;
        else
            memcpy(out + done, block, length - done < 16 ? length - done : 16);
    }
    crypto_wipe(block, sizeof block);
    return status;
}

/* The plain EXTERNAL AUTHENTICATE with the host cryptogram, wrapped with
   its C-MAC alone: it is the channel's first MAC and advances no
   encryption counter. */
static int scp_external_authenticate(ScpSession *session, const unsigned char *cryptogram,
                                     size_t length, unsigned char *command, int *command_length,
                                     ScpWork *work, char *message, size_t size) {
    unsigned char plain[5 + SCP_CHALLENGE_MAX];
    int level = session->level;

    plain[0] = scp_channel_cla(1, session->channel);
    plain[1] = 0x82;
    plain[2] = (unsigned char)level;
    plain[3] = 0x00;
    plain[4] = (unsigned char)length;
    memcpy(plain + 5, cryptogram, length);
    session->level = SCP_LEVEL_MAC;
    int status = scp_wrap(session, plain, (int)(5 + length), 0, command, SCP_AUTHENTICATE_SIZE,
                          command_length, work, message, size);
    session->level = level;
    if (session->protocol == SCP_PROTOCOL_03)
        session->counter = 0; /* SCP03 counts the commands after it */
    return status;
}

/* SCP02: a session key from a static key and its constant. */
static int scp02_session_key(const ScpSession *session, const unsigned char *key, int constant,
                             unsigned char *out) {
    unsigned char data[16];

    crypto_wipe(data, sizeof data);
    data[0] = (unsigned char)(constant >> 8);
    data[1] = (unsigned char)constant;
    memcpy(data + 2, session->sequence, 2);
    return crypto_encrypt(CRYPTO_3DES_CBC, key, 16, 0, 0, data, 16, out, 16, 0, 0) == CRYPTO_OK
               ? SCP_OK
               : SCP_CRYPTO;
}

/* SCP02: the full 3DES CBC MAC of a, b and c, padded, under the session
   ENC key (the cryptograms). */
static int scp02_cryptogram(const ScpSession *session, const unsigned char *a, size_t an,
                            const unsigned char *b, size_t bn, const unsigned char *c, size_t cn,
                            unsigned char *out) {
    unsigned char data[24], padded[32];
    size_t length, made;

    memcpy(data, a, an);
    memcpy(data + an, b, bn);
    memcpy(data + an + bn, c, cn);
    if (crypto_pad(8, data, an + bn + cn, padded, sizeof padded, &length, 0, 0) != CRYPTO_OK ||
        crypto_mac(CRYPTO_MAC_CBC_3DES, session->enc, 16, 0, 0, padded, length, out, 8, &made, 0,
                   0) != CRYPTO_OK)
        return SCP_CRYPTO;
    return SCP_OK;
}

/* SCP02's static keys: as given, diversified, or the one base key. */
static int scp02_static_keys(const ScpSession *session, const ScpRequest *request,
                             const ScpKeys *keys, ScpKeys *out) {
    *out = *keys;
    if ((session->i & SCP02_I_THREE_KEYS) == 0) {
        memcpy(out->mac, keys->enc, 16);
        memcpy(out->dek, keys->enc, 16);
    }
    if (request->diversify == SCP_DIVERSIFY_NONE)
        return SCP_OK;
    ScpKeys masters = *out;
    int status = SCP_OK;
    if (scp_diversify(request->diversify, masters.enc, session->kdd, 1, out->enc) != SCP_OK ||
        scp_diversify(request->diversify, masters.mac, session->kdd, 2, out->mac) != SCP_OK ||
        scp_diversify(request->diversify, masters.dek, session->kdd, 3, out->dek) != SCP_OK)
        status = SCP_CRYPTO;
    crypto_wipe(&masters, sizeof masters);
    return status;
}

/* What the request and the card's answer must be for SCP02, and the
   card's i (the request's, or the one a card means when its answer does
   not say); SCP_OK or the reason. */
static int scp02_check(ScpSession *session, const ScpRequest *request, const ScpKeys *keys,
                       size_t answer_length, char *message, size_t size) {
    if (answer_length != SCP02_ANSWER)
        return scp_say(message, size, SCP_BAD_ANSWER, "INITIALIZE UPDATE answer is not SCP02's");
    if (request->level != SCP_LEVEL_C_MAC && request->level != SCP_LEVEL_C_MAC_ENC)
        return scp_say(message, size, SCP_BAD_REQUEST, "SCP02 offers MAC and MAC+ENC only");
    if (keys->length != 16)
        return scp_say(message, size, SCP_BAD_REQUEST, "SCP02 takes keys of 16 bytes");
    if (request->s16)
        return scp_say(message, size, SCP_BAD_REQUEST, "S16 is for SCP03 only");
    session->i = request->scp02_i >= 0 ? request->scp02_i : SCP02_I_DEFAULT;
    if (!(session->i & SCP02_I_EXPLICIT)) {
        snprintf(message, size, "SCP02 i=%02X asks for implicit initiation, which is not offered",
                 session->i);
        return SCP_BAD_REQUEST;
    }
    if (session->i & SCP02_I_ICV_AID) {
        snprintf(message, size, "SCP02 i=%02X asks for an ICV from the AID, which is not offered",
                 session->i);
        return SCP_BAD_REQUEST;
    }
    return SCP_OK;
}

static int scp02_open(ScpSession *session, const ScpRequest *request, const ScpKeys *keys,
                      const unsigned char *answer, size_t answer_length, char *message,
                      size_t size) {
    unsigned char card_cryptogram[8], host_cryptogram[8];
    ScpKeys statics;
    int status = scp02_check(session, request, keys, answer_length, message, size);

    if (status != SCP_OK)
        return status;
    session->mac_length = 8;
    session->key_length = 16;
    memcpy(session->sequence, answer + 12, 2);
    session->challenge_length = 6;
    memcpy(session->card, answer + 14, 6);
    status = scp02_static_keys(session, request, keys, &statics);
    if (status == SCP_OK)
        status = scp02_session_key(session, statics.enc, SCP02_S_ENC, session->enc);
    if (status == SCP_OK)
        status = scp02_session_key(session, statics.mac, SCP02_S_MAC, session->mac);
    if (status == SCP_OK)
        status = scp02_session_key(session, statics.mac, SCP02_S_RMAC, session->rmac);
    if (status == SCP_OK)
        status = scp02_session_key(session, statics.dek, SCP02_S_DEK, session->dek);
    if (status == SCP_OK)
        status = scp02_cryptogram(session, session->host, 8, session->sequence, 2, session->card, 6,
                                  card_cryptogram);
    if (status == SCP_OK)
        status = scp02_cryptogram(session, session->sequence, 2, session->card, 6, session->host, 8,
                                  host_cryptogram);
    crypto_wipe(&statics, sizeof statics);
    if (status != SCP_OK)
        return scp_crypto_failed(message, size);
    if (!crypto_equal(card_cryptogram, answer + 20, 8))
        return scp_say(message, size, SCP_BAD_CRYPTOGRAM,
                       "card cryptogram does not match (wrong keys?)");
    memcpy(session->chain, host_cryptogram, 8); /* passed on to the EXTERNAL AUTHENTICATE */
    return SCP_OK;
}

static int scp03_check(const ScpSession *session, const ScpRequest *request, const ScpKeys *keys,
                       size_t answer_length, char *message, size_t size) {
    size_t challenge = request->s16 ? 16 : SCP03_CHALLENGE_S8;
    size_t plain = 13 + 2 * challenge;

    if (request->s16 && (session->i & SCP03_I_S16) == 0) {
        snprintf(message, size, "the card's SCP03 i=%02X does not allow S16", session->i);
        return SCP_BAD_REQUEST;
    }
    if (answer_length != plain && answer_length != plain + SCP03_SEQUENCE)
        return scp_say(message, size, SCP_BAD_ANSWER, "INITIALIZE UPDATE answer is not SCP03's");
    if (keys->length != 16 && keys->length != 24 && keys->length != 32)
        return scp_say(message, size, SCP_BAD_REQUEST, "SCP03 takes keys of 16, 24 or 32 bytes");
    if (request->diversify != SCP_DIVERSIFY_NONE)
        return scp_say(message, size, SCP_BAD_REQUEST, "DIVERSIFY is for SCP02 keys only");
    return SCP_OK;
}

static void scp03_hold(CryptoAesKey *held, const unsigned char *key, size_t length) {
    memcpy(held->bytes, key, length);
    held->length = length;
}

static int scp03_open(ScpSession *session, const ScpRequest *request, const ScpKeys *keys,
                      const unsigned char *answer, size_t answer_length, char *message,
                      size_t size) {
    unsigned char context[2 * SCP_CHALLENGE_MAX];
    unsigned char cryptogram[SCP_CHALLENGE_MAX];

    session->i = answer[12];
    int status = scp03_check(session, request, keys, answer_length, message, size);
    if (status != SCP_OK)
        return status;
    size_t n = request->s16 ? 16 : SCP03_CHALLENGE_S8;
    session->mac_length = n;
    session->key_length = keys->length;
    session->challenge_length = n;
    memcpy(session->card, answer + 13, n);
    if (answer_length > 13 + 2 * n)
        memcpy(session->sequence, answer + 13 + 2 * n, SCP03_SEQUENCE);
    memcpy(context, session->host, n);
    memcpy(context + n, session->card, n);
    size_t k = keys->length;
    if (scp03_derive(keys->enc, k, SCP03_S_ENC, context, 2 * n, k, session->enc) != SCP_OK ||
        scp03_derive(keys->mac, k, SCP03_S_MAC, context, 2 * n, k, session->mac) != SCP_OK ||
        scp03_derive(keys->mac, k, SCP03_S_RMAC, context, 2 * n, k, session->rmac) != SCP_OK ||
        scp03_derive(session->mac, k, SCP03_CARD_CRYPTOGRAM, context, 2 * n, n, cryptogram) !=
            SCP_OK)
        return scp_crypto_failed(message, size);
    memcpy(session->dek, keys->dek, k);
    scp03_hold(&session->aes_enc, session->enc, k);
    scp03_hold(&session->aes_mac, session->mac, k);
    scp03_hold(&session->aes_rmac, session->rmac, k);
    if (!crypto_equal(cryptogram, answer + 13 + n, n))
        return scp_say(message, size, SCP_BAD_CRYPTOGRAM,
                       "card cryptogram does not match (wrong keys?)");
    if (scp03_derive(session->mac, k, SCP03_HOST_CRYPTOGRAM, context, 2 * n, n, session->chain) !=
        SCP_OK)
        return scp_crypto_failed(message, size);
    return SCP_OK;
}

int scp_authenticate(ScpSession *session, const ScpRequest *request, const ScpKeys *keys,
                     const unsigned char *answer, size_t answer_length, unsigned char *command,
                     int *length, ScpWork *work, char *message, size_t size) {
    unsigned char host_cryptogram[SCP_CHALLENGE_MAX];
    int status;

    scp_session_wipe(session);
    session->level = request->level;
    session->channel = request->channel;
    memcpy(session->host, request->host, request->host_length);
    if (answer_length < 12)
        return scp_say(message, size, SCP_BAD_ANSWER, "INITIALIZE UPDATE answer too short");
    memcpy(session->kdd, answer, SCP_KDD_SIZE);
    session->protocol = answer[11];
    if (session->protocol == SCP_PROTOCOL_02) {
        status = scp02_open(session, request, keys, answer, answer_length, message, size);
    } else if (session->protocol == SCP_PROTOCOL_03) {
        status = scp03_open(session, request, keys, answer, answer_length, message, size);
    } else {
        snprintf(message, size, "the card offers SCP%02X, not SCP02 or SCP03", answer[11]);
        status = SCP_BAD_ANSWER;
    }
    if (status != SCP_OK)
        return status;
    size_t n = session->mac_length;
    memcpy(host_cryptogram, session->chain, n);
    crypto_wipe(session->chain, sizeof session->chain);
    return scp_external_authenticate(session, host_cryptogram, n, command, length, work, message,
                                     size);
}
