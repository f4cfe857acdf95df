/*
 * testcard_sd_test.cpp: the security domain against published exchanges and
 * against the host side of testcard_sd_host.h.
 */
#include "tools/testcard/tests/testcard_sd_host.h"

namespace {

using namespace sdtest;

/* ---- published exchanges, replayed on the card ---- */

/* Commands the card does not know (STORE DATA, DELETE) still show that their
   MAC and data were good: 6D00, not 6982. An answer "*SW" is data MACed over
   the card's own content, then SW. */
struct Step {
    const char *command, *answer;
};
struct VectorCase {
    const char *what, *setup;
    Step steps[7];
};

const char fci[] = "6F1184 08A000000151000000A5059F6502FFF09000";
const char pysim_keys[] = "keys 000102030405060708090a0b0c0d0e0f 101112131415161718191a1b1c1d1e1f "
                          "202122232425262728292a2b2c2d2e2f 30";
const char gp_keys[] = "keys F995D0A069335C7DF42E590317FFEA6D 58563362EC5A4541ABCD32B34B1EAE7D "
                       "0A02A6D687406DCFA09DC70B3EDB7E38 30;kdd 00000000000000000000";
const char recognition02[] = "6631732F06072A864886FC6B01600C060A2A864886FC6B02020301630906072A86"
                             "4886FC6B03640B06092A864886FC6B0402159000";
const char isd_entry[] = "E3134F08A0000001510000009F70010FC5039E00009000";
const char elf_entry[] = "E31C4F08F0564F524C414E459F700101CE020100CC08A0000001510000009000";
const char apps_page[] = "E3284F09F0564F524C414E45019F700107C503000000C408F0564F524C414E45"
                         "CC08A000000151000000"
                         "E3284F09F0564F524C414E45029F700107C503000000C408F0564F524C414E45"
                         "CC08A0000001510000006310";

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
      {"84F21002183D98B6DE9CBF3905EAE4FAF5E141C58DAB7013D1076745C700", elf_entry}}},
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
        registry_add_applications(card);
        setup(c.setup);
        if (std::string(c.what).find("GP library SCP03 pseudo") == 0)
            setup(gp_keys);
        if (std::string(c.what).find("pySim SCP03 AES-128") == 0)
            setup(pysim_keys);
        EXPECT_EQ(answer(select_isd), text(hex(fci))) << c.what;
        for (const Step &step : c.steps) {
            if (!step.command)
                break;
            bool any = *step.answer == '*';
            std::string got = answer(step.command), want = text(hex(step.answer + any));
            if (any)
                want = got.size() > 4 ? got.substr(0, got.size() - 4) + want : "data and " + want;
            EXPECT_EQ(got, want) << c.what << ": " << step.command;
        }
    }
}

/* One channel per row: open it, write n bytes, read them back and ask for
   the 80 F0 pattern of n bytes, all through the channel. */
struct ChannelCase {
    const char *what, *setup, *key; /* one key for all three */
    int scp, level;
    size_t challenge, n; /* challenge 16: S16 */
};
// clang-format off
const ChannelCase channel_cases[] = {
    {"SCP02 level 03", "scp 02 15", key40, 2, 0x03, 8, 32},
    {"SCP02 i=55 level 03, extended", "scp 02 55", "00112233445566778899AABBCCDDEEFF", 2, 0x03, 8, 300},
    {"SCP03 level 01", "", key40, 3, 0x01, 8, 32},
    {"SCP03 level 11", "", key40, 3, 0x11, 8, 32},
    {"SCP03 level 13", "", key40, 3, 0x13, 8, 32},
    {"SCP03 level 33, extended both ways", "", key40, 3, 0x33, 8, 300},
    {"SCP03 random challenge, AES-192", "scp 03 60", "000102030405060708090A0B0C0D0E0F1011121314151617", 3, 0x33, 8, 32},
    {"SCP03 S16, AES-256, level 33", "scp 03 71", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F", 3, 0x33, 16, 32},
    {"SCP03 S16, level 13, extended", "scp 03 31", key40, 3, 0x13, 16, 400},
};
// clang-format on

TEST_F(SdFixture, ChannelsAtEachLevel) {
    for (const ChannelCase &c : channel_cases) {
        control("reset");
        setup(std::string("keys ") + c.key + (*c.setup ? ";" : "") + c.setup);
        Host host;
        host.scp = c.scp;
        host.enc = host.mac = host.dek = hex(c.key);
        answer(select_isd);
        ASSERT_EQ(host.open(*this, c.level, pattern(c.challenge, 7)), "9000") << c.what;
        std::string report = control("scp");
        EXPECT_EQ(report.substr(report.find("channel=") + 8), text({(uint8_t)c.level}) + "\n");
        Bytes data = pattern(c.n, 1), counted,
              write = host.wrap({0x00, 0xD6, 0x01, 0x00}, data, -1);
        EXPECT_EQ(write.size() > 260, c.n > 255) << c.what; /* extended when it must */
        EXPECT_EQ(host.unwrap(send(write)), "9000") << c.what;
        EXPECT_EQ(control("mem 256 " + std::to_string(c.n)), "ok " + text(data) + "\n") << c.what;
        EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x01, 0x00}, {}, (int)c.n))),
                  text(data) + "9000")
            << c.what;
        for (size_t i = 0; i < c.n; i++)
            counted.push_back((uint8_t)i);
        Bytes pattern_command = {0x80, 0xF0, (uint8_t)((c.n + 2) >> 8), (uint8_t)(c.n + 2)};
        EXPECT_EQ(host.unwrap(send(host.wrap(pattern_command, {}, -1))), text(counted) + "9000")
            << c.what;
    }
}

/* What ends a channel, and what the card refuses. open_first: the row starts
   in a channel at level 33 (SCP03) or 03 (SCP02). */
struct FailureCase {
    const char *what, *setup;
    bool open_first;
    std::string (*act)(SdFixture &f, Host &h);
    const char *expected;
};
using F = SdFixture;
// clang-format off
const FailureCase failure_cases[] = {
    {"wrong host cryptogram: 69 82, channel closed", "", false, [](F &f, Host &h) {
         std::string sw = h.open(f, 0x33, pattern(8, 3), 0, true), report = f.control("scp");
         return sw + read_two(f, h) + report.substr(report.find("channel=")); },
     "69826982channel=closed\n"},
    {"wrong C-MAC: 69 82, and the channel is gone", "", true, [](F &f, Host &h) {
         Bytes command = h.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 2);
         command[command.size() - 2] ^= 0x01;
         return text(f.send(command)) + read_two(f, h); },
     "69826982"},
    {"SCP02 data that does not match its C-MAC", "scp 02 15", true, [](F &f, Host &h) {
         Bytes command = h.wrap({0x00, 0xD6, 0x00, 0x00}, {0x55}, -1);
         command[5] ^= 0x80;
         return text(f.send(command)) + read_two(f, h); },
     "69826982"},
    {"a command without secure messaging ends the channel", "", true,
     [](F &f, Host &h) { return f.answer("80F00004") + read_two(f, h); }, "000190006982"},
    {"SELECT ends the channel", "", true,
     [](F &f, Host &h) { return f.answer(select_isd).substr(0, 4) + read_two(f, h); }, "6F116982"},
    {"power off ends the channel and deselects", "", true, [](F &f, Host &h) {
         card_power_event(f.card);
         return read_two(f, h) + f.answer("80CA006600"); }, "69826D00"},
    {"GET RESPONSE is transport: the channel stays", "", true,
     [](F &f, Host &h) { return f.answer("00C0000000") + read_two(f, h); }, "698500009000"},
    {"error answers carry no R-MAC", "", true, [](F &f, Host &h) {
         return h.unwrap(f.send(h.wrap({0x00, 0xB0, 0xFF, 0xFF}, {}, 2))) + read_two(f, h); },
     "6B0000009000"},
    {"GET STATUS pages: R-MAC over 63 10, then the next page", "", true, [](F &f, Host &h) {
         return h.unwrap(f.send(h.wrap({0x80, 0xF2, 0x40, 0x00}, {0x4F, 0x00}, 0))) +
                h.unwrap(f.send(h.wrap({0x80, 0xF2, 0x40, 0x01}, {0x4F, 0x00}, 0))); },
     "09F0564F524C414E4501070009F0564F524C414E450207006310" "09F0564F524C414E450383009000"},
    {"SCP02 refuses level 11", "scp 02 15", false,
     [](F &f, Host &h) { return h.open(f, 0x11, pattern(8, 3)); }, "6A86"},
    {"i without R-ENC refuses level 33", "scp 03 30", false,
     [](F &f, Host &h) { return h.open(f, 0x33, pattern(8, 3)); }, "6A86"},
    {"i without R-MAC refuses level 11", "scp 03 10", false,
     [](F &f, Host &h) { return h.open(f, 0x11, pattern(8, 3)); }, "6A86"},
    {"i without S16 refuses a 16-byte host challenge", "", false,
     [](F &f, Host &h) { return h.open(f, 0x33, pattern(16, 3)); }, "6700"},
    {"an unknown key version", "", false,
     [](F &f, Host &h) { return h.open(f, 0x33, pattern(8, 3), 0x31); }, "6A88"},
    {"EXTERNAL AUTHENTICATE without INITIALIZE UPDATE", "", false,
     [](F &f, Host &) { return f.answer("8482330010 0000000000000000 0000000000000000"); }, "6985"},
    {"secure messaging without a channel; GET STATUS, PUT KEY need one, GET DATA not", "", false,
     [](F &f, Host &) {
         return f.answer("84B00000080000000000000000") + f.answer("80F24000024F00") +
                f.answer("80D8000001") + f.answer("80CA00C100"); },
     "698269826982C1030000019000"},
    {"not selected: the card answers as before", "", false, [](F &f, Host &h) {
         f.answer("00A4040002A0B1");
         return h.open(f, 0x33, pattern(8, 3)) + f.answer("80CA006600"); }, "6D006D00"},
};
// clang-format on

TEST_F(SdFixture, ChannelFailures) {
    for (const FailureCase &c : failure_cases) {
        control("reset");
        registry_add_applications(card);
        if (*c.setup)
            setup(c.setup);
        Host host;
        host.scp = control("scp").find("scp=02") != std::string::npos ? 2 : 3;
        host.enc = host.mac = host.dek = hex(key40);
        answer(select_isd);
        if (c.open_first)
            ASSERT_EQ(host.open(*this, host.scp == 2 ? 0x03 : 0x33, pattern(8, 9)), "9000")
                << c.what;
        EXPECT_EQ(c.act(*this, host), c.expected) << c.what;
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
const char k1[] = "11111111111111111111111111111111", k2[] = "22222222222222222222222222222222",
           k3[] = "33333333333333333333333333333333";
// clang-format off
const PutKeyCase put_key_cases[] = {
    {"SCP03 new AES-128 set", "", 0x00, 0x81, 0x31, {k1, k2, k3}, true, false, "9000"},
    {"SCP03 new AES-256 set, blocks without the length byte", "", 0x00, 0x81, 0x32,
     {"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F",
      "202122232425262728292A2B2C2D2E2F303132333435363738393A3B3C3D3E3F",
      "404142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F"}, false, false, "9000"},
    {"SCP03 the set's MAC key replaced, new version", "", 0x30, 0x02, 0x33, {nullptr, k2, nullptr}, true, false, "9000"},
    {"SCP03 wrong KCV", "", 0x00, 0x81, 0x31, {k1, k2, k3}, true, true, "6A80"},
    {"SCP03 a set to replace that is not there", "", 0x2F, 0x81, 0x31, {k1, k2, k3}, true, false, "6A88"},
    {"SCP02 new DES set", "scp 02 15", 0x00, 0x81, 0x02, {k3, "0123456789ABCDEFFEDCBA9876543210", k1}, false, false, "9000"},
};
// clang-format on

TEST_F(SdFixture, PutKey) {
    for (const PutKeyCase &c : put_key_cases) {
        control("reset");
        setup(*c.setup ? c.setup : "seq 1");
        Host host;
        host.scp = *c.setup ? 2 : 3;
        host.enc = host.mac = host.dek = hex(key40);
        answer(select_isd);
        ASSERT_EQ(host.open(*this, host.scp == 2 ? 0x03 : 0x33, pattern(8, 5)), "9000") << c.what;
        Bytes data = {c.kvn}, checks = {c.kvn}, *slots[] = {&host.enc, &host.mac, &host.dek};
        for (int k = 0; k < 3; k++) {
            if (!c.keys[k])
                continue;
            Bytes key = hex(c.keys[k]), check, sealed;
            if (host.scp == 2) {
                sealed = run_cipher(false, CRYPTO_3DES_ECB, host.s_dek, {}, key);
                check = run_cipher(false, CRYPTO_3DES_ECB, key, {}, Bytes(8, 0));
            } else {
                sealed = run_cipher(false, CRYPTO_AES_CBC, host.s_dek, {}, key);
                check = run_cipher(false, CRYPTO_AES_ECB, key, {}, Bytes(16, 1));
            }
            if (c.length_first)
                sealed.insert(sealed.begin(), (uint8_t)key.size());
            check.resize(3);
            checks = cat(checks, check);
            check[0] ^= c.spoil_check ? 1 : 0;
            data = cat(data, {(uint8_t)(host.scp == 2 ? 0x80 : 0x88), (uint8_t)sealed.size()});
            data = cat(cat(data, sealed), cat({0x03}, check));
            *slots[k] = key;
        }
        std::string got = host.unwrap(send(host.wrap({0x80, 0xD8, c.p1, c.p2}, data, 0)));
        EXPECT_EQ(got, std::string(c.sw) == "9000" ? text(checks) + "9000" : c.sw) << c.what;
        if (std::string(c.sw) == "9000")
            EXPECT_EQ(host.open(*this, 0x01, pattern(8, 6), c.kvn) + read_two(*this, host),
                      "900000009000")
                << c.what;
    }
}

/* A T=0 card: an answer with data waits for GET RESPONSE, which is no part
   of the channel; the channel goes on after it. */
TEST_F(SdFixture, T0AnswersWaitForGetResponse) {
    card.t0_mode = true;
    Host host;
    host.enc = host.mac = host.dek = hex(key40);
    EXPECT_EQ(answer(select_isd), "6113");
    EXPECT_EQ(answer("00C0000013"), text(hex(fci)));
    follow_61 = true;
    ASSERT_EQ(host.open(*this, 0x33, pattern(8, 4)), "9000");
    Bytes data = pattern(32, 2);
    EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xD6, 0x00, 0x00}, data, -1))), "9000");
    EXPECT_EQ(host.unwrap(send(host.wrap({0x00, 0xB0, 0x00, 0x00}, {}, 32))), text(data) + "9000");
    EXPECT_EQ(get_responses, 3); /* INITIALIZE UPDATE, the write's R-MAC, the read */
    EXPECT_EQ(read_two(*this, host), "020F9000");
}

/* Control lines in order, each with the start of its reply. */
struct ControlCase {
    const char *line, *reply;
};
const ControlCase control_cases[] = {
    {"scp 03 80", "error SCP03's i"},
    {"keys 0102", "error keys are 16, 24 or 32 bytes"},
    {"keys 000102030405060708090A0B0C0D0E0F1011121314151617 7F", "ok"},
    {"scp 02 15", "error SCP02 takes 16-byte keys"},
    {"scp", "ok scp=03 i=70 kvn=7F keylen=24 seq=000001 channel=closed"},
    {"keys 404142434445464748494A4B4C4D4E4F", "ok"},
    {"scp 02 55", "ok"},
    {"seq 65536", "error usage: seq N (0 to 65535"},
    {"seq 0x1234", "ok"},
    {"scp", "ok scp=02 i=55 kvn=7F keylen=16 seq=1234 channel=closed"},
    {"reset", "ok"},
    {"scp", "ok scp=03 i=70 kvn=30 keylen=16 seq=000001 channel=closed"},
    {"scp 02 35", "error SCP02's i"}, /* R-MAC */
    {"scp 02 0D", "error SCP02's i"}, /* the ICV a MAC over the AID */
    {"scp 02 11", "error SCP02's i"}, /* implicit initiation */
    {"scp 02 14", "error SCP02's i"}, /* one base key */
    {"scp 02 57", "ok"},
    {"scp", "ok scp=02 i=57"},
    {"content", "ok 2\nisd A000000151000000 life=0F privileges=9E0000\nloadfile F0564F524C414E45"},
    {"content all", "error usage: content [clear]"},
    {"content clear", "ok"},
};

TEST_F(SdFixture, ControlLines) {
    for (const ControlCase &c : control_cases)
        EXPECT_EQ(control(c.line).rfind(c.reply, 0), 0u) << c.line << " -> " << control(c.line);
    EXPECT_NE(control("help").find("scp [02 15|55 or 03 HH]"), std::string::npos);
}

/* GET DATA answers in the clear and under a channel alike (the counter has
   gone up by the channel's INITIALIZE UPDATE). */
struct GetDataCase {
    const char *what;
    uint8_t p1, p2;
    const char *clear, *secured;
};
const char cplc[] = "9F7F2A F056 0001 F056 3275 0100 4123 00001234 0007 0000 0000 F056 4201 "
                    "0000 0000 00000000 F056 5012 00000001 9000";
const GetDataCase get_data_cases[] = {
    {"CPLC", 0x9F, 0x7F, cplc, cplc},
    {"sequence counter", 0x00, 0xC1, "C103000001 9000", "C103000002 9000"},
    {"an unknown tag", 0x9F, 0x7E, "6A88", "6A88"},
};

TEST_F(SdFixture, GetDataInTheClearAndUnderAChannel) {
    for (const GetDataCase &c : get_data_cases) {
        control("reset");
        answer(select_isd);
        EXPECT_EQ(text(send({0x80, 0xCA, c.p1, c.p2, 0x00})), text(hex(c.clear))) << c.what;
        Host host;
        host.enc = host.mac = host.dek = hex(key40);
        ASSERT_EQ(host.open(*this, 0x33, pattern(8, 2)), "9000") << c.what;
        EXPECT_EQ(host.unwrap(send(host.wrap({0x80, 0xCA, c.p1, c.p2}, {}, 0))),
                  text(hex(c.secured)))
            << c.what;
    }
}

} // namespace
