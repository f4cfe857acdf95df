/*
 * cap_read_fuzz.cpp: any bytes read as a CAP file, and the load files and
 * text of one that is taken. Byte 0 picks the way: even, the rest is the
 * archive itself; odd, the rest is a list of components (a byte naming
 * the component, a two-byte length, the bytes) put into a sound stored
 * archive here, so that the component readers see any bytes behind valid
 * CRCs. A file that is taken must keep every component and load file
 * within its buffer, each component starting with its tag and size; one
 * that is refused must say why and hold no buffer.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <string>

#include "cap/cap.h"
#include "crypto/crypto.h"

static void put(std::string &out, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out += (char)(value >> (8 * i) & 0xFF);
}

/* The components listed in data as a stored archive. */
static std::string archive_of(const uint8_t *data, size_t size) {
    std::string out, directory;
    unsigned count = 0;
    for (size_t at = 0; at + 3 <= size && count < 64; count++) {
        const char *name = cap_component_name(data[at] % 13);
        size_t length = (size_t)data[at + 1] << 8 | data[at + 2];
        std::string entry = std::string("p/javacard/") + (name ? name : "Other") + ".cap";
        std::string bytes((const char *)data + at + 3,
                          length < size - at - 3 ? length : size - at - 3);
        at += 3 + bytes.size();
        std::string common;
        put(common, 10, 2), put(common, 0, 2), put(common, 0, 2), put(common, 0, 4);
        put(common, crc32(0, (const Bytef *)bytes.data(), (uInt)bytes.size()), 4);
        put(common, bytes.size(), 4), put(common, bytes.size(), 4);
        put(common, entry.size(), 2), put(common, 0, 2);
        put(directory, 0x02014B50, 4), put(directory, 10, 2), directory += common;
        put(directory, 0, 6), put(directory, 0, 4), put(directory, out.size(), 4),
            directory += entry;
        put(out, 0x04034B50, 4), out += common + entry + bytes;
    }
    size_t at = out.size();
    out += directory;
    put(out, 0x06054B50, 4), put(out, 0, 4), put(out, count, 2), put(out, count, 2);
    put(out, directory.size(), 4), put(out, at, 4), put(out, 0, 2);
    return out;
}

/* Counts the text's bytes, each read: a line holds no NUL. */
static void sink(void *context, const char *text, size_t length) {
    if (memchr(text, 0, length))
        abort();
    *(size_t *)context += length;
}

static void check_taken(const CapFile &cap) {
    size_t plain = 0, with = 0, shown = 0;
    unsigned char digest[CRYPTO_DIGEST_MAX];
    for (int tag = 1; tag < CAP_TAG_COUNT; tag++) {
        const CapComponent &c = cap.components[tag];
        if (c.length && (c.at + c.length > cap.used || cap.bytes[c.at] != tag ||
                         ((size_t)cap.bytes[c.at + 1] << 8 | cap.bytes[c.at + 2]) + 3 != c.length))
            abort();
    }
    if (cap_load_file(&cap, CAP_WITHOUT_DESCRIPTOR, &plain) != cap.bytes ||
        cap_load_file(&cap, CAP_WITH_DESCRIPTOR, &with) != cap.bytes || plain > with ||
        with > cap.used || cap.package.length < CAP_AID_MIN || cap.package.length > CAP_AID_MAX)
        abort();
    if (cap_load_file_hash(&cap, CAP_WITH_DESCRIPTOR, CRYPTO_SHA256, digest, sizeof digest, &with,
                           0, 0) != CRYPTO_OK)
        abort();
    cap_info_write(&cap, "fuzz.cap", sink, &shown);
    if (shown == 0)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CapFile cap;
    if (size == 0)
        return 0;
    std::string archive = data[0] & 1 ? archive_of(data + 1, size - 1)
                                      : std::string((const char *)data + 1, size - 1);
    if (cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "fuzz.cap", &cap)) {
        check_taken(cap);
    } else if (!memchr(cap.message, 0, sizeof cap.message) ||
               strncmp(cap.message, "fuzz.cap: ", 10) != 0 || cap.bytes) {
        abort();
    }
    cap_free(&cap);
    return 0;
}
