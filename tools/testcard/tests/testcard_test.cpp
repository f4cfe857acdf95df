/*
 * testcard_test.cpp: the test card's answers, its control commands, and the
 * real program driven over its reader protocol by a fake reader driver (this
 * test listens where the driver would and the card connects to it).
 */
#include "tools/testcard/testcard.h"
#include "tools/loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <csignal>
#include <future>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<uint8_t> hex(const char *text) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(card_hex_parse(text, bytes)) << text;
    return bytes;
}

struct CardFixture : ::testing::Test {
    TestCard card;
    void SetUp() override {
        card.memory.assign(CARD_MEMORY_SIZE, 0);
        card.atr = hex("3B021450");
    }
    std::string answer(const char *command) {
        std::vector<uint8_t> bytes = hex(command), response;
        card_apdu_answer(card, bytes.data(), bytes.size(), response);
        return card_hex(response.data(), response.size());
    }
    std::string control(const std::string &line) {
        bool close = false;
        return card_control_line(card, line, close);
    }
    /* A conversation, one step a row in order: an APDU and its whole
       answer, or a control line and its whole reply, or (ERROR_REPLY) a
       control line whose reply only has to start with the text given. */
    enum Kind { APDU, CONTROL, ERROR_REPLY };
    struct Step {
        const char *sent, *expected;
        Kind kind = APDU;
    };
    void steps(const std::vector<Step> &conversation) {
        for (const Step &step : conversation) {
            if (step.kind == APDU)
                EXPECT_EQ(answer(step.sent), step.expected) << step.sent;
            else if (step.kind == CONTROL)
                EXPECT_EQ(control(step.sent), step.expected) << step.sent;
            else
                EXPECT_EQ(control(step.sent).rfind(step.expected, 0), 0u) << step.sent;
        }
    }
};

TEST_F(CardFixture, MemoryReadsWritesAndBounds) {
    steps({{"00D0FFFC0411223344", "9000"},
           {"00B0FFFC04", "112233449000"},
           {"00B0FFFD04", "6B00"}, /* one byte past the end */
           {"00D0FFFD0411223344", "6B00"}});
    EXPECT_EQ(answer("00B0FF0000").size(), 256u * 2 + 4); /* Le 00 reads 256 */
    steps({{"00B0FF0100", "6B00"},
           /* Blocks of 4 bytes: block 0x3FFF is the last one. */
           {"FFB03FFF04", "112233449000"},
           {"FFD600010455667788", "9000"},
           {"00B0000408", "55667788000000009000"},
           {"FFB0400004", "6B00"},
           {"FFD64000020102", "6B00"},
           {"00D00000", "6700"},   /* a write without data */
           {"00B00000", "6700"}}); /* a read without Le in T=1 mode */
}

TEST_F(CardFixture, PatternAnswersExactlyNBytes) {
    steps({{"80F00000", ""}, {"80F00001", "90"}, {"80F00002", "9000"}, {"80F00005", "0001029000"}});
    std::vector<uint8_t> command = hex("80F00102"), response;
    card_apdu_answer(card, command.data(), command.size(), response);
    ASSERT_EQ(response.size(), 258u);
    EXPECT_EQ(response[255], 255);
    EXPECT_EQ(response[0], 0);
    EXPECT_EQ(card_hex(response.data() + 256, 2), "9000");
    command = hex("80F0FFFF");
    card_apdu_answer(card, command.data(), command.size(), response);
    EXPECT_EQ(response.size(), 65535u);
}

TEST_F(CardFixture, UnknownAndMalformedCommands) {
    steps({{"00EE0000", "6D00"},
           {"80B00000", "6D00"},
           {"A0B0000010", "6E00"},
           {"00B0", "6700"},
           {"00B000", "6700"},
           {"00D000000511", "6700"},     /* Lc 5, one byte */
           {"00D0000000000111", "9000"}, /* extended Lc 1 */
           {"00D00000011122", "9000"},   /* Lc, data, Le */
           {"00C0000000", "6985"}});     /* nothing pending */
}

/* A command of `head`, `data` bytes i*7+1 and `tail` is answered by `answer`
   bytes of memory from P1P2 and `sw`, and writes its first `written` there. */
struct ExtendedCase {
    const char *what, *head, *tail, *sw;
    size_t data, answer, written;
};
const ExtendedCase extended_cases[] = {
    {"2E Le 0000 is 65,536", "00B0 0000 00 0000", "", "6282", 0, 65533, 0},
    {"2E Le over 65,533", "00B0 0001 00 FFFF", "", "6282", 0, 65533, 0},
    {"2E Le 65,533 to the end", "00B0 0003 00 FFFD", "", "9000", 0, 65533, 0},
    {"2E Le 65,534 past the end", "00B0 0003 00 FFFE", "", "6B00", 0, 0, 0},
    {"3E Lc 65,535 to the end", "00D6 0001 00 FFFF", "", "9000", 65535, 0, 65535},
    {"3E Lc 65,535 past the end", "00D0 0002 00 FFFF", "", "6B00", 65535, 0, 0},
    {"4E write, Le 0000", "00D0 0020 00 0002", "0000", "9000", 2, 0, 2},
    {"short update", "00D6 0008 02", "", "9000", 2, 0, 2},
    {"Lc over the data", "00D0 0000 00 0004", "", "6700", 3, 0, 0},
    {"one-byte Le after extended Lc", "00D0 0000 00 0002", "00", "6700", 2, 0, 0},
    {"extended Lc 0000 before Le", "00B0 0000 00 0000", "0004", "6700", 0, 0, 0},
    {"extended block write", "FFD6 0000 00 0004", "", "6700", 4, 0, 0},
};

TEST_F(CardFixture, ExtendedLengthTable) {
    for (const ExtendedCase &c : extended_cases) {
        for (size_t i = 0; i < CARD_MEMORY_SIZE; i++)
            card.memory[i] = (uint8_t)(i ^ i >> 8);
        std::vector<uint8_t> command = hex(c.head), tail = hex(c.tail), response;
        std::vector<uint8_t> expected = card.memory;
        size_t address = (size_t)command[2] << 8 | command[3];
        for (size_t i = 0; i < c.data; i++)
            command.push_back((uint8_t)(i * 7 + 1));
        std::copy(command.end() - (long)c.written, command.end(), expected.begin() + (long)address);
        command.insert(command.end(), tail.begin(), tail.end());
        card_apdu_answer(card, command.data(), command.size(), response);
        ASSERT_EQ(response.size(), c.answer + 2) << c.what;
        EXPECT_EQ(card_hex(response.data() + c.answer, 2), c.sw) << c.what;
        EXPECT_TRUE(std::equal(response.begin(), response.end() - 2, &expected[address])) << c.what;
        EXPECT_TRUE(card.memory == expected) << c.what;
    }
}

TEST_F(CardFixture, T0ModeSelectGetResponseAndWrongLe) {
    card.t0_mode = true;
    steps({{"00A4040002A0B1", "6106"},
           {"00C0000010", "6C06"},
           {"00C0000002", "6F046104"}, /* part of it, 4 left */
           {"00C0000004", "8402A0B19000"},
           {"00C0000004", "6985"},
           {"00C0010004", "6A86"},
           {"00A4000C0000", "6700"},   /* Lc 0 is no short APDU */
           {"00A4000C02A0B1", "9000"}, /* P2 0C: no FCI */
           /* Any other command drops the pending data. */
           {"00A4040000", "6104"}, /* no name: Le only */
           {"00A4040001AA", "6105"},
           {"80F00002", "9000"},
           {"00C0000005", "6985"},
           /* READ BINARY with Le 00 (or none) wants the card's 8-byte record. */
           {"00B0000000", "6C08"},
           {"00B00000", "6C08"},
           {"00B0000008", "00000000000000009000"}});
    EXPECT_EQ(answer("00B0000000 0100").size(), 516u); /* extended Le 256 is served */
    card.t0_mode = false;
    EXPECT_EQ(answer("00A4040002A0B1"), "6F048402A0B19000");
}

TEST_F(CardFixture, ForcedStatusAndReset) {
    steps({{"force 6A82 2", "ok\n", CONTROL},
           {"80F00005", "6A82"},
           {"00D00000011122", "6A82"}, /* not executed */
           {"80F00005", "0001029000"},
           {"00B0000001", "009000"},
           {"force 6100 -1", "ok\n", CONTROL}});
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(answer("00B0000001"), "6100");
    steps({{"memset 0x10 AABB", "ok\n", CONTROL},
           {"delay 7", "ok\n", CONTROL},
           {"reset", "ok\n", CONTROL},
           {"00B0001002", "00009000"}});
    EXPECT_EQ(card.delay_ms, 0);
}

TEST_F(CardFixture, ControlCommands) {
    steps({{"memset 65534 0102", "ok\n", CONTROL},
           {"memset 65535 0102", "error past the end of memory\n", CONTROL},
           {"mem 65534 2", "ok 0102\n", CONTROL},
           {"mem 65535 2", "error past the end of memory\n", CONTROL},
           {"mem 0 0", "ok\n", CONTROL},
           {"mem 0x0 4", "ok 00000000\n", CONTROL},
           {"mem -1 4", "error", ERROR_REPLY},
           {"mem 0 4 5", "error", ERROR_REPLY},
           {"memset 0 ABC", "error", ERROR_REPLY},
           {"force 90 1", "error", ERROR_REPLY},
           {"force 9000 -2", "error", ERROR_REPLY},
           {"delay x", "error", ERROR_REPLY},
           {"insert 3B", "error bad ATR", ERROR_REPLY},
           {"insert 3BZZ t0", "error bad ATR", ERROR_REPLY},
           {"frobnicate", "error unknown command frobnicate\n", CONTROL},
           {"", "error empty command\n", CONTROL},
           {"remove now", "error remove takes no argument\n", CONTROL},
           {"remove", "ok\n", CONTROL}});
    EXPECT_FALSE(card.inserted);

    EXPECT_EQ(answer("80F00002"), "9000"); /* not logged: only the reader path logs */
    card_apdu_log(card, 'C', hex("00A40400").data(), 4);
    card_apdu_log(card, 'R', nullptr, 0);
    EXPECT_EQ(control("log"), "ok 2\nC: 00A40400\nR: \n");
    EXPECT_EQ(control("clearlog"), "ok\n");
    EXPECT_EQ(control("log"), "ok 0\n");
    bool close = false;
    EXPECT_EQ(card_control_line(card, "quit", close), "ok bye\n");
    EXPECT_TRUE(close);
}

/* The loop behind every send and receive of the rig's tools: a call a
   signal broke is made again, a partial move goes on from where it
   stopped, and a peer gone (0) or another error fails. Each row gives what
   the calls return, -1 with its errno. */
TEST(LoopbackMoveAll, RetriesSignalsAndGoesOnAfterPartialMoves) {
    struct Call {
        ssize_t result;
        int error;
    };
    const struct {
        std::vector<Call> calls;
        bool moved;
        std::vector<size_t> offsets; /* where each call was asked to start */
    } cases[] = {
        {{{7, 0}}, true, {0}},
        {{{-1, EINTR}, {3, 0}, {4, 0}}, true, {0, 0, 3}},
        {{{2, 0}, {-1, EINTR}, {5, 0}}, true, {0, 2, 2}},
        {{{2, 0}, {0, 0}}, false, {0, 2}},
        {{{-1, ECONNRESET}}, false, {0}},
    };
    for (const auto &c : cases) {
        size_t next = 0;
        std::vector<size_t> offsets;
        bool moved = loopback_move_all(7, [&](size_t offset, size_t left) -> ssize_t {
            offsets.push_back(offset);
            EXPECT_EQ(offset + left, 7u);
            const Call &call = c.calls[next < c.calls.size() ? next++ : c.calls.size() - 1];
            errno = call.error;
            return call.result;
        });
        EXPECT_EQ(moved, c.moved) << c.calls.size();
        EXPECT_EQ(offsets, c.offsets) << c.calls.size();
    }
}

/* ---- the program, over the reader protocol ---- */

int listen_loopback(int &port) {
    int fd = loopback_listen(0, 4);
    port = loopback_port(fd);
    return fd;
}

bool wait_readable(int fd, int ms) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

void send_bytes(int fd, const std::vector<uint8_t> &bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), (ssize_t)bytes.size());
}

void send_message(int fd, const std::vector<uint8_t> &bytes) {
    std::vector<uint8_t> message = {(uint8_t)(bytes.size() >> 8), (uint8_t)bytes.size()};
    message.insert(message.end(), bytes.begin(), bytes.end());
    send_bytes(fd, message);
}

/* One message from the card as hexadecimal, "EOF" when it closed, "TIMEOUT". */
std::string receive_message(int fd) {
    std::vector<uint8_t> bytes;
    size_t want = 2;
    while (bytes.size() < want) {
        if (!wait_readable(fd, 5000))
            return "TIMEOUT";
        uint8_t chunk[4096];
        ssize_t got = recv(fd, chunk, std::min(sizeof chunk, want - bytes.size()), 0);
        if (got <= 0)
            return "EOF";
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (bytes.size() == 2 && want == 2)
            want = 2 + ((size_t)bytes[0] << 8 | bytes[1]);
    }
    return card_hex(bytes.data() + 2, bytes.size() - 2);
}

std::string exchange(int fd, const char *command) {
    send_message(fd, hex(command));
    return receive_message(fd);
}

struct ProgramFixture : ::testing::Test {
    pid_t pid = -1;
    int vpcd_listener = -1, vpcd_port = 0, control_port = 0, control_fd = -1;

    /* Options beyond the ports; a fixture may start the card differently. */
    virtual std::vector<std::string> options() {
        return {"--removed", "--atr", "3B021450"};
    }
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        vpcd_listener = listen_loopback(vpcd_port);
        /* A free port for the control port: bound without SO_REUSEADDR, which
           could hand out the reader port again. */
        int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback_address(0);
        bind(probe, (sockaddr *)&address, sizeof address);
        control_port = loopback_port(probe);
        close(probe);
        std::vector<std::string> words = {TESTCARD_PROGRAM, "--port", std::to_string(vpcd_port),
                                          "--control", std::to_string(control_port)};
        for (const std::string &option : options())
            words.push_back(option);
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(&word[0]);
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawn(&pid, TESTCARD_PROGRAM, nullptr, nullptr, argv.data(), environ), 0);
        for (int i = 0; i < 100 && control_fd < 0; i++) {
            control_fd = loopback_connect(control_port);
            if (control_fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_GE(control_fd, 0);
    }
    void TearDown() override {
        if (control_fd >= 0)
            close(control_fd);
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        close(vpcd_listener);
    }
    /* Reads n reply lines; a "log" reply counts its own lines. */
    std::string read_lines(size_t lines_wanted, bool is_log = false) {
        std::string reply;
        while ((size_t)std::count(reply.begin(), reply.end(), '\n') < lines_wanted) {
            char c;
            if (!wait_readable(control_fd, 10000) || recv(control_fd, &c, 1, 0) != 1)
                return reply + "<closed>";
            reply.push_back(c);
            if (c == '\n' && is_log && lines_wanted == 1 && reply.rfind("ok ", 0) == 0)
                lines_wanted += std::stoul(reply.substr(3));
        }
        return reply;
    }
    std::string control(const std::string &line) {
        std::string text = line + "\n";
        send(control_fd, text.data(), text.size(), MSG_NOSIGNAL);
        return read_lines(1, line == "log");
    }
    /* Inserts the card and plays the driver's part: the card must connect,
       be powered and asked for its ATR before the insert is answered. */
    int insert(const std::string &line) {
        auto reply = std::async(std::launch::async, [&] { return control(line); });
        if (!wait_readable(vpcd_listener, 5000))
            return -1;
        int fd = accept(vpcd_listener, nullptr, nullptr);
        EXPECT_EQ(exchange(fd, "04"), atr_expected);
        send_message(fd, {0x01});
        EXPECT_EQ(exchange(fd, "04"), atr_expected);
        EXPECT_EQ(reply.get(), "ok\n");
        return fd;
    }
    std::string atr_expected = "3B021450";
};

TEST_F(ProgramFixture, InsertExchangeRemoveAndLog) {
    EXPECT_EQ(control("status").rfind("ok removed unconnected atr=3B021450 mode=t1", 0), 0u);
    int fd = insert("insert");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "00D00010021234"), "9000");
    EXPECT_EQ(exchange(fd, "00B0001002"), "12349000");
    EXPECT_EQ(control("mem 16 2"), "ok 1234\n");
    EXPECT_EQ(control("log"), "ok 4\nC: 00D00010021234\nR: 9000\nC: 00B0001002\nR: 12349000\n");
    EXPECT_EQ(control("clearlog"), "ok\n");

    /* Removal closes the connection; a new insert with another ATR and T=0
       behaviour reconnects while the process keeps running. */
    EXPECT_EQ(control("remove"), "ok\n");
    EXPECT_EQ(receive_message(fd), "EOF");
    close(fd);
    atr_expected = "3B8001818181";
    fd = insert("insert 3B 80 01 81 81 81 t0");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(exchange(fd, "00A4040000"), "6104");
    EXPECT_EQ(exchange(fd, "00A4040001AA"), "6105");
    EXPECT_EQ(exchange(fd, "00C0000005"), "6F038401AA9000");
    EXPECT_EQ(exchange(fd, "00B0001000"), "6C08");
    EXPECT_EQ(control("mem 16 2"), "ok 1234\n"); /* memory survives removal */

    /* Inserting the card that is in the reader takes it out and puts it back. */
    auto reply = std::async(std::launch::async, [&] { return control("insert"); });
    EXPECT_EQ(receive_message(fd), "EOF");
    close(fd);
    ASSERT_TRUE(wait_readable(vpcd_listener, 5000));
    fd = accept(vpcd_listener, nullptr, nullptr);
    send_message(fd, {0x01});
    EXPECT_EQ(exchange(fd, "04"), atr_expected);
    EXPECT_EQ(reply.get(), "ok\n");
    close(fd);
}

TEST_F(ProgramFixture, ReaderSideGarbageDoesNotHurt) {
    int fd = insert("insert");
    ASSERT_GE(fd, 0);
    send_message(fd, {});                    /* empty message: ignored */
    send_message(fd, {0x77});                /* unknown control: no answer */
    EXPECT_EQ(exchange(fd, "00B0"), "6700"); /* too short for an APDU */
    std::vector<uint8_t> big(65535, 0xEE);   /* longest message */
    send_message(fd, big);
    EXPECT_EQ(receive_message(fd), "6881"); /* class EE: logical channel 18, not open */
    EXPECT_EQ(exchange(fd, "80F00003"), "009000");
    /* A message cut short by the reader: the card drops the connection and,
       still inserted, connects again. */
    send_bytes(fd, {0x00, 0x10, 0x00, 0xB0});
    shutdown(fd, SHUT_WR);
    EXPECT_EQ(receive_message(fd), "EOF");
    close(fd);
    ASSERT_TRUE(wait_readable(vpcd_listener, 5000));
    fd = accept(vpcd_listener, nullptr, nullptr);
    EXPECT_EQ(exchange(fd, "04"), atr_expected);
    close(fd);
    EXPECT_EQ(control("status").rfind("ok inserted", 0), 0u);
}

TEST_F(ProgramFixture, DelayForceAndControlLines) {
    int fd = insert("insert");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(control("delay 150"), "ok\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(fd, "80F00002"), "9000");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(control("force 6A82 1"), "ok\n");
    EXPECT_EQ(exchange(fd, "80F00002"), "6A82");
    EXPECT_EQ(control("reset"), "ok\n");
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange(fd, "80F00002"), "9000");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(control("status").rfind("ok inserted connected", 0), 0u);

    /* CR LF line ends, two commands in one packet, an over-long line. */
    std::string three = "mem 0 1\r\nmem 0 1\ndelay 0\n";
    send(control_fd, three.data(), three.size(), MSG_NOSIGNAL);
    EXPECT_EQ(read_lines(3), "ok 00\nok 00\nok\n");
    std::string huge(300000, 'A');
    EXPECT_EQ(control(huge), "error line too long\n");
    EXPECT_EQ(control("quit"), "ok bye\n");
    char c;
    EXPECT_EQ(recv(control_fd, &c, 1, 0), 0);
    close(fd);
}

/* The reader driver's longest messages both ways: command, then answer. */
TEST_F(ProgramFixture, LongestMessagesBothWays) {
    int fd = insert("insert");
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> write = hex("00D6 0003 00 FFF8");
    for (size_t i = 0; i < 65528; i++)
        write.push_back((uint8_t)(i * 7 + 1));
    send_message(fd, write);
    EXPECT_EQ(receive_message(fd), "9000");
    std::string data = card_hex(write.data() + 7, 65528);
    EXPECT_EQ(exchange(fd, "00B0 0000 00 0000"), "000000" + data + "0000" + "6282");
    close(fd);
}

/* The security domain's defaults, through the real program: one SCP03
   opening at level 33 and two secured exchanges, the exact bytes computed
   apart from the card (they are the example of the card's README). */
TEST_F(ProgramFixture, DefaultSecureChannel) {
    int fd = insert("insert");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(control("scp"), "ok scp=03 i=70 kvn=30 keylen=16 seq=000001 channel=closed\n");
    EXPECT_EQ(exchange(fd, "00A4040008A000000151000000"),
              "6F118408A000000151000000A5059F6502FFF09000");
    EXPECT_EQ(exchange(fd, "80500000081122334455667788 00"),
              "0001020304050607080930037086C8BD65FA1044EEE68C7601B9B974C20000019000");
    EXPECT_EQ(exchange(fd, "84823300107D2C92E2FFCF201389D760437A6A2F11"), "9000");
    EXPECT_EQ(control("scp"), "ok scp=03 i=70 kvn=30 keylen=16 seq=000002 channel=33\n");
    EXPECT_EQ(exchange(fd, "84F00022082FC7EDCA41850DC6"),
              "7070DC2241519350C404172B22F581A778143A42347BFC5775691DE4ADCFB9DFA7A01370003C73BB"
              "F367DDC9288453C780E7F3FFF70B8B129000");
    EXPECT_EQ(exchange(fd, "04D600001857CE6561F62DAC2EFC8B72157B54FB2335E66F127500D711"),
              "67F9A071AE0AA6399000");
    EXPECT_EQ(control("mem 0 4"), "ok DEADBEEF\n");
    EXPECT_EQ(exchange(fd, "80F00004"), "00019000"); /* plain: the channel ends */
    EXPECT_EQ(exchange(fd, "04D600001857CE6561F62DAC2EFC8B72157B54FB2335E66F127500D711"), "6982");
    close(fd);
}

/* A card started inserted with a memory image and a log file, before the
   reader driver listens: it keeps trying until the driver is up. */
struct ImageFixture : ProgramFixture {
    std::string image = "/tmp/testcard_test_image_" + std::to_string(getpid());
    std::string log = "/tmp/testcard_test_log_" + std::to_string(getpid());
    std::vector<std::string> options() override {
        FILE *file = fopen(image.c_str(), "wb");
        fwrite("\x11\x22\x33", 1, 3, file);
        fclose(file);
        unlink(log.c_str());
        return {"--memory", image, "--log", log, "--atr", "3B021450"};
    }
    void TearDown() override {
        ProgramFixture::TearDown();
        unlink(image.c_str());
        unlink(log.c_str());
    }
};

TEST_F(ImageFixture, WaitsForTheDriverAndKeepsImageAndLog) {
    /* The driver goes away before the card could connect, then comes back. */
    close(vpcd_listener);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int port = vpcd_port;
    vpcd_listener = loopback_listen(port, 4);
    ASSERT_GE(vpcd_listener, 0) << strerror(errno);
    ASSERT_TRUE(wait_readable(vpcd_listener, 3000));
    int fd = accept(vpcd_listener, nullptr, nullptr);
    EXPECT_EQ(exchange(fd, "04"), "3B021450");
    EXPECT_EQ(exchange(fd, "00B0000004"), "112233009000");
    EXPECT_EQ(exchange(fd, "FFD600010299AA"), "9000");
    EXPECT_EQ(control("memset 0x10000 00"), "error past the end of memory\n");
    EXPECT_EQ(control("memset 1 77"), "ok\n");
    uint8_t bytes[8] = {};
    FILE *file = fopen(image.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fread(bytes, 1, sizeof bytes, file), sizeof bytes);
    fclose(file);
    EXPECT_EQ(card_hex(bytes, sizeof bytes), "1177330099AA0000");
    char text[200] = {};
    file = fopen(log.c_str(), "r");
    ASSERT_NE(file, nullptr);
    EXPECT_GT(fread(text, 1, sizeof text - 1, file), 0u);
    fclose(file);
    EXPECT_STREQ(text, "C: 00B0000004\nR: 112233009000\nC: FFD600010299AA\nR: 9000\n");
    close(fd);
}

} // namespace
