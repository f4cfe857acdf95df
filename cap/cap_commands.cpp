/*
 * cap_commands.cpp: the card content commands of GlobalPlatform's card
 * manager that put a CAP file's package on a card and take it off again:
 * INSTALL [for load], the LOAD blocks, INSTALL [for install and make
 * selectable] and DELETE, built as bytes for the interpreter to send. The
 * class byte is the caller's (80, or that of the secure channel's logical
 * channel); wrapping for a secure channel comes after, in scp/.
 *
 * Each INSTALL field is a length and a value (GlobalPlatform Card
 * Specification 11.5); LOAD carries the load file behind tag C4 and its
 * BER-TLV length, cut into blocks numbered from 0, the last one marked by
 * P1 80 (11.6).
 */
#include "cap/cap.h"

#include <string.h>

enum {
    CAP_INS_INSTALL = 0xE6,
    CAP_INS_LOAD = 0xE8,
    CAP_INS_DELETE = 0xE4,
    CAP_TAG_LOAD_FILE = 0xC4,
    CAP_TAG_AID = 0x4F,
    CAP_TAG_PARAMETERS = 0xC9,
};

/* The header and a short Lc at command; the bytes written. */
static int cap_head(unsigned char *command, unsigned char cla, unsigned char ins, unsigned char p1,
                    unsigned char p2, int lc) {
    command[0] = cla;
    command[1] = ins;
    command[2] = p1;
    command[3] = p2;
    command[4] = (unsigned char)lc;
    return 5;
}

/* A length-value field at out; the bytes written. */
static int cap_field(unsigned char *out, const unsigned char *bytes, int length) {
    out[0] = (unsigned char)length;
    if (length > 0)
        memcpy(out + 1, bytes, (size_t)length);
    return 1 + length;
}

/* data (length bytes) as a short command's data and its Le 00; -1 when it
   passes a short Lc or the room. */
static int cap_short_command(unsigned char *command, int capacity, unsigned char cla,
                             unsigned char ins, unsigned char p1, unsigned char p2,
                             const unsigned char *data, int length) {
    if (length > 255 || 6 + length > capacity)
        return -1;
    int used = cap_head(command, cla, ins, p1, p2, length);
    memmove(command + used, data, (size_t)length);
    command[used + length] = 0x00;
    return used + length + 1;
}

int cap_install_for_load(unsigned char cla, const CapAid *package, const unsigned char *domain,
                         int domain_length, const unsigned char *hash, int hash_length,
                         unsigned char *command, int capacity) {
    unsigned char data[CAP_INSTALL_DATA_MAX];
    int used = 0;

    if (domain_length > CAP_AID_MAX || hash_length > CAP_HASH_MAX)
        return -1;
    used += cap_field(data + used, package->bytes, package->length);
    used += cap_field(data + used, domain, domain_length);
    used += cap_field(data + used, hash, hash_length);
    used += cap_field(data + used, 0, 0); /* load parameters */
    used += cap_field(data + used, 0, 0); /* token */
    return cap_short_command(command, capacity, cla, CAP_INS_INSTALL, 0x02, 0x00, data, used);
}

int cap_install_for_install(unsigned char cla, const CapInstall *install, unsigned char *command,
                            int capacity) {
    unsigned char data[CAP_INSTALL_DATA_MAX];
    unsigned char parameters[3 + CAP_PARAMS_MAX];
    int used = 0, n = 0;

    if (install->params_length > CAP_PARAMS_MAX)
        return -1;
    parameters[n++] = CAP_TAG_PARAMETERS;
    if (install->params_length >= 0x80)
        parameters[n++] = 0x81;
    parameters[n++] = (unsigned char)install->params_length;
    memcpy(parameters + n, install->params, (size_t)install->params_length);
    used += cap_field(data + used, install->package.bytes, install->package.length);
    used += cap_field(data + used, install->module.bytes, install->module.length);
    used += cap_field(data + used, install->instance.bytes, install->instance.length);
    used += cap_field(data + used, install->privileges, install->privileges_length);
    used += cap_field(data + used, parameters, n + install->params_length);
    used += cap_field(data + used, 0, 0); /* token */
    return cap_short_command(command, capacity, cla, CAP_INS_INSTALL,
                             install->selectable ? 0x0C : 0x04, 0x00, data, used);
}

int cap_delete(unsigned char cla, const CapAid *aid, int related, unsigned char *command,
               int capacity) {
    unsigned char data[2 + CAP_AID_MAX];

    data[0] = CAP_TAG_AID;
    int used = 1 + cap_field(data + 1, aid->bytes, aid->length);
    return cap_short_command(command, capacity, cla, CAP_INS_DELETE, 0x00, related ? 0x80 : 0x00,
                             data, used);
}

/* Tag C4 and the BER-TLV length of a load file of length bytes at out;
   the bytes written. */
static size_t cap_load_header(size_t length, unsigned char *out) {
    size_t n = length < 0x80 ? 0 : length < 0x100 ? 1 : length < 0x10000 ? 2 : 3;

    out[0] = CAP_TAG_LOAD_FILE;
    if (n == 0) {
        out[1] = (unsigned char)length;
        return 2;
    }
    out[1] = (unsigned char)(0x80 | n);
    for (size_t i = 0; i < n; i++)
        out[2 + i] = (unsigned char)(length >> (8 * (n - 1 - i)));
    return 2 + n;
}

int cap_load_block_count(size_t load_length, size_t block) {
    unsigned char header[8];
    size_t total = cap_load_header(load_length, header) + load_length;

    if (block == 0 || load_length > CAP_ARCHIVE_MAX)
        return -1;
    size_t count = (total + block - 1) / block;
    return count > CAP_LOAD_BLOCKS_MAX ? -1 : (int)count;
}

/* The stream the blocks cut: the header, then the load file; length bytes
   of it from at into out. */
static void cap_load_piece(const unsigned char *load, size_t load_length, size_t at, size_t length,
                           unsigned char *out) {
    unsigned char header[8];
    size_t head = cap_load_header(load_length, header);

    for (; length > 0 && at < head; length--)
        *out++ = header[at++];
    if (length > 0)
        memcpy(out, load + (at - head), length);
}

int cap_load_command(unsigned char cla, const unsigned char *load, size_t load_length, size_t block,
                     int index, unsigned char *command, size_t capacity) {
    unsigned char header[8];
    int count = cap_load_block_count(load_length, block);
    size_t total = cap_load_header(load_length, header) + load_length;

    if (count < 0 || index < 0 || index >= count)
        return -1;
    size_t at = (size_t)index * block;
    size_t length = total - at < block ? total - at : block;
    int extended = length > 255;
    if (capacity < 9 + length || length > 65535)
        return -1;
    int used = cap_head(command, cla, CAP_INS_LOAD, index == count - 1 ? 0x80 : 0x00,
                        (unsigned char)index, extended ? 0 : (int)length);
    if (extended) {
        command[used++] = (unsigned char)(length >> 8);
        command[used++] = (unsigned char)length;
    }
    cap_load_piece(load, load_length, at, length, command + used);
    used += (int)length;
    command[used++] = 0x00;
    if (extended)
        command[used++] = 0x00;
    return used;
}
