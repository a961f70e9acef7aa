#pragma once
// Geometry of a FAT12/16/32 or exFAT volume, worked out once from its boot-sector copy.
// Sector numbers are partition-relative and counted in the volume's own sectors.

#include <cstdint>
#include <optional>

#include "storage/boot_sectors.h"

namespace brenvale::scan {

struct FatGeometry {
    std::uint8_t fs = 0;                 // file-system code
    std::uint32_t bytesPerSector = 0;    // the boot sector's; the device's where that is below 32
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;   // exFAT: FATOffset
    std::uint32_t numberOfFats = 0;
    std::uint32_t fatSize = 0;           // sectors per FAT
    std::uint32_t rootEntries = 0;       // FAT12/16 fixed root
    std::uint64_t rootFirstSector = 0;   // FAT12/16 fixed root
    std::uint32_t rootSectors = 0;       // sectors read for the fixed root: rootEntries div entries per sector
    std::uint32_t rootCluster = 0;       // FAT32 and exFAT
    std::uint64_t firstDataSector = 0;   // first sector of cluster 2
    std::uint64_t totalSectors = 0;
    std::uint32_t dataClusters = 0;      // the chain limit; 0 for impossible geometry
    std::uint32_t clusterCount = 0;      // exFAT ClusterCount

    std::uint32_t entriesPerSector() const { return bytesPerSector / 32; }
    std::uint64_t clusterBytes() const { return std::uint64_t{sectorsPerCluster} * bytesPerSector; }
    // First sector of cluster c (c >= 2); nullopt for clusters below 2.
    std::optional<std::uint64_t> clusterSector(std::uint32_t c) const {
        if (c < 2) return std::nullopt;
        return firstDataSector + std::uint64_t{c - 2} * sectorsPerCluster;
    }
};

// deviceBytesPerSector stands in for a FAT boot sector's bytes per sector below 32.
FatGeometry MakeFatGeometry(const storage::TBootSector& boot, std::uint32_t deviceBytesPerSector);

// The highest-cluster estimate of the high-word search (FAT12/16 in 32-bit unsigned
// arithmetic as the volume's own tools compute it).
std::uint32_t MaxClusNum(const storage::TBootSector& boot, std::uint32_t deviceBytesPerSector);

}  // namespace brenvale::scan
