/*
 * cap_test.cpp: CAP files through cap/cap.h, one table: the real files of
 * tests/data/caps, archives built here from their components that must
 * read to the same load files, and broken ones refused with the reason.
 *
 * The load files' lengths and digests were made with Info-ZIP's unzip and
 * coreutils when the test was written: `unzip -p F.cap PKG/javacard/C.cap`
 * for each component C in load order (then the Descriptor), into wc -c,
 * sha1sum and sha256sum.
 */
#include <gtest/gtest.h>

#include <stdio.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <regex>

#include "app/text_form.h"
#include "cap/cap.h"
#include "crypto/crypto.h"
#include "tests/zip_build.h"

namespace {

const char jc212[] = "AlgTest_v1.2_jc2.1.2.cap", jc222[] = "AlgTest_v1.8.2_jc222.cap";

std::string caps_file(const std::string &name) {
    std::ifstream in(VORLANE_SOURCE_DIR "/tests/data/caps/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string hex(const unsigned char *bytes, int length) {
    char text[2 * CRYPTO_DIGEST_MAX + 1];
    return std::string(text, hex_text(text, sizeof text, bytes, length, ""));
}

/* A read file in one line: package, version and format | applets |
   imports | each load file's length and digests. */
std::string summary(const CapFile &cap) {
    unsigned char version[2], digest[CRYPTO_DIGEST_MAX];
    cap_package_version(&cap, version);
    std::string text = hex(cap.package.bytes, cap.package.length) + " " + hex(version, 2) + " " +
                       std::to_string(cap.format_major) + "." + std::to_string(cap.format_minor) +
                       " |";
    for (int n = 1; cap_applet(&cap, n); n++)
        text += " " + hex(cap_applet(&cap, n)->bytes, cap_applet(&cap, n)->length);
    text += " |";
    for (int i = 0; i < cap.import_count; i++)
        text += " " + hex(cap.imports[i].aid.bytes, cap.imports[i].aid.length) + " " +
                std::to_string(cap.imports[i].major) + "." + std::to_string(cap.imports[i].minor);
    for (int descriptor : {CAP_WITHOUT_DESCRIPTOR, CAP_WITH_DESCRIPTOR}) {
        size_t length = 0;
        cap_load_file(&cap, descriptor, &length);
        text += " | " + std::to_string(length);
        for (int hash : {CRYPTO_SHA1, CRYPTO_SHA256})
            if (cap_load_file_hash(&cap, descriptor, hash, digest, sizeof digest, &length, 0, 0) ==
                CRYPTO_OK)
                text += " " + hex(digest, (int)length);
    }
    return text;
}

/* The archive read as x.cap: its summary, or the reason it was refused. */
std::string outcome(const std::string &archive) {
    CapFile cap;
    if (!cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "x.cap", &cap))
        return cap.bytes ? "a buffer kept" : cap.message;
    std::string text = summary(cap);
    cap_free(&cap);
    return text;
}

/* The second file's components in load order, stored under algtest/. */
std::vector<ZipItem> parts() {
    std::string archive = caps_file(jc222);
    std::vector<ZipItem> items;
    CapFile cap;
    EXPECT_TRUE(cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "x", &cap));
    for (size_t at = 0; at < cap.used; at += cap.components[cap.bytes[at]].length)
        items.push_back(
            {std::string("algtest/javacard/") + cap_component_name(cap.bytes[at]) + ".cap",
             std::string((const char *)cap.bytes + at, cap.components[cap.bytes[at]].length)});
    cap_free(&cap);
    return items;
}

/* Those components with component name (every one for "") changed. */
std::string changed(const char *name, std::function<void(ZipItem &)> change,
                    const std::string &comment = "") {
    std::vector<ZipItem> items = parts();
    for (ZipItem &item : items)
        if (!*name || item.name == std::string("algtest/javacard/") + name + ".cap")
            change(item);
    return zip_build(items, comment);
}

/* The real second file with four bytes at (from the end when negative) set to value. */
std::string patched(long at, unsigned long value) {
    std::string archive = caps_file(jc222), field;
    zip_put(field, value, 4);
    return archive.replace(at < 0 ? archive.size() + at : (size_t)at, 4, field);
}

const std::string jc212_read =
    "6D797061636B616731 0100 2.1 | 6D7970616330303031 | A0000000620101 1.0 A0000000620201 1.1 "
    "A0000000620102 1.1 A0000000620001 1.0 | 13073 999D087EE55A7E12DF0A873592654F9313E58939 "
    "CB3360837DF8B51E3AB9CF66D7DCEC02BA696BA490D202506AD053A436666E73 | 13603 "
    "F1B7FD0EEBAD854FC9DA5923E942CB0036219F49 "
    "DA0CB54E8062D24E55E9BB76587066B2EC155BB13E744F3928926210CFC3960F";
const std::string jc222_read =
    "4A43416C6754657374 0000 2.1 | 4A43416C675465737431 | A0000000620001 1.0 A0000000620102 1.3 "
    "A0000000620101 1.3 A0000000620201 1.3 | 26190 590A4B25998A273CBD3615B9BD321D73ADE33E14 "
    "58D28040F6B3F19F465D50610F92F5A2B4D6AA0C5FD71EADB4A5006F3FF39FA0 | 30192 "
    "B6EDFEED60A0CDD8683611833BDBEB51FC7A3922 "
    "CAABFA834734BA3E656E063D62288AF3345F458A04824EDCB2F4B485BDEA790E";
const std::string truncated = "x.cap: truncated ZIP archive (its end record is missing)";

} // namespace

TEST(Cap, ArchivesReadOrRefused) {
    std::string real = caps_file(jc222);
    auto deflate = [](ZipItem &item) { item.deflate = true; };
    std::vector<ZipItem> large = parts();
    large.insert(large.begin(), {"algtest/Pad.class", std::string(60000, 'p')});
    large.push_back({"algtest/javacard/Debug.cap", "\x0C\xFF\xFF" + std::string(65535, 'd')});
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> rows = {
        {caps_file(jc212), jc212_read},
        {real, jc222_read},
        {changed("", deflate, "a comment after the end record"), jc222_read},
        {zip_build(large), jc222_read}, /* 158 KB: a Debug component (never loaded), a class file */
        {"", "x.cap: not a ZIP archive (an empty file)"},
        {"00A4040000\r\n", "x.cap: not a ZIP archive"},
        {real.substr(0, 100), truncated},
        {real.substr(0, real.size() / 2), truncated},
        {real.substr(0, real.size() - 1), truncated},
        {patched(-6, real.size() - 10), "x.cap: damaged ZIP archive: its central directory (822 bytes at 32033) runs past its end record (at 32021)"},
        {patched(-6, 100), "x.cap: damaged ZIP archive: central directory entry 1 of 11"},
        {patched(2821 + 100, 0x12345678), "x.cap: javacard/Method.cap fails its CRC-32 check"},
        {changed("Header", [](ZipItem &i) { i.data = std::string("\x01\x00\x13\xDE\xCA\xFF\xEE\x01\x02\x04\x00\x00\x09JCAlgTest", 22); }),
         "x.cap: wrong magic DECAFFEE in the Header component (DECAFFED expected)"},
        {changed("Header", [](ZipItem &i) { i.data = std::string("\x01\x00\x0E\xDE\xCA\xFF\xED\x01\x02\x04\x00\x00\x04JCAl", 17); }),
         "x.cap: package AID of 4 bytes (5 to 16 allowed)"},
        {changed("Header", [](ZipItem &i) { i.data = std::string("\x01\x00\x1B\xDE\xCA\xFF\xED\x01\x02\x04\x00\x00\x11JCAlgTestJCAlgTes", 30); }),
         "x.cap: package AID of 17 bytes (5 to 16 allowed)"},
        {changed("Applet", [](ZipItem &i) { i.data = std::string("\x03\x00\x15\x01\x11JCAlgTest1JCAlgTe\x3C\x08", 24); }),
         "x.cap: applet 1's AID of 17 bytes (5 to 16 allowed)"},
        {changed("Import", [](ZipItem &i) { i.data[3] = 5; }), "x.cap: Import component too short for its 5 packages"},
        {changed("Method", [](ZipItem &i) { i.data[2]--; }),
         "x.cap: javacard/Method.cap holds 18812 bytes, but its size field says 18808 + 3"},
        {changed("Class", [](ZipItem &i) { i.data[0] = 7; }), "x.cap: javacard/Class.cap starts with tag 7, not 6"},
        {changed("Method", [](ZipItem &i) { i.name = "algtest/javacard/Methods.cap"; }), "x.cap: Method component missing"},
        {changed("Header", [](ZipItem &i) { i.name = "algtest/xjavacard/Header.cap"; }), "x.cap: Header component missing"},
        {zip_build({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n"}}), "x.cap: no javacard/*.cap components: not a CAP file"},
        {changed("Header", [](ZipItem &i) { i.deflate = true, i.declared = 10; }),
         "x.cap: javacard/Header.cap inflates past its declared 10 bytes"},
        {changed("Header", [](ZipItem &i) { i.deflate = true, i.declared = 30; }),
         "x.cap: javacard/Header.cap inflates to 22 bytes, not its declared 30"},
        {changed("Class", [](ZipItem &i) { i.method = 8; }), "x.cap: javacard/Class.cap holds damaged deflated data"},
        {changed("Class", [](ZipItem &i) { i.method = 12; }),
         "x.cap: javacard/Class.cap is compressed with method 12 (only stored or deflated entries are read)"},
        {changed("Class", [](ZipItem &i) { i.flags = 1; }), "x.cap: javacard/Class.cap is encrypted"},
        {changed("Class", [](ZipItem &i) { i.declared = 0xFFFFFFFF; }), "x.cap: javacard/Class.cap is a ZIP64 entry (not read)"},
        {changed("Class", [](ZipItem &i) { i.declared = 2; }), "x.cap: javacard/Class.cap declares 2 bytes, not 3 to 65538 as a component"},
        {changed("Directory", [](ZipItem &i) { i.name = "other/javacard/Header.cap"; }), "x.cap: two javacard/Header.cap entries"},
        {std::string(CAP_ARCHIVE_MAX + 1, 'P'), "x.cap: 8388609 bytes, more than the 8388608 a CAP file may hold"},
    };
    // clang-format on
    for (const auto &row : rows)
        EXPECT_EQ(outcome(row.first), row.second);
}

/* Files on disk: one too large is refused by its size before it is read;
   one that is not there, or a folder, cannot be read. */
TEST(Cap, FilesOnDisk) {
    std::string big = testing::TempDir() + "big.cap";
    FILE *file = fopen(big.c_str(), "wb");
    ASSERT_TRUE(file && fseek(file, 9 * 1024 * 1024 - 1, SEEK_SET) == 0 && fputc('x', file) == 'x');
    fclose(file);
    for (const auto &row : std::vector<std::pair<std::string, std::string>>{
             {big, ": 9437184 bytes, more than the 8388608 a CAP file may hold"},
             {"no/such.cap", ": cannot be read"},
             {testing::TempDir(), ": cannot be read"}}) {
        CapFile cap;
        EXPECT_FALSE(cap_read_file(row.first.c_str(), &cap));
        EXPECT_EQ(std::string(cap.message), row.first + row.second);
    }
    remove(big.c_str());
}

/* What --cap-info prints of what the real files lack: a package name
   (format 2.2), no applet, an import without a known name, no Descriptor. */
TEST(Cap, InfoTextOfALibrary) {
    const std::string named("\x01\x00\x1B\xDE\xCA\xFF\xED\x02\x02\0\0\1\x09JCAlgTest\x07"
                            "algtest",
                            30),
        other("\x04\x00\x09\x01\0\1\x05\xD2\x76\0\1\x18", 12);
    auto library = [&](ZipItem &item) {
        if (item.name.find("/Applet.") != std::string::npos ||
            item.name.find("/Descriptor.") != std::string::npos)
            item.name = "algtest/other.bin";
        else if (item.data[0] == CAP_HEADER || item.data[0] == CAP_IMPORT)
            item.data = item.data[0] == CAP_HEADER ? named : other;
    };
    std::string text, archive = changed("", library);
    CapFile cap;
    ASSERT_TRUE(cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "l", &cap));
    auto sink = [](void *to, const char *piece, size_t length) {
        ((std::string *)to)->append(piece, length);
    };
    cap_info_write(&cap, "lib.cap", sink, &text);
    cap_free(&cap);
    // clang-format off
    EXPECT_TRUE(std::regex_match(text, std::regex(
        "lib.cap\nPackage AID: 4A43416C6754657374\nPackage version: 1.0\nPackage name: algtest\n"
        "CAP format: 2.2\nImport: D276000118 version 1.0\nComponent Header: 30 bytes\n"
        "(Component [A-Za-z]+: [0-9]+ bytes\n){7}Load file: 26149 bytes\nLoad file SHA-1: [0-9A-F]{40}\n"
        "Load file SHA-256: [0-9A-F]{64}\nLoad file with Descriptor: no Descriptor component\n"))) << text;
    // clang-format on
    const unsigned char framework[] = {0xA0, 0, 0, 0, 0x62, 1, 1};
    EXPECT_EQ(cap_package_known(framework, 6), nullptr); /* whole AIDs, not prefixes */
}
