/*
 * runner_native_test.cpp: the native vorlane-run as a child process against
 * the rig's test cards through the real pcscd, without Wine: the cases it
 * shares with vorlane-run.exe (tests/runner_cases.h), and one script run by
 * both programs, whose standard output and log file must be the same bytes,
 * timings aside.
 */
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <winscard.h>

#include <fstream>
#include <sstream>

#include "tests/runner_cases.h"

namespace {

unsigned now_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (unsigned)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

std::string read_file(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/* One line to a test card's control port (35970 + reader); its reply, all
   N further lines of an "ok N" answer to "log" included. */
std::string testcard(int reader, const std::string &line) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)(35970 + reader));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    char chunk[4096];
    ssize_t got = 0;
    if (connect(s, (sockaddr *)&address, sizeof address) == 0 &&
        write(s, (line + "\n").data(), line.size() + 1) == (ssize_t)line.size() + 1)
        while (runner_count(reply, "\n") < (line == "log" ? 1 + atoi(reply.c_str() + 3) : 1) &&
               (got = read(s, chunk, sizeof chunk)) > 0)
            reply.append(chunk, (size_t)got);
    close(s);
    return reply;
}

/* 1 while pcscd still connects to a card in reader. */
bool card_answers(int reader) {
    const char *names[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};
    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
    LONG status = SCardConnect(context, names[reader], SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol);
    if (status == SCARD_S_SUCCESS)
        SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return status == SCARD_S_SUCCESS;
}

/* The shared cases' side on Linux: fork and exec, the cards' control ports. */
struct RunnerPosixOps {
    std::string dir;
    const char *newline = "\n";
    const char *inserted[2] = {"?", "?"}; /* the ATR put in, or 0; "?" not known */

    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    void card(int reader, const char *atr) {
        ASSERT_EQ(testcard(reader, "reset"), "ok\n");
        if (atr && atr != inserted[reader]) {
            ASSERT_EQ(testcard(reader, std::string("insert ") + atr + " t1"), "ok\n");
        }
        if (!atr && inserted[reader] != atr) {
            ASSERT_EQ(testcard(reader, "remove"), "ok\n");
            for (unsigned end = now_ms() + 10000; card_answers(reader) && now_ms() < end;)
                sleep(50);
        }
        inserted[reader] = atr;
    }
    void delay(int reader, int ms) {
        ASSERT_EQ(testcard(reader, "delay " + std::to_string(ms)), "ok\n");
    }
    void sleep(int ms) {
        usleep((useconds_t)ms * 1000);
    }
    bool saw_command(int reader, int ms) {
        for (unsigned end = now_ms() + (unsigned)ms; now_ms() < end; sleep(20))
            if (testcard(reader, "log").find("\nC: ") != std::string::npos)
                return true;
        return false;
    }
    struct Child {
        pid_t pid;
        unsigned started;
    };
    /* program and words, run in dir with standard output and error in files */
    Child start(const std::vector<std::string> &words, const char *program = VORLANE_RUN) {
        unsigned started = now_ms();
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
        return {pid, started};
    }
    bool running(const Child &child) {
        return waitpid(child.pid, nullptr, WNOHANG) == 0;
    }
    RunnerResult finish(const Child &child) {
        RunnerResult r;
        int status = 0;
        for (unsigned end = now_ms() + 60000; waitpid(child.pid, &status, WNOHANG) == 0; sleep(10))
            if (now_ms() > end)
                kill(child.pid, SIGKILL);
        r.ms = now_ms() - child.started;
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
        ASSERT_EQ(testcard(1, "remove"), "ok\n")
            << "the card rig is not running (scripts/rig start)";
    }
    void TearDown() override {
        testcard(0, "remove");
        testcard(1, "remove");
        ASSERT_EQ(system(("rm -rf " + ops_.dir).c_str()), 0);
    }
    RunnerPosixOps ops_;
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
        runner_case_check(c, ops_);
}

/* Every directive, T=0 follow-ups, a log file, -c: the same bytes. */
TEST_F(RunnerNative, SameOutputAsWindowsRunner) {
    ops_.write("same.txt", "// both programs\n/OFF\n00A4040000\n/ON\n/W 10\n/OPEN log.bin\n"
                           "00B0000010\n/CLOSE\n/T=0\n00A4040005A000000003\n00B0000000\n"
                           "80F00001\n");
    ASSERT_EQ(testcard(0, std::string("insert ") + runner_demo_atr + " t0"), "ok\n");
    ops_.inserted[0] = "t0";
    ops_.card(0, "t0"); // reset, delay: no exchange of 0 ms restarts the numbering
    ops_.delay(0, 5);
    RunnerResult native = ops_.finish(ops_.start({"-c", "same.txt"}));
    std::string native_log = read_file(ops_.dir + "/log.bin");
    ops_.card(0, "t0");
    ops_.delay(0, 5);
    RunnerResult windows = ops_.finish(ops_.start({VORLANE_WINDOWS_RUN, "-c", "same.txt"},
                                                  VORLANE_SOURCE_DIR "/scripts/wine-run"));
    ASSERT_EQ(windows.status, 0u) << windows.out << " (build the windows configuration first)";
    EXPECT_EQ(native.status, 0u) << native.err;
    for (const char *piece : {"Logging data in file log.bin\r\n", "\r\n00C0000009\r\n",
                              "\r\n00B0000008\r\n", "80F00001LengthError= 1\r\n"})
        EXPECT_NE(native.out.find(piece), std::string::npos) << piece << native.out;
    EXPECT_EQ(timings_masked(native.out), timings_masked(windows.out));
    EXPECT_EQ(native_log.size(), 16u);
    EXPECT_EQ(native_log, read_file(ops_.dir + "/log.bin"));
}
