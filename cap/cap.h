/*
 * cap.h: Java Card CAP files, read and checked before anything is sent to a
 * card. A CAP file is a ZIP archive whose entries ending in
 * "javacard/NAME.cap" are the package's components (Header, Directory,
 * Applet, ...), stored or deflated; other entries (META-INF/, APPLET-INF/,
 * .class files) are passed over. From the components come the package's
 * AID and version, its applets' AIDs, the packages it imports, and the
 * load file a card's LOAD commands carry.
 *
 * A file is refused, with its name and what is wrong, when it is not a ZIP
 * archive, is cut short or damaged, holds more than CAP_ARCHIVE_MAX bytes,
 * lacks a component every package has, or holds a component whose fields
 * do not fit its bytes. Every count, length and offset is checked against
 * the bytes that are there. No Win32 and no PC/SC here; no state between
 * calls: any thread, one record each.
 *
 * Ownership: a CapFile owns one heap buffer, its components' bytes, from a
 * successful read until cap_free. Everything else in the record is plain
 * data. Pointers the functions below return point into the record (a load
 * file into its buffer) and live until it is freed or read into again.
 */
#ifndef VORLANE_CAP_H
#define VORLANE_CAP_H

#include <stddef.h>
#include <stdio.h>

enum {
    CAP_ARCHIVE_MAX = 8 * 1024 * 1024, /* a larger file is refused before it is read */
    CAP_AID_MIN = 5,                   /* an AID's bytes, ISO/IEC 7816-5 */
    CAP_AID_MAX = 16,
    CAP_COMPONENT_MAX = 3 + 65535, /* tag, u2 size, then at most 65,535 bytes */
    CAP_APPLETS_MAX = 255,         /* the Applet component's count is one byte */
    CAP_IMPORTS_MAX = 255,         /* the Import component's count is one byte */
    CAP_PACKAGE_NAME_SIZE = 256,   /* a Header's package name (one-byte length) and its NUL */
    CAP_MESSAGE_SIZE = 320,        /* why a file was refused, its name included */
    CAP_NAME_SHOWN = 160,          /* the most of a file's name a message shows */
    CAP_LOAD_BLOCKS_MAX = 256,     /* LOAD blocks of one load file: P2 numbers them in a byte */
    CAP_HASH_MAX = 64,             /* a load file hash, at most */
    CAP_PARAMS_MAX = 252,          /* install parameters (C9's value) that fit its field */
    CAP_INSTALL_DATA_MAX = 320,    /* room to build an INSTALL's data before its length is
                                      checked against a short command's 255 */
};

/* The components, by their tag byte */
enum CapTag {
    CAP_HEADER = 1,
    CAP_DIRECTORY = 2,
    CAP_APPLET = 3,
    CAP_IMPORT = 4,
    CAP_CONSTANT_POOL = 5,
    CAP_CLASS = 6,
    CAP_METHOD = 7,
    CAP_STATIC_FIELD = 8,
    CAP_REF_LOCATION = 9,
    CAP_EXPORT = 10,
    CAP_DESCRIPTOR = 11,
    CAP_DEBUG = 12,
    CAP_TAG_COUNT = 13 /* tags run from 1; entry 0 of a table by tag is unused */
};

/* Which load file: the Descriptor component is left out unless asked for
   (some cards refuse it, others want it); the Debug component never goes. */
enum { CAP_WITHOUT_DESCRIPTOR = 0, CAP_WITH_DESCRIPTOR = 1 };

struct CapAid {
    unsigned char bytes[CAP_AID_MAX];
    int length; /* CAP_AID_MIN to CAP_AID_MAX */
};

struct CapImport {
    CapAid aid;
    int major, minor; /* the version the package was converted against */
};

/* Where a component's bytes (tag, size, info: the entry as it is in the
   archive) are in CapFile.bytes */
struct CapComponent {
    size_t at;
    size_t length; /* 0: the file has no such component */
};

/* A CAP file, read. The components sit in bytes in load order (Header,
   Directory, Import, Applet, Class, Method, StaticField, Export,
   ConstantPool, RefLocation), then Descriptor, then Debug, so that each
   load file is the start of bytes. */
struct CapFile {
    unsigned char *bytes;                   /* the components; heap, owned by the record */
    size_t used;                            /* bytes held */
    CapComponent components[CAP_TAG_COUNT]; /* by tag */
    int format_major, format_minor;         /* the CAP format (2.1, 2.2, ...) */
    int flags;                              /* the Header's flags byte */
    CapAid package;
    int package_major, package_minor;
    char package_name[CAP_PACKAGE_NAME_SIZE]; /* the Header's name (format 2.2 on), or "" */
    CapAid applets[CAP_APPLETS_MAX];          /* in the Applet component's order */
    int applet_count;
    CapImport imports[CAP_IMPORTS_MAX]; /* in the Import component's order */
    int import_count;
    char message[CAP_MESSAGE_SIZE]; /* after a refusal: "NAME: what is wrong" */
};

/* What INSTALL [for install] installs */
struct CapInstall {
    CapAid package, module, instance;
    unsigned char privileges[3];
    int privileges_length;       /* 1 or 3 */
    const unsigned char *params; /* the install parameters, C9's value */
    int params_length;
    int selectable; /* 1: for install and make selectable (P1 0C); 0: for install (04) */
};

/* Receives text in pieces; lines end with "\n" (LF only). */
typedef void (*CapSink)(void *context, const char *text, size_t length);

/* Exports from cap/cap_read.cpp */

/* Each reads a CAP file into cap (which needs no preparing): 1, or 0 with
   the reason in cap->message and no buffer held. name is what messages
   call the file. A record read before must be freed first. */
int cap_read_file(const char *path, CapFile *cap);
/* From an open stream, read to its end (the caller closes it). */
int cap_read_stream(FILE *file, const char *name, CapFile *cap);
/* From the archive's bytes in memory (the caller keeps them). */
int cap_read_bytes(const unsigned char *archive, size_t length, const char *name, CapFile *cap);
/* Lets the buffer go; the record may be read into again. */
void cap_free(CapFile *cap);

/* "Header", "Method", ... for a tag; 0 for another number. */
const char *cap_component_name(int tag);

/* Exports from cap/cap_load.cpp */

/* The load file (CAP_WITHOUT_DESCRIPTOR or CAP_WITH_DESCRIPTOR): the
   components in load order as they are in the archive, without the C4
   tag and length a LOAD command puts before them. Points into cap->bytes;
   its length in *length. */
const unsigned char *cap_load_file(const CapFile *cap, int descriptor, size_t *length);
/* Its digest with hash (CRYPTO_SHA1, CRYPTO_SHA256, ... of crypto/crypto.h)
   into out (capacity bytes), its length in *out_length: CRYPTO_OK or the
   crypto status, with the reason in message. */
int cap_load_file_hash(const CapFile *cap, int descriptor, int hash, unsigned char *out,
                       size_t capacity, size_t *out_length, char *message, size_t message_size);
/* The n-th applet's AID, 1 for the first; 0 when there is no such applet. */
const CapAid *cap_applet(const CapFile *cap, int n);
/* The package's version as two bytes, major first: 1.2 gives 01 02. */
void cap_package_version(const CapFile *cap, unsigned char version[2]);

/* Exports from cap/cap_commands.cpp: each builds one command into command
   (capacity bytes) with the class byte cla and returns its length, or -1
   when it does not fit a short command (INSTALL, DELETE) or the room. */

/* INSTALL [for load] (80 E6 02 00): the package's AID, the security
   domain's (none: the one selected), the load file hash (none, or its
   bytes), empty load parameters and token; Le 00. */
int cap_install_for_load(unsigned char cla, const CapAid *package, const unsigned char *domain,
                         int domain_length, const unsigned char *hash, int hash_length,
                         unsigned char *command, int capacity);
/* INSTALL [for install and make selectable] (80 E6 0C 00), or for install
   alone (04 00): package, module and instance AIDs, privileges, C9 and the
   install parameters, an empty token; Le 00. */
int cap_install_for_install(unsigned char cla, const CapInstall *install, unsigned char *command,
                            int capacity);
/* DELETE (80 E4 00 00; 00 80 with its related objects) of 4F AID; Le 00. */
int cap_delete(unsigned char cla, const CapAid *aid, int related, unsigned char *command,
               int capacity);
/* The LOAD blocks of block bytes a load file of load_length bytes takes
   (C4 and its length first), or -1 when it takes more than
   CAP_LOAD_BLOCKS_MAX. */
int cap_load_block_count(size_t load_length, size_t block);
/* LOAD block index (from 0): P1 80 on the last one, P2 the index, the
   extended form for a block past 255 bytes; Le 00. */
int cap_load_command(unsigned char cla, const unsigned char *load, size_t load_length, size_t block,
                     int index, unsigned char *command, size_t capacity);

/* Exports from cap/cap_info.cpp */

/* The Java Card API package (or GlobalPlatform API) an AID names:
   "java.lang", "javacard.framework", ...; 0 for another AID. */
const char *cap_package_known(const unsigned char *aid, int length);
/* What vorlane-run --cap-info shows of a file read as name, line by line
   through sink: its name, the package, the CAP format, the applets, the
   imports, the components and the load files with their sizes and
   digests. */
void cap_info_write(const CapFile *cap, const char *name, CapSink sink, void *context);

#endif
