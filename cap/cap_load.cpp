/*
 * cap_load.cpp: what loading a CAP file onto a card takes from it: the
 * load file with or without the Descriptor component and its digest (the
 * hash INSTALL [for load] may carry), the applets' AIDs and the package's
 * version. The reader keeps the components in load order with the
 * Descriptor after them, so a load file is always the start of the
 * record's buffer and nothing is copied here.
 */
#include "cap/cap.h"

#include "crypto/crypto.h"

const unsigned char *cap_load_file(const CapFile *cap, int descriptor, size_t *length) {
    /* RefLocation, which every package has, is the last of the load file proper */
    const CapComponent *last = &cap->components[CAP_REF_LOCATION];

    *length = last->at + last->length;
    if (descriptor == CAP_WITH_DESCRIPTOR)
        *length += cap->components[CAP_DESCRIPTOR].length;
    return cap->bytes;
}

int cap_load_file_hash(const CapFile *cap, int descriptor, int hash, unsigned char *out,
                       size_t capacity, size_t *out_length, char *message, size_t message_size) {
    size_t length;
    const unsigned char *load_file = cap_load_file(cap, descriptor, &length);

    return crypto_hash(hash, load_file, length, out, capacity, out_length, message, message_size);
}

const CapAid *cap_applet(const CapFile *cap, int n) {
    return n >= 1 && n <= cap->applet_count ? &cap->applets[n - 1] : 0;
}

void cap_package_version(const CapFile *cap, unsigned char version[2]) {
    version[0] = (unsigned char)cap->package_major;
    version[1] = (unsigned char)cap->package_minor;
}
