#include "scan/ntfs_geometry.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "storage/ntfs_records.h"

namespace brenvale::scan {

namespace {

constexpr std::uint32_t kMaxClusterBytes = 2u << 20;
constexpr std::uint32_t kMaxRecordSize = 4096;

bool saneSectorSize(std::uint32_t bps) { return bps >= 256 && bps <= 4096 && std::has_single_bit(bps); }

}  // namespace

std::uint32_t DecodeNtfsSectorsPerCluster(std::uint8_t value) {
    if (value <= 0x80) return value;
    const unsigned shift = 256u - value;
    return shift < 31 ? 1u << shift : 0;
}

std::uint32_t GetNtfsRecordSize(const storage::TBootSector& boot, std::uint32_t partitionBps) {
    const auto b = boot.NtfsBootSect();
    const std::uint32_t c = b.ExtBPB.ClustersPerFileRecord;
    std::uint64_t size = 0;
    if (c < 128) {
        const std::uint32_t bps = partitionBps != 0 ? partitionBps : 512;
        // At most 127 x 2^32 x 2^30: no wrap in 64 bits.
        size = std::uint64_t{c} * bps * DecodeNtfsSectorsPerCluster(b.BPB.SectorsPerCluster);
    } else {
        size = std::uint64_t{1} << ((0u - c) % 32);
    }
    size = std::max<std::uint64_t>(size, storage::kMinFileRecordSize);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0x80000000u));
}

std::optional<NtfsGeometry> MakeNtfsGeometry(const storage::TBootSector& boot, std::uint32_t deviceBps) {
    const auto b = boot.NtfsBootSect();
    NtfsGeometry g;
    g.bytesPerSector = saneSectorSize(b.BPB.BytesPerSector) ? b.BPB.BytesPerSector : deviceBps;
    if (!saneSectorSize(g.bytesPerSector)) return std::nullopt;
    g.sectorsPerCluster = DecodeNtfsSectorsPerCluster(b.BPB.SectorsPerCluster);
    if (g.sectorsPerCluster == 0 || !std::has_single_bit(g.sectorsPerCluster)) return std::nullopt;
    const std::uint64_t cluster = std::uint64_t{g.sectorsPerCluster} * g.bytesPerSector;
    if (cluster > kMaxClusterBytes) return std::nullopt;
    g.clusterBytes = static_cast<std::uint32_t>(cluster);
    g.recordSize = GetNtfsRecordSize(boot, g.bytesPerSector);
    if (g.recordSize > kMaxRecordSize || !std::has_single_bit(g.recordSize)) return std::nullopt;
    g.mftCluster = b.ExtBPB.MFTLogicalClusterNumber;
    if (g.mftCluster > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / cluster) return std::nullopt;
    g.mftByteOffset = g.mftCluster * cluster;
    return g;
}

}  // namespace brenvale::scan
