#pragma once
// Small archives built byte by byte from their published layouts, for the tests of the length
// parsers: every size and offset is known from the bytes written, never from the parser.

#include <bzlib.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace brenvale::raw::testing {

using ByteVec = std::vector<std::byte>;

inline void put(ByteVec& v, std::string_view s) {
    for (char c : s) v.push_back(static_cast<std::byte>(c));
}
inline void put8(ByteVec& v, unsigned x) {
    v.push_back(static_cast<std::byte>(x & 0xFF));
}
inline void put16(ByteVec& v, unsigned x) {
    put8(v, x);
    put8(v, x >> 8);
}
inline void put32(ByteVec& v, std::uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}
inline void put64(ByteVec& v, std::uint64_t x) {
    put32(v, static_cast<std::uint32_t>(x));
    put32(v, static_cast<std::uint32_t>(x >> 32));
}
inline ByteVec bytes(std::string_view s) {
    ByteVec v;
    put(v, s);
    return v;
}
inline void append(ByteVec& v, const ByteVec& more) {
    v.insert(v.end(), more.begin(), more.end());
}
inline std::uint32_t crc32Of(const ByteVec& data) {
    return static_cast<std::uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// A ZIP of stored members. A streamed member has flag bit 3 and zero sizes in its local header,
// followed by a data descriptor with or without its signature, with 32- or 64-bit sizes.
class ZipBytes {
public:
    enum class Descriptor { None, Plain, Signed, Signed64 };

    ZipBytes& add(std::string name, ByteVec data, Descriptor d = Descriptor::None) {
        const std::uint32_t crc = crc32Of(data);
        const std::uint32_t offset = static_cast<std::uint32_t>(out_.size());
        const bool streamed = d != Descriptor::None;
        put32(out_, 0x04034B50);
        put16(out_, 20);
        put16(out_, streamed ? 8 : 0);
        put16(out_, 0);  // stored
        put32(out_, 0);  // time, date
        put32(out_, streamed ? 0 : crc);
        put32(out_, streamed ? 0 : static_cast<std::uint32_t>(data.size()));
        put32(out_, streamed ? 0 : static_cast<std::uint32_t>(data.size()));
        put16(out_, static_cast<unsigned>(name.size()));
        put16(out_, 0);
        put(out_, name);
        append(out_, data);
        if (d == Descriptor::Signed || d == Descriptor::Signed64) put32(out_, 0x08074B50);
        if (streamed) put32(out_, crc);
        if (d == Descriptor::Plain || d == Descriptor::Signed) {
            put32(out_, static_cast<std::uint32_t>(data.size()));
            put32(out_, static_cast<std::uint32_t>(data.size()));
        } else if (d == Descriptor::Signed64) {
            put64(out_, data.size());
            put64(out_, data.size());
        }
        ByteVec c;
        put32(c, 0x02014B50);
        put16(c, 20);
        put16(c, 20);
        put16(c, streamed ? 8 : 0);
        put16(c, 0);
        put32(c, 0);
        put32(c, crc);
        put32(c, static_cast<std::uint32_t>(data.size()));
        put32(c, static_cast<std::uint32_t>(data.size()));
        put16(c, static_cast<unsigned>(name.size()));
        put16(c, 0);
        put16(c, 0);
        put16(c, 0);
        put16(c, 0);
        put32(c, 0);
        put32(c, offset);
        put(c, name);
        append(central_, c);
        ++count_;
        return *this;
    }
    // The archive with its central directory and end record (and an archive comment).
    ByteVec finish(std::string_view comment = {}) const {
        ByteVec v = out_;
        const auto cdOffset = static_cast<std::uint32_t>(v.size());
        append(v, central_);
        put32(v, 0x06054B50);
        put16(v, 0);
        put16(v, 0);
        put16(v, count_);
        put16(v, count_);
        put32(v, static_cast<std::uint32_t>(central_.size()));
        put32(v, cdOffset);
        put16(v, static_cast<unsigned>(comment.size()));
        put(v, comment);
        return v;
    }
    // Offset of the central directory in finish()'s bytes.
    std::size_t centralOffset() const { return out_.size(); }

private:
    ByteVec out_;
    ByteVec central_;
    unsigned count_ = 0;
};

// A RAR 4 archive of stored members: marker, main header, one file block each (its data as
// ADD_SIZE), end-of-archive block.
inline ByteVec rar4(const std::vector<std::pair<std::string, ByteVec>>& members, bool endBlock = true) {
    ByteVec v = bytes(std::string_view("Rar!\x1A\x07\x00", 7));
    auto block = [&](unsigned type, unsigned flags, ByteVec body, std::uint32_t addSize, const ByteVec& data) {
        ByteVec h;
        put8(h, type);
        put16(h, flags);
        const bool isLong = flags & 0x8000;
        put16(h, static_cast<unsigned>(7 + (isLong ? 4 : 0) + body.size()));
        if (isLong) put32(h, addSize);
        append(h, body);
        const auto crc = crc32Of(h) & 0xFFFF;
        put16(v, crc);
        append(v, h);
        append(v, data);
    };
    ByteVec mainBody(6, std::byte{0});
    block(0x73, 0, mainBody, 0, {});
    for (const auto& [name, data] : members) {
        ByteVec body;
        put32(body, static_cast<std::uint32_t>(data.size()));  // unpacked size
        put8(body, 2);                                         // host OS
        put32(body, crc32Of(data));
        put32(body, 0);                                        // time
        put8(body, 29);                                        // version
        put8(body, 0x30);                                      // stored
        put16(body, static_cast<unsigned>(name.size()));
        put32(body, 0x20);
        put(body, name);
        block(0x74, 0x8000, body, static_cast<std::uint32_t>(data.size()), data);
    }
    if (endBlock) block(0x7B, 0x4000, {}, 0, {});
    return v;
}

// One ustar header block for a member of `size` bytes; `sizeField` overrides the octal text.
inline ByteVec tarHeader(std::string_view name, std::uint64_t size, std::string_view sizeField = {}) {
    ByteVec h(512, std::byte{0});
    auto text = [&](std::size_t off, std::string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i) h[off + i] = static_cast<std::byte>(s[i]);
    };
    text(0, name);
    text(100, "0000644");
    text(108, "0000000");
    text(116, "0000000");
    char octal[16];
    std::snprintf(octal, sizeof octal, "%011llo", static_cast<unsigned long long>(size));
    text(124, sizeField.empty() ? std::string_view(octal) : sizeField);
    text(136, "00000000000");
    h[156] = std::byte{'0'};
    text(257, std::string_view("ustar\0" "00", 8));
    text(148, "        ");
    unsigned sum = 0;
    for (auto b : h) sum += std::to_integer<unsigned>(b);
    char check[8];
    std::snprintf(check, sizeof check, "%06o", sum);
    text(148, check);
    h[154] = std::byte{0};
    return h;
}

// A TAR of the members, with the two end blocks and the padding to 10,240 bytes.
inline ByteVec tarOf(const std::vector<std::pair<std::string, ByteVec>>& members) {
    ByteVec v;
    for (const auto& [name, data] : members) {
        append(v, tarHeader(name, data.size()));
        append(v, data);
        v.resize((v.size() + 511) / 512 * 512, std::byte{0});
    }
    v.resize(v.size() + 1024, std::byte{0});
    v.resize((v.size() + 10239) / 10240 * 10240, std::byte{0});
    return v;
}

// A gzip member of `data` at zlib `level` (1, 6, 9: extra flags 4, 0, 2).
inline ByteVec gzipOf(const ByteVec& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    ByteVec out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline ByteVec bzip2Of(const ByteVec& data, int blockSize100k) {
    unsigned int size = static_cast<unsigned>(data.size() + data.size() / 100 + 700);
    ByteVec out(size);
    BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                             reinterpret_cast<char*>(const_cast<std::byte*>(data.data())),
                             static_cast<unsigned>(data.size()), blockSize100k, 0, 0);
    out.resize(size);
    return out;
}

// Text-like bytes that compress, and noise that does not.
inline ByteVec textBytes(std::size_t n, unsigned seed = 1) {
    ByteVec v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        v[i] = static_cast<std::byte>("the quick brown fox jumps over lazy dogs\n"[(x >> 16) % 41]);
    }
    return v;
}
inline ByteVec noise(std::size_t n, unsigned seed = 7) {
    ByteVec v(n);
    std::uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        // No byte 0x50 ('P'), so noise never holds a ZIP signature by chance.
        auto b = static_cast<unsigned char>(x >> 24);
        v[i] = static_cast<std::byte>(b == 'P' ? 'Q' : b);
    }
    return v;
}

}  // namespace brenvale::raw::testing
