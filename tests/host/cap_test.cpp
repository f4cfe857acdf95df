/*
 * cap_test.cpp: CAP files read through cap/cap.h: the two real files of
 * tests/data/caps against what an independent tool finds in them, then
 * archives built here from their components (with zlib's own deflate)
 * that must read to the same load files, and damaged ones that must be
 * refused with the file's name and what is wrong.
 *
 * The expected load files were made with Info-ZIP's unzip and coreutils
 * when the test was written: the components of each file in load order,
 *   for c in Header Directory Import Applet Class Method StaticField Export \
 *            ConstantPool RefLocation; do unzip -p F.cap "PKG/javacard/$c.cap"; done
 * (then Descriptor.cap appended for the second figure), into wc -c,
 * sha1sum and sha256sum.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <zlib.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "app/text_form.h"
#include "cap/cap.h"
#include "crypto/crypto.h"

namespace {

std::string caps_file(const std::string &name) {
    std::ifstream in(std::string(VORLANE_SOURCE_DIR "/tests/data/caps/") + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string hex(const unsigned char *bytes, size_t length) {
    std::string text(2 * length, '?');
    hex_run_put(&text[0], bytes, length);
    return text;
}

std::string load_hash(const CapFile &cap, int descriptor, int hash) {
    unsigned char digest[CRYPTO_DIGEST_MAX];
    size_t length = 0;
    EXPECT_EQ(cap_load_file_hash(&cap, descriptor, hash, digest, sizeof digest, &length, 0, 0),
              CRYPTO_OK);
    return hex(digest, length);
}

/* One entry of an archive built here; declared overrides the size it gives */
struct ZipItem {
    std::string name, data;
    bool deflate = false;
    long declared = -1;
    unsigned flags = 0, method = 0;
};

void put(std::string &out, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out += (char)(value >> (8 * i) & 0xFF);
}

/* A ZIP archive as jar and converter tools write one. */
std::string zip_build(const std::vector<ZipItem> &items, const std::string &comment = "") {
    std::string out, directory;
    for (const ZipItem &item : items) {
        std::string packed = item.data;
        if (item.deflate) {
            z_stream s = {};
            deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            packed.assign(deflateBound(&s, item.data.size()), 0);
            s.next_in = (Bytef *)item.data.data();
            s.avail_in = (uInt)item.data.size();
            s.next_out = (Bytef *)&packed[0];
            s.avail_out = (uInt)packed.size();
            EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
            packed.resize(s.total_out);
            deflateEnd(&s);
        }
        unsigned method = item.method ? item.method : item.deflate ? 8 : 0;
        std::string common;
        put(common, 20, 2), put(common, item.flags, 2), put(common, method, 2), put(common, 0, 4);
        put(common, crc32(0, (const Bytef *)item.data.data(), (uInt)item.data.size()), 4);
        put(common, packed.size(), 4);
        put(common, item.declared >= 0 ? item.declared : (long)item.data.size(), 4);
        put(common, item.name.size(), 2), put(common, 0, 2);
        put(directory, 0x02014B50, 4), put(directory, 20, 2), directory += common;
        put(directory, 0, 6), put(directory, 0, 4), put(directory, out.size(), 4);
        directory += item.name;
        put(out, 0x04034B50, 4), out += common + item.name + packed;
    }
    size_t at = out.size();
    out += directory;
    put(out, 0x06054B50, 4), put(out, 0, 4), put(out, items.size(), 2), put(out, items.size(), 2);
    put(out, directory.size(), 4), put(out, at, 4), put(out, comment.size(), 2);
    return out + comment;
}

/* The components of a real file, in load order, as entries under algtest/. */
std::vector<ZipItem> parts(const std::string &file) {
    std::string archive = caps_file(file);
    std::vector<ZipItem> items;
    CapFile cap;
    EXPECT_TRUE(cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "x", &cap))
        << cap.message;
    for (size_t at = 0; at < cap.used;) {
        const CapComponent &c = cap.components[cap.bytes[at]];
        items.push_back(
            {std::string("algtest/javacard/") + cap_component_name(cap.bytes[at]) + ".cap",
             std::string((const char *)cap.bytes + c.at, c.length)});
        at += c.length;
    }
    cap_free(&cap);
    return items;
}

const char jc222[] = "AlgTest_v1.8.2_jc222.cap";

/* The second file's components with one of them (by name) changed. */
std::string changed(const char *component, std::function<void(ZipItem &)> change) {
    std::vector<ZipItem> items = parts(jc222);
    for (ZipItem &item : items) {
        if (item.name == std::string("algtest/javacard/") + component + ".cap")
            change(item);
    }
    return zip_build(items);
}

std::string real_with_end(long offset) { /* the central directory's offset changed */
    std::string archive = caps_file(jc222);
    std::string field;
    put(field, (unsigned long)(offset < 0 ? (long)archive.size() + offset : offset), 4);
    return archive.replace(archive.size() - 6, 4, field);
}

struct CapRealCase {
    const char *file;
    const char *package, *version, *format, *applets, *imports;
    size_t plain, with; /* load file lengths without and with the Descriptor */
    const char *sha1, *sha256, *sha1_with, *sha256_with;
};

// clang-format off
const std::vector<CapRealCase> cap_real_cases = {
    {"AlgTest_v1.2_jc2.1.2.cap", "6D797061636B616731", "1.0", "2.1", "6D7970616330303031 ",
     "A0000000620101 1.0 A0000000620201 1.1 A0000000620102 1.1 A0000000620001 1.0 ",
     13073, 13603, "999D087EE55A7E12DF0A873592654F9313E58939",
     "CB3360837DF8B51E3AB9CF66D7DCEC02BA696BA490D202506AD053A436666E73",
     "F1B7FD0EEBAD854FC9DA5923E942CB0036219F49",
     "DA0CB54E8062D24E55E9BB76587066B2EC155BB13E744F3928926210CFC3960F"},
    {jc222, "4A43416C6754657374", "0.0", "2.1", "4A43416C675465737431 ",
     "A0000000620001 1.0 A0000000620102 1.3 A0000000620101 1.3 A0000000620201 1.3 ",
     26190, 30192, "590A4B25998A273CBD3615B9BD321D73ADE33E14",
     "58D28040F6B3F19F465D50610F92F5A2B4D6AA0C5FD71EADB4A5006F3FF39FA0",
     "B6EDFEED60A0CDD8683611833BDBEB51FC7A3922",
     "CAABFA834734BA3E656E063D62288AF3345F458A04824EDCB2F4B485BDEA790E"},
};
// clang-format on

void expect_read(const CapRealCase &c, const CapFile &cap) {
    std::string applets, imports;
    for (int i = 1; cap_applet(&cap, i); i++)
        applets += hex(cap_applet(&cap, i)->bytes, (size_t)cap_applet(&cap, i)->length) + " ";
    for (int i = 0; i < cap.import_count; i++)
        imports += hex(cap.imports[i].aid.bytes, (size_t)cap.imports[i].aid.length) + " " +
                   std::to_string(cap.imports[i].major) + "." +
                   std::to_string(cap.imports[i].minor) + " ";
    unsigned char version[2];
    cap_package_version(&cap, version);
    EXPECT_EQ(hex(cap.package.bytes, (size_t)cap.package.length), c.package);
    EXPECT_EQ(std::to_string(version[0]) + "." + std::to_string(version[1]), c.version);
    EXPECT_EQ(std::to_string(cap.format_major) + "." + std::to_string(cap.format_minor), c.format);
    EXPECT_EQ(applets, c.applets);
    EXPECT_EQ(imports, c.imports);
    size_t plain = 0, with = 0;
    cap_load_file(&cap, CAP_WITHOUT_DESCRIPTOR, &plain);
    cap_load_file(&cap, CAP_WITH_DESCRIPTOR, &with);
    EXPECT_EQ(plain, c.plain);
    EXPECT_EQ(with, c.with);
    EXPECT_EQ(load_hash(cap, CAP_WITHOUT_DESCRIPTOR, CRYPTO_SHA1), c.sha1);
    EXPECT_EQ(load_hash(cap, CAP_WITHOUT_DESCRIPTOR, CRYPTO_SHA256), c.sha256);
    EXPECT_EQ(load_hash(cap, CAP_WITH_DESCRIPTOR, CRYPTO_SHA1), c.sha1_with);
    EXPECT_EQ(load_hash(cap, CAP_WITH_DESCRIPTOR, CRYPTO_SHA256), c.sha256_with);
}

} // namespace

TEST(Cap, RealFilesReadFromDisk) {
    for (const CapRealCase &c : cap_real_cases) {
        SCOPED_TRACE(c.file);
        CapFile cap;
        ASSERT_TRUE(cap_read_file(
            (VORLANE_SOURCE_DIR "/tests/data/caps/" + std::string(c.file)).c_str(), &cap))
            << cap.message;
        expect_read(c, cap);
        EXPECT_EQ(cap_applet(&cap, 0), nullptr);
        EXPECT_EQ(cap_applet(&cap, 2), nullptr);
        cap_free(&cap);
    }
}

/* Other shapes of the second file: each reads to the same load files. */
TEST(Cap, OtherArchivesOfTheSameComponents) {
    auto deflated = [] {
        std::vector<ZipItem> items = parts(jc222);
        for (ZipItem &item : items)
            item.deflate = true;
        return items;
    };
    const std::vector<std::pair<const char *, std::function<std::string()>>> rows = {
        {"every component deflated", [&] { return zip_build(deflated()); }},
        {"over 100 KB: a Debug component and class files",
         [&] {
             std::vector<ZipItem> items = deflated();
             items.insert(items.begin(), {"algtest/Pad.class", std::string(60000, 'p')});
             items.push_back(
                 {"algtest/javacard/Debug.cap", "\x0C\xFF\xFF" + std::string(65535, 'd')});
             return zip_build(items);
         }},
        {"a comment after the end record", [] { return zip_build(parts(jc222), "built here"); }},
        {"components at the root, other entries passed over",
         [] {
             std::vector<ZipItem> items = parts(jc222);
             for (ZipItem &item : items)
                 item.name = item.name.substr(8);
             items.push_back({"META-INF/javacard/Unknown.cap", "junk"});
             items.push_back({"notjavacard/Header.cap", "junk"});
             return zip_build(items);
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.first);
        std::string archive = row.second();
        CapFile cap;
        ASSERT_TRUE(
            cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "x.cap", &cap))
            << cap.message;
        expect_read(cap_real_cases[1], cap);
        cap_free(&cap);
    }
}

TEST(Cap, RefusedWithTheFileAndTheReason) {
    std::string real = caps_file(jc222);
    auto header = [](std::string bytes) { return [bytes](ZipItem &item) { item.data = bytes; }; };
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "x.cap: not a ZIP archive (an empty file)"},
        {"00A4040000\r\n", "x.cap: not a ZIP archive"},
        {real.substr(0, 100), "x.cap: truncated ZIP archive (its end record is missing)"},
        {real.substr(0, real.size() / 2), "x.cap: truncated ZIP archive (its end record is missing)"},
        {real.substr(0, real.size() - 1), "x.cap: truncated ZIP archive (its end record is missing)"},
        {real_with_end(-10), "x.cap: damaged ZIP archive: its central directory (822 bytes at "
                             "32033) runs past its end record (at 32021)"},
        {real_with_end(100), "x.cap: damaged ZIP archive: central directory entry 1 of 11"},
        {changed("Header", header(std::string("\x01\x00\x13\xDE\xCA\xFF\xEE\x01\x02\x04\x00\x00\x09JCAlgTest", 22))),
         "x.cap: wrong magic DECAFFEE in the Header component (DECAFFED expected)"},
        {changed("Header", header(std::string("\x01\x00\x0E\xDE\xCA\xFF\xED\x01\x02\x04\x00\x00\x04JCAl", 17))),
         "x.cap: package AID of 4 bytes (5 to 16 allowed)"},
        {changed("Header", header(std::string("\x01\x00\x1B\xDE\xCA\xFF\xED\x01\x02\x04\x00\x00\x11JCAlgTestJCAlgTes", 30))),
         "x.cap: package AID of 17 bytes (5 to 16 allowed)"},
        {changed("Header", header(std::string("\x01\x00\x0A\xDE\xCA\xFF\xED\x01\x02\x04\x00\x00\x09", 13))),
         "x.cap: Header component too short for its package AID"},
        {changed("Applet", header(std::string("\x03\x00\x15\x01\x11JCAlgTest1JCAlgTe\x3C\x08", 24))),
         "x.cap: applet 1's AID of 17 bytes (5 to 16 allowed)"},
        {changed("Import", [](ZipItem &i) { i.data[3] = 5; }),
         "x.cap: Import component too short for its 5 packages"},
        {changed("Method", [](ZipItem &i) { i.data[2]--; }),
         "x.cap: javacard/Method.cap holds 18812 bytes, but its size field says 18808 + 3"},
        {changed("Class", [](ZipItem &i) { i.data[0] = 7; }), "x.cap: javacard/Class.cap starts with tag 7, not 6"},
        {changed("Method", [](ZipItem &i) { i.name = "algtest/javacard/Methods.cap"; }),
         "x.cap: Method component missing"},
        {zip_build({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n"}}),
         "x.cap: no javacard/*.cap components: not a CAP file"},
        {changed("Header", [](ZipItem &i) { i.deflate = true, i.declared = 10; }),
         "x.cap: javacard/Header.cap inflates past its declared 10 bytes"},
        {changed("Header", [](ZipItem &i) { i.deflate = true, i.declared = 30; }),
         "x.cap: javacard/Header.cap inflates to 22 bytes, not its declared 30"},
        {changed("Class", [](ZipItem &i) { i.method = 8; }), "x.cap: javacard/Class.cap holds damaged deflated data"},
        {changed("Class", [](ZipItem &i) { i.method = 12; }),
         "x.cap: javacard/Class.cap is compressed with method 12 (only stored or deflated entries are read)"},
        {changed("Class", [](ZipItem &i) { i.flags = 1; }), "x.cap: javacard/Class.cap is encrypted"},
        {changed("Class", [](ZipItem &i) { i.declared = 0xFFFFFFFF; }),
         "x.cap: javacard/Class.cap is a ZIP64 entry (not read)"},
        {changed("Class", [](ZipItem &i) { i.declared = 2; }),
         "x.cap: javacard/Class.cap declares 2 bytes, not 3 to 65538 as a component"},
        {changed("Directory", [](ZipItem &i) { i.name = "other/javacard/Header.cap"; }),
         "x.cap: two javacard/Header.cap entries"},
        {std::string(CAP_ARCHIVE_MAX + 1, 'P'), "x.cap: 8388609 bytes, more than the 8388608 a CAP file may hold"},
    };
    // clang-format on
    for (const auto &row : rows) {
        CapFile cap;
        EXPECT_FALSE(cap_read_bytes((const unsigned char *)row.first.data(), row.first.size(),
                                    "x.cap", &cap));
        EXPECT_EQ(std::string(cap.message), row.second);
        EXPECT_EQ(cap.bytes, nullptr) << row.second;
    }
}

/* A stored component whose bytes were changed fails its CRC-32. */
TEST(Cap, DamagedBytesFailTheirCheck) {
    std::string archive = caps_file(jc222);
    size_t crc = archive.find(std::string("\x37\xA3\xD7\x92", 4)); /* Method's, little-endian */
    ASSERT_NE(crc, std::string::npos);
    size_t local = crc - 14; /* its local header: the data after the name and extra */
    archive[local + 30 + (unsigned char)archive[local + 26] + (unsigned char)archive[local + 28]] ^=
        1;
    CapFile cap;
    EXPECT_FALSE(
        cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "y.cap", &cap));
    EXPECT_STREQ(cap.message, "y.cap: javacard/Method.cap fails its CRC-32 check");
}

/* Files on disk: one too large is refused by its size before it is read;
   one that is not there, or a folder, cannot be read. */
TEST(Cap, FilesOnDisk) {
    std::string big = testing::TempDir() + "big.cap";
    FILE *file = fopen(big.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(fseek(file, 9 * 1024 * 1024 - 1, SEEK_SET), 0);
    fputc('x', file);
    fclose(file);
    CapFile cap;
    EXPECT_FALSE(cap_read_file(big.c_str(), &cap));
    EXPECT_EQ(std::string(cap.message),
              big + ": 9437184 bytes, more than the 8388608 a CAP file may hold");
    remove(big.c_str());
    EXPECT_FALSE(cap_read_file("no/such.cap", &cap));
    EXPECT_STREQ(cap.message, "no/such.cap: cannot be read");
    EXPECT_FALSE(cap_read_file(testing::TempDir().c_str(), &cap)); /* a folder */
    EXPECT_EQ(std::string(cap.message), testing::TempDir() + ": cannot be read");
}

/* What --cap-info prints of a library package in format 2.2: its name,
   no applet, an import without a known name, no Descriptor. */
TEST(Cap, InfoText) {
    std::vector<ZipItem> items;
    for (ZipItem &item : parts(jc222)) {
        if (item.name.find("/Header.") != std::string::npos)
            item.data =
                std::string("\x01\x00\x1B\xDE\xCA\xFF\xED\x02\x02\x00\x00\x01\x09JCAlgTest\x07"
                            "algtest",
                            30);
        if (item.name.find("/Import.") != std::string::npos)
            item.data = std::string("\x04\x00\x09\x01\x00\x01\x05\xD2\x76\x00\x01\x18", 12);
        if (item.name.find("/Applet.") == std::string::npos &&
            item.name.find("/Descriptor.") == std::string::npos)
            items.push_back(item);
    }
    std::string text, archive = zip_build(items);
    auto sink = [](void *context, const char *piece, size_t length) {
        ((std::string *)context)->append(piece, length);
    };
    CapFile cap;
    ASSERT_TRUE(
        cap_read_bytes((const unsigned char *)archive.data(), archive.size(), "lib.cap", &cap))
        << cap.message;
    cap_info_write(&cap, "lib.cap", sink, &text);
    cap_free(&cap);
    EXPECT_TRUE(std::regex_match(
        text, std::regex("lib.cap\nPackage AID: 4A43416C6754657374\nPackage version: 1.0\n"
                         "Package name: algtest\nCAP format: 2.2\nImport: D276000118 version 1.0\n"
                         "Component Header: 30 bytes\nComponent Directory: 34 bytes\n"
                         "Component Import: 12 bytes\nComponent Class: 221 bytes\n"
                         "Component Method: 18812 bytes\nComponent StaticField: 2390 bytes\n"
                         "Component ConstantPool: 1661 bytes\nComponent RefLocation: 2989 bytes\n"
                         "Load file: 26149 bytes\nLoad file SHA-1: [0-9A-F]{40}\n"
                         "Load file SHA-256: [0-9A-F]{64}\n"
                         "Load file with Descriptor: no Descriptor component\n")))
        << text;
    const unsigned char service[] = {0xA0, 0, 0, 0, 0x62, 1, 1, 1};
    EXPECT_STREQ(cap_package_known(service, 8), "javacard.framework.service");
    EXPECT_STREQ(cap_package_known(service, 7),
                 "javacard.framework"); /* a whole AID, not a prefix */
    EXPECT_EQ(cap_package_known(service, 6), nullptr);
}
