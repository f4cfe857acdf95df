/*
 * card_sd.h: the test card's security domain. Selected by its AID, it opens
 * secure channels of the two symmetric GlobalPlatform protocols, SCP02 (3DES,
 * explicit initiation with three keys) and SCP03 (AES-128/192/256, S8 and
 * S16), answers GET DATA, GET STATUS and PUT KEY, manages the card's
 * content (INSTALL, LOAD, DELETE over a registry), and runs the card's other
 * commands under the channel: it checks each command's MAC, decrypts its
 * data, hands the plain command to the card, then MACs and encrypts the
 * answer as the security level asks. Applications installed from loaded
 * files can be selected and answer a few commands of their own.
 *
 * Design: the record lives in TestCard and is guarded by the card's lock
 * like every other field. Each logical channel has its own selection and
 * its own secure channel (SdChannel); the keys, the options and the sequence
 * counter are the card's. card_sd.cpp runs the commands, card_sd_crypto.cpp
 * holds the protocols' cryptography (all primitives come from crypto/crypto.h),
 * card_sd_content.cpp GET DATA and PUT KEY, card_sd_registry.cpp the
 * registry with GET STATUS and DELETE, card_sd_load.cpp INSTALL and LOAD,
 * card_sd_applet.cpp the installed applications, card_sd_control.cpp the
 * control lines.
 */
#ifndef VORLANE_CARD_SD_H
#define VORLANE_CARD_SD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TestCard;
struct Apdu;
typedef std::vector<uint8_t> Bytes;

enum {
    SD_KDD_SIZE = 10,    /* key diversification data in INITIALIZE UPDATE's answer */
    SD_KEY_SETS_MAX = 8, /* key sets PUT KEY may add up to */
    SD_KEY_TYPE_DES = 0x80,
    SD_KEY_TYPE_AES = 0x88,
    SD_STATUS_PAGE = 2,          /* GET STATUS entries per answer; more: 63 10 */
    SD_CHANNELS = 20,            /* logical channels 0 to 19 */
    SD_CONTENT_MAX = 256 * 1024, /* bytes of load files the card holds */
    SD_REGISTRY_MAX = 64,        /* registry entries */
    SD_AID_MIN = 5,
    SD_AID_MAX = 16,
};

/* Life cycle states of the registry's entries. */
enum {
    SD_LIFE_LOADED = 0x01,     /* load files */
    SD_LIFE_INSTALLED = 0x03,  /* applications */
    SD_LIFE_SELECTABLE = 0x07, /* applications */
    SD_LIFE_SECURED = 0x0F,    /* the issuer security domain */
};

/* Security levels of EXTERNAL AUTHENTICATE, as bits. */
enum {
    SD_LEVEL_CMAC = 0x01,
    SD_LEVEL_CDEC = 0x02,
    SD_LEVEL_RMAC = 0x10,
    SD_LEVEL_RENC = 0x20,
};

/* SCP03's i: what the card offers, as bits. */
enum {
    SD_I03_S16 = 0x01,
    SD_I03_PSEUDO_RANDOM = 0x10,
    SD_I03_RMAC = 0x20,
    SD_I03_RENC = 0x40,
};

/* SCP02's i: its options, as bits. The card offers explicit initiation with
   three keys, and the others but the ICV over the AID and R-MAC. */
enum {
    SD_I02_THREE_KEYS = 0x01,
    SD_I02_UNMODIFIED = 0x02, /* C-MAC on the unmodified APDU */
    SD_I02_EXPLICIT = 0x04,
    SD_I02_ICV_AID = 0x08, /* the ICV a MAC over the AID: not offered */
    SD_I02_ICV_ENCRYPT = 0x10,
    SD_I02_RMAC = 0x20, /* not offered */
    SD_I02_PSEUDO_RANDOM = 0x40,
};

/* Keys of 16 bytes serve SCP02 as 3DES keys and SCP03 as AES-128 keys. */
struct SdKeySet {
    uint8_t kvn = 0;     /* key version number, 01..7F */
    Bytes enc, mac, dek; /* static keys, all of one length: 16, 24 or 32 bytes */
};

enum SdState { SD_CLOSED, SD_INITIALIZED, SD_OPEN };

/* One secure channel, from INITIALIZE UPDATE to its end. */
struct SdSession {
    SdState state = SD_CLOSED;
    int scp = 0;     /* 2 or 3 */
    int i = 0;       /* the protocol's options when INITIALIZE UPDATE came */
    int level = 0;   /* SD_LEVEL_* bits, once open */
    size_t size = 8; /* challenge, cryptogram and MAC bytes: 8 (S8, SCP02) or 16 (S16) */
    SdKeySet keys;   /* the static keys INITIALIZE UPDATE chose */
    Bytes s_enc, s_mac, s_rmac, s_dek; /* session keys (SCP03 uses the static DEK) */
    Bytes host_challenge, card_challenge;
    Bytes sequence; /* the counter INITIALIZE UPDATE answered (2 or 3 bytes) */
    Bytes chain;    /* SCP03: the MAC chaining value (16); SCP02: the last C-MAC (8) */
    Bytes counter;  /* SCP03: the encryption counter of the current command (16) */
};

enum SdEntryKind { SD_ENTRY_ISD, SD_ENTRY_LOAD_FILE, SD_ENTRY_APPLICATION };

/* One entry of the card manager's registry. */
struct SdEntry {
    SdEntryKind kind = SD_ENTRY_APPLICATION;
    Bytes aid;
    uint8_t life_cycle = 0;
    Bytes privileges;           /* 3 bytes: the security domain and applications */
    Bytes load_file, module;    /* applications: what they were installed from */
    Bytes params;               /* applications: the value of their install parameters' C9 */
    std::vector<Bytes> modules; /* load files: their executable modules */
    Bytes version;              /* load files: major, minor */
    size_t size = 0;            /* load files: their bytes, counted against SD_CONTENT_MAX */
    bool fixed = false;         /* the security domain and the library at start: kept */
};

/* A load from INSTALL [for load] to its last LOAD block. */
struct SdLoad {
    bool active = false;
    Bytes aid;            /* the load file's, from INSTALL [for load] */
    Bytes hash;           /* empty, or the SHA-1 (20) or SHA-256 (32) to check */
    unsigned next = 0;    /* the block number the next LOAD carries */
    size_t announced = 0; /* the length the first block's C4 gave */
    Bytes data;           /* the load file so far (C4's value) */
};

/* What one logical channel holds of the security domain. */
struct SdChannel {
    bool selected = false; /* SELECT chose the security domain on this channel */
    Bytes selected_aid;    /* the AID it was selected with */
    Bytes application;     /* or the AID of the application selected, or empty */
    SdSession session;
    SdLoad load;
    int status_p1 = 0;      /* GET STATUS: the listing "next occurrence" goes on with */
    size_t status_next = 0; /* and its next entry; 0: nothing to go on with */
};

struct CardSd {
    CardSd(); /* with the defaults of card_sd_reset */
    /* Configuration, set by control lines; reset restores the defaults. */
    int scp = 3;                    /* protocol of INITIALIZE UPDATE */
    int i = 0x70;                   /* its i parameter */
    std::vector<SdKeySet> key_sets; /* the first one answers KVN 00 */
    Bytes kdd;                      /* SD_KDD_SIZE bytes */
    uint32_t sequence = 1;          /* the counter the next channel uses */
    Bytes fixed_challenge;          /* card challenge to use, or empty: generated */
    /* State */
    SdChannel channels[SD_CHANNELS]; /* by logical channel; closed ones are empty */
    std::vector<SdEntry> registry;   /* the security domain first; kept over power cycles */
    std::vector<Bytes> deleted;      /* AIDs DELETE removed: SELECT answers 6A82 for them */
};

/* Exports from card_sd.cpp */

/* Answers the command when it is the security domain's or goes through its
   channel; false for a command the card answers as before. The command is
   in channel 0's form and card.channel says which channel it came on. Call
   with the card's lock held. */
bool card_sd_answer(TestCard &card, const uint8_t *command, size_t length, Bytes &response);
/* Power off, power on, reset of the card: every channel ends, nothing is selected. */
void card_sd_power(CardSd &sd);
/* A logical channel opened from another: it starts with that one's
   selection and no secure channel. Closed: it forgets everything. */
void card_sd_channel_open(CardSd &sd, int channel, int from);
void card_sd_channel_close(CardSd &sd, int channel);
/* The defaults: SCP03, i=70, the AES-128 key 40..4F for all three, KVN 30. */
void card_sd_reset(CardSd &sd);

/* Exports from card_sd_crypto.cpp: each returns false when a primitive fails. */

/* The key derivation of SCP03 (NIST SP 800-108 counter mode, CMAC-AES):
   bits of output for the derivation constant over context. */
bool sd_kdf(const Bytes &key, uint8_t constant, size_t bits, const Bytes &context, Bytes &out);
/* An SCP02 session key: 3DES-CBC of constant, sequence counter and zeros. */
bool sd_scp02_session_key(const Bytes &key, uint16_t constant, const Bytes &sequence, Bytes &out);
/* Session keys and card challenge from the session's static keys, challenges
   and sequence; `aid` is the selected security domain's (pseudo-random
   challenges). The card challenge is made only when it is empty. */
bool sd_session_start(SdSession &s, int i, const Bytes &aid);
/* The card's and the host's cryptograms for the session. */
bool sd_card_cryptogram(const SdSession &s, Bytes &out);
bool sd_host_cryptogram(const SdSession &s, Bytes &out);
/* Checks a secured command (CLA with bit 04) and turns it into the plain
   command: MAC verified and chained, data decrypted; false on any mismatch.
   EXTERNAL AUTHENTICATE goes through it too, with the session not yet open. */
bool sd_command_unwrap(SdSession &s, const uint8_t *command, size_t length, Bytes &plain);
/* The answer as the session's level sends it: data encrypted (R-ENC) and an
   R-MAC appended for status 9000, 62xx and 63xx (R-MAC). */
bool sd_response_wrap(const SdSession &s, const Bytes &plain, Bytes &out);
/* Key check value: 3DES of eight zeros, or AES of sixteen 01 bytes; 3 bytes. */
bool sd_key_check(uint8_t type, const Bytes &key, Bytes &out);
/* A key of PUT KEY's key data decrypted: SCP02 3DES-ECB under the session
   DEK, SCP03 AES-CBC under the static DEK. */
bool sd_key_decrypt(const SdSession &s, const Bytes &encrypted, Bytes &key);

/* Exports from card_sd_content.cpp: answers of a selected security domain
   to plain commands (under a channel: already unwrapped). GET STATUS and PUT
   KEY are called only inside an open channel; PUT KEY decrypts with its keys. */
void sd_get_data(const CardSd &sd, const uint8_t *command, size_t length, Bytes &response);
/* Tag (one or two bytes), length (one byte, or 81/82 and more) and value. */
void sd_tlv_put(Bytes &out, unsigned tag, const Bytes &value);
void sd_put_key(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length, Bytes &response);

/* Exports from card_sd_registry.cpp: the registry and the commands over it
   (called only inside an open channel), and its control lines. */
void sd_registry_reset(CardSd &sd);
SdEntry *sd_registry_find(CardSd &sd, const Bytes &aid);
/* An entry added: its AID is no longer a deleted one. */
void sd_registry_add(CardSd &sd, const SdEntry &entry);
size_t sd_registry_content_size(const CardSd &sd);
void sd_get_status(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length,
                   Bytes &response);
void sd_delete(CardSd &sd, const uint8_t *command, size_t length, Bytes &response);
/* "content" lists the registry, "content clear" sets it back. */
std::string sd_registry_control(CardSd &sd, const std::vector<std::string> &words);

/* Exports from card_sd_load.cpp: INSTALL (for load, install, make
   selectable) and LOAD, inside an open channel. */
void sd_install(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length, Bytes &response);
void sd_load(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length, Bytes &response);

/* Exports from card_sd_applet.cpp: installed applications. SELECT by an
   AID the registry knows: true and the answer (the application selected on
   the channel, or 6A82); false for a name it does not know. */
bool sd_application_select(CardSd &sd, SdChannel &ch, const Apdu &apdu, Bytes &response);
/* A command to the application selected on the channel; false when none is
   selected or the command is not its own (the card answers it). */
bool sd_application_answer(CardSd &sd, SdChannel &ch, const uint8_t *command, size_t length,
                           Bytes &response);

/* Exports from card_sd_control.cpp: the control lines scp, keys, kdd, seq
   and challenge (words[0] names it); the reply line. Call with the lock held. */
bool card_sd_control_known(const std::string &command);
/* A secure channel's state as the control lines show it: closed,
   initialized, or the open channel's level in hexadecimal. */
std::string card_sd_state(const SdSession &s);
std::string card_sd_control(CardSd &sd, const std::vector<std::string> &words);

#endif
