/*
 * core_canary_test.cpp: key material never shows. Every way a "/SET", a
 * "/SCP", a --set or a --data can fail is run through vorlane-run with a
 * key-shaped canary where a key would be (or where a user would put one by
 * mistake), and no eight digits of it may appear in standard output or
 * error, the JUnit report or the recording.
 */
#include "tests/host/core_harness.h"

namespace {

const std::string canary = "C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF";
const std::string key = "KEY " + canary;
const std::string no_name = "0" + canary; /* where a name belongs: a key that is no name */

struct CanaryRow {
    std::vector<std::string> options; /* before the script; "DATA" names data.csv */
    std::vector<std::string> lines;   /* the script */
    std::string data = "";            /* data.csv's text */
};

// clang-format off
const std::vector<CanaryRow> canary_rows = {
    {{}, {"/SET K " + canary + "0"}},                        // odd digits
    {{}, {"/SET " + no_name}},                               // the name left out
    {{}, {"/SET " + no_name + " ENCRYPT AES-ECB 00 00"}},    // a name that is none
    {{}, {"/SET K " + canary + "G"}},                        // an unknown function
    {{}, {"/SET K ENCRYPT " + canary + "G 00 00"}},          // an unknown algorithm
    {{}, {"/SET K ENCRYPT AES-ECB " + canary + "0 00"}},     // a key of odd digits
    {{}, {"/SET K ENCRYPT AES-ECB " + canary + " 0011"}},    // data not whole blocks
    {{}, {"/SET K XOR " + canary + " 00"}},
    {{}, {"/SET K MAC RETAIL " + canary + " $NOPE"}},
    {{}, {"/SET K " + canary + " $NOPE[0:1]"}},
    {{}, {"/SCP " + canary}},                                // the level left out
    {{}, {"/SCP MAC KEY " + canary + "0"}},
    {{}, {"/SCP MAC " + key + " " + canary}},                // an unknown option
    {{}, {"/SCP MAC " + key + " HOST " + canary}},
    {{}, {"/SCP MAC " + key + " KVN " + canary}},
    {{}, {"/SCP MAC " + key + " CHANNEL " + canary}},
    {{}, {"/SCP MAC ENC " + canary + " MAC 00 DEK 00"}},
    {{}, {"/SCP MAC " + key, "80CA006600"}},                 // the card answers 9000 alone
    {{"--set", canary}, {"80"}},
    {{"--set", "K=" + canary + "0"}, {"80"}},
    {{"--set", no_name + "=00"}, {"80"}},
    {{"--data", "DATA"}, {"80"}, no_name + ",00\n00,00\n"},   // no header line
    {{"--data", "DATA"}, {"80"}, "A,B\n00," + canary + "0\n"},
    {{"--data", "DATA"}, {"80"}, "A,B\n" + canary + "\n"},
};
// clang-format on

/* The first eight-digit piece of the canary that text holds, or "". */
std::string canary_in(const std::string &text) {
    for (size_t i = 0; i + 8 <= canary.size(); i++)
        if (text.find(canary.substr(i, 8)) != std::string::npos)
            return canary.substr(i, 8);
    return "";
}

} // namespace

TEST(CoreCanary, NoKeyInAnyOutput) {
    for (const CanaryRow &row : canary_rows) {
        SCOPED_TRACE(row.lines[0] + " " + (row.options.empty() ? "" : row.options[0]));
        CoreDir dir;
        core_start();
        core_script_write(dir / "s.txt", row.lines);
        core_file_write(dir / "data.csv", row.data);
        std::vector<std::string> words = {"-r",          core_reader_name, "--junit",
                                          dir / "r.xml", "--record",       dir / "rec.txt"};
        for (const std::string &option : row.options)
            words.push_back(option == "DATA" ? dir / "data.csv" : option);
        words.push_back(dir / "s.txt");
        FILE *out = tmpfile(), *err = tmpfile();

        int status = core_runner(words, out, err);
        std::string outputs = core_stream_text(out) + core_stream_text(err) +
                              core_file_text(dir / "r.xml") + core_file_text(dir / "rec.txt");
        EXPECT_NE(status, 0) << outputs; /* every row fails somewhere */
        EXPECT_EQ(canary_in(outputs), "") << outputs;
        fclose(out);
        fclose(err);
    }
}
