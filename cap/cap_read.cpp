/*
 * cap_read.cpp: a CAP file read whole and checked. The archive's component
 * entries (cap_archive.cpp) are taken out into one buffer in load order,
 * each checked against its own tag byte and size field; then the Header
 * (magic DECAFFED, the CAP format, the package's version and AID, and from
 * format 2.2 on its optional name), the Applet component (each applet's
 * AID) and the Import component (each imported package's version and AID)
 * are read field by field, each field checked against the bytes left.
 * The formats of Java Card 2.1 to 3.0 share these fields.
 */
#include "cap/cap.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "cap/cap_archive.h"

/* A component: its entry's name, its tag, and whether every package has it */
struct CapKind {
    const char *name;
    int tag;
    int required;
};

/* In load order; the Descriptor and Debug components come after the load
   file proper, so that each load file is the start of CapFile.bytes. */
// clang-format off
static const CapKind cap_kinds[] = {
    {"Header", CAP_HEADER, 1}, {"Directory", CAP_DIRECTORY, 1}, {"Import", CAP_IMPORT, 1},
    {"Applet", CAP_APPLET, 0}, {"Class", CAP_CLASS, 1}, {"Method", CAP_METHOD, 1},
    {"StaticField", CAP_STATIC_FIELD, 1}, {"Export", CAP_EXPORT, 0},
    {"ConstantPool", CAP_CONSTANT_POOL, 1}, {"RefLocation", CAP_REF_LOCATION, 1},
    {"Descriptor", CAP_DESCRIPTOR, 0}, {"Debug", CAP_DEBUG, 0},
};
// clang-format on
enum { CAP_KIND_COUNT = sizeof cap_kinds / sizeof cap_kinds[0] };
static_assert(CAP_KIND_COUNT == CAP_TAG_COUNT - 1, "one kind for each tag");

static const unsigned long cap_magic = 0xDECAFFEDUL;

/* A reason without the file's name: the message has room for both */
enum { CAP_WHY_SIZE = CAP_MESSAGE_SIZE - CAP_NAME_SHOWN - 8 };

/* The bytes of one component still to be read */
struct CapCursor {
    const unsigned char *at, *end;
};

int cap_why(char *why, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(why, size, format, args);
    va_end(args);
    return 0;
}

const char *cap_component_name(int tag) {
    for (int i = 0; i < CAP_KIND_COUNT; i++) {
        if (cap_kinds[i].tag == tag)
            return cap_kinds[i].name;
    }
    return 0;
}

int cap_entry_tag(const unsigned char *name, size_t length) {
    static const char folder[] = "javacard/", suffix[] = ".cap";
    const size_t folder_length = sizeof folder - 1, suffix_length = sizeof suffix - 1;
    size_t slash = length;

    while (slash > 0 && name[slash - 1] != '/')
        slash--;
    if (slash < folder_length || length - slash <= suffix_length ||
        memcmp(name + slash - folder_length, folder, folder_length) != 0 ||
        memcmp(name + length - suffix_length, suffix, suffix_length) != 0)
        return 0;
    if (slash > folder_length && name[slash - folder_length - 1] != '/')
        return 0; /* "xjavacard/": another folder */
    size_t stem = length - slash - suffix_length;
    for (int i = 0; i < CAP_KIND_COUNT; i++) {
        if (strlen(cap_kinds[i].name) == stem && memcmp(cap_kinds[i].name, name + slash, stem) == 0)
            return cap_kinds[i].tag;
    }
    return 0;
}

/* Every component the archive holds, in load order, into one buffer; a
   required one missing refuses the file. */
static int cap_components_take(const unsigned char *archive, const CapEntry *entries, CapFile *cap,
                               char *why, size_t size) {
    size_t total = 0;

    for (int i = 0; i < CAP_KIND_COUNT; i++) {
        if (cap_kinds[i].required && !entries[cap_kinds[i].tag].found)
            return cap_why(why, size, "%s component missing", cap_kinds[i].name);
        total += entries[cap_kinds[i].tag].size;
    }
    cap->bytes = (unsigned char *)malloc(total);
    if (!cap->bytes)
        return cap_why(why, size, "out of memory for %lu bytes of components",
                       (unsigned long)total);
    for (int i = 0; i < CAP_KIND_COUNT; i++) {
        int tag = cap_kinds[i].tag;
        if (!entries[tag].found)
            continue;
        if (!cap_archive_take(archive, &entries[tag], tag, cap->bytes + cap->used, why, size))
            return 0;
        cap->components[tag].at = cap->used;
        cap->components[tag].length = entries[tag].size;
        cap->used += entries[tag].size;
    }
    return 1;
}

/* Each component's tag byte and size field against its entry. */
static int cap_components_check(const CapFile *cap, char *why, size_t size) {
    for (int tag = 1; tag < CAP_TAG_COUNT; tag++) {
        const CapComponent *component = &cap->components[tag];
        const unsigned char *bytes = cap->bytes + component->at;
        if (component->length == 0)
            continue;
        if (bytes[0] != tag)
            return cap_why(why, size, "javacard/%s.cap starts with tag %u, not %d",
                           cap_component_name(tag), bytes[0], tag);
        unsigned field = (unsigned)bytes[1] << 8 | bytes[2];
        if (field + 3UL != component->length)
            return cap_why(why, size,
                           "javacard/%s.cap holds %lu bytes, but its size field says "
                           "%u + 3",
                           cap_component_name(tag), (unsigned long)component->length, field);
    }
    return 1;
}

/* The info of component tag (after its tag and size), empty when absent */
static CapCursor cap_cursor(const CapFile *cap, int tag) {
    const CapComponent *component = &cap->components[tag];
    CapCursor cursor = {cap->bytes, cap->bytes};

    if (component->length >= 3) {
        cursor.at = cap->bytes + component->at + 3;
        cursor.end = cap->bytes + component->at + component->length;
    }
    return cursor;
}

static int cap_u1(CapCursor *cursor, int *value) {
    if (cursor->at >= cursor->end)
        return 0;
    *value = *cursor->at++;
    return 1;
}

static int cap_skip(CapCursor *cursor, size_t count) {
    if ((size_t)(cursor->end - cursor->at) < count)
        return 0;
    cursor->at += count;
    return 1;
}

/* An AID: its length byte, then its bytes. 1; 0 when the component ends
   first; -1 when the length is not 5 to 16 (aid->length then holds it). */
static int cap_aid(CapCursor *cursor, CapAid *aid) {
    int length;

    if (!cap_u1(cursor, &length))
        return 0;
    aid->length = length;
    if (length < CAP_AID_MIN || length > CAP_AID_MAX)
        return -1;
    const unsigned char *bytes = cursor->at;
    if (!cap_skip(cursor, (size_t)length))
        return 0;
    memcpy(aid->bytes, bytes, (size_t)length);
    return 1;
}

/* The Header's optional package name (format 2.2 on), printable or '?'. */
static int cap_package_name(CapCursor *cursor, CapFile *cap) {
    int length;

    if (cursor->at == cursor->end)
        return 1;
    const unsigned char *name = cursor->at + 1;
    if (!cap_u1(cursor, &length) || !cap_skip(cursor, (size_t)length))
        return 0;
    for (int i = 0; i < length; i++)
        cap->package_name[i] = name[i] >= 0x20 && name[i] < 0x7F ? (char)name[i] : '?';
    cap->package_name[length] = 0;
    return 1;
}

static int cap_header_read(CapFile *cap, char *why, size_t size) {
    CapCursor cursor = cap_cursor(cap, CAP_HEADER);
    int bytes[4];
    unsigned long magic = 0;

    for (int i = 0; i < 4; i++) {
        if (!cap_u1(&cursor, &bytes[i]))
            return cap_why(why, size, "Header component too short for its magic");
        magic = magic << 8 | (unsigned long)bytes[i];
    }
    if (magic != cap_magic)
        return cap_why(why, size, "wrong magic %08lX in the Header component (DECAFFED expected)",
                       magic);
    if (!cap_u1(&cursor, &cap->format_minor) || !cap_u1(&cursor, &cap->format_major) ||
        !cap_u1(&cursor, &cap->flags) || !cap_u1(&cursor, &cap->package_minor) ||
        !cap_u1(&cursor, &cap->package_major))
        return cap_why(why, size, "Header component too short for its fields");
    int got = cap_aid(&cursor, &cap->package);
    if (got < 0)
        return cap_why(why, size, "package AID of %d bytes (5 to 16 allowed)", cap->package.length);
    if (got == 0)
        return cap_why(why, size, "Header component too short for its package AID");
    int named = cap->format_major > 2 || (cap->format_major == 2 && cap->format_minor >= 2);
    if (named && !cap_package_name(&cursor, cap))
        return cap_why(why, size, "Header component too short for its package name");
    return 1;
}

static int cap_applets_read(CapFile *cap, char *why, size_t size) {
    CapCursor cursor = cap_cursor(cap, CAP_APPLET);
    int count;

    if (cap->components[CAP_APPLET].length == 0)
        return 1; /* a library package */
    if (!cap_u1(&cursor, &count))
        return cap_why(why, size, "Applet component too short for its count");
    for (int i = 0; i < count; i++) {
        int got = cap_aid(&cursor, &cap->applets[i]);
        if (got < 0)
            return cap_why(why, size, "applet %d's AID of %d bytes (5 to 16 allowed)", i + 1,
                           cap->applets[i].length);
        if (got == 0 || !cap_skip(&cursor, 2)) /* and its install method's offset */
            return cap_why(why, size, "Applet component too short for its %d applets", count);
    }
    cap->applet_count = count;
    return 1;
}

static int cap_imports_read(CapFile *cap, char *why, size_t size) {
    CapCursor cursor = cap_cursor(cap, CAP_IMPORT);
    int count;

    if (!cap_u1(&cursor, &count))
        return cap_why(why, size, "Import component too short for its count");
    for (int i = 0; i < count; i++) {
        CapImport *import = &cap->imports[i];
        if (!cap_u1(&cursor, &import->minor) || !cap_u1(&cursor, &import->major))
            return cap_why(why, size, "Import component too short for its %d packages", count);
        int got = cap_aid(&cursor, &import->aid);
        if (got < 0)
            return cap_why(why, size, "imported package %d's AID of %d bytes (5 to 16 allowed)",
                           i + 1, import->aid.length);
        if (got == 0)
            return cap_why(why, size, "Import component too short for its %d packages", count);
    }
    cap->import_count = count;
    return 1;
}

/* The record's message: the file's name (its end when it is long), then why. */
static void cap_refuse(CapFile *cap, const char *name, const char *why) {
    size_t length = strlen(name);
    const char *cut = length > CAP_NAME_SHOWN ? "..." : "";
    const char *shown = length > CAP_NAME_SHOWN ? name + length - CAP_NAME_SHOWN : name;

    cap_free(cap);
    snprintf(cap->message, sizeof cap->message, "%s%.*s: %.*s", cut, (int)CAP_NAME_SHOWN, shown,
             (int)CAP_WHY_SIZE - 1, why);
}

int cap_read_bytes(const unsigned char *archive, size_t length, const char *name, CapFile *cap) {
    CapEntry entries[CAP_TAG_COUNT];
    char why[CAP_WHY_SIZE];
    int found = 0;

    memset(cap, 0, sizeof *cap);
    if (length > CAP_ARCHIVE_MAX) {
        cap_why(why, sizeof why, "%lu bytes, more than the %d a CAP file may hold",
                (unsigned long)length, CAP_ARCHIVE_MAX);
    } else if (cap_archive_entries(archive, length, entries, why, sizeof why)) {
        for (int tag = 1; tag < CAP_TAG_COUNT; tag++)
            found |= entries[tag].found;
        if (!found)
            cap_why(why, sizeof why, "no javacard/*.cap components: not a CAP file");
        else if (cap_components_take(archive, entries, cap, why, sizeof why) &&
                 cap_components_check(cap, why, sizeof why) &&
                 cap_header_read(cap, why, sizeof why) && cap_applets_read(cap, why, sizeof why) &&
                 cap_imports_read(cap, why, sizeof why))
            return 1;
    }
    cap_refuse(cap, name, why);
    return 0;
}

/* The stream's length from where it stands, or -1 when it cannot seek. */
static long cap_stream_length(FILE *file) {
    long start = ftell(file);

    if (start < 0 || fseek(file, 0, SEEK_END) != 0)
        return -1;
    long end = ftell(file);
    if (fseek(file, start, SEEK_SET) != 0 || end < start)
        return -1;
    return end - start;
}

int cap_read_stream(FILE *file, const char *name, CapFile *cap) {
    long known = cap_stream_length(file);
    char why[CAP_WHY_SIZE];
    int ok = 0;

    memset(cap, 0, sizeof *cap);
    /* one byte more than allowed tells a stream that is too long; a large
       length is only believed of a stream that gives a byte (a folder
       claims the largest length there is, and gives none) */
    size_t room = known >= 0 && known <= CAP_ARCHIVE_MAX ? (size_t)known + 1 : CAP_ARCHIVE_MAX + 1;
    unsigned char *archive = (unsigned char *)malloc(known > CAP_ARCHIVE_MAX ? 1 : room);
    size_t got = archive ? fread(archive, 1, known > CAP_ARCHIVE_MAX ? 1 : room, file) : 0;
    if (!archive)
        cap_why(why, sizeof why, "out of memory to read it");
    else if (ferror(file) || (known > CAP_ARCHIVE_MAX && got == 0))
        cap_why(why, sizeof why, "cannot be read");
    else if (known > CAP_ARCHIVE_MAX)
        cap_why(why, sizeof why, "%ld bytes, more than the %d a CAP file may hold", known,
                CAP_ARCHIVE_MAX);
    else if (got > CAP_ARCHIVE_MAX)
        cap_why(why, sizeof why, "more than the %d bytes a CAP file may hold", CAP_ARCHIVE_MAX);
    else
        ok = cap_read_bytes(archive, got, name, cap);
    if (!ok && !cap->message[0])
        cap_refuse(cap, name, why);
    free(archive);
    return ok;
}

int cap_read_file(const char *path, CapFile *cap) {
    FILE *file = fopen(path, "rb");

    if (!file) {
        memset(cap, 0, sizeof *cap);
        cap_refuse(cap, path, "cannot be read");
        return 0;
    }
    int ok = cap_read_stream(file, path, cap);
    fclose(file);
    return ok;
}

void cap_free(CapFile *cap) {
    free(cap->bytes);
    cap->bytes = 0;
    cap->used = 0;
}
