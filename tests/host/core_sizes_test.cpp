/*
 * core_sizes_test.cpp: one table of response sizes (core_harness.h) through
 * every path of the portable core against the fake PC/SC: card_exchange on
 * a runner session and card_transmit with its 512-byte room, and a script
 * run by the interpreter inside the runner (run_main). Each path must carry
 * every response that fits its room whole, refuse a longer one with
 * SCARD_E_INSUFFICIENT_BUFFER without cutting it, and tell the user the
 * same in its trace, log, checks and report.
 */
#include "tests/host/core_harness.h"

#include <string.h>

#include <algorithm>

#include "card/card_transmit.h"

namespace {

const std::vector<uint8_t> core_command = {0x00, 0xB0, 0x00, 0x00, 0x00};

/* Seven ms a reading, from 100 ms into the hour: every exchange takes 7 ms. */
int core_clock_ms;
void core_clock(long long *seconds, int *milliseconds) {
    *seconds = 7200;
    *milliseconds = core_clock_ms;
    core_clock_ms += 7;
}

/* The Console's lines for the first exchange of a session: the script
   header (no script has run), then "001:" with the header and SW1 SW2, or
   LengthError and the count received. */
std::string core_console_lines(int received, const std::vector<uint8_t> &bytes) {
    std::string head = "\r\nScript: \r\n\r\n001: " + core_hex(core_command);
    if (received >= 2)
        head += " " + core_hex(bytes, bytes.size() - 2);
    else
        head += "LengthError= " + std::to_string(received) + "\r\n";
    return head + "     7 ms =    107 -    100 Total:      7 <0:>\r\n";
}

/* The failed "/EXPECT 9000" over bytes, as the tally and the report keep
   it; the reader pane shows it after "!!! ". */
std::string core_check_message(const std::vector<uint8_t> &bytes) {
    return "Check failed, line 4: expected 9000, received " + core_shown(bytes);
}

/* The script every interpreter and runner row runs */
std::string core_script(const std::string &log) {
    return "/OPEN " + log + "\n00B0000000\n/EXPECT *\n/EXPECT 9000\n/CLOSE\n";
}

/* What the reader pane shows for the script over a response of size bytes
   (the run time masked). */
std::string core_run_text(const std::string &script, const std::string &log, int size) {
    std::vector<uint8_t> bytes = core_answer(size).bytes;
    std::string text = "\r\nLoading script " + script + " ...\r\nLogging data in file " + log +
                       "\r\n" + core_trace("Sending", core_command);
    if (size > XFER_RESPONSE_MAX)
        return text + "\r\nReader is busy, try later...\r\n\r\n\r\nEnd of script\r\n"
                      "Time: # ms\r\n\r\nVelmo:> Card is ready\r\n";
    return text + core_trace("Received", bytes) + "!!! " + core_check_message(bytes) + "\r\n" +
           "Checks: 1 passed, 1 failed\r\n\r\n\r\nEnd of script\r\n"
           "Time: # ms\r\n\r\nVelmo:> Card is ready\r\n";
}

} // namespace

/* card_exchange with the largest room and card_transmit with 512 bytes:
   the response whole, or -1 with the buffer untouched; the Console line. */
TEST(CoreSizes, Exchange) {
    for (int room : {(int)XFER_RESPONSE_MAX, (int)CARD_TRANSMIT_CAPACITY}) {
        for (int size : core_sizes) {
            SCOPED_TRACE("room " + std::to_string(room) + ", size " + std::to_string(size));
            int reader = core_start();
            CardSession *session = &runner.readers[0].session;
            app.gui_card = session; /* card_transmit's session, as the GUI's reader window */
            core_session_ready(session);
            session->console_pane = PANE_RUN_FIRST + 1;
            FILE *console = core_pane_capture(session->console_pane);
            core_clock_ms = 100;
            xfer_clock_set(core_clock);
            FakeAnswer answer = core_answer(size);
            fake_answer_push(reader, answer);
            /* exactly the room the caller promises: ASan sees a write past it */
            std::vector<uint8_t> buffer(room, 0xA5);
            memcpy(buffer.data(), core_command.data(), core_command.size());
            std::vector<uint8_t> before = buffer;
            int error = -7;

            int got = room == CARD_TRANSMIT_CAPACITY
                          ? card_transmit(buffer.data(), 5, &error)
                          : card_exchange(session, buffer.data(), 5, room, &error, nullptr);
            bool fits = size <= room;
            EXPECT_EQ(got, fits ? size : -1);
            EXPECT_EQ(error, fits ? 0 : (int)SCARD_E_INSUFFICIENT_BUFFER);
            if (fits)
                std::copy(answer.bytes.begin(), answer.bytes.end(), before.begin());
            EXPECT_TRUE(buffer == before) << "the buffer beyond the response changed";
            EXPECT_EQ(fake_commands(reader), std::vector<std::vector<uint8_t>>{core_command});
            EXPECT_EQ(core_stream_text(console), core_console_lines(fits ? size : 0, answer.bytes));
            fclose(console);
        }
    }
}

/* The interpreter through vorlane-run -r READER --junit FILE SCRIPT:
   standard output as the reader pane shows the run, the log of every data
   byte, the exit status, standard error and the report's checks. */
TEST(CoreSizes, Runner) {
    for (int size : core_sizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        CoreDir dir;
        int reader = core_start();
        FakeAnswer answer = core_answer(size);
        fake_answer_push(reader, answer);
        std::string script = dir / "size.txt", report = dir / "report.xml";
        core_file_write(script, core_script(dir / "log.bin"));
        FILE *out = tmpfile(), *err = tmpfile();

        int status = core_runner({"-r", core_reader_name, "--junit", report, script}, out, err);
        bool fits = size <= XFER_RESPONSE_MAX;
        EXPECT_EQ(status, fits ? 3 : 1);
        EXPECT_EQ(core_time_masked(core_stream_text(out)),
                  core_run_text(script, dir / "log.bin", size));
        EXPECT_EQ(core_stream_text(err),
                  fits ? "" : script + " line 2: 0x80100008 SCARD_E_INSUFFICIENT_BUFFER\n");
        std::string logged = core_file_text(dir / "log.bin");
        EXPECT_EQ(logged.size(), fits && size >= 2 ? (size_t)size - 2 : 0u);
        EXPECT_TRUE(std::equal(logged.begin(), logged.end(), answer.bytes.begin(),
                               [](char a, uint8_t b) { return (uint8_t)a == b; }));
        std::string xml = core_file_text(report);
        std::string counts = fits ? "tests=\"2\" failures=\"1\" errors=\"0\""
                                  : "tests=\"1\" failures=\"0\" errors=\"1\"";
        EXPECT_NE(xml.find("<testsuite name=\"" + script + "\" " + counts), std::string::npos)
            << xml.substr(0, 400);
        std::string trouble =
            fits ? "<failure message=\"" + core_check_message(answer.bytes) + "\">"
                 : "<error message=\"line 2: 0x80100008 SCARD_E_INSUFFICIENT_BUFFER\">";
        EXPECT_NE(xml.find(trouble), std::string::npos) << xml.substr(0, 400);
        EXPECT_EQ(xml.find("<testcase name=\"line 3: /EXPECT *\""),
                  fits ? xml.find("<testcase") : std::string::npos);
        EXPECT_EQ(fake_commands(reader), std::vector<std::vector<uint8_t>>{core_command});
        fclose(out);
        fclose(err);
    }
}
