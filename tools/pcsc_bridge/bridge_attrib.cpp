/*
 * bridge_attrib.cpp: protocol attributes made up by the rig for cards that
 * ask for them. The virtual readers answer no SCardGetAttrib at all, so
 * without this a Windows program's code that prints the reader's protocol
 * settings never runs against a card. A card opts in through its ATR: when
 * its historical bytes start with the text "ATTR", the twelve attributes of
 * class 8 (current protocol settings) are answered with values worked out
 * from the ATR the way ISO/IEC 7816-3 defines them. Every other card gets
 * what pcscd answers, unchanged.
 *
 * One answer is deliberately longer than a 32-bit value (the extended block
 * waiting time, 8 bytes), so a program's handling of another length is
 * exercised too.
 */
#include "tools/pcsc_bridge/bridge.h"

#include <cstring>

namespace {

const uint32_t attribute_class = 0x80000;
const uint8_t opt_in[] = {'A', 'T', 'T', 'R'};

/* Clock rate conversion Fi, its highest clock in kHz, and the baud rate
   adjustment Di, by the 4-bit indices of TA1 (0: reserved). */
const uint32_t fi_table[16] = {372, 372, 558, 744,  1116, 1488, 1860, 0,
                               0,   512, 768, 1024, 1536, 2048, 0,    0};
const uint32_t fmax_table[16] = {4000, 5000, 6000, 8000,  12000, 16000, 20000, 0,
                                 0,    5000, 7500, 10000, 15000, 20000, 0,     0};
const uint32_t di_table[16] = {0, 1, 2, 4, 8, 16, 32, 64, 12, 20, 0, 0, 0, 0, 0, 0};

/* What the ATR says, with the standard's defaults for what it leaves out. */
struct AtrSettings {
    int fi = 1, di = 1;         /* TA1 indices */
    uint32_t n = 0;             /* TC1: extra guard time */
    uint32_t wi = 10;           /* TC2: T=0 waiting time integer */
    uint32_t ifsc = 32;         /* first TA for T=1 */
    uint32_t bwi = 4, cwi = 13; /* first TB for T=1 */
    uint32_t edc = 0;           /* first TC for T=1: 0 LRC, 1 CRC */
    bool opted_in = false;
};

/* Walks the interface bytes; false when the ATR is cut short. */
bool atr_settings_read(const uint8_t *atr, size_t length, AtrSettings &s) {
    if (length < 2)
        return false;
    size_t at = 2;
    int y = atr[1] >> 4, level = 1, protocol = 0;
    bool t1_seen = false;
    while (y) {
        uint8_t ta = 0, tb = 0, tc = 0, td = 0;
        bool has_ta = y & 1, has_tb = y & 2, has_tc = y & 4, has_td = y & 8;
        if (at + has_ta + has_tb + has_tc + has_td > length)
            return false;
        ta = has_ta ? atr[at++] : 0;
        tb = has_tb ? atr[at++] : 0;
        tc = has_tc ? atr[at++] : 0;
        td = has_td ? atr[at++] : 0;
        if (level == 1) {
            if (has_ta) {
                s.fi = ta >> 4;
                s.di = ta & 15;
            }
            if (has_tc)
                s.n = tc;
        } else if (level == 2 && has_tc && protocol == 0) {
            s.wi = tc;
        } else if (level > 2 && protocol == 1 && !t1_seen) {
            t1_seen = true;
            s.ifsc = has_ta ? ta : s.ifsc;
            s.bwi = has_tb ? (uint32_t)(tb >> 4) : s.bwi;
            s.cwi = has_tb ? (uint32_t)(tb & 15) : s.cwi;
            s.edc = has_tc ? (uint32_t)(tc & 1) : s.edc;
        }
        protocol = td & 15;
        y = has_td ? td >> 4 : 0;
        level++;
    }
    size_t historical = atr[1] & 15;
    if (at + historical > length)
        return false;
    s.opted_in = historical >= sizeof opt_in && memcmp(atr + at, opt_in, sizeof opt_in) == 0;
    return true;
}

void put_le(std::vector<uint8_t> &value, uint64_t number, size_t size) {
    value.clear();
    for (size_t i = 0; i < size; i++)
        value.push_back((uint8_t)(number >> (8 * i)));
}

} // namespace

bool bridge_rig_attribute(const uint8_t *atr, size_t length, uint32_t protocol, uint32_t attribute,
                          std::vector<uint8_t> &value) {
    AtrSettings s;
    if (!atr_settings_read(atr, length, s) || !s.opted_in)
        return false;
    uint32_t f = fi_table[s.fi], d = di_table[s.di];
    /* Block waiting time in elementary time units: 11 + 2^BWI x 960 x D x 372 / F */
    uint64_t bwt = f ? 11 + ((uint64_t)960 << s.bwi) * d * 372 / f : 0;
    uint32_t number;
    switch (attribute) {
        case attribute_class + 0x0201: number = protocol; break;
        case attribute_class + 0x0202: number = fmax_table[s.fi]; break;
        case attribute_class + 0x0203: number = f; break;
        case attribute_class + 0x0204: number = d; break;
        case attribute_class + 0x0205: number = s.n; break;
        case attribute_class + 0x0206: number = s.wi; break;
        case attribute_class + 0x0207: number = s.ifsc; break;
        case attribute_class + 0x0208: number = 254; break; /* the reader's own block size */
        case attribute_class + 0x0209: number = (uint32_t)bwt; break;
        case attribute_class + 0x020A: number = 11 + (1u << s.cwi); break;
        case attribute_class + 0x020B: number = s.edc; break;
        case attribute_class + 0x020C: put_le(value, bwt, 8); return true;
        default: return false;
    }
    put_le(value, number, 4);
    return true;
}
