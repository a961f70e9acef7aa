// The standard scan of exFAT volumes: every file entry set of every folder, in use or deleted.

#include <algorithm>

#include "scan/exfat_entry_set.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/fs_types.h"
#include "storage/le.h"

namespace brenvale::scan {

namespace {

constexpr std::uint64_t kMaxFolderBuffer = 0x1000000;  // 16 MiB
constexpr std::size_t kMaxFolderDepth = 1000;

}  // namespace

std::uint32_t TUndelete::ExFatSPC() const {
    if (ExFatSectorsPerClus > 0) return static_cast<std::uint32_t>(ExFatSectorsPerClus);
    if (FAdvExFatGeoDone) return 0;
    return 1u << (FPartition->BootSector.ExfatBootSect().BPB.SectorsPerClusterShift & 31);
}

std::uint64_t TUndelete::ExFatHeap() const {
    if (ExFatHeapOffset >= 0) return static_cast<std::uint64_t>(ExFatHeapOffset);
    if (FAdvExFatGeoDone) return 0;
    return FPartition->BootSector.ExfatBootSect().BPB.ClusterHeapOffset;
}

std::uint32_t TUndelete::exfatClusterSector(std::uint32_t c) const {
    const std::uint64_t s = std::uint64_t{c - 2} * ExFatSPC() + ExFatHeap();
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(s, 0xFFFFFFFFu));
}

// A folder's clusters: its FAT chain, or for a folder whose stream says it has none, the run
// of clusters its length covers (the FAT holds nothing for those).
std::vector<std::uint32_t> TUndelete::exfatFolderClusters(const TMidEntry* folder, std::uint32_t first) {
    const std::uint64_t clusterBytes = std::uint64_t{ExFatSPC()} * FGeo.bytesPerSector;
    if (folder && folder->NoFatChain && clusterBytes > 0) {
        const std::uint64_t last = std::uint64_t{FGeo.clusterCount} + 1;
        std::uint64_t n = std::max<std::uint64_t>(1, (folder->FDTEntry.filesize + clusterBytes - 1) / clusterBytes);
        n = std::min({n, last - first + 1, std::max<std::uint64_t>(1, kMaxFolderBuffer / clusterBytes)});
        std::vector<std::uint32_t> run(n);
        for (std::uint64_t i = 0; i < n; ++i) run[i] = static_cast<std::uint32_t>(first + i);
        return run;
    }
    TClusterBuf chain;
    std::uint32_t count = 0;
    if (!GetClusNumChain(first, chain, count)) chain.clear();
    return chain;
}

bool TUndelete::EnumExFatDir(TMidEntry* Parent, bool Recurse, bool LabelOnly) {
    try {
        if (stopRequested()) return true;
        const std::uint32_t rootCluster = FGeo.rootCluster;
        const std::uint32_t c = Parent ? Parent->DirClusNum : rootCluster;
        if (!Parent) FExFatVisited.clear();

        std::string name;
        if (Parent) {
            name = !Parent->LongFileName.empty() ? Parent->LongFileName
                                                 : ShortDisplayName(Parent->FDTEntry.filename, Parent->FDTEntry.fileext);
        }
        if (FOnEnumDir) FOnEnumDir(0, name, 0);
        if (Processing) pump();
        if (FTerminated) return true;

        const std::uint32_t spc = ExFatSPC();
        const std::uint32_t s = FGeo.bytesPerSector;
        if (spc == 0 || s == 0) return false;
        if (c < 2 || std::uint64_t{c} > std::uint64_t{FGeo.clusterCount} + 1) return false;
        const std::vector<std::uint32_t> chain = exfatFolderClusters(Parent, c);
        if (chain.empty()) return false;

        // Whole clusters while they fit in 16 MiB; a single larger cluster is read as far as fits.
        const std::uint64_t clusterBytes = std::uint64_t{spc} * s;
        std::uint64_t n = chain.size();
        std::uint64_t size = n * clusterBytes;
        while (n > 1 && size > kMaxFolderBuffer) {
            n /= 2;
            size = n * clusterBytes;
        }
        size = std::clamp<std::uint64_t>(size, s, kMaxFolderBuffer);
        std::vector<std::byte> buf(size);
        std::size_t filled = 0;
        std::vector<std::uint32_t> bufClusters;  // cluster of each clusterBytes stretch of buf
        for (const std::uint32_t cl : chain) {
            const std::size_t room = buf.size() - filled;
            if (room == 0 || (room < clusterBytes && filled > 0)) break;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(room, clusterBytes));
            const std::uint64_t sector = std::uint64_t{cl - 2} * spc + ExFatHeap();
            const std::size_t got = FReader->Read(sector * s, std::span(buf).subspan(filled, want));
            if (got == 0) break;
            filled += want;
            bufClusters.push_back(cl);
        }
        if (filled == 0) return false;
        const std::span<const std::byte> data = std::span<const std::byte>(buf).first(filled);

        if (LabelOnly) {
            for (std::size_t off = 0; off + 32 <= data.size() && storage::u8(data, off) != 0; off += 32) {
                const auto label = DecodeExfatLabel(data, off);
                if (label && label->inUse) {
                    FVolumeLabel = label->text;
                    return true;
                }
            }
            return false;
        }

        // Entry by entry: the secondary entries of a set are visited too, and pass as entries
        // of no kind the walk lists.
        for (std::size_t off = 0; off + 32 <= data.size(); off += 32) {
            if (storage::u8(data, off) == 0) break;  // end of the folder
            if (FTerminated) return true;
            if (const auto label = DecodeExfatLabel(data, off)) {
                // As the label-only pass reads it: a removed label (0x03) or one outside the
                // root does not name the volume.
                if (label->inUse && !Parent && FVolumeLabel.empty()) FVolumeLabel = label->text;
                continue;
            }
            const ExfatSetResult decoded = DecodeExfatEntrySet(data, off);
            if (decoded.status == ExfatSetStatus::CutShort) return false;
            if (decoded.status != ExfatSetStatus::Ok || decoded.set.name.empty()) continue;
            const ExfatEntrySet& set = decoded.set;

            TMidEntry* entry = &FMidEntries.emplace_back(EntryKind::ExFat);
            auto& d = entry->FDTEntry;
            d.attribute = static_cast<std::uint8_t>(set.attributes & 0xFF);
            d.filesize = static_cast<std::uint32_t>(set.dataLength);
            entry->SizeHigh = static_cast<std::uint32_t>(set.dataLength >> 32);
            d.createtime = static_cast<std::uint16_t>(set.createTimestamp);
            d.createdate = static_cast<std::uint16_t>(set.createTimestamp >> 16);
            d.updatetime = static_cast<std::uint16_t>(set.lastModifiedTimestamp);
            d.updatedate = static_cast<std::uint16_t>(set.lastModifiedTimestamp >> 16);
            entry->LongFileName = set.nameUtf8();
            entry->NoFatChain = set.noFatChain();
            entry->Status = !set.inUse || (Parent && Parent->Status != kStatusLive) ? kStatusDeleted : kStatusLive;
            entry->Parent = Parent;
            entry->ClusNumber = c;
            entry->DirClusNum = set.firstCluster;
            const std::size_t clusterIndex = static_cast<std::size_t>(off / clusterBytes);
            entry->DirSectNum = exfatClusterSector(bufClusters[std::min(clusterIndex, bufClusters.size() - 1)]);
            ScannedFiles.push_back(entry);

            const std::uint32_t sub = set.firstCluster;
            if (Recurse && (d.attribute & storage::kFatAttrDirectory) && sub >= 2 &&
                std::uint64_t{sub} <= std::uint64_t{FGeo.clusterCount} + 1 && sub != rootCluster &&
                !FExFatVisited.count(sub)) {
                bool ancestor = false;
                std::size_t depth = 0;
                for (const TMidEntry* p = Parent; p; p = p->Parent, ++depth) ancestor = ancestor || p->DirClusNum == sub;
                if (!ancestor && depth < kMaxFolderDepth) {
                    FExFatVisited.insert(sub);
                    EnumExFatDir(entry, true, false);
                    if (FTerminated) return true;
                }
            }
        }
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
        return false;
    }
}

}  // namespace brenvale::scan
