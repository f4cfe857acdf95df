/*
 * scp.h: GlobalPlatform secure channels, SCP02 (3DES) and SCP03 (AES), on
 * the host's side, without Win32 and without the card: the INITIALIZE
 * UPDATE command, the card's answer checked and the session keys derived,
 * the EXTERNAL AUTHENTICATE command, and then every command wrapped and
 * every answer unwrapped. The opening is a machine of steps (scp_open.cpp):
 * each gives the command to send and judges the card's answer. The
 * transport of a channel is here too (scp_transport.cpp): which T=0
 * follow-up an answer asks for, that GET RESPONSE goes out as written,
 * and an answer in parts joined before its R-MAC is checked. The caller
 * does the exchanges (the interpreter, script/script_scp.cpp); every
 * primitive is crypto/crypto.h's.
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

/* Security levels, as EXTERNAL AUTHENTICATE's P1 carries them: the bits */
enum {
    SCP_LEVEL_MAC = 0x01,  /* C-MAC */
    SCP_LEVEL_ENC = 0x02,  /* command data encrypted */
    SCP_LEVEL_RMAC = 0x10, /* R-MAC */
    SCP_LEVEL_RENC = 0x20, /* answer data encrypted */
};

/* The levels a channel opens at */
enum {
    SCP_LEVEL_C_MAC = SCP_LEVEL_MAC,                                                 /* 01 */
    SCP_LEVEL_C_MAC_ENC = SCP_LEVEL_MAC | SCP_LEVEL_ENC,                             /* 03 */
    SCP_LEVEL_C_R_MAC = SCP_LEVEL_MAC | SCP_LEVEL_RMAC,                              /* 11 */
    SCP_LEVEL_C_R_MAC_ENC = SCP_LEVEL_MAC | SCP_LEVEL_ENC | SCP_LEVEL_RMAC,          /* 13 */
    SCP_LEVEL_ALL = SCP_LEVEL_MAC | SCP_LEVEL_ENC | SCP_LEVEL_RMAC | SCP_LEVEL_RENC, /* 33 */
};

/* The protocols, as INITIALIZE UPDATE's answer names them */
enum { SCP_PROTOCOL_02 = 2, SCP_PROTOCOL_03 = 3 };

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

/* The steps of an opening */
enum ScpOpeningStep {
    SCP_STEP_INITIALIZE_UPDATE,     /* send INITIALIZE UPDATE */
    SCP_STEP_EXTERNAL_AUTHENTICATE, /* send EXTERNAL AUTHENTICATE */
    SCP_STEP_OPEN,                  /* the channel is open */
    SCP_STEP_FAILED,                /* the opening failed: the reason is in message */
};

/* The static keys of a key set; length bytes each */
struct ScpKeys {
    unsigned char enc[SCP_KEY_MAX], mac[SCP_KEY_MAX], dek[SCP_KEY_MAX];
    size_t length;
};

/* What the /SCP line asks for */
struct ScpRequest {
    int level;                             /* a level a channel opens at: SCP_LEVEL_C_* */
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
    int protocol;                   /* SCP_PROTOCOL_02 or SCP_PROTOCOL_03 */
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

/* One opening, step by step: the caller sends command, follows its T=0
   answers up (scp_follow_up) and hands the final answer to
   scp_open_answer, until the step is SCP_STEP_OPEN or SCP_STEP_FAILED.
   The command holds the host cryptogram: wipe the record after use. */
struct ScpOpening {
    int step;                  /* SCP_STEP_* */
    const ScpRequest *request; /* the caller's, for the whole opening */
    const ScpKeys *keys;
    unsigned char command[SCP_AUTHENTICATE_SIZE]; /* the step's command */
    int command_length;
};

/* An answer that comes in T=0 parts behind 61xx, joined: at R-MAC levels
   the R-MAC covers the whole. The caller's room, as large as any answer. */
struct ScpJoined {
    unsigned char bytes[XFER_RESPONSE_MAX];
    int length; /* bytes so far, or -1 while no answer is in parts */
};

/* Exports from scp/scp_open.cpp */
/* The first step: INITIALIZE UPDATE for request into opening->command.
   request and keys must outlive the opening. */
void scp_open_begin(ScpOpening *opening, const ScpRequest *request, const ScpKeys *keys);
/* The card's final answer to the step's command (length bytes with its
   status word) judged: a status other than 9000 fails the step
   ("INITIALIZE UPDATE answered 6A88"); the answer to INITIALIZE UPDATE is
   checked against the keys (scp_authenticate, which fills session) and
   makes EXTERNAL AUTHENTICATE the next command; a 9000 to EXTERNAL
   AUTHENTICATE opens the channel. The new step, the reason in message
   when it is SCP_STEP_FAILED. */
int scp_open_answer(ScpOpening *opening, ScpSession *session, const unsigned char *answer,
                    int length, ScpWork *work, char *message, size_t size);

/* Exports from scp/scp_transport.cpp */
/* 1 when the command is transport, never wrapped: a GET RESPONSE
   (interindustry class, INS C0). It goes out as written on the channel's
   logical channel (the caller checks scp_session_owns first), and the
   answer it brings is unwrapped. */
int scp_is_transport(const unsigned char *command, int length);
/* The T=0 follow-up of answer (received bytes, status word last) to
   command (count bytes) on the logical channel, into out (room for count
   bytes and 5; out may be command): GET RESPONSE on the channel after
   61xx, answered alone or, while joining, after a part with data; after
   6Cxx alone, the command again with its Le set to xx, but only a command
   that had an Le: a command without one (EXTERNAL AUTHENTICATE among them)
   is never sent twice, as a second MAC over it counts towards locking the
   card. Its length, or 0 when the answer is final. */
int scp_follow_up(int channel, const unsigned char *command, int count, const unsigned char *answer,
                  int received, int joining, unsigned char *out);
/* One answer (received bytes with its status word, in answer, which holds
   XFER_RESPONSE_MAX bytes) at the session's level: below R-MAC levels
   received, as it is. At R-MAC levels a part behind 61xx is kept in joined
   (-1: parts are still to come), and the last part completes the whole,
   which replaces it in answer (its length); -2 when the whole is longer
   than any answer. */
int scp_join(const ScpSession *session, ScpJoined *joined, unsigned char *answer, int received);

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
/* The most plain data bytes a command may carry so that, once wrapped
   by the session (MAC, padding at ENC levels), its Lc is at most lc. */
size_t scp_data_room(const ScpSession *session, size_t lc);
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
/* The bytes of the command's Le: 0 (cases 1 and 3), 1 (short cases 2 and
   4) or 2 (extended). */
int scp_apdu_le_bytes(const unsigned char *command, int length);

#endif
