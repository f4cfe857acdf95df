/*
 * cap_archive.h: the ZIP side of reading a CAP file, shared by the files
 * of cap/ only: where each component's entry is in the archive, and its
 * bytes taken out (copied, or inflated through cap/inflate.h) with their
 * CRC-32 checked.
 */
#ifndef VORLANE_CAP_ARCHIVE_H
#define VORLANE_CAP_ARCHIVE_H

#include <stddef.h>

#include "cap/cap.h"

/* A component's entry, as the central directory describes it */
struct CapEntry {
    int found;         /* 1 when the archive holds the component */
    int deflated;      /* 1: deflated, 0: stored */
    unsigned long crc; /* CRC-32 of its bytes */
    size_t packed;     /* its bytes in the archive */
    size_t size;       /* its bytes once inflated: 3 to CAP_COMPONENT_MAX */
    size_t data_at;    /* where its packed bytes start */
};

/* Exports from cap/cap_archive.cpp; why (size bytes) gets the reason of a
   refusal, without the file's name. */
/* Walks the archive's end record and central directory: entries[tag] for
   each component found (the rest zeroed). 1, or 0 when the archive cannot
   be read or an entry of a component cannot be taken out. */
int cap_archive_entries(const unsigned char *archive, size_t length,
                        CapEntry entries[CAP_TAG_COUNT], char *why, size_t size);
/* The component tag's bytes into out (entry->size bytes). 1, or 0. */
int cap_archive_take(const unsigned char *archive, const CapEntry *entry, int tag,
                     unsigned char *out, char *why, size_t size);

/* Exports from cap/cap_read.cpp used by the walk */
/* The tag of the component an entry's name (length bytes, not terminated)
   holds: "PATH/javacard/NAME.cap" with NAME a component's name; 0 for
   any other entry. */
int cap_entry_tag(const unsigned char *name, size_t length);
/* Writes a refusal's reason into why (size bytes); returns 0, the
   caller's failure. */
int cap_why(char *why, size_t size, const char *format, ...) __attribute__((format(printf, 3, 4)));

#endif
