/*
 * main.cpp: the test card's command line, its control port and its threads:
 * one for the reader connection, one accepting control connections, one per
 * control connection. The main thread waits for "shutdown" or a signal.
 */
#include "tools/testcard/testcard.h"
#include "tools/loopback.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TestCard card;

/* Longest control line: a memset of all 64 KiB in hexadecimal, and some. */
const size_t control_line_max = 2 * CARD_MEMORY_SIZE + 64;

const char usage_text[] =
    "usage: testcard [--port N] [--atr HEX] [--t0] [--removed] [--log FILE]\n"
    "                [--memory FILE] [--control PORT]\n"
    "  --port N        reader driver port: 35963 (reader 00, default) or 35964\n"
    "  --atr HEX       the card's ATR (default 3B8F8001804F0CA000000306030001000000006A)\n"
    "  --t0            behave as a T=0 card (61xx after SELECT, 6Cxx on a wrong Le)\n"
    "  --removed       start out of the reader (insert it on the control port)\n"
    "  --log FILE      append every command and response to FILE\n"
    "  --memory FILE   load the 64 KiB memory from FILE and write changes back\n"
    "  --control PORT  take control commands on 127.0.0.1:PORT\n";

/* One control connection: lines in, replies out, until "quit" or EOF. */
void control_serve(int fd) {
    std::string pending;
    char chunk[4096];
    bool close_now = false, too_long = false;
    while (!close_now) {
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            break;
        pending.append(chunk, (size_t)got);
        size_t end;
        while (!close_now && (end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string reply =
                too_long ? "error line too long\n" : card_control_line(card, line, close_now);
            too_long = false;
            if (!loopback_send_all(fd, reply.data(), reply.size()))
                close_now = true;
        }
        if (pending.size() > control_line_max) {
            pending.clear();
            too_long = true; /* answered when its line ends */
        }
    }
    close(fd);
}

int control_listen(int port) {
    int fd = loopback_listen(port, 16);
    if (fd < 0) {
        fprintf(stderr, "testcard: cannot listen on 127.0.0.1:%d: %s\n", port, strerror(errno));
        exit(1);
    }
    return fd;
}

void control_accept(int listener) {
    for (;;) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            return;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(control_serve, fd).detach();
    }
}

bool memory_open(const char *path) {
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ssize_t got = pread(fd, card.memory.data(), CARD_MEMORY_SIZE, 0);
    /* A shorter file (a new one included) becomes a whole image. */
    if (got < 0 || (got < CARD_MEMORY_SIZE && ftruncate(fd, CARD_MEMORY_SIZE) != 0)) {
        close(fd);
        return false;
    }
    card.memory_fd = fd;
    return true;
}

bool option_value(int argc, char **argv, int &i, const char *&value) {
    if (i + 1 >= argc)
        return false;
    value = argv[++i];
    return true;
}

bool options_parse(int argc, char **argv, int &control_port) {
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        const char *value = nullptr;
        long number = 0;
        if (option == "--t0") {
            card.t0_mode = true;
        } else if (option == "--removed") {
            card.inserted = false;
        } else if (option == "--port" || option == "--control") {
            if (!option_value(argc, argv, i, value) || !card_number_parse(value, 65535, number) ||
                number == 0)
                return false;
            (option == "--port" ? card.vpcd_port : control_port) = (int)number;
        } else if (option == "--atr") {
            if (!option_value(argc, argv, i, value) || !card_hex_parse(value, card.atr) ||
                card.atr.size() < 2 || card.atr.size() > CARD_ATR_MAX)
                return false;
        } else if (option == "--log") {
            if (!option_value(argc, argv, i, value) || !(card.log_file = fopen(value, "a")))
                return false;
        } else if (option == "--memory") {
            if (!option_value(argc, argv, i, value) || !memory_open(value))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv) {
    signal(SIGPIPE, SIG_IGN);
    card.memory.assign(CARD_MEMORY_SIZE, 0);
    card_hex_parse("3B8F8001804F0CA000000306030001000000006A", card.atr);
    int control_port = 0;
    if (!options_parse(argc, argv, control_port)) {
        fputs(usage_text, stderr);
        return 2;
    }
    if (control_port) {
        int listener = control_listen(control_port);
        std::thread(control_accept, listener).detach();
    }
    std::thread(card_vpcd_run, std::ref(card)).detach();
    std::unique_lock<std::mutex> hold(card.lock);
    card.changed.wait(hold, [] { return card.quit; });
    if (card.log_file)
        fflush(card.log_file);
    /* Detached threads still use `card`: leave without running destructors. */
    _exit(0);
}
