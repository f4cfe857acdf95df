/*
 * scp_wrap.cpp: commands wrapped and answers unwrapped while a secure
 * channel is open.
 *
 * A command of any case, short or extended, is read into its header, data
 * and Le. Its CLA gets the secure-messaging indication, its data is
 * encrypted at ENC levels, its C-MAC is computed and chained, and it goes
 * out in the extended form when the plain one was extended or the wrapped
 * data passes 255 bytes. The Le goes out as 00: an R-MAC and R-ENC padding
 * make the answer longer than the plain Le asked for.
 *
 *   SCP02 MACs the plain data (with the Lc the MAC adds) and then encrypts
 *   it; the ICV is the last C-MAC, DES-encrypted under the MAC key's first
 *   half when the card's i says so, and zero for the first MAC.
 *   SCP03 encrypts first, then MACs the chaining value and the command as
 *   sent; the chaining value is the whole CMAC, whatever goes out.
 *
 * On a logical channel the MAC never covers the channel number: the class
 * byte it covers is the one of channel 0 (b8 and the chaining bit b5 kept,
 * the SM indication of the first coding set: 84 for a proprietary
 * command, 04 for an interindustry one; SCP02's unmodified command
 * without it), and the command then goes out with its own channel's class
 * byte and secure-messaging indication.
 */
#include "scp/scp.h"

#include <stdio.h>
#include <string.h>

#include "crypto/crypto.h"
#include "crypto/crypto_wipe.h"

enum {
    SCP_LC_MAX = 65535, /* data bytes of an extended command */
    SCP_CLA_PROPRIETARY = 0x80,
    SCP_CLA_FURTHER = 0x40,  /* the further interindustry coding: channels 4 to 19 */
    SCP_CLA_CHAINING = 0x10, /* command chaining, b5 in both codings */
    SCP_CLA_SM = 0x04,       /* the SM indication of the first coding */
};

/* A command APDU, read */
struct ScpApdu {
    unsigned char header[4];
    const unsigned char *data;
    size_t lc;
    int has_le;
    unsigned le;  /* as written: one byte, or two in the extended form */
    int extended; /* the plain command used the extended form */
};

unsigned char scp_cla(unsigned char cla) {
    return (unsigned char)((cla & SCP_CLA_FURTHER) ? cla | 0x20 : cla | SCP_CLA_SM);
}

int scp_cla_channel(unsigned char cla) {
    if (cla == 0xFF)
        return -1;
    return (cla & SCP_CLA_FURTHER) ? 4 + (cla & 0x0F) : cla & 0x03;
}

unsigned char scp_channel_cla(int proprietary, int channel) {
    unsigned char cla = proprietary ? SCP_CLA_PROPRIETARY : 0x00;

    if (channel < 4)
        return (unsigned char)(cla | channel);
    return (unsigned char)(cla | SCP_CLA_FURTHER | (channel - 4));
}

/* The class byte a C-MAC covers: channel 0's, with the SM indication when
   sm (SCP03, and SCP02's modified command). */
static unsigned char scp_mac_cla(unsigned char cla, int sm) {
    return (unsigned char)((cla & (SCP_CLA_PROPRIETARY | SCP_CLA_CHAINING)) |
                           (sm ? SCP_CLA_SM : 0));
}

int scp_session_owns(const ScpSession *session, const unsigned char *command, int length) {
    return length >= 4 && scp_cla_channel(command[0]) == session->channel;
}

/* Reads the cases of ISO/IEC 7816-3: 1, 2, 3 and 4, short or extended. */
static int scp_apdu_read(const unsigned char *c, int n, ScpApdu *apdu) {
    crypto_wipe(apdu, sizeof *apdu);
    if (n < 4)
        return 0;
    memcpy(apdu->header, c, 4);
    apdu->data = c + 4;
    if (n == 4)
        return 1;
    if (n == 5) {
        apdu->has_le = 1;
        apdu->le = c[4];
        return 1;
    }
    if (c[4] == 0 && n >= 7) {
        apdu->extended = 1;
        if (n == 7) {
            apdu->has_le = 1;
            apdu->le = (unsigned)(c[5] << 8 | c[6]);
            return 1;
        }
        apdu->lc = (size_t)(c[5] << 8 | c[6]);
        apdu->data = c + 7;
        if (apdu->lc > 0 && (size_t)n == 7 + apdu->lc)
            return 1;
        apdu->has_le = 1;
        apdu->le = (unsigned)(c[n - 2] << 8 | c[n - 1]);
        return apdu->lc > 0 && (size_t)n == 9 + apdu->lc;
    }
    apdu->lc = c[4];
    apdu->data = c + 5;
    if (apdu->lc > 0 && (size_t)n == 5 + apdu->lc)
        return 1;
    apdu->has_le = 1;
    apdu->le = c[n - 1];
    return apdu->lc > 0 && (size_t)n == 6 + apdu->lc;
}

int scp_apdu_le_bytes(const unsigned char *command, int length) {
    ScpApdu apdu;

    if (!scp_apdu_read(command, length, &apdu) || !apdu.has_le)
        return 0;
    return apdu.extended ? 2 : 1;
}

/* Header and Lc (one byte, or three) at out; the bytes written. */
static size_t scp_put_head(unsigned char *out, unsigned char cla, const unsigned char *header,
                           size_t lc, int extended) {
    out[0] = cla;
    memcpy(out + 1, header + 1, 3);
    if (!extended) {
        out[4] = (unsigned char)lc;
        return 5;
    }
    out[4] = 0;
    out[5] = (unsigned char)(lc >> 8);
    out[6] = (unsigned char)lc;
    return 7;
}

/* The Le of the wrapped command: 00 (or 0000), or as written. */
static size_t scp_put_le(unsigned char *out, const ScpApdu *apdu, int extended, int keep_le) {
    unsigned le = keep_le ? apdu->le : 0;

    if (!apdu->has_le)
        return 0;
    if (!extended) {
        out[0] = (unsigned char)le;
        return 1;
    }
    out[0] = (unsigned char)(le >> 8);
    out[1] = (unsigned char)le;
    return 2;
}

static int scp_fail(char *message, size_t size, int status, const char *text) {
    snprintf(message, size, "%s", text);
    return status;
}

/* SCP03's counter as a block, first byte first (00 for commands, 80 for
   answers); its encryption is the ICV. */
static void scp03_counter_block(const ScpSession *session, unsigned char first,
                                unsigned char *block) {
    crypto_wipe(block, 16);
    block[0] = first;
    for (int i = 0; i < 8; i++)
        block[15 - i] = (unsigned char)(session->counter >> (8 * i));
}

/* data padded and encrypted into out (room for it and a block more);
   its length into *length. */
static int scp_encrypt_data(ScpSession *session, const unsigned char *data, size_t n,
                            unsigned char *out, size_t capacity, size_t *length) {
    unsigned char block[16], icv[16];

    if (session->protocol == SCP_PROTOCOL_02)
        return crypto_pad(8, data, n, out, capacity, length, 0, 0) == CRYPTO_OK &&
               crypto_encrypt(CRYPTO_3DES_CBC, session->enc, 16, 0, 0, out, *length, out, capacity,
                              0, 0) == CRYPTO_OK;
    scp03_counter_block(session, 0x00, block);
    return crypto_aes_cbc(&session->aes_enc, 0, 0, block, 16, icv, 16, 0, 0) == CRYPTO_OK &&
           crypto_pad(16, data, n, out, capacity, length, 0, 0) == CRYPTO_OK &&
           crypto_aes_cbc(&session->aes_enc, 0, icv, out, *length, out, capacity, 0, 0) ==
               CRYPTO_OK;
}

/* The command's data at out (capacity bytes): encrypted at ENC levels
   when there is any, else as it is; its length into *length. 0 when the
   cryptography failed. */
static int scp_put_data(ScpSession *session, const ScpApdu *apdu, unsigned char *out,
                        size_t capacity, size_t *length) {
    *length = apdu->lc;
    if ((session->level & SCP_LEVEL_ENC) && apdu->lc > 0)
        return scp_encrypt_data(session, apdu->data, apdu->lc, out, capacity, length);
    memcpy(out, apdu->data, apdu->lc);
    return 1;
}

/* SCP02's retail MAC of input (padded here) with the chained ICV. */
static int scp02_mac(ScpSession *session, unsigned char *input, size_t n, size_t capacity,
                     unsigned char *mac) {
    unsigned char icv[8];
    size_t padded, made;

    crypto_wipe(icv, sizeof icv);
    if (session->counter > 0 && (session->i & SCP02_I_ICV_ENCRYPTED)) {
        if (crypto_encrypt(CRYPTO_DES_ECB, session->mac, 8, 0, 0, session->chain, 8, icv, 8, 0,
                           0) != CRYPTO_OK)
            return 0;
    } else if (session->counter > 0) {
        memcpy(icv, session->chain, 8);
    }
    if (crypto_pad(8, input, n, input, capacity, &padded, 0, 0) != CRYPTO_OK ||
        crypto_mac(CRYPTO_MAC_RETAIL, session->mac, 16, icv, 8, input, padded, mac, 8, &made, 0,
                   0) != CRYPTO_OK)
        return 0;
    memcpy(session->chain, mac, 8);
    session->counter++;
    return 1;
}

/* The bytes an SCP02 C-MAC covers, at input: the command with channel
   0's SM CLA and the Lc the MAC adds (modified), or as the card would see
   it plain on channel 0 (unmodified: its header, and Lc only when it has
   data); their count. */
static size_t scp02_mac_input(const ScpSession *session, const ScpApdu *apdu, int extended,
                              unsigned char *input) {
    unsigned char cla = apdu->header[0];
    size_t used;

    if (!(session->i & SCP02_I_UNMODIFIED)) {
        used = scp_put_head(input, scp_mac_cla(cla, 1), apdu->header, apdu->lc + 8, extended);
    } else if (apdu->lc == 0) {
        memcpy(input, apdu->header, 4);
        input[0] = scp_mac_cla(cla, 0);
        used = 4;
    } else {
        used = scp_put_head(input, scp_mac_cla(cla, 0), apdu->header, apdu->lc, apdu->extended);
    }
    memcpy(input + used, apdu->data, apdu->lc);
    return used + apdu->lc;
}

static int scp02_wrap(ScpSession *session, const ScpApdu *apdu, int keep_le, unsigned char *out,
                      int capacity, int *out_length, ScpWork *work) {
    unsigned char mac[8];
    size_t data_length;
    size_t padded = (apdu->lc / 8 + 1) * 8;
    size_t lc = ((session->level & SCP_LEVEL_ENC) && apdu->lc > 0 ? padded : apdu->lc) + 8;
    int extended = apdu->extended || lc > 255;

    if (lc > SCP_LC_MAX || (size_t)capacity < 7 + lc + 2)
        return SCP_BAD_COMMAND;
    size_t n = scp02_mac_input(session, apdu, extended, work->bytes);
    if (!scp02_mac(session, work->bytes, n, sizeof work->bytes, mac))
        return SCP_CRYPTO;
    size_t used = scp_put_head(out, scp_cla(apdu->header[0]), apdu->header, lc, extended);
    if (!scp_put_data(session, apdu, out + used, (size_t)capacity - used, &data_length))
        return SCP_CRYPTO;
    used += data_length;
    memcpy(out + used, mac, 8);
    used += 8;
    used += scp_put_le(out + used, apdu, extended, keep_le);
    *out_length = (int)used;
    return SCP_OK;
}

static int scp03_wrap(ScpSession *session, const ScpApdu *apdu, int keep_le, unsigned char *out,
                      int capacity, int *out_length, ScpWork *work) {
    unsigned char mac[16];
    size_t data_length;
    int encrypt = (session->level & SCP_LEVEL_ENC) && apdu->lc > 0;
    size_t lc = (encrypt ? (apdu->lc / 16 + 1) * 16 : apdu->lc) + session->mac_length;
    int extended = apdu->extended || lc > 255;

    if (lc > SCP_LC_MAX || (size_t)capacity < 7 + lc + 2)
        return SCP_BAD_COMMAND;
    session->counter++; /* every command, with data or without */
    size_t used = scp_put_head(out, scp_cla(apdu->header[0]), apdu->header, lc, extended);
    if (!scp_put_data(session, apdu, out + used, (size_t)capacity - used, &data_length))
        return SCP_CRYPTO;
    used += data_length;
    memcpy(work->bytes, session->chain, 16);
    memcpy(work->bytes + 16, out, used);
    work->bytes[16] = scp_mac_cla(out[0], 1);
    if (crypto_aes_cmac(&session->aes_mac, work->bytes, 16 + used, mac, 0, 0) != CRYPTO_OK)
        return SCP_CRYPTO;
    memcpy(session->chain, mac, 16);
    memcpy(out + used, mac, session->mac_length);
    used += session->mac_length;
    used += scp_put_le(out + used, apdu, extended, keep_le);
    *out_length = (int)used;
    return SCP_OK;
}

int scp_wrap(ScpSession *session, const unsigned char *plain, int length, int keep_le,
             unsigned char *out, int capacity, int *out_length, ScpWork *work, char *message,
             size_t size) {
    ScpApdu apdu;

    if (!scp_apdu_read(plain, length, &apdu))
        return scp_fail(message, size, SCP_BAD_COMMAND, "the command is not an APDU to wrap");
    int status = session->protocol == SCP_PROTOCOL_02
                     ? scp02_wrap(session, &apdu, keep_le, out, capacity, out_length, work)
                     : scp03_wrap(session, &apdu, keep_le, out, capacity, out_length, work);
    if (status == SCP_BAD_COMMAND)
        return scp_fail(message, size, status, "the wrapped command would pass 65535 data bytes");
    if (status == SCP_CRYPTO)
        return scp_fail(message, size, status, "the cryptography failed");
    return SCP_OK;
}

/* Status words that carry an R-MAC: 9000, 62xx and 63xx. */
static int scp_answer_macs(const unsigned char *sw) {
    return (sw[0] == 0x90 && sw[1] == 0x00) || sw[0] == 0x62 || sw[0] == 0x63;
}

/* SCP03: the answer's data decrypted in place, its padding removed. */
static int scp03_decrypt(ScpSession *session, unsigned char *data, size_t n, size_t *plain) {
    unsigned char block[16], icv[16];

    if (n == 0) {
        *plain = 0;
        return 1;
    }
    scp03_counter_block(session, 0x80, block);
    return n % 16 == 0 &&
           crypto_aes_cbc(&session->aes_enc, 0, 0, block, 16, icv, 16, 0, 0) == CRYPTO_OK &&
           crypto_aes_cbc(&session->aes_enc, 1, icv, data, n, data, n, 0, 0) == CRYPTO_OK &&
           crypto_unpad(data, n, plain, 0, 0) == CRYPTO_OK;
}

int scp_unwrap(ScpSession *session, unsigned char *answer, int length, int *plain_length,
               ScpWork *work, char *message, size_t size) {
    unsigned char mac[16];
    size_t plain;

    *plain_length = length;
    if (session->protocol != SCP_PROTOCOL_03 || !(session->level & SCP_LEVEL_RMAC) || length < 2 ||
        !scp_answer_macs(answer + length - 2))
        return SCP_OK;
    if ((size_t)length < 2 + session->mac_length)
        return scp_fail(message, size, SCP_BAD_MAC, "response MAC does not match");
    size_t n = (size_t)length - 2 - session->mac_length;
    memcpy(work->bytes, session->chain, 16);
    memcpy(work->bytes + 16, answer, n);
    memcpy(work->bytes + 16 + n, answer + length - 2, 2);
    if (crypto_aes_cmac(&session->aes_rmac, work->bytes, 16 + n + 2, mac, 0, 0) != CRYPTO_OK)
        return scp_fail(message, size, SCP_CRYPTO, "the cryptography failed");
    if (!crypto_equal(mac, answer + n, session->mac_length))
        return scp_fail(message, size, SCP_BAD_MAC, "response MAC does not match");
    plain = n;
    if ((session->level & SCP_LEVEL_RENC) && !scp03_decrypt(session, answer, n, &plain))
        return scp_fail(message, size, SCP_BAD_MAC, "response data cannot be decrypted");
    answer[plain] = answer[length - 2];
    answer[plain + 1] = answer[length - 1];
    *plain_length = (int)plain + 2;
    return SCP_OK;
}

size_t scp_data_room(const ScpSession *session, size_t lc) {
    size_t block = session->protocol == SCP_PROTOCOL_02 ? 8 : 16;

    if (lc < session->mac_length)
        return 0;
    size_t room = lc - session->mac_length;
    if (!(session->level & SCP_LEVEL_ENC))
        return room;
    /* the data and at least one padding byte fill whole blocks */
    return room < block ? 0 : room / block * block - 1;
}
