// Cluster chains from the FAT, and the search for the lost high word of a deleted FAT32
// folder's first cluster.

#include <algorithm>
#include <array>
#include <cctype>

#include "scan/fat_table.h"
#include "scan/file_signatures.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/fs_types.h"

namespace brenvale::scan {

namespace {

bool validFatSectorSize(std::uint32_t bps) { return bps == 512 || bps == 1024 || bps == 2048 || bps == 4096; }

using storage::u8;

}  // namespace

bool TUndelete::GetClusNumChain(std::uint32_t FirstClus, TClusterBuf& Chain, std::uint32_t& Count) {
    Chain.assign(1, FirstClus);
    Count = 1;
    try {
        const std::uint8_t fs = FileSystem();
        if (fs == storage::kFsNtfs) return false;
        if (fs != storage::kFsFat12 && fs != storage::kFsFat16 && fs != storage::kFsFat32 && fs != storage::kFsExfat) {
            return true;
        }
        const std::uint32_t limit = FGeo.dataClusters;
        if (fs != storage::kFsExfat && !validFatSectorSize(FGeo.bytesPerSector)) return true;
        if (limit == 0 || FirstClus < 2 || std::uint64_t{FirstClus} > std::uint64_t{limit} + 1) return true;
        if (!FFat) return true;

        // A real chain never meets a cluster twice; a looping one is cut where it comes back.
        FChainSeen.clear();
        FChainSeen.insert(FirstClus);
        std::uint32_t n = FirstClus;
        while (Count < limit) {
            // A damaged FAT can chain a good part of the volume; a stop must not wait for it.
            if (Count % 65536 == 0 && FTerminated) break;
            std::uint32_t v = FFat->Entry(n);
            if (fs == storage::kFsFat12) {
                if (v == 0xFFF || v == 0) break;
            } else if (fs == storage::kFsFat16) {
                if (v == 0xFFFF || v == 0) break;
            } else if (fs == storage::kFsFat32) {
                if (v == 0 || v == 0x0FFFFFF8 || v == 0x0FFFFFFF || static_cast<std::int32_t>(v) < 2) break;
            } else {
                if (v >= 0xFFFFFFF8u || v == 0) break;
                v &= 0x0FFFFFFF;
            }
            if (v < 2 || std::uint64_t{v} > std::uint64_t{limit} + 1) break;
            if (!FChainSeen.insert(v).second) break;
            if (Chain.size() == Chain.capacity()) Chain.reserve(Chain.size() + 1024);
            Chain.push_back(v);
            ++Count;
            n = v;
        }
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
        return false;
    }
}

std::uint32_t TUndelete::maxclusnum() const { return MaxClusNum(FPartition->BootSector, FDevice->BytesPerSector()); }

std::int64_t TUndelete::FindHiClusNum(const std::string& FileName, std::int64_t HiClusNum, std::uint32_t LoClusNum) {
    try {
        const std::string ext = LowerExtension(FileName);
        if (ext.empty()) return -1;
        const ExtensionSignature* row = SignatureOfExtension(ext);
        if (!row) return -1;
        const bool folderProbe = ext == kFolderProbeExt;
        const auto b = FPartition->BootSector.Fat32BootSect().BPB;
        const std::uint32_t bps = FGeo.bytesPerSector;
        if (bps < 512) return -1;
        std::vector<std::byte> sector(bps);
        // Clusters past the end of the volume cannot hold the folder; a boot sector that
        // claims more sectors than the device has must not make every probe a wasted read.
        std::uint64_t volumeSectors = static_cast<std::uint64_t>(partitions::PartitionSize(FPartition));
        if (volumeSectors == 0) volumeSectors = FDevice->Sectors();
        volumeSectors = volumeSectors * FDevice->BytesPerSector() / bps;
        const std::uint64_t dataStart = std::uint64_t{b.NumberofFATs} * b.SectorsPerFAT32 + b.ReservedSectors;
        if (b.SectorsPerCluster == 0 || volumeSectors <= dataStart) return -1;
        const std::uint64_t lastCluster = (volumeSectors - dataStart) / b.SectorsPerCluster + 1;
        const std::int64_t lastHi = std::min<std::int64_t>(maxclusnum() >> 16, static_cast<std::int64_t>(lastCluster >> 16));
        for (std::int64_t hi = std::max<std::int64_t>(HiClusNum, 0); hi <= lastHi; ++hi) {
            pump();
            if (FTerminated) return -1;
            const std::uint64_t cluster = (static_cast<std::uint64_t>(hi) << 16) + LoClusNum;
            if (cluster < 2) continue;
            const std::uint64_t lba = std::uint64_t{b.NumberofFATs} * b.SectorsPerFAT32 + b.ReservedSectors +
                                      (cluster - 2) * b.SectorsPerCluster;
            if (FReader->Read(lba * bps, sector) < 512) continue;
            if (!HasSignature(sector, *row)) continue;
            if (folderProbe && (u8(sector, 32) != 0x2E || u8(sector, 33) != 0x2E)) continue;
            return hi;
        }
        return -1;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace brenvale::scan
