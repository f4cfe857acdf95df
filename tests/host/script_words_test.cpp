/*
 * script_words_test.cpp: the script's one word splitter and argument
 * reader, one row a behaviour: words and their count, byte arguments
 * (pairs, references in place or written out, the first fault from the
 * left, the room never passed) and numbers.
 */
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "script/script_words.h"

namespace {

std::string hex_of(const unsigned char *bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; i++)
        text +=
            std::string(1, "0123456789ABCDEF"[bytes[i] >> 4]) + "0123456789ABCDEF"[bytes[i] & 15];
    return text;
}

/* K 00112233, E empty, B 0010 */
struct WordsValues {
    ScriptValues values;
    WordsValues() {
        static const unsigned char k[] = {0x00, 0x11, 0x22, 0x33}, b[] = {0x00, 0x10};
        char message[SCRIPT_VALUE_MESSAGE_SIZE];
        memset(&values, 0, sizeof values);
        EXPECT_TRUE(script_value_set(&values, "K", k, 4, message, sizeof message));
        EXPECT_TRUE(script_value_set(&values, "E", k, 0, message, sizeof message));
        EXPECT_TRUE(script_value_set(&values, "B", b, 2, message, sizeof message));
    }
    ~WordsValues() {
        script_values_free(&values);
    }
    const unsigned char *bytes_of(const char *name) const {
        for (int i = 0; i < values.count; i++)
            if (strcmp(values.values[i].name, name) == 0)
                return values.values[i].bytes;
        return nullptr;
    }
};

struct BytesRow {
    const char *name;
    const char *text;
    size_t capacity;
    int status;
    std::string want; /* the bytes, or the reason */
    int in_k = -1;    /* read in place: where in K's bytes, else written out */
};

const std::string long_pairs(200, 'A'); /* 100 bytes: pieces of the one pair reader */

// clang-format off
const std::vector<BytesRow> bytes_rows = {
    {"pairs, either case", " 0A0b ", 8, SCRIPT_ARG_OK, "0A0B"},
    {"one whole reference is read in place", "$K", 8, SCRIPT_ARG_OK, "00112233", 0},
    {"a slice in place", "$K[1:3]", 8, SCRIPT_ARG_OK, "1122", 1},
    {"pairs and references written out", "FF$K$K[-1:]EE", 8, SCRIPT_ARG_OK, "FF0011223333EE"},
    {"a length is written out", "$#K$##K", 8, SCRIPT_ARG_OK, "040004"},
    {"a value of no bytes is an empty argument", "$E", 8, SCRIPT_ARG_OK, ""},
    {"a long run of pairs", long_pairs.c_str(), 100, SCRIPT_ARG_OK, long_pairs},
    {"odd digits", "ABC", 8, SCRIPT_ARG_NOT_PAIRS, "key is not whole hexadecimal pairs"},
    {"a $ inside a pair is no reference", "0$K", 8, SCRIPT_ARG_NOT_PAIRS, "key is not whole hexadecimal pairs"},
    {"an unknown value", "$Q", 8, SCRIPT_ARG_REFERENCE, "unknown value Q"},
    {"a slice outside its value", "00$K[2:9]", 8, SCRIPT_ARG_REFERENCE, "K[2:9] outside its 4 bytes"},
    {"a reference in place longer than the room", "$K", 3, SCRIPT_ARG_TOO_LONG, "key longer than 3 bytes"},
    {"pairs longer than the room", "001122", 2, SCRIPT_ARG_TOO_LONG, "key longer than 2 bytes"},
    {"a long run past the room", long_pairs.c_str(), 99, SCRIPT_ARG_TOO_LONG, "key longer than 99 bytes"},
    {"a bad pair just past the room comes first", "0011ZZ", 2, SCRIPT_ARG_NOT_PAIRS, "key is not whole hexadecimal pairs"},
    {"the room's end before a later bad pair", "001122ZZ", 2, SCRIPT_ARG_TOO_LONG, "key longer than 2 bytes"},
    {"a bad pair before a bad reference", "ZZ$Q", 8, SCRIPT_ARG_NOT_PAIRS, "key is not whole hexadecimal pairs"},
    {"a bad reference before a bad pair", "$Q[0:1]ZZ", 8, SCRIPT_ARG_REFERENCE, "unknown value Q"},
    {"no word left", "  ", 8, SCRIPT_ARG_MISSING, "key is missing"},
};
// clang-format on

} // namespace

TEST(ScriptWords, SplitAtBlanks) {
    const char *at = " ENC\t$K  MAC 00 ";
    std::vector<std::string> words;
    int length = 0;
    for (const char *word; word = script_word_next(&at, &length), length > 0;)
        words.push_back(std::string(word, (size_t)length));
    EXPECT_EQ(words, (std::vector<std::string>{"ENC", "$K", "MAC", "00"}));
    EXPECT_EQ(script_words_count(" ENC\t$K  MAC 00 "), 4);
    EXPECT_EQ(script_words_count(" \t "), 0);
    EXPECT_EQ(script_words_count("A\vB\fC\rD"), 1); /* only blanks and tabs part words */
    static const ScriptName names[] = {{"VISA2", 1}, {"EMV", 2}};
    EXPECT_EQ(script_word_find("EMV", 3, names, 2), 2);
    EXPECT_EQ(script_word_find("EMVX", 3, names, 2), 2); /* the length given counts */
    EXPECT_EQ(script_word_find("emv", 3, names, 2), -1);
    EXPECT_EQ(script_word_find("EM", 2, names, 2), -1);
}

TEST(ScriptWords, ByteArguments) {
    WordsValues values;
    for (const BytesRow &row : bytes_rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> room(row.capacity + 1, 0xA5); /* a canary past the room */
        char message[SCRIPT_VALUE_MESSAGE_SIZE] = "";
        ScriptArgs args;
        ScriptArg arg;
        script_args_begin(&args, &values.values, row.text, message, sizeof message);

        int status = script_args_bytes(&args, "key", room.data(), row.capacity, &arg);
        EXPECT_EQ(status, row.status) << message;
        EXPECT_EQ(room[row.capacity], 0xA5) << "written past the room";
        if (row.status != SCRIPT_ARG_OK) {
            EXPECT_EQ(std::string(message), row.want);
            continue;
        }
        EXPECT_EQ(hex_of(arg.bytes, arg.count), row.want);
        if (row.in_k >= 0)
            EXPECT_EQ(arg.bytes, values.bytes_of("K") + row.in_k);
        else
            EXPECT_EQ(arg.bytes, room.data());
        EXPECT_EQ(arg.written, row.in_k >= 0 ? 0u : arg.count) << "what the caller must wipe";
        EXPECT_EQ(script_args_word(&args, &status), nullptr) << "the word was taken";
    }
}

TEST(ScriptWords, Numbers) {
    WordsValues values;
    const struct {
        const char *text;
        int status;
        long value;
        const char *reason;
    } rows[] = {
        {"16", SCRIPT_ARG_OK, 16, ""},
        {"$B", SCRIPT_ARG_OK, 16, ""},                /* high byte first */
        {"$#K", SCRIPT_ARG_OK, 4, ""},                /* a length is a number too */
        {"99999999999", SCRIPT_ARG_OK, 99999999, ""}, /* stops growing past the limit */
        {"12a", SCRIPT_ARG_NOT_NUMBER, 0, "COUNT is not a number"},
        {"-1", SCRIPT_ARG_NOT_NUMBER, 0, "COUNT is not a number"},
        {"$Q", SCRIPT_ARG_REFERENCE, 0, "unknown value Q"},
        {"", SCRIPT_ARG_MISSING, 0, "COUNT is missing"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        char message[SCRIPT_VALUE_MESSAGE_SIZE] = "";
        ScriptArgs args;
        long value = -1;
        script_args_begin(&args, &values.values, row.text, message, sizeof message);
        EXPECT_EQ(script_args_number(&args, "COUNT", &value), row.status);
        if (row.status == SCRIPT_ARG_OK)
            EXPECT_EQ(value, row.value);
        else
            EXPECT_EQ(std::string(message), row.reason);
    }
}
