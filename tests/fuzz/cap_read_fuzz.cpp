/*
 * cap_read_fuzz.cpp: any bytes read as a CAP file. Byte 0 even: the rest is
 * the archive; odd: a list of components (tag byte, two-byte length, bytes)
 * put into a sound archive here, so the component readers see any bytes
 * behind valid CRCs. A file taken keeps its components and load files in
 * its buffer, each with its tag and size; one refused says why, holds none.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "cap/cap.h"
#include "crypto/crypto.h"
#include "tests/zip_build.h"

/* The components listed in data, as a stored archive. */
static std::string archive_of(const uint8_t *data, size_t size) {
    std::vector<ZipItem> items;
    for (size_t at = 0; at + 3 <= size && items.size() < 64;) {
        const char *name = cap_component_name(data[at] % 13);
        size_t length = std::min((size_t)data[at + 1] << 8 | data[at + 2], size - at - 3);
        items.push_back({std::string("p/javacard/") + (name ? name : "Other") + ".cap",
                         std::string((const char *)data + at + 3, length)});
        at += 3 + length;
    }
    return zip_build(items);
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
    cap_info_write(&cap, "fuzz.cap", sink, &shown);
    if (shown == 0 || cap_load_file_hash(&cap, CAP_WITH_DESCRIPTOR, CRYPTO_SHA256, digest,
                                         sizeof digest, &with, 0, 0) != CRYPTO_OK)
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
