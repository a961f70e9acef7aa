#pragma once
// Small pictures built byte by byte from their published layouts, for the tests of the picture
// length parsers.

#include <algorithm>

#include "archive_bytes.h"

namespace brenvale::raw::testing {

inline void putBe16(ByteVec& v, unsigned x) {
    put8(v, x >> 8);
    put8(v, x);
}
inline void putBe32(ByteVec& v, std::uint32_t x) {
    putBe16(v, x >> 16);
    putBe16(v, x & 0xFFFF);
}

// A JPEG marker segment: FF, the marker, the 16-bit length and the body.
inline void segment(ByteVec& v, unsigned marker, const ByteVec& body) {
    put8(v, 0xFF);
    put8(v, marker);
    putBe16(v, static_cast<unsigned>(body.size() + 2));
    append(v, body);
}

// Coded data as an encoder leaves it: every FF stuffed with 00, a restart marker every
// `restartEvery` bytes (0: none).
inline ByteVec codedData(std::size_t n, unsigned seed, std::size_t restartEvery = 0) {
    const ByteVec raw = noise(n, seed);
    ByteVec out;
    unsigned rst = 0;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (restartEvery && i && i % restartEvery == 0) {
            put8(out, 0xFF);
            put8(out, 0xD0 + (rst++ & 7));
        }
        out.push_back(raw[i]);
        if (raw[i] == std::byte{0xFF}) put8(out, 0x00);
    }
    return out;
}

// A baseline (one scan) or progressive (three scans) JPEG whose coded data is noise.
inline ByteVec jpegOf(std::size_t codedBytes, unsigned seed, bool progressive = false, std::size_t restartEvery = 0) {
    ByteVec v;
    put8(v, 0xFF);
    put8(v, 0xD8);
    segment(v, 0xE0, bytes(std::string_view("JFIF\0\1\1\0\0\1\0\1\0\0", 14)));
    segment(v, 0xDB, ByteVec(65, std::byte{1}));
    segment(v, progressive ? 0xC2 : 0xC0, ByteVec(15, std::byte{2}));
    if (restartEvery) segment(v, 0xDD, ByteVec{std::byte{0}, std::byte{4}});
    const int scans = progressive ? 3 : 1;
    for (int s = 0; s < scans; ++s) {
        segment(v, 0xC4, ByteVec(30, std::byte{3}));
        segment(v, 0xDA, ByteVec(10, std::byte{4}));
        append(v, codedData(codedBytes / scans, seed + static_cast<unsigned>(s), restartEvery));
    }
    put8(v, 0xFF);
    put8(v, 0xD9);
    return v;
}

inline void pngChunk(ByteVec& v, std::string_view type, const ByteVec& data) {
    putBe32(v, static_cast<std::uint32_t>(data.size()));
    ByteVec typed = bytes(type);
    append(typed, data);
    append(v, typed);
    putBe32(v, crc32Of(typed));
}

inline ByteVec pngOf(std::size_t idatBytes, unsigned seed, int idatChunks = 1) {
    ByteVec v = bytes(std::string_view("\x89PNG\r\n\x1A\n", 8));
    ByteVec ihdr;
    putBe32(ihdr, 64);
    putBe32(ihdr, 64);
    append(ihdr, ByteVec{std::byte{8}, std::byte{2}, std::byte{0}, std::byte{0}, std::byte{0}});
    pngChunk(v, "IHDR", ihdr);
    pngChunk(v, "tEXt", bytes("Comment\0made for a test"));
    for (int i = 0; i < idatChunks; ++i) pngChunk(v, "IDAT", noise(idatBytes / static_cast<std::size_t>(idatChunks), seed + static_cast<unsigned>(i)));
    pngChunk(v, "IEND", {});
    return v;
}

// A GIF89a with a global colour table, a looping extension and `frames` frames, each with a
// graphic control extension and a local colour table.
inline ByteVec gifOf(int frames, std::size_t frameBytes, unsigned seed) {
    ByteVec v = bytes("GIF89a");
    put16(v, 64);
    put16(v, 48);
    put8(v, 0x80 | 0x07);  // global table of 256 colours
    put8(v, 0);
    put8(v, 0);
    append(v, noise(768, seed));
    append(v, bytes(std::string_view("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19)));
    for (int f = 0; f < frames; ++f) {
        append(v, bytes(std::string_view("\x21\xF9\x04\x04\x0A\x00\x00\x00", 8)));
        put8(v, 0x2C);
        put16(v, 0);
        put16(v, 0);
        put16(v, 64);
        put16(v, 48);
        put8(v, 0x80 | 0x01);  // local table of 4 colours
        append(v, noise(12, seed + 1));
        put8(v, 8);  // LZW code size
        const ByteVec data = noise(frameBytes, seed + 2 + static_cast<unsigned>(f));
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, data.size() - at);
            put8(v, static_cast<unsigned>(n));
            v.insert(v.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        put8(v, 0);
    }
    put8(v, 0x3B);
    return v;
}

inline ByteVec bmpOf(std::int32_t width, std::int32_t height, std::uint32_t declaredSize) {
    ByteVec v = bytes("BM");
    put32(v, declaredSize);
    put32(v, 0);
    put32(v, 54);
    put32(v, 40);
    put32(v, static_cast<std::uint32_t>(width));
    put32(v, static_cast<std::uint32_t>(height));
    v.resize(std::max<std::size_t>(declaredSize, 54), std::byte{0x42});
    return v;
}

}  // namespace brenvale::raw::testing

namespace brenvale::raw::testing {

// A little-endian TIFF: IFD0 with the picture size, the maker, one strip of `stripBytes` and a
// JPEG preview (tags 513/514), and an Exif IFD with the ISO; `dng` adds the DNG version tag.
// The directories come first, or, with `directoriesLast` (as ImageMagick writes), after the
// strip and the preview; either way nothing lies past the file's last referenced byte.
inline ByteVec tiffOf(std::string make, std::size_t stripBytes, const ByteVec& preview, bool dng = false,
                      bool crSignature = false, bool directoriesLast = false) {
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    make.push_back('\0');
    const std::uint32_t entries = dng ? 11 : 10;
    const std::uint32_t ifdBytes = 2 + 12 * entries + 4, exifBytes = 2 + 12 + 4;
    const auto makeBytes = static_cast<std::uint32_t>(make.size());
    std::uint32_t ifd0, strip, jpeg;
    if (directoriesLast) {
        strip = 16;
        jpeg = strip + static_cast<std::uint32_t>(stripBytes);
        ifd0 = jpeg + static_cast<std::uint32_t>(preview.size());
        ifd0 += ifd0 % 2;
    } else {
        ifd0 = 16;
        strip = ifd0 + ifdBytes + exifBytes + makeBytes;
        jpeg = strip + static_cast<std::uint32_t>(stripBytes);
    }
    const std::uint32_t exif = ifd0 + ifdBytes, makeAt = exif + exifBytes;
    ByteVec v = bytes(std::string_view("II*\0", 4));
    put32(v, ifd0);
    if (crSignature) {
        put(v, "CR");
        put16(v, 2);
    } else {
        put32(v, 0);
    }
    put32(v, 0);
    std::vector<Entry> list = {
        {256, 4, 1, 4000}, {257, 4, 1, 3000}, {259, 3, 1, 1}, {271, 2, makeBytes, makeAt},
        {273, 4, 1, strip}, {279, 4, 1, static_cast<std::uint32_t>(stripBytes)}, {513, 4, 1, jpeg},
        {514, 4, 1, static_cast<std::uint32_t>(preview.size())}, {0x8769, 4, 1, exif}, {0x8827, 3, 1, 400},
    };
    if (dng) list.insert(list.end() - 2, {50706, 1, 4, 0x00000401});
    std::sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    auto directories = [&] {
        v.resize(ifd0, std::byte{0});
        put16(v, entries);
        for (const auto& e : list) {
            put16(v, e.tag);
            put16(v, e.type);
            put32(v, e.count);
            put32(v, e.value);
        }
        put32(v, 0);
        put16(v, 1);  // Exif IFD: the ISO again
        put16(v, 0x8827);
        put16(v, 3);
        put32(v, 1);
        put32(v, 800);
        put32(v, 0);
        put(v, make);
    };
    if (!directoriesLast) directories();
    v.resize(strip, std::byte{0});
    append(v, noise(stripBytes, 21));
    append(v, preview);
    if (directoriesLast) directories();
    v.resize(v.size() + v.size() % 2, std::byte{0});
    return v;
}

// An ISO base-media file as a Canon CR3 lays it out: ftyp (brand crx), moov with a JPEG preview
// in a uuid box, mdat.
inline ByteVec isoBox(std::string_view kind, const ByteVec& body) {
    ByteVec v;
    putBe32(v, static_cast<std::uint32_t>(8 + body.size()));
    put(v, kind);
    append(v, body);
    return v;
}

inline ByteVec cr3Of(const ByteVec& preview, std::size_t mdatBytes) {
    ByteVec ftypBody = bytes("crx ");
    putBe32(ftypBody, 1);
    put(ftypBody, "crx isom");
    ByteVec uuid(16, std::byte{0});
    append(uuid, preview);
    ByteVec moovBody = isoBox("uuid", uuid);
    append(moovBody, isoBox("trak", noise(300, 61)));
    ByteVec v = isoBox("ftyp", ftypBody);
    append(v, isoBox("moov", moovBody));
    append(v, isoBox("mdat", noise(mdatBytes, 62)));
    return v;
}

}  // namespace brenvale::raw::testing
