/*
 * testcard_content_test.cpp: the card manager through an SCP03 channel at
 * level 33: loads in blocks (load files built here from a Header, an Applet
 * component and filler components), their refusals, installing, listing
 * (GET STATUS over the registry), selecting, using and deleting applications.
 */
#include "tools/testcard/tests/testcard_sd_host.h"

#include <algorithm>

namespace {

using namespace sdtest;

const Bytes package = hex("F00102030401"), module1 = hex("F0010203040101"),
            module2 = hex("F0010203040102"), app1 = hex("F0010203040201"),
            app2 = hex("F0010203040202"), app3 = hex("F0010203040203");

Bytes lv(const Bytes &value) {
    return cat({(uint8_t)value.size()}, value);
}

Bytes component(uint8_t tag, const Bytes &contents) {
    return cat({tag, (uint8_t)(contents.size() >> 8), (uint8_t)contents.size()}, contents);
}

/* Header (CAP format 2.2, package version 1.2), a Directory-sized filler,
   the Applet component naming the modules, a Method-sized filler. */
Bytes load_file(const Bytes &aid, const std::vector<Bytes> &modules, size_t filler,
                uint8_t magic = 0xDE) {
    Bytes header = cat({magic, 0xCA, 0xFF, 0xED, 0x02, 0x02, 0x04, 0x02, 0x01}, lv(aid));
    Bytes applets = {(uint8_t)modules.size()};
    for (const Bytes &m : modules)
        applets = cat(applets, cat(lv(m), {0x00, 0x10}));
    return cat(cat(component(0x01, header), component(0x02, pattern(filler / 2, 3))),
               cat(component(0x03, applets), component(0x07, pattern(filler - filler / 2, 5))));
}

/* C4 and the shortest BER-TLV length. */
Bytes c4_of(size_t n) {
    if (n < 0x80)
        return {0xC4, (uint8_t)n};
    if (n < 0x100)
        return {0xC4, 0x81, (uint8_t)n};
    if (n < 0x10000)
        return {0xC4, 0x82, (uint8_t)(n >> 8), (uint8_t)n};
    return {0xC4, 0x83, (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n};
}

Bytes digest(int hash, const Bytes &data) {
    Bytes out(CRYPTO_DIGEST_MAX);
    size_t n = 0;
    EXPECT_EQ(crypto_hash(hash, data.data(), data.size(), out.data(), out.size(), &n, nullptr, 0),
              CRYPTO_OK);
    out.resize(n);
    return out;
}

/* What INSTALL [for load] and the LOAD blocks carry. */
struct LoadPlan {
    Bytes aid = package, domain, hash;
    Bytes file = load_file(package, {module1, module2}, 600);
    Bytes head;          /* C4 and the length; empty: made from the file */
    size_t block = 200;  /* bytes a LOAD */
    int left_out = -1;   /* a block number not sent */
    uint8_t p1 = 0x00;   /* P1 of the blocks before the last */
    bool install = true; /* INSTALL [for load] first */
};

/* In order. 'S' through the channel, 'P' plain (channel byte included), 'O'
   the security domain selected and a channel opened again. */
struct StepCase {
    const char *what;
    char how;
    const char *command, *answer;
};

struct ContentFixture : SdFixture {
    Host host;
    void SetUp() override {
        SdFixture::SetUp();
        open();
    }
    void open() {
        host = Host();
        host.enc = host.mac = host.dek = hex(key40);
        answer(select_isd);
        ASSERT_EQ(host.open(*this, 0x33, pattern(8, 9)), "9000");
    }
    std::string secured(const Bytes &header, const Bytes &data) {
        return host.unwrap(send(host.wrap(header, data, 0)));
    }
    /* CLA INS P1 P2 and the data, through the channel. */
    std::string secured(const char *command) {
        Bytes bytes = hex(command);
        return secured(slice(bytes, 0, 4), slice(bytes, 4, bytes.size() - 4));
    }
    /* The answers, one word each, up to the first that is not 00 90 00. */
    std::string load(const LoadPlan &plan) {
        std::string answers;
        if (plan.install) {
            answers = secured({0x80, 0xE6, 0x02, 0x00},
                              cat(cat(lv(plan.aid), lv(plan.domain)), cat(lv(plan.hash), {0, 0})));
            if (answers != "009000")
                return answers;
        }
        Bytes all = cat(plan.head.empty() ? c4_of(plan.file.size()) : plan.head, plan.file);
        size_t blocks = (all.size() + plan.block - 1) / plan.block;
        for (size_t k = 0; k < blocks; k++) {
            if ((int)k == plan.left_out)
                continue;
            size_t from = k * plan.block, n = std::min(plan.block, all.size() - from);
            uint8_t p1 = k + 1 == blocks ? 0x80 : plan.p1;
            std::string got = secured({0x80, 0xE8, p1, (uint8_t)k}, slice(all, from, n));
            answers += (answers.empty() ? "" : " ") + got;
            if (got != "009000")
                break;
        }
        return answers;
    }
    template <size_t N> void run(const StepCase (&steps)[N]) {
        for (const StepCase &c : steps) {
            if (c.how == 'O')
                open();
            else
                EXPECT_EQ(c.how == 'P' ? answer(c.command) : secured(c.command),
                          text(hex(c.answer)))
                    << c.what;
        }
    }
    bool registered(const Bytes &aid) {
        return control("content").find(" " + text(aid) + " ") != std::string::npos;
    }
};

/* ---- whole loads ---- */

struct LoadCase {
    const char *what;
    size_t filler, block;
    int hash; /* -1: none */
    size_t blocks;
};
const LoadCase load_cases[] = {
    {"one block, a one-byte length", 60, 200, -1, 1},
    {"short blocks, 81 length, SHA-1", 180, 50, CRYPTO_SHA1, 5},
    {"short blocks, 82 length, SHA-256", 600, 240, CRYPTO_SHA256, 3},
    {"extended blocks of 1000", 2800, 1000, CRYPTO_SHA256, 3},
    {"83 length in extended blocks", 70000, 30000, CRYPTO_SHA1, 3},
};

TEST_F(ContentFixture, LoadsInBlocks) {
    for (const LoadCase &c : load_cases) {
        control("content clear");
        LoadPlan plan;
        plan.file = load_file(package, {module1, module2}, c.filler);
        plan.block = c.block;
        if (c.hash >= 0)
            plan.hash = digest(c.hash, plan.file);
        std::string want = "009000";
        for (size_t k = 0; k < c.blocks; k++)
            want += " 009000";
        EXPECT_EQ(load(plan), want) << c.what;
        std::string content = control("content");
        EXPECT_NE(content.find("loadfile F00102030401 life=01 version=0102 bytes=" +
                               std::to_string(plan.file.size()) +
                               " modules=F0010203040101,F0010203040102\n"),
                  std::string::npos)
            << c.what << content;
    }
    card_power_event(card); /* content outlives power cycles; reset clears it */
    EXPECT_TRUE(registered(package));
    EXPECT_EQ(control("reset"), "ok\n");
    EXPECT_FALSE(registered(package));
}

/* ---- what a load refuses; the load is over after it ---- */

struct RefusalCase {
    const char *what;
    void (*change)(LoadPlan &plan);
    const char *last; /* the last answer */
};
// clang-format off
const RefusalCase refusal_cases[] = {
    {"a hash that does not match", [](LoadPlan &p) { p.hash = digest(CRYPTO_SHA256, pattern(9, 1)); }, "6A80"},
    {"a hash of 19 bytes", [](LoadPlan &p) { p.hash = pattern(19, 1); }, "6A80"},
    {"the Header's magic", [](LoadPlan &p) { p.file = load_file(package, {module1}, 600, 0xDF); }, "6A80"},
    {"another package in the Header", [](LoadPlan &p) { p.file = load_file(app3, {module1}, 600); }, "6A80"},
    {"C4 announcing more than comes", [](LoadPlan &p) { p.head = c4_of(p.file.size() + 1); }, "6A80"},
    {"C4 announcing less than comes", [](LoadPlan &p) { p.head = c4_of(p.file.size() - 1); }, "6A80"},
    {"no C4", [](LoadPlan &p) { p.head = {0xC5, 0x10}; }, "6A80"},
    {"a block left out", [](LoadPlan &p) { p.left_out = 1; }, "6A86"},
    {"P1 40 on a block", [](LoadPlan &p) { p.p1 = 0x40; }, "6A86"},
    {"LOAD without INSTALL [for load]", [](LoadPlan &p) { p.install = false; }, "6985"},
    {"more than the content memory", [](LoadPlan &p) { p.head = c4_of(256 * 1024 + 1); }, "6A84"},
    {"a load file AID already there", [](LoadPlan &p) { p.aid = hex("F0564F524C414E45"); }, "6985"},
    {"an unknown security domain", [](LoadPlan &p) { p.domain = app3; }, "6A88"},
    {"the Header not first", [](LoadPlan &p) { p.file = cat(component(0x02, {1}), p.file); }, "6A80"},
    {"a component cut short", [](LoadPlan &p) { p.file.push_back(0x07); }, "6A80"},
};
// clang-format on

TEST_F(ContentFixture, LoadRefusals) {
    for (const RefusalCase &c : refusal_cases) {
        control("content clear");
        LoadPlan plan;
        c.change(plan);
        std::string answers = load(plan);
        EXPECT_EQ(answers.substr(answers.rfind(' ') + 1), c.last) << c.what << ": " << answers;
        EXPECT_FALSE(registered(package)) << c.what;
        EXPECT_EQ(secured({0x80, 0xE8, 0x80, 0x0F}, {0x00}), "6985") << c.what;
    }
}

/* ---- installing, listing, selecting, using and deleting applications ---- */

// clang-format off
const StepCase app_steps[] = {
    {"install and make selectable", 'S', "80E60C00 06F00102030401 07F0010203040101 07F0010203040201 0100 05C903010203 00", "009000"},
    {"install only", 'S', "80E60400 06F00102030401 07F0010203040102 07F0010203040202 03000000 02C900 00", "009000"},
    {"the same AID again", 'S', "80E60C00 06F00102030401 07F0010203040101 07F0010203040201 0100 02C900 00", "6985"},
    {"an unknown load file", 'S', "80E60C00 06F00102030499 07F0010203040101 07F0010203040203 0100 02C900 00", "6A88"},
    {"an unknown module", 'S', "80E60C00 06F00102030401 07F0010203040199 07F0010203040203 0100 02C900 00", "6A88"},
    {"the library has no modules", 'S', "80E60C00 08F0564F524C414E45 07F0010203040101 07F0010203040203 0100 02C900 00", "6A88"},
    {"privileges of 2 bytes", 'S', "80E60C00 06F00102030401 07F0010203040101 07F0010203040203 020000 02C900 00", "6A80"},
    {"parameters without C9", 'S', "80E60C00 06F00102030401 07F0010203040101 07F0010203040203 0100 02EF00 00", "6A80"},
    {"INSTALL P1 10", 'S', "80E61000 06F00102030401 07F0010203040101 07F0010203040203 0100 02C900 00", "6A86"},
    {"a third application", 'S', "80E60C00 06F00102030401 07F0010203040101 07F0010203040203 0102 02C900 00", "009000"},
    {"applications, tagged, a page", 'S', "80F24002 4F00", "E3244F07F00102030402019F700107C503000000C406F00102030401CC08A000000151000000 E3244F07F00102030402029F700103C503000000C406F00102030401CC08A000000151000000 6310"},
    {"the next page", 'S', "80F24003 4F00", "E3244F07F00102030402039F700107C503020000C406F00102030401CC08A000000151000000 9000"},
    {"applications, the older form", 'S', "80F24000 4F00", "07F00102030402010700 07F00102030402020300 6310"},
    {"its next page", 'S', "80F24001 4F00", "07F00102030402030702 9000"},
    {"load files and modules, older form", 'S', "80F21000 4F00", "08F0564F524C414E45010000 06F001020304010100 02 07F0010203040101 07F0010203040102 9000"},
    {"load files and modules, tagged", 'S', "80F21002 4F00", "E31C4F08F0564F524C414E459F700101CE020100CC08A000000151000000 E32C4F06F001020304019F700101CE0201028407F00102030401018407F0010203040102CC08A000000151000000 9000"},
    {"load files by AID prefix", 'S', "80F22002 4F03F00102", "E31A4F06F001020304019F700101CE020102CC08A000000151000000 9000"},
    {"the security domain", 'S', "80F28000 4F00", "08A0000001510000000F9E 9000"},
    {"a prefix nothing has", 'S', "80F24002 4F02F0FF", "6A88"},
    {"next without a first", 'S', "80F22003 4F00", "6A88"},
    {"P1 08", 'S', "80F20800 4F00", "6A86"},
    {"no search criteria", 'S', "80F24002", "6A80"},
    {"GET STATUS in the clear", 'P', "80F24000024F0000", "6982"},
    {"select the application", 'P', "00A4040007F0010203040201", "6F098407F00102030402019000"},
    {"echo", 'P', "8010000003AABBCC00", "AABBCC9000"},
    {"its install parameters", 'P', "8012000000", "0102039000"},
    {"another instruction", 'P', "80140000", "6D00"},
    {"echo with P1 01", 'P', "80100100", "6A86"},
    {"the card's own commands stay", 'P', "00B0000002", "00009000"},
    {"an application only installed", 'P', "00A4040007F0010203040202", "6A82"},
    {"a load file's AID", 'P', "00A4040006F00102030401", "6A82"},
    {"a module's AID", 'P', "00A4040007F0010203040101", "6A82"},
    {"a name the card manager does not know", 'P', "00A4040002A0B1", "6F048402A0B19000"},
    {"no application selected now", 'P', "8012000000", "6D00"},
    {"channel 1", 'P', "0070000001", "019000"},
    {"the application on channel 1", 'P', "01A4040007F0010203040201", "6F098407F00102030402019000"},
    {"its parameters there", 'P', "8112000000", "0102039000"},
    {"make selectable", 'O', "", ""},
    {"make the second selectable", 'S', "80E60800 00 00 07F0010203040202 0100 00 00", "009000"},
    {"again", 'S', "80E60800 00 00 07F0010203040202 0100 00 00", "6985"},
    {"delete a load file with applications", 'S', "80E40000 4F06F00102030401", "6985"},
    {"delete an unknown AID", 'S', "80E40000 4F06F00102030499", "6A88"},
    {"delete the security domain", 'S', "80E40000 4F08A000000151000000", "6985"},
    {"delete the library", 'S', "80E40000 4F08F0564F524C414E45", "6985"},
    {"delete the second application", 'S', "80E40000 4F07F0010203040202", "009000"},
    {"delete it again", 'S', "80E40000 4F07F0010203040202", "6A88"},
    {"the load file and its application", 'S', "80E40080 4F06F00102030401", "009000"},
    {"channel 1 lost its application", 'P', "8112000000", "6D00"},
    {"a deleted application", 'P', "00A4040007F0010203040201", "6A82"},
};
// clang-format on

TEST_F(ContentFixture, ApplicationsInstalledListedSelectedDeleted) {
    ASSERT_EQ(load(LoadPlan()), "009000 009000 009000 009000 009000");
    run(app_steps);
    EXPECT_EQ(control("content"),
              "ok 2\nisd A000000151000000 life=0F privileges=9E0000\n"
              "loadfile F0564F524C414E45 life=01 version=0100 bytes=0 modules=\n");
}

} // namespace
