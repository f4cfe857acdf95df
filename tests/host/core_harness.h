/*
 * core_harness.h: what the host tests of the portable core share: a fresh
 * AppState and fake PC/SC service, a session connected to a fake reader's
 * card, the table of response sizes every path is run with, and the texts
 * a response should give, built here from its bytes.
 */
#ifndef VORLANE_TESTS_CORE_HARNESS_H
#define VORLANE_TESTS_CORE_HARNESS_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "run/run_main.h"
#include "run/run_state.h"
#include "script/script_check.h"
#include "script/script_run.h"
#include "card/xfer_limits.h"
#include "tests/fake/pcsc_fake.h"
#include "tests/stream_read.h"

/* Every response size a path must carry or refuse: around the short
   limits, 512 (card_transmit's room), 4,096, the largest a virtual reader
   carries, the largest response, and one byte beyond that. */
inline const std::vector<int> core_sizes = {
    0, 1, 2, 256, 257, 512, 513, 4096, 65535, XFER_RESPONSE_MAX, XFER_RESPONSE_MAX + 1};

/* The status word of the sized responses: no check of 9000 holds. */
enum { CORE_SW = 0x6283 };

inline const char core_reader_name[] = "Fake Reader 0";
inline const std::vector<uint8_t> core_atr = {0x3B, 0x02, 0x14, 0x50};

/* A response of size bytes: data i % 256 and CORE_SW, or size bytes i %
   256 when too short for a status word. */
inline FakeAnswer core_answer(int size) {
    if (size >= 2)
        return fake_pattern((size_t)size - 2, CORE_SW);
    FakeAnswer answer;
    for (int i = 0; i < size; i++)
        answer.bytes.push_back((uint8_t)i);
    return answer;
}

/* bytes[from, from + count) in upper-case hexadecimal, cut at the end. */
inline std::string core_hex(const std::vector<uint8_t> &bytes, size_t from = 0,
                            size_t count = SIZE_MAX) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = from; i - from < count && i < bytes.size(); i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

/* A trace as the reader pane shows it: the title, then 32 bytes a line,
   the last line closed once. */
inline std::string core_trace(const char *title, const std::vector<uint8_t> &bytes) {
    std::string text = std::string(title) + "\r\n";
    for (size_t i = 0; i < bytes.size(); i += 32)
        text += core_hex(bytes, i, 32) + "\r\n";
    return text;
}

/* The response as a failed check shows it: whole up to 256 bytes, else
   its first 256 and what the whole was. */
inline std::string core_shown(const std::vector<uint8_t> &bytes) {
    if (bytes.size() <= 256)
        return core_hex(bytes);
    char tail[64];
    snprintf(tail, sizeof tail, "... (%zu bytes, SW %02X%02X)", bytes.size(),
             bytes[bytes.size() - 2], bytes[bytes.size() - 1]);
    return core_hex(bytes, 0, 256) + tail;
}

inline std::string core_file_text(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void core_file_write(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

/* Everything a stream received so far. */
inline std::string core_stream_text(FILE *stream) {
    return stream_read_all(stream);
}

/* Times piece stands in text, overlapping ones counted; 0 for no piece. */
inline int core_count(const std::string &text, const std::string &piece) {
    int n = 0;
    for (size_t at = piece.empty() ? std::string::npos : text.find(piece); at != std::string::npos;
         at = text.find(piece, at + 1))
        n++;
    return n;
}

/* The run time of a script, which the clock decides, as "Time: # ms". */
inline std::string core_time_masked(std::string text) {
    size_t at = text.find("Time: ");
    size_t end = at == std::string::npos ? at : text.find(" ms", at);
    if (end != std::string::npos)
        text.replace(at + 6, end - at - 6, "#");
    return text;
}

/* A folder of its own for a test's files, removed with everything in it;
   while it is entered it is the working directory, as the runner's own
   folder is for the reports and logs it names. */
struct CoreDir {
    std::string path;
    char left[4096] = ""; /* the working directory entering left */
    bool entered = false;
    CoreDir() {
        char pattern[] = "/tmp/vorlane-core-XXXXXX";
        path = mkdtemp(pattern) ? pattern : "";
    }
    ~CoreDir() {
        if (entered)
            EXPECT_EQ(chdir(left), 0);
        if (!path.empty())
            EXPECT_EQ(system(("rm -rf " + path).c_str()), 0);
    }
    /* Makes the folder the working directory until it goes; false when the
       one to come back to is not known or the folder cannot be entered. */
    bool enter() {
        entered = getcwd(left, sizeof left) != nullptr && chdir(path.c_str()) == 0;
        return entered;
    }
    std::string operator/(const std::string &name) const {
        return path + "/" + name;
    }
};

/* A fresh AppState and fake service with one reader holding a card;
   returns the reader. */
inline int core_start(void) {
    app_state_init();
    app_locks_create();
    run_state_init(stdin, stdout, stderr);
    fake_pcsc_reset();
    int reader = fake_reader_add(core_reader_name);
    fake_card_insert(reader, core_atr);
    return reader;
}

/* Connects session to the reader's card and makes it ready for
   card_exchange, as the runner does. */
inline void core_session_ready(CardSession *session, const char *reader = core_reader_name) {
    const PcscProvider *pcsc = session->pcsc;
    ASSERT_EQ(pcsc->establish(pcsc->self, SCARD_SCOPE_SYSTEM, &session->sc_context),
              SCARD_S_SUCCESS);
    ASSERT_EQ(pcsc->connect(pcsc->self, session->sc_context, reader,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &session->card_handle,
                            &session->active_protocol),
              SCARD_S_SUCCESS);
    session->card_state = CARD_READY;
}

/* vorlane-run with words after the program's name, standard output and
   error into out and err; its exit status. */
inline int core_runner(std::vector<std::string> words, FILE *out, FILE *err) {
    words.insert(words.begin(), "vorlane-run");
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(&word[0]);
    return run_main((int)argv.size(), argv.data(), stdin, out, err);
}

/* A temporary file as pane's stream, as the runner sets standard output. */
inline FILE *core_pane_capture(int pane) {
    FILE *stream = tmpfile();
    pane_stream_open(pane, stream, 0, -1);
    return stream;
}

/* Reader 0's session connected and its pane captured, as the script
   tables start; returns the fake reader. */
inline int core_script_ready(CardSession **session, FILE **pane) {
    int reader = core_start();
    *session = &runner.readers[0].session;
    core_session_ready(*session);
    *pane = core_pane_capture((*session)->reader_pane);
    return reader;
}

/* A card's answer written in hexadecimal. */
inline FakeAnswer core_answer_hex(const std::string &hex) {
    FakeAnswer answer;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        answer.bytes.push_back((uint8_t)strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return answer;
}

/* lines as the script at path, each ended by a line feed. */
inline void core_script_write(const std::string &path, const std::vector<std::string> &lines) {
    std::string script;
    for (const std::string &line : lines)
        script += line + "\n";
    core_file_write(path, script);
}

/* A command as sent against what a row wants: the same hexadecimal, or
   "A*B": it starts with A and ends with B. */
inline bool core_sent_matches(const std::string &want, const std::string &got) {
    size_t star = want.find('*'), tail = star == std::string::npos ? 0 : want.size() - star - 1;
    return star == std::string::npos
               ? want == got
               : got.size() >= want.size() - 1 && got.rfind(want.substr(0, star), 0) == 0 &&
                     got.compare(got.size() - tail, tail, want, star + 1, tail) == 0;
}

/* The pane's failed checks ("!!! " to the end of its line), in order. */
inline std::vector<std::string> core_failures(const std::string &text) {
    std::vector<std::string> failures;
    for (size_t at = text.find("!!! "); at != std::string::npos; at = text.find("!!! ", at + 1))
        failures.push_back(text.substr(at, text.find("\r\n", at) - at));
    return failures;
}

/* The names of the tally's checks in order; *shown gains each name and
   message (what a report would show). */
inline std::vector<std::string> core_tally_names(ScriptTally *tally, std::string *shown) {
    std::vector<std::string> names;
    size_t at = 0;
    int ms;
    const char *name, *message;
    while (script_tally_next(tally, &at, &ms, &name, &message)) {
        names.push_back(name);
        *shown += std::string(name) + "\n" + message + "\n";
    }
    return names;
}

/* One row of a script table: a folder of its own, reader 0's session
   connected with its pane captured, and the row's script run there as
   row.txt; the tally is freed and the pane closed when the row is done. */
struct CoreRowRun {
    CoreDir dir;
    CardSession *session = nullptr;
    FILE *pane = nullptr;
    int reader = core_script_ready(&session, &pane);
    ScriptTally tally = {};
    ~CoreRowRun() {
        script_tally_free(&tally);
        fclose(pane);
    }
    /* lines written as the row's script and run; script_run's result. */
    int run(const std::vector<std::string> &lines) {
        core_script_write(dir / "row.txt", lines);
        return script_run(session, (dir / "row.txt").c_str(), &tally);
    }
};

#endif
