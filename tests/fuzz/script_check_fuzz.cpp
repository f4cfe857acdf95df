/*
 * script_check_fuzz.cpp: the pattern matcher against a reference written
 * the other way round: recursion over the pattern's characters and the
 * response's hexadecimal digits, a star trying every whole-byte split,
 * remembered per position.
 * Input: a response length byte, the response, then the pattern text.
 */
#include <ctype.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "script/script_check.h"

namespace {

int reference_step(const std::string &p, size_t i, const std::string &hex, size_t d,
                   std::vector<int> &memo);

/* Does pattern p from character i take hex from digit d? Results are kept
   in memo (-2: not known yet), so stars cost no more than a table. */
int reference(const std::string &p, size_t i, const std::string &hex, size_t d,
              std::vector<int> &memo) {
    if (d > hex.size())
        return 0;
    int &known = memo[i * (hex.size() + 2) + d];
    if (known != -2)
        return known;
    known = reference_step(p, i, hex, d, memo);
    return known;
}

int reference_step(const std::string &p, size_t i, const std::string &hex, size_t d,
                   std::vector<int> &memo) {
    while (i < p.size() && (p[i] == ' ' || p[i] == '\t'))
        i++;
    if (i == p.size())
        return d == hex.size() ? 1 : 0;
    char c = p[i];
    if (c == '*') {
        if (d % 2)
            return -1;
        int found = 0;
        for (size_t skip = d; skip <= hex.size() && !found; skip += 2) {
            int r = reference(p, i + 1, hex, skip, memo);
            if (r < 0)
                return -1;
            found = r;
        }
        return found;
    }
    if (!isxdigit((unsigned char)c) && c != 'X' && c != 'x')
        return -1;
    int rest = reference(p, i + 1, hex, d + 1, memo);
    if (rest < 0)
        return -1;
    bool same = d < hex.size() && (c == 'X' || c == 'x' || toupper((unsigned char)c) == hex[d]);
    return same ? rest : 0;
}

/* A pattern is readable when it has a digit or a star, an even number of
   digits, and every star stands between bytes. */
bool readable(const std::string &p) {
    int digits = 0, items = 0;
    for (char c : p) {
        if (c == ' ' || c == '\t')
            continue;
        if (c == '*' && digits % 2)
            return false;
        if (c != '*' && !isxdigit((unsigned char)c) && c != 'X' && c != 'x')
            return false;
        items++;
        digits += c != '*';
    }
    return items > 0 && digits % 2 == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > 512)
        return 0;
    size_t count = data[0] % 32 < size - 1 ? data[0] % 32 : size - 1;
    const unsigned char *response = data + 1;
    std::string pattern((const char *)data + 1 + count, size - 1 - count);
    std::string hex;
    for (size_t i = 0; i < count; i++) {
        hex += "0123456789ABCDEF"[response[i] >> 4];
        hex += "0123456789ABCDEF"[response[i] & 15];
    }
    int got = script_pattern_match(pattern.data(), (int)pattern.size(), response, (int)count);
    std::vector<int> memo((pattern.size() + 1) * (hex.size() + 2), -2);
    int want = readable(pattern) ? reference(pattern, 0, hex, 0, memo) : -1;
    if (got != want)
        abort();
    std::string line = "/EXPECT " + pattern;
    ScriptCheck check;
    char message[SCRIPT_CHECK_MESSAGE_SIZE];
    if (script_check_parse(line.c_str(), &check))
        script_check_judge(&check, response, (int)count, 0, message, sizeof message);
    return 0;
}
