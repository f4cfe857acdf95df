/*
 * memory_chunks.cpp: one chunk of a memory card or tag read or write, one
 * command APDU each: READ BINARY (00 B0 / FF B0), WRITE BINARY (00 D0) and
 * UPDATE BINARY (FF D6), with P1 P2 the chunk's 16-bit address or block.
 *
 * Each routine builds its command in a buffer of its own that also takes
 * the response (card_transmit writes at most CARD_TRANSMIT_CAPACITY bytes
 * over the command; a longer response fails), then copies the response to
 * the caller's buffer, which holds CARD_TRANSMIT_CAPACITY bytes as well.
 */
#include "dialogs/dialogs.h"

#include <string.h>

#include "app/app_state.h"
#include "card/card.h"

/* Header bytes in front of a write's data, and the most a short write
   carries behind them */
enum { CHUNK_HEADER = 5, CHUNK_DATA_MAX = 255 };
static_assert((int)CHUNK_HEADER + (int)CHUNK_DATA_MAX <= (int)CARD_TRANSMIT_CAPACITY,
              "a chunk's command fits the buffer that takes its response");

static int chunk_exchange(unsigned char *buffer, unsigned char *command, int length) {
    int status = 0;
    int received = card_transmit(command, length, &status);

    if (received > 0)
        memcpy(buffer, command, (size_t)received);
    return received;
}

static void chunk_header(unsigned char *command, int cla, int ins, unsigned p1p2, int length) {
    command[0] = (unsigned char)cla;
    command[1] = (unsigned char)ins;
    command[2] = (unsigned char)((p1p2 >> 8) & 0xFF);
    command[3] = (unsigned char)(p1p2 & 0xFF);
    command[4] = (unsigned char)(length & 0xFF);
}

static int chunk_read(unsigned char *buffer, int cla, int length, unsigned p1p2) {
    unsigned char command[CARD_TRANSMIT_CAPACITY];

    chunk_header(command, cla, 0xB0, p1p2, length);
    return chunk_exchange(buffer, command, CHUNK_HEADER);
}

/* A write carries at most what a short command holds (255 data bytes); a
   longer or negative length is refused before anything is sent. */
static int chunk_write(unsigned char *buffer, int cla, int ins, int length, unsigned p1p2) {
    unsigned char command[CARD_TRANSMIT_CAPACITY];

    if (length < 0 || length > CHUNK_DATA_MAX)
        return -1;
    chunk_header(command, cla, ins, p1p2, length);
    memcpy(command + CHUNK_HEADER, buffer, (size_t)length);
    return chunk_exchange(buffer, command, CHUNK_HEADER + length);
}

int memory_read_binary(unsigned char *buffer, int length, unsigned address) {
    return chunk_read(buffer, 0x00, length, address);
}

int tag_read_binary(unsigned char *buffer, int length, unsigned block) {
    return chunk_read(buffer, 0xFF, length, block);
}

int memory_write_binary(unsigned char *buffer, int length, unsigned address) {
    return chunk_write(buffer, 0x00, 0xD0, length, address);
}

int tag_update_binary(unsigned char *buffer, int length, unsigned block) {
    return chunk_write(buffer, 0xFF, 0xD6, length, block);
}
