#pragma once
// Running the signature scan over a disk held in memory, in batches of any size, and listing
// what it found.

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "archive_bytes.h"
#include "raw/signature_scan.h"

namespace brenvale::raw::testing {

inline constexpr std::uint32_t kSector = 512;

// A disk of noise whose sectors start with a byte no format starts with.
inline ByteVec noiseDisk(std::size_t sectors, unsigned seed = 3) {
    ByteVec d = noise(sectors * kSector, seed);
    for (std::size_t s = 0; s < sectors; ++s) d[s * kSector] = std::byte{0xEE};
    return d;
}

inline void place(ByteVec& disk, std::size_t lba, const ByteVec& file) {
    std::copy(file.begin(), file.end(), disk.begin() + static_cast<std::ptrdiff_t>(lba * kSector));
}

struct Found {
    std::int64_t lba;
    std::int64_t size;
    int major;
    int minor;
    std::string ext;
    bool operator==(const Found&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "{lba " << f.lba << ", size " << f.size << ", (" << f.major << "," << f.minor << ") " << f.ext << "}";
}

// Sectors of a disk held in memory, read as a device is read: whole sectors, short at its end.
inline SectorReader memoryReader(const ByteVec& disk) {
    return [&disk](std::uint64_t lba, std::span<std::byte> into) -> std::uint32_t {
        if (lba >= disk.size() / kSector) return 0;
        const std::size_t at = static_cast<std::size_t>(lba) * kSector;
        const std::size_t n = std::min(into.size(), disk.size() - at);
        std::copy_n(disk.begin() + static_cast<std::ptrdiff_t>(at), n, into.begin());
        return static_cast<std::uint32_t>(n);
    };
}

// Runs the scan over the disk in batches of `batchSectors` and lists what it found, sorted by
// place, with the waiting hits listed as a completed scan lists them.
inline std::vector<Found> scanDisk(const ByteVec& disk, std::size_t batchSectors, const SizeTables& sizes = SizeTables()) {
    RawScan scan(sizes, kSector, memoryReader(disk));
    const std::size_t batchBytes = batchSectors * kSector;
    for (std::size_t at = 0; at < disk.size(); at += batchBytes) {
        const std::size_t n = std::min(batchBytes, disk.size() - at);
        scan.RawSignatureScan(std::span(disk).subspan(at, n), static_cast<std::int64_t>(at / kSector));
    }
    scan.FinishPending();
    std::vector<Found> out;
    for (const auto& f : scan.RawFiles) out.push_back({f.LBA, f.Size, f.MajorType, f.MinorType, std::string(f.Ext())});
    std::sort(out.begin(), out.end(), [](const Found& a, const Found& b) { return a.lba < b.lba; });
    return out;
}

inline std::optional<Found> hitAt(const std::vector<Found>& hits, std::int64_t lba) {
    for (const auto& h : hits) {
        if (h.lba == lba) return h;
    }
    return std::nullopt;
}

// Puts `file` in the middle of a batch, across a batch boundary, in the last sector of a batch
// and at the end of the disk, scans each disk in batches of each size, and expects the hit
// `expected` (its LBA set to where the file lies).
inline void ExpectFoundWherever(const ByteVec& file, Found expected, std::initializer_list<std::size_t> batches) {
    const std::size_t fileSectors = (file.size() + kSector - 1) / kSector;
    for (std::size_t lba : {std::size_t{100}, std::size_t{2040}, std::size_t{2047}, std::size_t{4096 - fileSectors}}) {
        SCOPED_TRACE(lba);
        ByteVec disk = noiseDisk(std::max<std::size_t>(4096, lba + fileSectors));
        place(disk, lba, file);
        expected.lba = static_cast<std::int64_t>(lba);
        for (std::size_t batch : batches) {
            SCOPED_TRACE(batch);
            const auto hit = hitAt(scanDisk(disk, batch), expected.lba);
            ASSERT_TRUE(hit.has_value());
            EXPECT_EQ(*hit, expected);
        }
    }
}

}  // namespace brenvale::raw::testing
