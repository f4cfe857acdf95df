/*
 * zip_build.h: ZIP archives as jar tools write them, for the CAP tests and
 * fuzzer: entries stored or deflated by zlib itself, each free to lie about
 * its size, method or flags to build broken archives.
 */
#ifndef VORLANE_TESTS_ZIP_BUILD_H
#define VORLANE_TESTS_ZIP_BUILD_H

#include <zlib.h>

#include <string>
#include <vector>

struct ZipItem {
    std::string name, data;
    bool deflate = false;
    long declared = -1; /* the size the entry gives; -1: its own */
    unsigned flags = 0, method = 0;
};

inline void zip_put(std::string &out, unsigned long value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out += (char)(i < 8 ? value >> (8 * i) & 0xFF : 0);
}

inline std::string zip_deflated(const std::string &data) {
    z_stream s = {};
    deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&s, data.size()), 0);
    s.next_in = (Bytef *)data.data(), s.avail_in = (uInt)data.size();
    s.next_out = (Bytef *)&packed[0], s.avail_out = (uInt)packed.size();
    int status = deflate(&s, Z_FINISH);
    packed.resize(status == Z_STREAM_END ? s.total_out : 0);
    deflateEnd(&s);
    return packed;
}

inline std::string zip_build(const std::vector<ZipItem> &items, const std::string &comment = "") {
    std::string out, directory;
    for (const ZipItem &item : items) {
        std::string packed = item.deflate ? zip_deflated(item.data) : item.data, common;
        zip_put(common, 20, 2), zip_put(common, item.flags, 2);
        zip_put(common, item.method ? item.method : item.deflate ? 8 : 0, 2), zip_put(common, 0, 4);
        zip_put(common, crc32(0, (const Bytef *)item.data.data(), (uInt)item.data.size()), 4);
        zip_put(common, packed.size(), 4);
        zip_put(common, item.declared >= 0 ? (unsigned long)item.declared : item.data.size(), 4);
        zip_put(common, item.name.size(), 2), zip_put(common, 0, 2);
        zip_put(directory, 0x02014B50, 4), zip_put(directory, 20, 2), directory += common;
        zip_put(directory, 0, 10), zip_put(directory, out.size(), 4), directory += item.name;
        zip_put(out, 0x04034B50, 4), out += common + item.name + packed;
    }
    size_t at = out.size();
    out += directory;
    zip_put(out, 0x06054B50, 4), zip_put(out, 0, 4);
    zip_put(out, items.size(), 2), zip_put(out, items.size(), 2);
    zip_put(out, directory.size(), 4), zip_put(out, at, 4), zip_put(out, comment.size(), 2);
    return out + comment;
}

#endif
