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
    Bytes send(const Bytes &command) {
        Bytes response;
        card_apdu_answer(card, command.data(), command.size(), response);
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

} // namespace
