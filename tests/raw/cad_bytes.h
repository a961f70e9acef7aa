#pragma once
// Mail stores, databases and CAD files built byte by byte from their published layouts, for
// the tests of their signature tests and lengths: every length is known from the bytes
// written, never from the parser.

#include <array>
#include <string>
#include <string_view>

#include "archive_bytes.h"
#include "picture_bytes.h"

namespace brenvale::raw::testing {

inline void putBe64(ByteVec& v, std::uint64_t x) {
    putBe32(v, static_cast<std::uint32_t>(x >> 32));
    putBe32(v, static_cast<std::uint32_t>(x));
}
inline void padTo(ByteVec& v, std::size_t n, std::byte fill = std::byte{0}) {
    if (v.size() < n) v.resize(n, fill);
}
inline void setLe32(ByteVec& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + static_cast<std::size_t>(i)] = static_cast<std::byte>((x >> (8 * i)) & 0xFF);
}
inline void setLe64(ByteVec& v, std::size_t at, std::uint64_t x) {
    for (int i = 0; i < 8; ++i) v[at + static_cast<std::size_t>(i)] = static_cast<std::byte>((x >> (8 * i)) & 0xFF);
}

// Personal folders. Header: "!BDN", CRC, client "SM", data version; then the 32-bit (ANSI:
// 14, 15) or 64-bit (Unicode: 23) block: next ids, unique, 128 bytes of high-water marks, and
// the root record whose second field is the file size (ANSI at 168, Unicode at 184); after it
// the last allocation map's offset and the free-space counters, which an ANSI file has where a
// Unicode file keeps its file size.
inline ByteVec pstOf(bool unicode, std::uint64_t fileSize) {
    ByteVec v = bytes("!BDN");
    put32(v, 0x12345678);
    put(v, "SM");
    put16(v, unicode ? 23 : 14);
    put16(v, 19);
    put8(v, 1);
    put8(v, 1);
    put32(v, 0);
    put32(v, 0);
    padTo(v, unicode ? 180 : 164);
    put32(v, 0);  // root: reserved
    if (unicode) {
        put64(v, fileSize);
        put64(v, 0x4400);      // last allocation map
        put64(v, 0x10000);     // free in the maps
        put64(v, 0x20000);
    } else {
        put32(v, static_cast<std::uint32_t>(fileSize));
        put32(v, 0x4400);
        put32(v, 0x10000);
        put32(v, 0x20000);
        put32(v, 0x21);        // node b-tree: block id and offset, where 184 lies
        put32(v, 0x4600);
    }
    padTo(v, 512);
    v.resize(static_cast<std::size_t>(fileSize), std::byte{0x5A});
    return v;
}

// Outlook Express folder: its signature and the file size at 124.
inline ByteVec dbxOf(std::uint32_t fileSize) {
    ByteVec v;
    put32(v, 0xFE12ADCF);
    put32(v, 0x6F74FDC5);
    put32(v, 0x11D1E366);
    put32(v, 0xC0004E9A);
    padTo(v, 124);
    put32(v, fileSize);
    v.resize(fileSize, std::byte{0x11});
    return v;
}

// Windows address book: the two magic words and, at 2,216, the size field.
inline ByteVec wabOf(std::uint32_t sizeField, std::size_t length = 4096) {
    ByteVec v;
    put32(v, 0x8DCBCB9C);
    put32(v, 0x11D27513);
    padTo(v, 2216, std::byte{0x33});
    put32(v, sizeField);
    v.resize(length, std::byte{0x33});
    return v;
}

// Jet (2,048-byte pages) or ACE (4,096-byte pages) database: the header page, then pages whose
// first byte is their type.
inline ByteVec accessOf(bool ace, const std::vector<unsigned>& pageTypes) {
    const std::size_t page = ace ? 4096 : 2048;
    ByteVec v;
    put32(v, 0x00000100);
    put(v, ace ? "Standard ACE DB" : "Standard Jet DB");
    put8(v, 0);
    put8(v, ace ? 2 : 0);  // engine version at 20
    padTo(v, page, std::byte{0x44});
    for (unsigned type : pageTypes) {
        ByteVec p;
        put8(p, type);
        put8(p, 1);
        padTo(p, page, std::byte{0x55});
        append(v, p);
    }
    return v;
}

// A Blender block: code, length, old address (8 or 4 bytes), structure index, count; data.
inline void blendBlock(ByteVec& v, std::string_view code, std::size_t length, bool wide, bool bigEndian = false) {
    put(v, code);
    if (bigEndian) {
        putBe32(v, static_cast<std::uint32_t>(length));
    } else {
        put32(v, static_cast<std::uint32_t>(length));
    }
    if (wide) put64(v, 0x7F0012345678ULL); else put32(v, 0x12345678);
    put32(v, 3);
    put32(v, 1);
    v.resize(v.size() + length, std::byte{0x62});
}
inline ByteVec blendOf(bool wide, std::size_t blocks, std::size_t blockLength, bool bigEndian = false) {
    ByteVec v = bytes("BLENDER");
    put(v, wide ? "-" : "_");
    put(v, bigEndian ? "V" : "v");
    put(v, "300");
    blendBlock(v, "GLOB", 200, wide, bigEndian);
    for (std::size_t i = 0; i < blocks; ++i) blendBlock(v, "DATA", blockLength + i, wide, bigEndian);
    blendBlock(v, "DNA1", 1000, wide, bigEndian);
    blendBlock(v, "ENDB", 0, wide, bigEndian);
    return v;
}

// Binary FBX: header (text, 0x1A 0x00, version), top-level nodes (end offset, property count,
// property bytes, name length, name, properties), a null record and the footer: identifier,
// padding to 16 bytes (the Blender exporter writes four zero bytes before it, assimp after it),
// the version, 120 zero bytes, the closing magic.
inline ByteVec fbxOf(std::uint32_t version, std::size_t nodes, std::size_t propertyBytes, bool zerosFirst = false,
                     const ByteVec& inside = {}) {
    const bool wide = version >= 7500;
    ByteVec v = bytes(std::string_view("Kaydara FBX Binary  \x00\x1A\x00", 23));
    put32(v, version);
    for (std::size_t i = 0; i < nodes; ++i) {
        const std::string name = "Node" + std::to_string(i);
        ByteVec props;
        put8(props, 'R');
        const std::size_t raw = propertyBytes + i + (i == 0 ? inside.size() : 0);
        put32(props, static_cast<std::uint32_t>(raw));
        if (i == 0) append(props, inside);
        props.resize(props.size() + raw - (i == 0 ? inside.size() : 0), std::byte{0x66});
        const std::size_t head = wide ? 25 : 13;
        const std::uint64_t end = v.size() + head + name.size() + props.size();
        if (wide) {
            put64(v, end);
            put64(v, 1);
            put64(v, props.size());
        } else {
            put32(v, static_cast<std::uint32_t>(end));
            put32(v, 1);
            put32(v, static_cast<std::uint32_t>(props.size()));
        }
        put8(v, static_cast<unsigned>(name.size()));
        put(v, name);
        append(v, props);
    }
    v.resize(v.size() + (wide ? 25 : 13), std::byte{0});
    for (unsigned b : {0xFA, 0xBC, 0xAB, 0x09, 0xD0, 0xC8, 0xD4, 0x66, 0xB1, 0x76, 0xFB, 0x83, 0x1C, 0xF7, 0x26, 0x7E}) put8(v, b);
    if (zerosFirst) put32(v, 0);
    const std::size_t pad = 16 - v.size() % 16;
    v.resize(v.size() + pad, std::byte{0});
    if (!zerosFirst) put32(v, 0);
    put32(v, version);
    v.resize(v.size() + 120, std::byte{0});
    for (unsigned b : {0xF8, 0x5A, 0x8C, 0x6A, 0xDE, 0xF5, 0xD9, 0x7E, 0xEC, 0xE9, 0x0C, 0xE3, 0x75, 0x8F, 0x29, 0x0B}) put8(v, b);
    return v;
}

// Text that fills `n` bytes with lines of `line`.
inline std::string linesOf(std::size_t n, const std::string& line) {
    std::string s;
    while (s.size() + line.size() <= n) s += line;
    return s;
}

inline std::string stepOf(std::size_t bodyBytes) {
    return "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION(('test'),'2;1');\nENDSEC;\nDATA;\n" +
           linesOf(bodyBytes, "#12=CARTESIAN_POINT('',(0.,1.,2.));\n") + "ENDSEC;\nEND-ISO-10303-21;\n";
}

inline std::string stlSolid(const std::string& name, std::size_t facets) {
    std::string s = "solid " + name + "\n";
    for (std::size_t i = 0; i < facets; ++i) {
        s += " facet normal 0 0 1\n  outer loop\n   vertex 0 0 0\n   vertex 1 0 0\n   vertex 1 1 0\n  endloop\n endfacet\n";
    }
    return s + "endsolid " + name + "\n";
}

// Binary STL whose 80-byte header begins with "solid": the triangle count at 80, 50 bytes each.
// A DWG header of `version`: the version text, zeros to 12, a maintenance byte and the preview
// address.
inline ByteVec dwgHeaderOf(std::string_view version) {
    ByteVec v = bytes(version);
    padTo(v, 12);
    put8(v, 1);
    put32(v, 0x1C0);
    return v;
}

// A DWG of 2010 or later: the 92 bytes at 144 (`copyBase`, `copyBase` + 1, ...) repeated at
// `copyAt`, where the file ends after them.
inline ByteVec dwgWithHeaderCopyOf(std::string_view version, unsigned copyBase, std::size_t copyAt) {
    ByteVec v = dwgHeaderOf(version);
    padTo(v, 144);
    ByteVec copy;
    for (unsigned i = 0; i < 92; ++i) put8(copy, copyBase + i);
    append(v, copy);
    padTo(v, copyAt, std::byte{0x25});
    append(v, copy);
    return v;
}

inline ByteVec stlBinaryOf(std::uint32_t triangles) {
    ByteVec v = bytes("solid made by a binary writer");
    padTo(v, 80, std::byte{' '});
    put32(v, triangles);
    for (std::uint32_t i = 0; i < triangles; ++i) {
        for (int f = 0; f < 12; ++f) put32(v, 0x3F800000u + i);
        put16(v, 0);
    }
    return v;
}

// 3DS: the main chunk (0x4D4D, its length) holding the editor chunk (0x3D3D) and a version
// chunk (0x0002).
inline ByteVec studio3dsOf(std::size_t bodyBytes) {
    ByteVec edit;
    put16(edit, 0x3D3D);
    put32(edit, static_cast<std::uint32_t>(6 + bodyBytes));
    edit.resize(edit.size() + bodyBytes, std::byte{0x31});
    ByteVec v;
    put16(v, 0x4D4D);
    put32(v, static_cast<std::uint32_t>(6 + 10 + edit.size()));
    put16(v, 0x0002);
    put32(v, 10);
    put32(v, 3);
    append(v, edit);
    return v;
}

// Text DXF: group codes and values on lines of their own, ending with a line "EOF".
inline std::string dxfOf(std::size_t entityBytes, const std::string& eol = "\n", const std::string& textValue = "hello") {
    auto pair = [&](const std::string& code, const std::string& value) { return code + eol + value + eol; };
    std::string s = pair("  0", "SECTION") + pair("  2", "HEADER") + pair("  9", "$ACADVER") + pair("  1", "AC1009") +
                    pair("  0", "ENDSEC") + pair("  0", "SECTION") + pair("  2", "ENTITIES");
    s += pair("  0", "TEXT") + pair("  8", "0") + pair("  1", textValue);
    s += linesOf(entityBytes, pair("  0", "LINE") + pair("  8", "0") + pair(" 10", "0.0") + pair(" 20", "1.0"));
    return s + pair("  0", "ENDSEC") + pair("  0", "EOF");
}

}  // namespace brenvale::raw::testing
