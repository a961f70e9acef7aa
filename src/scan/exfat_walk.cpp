// The standard scan of exFAT volumes: every file entry set of every folder, in use or deleted.

#include <algorithm>

#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/fs_types.h"
#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::scan {

namespace {

using storage::le16;
using storage::le32;
using storage::le64;
using storage::u8;

constexpr std::uint8_t kInUse = 0x80;
constexpr std::uint8_t kSecondary = 0x40;  // type category bit of secondary entries
constexpr std::uint8_t kKindLabel = 0x03;
constexpr std::uint8_t kKindFile = 0x05;
constexpr std::uint8_t kKindStream = 0x40;
constexpr std::uint8_t kKindName = 0x41;
constexpr std::uint8_t kNoFatChain = 0x02;
constexpr std::size_t kMaxNameUnits = 255;
constexpr std::uint64_t kMaxFolderBuffer = 0x1000000;  // 16 MiB
constexpr std::size_t kMaxFolderDepth = 1000;

// UTF-16 units from `off` up to the first zero or `units`.
std::u16string wideText(std::span<const std::byte> e, std::size_t off, std::size_t units) {
    std::u16string out;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = le16(e, off + 2 * i);
        if (u == 0) break;
        out.push_back(u);
    }
    return out;
}

// A volume label entry's text: its character count (at most 11) units, up to a zero unit.
std::string labelText(std::span<const std::byte> entry) {
    return storage::Utf16ToUtf8(wideText(entry, 2, std::min<std::size_t>(u8(entry, 1), 11)));
}

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
            for (std::size_t off = 0; off + 32 <= data.size() && u8(data, off) != 0; off += 32) {
                if (u8(data, off) == (kInUse | kKindLabel)) {
                    FVolumeLabel = labelText(data.subspan(off, 32));
                    return true;
                }
            }
            return false;
        }

        for (std::size_t off = 0; off + 32 <= data.size(); off += 32) {
            const std::uint8_t type = u8(data, off);
            if (type == 0) break;  // end of the folder
            if (FTerminated) return true;
            const std::uint8_t kind = type & 0x7F;
            if (kind == kKindLabel) {
                // As the label-only pass reads it: a removed label (0x03) or one outside the
                // root does not name the volume.
                if (type == (kInUse | kKindLabel) && !Parent && FVolumeLabel.empty()) {
                    FVolumeLabel = labelText(data.subspan(off, 32));
                }
                continue;
            }
            if (kind != kKindFile) continue;

            const auto file = data.subspan(off, 32);
            const std::uint8_t secondaries = u8(file, 1);
            std::u16string wide;
            std::uint8_t flags = 0;
            std::uint32_t firstCluster = 0;
            std::uint64_t length = 0;
            for (std::size_t j = 1; j <= secondaries; ++j) {
                if (off + 32 * j + 32 > data.size()) return false;
                const auto sec = data.subspan(off + 32 * j, 32);
                const std::uint8_t secType = u8(sec, 0);
                // A primary entry ends the set whatever its count claimed.
                if ((secType & kSecondary) == 0) break;
                if ((secType & 0x7F) == kKindStream) {
                    flags = u8(sec, 1);
                    firstCluster = le32(sec, 20);
                    length = le64(sec, 24);
                } else if ((secType & 0x7F) == kKindName && wide.size() < kMaxNameUnits) {
                    wide += wideText(sec, 2, 15);
                    if (wide.size() > kMaxNameUnits) wide.resize(kMaxNameUnits);
                }
            }
            if (wide.empty()) continue;

            TMidEntry* entry = &FMidEntries.emplace_back(EntryKind::ExFat);
            auto& d = entry->FDTEntry;
            d.attribute = static_cast<std::uint8_t>(le16(file, 4) & 0xFF);
            d.filesize = static_cast<std::uint32_t>(length);
            entry->SizeHigh = static_cast<std::uint32_t>(length >> 32);
            d.createtime = le16(file, 8);
            d.createdate = le16(file, 10);
            d.updatetime = le16(file, 12);
            d.updatedate = le16(file, 14);
            entry->LongFileName = storage::Utf16ToUtf8(wide);
            entry->NoFatChain = (flags & kNoFatChain) != 0;
            entry->Status = !(type & kInUse) || (Parent && Parent->Status != kStatusLive) ? kStatusDeleted : kStatusLive;
            entry->Parent = Parent;
            entry->ClusNumber = c;
            entry->DirClusNum = firstCluster;
            const std::size_t clusterIndex = static_cast<std::size_t>(off / clusterBytes);
            entry->DirSectNum = exfatClusterSector(bufClusters[std::min(clusterIndex, bufClusters.size() - 1)]);
            ScannedFiles.push_back(entry);

            const std::uint32_t sub = firstCluster;
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
