#pragma once
// Compound files built byte by byte from the published layout: a header, the allocation table
// (FAT, and DIFAT sectors when it needs more than 109 sectors), the directory, the mini stream
// with its own table for the streams under 4,096 bytes, and the other streams in whole
// sectors. Every sector is used, so the file's length is where its last sector ends.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive_bytes.h"

namespace brenvale::raw::testing {

inline constexpr std::uint32_t kCfFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kCfEnd = 0xFFFFFFFE;
inline constexpr std::uint32_t kCfFatSector = 0xFFFFFFFD;
inline constexpr std::uint32_t kCfDifatSector = 0xFFFFFFFC;

class CompoundBytes {
public:
    explicit CompoundBytes(unsigned sectorShift = 9) : shift_(sectorShift), cs_(1u << sectorShift) {}

    CompoundBytes& stream(std::string name, ByteVec data) {
        streams_.push_back({std::move(name), std::move(data)});
        return *this;
    }
    // The second and later DIFAT sectors go to the end of the file instead of after the first.
    CompoundBytes& difatApart() {
        difatApart_ = true;
        return *this;
    }

    ByteVec build() {
        const std::uint32_t perFat = cs_ / 4;
        const std::uint32_t perDifat = perFat - 1;
        // The mini stream: small streams at 64-byte steps.
        ByteVec mini;
        std::vector<std::uint32_t> miniStart(streams_.size(), kCfEnd);
        std::vector<std::uint32_t> miniChains;  // mini FAT
        std::vector<std::uint32_t> bigSectors(streams_.size(), 0);
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            const ByteVec& d = streams_[i].data;
            if (d.size() >= 4096) {
                bigSectors[i] = static_cast<std::uint32_t>((d.size() + cs_ - 1) / cs_);
                continue;
            }
            if (d.empty()) continue;
            const auto first = static_cast<std::uint32_t>(mini.size() / 64);
            miniStart[i] = first;
            append(mini, d);
            mini.resize((mini.size() + 63) / 64 * 64, std::byte{0});
            const auto last = static_cast<std::uint32_t>(mini.size() / 64);
            for (std::uint32_t m = first; m < last; ++m) miniChains.push_back(m + 1 == last ? kCfEnd : m + 1);
        }
        const std::uint32_t dirSectors = static_cast<std::uint32_t>(((streams_.size() + 1) * 128 + cs_ - 1) / cs_);
        const std::uint32_t miniFatSectors = static_cast<std::uint32_t>((miniChains.size() * 4 + cs_ - 1) / cs_);
        const std::uint32_t miniSectors = static_cast<std::uint32_t>((mini.size() + cs_ - 1) / cs_);
        std::uint32_t data = dirSectors + miniFatSectors + miniSectors;
        for (auto n : bigSectors) data += n;
        std::uint32_t f = 1, dd = 0;
        for (;; ++f) {
            dd = f > 109 ? (f - 109 + perDifat - 1) / perDifat : 0;
            if (std::uint64_t{f} * perFat >= data + f + dd) break;
        }

        // Sector numbers, in file order.
        std::uint32_t next = 0;
        auto take = [&](std::uint32_t n) {
            const std::uint32_t at = next;
            next += n;
            return at;
        };
        FatSectors.clear();
        for (std::uint32_t i = 0; i < f; ++i) FatSectors.push_back(take(1));
        DifatSectors.clear();
        for (std::uint32_t i = 0; i < dd && (!difatApart_ || i == 0); ++i) DifatSectors.push_back(take(1));
        DirectorySector = take(dirSectors);
        const std::uint32_t miniFatAt = take(miniFatSectors);
        const std::uint32_t miniAt = take(miniSectors);
        std::vector<std::uint32_t> bigAt(streams_.size(), kCfEnd);
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            if (bigSectors[i]) bigAt[i] = take(bigSectors[i]);
        }
        while (DifatSectors.size() < dd) DifatSectors.push_back(take(1));
        const std::uint32_t total = next;

        std::vector<std::uint32_t> fat(std::size_t{f} * perFat, kCfFree);
        for (auto k : FatSectors) fat[k] = kCfFatSector;
        for (auto k : DifatSectors) fat[k] = kCfDifatSector;
        auto chain = [&](std::uint32_t first, std::uint32_t n) {
            for (std::uint32_t k = first; k < first + n; ++k) fat[k] = k + 1 == first + n ? kCfEnd : k + 1;
        };
        chain(DirectorySector, dirSectors);
        chain(miniFatAt, miniFatSectors);
        chain(miniAt, miniSectors);
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            if (bigSectors[i]) chain(bigAt[i], bigSectors[i]);
        }

        ByteVec out;
        put(out, std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
        out.resize(24, std::byte{0});
        put16(out, 0x3E);
        put16(out, shift_ == 9 ? 3 : 4);
        put16(out, 0xFFFE);
        put16(out, shift_);
        put16(out, 6);
        out.resize(40, std::byte{0});
        put32(out, shift_ == 9 ? 0 : dirSectors);
        put32(out, f);
        put32(out, DirectorySector);
        put32(out, 0);
        put32(out, 4096);
        put32(out, miniFatSectors ? miniFatAt : kCfEnd);
        put32(out, miniFatSectors);
        put32(out, dd ? DifatSectors[0] : kCfEnd);
        put32(out, dd);
        for (std::uint32_t i = 0; i < 109; ++i) put32(out, i < f ? FatSectors[i] : kCfFree);
        out.resize(cs_, std::byte{0});
        out.resize(std::size_t{cs_} * (total + 1), std::byte{0});

        auto sectorAt = [&](std::uint32_t k) { return std::size_t{k + 1} * cs_; };
        auto write32 = [&](std::size_t at, std::uint32_t v) {
            for (int b = 0; b < 4; ++b) out[at + static_cast<std::size_t>(b)] = static_cast<std::byte>((v >> (8 * b)) & 0xFF);
        };
        for (std::uint32_t i = 0; i < f; ++i) {
            for (std::uint32_t e = 0; e < perFat; ++e) write32(sectorAt(FatSectors[i]) + e * 4, fat[std::size_t{i} * perFat + e]);
        }
        for (std::uint32_t d = 0; d < dd; ++d) {
            for (std::uint32_t e = 0; e < perDifat; ++e) {
                const std::uint32_t i = 109 + d * perDifat + e;
                write32(sectorAt(DifatSectors[d]) + e * 4, i < f ? FatSectors[i] : kCfFree);
            }
            write32(sectorAt(DifatSectors[d]) + perDifat * 4, d + 1 < dd ? DifatSectors[d + 1] : kCfEnd);
        }
        for (std::size_t m = 0; m < miniChains.size(); ++m) write32(sectorAt(miniFatAt) + m * 4, miniChains[m]);
        std::copy(mini.begin(), mini.end(), out.begin() + static_cast<std::ptrdiff_t>(sectorAt(miniAt)));
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            if (bigSectors[i]) {
                std::copy(streams_[i].data.begin(), streams_[i].data.end(),
                          out.begin() + static_cast<std::ptrdiff_t>(sectorAt(bigAt[i])));
            }
        }
        // The directory: the root, then the streams as a chain of right siblings.
        const std::size_t dir = sectorAt(DirectorySector);
        auto entry = [&](std::size_t index, const std::string& name, std::uint8_t type, std::uint32_t right,
                         std::uint32_t child, std::uint32_t start, std::uint64_t size) {
            ByteVec e;
            for (char c : name) put16(e, static_cast<unsigned char>(c));
            e.resize(64, std::byte{0});
            put16(e, static_cast<unsigned>((name.size() + 1) * 2));
            put8(e, type);
            put8(e, 1);  // black
            put32(e, kCfFree);
            put32(e, right);
            put32(e, child);
            e.resize(116, std::byte{0});
            put32(e, start);
            put64(e, size);
            std::copy(e.begin(), e.end(), out.begin() + static_cast<std::ptrdiff_t>(dir + index * 128));
        };
        entry(0, "Root Entry", 5, kCfFree, streams_.empty() ? kCfFree : 1, miniSectors ? miniAt : kCfEnd, mini.size());
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            const std::uint32_t right = i + 1 < streams_.size() ? static_cast<std::uint32_t>(i + 2) : kCfFree;
            entry(i + 1, streams_[i].name, 2, right, kCfFree, bigSectors[i] ? bigAt[i] : miniStart[i], streams_[i].data.size());
        }
        for (std::size_t i = streams_.size() + 1; i < std::size_t{dirSectors} * cs_ / 128; ++i) {
            ByteVec e(128, std::byte{0});
            for (std::size_t b = 68; b < 80; ++b) e[b] = std::byte{0xFF};  // no siblings, no child
            std::copy(e.begin(), e.end(), out.begin() + static_cast<std::ptrdiff_t>(dir + i * 128));
        }
        perFat_ = perFat;
        return out;
    }

    // Where FAT entry k lies in the built file.
    std::size_t FatEntryOffset(std::uint32_t k) const {
        return std::size_t{FatSectors[k / perFat_] + 1} * cs_ + (k % perFat_) * 4;
    }

    std::vector<std::uint32_t> FatSectors;
    std::vector<std::uint32_t> DifatSectors;
    std::uint32_t DirectorySector = 0;

private:
    struct Stream {
        std::string name;
        ByteVec data;
    };
    unsigned shift_;
    std::uint32_t cs_;
    std::uint32_t perFat_ = 128;
    bool difatApart_ = false;
    std::vector<Stream> streams_;
};

// A property set of one section of 8-bit string properties (type 30) and a code page.
inline ByteVec propertySet(bool documentSummary, const std::vector<std::pair<std::uint32_t, std::string>>& props) {
    ByteVec section;
    const std::size_t n = props.size() + 1;
    ByteVec values;
    std::vector<std::uint32_t> offsets;
    offsets.push_back(static_cast<std::uint32_t>(8 + n * 8 + values.size()));
    put32(values, 2);  // VT_I2: the code page
    put32(values, 1252);
    for (const auto& [id, text] : props) {
        offsets.push_back(static_cast<std::uint32_t>(8 + n * 8 + values.size()));
        put32(values, 30);
        put32(values, static_cast<std::uint32_t>(text.size() + 1));
        put(values, text);
        values.push_back(std::byte{0});
        while (values.size() % 4) values.push_back(std::byte{0});
    }
    put32(section, static_cast<std::uint32_t>(8 + n * 8 + values.size()));
    put32(section, static_cast<std::uint32_t>(n));
    put32(section, 1);
    put32(section, offsets[0]);
    for (std::size_t i = 0; i < props.size(); ++i) {
        put32(section, props[i].first);
        put32(section, offsets[i + 1]);
    }
    append(section, values);

    ByteVec set;
    put16(set, 0xFFFE);
    put16(set, 0);
    put32(set, 0x00020006);
    set.resize(24, std::byte{0});
    put32(set, 1);
    put(set, documentSummary ? std::string_view("\x02\xD5\xCD\xD5\x9C\x2E\x1B\x10\x93\x97\x08\x00\x2B\x2C\xF9\xAE", 16)
                             : std::string_view("\xE0\x85\x9F\xF2\xF9\x4F\x68\x10\xAB\x91\x08\x00\x2B\x27\xB3\xD9", 16));
    put32(set, 48);
    append(set, section);
    return set;
}

}  // namespace brenvale::raw::testing
