#include "scan/fat_geometry.h"

#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {

std::uint32_t bpsOf(std::uint16_t bootBps, std::uint32_t deviceBps) {
    return bootBps >= 32 ? bootBps : deviceBps;
}

// Clusters after the system areas, in 64 bits; 0 when the geometry cannot hold any.
std::uint32_t countClusters(std::uint64_t total, std::uint64_t systemSectors, std::uint32_t spc, std::uint32_t bps) {
    if (bps == 0 || spc == 0 || total == 0 || total <= systemSectors) return 0;
    const std::uint64_t n = (total - systemSectors) / spc;
    return n > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<std::uint32_t>(n);
}

}  // namespace

FatGeometry MakeFatGeometry(const storage::TBootSector& boot, std::uint32_t deviceBps) {
    FatGeometry g;
    g.fs = boot.FileSystemType;
    if (g.fs == storage::kFsExfat) {
        const auto b = boot.ExfatBootSect().BPB;
        g.bytesPerSector = b.BytesPerSectorShift >= 9 && b.BytesPerSectorShift <= 12 ? 1u << b.BytesPerSectorShift
                                                                                     : deviceBps;
        g.sectorsPerCluster = 1u << (b.SectorsPerClusterShift & 31);
        g.reservedSectors = b.FATOffset;
        g.numberOfFats = b.NumberOfFATs;
        g.fatSize = b.FATLength;
        g.rootCluster = b.RootDirectoryFirstCluster;
        g.firstDataSector = b.ClusterHeapOffset;
        g.totalSectors = b.VolumeLength;
        g.clusterCount = b.ClusterCount;
        g.dataClusters = b.ClusterCount;
        return g;
    }
    const auto b = boot.Fat32BootSect().BPB;  // the FAT12/16 fields sit at the same offsets
    g.bytesPerSector = bpsOf(b.BytesPerSector, deviceBps);
    g.sectorsPerCluster = b.SectorsPerCluster;
    g.reservedSectors = b.ReservedSectors;
    g.numberOfFats = b.NumberofFATs;
    const std::uint32_t eps = g.entriesPerSector();
    if (g.fs == storage::kFsFat32) {
        g.fatSize = b.SectorsPerFAT32;
        g.rootCluster = b.RootClusterNumber;
        g.totalSectors = b.LargeSectors;
    } else {
        g.fatSize = b.SectorsPerFAT;
        g.rootEntries = b.RootEntries;
        g.totalSectors = b.SmallSectors != 0 ? b.SmallSectors : b.LargeSectors;
        g.rootSectors = eps ? g.rootEntries / eps : 0;
    }
    g.rootFirstSector = std::uint64_t{g.numberOfFats} * g.fatSize + g.reservedSectors;
    g.firstDataSector = g.rootFirstSector + g.rootSectors;
    // The cluster count rounds the root area up; the walk reads whole sectors of it.
    const std::uint64_t rootArea =
        g.bytesPerSector ? (std::uint64_t{g.rootEntries} * 32 + g.bytesPerSector - 1) / g.bytesPerSector : 0;
    g.dataClusters = countClusters(g.totalSectors, g.rootFirstSector + rootArea, g.sectorsPerCluster, g.bytesPerSector);
    return g;
}

std::uint32_t MaxClusNum(const storage::TBootSector& boot, std::uint32_t deviceBps) {
    const auto b = boot.Fat32BootSect().BPB;
    if (b.SectorsPerCluster == 0) return 0;
    if (boot.FileSystemType == storage::kFsFat32) {
        const std::uint64_t sys = std::uint64_t{b.NumberofFATs} * b.SectorsPerFAT32 + b.ReservedSectors;
        return b.LargeSectors > sys ? static_cast<std::uint32_t>((b.LargeSectors - sys) / b.SectorsPerCluster) : 0;
    }
    const std::uint32_t eps = bpsOf(b.BytesPerSector, deviceBps) / 32;
    const std::uint32_t v = std::uint32_t{b.SmallSectors} + b.LargeSectors - std::uint32_t{b.SectorsPerFAT} * b.NumberofFATs -
                            b.ReservedSectors - (eps ? b.RootEntries / eps : 0);
    return v / b.SectorsPerCluster - 2;
}

}  // namespace brenvale::scan
