/*
 * card_text.cpp: hexadecimal and number text for the log and the control port.
 */
#include "tools/testcard/testcard.h"

#include <cerrno>
#include <cstdlib>

#include "app/text_form.h"

std::string card_hex(const uint8_t *bytes, size_t length) {
    std::string text(length * 2, '0');
    for (size_t i = 0; i < length; i++)
        hex_pair_put(&text[i * 2], bytes[i]);
    return text;
}

bool card_hex_parse(const std::string &text, std::vector<uint8_t> &bytes) {
    bytes.clear();
    int high = -1;
    for (char c : text) {
        if (c == ' ' && high < 0)
            continue;
        int digit = hex_digit_value(c);
        if (digit < 0)
            return false;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back((uint8_t)(high << 4 | digit));
            high = -1;
        }
    }
    return high < 0;
}

bool card_number_parse(const std::string &text, long max, long &value) {
    if (text.empty() || text.size() > 20)
        return false;
    const char *start = text.c_str();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        start += 2;
        base = 16;
    }
    if (hex_digit_value(*start) < 0)
        return false;
    char *end = nullptr;
    errno = 0;
    long parsed = strtol(start, &end, base);
    if (errno != 0 || end == start || *end != '\0' || parsed < 0 || parsed > max)
        return false;
    value = parsed;
    return true;
}
