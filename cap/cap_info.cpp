/*
 * cap_info.cpp: a CAP file described in plain lines, as vorlane-run
 * --cap-info prints it: one "Label: value" a line, so that each is easy
 * to read and to grep; AIDs and digests in unbroken upper-case
 * hexadecimal, sizes in decimal. The packages of the Java Card API and the
 * GlobalPlatform API among the imports are named from their AIDs.
 */
#include "cap/cap.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/text_form.h"
#include "crypto/crypto.h"

enum { CAP_LINE_SIZE = 256 }; /* the longest line but the file's name */

/* A package of the platform's APIs and its AID */
struct CapKnownPackage {
    const char *aid; /* upper-case hexadecimal */
    const char *name;
};

static const CapKnownPackage cap_known_packages[] = {
    {"A0000000620001", "java.lang"},
    {"A0000000620002", "java.io"},
    {"A0000000620003", "java.rmi"},
    {"A0000000620101", "javacard.framework"},
    {"A000000062010101", "javacard.framework.service"},
    {"A0000000620102", "javacard.security"},
    {"A0000000620201", "javacardx.crypto"},
    {"A0000000620202", "javacardx.biometry"},
    {"A0000000620203", "javacardx.external"},
    {"A0000000620209", "javacardx.apdu"},
    {"A00000015100", "org.globalplatform"},
};

const char *cap_package_known(const unsigned char *aid, int length) {
    char text[2 * CAP_AID_MAX + 1];

    if (length < 1 || length > CAP_AID_MAX)
        return 0;
    hex_run_put(text, aid, (size_t)length);
    text[2 * length] = 0;
    for (const CapKnownPackage &known : cap_known_packages) {
        if (strcmp(known.aid, text) == 0)
            return known.name;
    }
    return 0;
}

static void cap_line(CapSink sink, void *context, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* One line, "\n" added, to the sink. */
static void cap_line(CapSink sink, void *context, const char *format, ...) {
    char line[CAP_LINE_SIZE];
    va_list args;

    va_start(args, format);
    int length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0)
        length = 0;
    if ((size_t)length > sizeof line - 2)
        length = (int)sizeof line - 2;
    line[length++] = '\n';
    line[length] = 0;
    sink(context, line, (size_t)length);
}

/* An AID as unbroken hexadecimal into text (2 * CAP_AID_MAX + 1 bytes). */
static const char *cap_aid_text(const CapAid *aid, char *text) {
    hex_run_put(text, aid->bytes, (size_t)aid->length);
    text[2 * aid->length] = 0;
    return text;
}

/* The load file's length and digests under label. */
static void cap_load_lines(const CapFile *cap, int descriptor, const char *label, CapSink sink,
                           void *context) {
    static const int hashes[] = {CRYPTO_SHA1, CRYPTO_SHA256};
    unsigned char digest[CRYPTO_DIGEST_MAX];
    char text[2 * CRYPTO_DIGEST_MAX + 1], message[CRYPTO_MESSAGE_SIZE];
    size_t length;

    cap_load_file(cap, descriptor, &length);
    cap_line(sink, context, "%s: %lu bytes", label, (unsigned long)length);
    for (int hash : hashes) {
        if (cap_load_file_hash(cap, descriptor, hash, digest, sizeof digest, &length, message,
                               sizeof message) != CRYPTO_OK) {
            cap_line(sink, context, "%s %s: not computed (%s)", label, crypto_hash_name(hash),
                     message);
            continue;
        }
        hex_run_put(text, digest, length);
        text[2 * length] = 0;
        cap_line(sink, context, "%s %s: %s", label, crypto_hash_name(hash), text);
    }
}

/* The Header's fields, the applets and the imports. */
static void cap_package_lines(const CapFile *cap, CapSink sink, void *context) {
    char aid[2 * CAP_AID_MAX + 1];

    cap_line(sink, context, "Package AID: %s", cap_aid_text(&cap->package, aid));
    cap_line(sink, context, "Package version: %d.%d", cap->package_major, cap->package_minor);
    if (cap->package_name[0])
        cap_line(sink, context, "Package name: %s", cap->package_name);
    cap_line(sink, context, "CAP format: %d.%d", cap->format_major, cap->format_minor);
    for (int i = 0; i < cap->applet_count; i++)
        cap_line(sink, context, "Applet AID: %s", cap_aid_text(&cap->applets[i], aid));
    for (int i = 0; i < cap->import_count; i++) {
        const CapImport *import = &cap->imports[i];
        const char *known = cap_package_known(import->aid.bytes, import->aid.length);
        cap_line(sink, context, "Import: %s version %d.%d%s%s", cap_aid_text(&import->aid, aid),
                 import->major, import->minor, known ? " " : "", known ? known : "");
    }
}

void cap_info_write(const CapFile *cap, const char *name, CapSink sink, void *context) {
    sink(context, name, strlen(name));
    sink(context, "\n", 1);
    cap_package_lines(cap, sink, context);
    /* in the order they sit in the record: load order, Descriptor, Debug */
    for (size_t at = 0; at < cap->used;) {
        int tag = cap->bytes[at];
        cap_line(sink, context, "Component %s: %lu bytes", cap_component_name(tag),
                 (unsigned long)cap->components[tag].length);
        at += cap->components[tag].length;
    }
    cap_load_lines(cap, CAP_WITHOUT_DESCRIPTOR, "Load file", sink, context);
    if (cap->components[CAP_DESCRIPTOR].length)
        cap_load_lines(cap, CAP_WITH_DESCRIPTOR, "Load file with Descriptor", sink, context);
    else
        cap_line(sink, context, "Load file with Descriptor: no Descriptor component");
}
