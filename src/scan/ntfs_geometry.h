#pragma once
// The geometry an NTFS volume is read with, decided once from its boot sector and the device's
// sector size. Every product is checked, so a damaged boot sector yields no geometry instead
// of a 2 GiB record or a cluster size that wraps.

#include <cstdint>
#include <optional>

#include "storage/boot_sectors.h"

namespace brenvale::scan {

struct NtfsGeometry {
    std::uint32_t bytesPerSector = 0;     // the boot sector's when sane, else the device's
    std::uint32_t sectorsPerCluster = 0;  // decoded: byte values above 0x80 mean 2^(256 - v)
    std::uint32_t clusterBytes = 0;
    std::uint32_t recordSize = 0;         // file record length, 1024 to 4096
    std::uint64_t mftCluster = 0;
    std::uint64_t mftByteOffset = 0;      // volume-relative

    bool operator==(const NtfsGeometry&) const = default;
};

// Sectors per cluster of the boot sector's byte, 0 when the byte is impossible.
std::uint32_t DecodeNtfsSectorsPerCluster(std::uint8_t value);

// File record length from the boot sector (0xF6 in the clusters-per-record byte gives 1024);
// never below 1024; saturated at 2^31. partitionBps stands in for a boot sector sector size of 0.
std::uint32_t GetNtfsRecordSize(const storage::TBootSector& boot, std::uint32_t partitionBps);

// nullopt when the boot sector cannot describe a readable volume: a sector size that is not a
// power of two from 256 to 4096 (then the device's, `deviceBps`, is taken if that one is), an
// impossible cluster (0, not a power of two, over 2 MiB), a record length outside 1024..4096
// or not a power of two, or an MFT position past 2^63 bytes.
std::optional<NtfsGeometry> MakeNtfsGeometry(const storage::TBootSector& boot, std::uint32_t deviceBps);

}  // namespace brenvale::scan
