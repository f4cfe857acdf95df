/*
 * cap_archive.cpp: a CAP file's ZIP archive walked from its end: the end
 * of central directory record (after it only its own comment, up to
 * 65,535 bytes), the central directory's entries, and for each component
 * its local header (its own name and extra lengths) to reach the data.
 * Only what a CAP file needs is read: one disk, no ZIP64, no encryption,
 * entries stored or deflated. Every offset and length is checked against
 * the archive's bytes before it is used; a component's data must lie
 * before the central directory.
 */
#include "cap/cap_archive.h"

#include <string.h>

#include "cap/inflate.h"

enum {
    ZIP_END_SIZE = 22,       /* the end record without its comment */
    ZIP_COMMENT_MAX = 65535, /* the comment after it */
    ZIP_CENTRAL_SIZE = 46,   /* a central directory entry without its name, extra, comment */
    ZIP_LOCAL_SIZE = 30,     /* a local header without its name and extra */
    ZIP_STORED = 0,          /* the two methods a CAP file's components use */
    ZIP_DEFLATED = 8,
    ZIP_ENCRYPTED = 0x0001, /* general purpose flag bit 0 */
};
static const unsigned long zip_end_signature = 0x06054B50UL;
static const unsigned long zip_central_signature = 0x02014B50UL;
static const unsigned long zip_local_signature = 0x04034B50UL;
static const unsigned long zip64_mark = 0xFFFFFFFFUL; /* "see the ZIP64 record" */

/* Where the central directory is */
struct ZipDirectory {
    const unsigned char *archive;
    size_t at, end; /* the central directory: archive[at..end) */
    unsigned count; /* its entries */
};

static unsigned zip_u2(const unsigned char *at) {
    return (unsigned)at[0] | (unsigned)at[1] << 8;
}

static unsigned long zip_u4(const unsigned char *at) {
    return (unsigned long)zip_u2(at) | (unsigned long)zip_u2(at + 2) << 16;
}

/* The end record at archive[at]: the central directory it names. */
static int zip_end_read(const unsigned char *archive, size_t at, ZipDirectory *directory, char *why,
                        size_t size) {
    const unsigned char *end = archive + at;
    unsigned long length = zip_u4(end + 12), offset = zip_u4(end + 16);

    if (zip_u2(end + 10) == 0xFFFF || length == zip64_mark || offset == zip64_mark)
        return cap_why(why, size, "a ZIP64 archive, which a CAP file never needs (not read)");
    if (zip_u2(end + 4) != 0 || zip_u2(end + 6) != 0 || zip_u2(end + 8) != zip_u2(end + 10))
        return cap_why(why, size, "a ZIP archive split over several disks (not read)");
    if (offset > at || length > at - offset)
        return cap_why(why, size,
                       "damaged ZIP archive: its central directory (%lu bytes at "
                       "%lu) runs past its end record (at %lu)",
                       length, offset, (unsigned long)at);
    directory->archive = archive;
    directory->at = offset;
    directory->end = offset + length;
    directory->count = zip_u2(end + 10);
    return 1;
}

/* The end record: the last signature whose comment reaches exactly to the
   end of the file. None: not an archive, or one cut short. */
static int zip_end_find(const unsigned char *archive, size_t length, ZipDirectory *directory,
                        char *why, size_t size) {
    size_t lowest =
        length > ZIP_END_SIZE + ZIP_COMMENT_MAX ? length - ZIP_END_SIZE - ZIP_COMMENT_MAX : 0;
    for (size_t at = length >= ZIP_END_SIZE ? length - ZIP_END_SIZE + 1 : 0; at-- > lowest;) {
        if (zip_u4(archive + at) == zip_end_signature &&
            at + ZIP_END_SIZE + zip_u2(archive + at + 20) == length)
            return zip_end_read(archive, at, directory, why, size);
    }
    if (length == 0)
        return cap_why(why, size, "not a ZIP archive (an empty file)");
    if (length >= 4 && zip_u4(archive) == zip_local_signature)
        return cap_why(why, size, "truncated ZIP archive (its end record is missing)");
    return cap_why(why, size, "not a ZIP archive");
}

/* The sizes and method of a component's central entry e. */
static int zip_entry_sizes(const unsigned char *e, const char *name, CapEntry *entry, char *why,
                           size_t size) {
    unsigned method = zip_u2(e + 10);
    unsigned long packed = zip_u4(e + 20), unpacked = zip_u4(e + 24);

    if (zip_u2(e + 8) & ZIP_ENCRYPTED)
        return cap_why(why, size, "javacard/%s.cap is encrypted", name);
    if (method != ZIP_STORED && method != ZIP_DEFLATED)
        return cap_why(why, size,
                       "javacard/%s.cap is compressed with method %u (only stored or "
                       "deflated entries are read)",
                       name, method);
    if (packed == zip64_mark || unpacked == zip64_mark || zip_u4(e + 42) == zip64_mark)
        return cap_why(why, size, "javacard/%s.cap is a ZIP64 entry (not read)", name);
    if (unpacked < 3 || unpacked > CAP_COMPONENT_MAX)
        return cap_why(why, size, "javacard/%s.cap declares %lu bytes, not 3 to %d as a component",
                       name, unpacked, CAP_COMPONENT_MAX);
    if (method == ZIP_STORED && packed != unpacked)
        return cap_why(why, size, "javacard/%s.cap is stored with two sizes, %lu and %lu", name,
                       packed, unpacked);
    entry->deflated = method == ZIP_DEFLATED;
    entry->crc = zip_u4(e + 16);
    entry->packed = packed;
    entry->size = unpacked;
    return 1;
}

/* A component's central entry e: its sizes, then its local header and
   data, which must lie before the central directory. */
static int zip_entry_take(const ZipDirectory *directory, const unsigned char *e, int tag,
                          CapEntry *entry, char *why, size_t size) {
    const char *name = cap_component_name(tag);
    unsigned long local = zip_u4(e + 42);

    if (entry->found)
        return cap_why(why, size, "two javacard/%s.cap entries", name);
    if (!zip_entry_sizes(e, name, entry, why, size))
        return 0;
    const unsigned char *header = directory->archive + local;
    if (local > directory->at || directory->at - local < ZIP_LOCAL_SIZE ||
        zip_u4(header) != zip_local_signature)
        return cap_why(why, size, "damaged ZIP archive: no local header for javacard/%s.cap", name);
    size_t data_at = local + ZIP_LOCAL_SIZE + zip_u2(header + 26) + zip_u2(header + 28);
    if (data_at > directory->at || directory->at - data_at < entry->packed)
        return cap_why(why, size, "damaged ZIP archive: javacard/%s.cap runs past its data", name);
    entry->data_at = data_at;
    entry->found = 1;
    return 1;
}

int cap_archive_entries(const unsigned char *archive, size_t length,
                        CapEntry entries[CAP_TAG_COUNT], char *why, size_t size) {
    ZipDirectory directory = {};
    size_t at;

    memset(entries, 0, CAP_TAG_COUNT * sizeof *entries);
    if (!zip_end_find(archive, length, &directory, why, size))
        return 0;
    at = directory.at;
    for (unsigned i = 0; i < directory.count; i++) {
        const unsigned char *e = archive + at;
        size_t left = directory.end - at;
        if (left < ZIP_CENTRAL_SIZE || zip_u4(e) != zip_central_signature ||
            left - ZIP_CENTRAL_SIZE < (size_t)zip_u2(e + 28) + zip_u2(e + 30) + zip_u2(e + 32))
            return cap_why(why, size, "damaged ZIP archive: central directory entry %u of %u",
                           i + 1, directory.count);
        int tag = cap_entry_tag(e + ZIP_CENTRAL_SIZE, zip_u2(e + 28));
        if (tag && !zip_entry_take(&directory, e, tag, &entries[tag], why, size))
            return 0;
        at += ZIP_CENTRAL_SIZE + zip_u2(e + 28) + zip_u2(e + 30) + zip_u2(e + 32);
    }
    return 1;
}

/* The reason inflating an entry failed with status (made bytes out). */
static int zip_inflate_why(int status, const char *name, const CapEntry *entry, size_t made,
                           char *why, size_t size) {
    if (status == INFLATE_PAST)
        return cap_why(why, size, "javacard/%s.cap inflates past its declared %lu bytes", name,
                       (unsigned long)entry->size);
    if (status == INFLATE_SHORT)
        return cap_why(why, size, "javacard/%s.cap inflates to %lu bytes, not its declared %lu",
                       name, (unsigned long)made, (unsigned long)entry->size);
    if (status == INFLATE_DAMAGED)
        return cap_why(why, size, "javacard/%s.cap holds damaged deflated data", name);
    return cap_why(why, size, "javacard/%s.cap: out of memory to inflate it", name);
}

int cap_archive_take(const unsigned char *archive, const CapEntry *entry, int tag,
                     unsigned char *out, char *why, size_t size) {
    const char *name = cap_component_name(tag);
    size_t made = 0;

    if (!entry->deflated) {
        memcpy(out, archive + entry->data_at, entry->size);
    } else {
        int status =
            inflate_exact(archive + entry->data_at, entry->packed, out, entry->size, &made);
        if (status != INFLATE_OK)
            return zip_inflate_why(status, name, entry, made, why, size);
    }
    if (inflate_crc32(out, entry->size) != entry->crc)
        return cap_why(why, size, "javacard/%s.cap fails its CRC-32 check", name);
    return 1;
}
