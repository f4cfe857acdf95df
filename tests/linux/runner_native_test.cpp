/*
 * runner_native_test.cpp: the native vorlane-run as a child process against
 * the rig's test cards through the real pcscd, without Wine: the cases it
 * shares with vorlane-run.exe (tests/runner_cases.h), and one script run by
 * both programs, whose standard output and log file must be the same bytes,
 * timings aside.
 */
#include <fcntl.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "app/platform.h"
#include "crypto/crypto.h"
#include "tests/runner_cases.h"

namespace {

struct RunnerResult {
    unsigned status = 0xFFFFFFFF; /* exit status; 0xFFFFFFFF when it did not end in time */
    std::string out, err;
};

std::string read_file(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/* A test card's reply to one control line, through the rig's command. */
std::string testcard(int reader, const std::string &line) {
    std::string command =
        VORLANE_SOURCE_DIR "/scripts/rig card " + std::to_string(reader) + " '" + line + "'";
    FILE *pipe = popen(command.c_str(), "r");
    char reply[512] = "";
    if (pipe && !fgets(reply, sizeof reply, pipe))
        reply[0] = 0;
    if (pipe)
        pclose(pipe);
    return std::string(reply, strcspn(reply, "\n"));
}

/* The shared cases' side on Linux: fork and exec, the cards' control ports. */
struct RunnerPosixOps {
    const char *names[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
    std::string dir;
    const char *newline = "\n";
    std::string control(int reader, const std::string &line) {
        return testcard(reader, line);
    }
    /* In or out, and so for pcscd, which reads the ATR after the card's
       "ok" and sees a removal at its next poll. */
    void seen(int reader, const std::string &line, bool present) {
        ASSERT_EQ(testcard(reader, line), "ok");
        SCARDCONTEXT context = 0;
        SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
        SCARD_READERSTATE state = {};
        state.szReader = names[reader];
        auto in = [&] { return (state.dwEventState & SCARD_STATE_PRESENT) != 0; };
        int tries = 0;
        do {
            state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
            SCardGetStatusChange(context, 250, &state, 1);
        } while (in() != present && ++tries < 40);
        SCardReleaseContext(context);
        EXPECT_EQ(in(), present) << names[reader];
    }
    void insert(int reader, const char *atr) {
        seen(reader, std::string("insert ") + atr + " t1", true);
    }
    void remove(int reader) {
        seen(reader, "remove", false);
    }
    /* program and words, run in dir with standard output and error in files */
    pid_t start(const std::vector<std::string> &words, const char *program = VORLANE_RUN) {
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<char *> argv{(char *)program};
            for (const std::string &word : words)
                argv.push_back((char *)word.c_str());
            argv.push_back(nullptr);
            if (chdir(dir.c_str()) == 0) {
                dup2(open("out.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
                dup2(open("err.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
                execv(program, argv.data());
            }
            _exit(127);
        }
        return pid;
    }
    /* Waits up to 15 s until standard output holds piece times. */
    testing::AssertionResult shown(const char *piece, int times) {
        for (int i = 0; i < 1500 && runner_count(read_file(dir + "/out.bin"), piece) < times; i++)
            usleep(10000);
        if (runner_count(read_file(dir + "/out.bin"), piece) >= times)
            return testing::AssertionSuccess();
        return testing::AssertionFailure()
               << piece << " not " << times << " times in:\n"
               << read_file(dir + "/out.bin") << read_file(dir + "/err.bin");
    }
    bool running(pid_t pid) {
        return waitpid(pid, nullptr, WNOHANG) == 0;
    }
    RunnerResult finish(pid_t pid) {
        RunnerResult r;
        int status = 0;
        for (int i = 0; waitpid(pid, &status, WNOHANG) == 0; i++, usleep(10000))
            if (i == 6000)
                kill(pid, SIGKILL);
        if (WIFEXITED(status))
            r.status = (unsigned)WEXITSTATUS(status);
        r.out = read_file(dir + "/out.bin");
        r.err = read_file(dir + "/err.bin");
        return r;
    }
};

class RunnerNative : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vorlane-native-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        ops_.dir = pattern;
        ASSERT_EQ(testcard(1, "remove"), "ok") << "the card rig is not running (scripts/rig start)";
    }
    void TearDown() override {
        testcard(0, "remove");
        testcard(1, "remove");
        ASSERT_EQ(system(("rm -rf " + ops_.dir).c_str()), 0);
    }
    RunnerPosixOps ops_;
    const char *inserted_[2] = {"?", "?"}; /* what the readers hold: not known yet */
};

/* Run times and the Console's timings, which the clock decides. */
std::string timings_masked(const std::string &text) {
    std::string masked = std::regex_replace(text, std::regex("Time: [0-9]+ ms"), "Time: # ms");
    return std::regex_replace(masked, std::regex(runner_timing + "<([0-9]+):[0-9]*>"),
                              " # ms = # - # Total: # <$1:#>");
}

} // namespace

TEST_F(RunnerNative, Cases) {
    for (const RunnerCase &c : runner_cases)
        runner_case_check(c, ops_, inserted_);
}

/* Every directive, T=0 follow-ups, a log file, -c: the same bytes. */
TEST_F(RunnerNative, SameOutputAsWindowsRunner) {
    std::ofstream(ops_.dir + "/same.txt")
        << "// both programs\n/OFF\n00A4040000\n/ON\n/W 10\n/OPEN log.bin\n"
           "00B0000010\n/CLOSE\n/T=0\n00A4040005A000000003\n00B0000000\n"
           "80F00001\n";
    auto run = [&](const char *program, std::vector<std::string> words) {
        EXPECT_EQ(testcard(0, "reset"), "ok");
        EXPECT_EQ(testcard(0, std::string("insert ") + runner_demo_atr + " t0"), "ok");
        EXPECT_EQ(testcard(0, "delay 5"), "ok"); // no 0 ms exchange restarts the numbering
        return ops_.finish(ops_.start(words, program));
    };
    RunnerResult native = run(VORLANE_RUN, {"-c", "same.txt"});
    std::string native_log = read_file(ops_.dir + "/log.bin");
    RunnerResult windows =
        run(VORLANE_SOURCE_DIR "/scripts/wine-run", {VORLANE_WINDOWS_RUN, "-c", "same.txt"});
    ASSERT_EQ(windows.status, 0u) << windows.out << " (build the windows configuration first)";
    EXPECT_EQ(native.status, 0u) << native.err;
    for (const char *piece : {"Logging data in file log.bin\r\n", "\r\n00C0000009\r\n",
                              "\r\n00B0000008\r\n", "80F00001LengthError= 1\r\n"})
        EXPECT_NE(native.out.find(piece), std::string::npos) << piece << native.out;
    EXPECT_EQ(timings_masked(native.out), timings_masked(windows.out));
    EXPECT_EQ(native_log.size(), 16u);
    EXPECT_EQ(native_log, read_file(ops_.dir + "/log.bin"));
}

/* Without a PC/SC service: the status code printed as on Windows, eight
   digits, although pcsc-lite's LONG is 8 bytes here. */
TEST_F(RunnerNative, NoService) {
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/pcscd.comm", 1);
    RunnerResult r = ops_.finish(ops_.start({"ok.txt"}));
    unsetenv("PCSCLITE_CSOCK_NAME");
    EXPECT_EQ(r.status, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "vorlane-run: no PC/SC service (error 8010001D)\n");
}

/* pcsc-lite's state bit mask read as the one value Windows reports: absent
   is a bit, and SCARD_UNKNOWN (0x0001 here) is not "absent" (1). */
TEST(PlatformPosix, CardStateFromBitMask) {
    const DWORD cases[][2] = {{0, 0},
                              {SCARD_UNKNOWN, 0},
                              {SCARD_ABSENT, 1},
                              {SCARD_PRESENT | SCARD_SWALLOWED, 3},
                              {SCARD_PRESENT | SCARD_POWERED, 4},
                              {SCARD_PRESENT | SCARD_POWERED | SCARD_NEGOTIABLE, 5},
                              {SCARD_PRESENT | SCARD_POWERED | SCARD_SPECIFIC, 6}};
    for (const auto &c : cases)
        EXPECT_EQ(platform_card_state(c[0]), c[1]) << c[0];
}

/* The card line on the rig's two readers: a card on each, one pulled
   mid-run, the PC/SC service stopped and started again between cards, a
   last card, then Ctrl-C: the line finishes, writes its report and sums
   the cards up. */
TEST_F(RunnerNative, CardLineOnBothReaders) {
    std::ofstream(ops_.dir + "/line.txt") << "00A4040000\n/EXPECT *9000\n/W 1500\n00B0000004\n";
    /* Both readers seen empty first: a card pulled and put back within one
       poll of the reader driver would look like one that never left. */
    ops_.remove(0);
    ops_.remove(1);
    usleep(700000);
    pid_t line =
        ops_.start({"--each-card", "--junit", "line.xml", "-r", "0", "-r", "1", "line.txt"});
    ops_.insert(0, runner_demo_atr);
    ASSERT_TRUE(ops_.shown("Velmo:> Card is ready", 1));
    ops_.remove(0);
    ASSERT_EQ(ops_.control(1, "reset"), "ok"); /* an empty log */
    ops_.insert(1, runner_demo_atr);
    for (int i = 0; i < 500 && ops_.control(1, "status").find(" log=0") != std::string::npos; i++)
        usleep(10000);
    ops_.remove(1); /* during the pause after the first command: the next exchange fails */
    ASSERT_TRUE(ops_.shown("Velmo:> Card is ready", 2));
    ASSERT_EQ(system(VORLANE_SOURCE_DIR "/scripts/rig pcscd-stop >/dev/null"), 0);
    usleep(1500000);
    ASSERT_EQ(system(VORLANE_SOURCE_DIR "/scripts/rig pcscd-start >/dev/null"), 0);
    ops_.insert(0, runner_demo_atr);
    ASSERT_TRUE(ops_.shown("Velmo:> Card is ready", 3));
    kill(line, SIGINT);
    RunnerResult r = ops_.finish(line);
    EXPECT_EQ(r.status, 1u) << r.err;
    EXPECT_NE(r.out.find("Cards: 2 passed, 1 failed\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("line.txt line 4: 0x80100"), std::string::npos) << r.err;
    std::string xml = read_file(ops_.dir + "/line.xml");
    for (const char *piece :
         {"<testsuite name=\"card 1 on Virtual PCD 00 00: line.txt\" tests=\"1\" failures=\"0\" "
          "errors=\"0\"",
          "<testsuite name=\"card 2 on Virtual PCD 00 01: line.txt\" tests=\"2\" failures=\"0\" "
          "errors=\"1\"",
          "<testsuite name=\"card 3 on Virtual PCD 00 00: line.txt\" tests=\"1\"",
          "<property name=\"card\" value=\"3\"/>"})
        EXPECT_EQ(runner_count(xml, piece), 1) << piece << xml;
}

/* The card line personalises a batch from a data file: each card takes the
   next row in the order the cards come, whatever reader it is in; when the
   rows run out the line ends by itself. What each card got is read back
   from its memory and from the report. */
TEST_F(RunnerNative, CardLineWithDataRows) {
    std::ofstream(ops_.dir + "/batch.csv") << "SERIAL,NAME\r\n0102030405060708,41\r\n"
                                              "1112131415161718,4243\r\n2122232425262728,\r\n";
    std::ofstream(ops_.dir + "/perso.txt")
        << "00D6 0000 00 $##SERIAL $SERIAL\n/SET REST $#NAME $NAME $PREFIX\n"
           "00D6 0008 $#REST $REST\n00B0 0000 $#SERIAL\n/EXPECT $SERIAL 9000\n";
    ops_.remove(0);
    ops_.remove(1);
    ASSERT_EQ(ops_.control(0, "reset"), "ok");
    ASSERT_EQ(ops_.control(1, "reset"), "ok");
    usleep(700000);
    pid_t line = ops_.start({"--each-card", "--data", "batch.csv", "--set", "PREFIX=CAFE",
                             "--junit", "batch.xml", "-r", "0", "-r", "1", "perso.txt"});
    for (int card = 0; card < 4; card++) {
        ops_.insert(card % 2, runner_demo_atr);
        if (card < 3) {
            ASSERT_TRUE(ops_.shown("Velmo:> Card is ready", card + 1));
        }
        ops_.remove(card % 2);
    }
    RunnerResult r = ops_.finish(line); /* the fourth card found no row: the line ends */
    EXPECT_EQ(r.status, 0u) << r.err;
    EXPECT_NE(r.out.find("No more data rows\r\nCards: 3 passed, 0 failed\r\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(ops_.control(0, "mem 0 11"), "ok 212223242526272800CAFE");
    EXPECT_EQ(ops_.control(1, "mem 0 13"), "ok 1112131415161718024243CAFE");
    std::string xml = read_file(ops_.dir + "/batch.xml");
    for (const char *piece :
         {"<testsuite name=\"card 1 on Virtual PCD 00 00: perso.txt\" tests=\"1\" failures=\"0\"",
          "<testsuite name=\"card 3 on Virtual PCD 00 00: perso.txt\" tests=\"1\" failures=\"0\"",
          "<property name=\"row\" value=\"2\"/>", "<property name=\"row\" value=\"3\"/>"})
        EXPECT_EQ(runner_count(xml, piece), 1) << piece << xml;
}

/* A session on the test card recorded (T=0 follow-ups, a write, a long
   answer, directives), run as a script against the card, then replayed
   with pcscd stopped: the same output, the same recording again, and no
   PC/SC service needed. */
TEST_F(RunnerNative, RecordThenReplayWithoutService) {
    std::ofstream(ops_.dir + "/perso.txt")
        << "/T=0\n00A4040005A000000003\n/SET S 0102030405060708\n00D6 0010 $#S $S\n/W 1\n"
           "00B0 0010 08\n/EXPECT $S 9000\n00B0000000\n00B0 0000 00 0400\n/OFF\n80F00001\n";
    ASSERT_EQ(ops_.control(0, "reset"), "ok");
    ops_.seen(0, std::string("insert ") + runner_demo_atr + " t0", true);
    RunnerResult recorded =
        ops_.finish(ops_.start({"-r", "0", "--record", "golden.txt", "perso.txt"}));
    ASSERT_EQ(recorded.status, 0u) << recorded.err;
    std::string golden = read_file(ops_.dir + "/golden.txt");
    for (const char *piece : {"\r\n// Reader: Virtual PCD 00 00\r\n",
                              "\r\n00A4040005A000000003\r\n/EXPECT 6109\r\n00C0000009\r\n",
                              "\r\n00D60010080102030405060708\r\n/EXPECT 9000\r\n",
                              "\r\n00B0000000\r\n/EXPECT 6C08\r\n00B0000008\r\n/EXPECT ",
                              "\r\n80F00001\r\n/EXPECT 90\r\n"})
        EXPECT_EQ(runner_count(golden, piece), 1) << piece << golden.substr(0, 600);
    EXPECT_EQ(runner_count(golden, "\r\n\\"), 2); /* 1,026 bytes in three lines */
    RunnerResult checked = ops_.finish(ops_.start({"-r", "0", "golden.txt"}));
    EXPECT_EQ(checked.status, 0u) << checked.out.substr(0, 2000);
    EXPECT_EQ(runner_count(checked.out, "Checks: 8 passed, 0 failed\r\n"), 1);
    ops_.remove(0);
    ASSERT_EQ(system(VORLANE_SOURCE_DIR "/scripts/rig pcscd-stop >/dev/null"), 0);
    RunnerResult replayed =
        ops_.finish(ops_.start({"--replay", "golden.txt", "--record", "again.txt", "perso.txt"}));
    RunnerResult without = ops_.finish(ops_.start({"perso.txt"}));
    ASSERT_EQ(system(VORLANE_SOURCE_DIR "/scripts/rig pcscd-start >/dev/null"), 0);
    EXPECT_EQ(replayed.status, 0u) << replayed.err;
    EXPECT_EQ(timings_masked(replayed.out), timings_masked(recorded.out));
    std::string again = read_file(ops_.dir + "/again.txt");
    EXPECT_EQ(again.substr(again.find("// ATR ")), golden.substr(golden.find("// ATR ")));
    EXPECT_EQ(without.status, 1u); /* the service was really gone */
    EXPECT_NE(without.err.find("no PC/SC service"), std::string::npos) << without.err;
}

/* One secure channel per protocol with the test card's security domain,
   whose side is written apart from the runner's: SCP02 with its data
   encrypted (no published vector holds that) and EMV-diversified keys, and SCP03 in S16 with an
   extended command and an answer whose wrapped data pass 255 bytes (Le
   goes out as 00: the card answers all it has). */
/* Key n of an SCP02 card diversified from master as EMV CPS 1.1 says,
   over the test card's KDD 00010203040506070809: 3DES-ECB of KDD[4..9] F0
   0n and KDD[4..9] 0F 0n. */
std::string emv_key(unsigned char first, int n) {
    unsigned char master[16], key[16], data[16] = {4, 5, 6, 7, 8, 9, 0xF0, (unsigned char)n,
                                                   4, 5, 6, 7, 8, 9, 0x0F, (unsigned char)n};
    char hex[33];
    for (int i = 0; i < 16; i++)
        master[i] = (unsigned char)(first + i);
    EXPECT_EQ(crypto_encrypt(CRYPTO_3DES_ECB, master, 16, 0, 0, data, 16, key, 16, 0, 0), 0);
    for (int i = 0; i < 16; i++)
        snprintf(hex + 2 * i, 3, "%02X", key[i]);
    return hex;
}

TEST_F(RunnerNative, SecureChannelScp02) {
    ASSERT_EQ(ops_.control(0, "reset"), "ok");
    ASSERT_EQ(ops_.control(0, "scp 02 15"), "ok");
    ASSERT_EQ(ops_.control(0, "keys " + emv_key(0x40, 1) + " " + emv_key(0x50, 2) + " " +
                                  emv_key(0x60, 3) + " 20"),
              "ok");
    ops_.insert(0, runner_demo_atr);
    std::ofstream(ops_.dir + "/scp02.txt")
        << "00A4040008A000000151000000\n"
           "/SCP MAC+ENC ENC 404142434445464748494A4B4C4D4E4F MAC 505152535455565758595A5B5C5D5E5F "
           "DEK 606162636465666768696A6B6C6D6E6F KVN 20 DIVERSIFY EMV\n"
           "00D6 0010 0B 48656C6C6F20776F726C64\n/EXPECT 9000\n00B0 0010 0B\n"
           "/EXPECT 48656C6C6F20776F726C64 * 9000\n/SET K ENCRYPT 3DES-ECB $SCP_DEK 00\n"
           "/SCP MAC+RMAC KEY 404142434445464748494A4B4C4D4E4F KVN 20\n/SCP END\n00B0 0010 01\n";
    RunnerResult r = ops_.finish(ops_.start({"scp02.txt"}));
    EXPECT_EQ(r.status, 3u) << r.out << r.err;
    for (const char *piece :
         {"Sending\r\n00D600100B48656C6C6F20776F726C64\r\nSecured\r\n04D6001018",
          "Plain\r\n48656C6C6F20776F726C64",
          "!!! Check failed, line 7: data of 1 byte is not a multiple of 8\r\n",
          "!!! Check failed, line 8: secure channel: SCP02 offers MAC and MAC+ENC only\r\n",
          "Sending\r\n00B0001001\r\nReceived\r\n489000\r\n", "Checks: 3 passed, 2 failed\r\n"})
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
    EXPECT_EQ(r.out.find("404142434445"), std::string::npos);
    EXPECT_EQ(ops_.control(0, "mem 16 11"), "ok 48656C6C6F20776F726C64");
}

TEST_F(RunnerNative, SecureChannelScp03) {
    ASSERT_EQ(ops_.control(0, "reset"), "ok");
    ASSERT_EQ(ops_.control(0, "scp 03 71"), "ok");
    ops_.insert(0, runner_demo_atr);
    std::string data;
    for (int i = 0; i < 300; i++)
        data += "0123456789ABCDEF"[i % 16], data += "0123456789ABCDEF"[(i / 16) % 16];
    std::ofstream(ops_.dir + "/scp03.txt")
        << "00A4040008A000000151000000\n"
           "/SCP MAC+ENC+RMAC+RENC KEY 404142434445464748494A4B4C4D4E4F S16\n"
           "/SET D "
        << data
        << "\n00D6 0000 00 $##D $D\n/EXPECT 9000\n"
           "00B0 0000 00\n/EXPECT $D[0:256] 9000\n/SCP END\n";
    RunnerResult r = ops_.finish(ops_.start({"scp03.txt"}));
    EXPECT_EQ(r.status, 0u) << r.out << r.err;
    for (const char *piece : {"Secured\r\n04D60000000140", "Checks: 3 passed, 0 failed\r\n"})
        EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
    EXPECT_EQ(ops_.control(0, "mem 0 4"), "ok " + data.substr(0, 8));
    ASSERT_EQ(ops_.control(0, "reset"), "ok");
}
