/*
 * card_vpcd.cpp: the card's side of the reader driver's TCP protocol. The card
 * is the client: it is in the reader while its connection is open. Every
 * message is a 2-byte big-endian length and that many bytes; a 1-byte message
 * from the reader is a control (00 power off, 01 power on, 02 reset, 04 send
 * the ATR), a longer one is a command APDU answered by one message. Messages
 * run up to CARD_VPCD_MESSAGE_MAX bytes both ways, so extended APDUs of that
 * size pass whole.
 *
 * The driver writes each message in two small pieces. With Nagle's algorithm
 * on our side and delayed ACKs, every exchange would wait about 40 ms; the
 * socket therefore has TCP_NODELAY, quick ACKs are re-armed before every
 * receive (the kernel clears them again), and each answer leaves in one send.
 */
#include "tools/testcard/testcard.h"
#include "tools/loopback.h"

#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const auto retry_wait = std::chrono::milliseconds(200);

/* The reader driver looks for the card about every 0.4 s, and when a new
   connection is already waiting it takes it in place of a closed one without
   ever reporting the card gone. A card taken out therefore stays out longer
   than one of its polls before it connects again. */
const auto out_time = std::chrono::milliseconds(600);

int vpcd_connect(int port) {
    int fd = loopback_connect(port);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool vpcd_read(int fd, uint8_t *bytes, size_t length) {
    return loopback_recv_all(fd, bytes, length);
}

/* False, and nothing sent, for a message the length field cannot count: a
   cut length would leave the reader reading the rest as the next message. */
bool vpcd_write(int fd, const std::vector<uint8_t> &bytes) {
    if (bytes.size() > CARD_VPCD_MESSAGE_MAX) {
        fprintf(stderr, "testcard: an answer of %zu bytes does not fit in a message\n",
                bytes.size());
        return false;
    }
    std::vector<uint8_t> message(bytes.size() + 2);
    message[0] = (uint8_t)(bytes.size() >> 8);
    message[1] = (uint8_t)bytes.size();
    if (!bytes.empty())
        memcpy(message.data() + 2, bytes.data(), bytes.size());
    return loopback_send_all(fd, message.data(), message.size());
}

/* A control byte from the reader. `power_on_seen` is the connection's: the
   reader asks for the ATR right after powering the card, and the card counts
   as taken by the reader from that ATR request on. */
bool vpcd_control(TestCard &card, int fd, uint8_t control, bool &power_on_seen) {
    std::unique_lock<std::mutex> hold(card.lock);
    switch (control) {
        case 0x00:
        case 0x02: card_power_event(card); return true;
        case 0x01:
            card_power_event(card);
            power_on_seen = true;
            return true;
        case 0x04: {
            std::vector<uint8_t> atr = card.atr;
            card.atr_asked = true;
            if (power_on_seen)
                card.powered = true;
            card.changed.notify_all();
            hold.unlock();
            return vpcd_write(fd, atr);
        }
        default: return true; /* unknown controls get no answer */
    }
}

bool vpcd_apdu(TestCard &card, int fd, const std::vector<uint8_t> &command,
               std::vector<uint8_t> &response) {
    std::unique_lock<std::mutex> hold(card.lock);
    card_apdu_log(card, 'C', command.data(), command.size());
    card_apdu_answer(card, command.data(), command.size(), response);
    card_apdu_log(card, 'R', response.data(), response.size());
    if (card.delay_ms > 0)
        card.changed.wait_for(hold, std::chrono::milliseconds(card.delay_ms),
                              [&] { return card.quit || card.reconnect || !card.inserted; });
    hold.unlock();
    return vpcd_write(fd, response);
}

void vpcd_serve(TestCard &card, int fd) {
    std::vector<uint8_t> message, response;
    message.reserve(CARD_VPCD_MESSAGE_MAX); /* whatever a 16-bit length announces */
    bool power_on_seen = false;
    for (;;) {
        uint8_t head[2];
        if (!vpcd_read(fd, head, 2))
            return;
        message.resize((size_t)head[0] << 8 | head[1]);
        if (message.empty())
            continue;
        if (!vpcd_read(fd, message.data(), message.size()))
            return;
        bool ok = message.size() == 1 ? vpcd_control(card, fd, message[0], power_on_seen)
                                      : vpcd_apdu(card, fd, message, response);
        if (!ok)
            return;
    }
}

} // namespace

void card_vpcd_drop(TestCard &card) {
    if (card.vpcd_fd >= 0)
        shutdown(card.vpcd_fd, SHUT_RDWR);
}

void card_vpcd_run(TestCard &card) {
    std::unique_lock<std::mutex> hold(card.lock);
    while (!card.quit) {
        if (!card.inserted) {
            card.changed.wait(hold);
            continue;
        }
        int port = card.vpcd_port;
        hold.unlock();
        int fd = vpcd_connect(port);
        hold.lock();
        if (fd < 0) {
            /* The reader driver is not up yet: try again shortly. */
            card.changed.wait_for(hold, retry_wait);
            continue;
        }
        if (!card.inserted || card.quit) {
            close(fd);
            continue;
        }
        card.vpcd_fd = fd;
        card.connects++;
        card.atr_asked = card.powered = card.reconnect = false;
        card_power_event(card);
        card.changed.notify_all();
        hold.unlock();
        vpcd_serve(card, fd);
        hold.lock();
        close(fd);
        card.vpcd_fd = -1;
        card.reconnect = false;
        card.changed.notify_all();
        auto until = std::chrono::steady_clock::now() + out_time;
        while (!card.quit && card.changed.wait_until(hold, until) != std::cv_status::timeout) {
        }
    }
}
