/*
 * testcard.h: the test card, a virtual smart card for the rig's virtual
 * readers. One process is one card: it answers the reader driver over TCP
 * (card_vpcd.cpp), runs a small command set over 64 KiB of memory
 * (card_apdu.cpp) and takes orders from tests on a loopback control port
 * (card_control.cpp).
 *
 * Design: all card state lives in one TestCard record guarded by its `lock`.
 * The reader thread holds the lock only while it computes an answer, never
 * while it sleeps or waits on a socket; control threads take it for each
 * command. `changed` is signalled whenever presence or the reader connection
 * changes, so an insert can wait until the reader has seen the card.
 */
#ifndef VORLANE_TESTCARD_H
#define VORLANE_TESTCARD_H

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "tools/testcard/card_sd.h"

enum {
    CARD_MEMORY_SIZE = 65536,
    CARD_LOG_LINES = 10000,
    CARD_ATR_MAX = 33,
    CARD_CHANNELS = SD_CHANNELS, /* logical channels 0 to 19 */
};

/* The reader driver frames every message with a 16-bit length: no command or
   answer can be longer, so a READ answers at most the data that fits beside
   its status word. */
enum { CARD_VPCD_MESSAGE_MAX = 65535, CARD_RESPONSE_DATA_MAX = CARD_VPCD_MESSAGE_MAX - 2 };

/* A logical channel as the card sees it; channel 0 is always open. */
struct CardChannel {
    bool open = false;
    std::vector<uint8_t> pending; /* data waiting for GET RESPONSE on this channel */
};

struct TestCard {
    std::mutex lock;                     /* guards every field below */
    std::condition_variable changed;     /* presence, connection or ATR request changed */
    std::vector<uint8_t> atr;            /* answered to every ATR request */
    bool t0_mode = false;                /* 61xx / 6Cxx behaviour of a T=0 card */
    std::vector<uint8_t> memory;         /* CARD_MEMORY_SIZE bytes */
    int memory_fd = -1;                  /* image file written through, or -1 */
    CardChannel channels[CARD_CHANNELS]; /* logical channels */
    int channel = 0;                     /* the channel of the command being answered */
    int delay_ms = 0;                    /* sleep before each APDU answer */
    int forced_sw = 0;                   /* SW1 SW2 forced on the next commands */
    int forced_count = 0;                /* commands left to force; -1: all, 0: none */
    std::deque<std::string> log;         /* "C: .." / "R: .." lines, newest last */
    FILE *log_file = nullptr;            /* --log FILE, or null */
    int vpcd_port = 35963;               /* reader driver's card port */
    bool inserted = true;                /* the user wants the card in the reader */
    int vpcd_fd = -1;                    /* open connection to the reader, or -1 */
    uint64_t connects = 0;               /* connections made so far */
    bool atr_asked = false;              /* the reader asked for the ATR on this connection */
    bool powered = false;                /* the reader powered the card on this connection */
    bool reconnect = false;              /* drop the connection and make a new one */
    bool quit = false;                   /* the process is ending */
    CardSd sd;                           /* the security domain and its secure channel */
};

/* A command APDU's fields. */
struct Apdu {
    uint8_t cla, ins, p1, p2;
    const uint8_t *data;
    size_t lc;     /* 0..65,535 */
    int le;        /* -1: no Le; otherwise 1..65,536 */
    bool extended; /* the length fields were two bytes each */
};

/* A class byte read: its logical channel, and the class byte channel 0
   carries for it (b8, chaining b5, secure messaging as 04). */
struct CardClass {
    int channel;
    uint8_t basic;
};

/* card_apdu.cpp: the card's answers. Call with card.lock held. */
void card_apdu_answer(TestCard &card, const uint8_t *command, size_t length,
                      std::vector<uint8_t> &response);
/* The answer of the card's own command set (not the security domain's), as a
   T=1 card or, with t0, a T=0 card gives it. */
void card_apdu_plain(TestCard &card, const uint8_t *command, size_t length, bool t0,
                     std::vector<uint8_t> &response);
/* Splits an APDU of at least 4 bytes into its fields; false when the length
   bytes do not match the APDU's length. */
bool card_apdu_parse(const uint8_t *command, size_t length, bool extended_allowed, Apdu &apdu);
/* Power off, power on or reset from the reader: kept data, the secure
   channels and every logical channel but 0 are dropped. */
void card_power_event(TestCard &card);
void card_apdu_log(TestCard &card, char direction, const uint8_t *bytes, size_t length);
void card_state_reset(TestCard &card);
bool card_memory_write(TestCard &card, unsigned address, const uint8_t *bytes, size_t length);

/* card_channel.cpp: logical channels. Call with card.lock held. */
/* The channel and channel-0 form of a class byte; false for FF, which is no
   class (the card's own FF commands). */
bool card_class_decode(uint8_t cla, CardClass &out);
bool card_channel_is_open(const TestCard &card, int channel);
/* MANAGE CHANNEL, sent on card.channel. */
void card_manage_channel(TestCard &card, const Apdu &apdu, std::vector<uint8_t> &response);
/* Every channel but 0 closed, kept data dropped everywhere. */
void card_channels_power(TestCard &card);
/* The control line "channels": each open channel and its secure channel. */
std::string card_channels_report(const TestCard &card);

/* card_text.cpp: hexadecimal text. */
std::string card_hex(const uint8_t *bytes, size_t length);
/* Upper- or lower-case digits, optional spaces between bytes; false on
   anything else or an odd digit count. */
bool card_hex_parse(const std::string &text, std::vector<uint8_t> &bytes);
/* Decimal or 0x-prefixed hexadecimal, whole token, within [0, max]. */
bool card_number_parse(const std::string &text, long max, long &value);

/* card_control.cpp: one control line in, the reply out (every line of it,
   each ended by "\n"). Sets `close` when the connection should end. */
std::string card_control_line(TestCard &card, const std::string &line, bool &close);

/* card_vpcd.cpp: the reader connection, run on its own thread. */
void card_vpcd_run(TestCard &card);
void card_vpcd_drop(TestCard &card); /* with card.lock held */

#endif
