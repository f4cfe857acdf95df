/*
 * script_check_fuzz.cpp: the pattern matcher against a reference written
 * the other way round: a table over (pattern character, response digit)
 * filled from the end, where a star may skip any even number of digits.
 * Input: a response length byte, the response, then the pattern text.
 */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "script/script_check.h"

static int reference(const std::string &p, const std::string &hex) {
    size_t n = p.size(), h = hex.size(), digits = 0, items = 0;
    for (char c : p) {
        bool digit = isxdigit((unsigned char)c) || c == 'X' || c == 'x';
        if ((c == '*' && digits % 2) || (!digit && c != '*' && c != ' ' && c != '\t'))
            return -1;
        items += c != ' ' && c != '\t';
        digits += digit;
    }
    if (items == 0 || digits % 2)
        return -1;
    std::vector<std::vector<char>> ok(n + 1, std::vector<char>(h + 1, 0));
    ok[n][h] = 1;
    for (size_t i = n; i-- > 0;) {
        for (size_t d = 0; d <= h; d++) {
            char c = p[i];
            if (c == ' ' || c == '\t')
                ok[i][d] = ok[i + 1][d];
            else if (c == '*')
                for (size_t skip = d; skip <= h && !ok[i][d]; skip += 2)
                    ok[i][d] = ok[i + 1][skip];
            else
                ok[i][d] =
                    d < h && (c == 'X' || c == 'x' || toupper(c) == hex[d]) && ok[i + 1][d + 1];
        }
    }
    return ok[0][0];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 512)
        return 0;
    size_t count = data[0] % 32 < size - 1 ? data[0] % 32 : size - 1;
    std::string pattern((const char *)data + 1 + count, size - 1 - count), hex;
    for (size_t i = 0; i < count; i++) {
        hex += "0123456789ABCDEF"[data[1 + i] >> 4];
        hex += "0123456789ABCDEF"[data[1 + i] & 15];
    }
    if (script_pattern_match(pattern.data(), (int)pattern.size(), data + 1, (int)count) !=
        reference(pattern, hex))
        abort();
    ScriptCheck check;
    char message[SCRIPT_CHECK_MESSAGE_SIZE];
    std::string line = "/EXPECT " + pattern;
    if (script_check_parse(line.c_str(), &check))
        script_check_judge(&check, data + 1, (int)count, 0, message, sizeof message);
    return 0;
}
