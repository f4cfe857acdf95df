/*
 * testcard_sd_test.cpp: the security domain against published exchanges and
 * against a host side computed here from crypto/crypto.h alone (not from the
 * card's own channel code), so that one misreading of the protocols cannot
 * pass both.
 */
#include "tools/testcard/testcard.h"

#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

Bytes hex(const std::string &text) {
    Bytes bytes;
    EXPECT_TRUE(card_hex_parse(text, bytes)) << text;
    return bytes;
}

std::string text(const Bytes &bytes) {
    return card_hex(bytes.data(), bytes.size());
}

struct SdFixture : ::testing::Test {
    TestCard card;
    void SetUp() override {
        card.memory.assign(CARD_MEMORY_SIZE, 0);
    }
    bool follow_61 = false; /* fetch 61xx answers with GET RESPONSE, as a T=0 reader does */
    int get_responses = 0;
    Bytes send(const Bytes &command) {
        Bytes response;
        card_apdu_answer(card, command.data(), command.size(), response);
        while (follow_61 && response.size() == 2 && response[0] == 0x61) {
            Bytes get = {0x00, 0xC0, 0x00, 0x00, response[1]};
            card_apdu_answer(card, get.data(), get.size(), response);
            get_responses++;
        }
        return response;
    }
    std::string answer(const std::string &command) {
        return text(send(hex(command)));
    }
    std::string control(const std::string &line) {
        bool close = false;
        return card_control_line(card, line, close);
    }
    /* Control lines separated by ';', each answered "ok". */
    void setup(const std::string &lines) {
        std::stringstream in(lines);
        std::string line;
        while (std::getline(in, line, ';'))
            ASSERT_EQ(control(line), "ok\n") << line;
    }
};

/* ---- published exchanges, replayed on the card ---- */

/* An answer "*SW" is any data ending in SW (answers MACed with keys of the
   card's own content); otherwise the exact answer. */
struct Step {
    const char *command, *answer;
};
struct VectorCase {
    const char *what, *setup;
    Step steps[8];
};

const char select_isd[] = "00A4040008A000000151000000";
const char fci[] = "6F1184 08A000000151000000A5059F6502FFF09000";
const char pysim_keys[] = "keys 000102030405060708090a0b0c0d0e0f 101112131415161718191a1b1c1d1e1f "
                          "202122232425262728292a2b2c2d2e2f 30";
const char gp_keys[] = "keys F995D0A069335C7DF42E590317FFEA6D 58563362EC5A4541ABCD32B34B1EAE7D "
                       "0A02A6D687406DCFA09DC70B3EDB7E38 30;kdd 00000000000000000000";
const char recognition02[] = "6631732F06072A864886FC6B01600C060A2A864886FC6B02020301630906072A86"
                             "4886FC6B03640B06092A864886FC6B0402159000";
const char isd_entry[] = "E3134F08A0000001510000009F70010FC5039E00009000";
const char elf_entry[] = "E30E4F08F0564F524C414E459F7001019000";
const char apps_page[] = "E3144F09F0564F524C414E45019F700107C503000000"
                         "E3144F09F0564F524C414E45029F700107C5030000006310";

const VectorCase vector_cases[] = {
    {"pySim SCP02 level 01",
     "scp 02 15;kdd 00000000000000000000;seq 1;challenge 6B4524ABEE7C;"
     "keys 100102030405060708090a0b0c0d0e0f 101102030405060708090a0b0c0d0e0f "
     "102102030405060708090a0b0c0d0e0f 70",
     {{"805070000840A62C37FA6304F800",
       "00000000000000000000700200016B4524ABEE7CF32EA3838BC148F39000"},
      {"8482010010BA6961667737C5BCEBECE14C7D6A4376", "9000"},
      {"84F220020814DB34FA4341DCA8", "6A80"}, /* no search criteria, MAC good */
      {"84CA00660855ED7C5FF069512B00", recognition02},
      {"84F22002124F0212345C054F9F70C58FC1B380C4228AF8", "6A88"},
      {"84F280020A4F003B95F09317DE6A4E00", isd_entry}}},
    {"pySim SCP03 AES-128 level 11",
     "kdd 00000000000000000000;seq 2;challenge 3eb51047495b249f",
     {{"8050300008b13e5f938fc108c400",
       "000000000000000000003003703eb51047495b249f66c484c1d2ef19480000029000"},
      {"84821100107d5f5826a993ebc89eea24957fa0b3ce", "9000"},
      {"84e291000ebf3e035c015a558d036518a2829700", "6D00"},
      {"84f220020863a63f8959827fb2", "6A80"},
      {"84ca006608a0c6a4a74166f7ce00", "*9000"},
      {"84f22002124f0212345c054f9f70c52249b50272656536", "6A88"},
      {"84f280020a4f00e91443f6dce6b8ed00", "*9000"}}},
    {"pySim SCP03 AES-128 level 03",
     "kdd 00000000000000000000;seq 1;challenge 30760cd2c47c1dd3",
     {{"80503000088e1552d0513c60f300",
       "0000000000000000000030037030760cd2c47c1dd395065fe5ead8a9d70000019000"},
      {"8482030010fd4721a14d9b07003c451d2f8ae6bb21", "9000"},
      {"84e2910018ca9c00f6713d79bc8baa642bdff51c3f6a4082d3bd9ad26c00", "6D00"},
      {"84f2200208c9811b11f1264cf1", "6A80"},
      {"84ca006608e10ab60b3054798800", "*9000"},
      {"84f22002184e2908bdb48b2315a55482e9e936ca122d6ecfae7d17416e", "6A88"},
      {"84f28002180dd10a6b6193e5340b9e77d32d5a179cd710ac2773aefb2800", isd_entry}}},
    {"pySim SCP03 AES-128 level 33",
     "kdd 00000000000000000000;seq 3;challenge 3b1aca81e821f219",
     {{"8050300008fdf38259a1e0de4400",
       "000000000000000000003003703b1aca81e821f219081cdc01c26b372d0000039000"},
      {"84823300108c36f96bcc00724a4e13ad591d7da3f0", "9000"},
      {"84e2910018267a85dfe4a98fca6fb0527e0dfecce4914e40401433c87f00", "6D00"},
      {"84f2200208ac6a59024bed84cc", "6A80"},
      {"84ca006608409912ad8fb7aed000", "*9000"},
      {"84f22002185f3dafc3ac14c381536a488bf44e06d056df9d74dbd21e5a", "6A88"},
      {"84f280021865165105be3373347d0424d4400af2ac393f569ec779389e00", "*9000"}}},
    {"pySim SCP03 AES-192 level 33",
     "keys 000102030405060708090a0b0c0d0e0f0001020304050607 "
     "101112131415161718191a1b1c1d1e1f1011121314151617 "
     "202122232425262728292a2b2c2d2e2f2021222324252627 31;"
     "kdd 00000000000000000000;seq 2;challenge f6bb305a15bae1a6",
     {{"80503100089b3f2eef0e8c937400",
       "00000000000000000000310370f6bb305a15bae1a68f79fb08212fbed70000029000"},
      {"84823300109100bc22d58b45b86a26365ce39ff3cf", "9000"},
      {"84e29100188f7f946c84f70d17994bc6e8791251bb1bb1bf02cf8de58900", "6D00"},
      {"84f2200208d5d97754b6b3d2ba", "6A80"},
      {"84ca006608516c82b8e30adbeb00", "*9000"},
      {"84f2200218cc247f4761e6944277a4e0d6e32e44025b1e31537e2fc668", "6A88"}}},
    {"pySim SCP03 AES-256 level 03",
     "keys 000102030405060708090a0b0c0d0e0f000102030405060708090a0b0c0d0e0f "
     "101112131415161718191a1b1c1d1e1f101112131415161718191a1b1c1d1e1f "
     "202122232425262728292a2b2c2d2e2f202122232425262728292a2b2c2d2e2f 32;"
     "kdd 00000000000000000000;seq 1;challenge 8682cd81bbd8919f",
     {{"8050320008c6066990fc426e1d00",
       "000000000000000000003203708682cd81bbd8919f2de3f2664581f1180000019000"},
      {"848203001077c493b632edadaf865a1e64acc07ce9", "9000"},
      {"84e29100183ddaa60594963befaada3525b492ede23c2ab2c1ce3afe4400", "6D00"},
      {"84f2200208480ddc8e419da38d", "6A80"},
      {"84ca0066083e9d6a6c0b2d732000", "*9000"},
      {"84f22002183ebfef2da8b04af2a85f491f299b76973df76ff08a4031be", "6A88"},
      {"84f2800218783fff80990f5585b1055010ea95094a26e4a8f1ef4b18e100", isd_entry}}},
    /* The GP library's card challenges are pseudo-random: the card makes
       them itself from the sequence counter and the selected AID. */
    {"GP library SCP03 pseudo-random challenge, level 03, GET STATUS",
     "seq 0x85",
     {{"8050000008DA2390D378D94B0A00",
       "00000000000000000000300370A7EFE2BFDB3A27A6EAE3FF0EA0D175240000859000"},
      {"8482030010953EEC5B4A81BF393ADC2ADFD638827A", "9000"},
      {"84F2200218705C4D16C7BAC5496AEE0ED9963222455472F3CFAC97BCCA00", elf_entry},
      {"84F240021834AF0FEDDAE7C07308600587E1B1E6EC87811520D9A6AAAD00", apps_page},
      {"84F28002188D6CFE9EB359EACB9594D8EC161E45C10ED0138E34A10BF300", isd_entry},
      {"84F21002183D98B6DE9CBF3905EAE4FAF5E141C58DAB7013D1076745C700",
       "E3244F08F0564F524C414E459F7001018409F0564F524C414E45418409F0564F524C414E45429000"}}},
    {"GP library SCP03 pseudo-random challenge, DELETE",
     "seq 0x15",
     {{"8050000008B2BDE1A2DC66BD5600",
       "00000000000000000000300370C40932A6FEFEAEB2E127185170F45FCA0000159000"},
      {"848203001059D54D932423D29F6313C970875F8C2F", "9000"},
      {"84E400801829F06AEC3180B3EFE91FF662310B945DE0D5FE66AD67A5B6", "6D00"}}},
    {"GP library SCP03 level 33 with the default keys (the card's defaults but KVN 00)",
     "keys 404142434445464748494A4B4C4D4E4F 00;challenge A5874C57119B976B",
     {{"80500000082C8130E574247B1B00",
       "00010203040506070809000370A5874C57119B976BF94879E36F29E0390000019000"},
      {"8482330010A75F1CD48F3B93DFA57E690937921F92", "9000"},
      {"84400000B80422E602DD973125102DDE05875CA115C04D811A40593DB9D9480927CC9A249BD118FB6C67"
       "4A86BF70D0CD898153A438DAC4CD302B74876D718481FCDB9D39944453BEBD28832300C99FB8035D2DFF3E"
       "3CB3F5DAD568330127929207A179226EB5C6C52341A297CB2C8F25E481F1CE6EF6EADD2410E70EB268AF48"
       "D29CB20CFCB8448DE83235ADA96A5EEED379C0701924707DA111DBB9039ACF8E19F1CE62AA4EF26D7C871E"
       "842ED815245F7F2D9A9A87D9BDA54B188DCB",
       "6D00"},
      {"84400000B803C6D93C9A2EBE310E2215CEAC64C9CB8A03A89657272AE001E398FB7A7F42E02210672D09"
       "27DBE2BF6F80AA322D948C2743EFBA75EC51FD9BC5E6B4306371916CC50B0F341177FB99091F560A37C88D"
       "1A387443792E128A3A04118D0EA9F8EC989012FE4E097440411852373B4470851AC573A0B15262E506B34F"
       "771DCC53A24E91FAD37FE67454FAAFEFCC3E2F7141DCD7174D88933629E632C1CFDD5D1D30017D0CA14FE3"
       "2A022F064C93EB4769F5A497BE036C5A563F",
       "6D00"}}},
    {"GP library SCP03 AES-192, i=10",
     "scp 03 10;keys DE2A3629CBC24E8D8869E82C8B4C0D874D88166B6F8A1C12 02;"
     "kdd 00008301A8186727A822;seq 0x12",
     {{"80500000084157115CAD7D2FE700",
       "00008301A8186727A822020310726B1E22EED4F4BBAB21001BFD4B6F020000129000"},
      {"84820300109B126D1B1557297F3C06766CA9ACBD27", "9000"},
      {"84F2200218110C222888859059700E5D42AD65F41299B0BFFC03BF79A800", elf_entry}}},
};

TEST_F(SdFixture, PublishedExchanges) {
    for (const VectorCase &c : vector_cases) {
        control("reset");
        setup(c.setup);
        if (std::string(c.what).find("GP library SCP03 pseudo") == 0)
            setup(gp_keys);
        if (std::string(c.what).find("pySim SCP03 AES-128") == 0)
            setup(pysim_keys);
        EXPECT_EQ(answer(select_isd), text(hex(fci))) << c.what;
        for (const Step &step : c.steps) {
            if (!step.command)
                break;
            std::string got = answer(step.command),
                        want = text(hex(step.answer + (*step.answer == '*')));
            if (*step.answer == '*')
                EXPECT_TRUE(got.size() > want.size() && got.compare(got.size() - 4, 4, want) == 0)
                    << c.what << ": " << step.command << " -> " << got;
            else
                EXPECT_EQ(got, want) << c.what << ": " << step.command;
        }
    }
}

/* ---- the host's side, computed here ---- */

Bytes run_mac(int mac, const Bytes &key, const Bytes &iv, const Bytes &data) {
    Bytes out(CRYPTO_BLOCK_MAX);
    size_t n = 0;
    EXPECT_EQ(crypto_mac(mac, key.data(), key.size(), iv.empty() ? nullptr : iv.data(), iv.size(),
                         data.data(), data.size(), out.data(), out.size(), &n, nullptr, 0),
              CRYPTO_OK);
    out.resize(n);
    return out;
}

Bytes run_cipher(bool decrypt, int cipher, const Bytes &key, const Bytes &iv, const Bytes &data) {
    Bytes out(data.size());
    auto run = decrypt ? crypto_decrypt : crypto_encrypt;
    EXPECT_EQ(run(cipher, key.data(), key.size(), iv.empty() ? nullptr : iv.data(), iv.size(),
                  data.data(), data.size(), out.data(), out.size(), nullptr, 0),
              CRYPTO_OK);
    return out;
}

Bytes padded(size_t block, Bytes data) {
    data.push_back(0x80);
    while (data.size() % block)
        data.push_back(0x00);
    return data;
}

Bytes cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes slice(const Bytes &b, size_t from, size_t n) {
    return Bytes(b.begin() + (long)from, b.begin() + (long)(from + n));
}

/* SP 800-108 counter mode over CMAC-AES, as SCP03 lays out its input. */
Bytes kdf(const Bytes &key, uint8_t constant, size_t bits, const Bytes &context) {
    Bytes out;
    for (uint8_t i = 1; out.size() * 8 < bits; i++) {
        Bytes input(12, 0);
        input[11] = constant;
        input = cat(input, {0x00, (uint8_t)(bits >> 8), (uint8_t)bits, i});
        out = cat(out, run_mac(CRYPTO_MAC_CMAC_AES, key, {}, cat(input, context)));
    }
    out.resize(bits / 8);
    return out;
}

struct Host {
    int scp = 3, level = 0;
    size_t size = 8;
    Bytes enc, mac, dek, s_enc, s_mac, s_rmac, s_dek, chain;
    uint32_t commands = 0; /* SCP03's encryption counter */

    Bytes counter_block(uint8_t first) const {
        Bytes block(16, 0);
        block[0] = first;
        for (int k = 0; k < 4; k++)
            block[15 - k] = (uint8_t)(commands >> (8 * k));
        return block;
    }
    Bytes scp02_key(const Bytes &key, uint16_t constant, const Bytes &sequence) const {
        Bytes input = cat({(uint8_t)(constant >> 8), (uint8_t)constant}, sequence);
        input.resize(16, 0);
        return run_cipher(false, CRYPTO_3DES_CBC, key, {}, input);
    }
    /* INITIALIZE UPDATE and EXTERNAL AUTHENTICATE; the status word of the
       latter, "card cryptogram" when the card's does not check out. */
    std::string open(SdFixture &f, int lvl, const Bytes &host_challenge, uint8_t kvn = 0,
                     bool spoil = false) {
        size = scp == 2 ? 8 : host_challenge.size();
        Bytes init = cat({0x80, 0x50, kvn, 0x00, (uint8_t)host_challenge.size()}, host_challenge);
        Bytes answer = f.send(cat(init, {0x00}));
        if (answer.size() < 28 || text(slice(answer, answer.size() - 2, 2)) != "9000")
            return text(answer);
        Bytes card_challenge, card_cryptogram, expected, host;
        if (scp == 2) {
            Bytes sequence = slice(answer, 12, 2);
            card_challenge = slice(answer, 14, 6);
            card_cryptogram = slice(answer, 20, 8);
            s_enc = scp02_key(enc, 0x0182, sequence);
            s_mac = scp02_key(mac, 0x0101, sequence);
            s_dek = scp02_key(dek, 0x0181, sequence);
            Bytes a = cat(cat(host_challenge, sequence), card_challenge);
            Bytes b = cat(cat(sequence, card_challenge), host_challenge);
            expected = run_mac(CRYPTO_MAC_CBC_3DES, s_enc, {}, padded(8, a));
            host = run_mac(CRYPTO_MAC_CBC_3DES, s_enc, {}, padded(8, b));
            chain.clear();
        } else {
            card_challenge = slice(answer, 13, size);
            card_cryptogram = slice(answer, 13 + size, size);
            Bytes context = cat(host_challenge, card_challenge);
            s_enc = kdf(enc, 0x04, enc.size() * 8, context);
            s_mac = kdf(mac, 0x06, mac.size() * 8, context);
            s_rmac = kdf(mac, 0x07, mac.size() * 8, context);
            s_dek = dek;
            expected = kdf(s_mac, 0x00, size * 8, context);
            host = kdf(s_mac, 0x01, size * 8, context);
            chain.assign(16, 0);
        }
        if (card_cryptogram != expected)
            return "card cryptogram";
        if (spoil)
            host[0] ^= 1;
        level = 0;
        commands = 0;
        std::string sw = text(f.send(wrap({0x84, 0x82, (uint8_t)lvl, 0x00}, host, -1)));
        level = lvl;
        return sw;
    }
    /* The command as the channel sends it; le -1 for none. */
    Bytes wrap(const Bytes &header, Bytes data, int le) {
        uint8_t cla = header[0] | 0x04;
        Bytes head = {cla, header[1], header[2], header[3]};
        Bytes tag;
        if (scp == 2) {
            Bytes icv = chain.empty()
                            ? Bytes(8, 0)
                            : run_cipher(false, CRYPTO_DES_ECB, slice(s_mac, 0, 8), {}, chain);
            Bytes input = cat(head, lc_field(data.size() + 8, false));
            tag = chain = run_mac(CRYPTO_MAC_RETAIL, s_mac, icv, padded(8, cat(input, data)));
            if ((level & 0x02) && !data.empty())
                data = run_cipher(false, CRYPTO_3DES_CBC, s_enc, {}, padded(8, data));
        } else {
            if (level)
                commands++;
            if ((level & 0x02) && !data.empty())
                data =
                    run_cipher(false, CRYPTO_AES_CBC, s_enc, counter_icv(0x00), padded(16, data));
            bool extended = data.size() + size > 255 || le > 256;
            Bytes input = cat(cat(chain, head), lc_field(data.size() + size, extended));
            chain = run_mac(CRYPTO_MAC_CMAC_AES, s_mac, {}, cat(input, data));
            tag = slice(chain, 0, size);
        }
        bool extended = data.size() + tag.size() > 255 || le > 256;
        Bytes out = cat(cat(head, lc_field(data.size() + tag.size(), extended)), cat(data, tag));
        if (le >= 0 && extended)
            out = cat(out, {(uint8_t)(le >> 8), (uint8_t)le});
        else if (le >= 0)
            out.push_back((uint8_t)le);
        return out;
    }
    Bytes counter_icv(uint8_t first) const {
        return run_cipher(false, CRYPTO_AES_ECB, s_enc, {}, counter_block(first));
    }
    static Bytes lc_field(size_t lc, bool extended) {
        if (!extended && lc <= 255)
            return {(uint8_t)lc};
        return {0x00, (uint8_t)(lc >> 8), (uint8_t)lc};
    }
    /* The plain answer, or "R-MAC" when its MAC does not check out. */
    std::string unwrap(const Bytes &answer) const {
        if (scp == 2 || answer.size() < 2)
            return card_hex(answer.data(), answer.size());
        Bytes sw = slice(answer, answer.size() - 2, 2), data = slice(answer, 0, answer.size() - 2);
        bool macked = (sw[0] == 0x90 && sw[1] == 0) || sw[0] == 0x62 || sw[0] == 0x63;
        if ((level & 0x10) && macked) {
            if (data.size() < size)
                return "R-MAC";
            Bytes tag = slice(data, data.size() - size, size);
            data.resize(data.size() - size);
            Bytes full = run_mac(CRYPTO_MAC_CMAC_AES, s_rmac, {}, cat(cat(chain, data), sw));
            if (slice(full, 0, size) != tag)
                return "R-MAC";
        }
        if ((level & 0x20) && !data.empty()) {
            data = run_cipher(true, CRYPTO_AES_CBC, s_enc, counter_icv(0x80), data);
            size_t n = data.size();
            while (n > 0 && data[n - 1] == 0x00)
                n--;
            if (n == 0 || data[n - 1] != 0x80)
                return "R-ENC padding";
            data.resize(n - 1);
        }
        return card_hex(data.data(), data.size()) + card_hex(sw.data(), 2);
    }
};

Bytes pattern(size_t n, uint8_t seed) {
    Bytes data(n);
    for (size_t i = 0; i < n; i++)
        data[i] = (uint8_t)(i * 13 + seed);
    return data;
}

std::string sw_hex(int sw) {
    return text({(uint8_t)(sw >> 8), (uint8_t)sw});
}

/* One channel per row: open it, write `n` bytes, read them back, ask for
   the 80 F0 pattern of n bytes, all through the channel. */
struct ChannelCase {
    const char *what, *setup;
    int scp, level;
    const char *key;          /* one key for all three */
    size_t host_challenge, n; /* 16: S16 */
};
const ChannelCase channel_cases[] = {
    {"SCP02 level 01", "scp 02 15", 2, 0x01, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP02 level 03", "scp 02 15", 2, 0x03, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP02 i=55 level 03, extended", "scp 02 55", 2, 0x03, "00112233445566778899AABBCCDDEEFF", 8,
     300},
    {"SCP03 level 01", "", 3, 0x01, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP03 level 03", "", 3, 0x03, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP03 level 11", "", 3, 0x11, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP03 level 13", "", 3, 0x13, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP03 level 33", "", 3, 0x33, "404142434445464748494A4B4C4D4E4F", 8, 32},
    {"SCP03 level 33, extended both ways", "", 3, 0x33, "404142434445464748494A4B4C4D4E4F", 8, 300},
    {"SCP03 random challenge, AES-192", "scp 03 60", 3, 0x33,
     "000102030405060708090A0B0C0D0E0F1011121314151617", 8, 32},
    {"SCP03 S16, AES-256, level 33", "scp 03 71", 3, 0x33,
     "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", 16, 32},
    {"SCP03 S16, level 13, extended", "scp 03 31", 3, 0x13, "404142434445464748494A4B4C4D4E4F", 16,
     400},
};

TEST_F(SdFixture, ChannelsAtEachLevel) {
    for (const ChannelCase &c : channel_cases) {
        control("reset");
        setup(std::string("keys ") + c.key + (*c.setup ? ";" : "") + c.setup);
        Host host;
        host.scp = c.scp;
        host.enc = host.mac = host.dek = hex(c.key);
        answer(select_isd);
        ASSERT_EQ(host.open(*this, c.level, pattern(c.host_challenge, 7)), "9000") << c.what;
        EXPECT_EQ(control("scp").substr(control("scp").find("channel=")),
                  "channel=" + sw_hex(c.level).substr(2) + "\n")
            << c.what;
        Bytes data = pattern(c.n, 1);
        Bytes write = host.wrap({0x00, 0xD6, 0x01, 0x00}, data, -1);
        EXPECT_EQ(write.size() > 260, c.n > 255) << c.what; /* extended when it must */
        EXPECT_EQ(host.unwrap(send(write)), "9000") << c.what;
        EXPECT_EQ(control("mem 256 " + std::to_string(c.n)), "ok " + text(data) + "\n") << c.what;
        EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x01, 0x00}, {}, (int)c.n))),
                  text(data) + "9000")
            << c.what;
        Bytes counted;
        for (size_t i = 0; i < c.n; i++)
            counted.push_back((uint8_t)i);
        uint8_t p1 = (uint8_t)((c.n + 2) >> 8), p2 = (uint8_t)(c.n + 2);
        EXPECT_EQ(host.unwrap(send(host.wrap({0x80, 0xF0, p1, p2}, {}, -1))),
                  text(counted) + "9000")
            << c.what;
    }
}

/* What ends a channel, and what the card refuses. Each row starts from a
   channel at level 33 (SCP03) or 03 (SCP02) opened as `setup` says, unless
   it opens its own; `act` returns what the row checks. */
struct FailureCase {
    const char *what, *setup;
    bool open_first; /* open a channel before act */
    std::string (*act)(SdFixture &f, Host &h);
    const char *expected;
};

std::string read_two(SdFixture &f, Host &h) {
    return h.unwrap(f.send(h.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2)));
}

const FailureCase failure_cases[] = {
    {"wrong host cryptogram: 69 82, channel closed", "", false,
     [](SdFixture &f, Host &h) {
         std::string sw = h.open(f, 0x33, pattern(8, 3), 0, true);
         return sw + " " + read_two(f, h) + " " +
                f.control("scp").substr(f.control("scp").find("channel="));
     },
     "6982 6982 channel=closed\n"},
    {"wrong C-MAC: 69 82, and the channel is gone", "", true,
     [](SdFixture &f, Host &h) {
         Bytes command = h.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2);
         command[command.size() - 2] ^= 0x01;
         return text(f.send(command)) + " " + read_two(f, h);
     },
     "6982 6982"},
    {"SCP02 wrong C-MAC", "scp 02 15", true,
     [](SdFixture &f, Host &h) {
         Bytes command = h.wrap({0x00, 0xD6, 0x00, 0x00}, {0x55}, -1);
         command[5] ^= 0x80; /* the encrypted data: the MAC over the plain data fails */
         return text(f.send(command)) + " " + read_two(f, h);
     },
     "6982 6982"},
    {"a command without secure messaging ends the channel", "", true,
     [](SdFixture &f, Host &h) { return f.answer("80F00004") + " " + read_two(f, h); },
     "00019000 6982"},
    {"SELECT ends the channel", "", true,
     [](SdFixture &f, Host &h) { return f.answer(select_isd).substr(0, 4) + " " + read_two(f, h); },
     "6F11 6982"},
    {"power off ends the channel", "", true,
     [](SdFixture &f, Host &h) {
         card_power_event(f.card);
         return read_two(f, h) + " " + f.answer("80CA006600");
     },
     "6982 6D00"},
    {"GET RESPONSE is transport: the channel stays", "", true,
     [](SdFixture &f, Host &h) { return f.answer("00C0000000") + " " + read_two(f, h); },
     "6985 00009000"},
    {"error answers carry no R-MAC", "", true,
     [](SdFixture &f, Host &h) {
         return h.unwrap(f.send(h.wrap({0x00, 0xB0, 0xFF, 0xFF}, {}, 2))) + " " + read_two(f, h);
     },
     "6B00 00009000"},
    {"GET STATUS pages: R-MAC over 63 10 and the next page", "", true,
     [](SdFixture &f, Host &h) {
         std::string first = h.unwrap(f.send(h.wrap({0x80, 0xF2, 0x40, 0x00}, {0x4F, 0x00}, 0)));
         std::string next = h.unwrap(f.send(h.wrap({0x80, 0xF2, 0x40, 0x01}, {0x4F, 0x00}, 0)));
         return first + " " + next;
     },
     "09F0564F524C414E45010700 09F0564F524C414E450207006310 09F0564F524C414E4503830 09000"},
    {"SCP02 refuses level 11", "scp 02 15", false,
     [](SdFixture &f, Host &h) { return h.open(f, 0x11, pattern(8, 3)); }, "6A86"},
    {"i without R-ENC refuses level 33", "scp 03 30", false,
     [](SdFixture &f, Host &h) { return h.open(f, 0x33, pattern(8, 3)); }, "6A86"},
    {"i without R-MAC refuses level 11", "scp 03 10", false,
     [](SdFixture &f, Host &h) { return h.open(f, 0x11, pattern(8, 3)); }, "6A86"},
    {"i without S16 refuses a 16-byte host challenge", "scp 03 70", false,
     [](SdFixture &f, Host &h) { return h.open(f, 0x33, pattern(16, 3)); }, "6700"},
    {"an unknown key version", "", false,
     [](SdFixture &f, Host &h) { return h.open(f, 0x33, pattern(8, 3), 0x31); }, "6A88"},
    {"EXTERNAL AUTHENTICATE without INITIALIZE UPDATE", "", false,
     [](SdFixture &f, Host &) { return f.answer("8482330010 0000000000000000 0000000000000000"); },
     "6985"},
    {"secure messaging without a channel, PUT KEY and GET STATUS in the clear", "", false,
     [](SdFixture &f, Host &) {
         return f.answer("84B00000080000000000000000") + " " + f.answer("80F24000024F00") + " " +
                f.answer("80D8000001") + " " + f.answer("80CA00C100");
     },
     "6982 6982 6982 C103000001 9000"},
    {"not selected: the card answers as before", "", false,
     [](SdFixture &f, Host &h) {
         f.answer("00A4040002A0B1");
         return h.open(f, 0x33, pattern(8, 3)) + " " + f.answer("80CA006600");
     },
     "6D00 6D00"},
};

TEST_F(SdFixture, ChannelFailures) {
    for (const FailureCase &c : failure_cases) {
        control("reset");
        if (*c.setup)
            setup(c.setup);
        Host host;
        host.scp = control("scp").find("scp=02") != std::string::npos ? 2 : 3;
        host.enc = host.mac = host.dek = hex("404142434445464748494A4B4C4D4E4F");
        answer(select_isd);
        std::string expected = c.expected;
        expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        if (c.open_first)
            ASSERT_EQ(host.open(*this, host.scp == 2 ? 0x03 : 0x33, pattern(8, 9)), "9000")
                << c.what;
        std::string got = c.act(*this, host);
        got.erase(std::remove(got.begin(), got.end(), ' '), got.end());
        EXPECT_EQ(got, expected) << c.what;
    }
}

/* PUT KEY through the channel: key blocks encrypted here (SCP02: 3DES-ECB
   under the session DEK; SCP03: AES-CBC under the static DEK), the KCVs the
   card answers checked, then a channel opened with the new keys. */
struct PutKeyCase {
    const char *what, *setup;
    uint8_t p1, p2, kvn;
    const char *keys[3]; /* the new ENC, MAC, DEK (null: left as they were) */
    bool length_first;   /* the block carries the plain length before the encrypted key */
    bool spoil_check;
    const char *sw;
};
const PutKeyCase put_key_cases[] = {
    {"SCP03 new AES-128 set",
     "",
     0x00,
     0x81,
     0x31,
     {"11111111111111111111111111111111", "22222222222222222222222222222222",
      "33333333333333333333333333333333"},
     true,
     false,
     "9000"},
    {"SCP03 new AES-256 set, blocks without the length byte",
     "",
     0x00,
     0x81,
     0x32,
     {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
      "202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F",
      "404142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F"},
     false,
     false,
     "9000"},
    {"SCP03 the set's MAC key replaced, new version",
     "",
     0x30,
     0x02,
     0x33,
     {nullptr, "55555555555555555555555555555555", nullptr},
     true,
     false,
     "9000"},
    {"SCP03 wrong KCV",
     "",
     0x00,
     0x81,
     0x31,
     {"11111111111111111111111111111111", "22222222222222222222222222222222",
      "33333333333333333333333333333333"},
     true,
     true,
     "6A80"},
    {"SCP03 a set to replace that is not there",
     "",
     0x2F,
     0x81,
     0x31,
     {"11111111111111111111111111111111", "22222222222222222222222222222222",
      "33333333333333333333333333333333"},
     true,
     false,
     "6A88"},
    {"SCP02 new DES set",
     "scp 02 15",
     0x00,
     0x81,
     0x02,
     {"0123456789ABCDEFFEDCBA9876543210", "00112233445566778899AABBCCDDEEFF",
      "8899AABBCCDDEEFF0011223344556677"},
     false,
     false,
     "9000"},
};

Bytes key_check(int scp, const Bytes &key) {
    if (scp == 2)
        return slice(run_cipher(false, CRYPTO_3DES_ECB, key, {}, Bytes(8, 0)), 0, 3);
    return slice(run_cipher(false, CRYPTO_AES_ECB, key, {}, Bytes(16, 1)), 0, 3);
}

TEST_F(SdFixture, PutKey) {
    const Bytes old_key = hex("404142434445464748494A4B4C4D4E4F");
    for (const PutKeyCase &c : put_key_cases) {
        control("reset");
        if (*c.setup)
            setup(c.setup);
        Host host;
        host.scp = *c.setup ? 2 : 3;
        host.enc = host.mac = host.dek = old_key;
        answer(select_isd);
        ASSERT_EQ(host.open(*this, host.scp == 2 ? 0x03 : 0x33, pattern(8, 5)), "9000") << c.what;
        Bytes data = {c.kvn}, checks = {c.kvn};
        Bytes *slots[] = {&host.enc, &host.mac, &host.dek};
        for (int k = 0; k < 3; k++) {
            if (!c.keys[k])
                continue;
            Bytes key = hex(c.keys[k]);
            Bytes sealed = host.scp == 2 ? run_cipher(false, CRYPTO_3DES_ECB, host.s_dek, {}, key)
                                         : run_cipher(false, CRYPTO_AES_CBC, host.s_dek, {}, key);
            if (c.length_first)
                sealed.insert(sealed.begin(), (uint8_t)key.size());
            Bytes check = key_check(host.scp, key);
            checks = cat(checks, check);
            check[0] ^= c.spoil_check ? 1 : 0;
            data = cat(data, {(uint8_t)(host.scp == 2 ? 0x80 : 0x88), (uint8_t)sealed.size()});
            data = cat(cat(data, sealed), cat({0x03}, check));
            *slots[k] = key;
        }
        std::string got = host.unwrap(send(host.wrap({0x80, 0xD8, c.p1, c.p2}, data, 0)));
        if (std::string(c.sw) != "9000") {
            EXPECT_EQ(got, c.sw) << c.what;
            continue;
        }
        EXPECT_EQ(got, text(checks) + "9000") << c.what;
        EXPECT_EQ(host.open(*this, 0x01, pattern(8, 6), c.kvn), "9000") << c.what;
        EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2))), "00009000")
            << c.what;
    }
}

/* A T=0 card: an answer with data waits for GET RESPONSE, which is no part
   of the channel; the channel goes on after it. */
TEST_F(SdFixture, T0AnswersWaitForGetResponse) {
    card.t0_mode = true;
    Host host;
    host.enc = host.mac = host.dek = hex("404142434445464748494A4B4C4D4E4F");
    EXPECT_EQ(answer(select_isd), "6113");
    EXPECT_EQ(answer("00C0000013"), text(hex(fci)));
    follow_61 = true;
    ASSERT_EQ(host.open(*this, 0x33, pattern(8, 4)), "9000");
    EXPECT_EQ(get_responses, 1); /* the INITIALIZE UPDATE answer */
    Bytes data = pattern(32, 2);
    EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xD6, 0x00, 0x00}, data, -1))), "9000");
    EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 32))), text(data) + "9000");
    EXPECT_EQ(get_responses, 3); /* the R-MAC makes the write's answer data too */
    EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2))), "020F9000");
}

/* Control lines in order, each with the start of its reply. */
struct ControlCase {
    const char *line, *reply;
};
const ControlCase control_cases[] = {
    {"scp", "ok scp=03 i=70 kvn=30 keylen=16 seq=000001 channel=closed"},
    {"scp 03 80", "error SCP03's i"},
    {"scp 03 40", "error SCP03's i"}, /* R-ENC without R-MAC */
    {"scp 02 33", "error usage"},
    {"scp 04 15", "error usage"},
    {"scp 03", "error usage"},
    {"keys 0102", "error keys are 16, 24 or 32 bytes"},
    {"keys 000102030405060708090A0B0C0D0E0F1011121314151617 7F", "ok"},
    {"scp 02 15", "error SCP02 takes 16-byte keys"},
    {"scp", "ok scp=03 i=70 kvn=7F keylen=24 seq=000001"},
    {"keys 404142434445464748494A4B4C4D4E4F 404142434445464748494A4B4C4D4E4F", "error the key "},
    {"keys 00112233445566778899AABBCCDDEEFF 404142434445464748494A4B4C4D4E4F "
     "0F0E0D0C0B0A09080706050403020100",
     "ok"},
    {"keys A B C D E", "error usage: keys"},
    {"scp 02 55", "ok"},
    {"seq 65536", "error usage: seq N (0 to 65535"},
    {"seq 0x1234", "ok"},
    {"scp", "ok scp=02 i=55 kvn=7F keylen=16 seq=1234 channel=closed"},
    {"kdd 0102", "error usage: kdd"},
    {"kdd 01 02 03 04 05 06 07 08 09 0A", "ok"},
    {"challenge 0102", "error usage: challenge"},
    {"challenge 010203040506", "ok"},
    {"challenge off", "ok"},
    {"reset", "ok"},
    {"scp", "ok scp=03 i=70 kvn=30 keylen=16 seq=000001 channel=closed"},
};

TEST_F(SdFixture, ControlLines) {
    for (const ControlCase &c : control_cases)
        EXPECT_EQ(control(c.line).rfind(c.reply, 0), 0u) << c.line << " -> " << control("scp");
    EXPECT_NE(control("help").find("scp [02 15|55 or 03 HH]"), std::string::npos);
}

} // namespace
