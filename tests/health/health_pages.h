#pragma once
// Drive pages built byte by byte, as drives return them: S.M.A.R.T. data and thresholds,
// ATA identify data with its swapped character pairs, NVMe identify and health log.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "storage/le.h"

namespace brenvale::test {

struct Attr {
    std::uint8_t id;
    std::uint8_t value;
    std::uint8_t worst;
    std::uint64_t raw;
};

// A data page with the attributes in slots 0, 1, ... and the given revision word.
inline std::vector<std::byte> SmartDataPage(const std::vector<Attr>& attrs, std::uint16_t revision = 0x0010) {
    std::vector<std::byte> p(512);
    (void)storage::putLe16(p, 0, revision);
    for (std::size_t i = 0; i < attrs.size() && i < 30; ++i) {
        const std::size_t off = 2 + 12 * i;
        p[off] = std::byte{attrs[i].id};
        (void)storage::putLe16(p, off + 1, 0x0033);
        p[off + 3] = std::byte{attrs[i].value};
        p[off + 4] = std::byte{attrs[i].worst};
        for (int b = 0; b < 6; ++b) p[off + 5 + b] = static_cast<std::byte>((attrs[i].raw >> (8 * b)) & 0xFF);
    }
    return p;
}

// A threshold page with (ID, threshold) entries in slots 0, 1, ...
inline std::vector<std::byte> SmartThresholdPage(const std::vector<std::pair<std::uint8_t, std::uint8_t>>& entries) {
    std::vector<std::byte> p(512);
    (void)storage::putLe16(p, 0, 0x0010);
    for (std::size_t i = 0; i < entries.size() && i < 30; ++i) {
        p[2 + 12 * i] = std::byte{entries[i].first};
        p[2 + 12 * i + 1] = std::byte{entries[i].second};
    }
    return p;
}

// Puts `text` blank-padded into `len` bytes at `off`, the first character of each pair in the
// odd byte, as ATA strings are stored.
inline void PutAtaString(std::vector<std::byte>& p, std::size_t off, std::size_t len, const std::string& text) {
    for (std::size_t i = 0; i < len; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        p[off + (i ^ 1)] = static_cast<std::byte>(c);
    }
}

inline std::vector<std::byte> IdentifyPage(const std::string& model, const std::string& serial,
                                           const std::string& firmware) {
    std::vector<std::byte> p(512);
    p[0] = std::byte{0x40};  // a fixed, non-removable ATA device
    PutAtaString(p, 20, 20, serial);
    PutAtaString(p, 46, 8, firmware);
    PutAtaString(p, 54, 40, model);
    return p;
}

inline std::vector<std::byte> NvmeIdentifyPage(const std::string& model, const std::string& serial,
                                               const std::string& firmware) {
    std::vector<std::byte> p(4096);
    const auto put = [&](std::size_t off, std::size_t len, const std::string& text) {
        for (std::size_t i = 0; i < len; ++i) p[off + i] = static_cast<std::byte>(i < text.size() ? text[i] : ' ');
    };
    put(4, 20, serial);
    put(24, 40, model);
    put(64, 8, firmware);
    return p;
}

struct NvmeLogFields {
    std::uint8_t criticalWarning = 0;
    std::uint16_t kelvin = 308;  // 35 degrees
    std::uint8_t spare = 100;
    std::uint8_t spareThreshold = 10;
    std::uint8_t used = 3;
    std::uint64_t powerCycles = 120;
    std::uint64_t powerOnHours = 4000;
    std::uint64_t mediaErrors = 0;
};

inline std::vector<std::byte> NvmeHealthLogPage(const NvmeLogFields& f) {
    std::vector<std::byte> p(512);
    p[0] = std::byte{f.criticalWarning};
    (void)storage::putLe16(p, 1, f.kelvin);
    p[3] = std::byte{f.spare};
    p[4] = std::byte{f.spareThreshold};
    p[5] = std::byte{f.used};
    (void)storage::putLe64(p, 112, f.powerCycles);
    (void)storage::putLe64(p, 128, f.powerOnHours);
    (void)storage::putLe64(p, 160, f.mediaErrors);
    return p;
}

}  // namespace brenvale::test
