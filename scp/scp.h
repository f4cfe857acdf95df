/*
 * scp.h: GlobalPlatform secure channels, SCP02 (3DES) and SCP03 (AES), on
 * the host's side, without Win32 and without the card: the INITIALIZE
 * UPDATE command, the card's answer checked and the session keys derived,
 * the EXTERNAL AUTHENTICATE command, and then every command wrapped and
 * every answer unwrapped. The caller does the exchanges (the interpreter,
 * script/script_scp.cpp); every primitive is crypto/crypto.h's.
 *
 *   SCP02: session keys by 3DES-CBC over a constant and the sequence
 *   counter; cryptograms a full 3DES CBC MAC; C-MAC the retail MAC, on the
 *   modified or the unmodified command, its ICV encrypted or not (the
 *   card's i); command data padded and 3DES-CBC encrypted after the MAC.
 *   SCP03: session keys and cryptograms by the counter-mode KDF over
 *   CMAC-AES; C-MAC and R-MAC CMAC-AES chained through the full 16 bytes;
 *   command data encrypted before the MAC under a counter that advances
 *   with every command, answer data decrypted under the same counter.
 *
 * Key material stays in the ScpSession: no message here ever holds a key
 * byte. scp_session_wipe clears it.
 */
#ifndef VORLANE_SCP_H
#define VORLANE_SCP_H

#include <stddef.h>

#include "card/xfer_limits.h"
#include "crypto/crypto.h"

enum {
    SCP_KEY_MAX = 32,           /* an AES-256 key */
    SCP_KDD_SIZE = 10,          /* key diversification data */
    SCP_CHALLENGE_MAX = 16,     /* an S16 challenge */
    SCP_MESSAGE_SIZE = 128,     /* why a step failed */
    SCP_AUTHENTICATE_SIZE = 64, /* room for EXTERNAL AUTHENTICATE */
    /* a wrapped command's largest growth: a MAC, a padding block and the
       extended form's length bytes */
    SCP_WRAP_GROWTH = 16 + 16 + 4,
};

/* Security levels, as EXTERNAL AUTHENTICATE's P1 carries them */
enum {
    SCP_LEVEL_MAC = 0x01,
    SCP_LEVEL_ENC = 0x02,
    SCP_LEVEL_RMAC = 0x10,
    SCP_LEVEL_RENC = 0x20,
};

/* An SCP02 card's i, as the GlobalPlatform table gives its bits */
enum {
    SCP02_I_THREE_KEYS = 0x01,    /* three static keys, else one base key */
    SCP02_I_UNMODIFIED = 0x02,    /* C-MAC on the unmodified command, else the modified one */
    SCP02_I_EXPLICIT = 0x04,      /* explicit initiation (INITIALIZE UPDATE); else implicit */
    SCP02_I_ICV_AID = 0x08,       /* ICV from a MAC over the AID, else zeros: not offered */
    SCP02_I_ICV_ENCRYPTED = 0x10, /* ICV encrypted for every C-MAC after the first */
};

/* Logical channels (ISO/IEC 7816-4): 0 to 3 in the first interindustry
   class coding, 4 to 19 in the further one. */
enum { SCP_CHANNEL_MAX = 19 };

/* How master keys are turned into a card's static keys (SCP02) */
enum { SCP_DIVERSIFY_NONE, SCP_DIVERSIFY_VISA2, SCP_DIVERSIFY_EMV };

/* What a routine returns */
enum ScpStatus {
    SCP_OK = 0,
    SCP_BAD_REQUEST,    /* keys, level or options the card's protocol cannot take */
    SCP_BAD_ANSWER,     /* an answer that is not what the protocol says */
    SCP_BAD_CRYPTOGRAM, /* the card's cryptogram does not match: wrong keys */
    SCP_BAD_MAC,        /* an answer's R-MAC does not match */
    SCP_BAD_COMMAND,    /* a command that cannot be wrapped */
    SCP_CRYPTO,         /* the cryptography failed */
};

/* The static keys of a key set; length bytes each */
struct ScpKeys {
    unsigned char enc[SCP_KEY_MAX], mac[SCP_KEY_MAX], dek[SCP_KEY_MAX];
    size_t length;
};

/* What the /SCP line asks for */
struct ScpRequest {
    int level;                             /* SCP_LEVEL_* combined */
    int kvn;                               /* INITIALIZE UPDATE's P1: 0 the card's choice */
    int diversify;                         /* SCP_DIVERSIFY_* */
    int s16;                               /* 1: SCP03's 16-byte challenges and MACs */
    int scp02_i;                           /* an SCP02 card's i, or -1 for 15 */
    unsigned char host[SCP_CHALLENGE_MAX]; /* the host challenge */
    size_t host_length;                    /* 8, or 16 for S16 */
    int channel;                           /* the logical channel, 0 to SCP_CHANNEL_MAX */
};

/* One channel's cryptographic state */
struct ScpSession {
    int protocol;                   /* 2 or 3 */
    int channel;                    /* the logical channel its commands name */
    int i;                          /* the protocol's options */
    int level;                      /* SCP_LEVEL_* combined */
    size_t mac_length;              /* bytes of a MAC sent: 8, or 16 in S16 */
    size_t key_length;              /* bytes of each session key */
    unsigned char enc[SCP_KEY_MAX]; /* session keys */
    unsigned char mac[SCP_KEY_MAX];
    unsigned char rmac[SCP_KEY_MAX];
    unsigned char dek[SCP_KEY_MAX];  /* SCP02's session DEK, SCP03's static DEK */
    unsigned char chain[16];         /* SCP03: the MAC chaining value; SCP02: the last C-MAC */
    unsigned long long counter;      /* commands wrapped: SCP03 from after EXTERNAL
                                   AUTHENTICATE, SCP02 from it on */
    unsigned char kdd[SCP_KDD_SIZE]; /* the card's key diversification data */
    unsigned char host[SCP_CHALLENGE_MAX], card[SCP_CHALLENGE_MAX];
    size_t challenge_length;
    unsigned char sequence[3];               /* SCP02: 2 bytes; SCP03: 3 bytes when sent */
    CryptoAesKey aes_enc, aes_mac, aes_rmac; /* SCP03's session keys held ready: every
                                                command uses them */
};

/* Room a wrap or an unwrap works in; the caller's, for any command */
struct ScpWork {
    unsigned char bytes[XFER_COMMAND_MAX + 64];
};

/* Exports from scp/scp_keys.cpp */
/* The INITIALIZE UPDATE command for request into command (at least 22
   bytes); its length. */
int scp_initialize_update(const ScpRequest *request, unsigned char *command);
/* The card's answer to INITIALIZE UPDATE (data without the status word)
   checked against keys: the protocol read from it, the session keys
   derived, the card cryptogram verified, and the EXTERNAL AUTHENTICATE
   command with its C-MAC into command (SCP_AUTHENTICATE_SIZE bytes) and
   its length into *length. SCP_OK, or the reason in message. */
int scp_authenticate(ScpSession *session, const ScpRequest *request, const ScpKeys *keys,
                     const unsigned char *answer, size_t answer_length, unsigned char *command,
                     int *length, ScpWork *work, char *message, size_t size);
/* An SCP02 card's static key n (1 ENC, 2 MAC, 3 DEK) from a 16-byte
   master key and the card's KDD, by method (SCP_DIVERSIFY_VISA2 or
   SCP_DIVERSIFY_EMV), into out (16 bytes). */
int scp_diversify(int method, const unsigned char *master, const unsigned char *kdd, int n,
                  unsigned char *out);
/* SCP03's key derivation: length bytes from key by the counter-mode KDF
   with constant and context. */
int scp03_derive(const unsigned char *key, size_t key_length, int constant,
                 const unsigned char *context, size_t context_length, size_t length,
                 unsigned char *out);
/* Clears every key and value of the session (zero it before its first
   use: its AES keys' handles are released here). */
void scp_session_wipe(ScpSession *session);

/* Exports from scp/scp_wrap.cpp */
/* plain (length bytes, a command APDU of any case, short or extended)
   wrapped into out (capacity bytes), its length into *out_length. The Le
   goes out as 00 (0000 extended) unless keep_le, which sends it as it is
   (a command repeated after 6Cxx). SCP_OK, or the reason in message. */
int scp_wrap(ScpSession *session, const unsigned char *plain, int length, int keep_le,
             unsigned char *out, int capacity, int *out_length, ScpWork *work, char *message,
             size_t size);
/* The answer (length bytes with the status word) unwrapped in place: its
   R-MAC checked (status 9000, 62xx, 63xx) and its data decrypted, as the
   level asks; the plain length into *plain_length. SCP_OK, or SCP_BAD_MAC
   and the reason in message. */
int scp_unwrap(ScpSession *session, unsigned char *answer, int length, int *plain_length,
               ScpWork *work, char *message, size_t size);
/* The CLA byte with the secure-messaging indication: bit 3 for the first
   interindustry and proprietary classes, bit 6 for the further ones. */
unsigned char scp_cla(unsigned char cla);
/* The logical channel a class byte names (0 to SCP_CHANNEL_MAX), or -1
   for FF, which is no class. */
int scp_cla_channel(unsigned char cla);
/* The class byte of a command on channel: proprietary (80 on channel 0)
   or interindustry (00), without secure messaging. */
unsigned char scp_channel_cla(int proprietary, int channel);
/* 1 when the command (length bytes, at least a header) names the
   session's logical channel: only those are wrapped. */
int scp_session_owns(const ScpSession *session, const unsigned char *command, int length);
/* 1 when the command has an Le (cases 2 and 4, short or extended). */
int scp_apdu_has_le(const unsigned char *command, int length);

#endif
