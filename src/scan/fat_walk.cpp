// The standard scan of FAT12, FAT16 and FAT32 volumes: a depth-first walk of the folder tree
// that keeps live and deleted entries alike, then the sort the folder view searches.

#include <algorithm>
#include <cstring>
#include <numeric>

#include "scan/fat_entry.h"
#include "scan/fat_table.h"
#include "scan/undelete.h"
#include "scan/volume_reader.h"
#include "storage/fs_types.h"
#include "storage/le.h"
#include "storage/utf.h"

namespace brenvale::scan {

namespace {


// No real tree is this deep (a path holds at most 260 characters); a deeper one is damaged,
// and walking it further would only exhaust the stack.
constexpr std::size_t kMaxFolderDepth = 1000;
// The most a FAT folder can hold: 65536 entries of 32 bytes.
constexpr std::uint64_t kMaxFolderBytes = 65536 * 32;
// Contiguous clusters of a folder are read together, up to this much.
constexpr std::uint64_t kFolderReadBytes = 256 * 1024;

struct PathGuard {
    std::vector<std::uint32_t>& path;
    PathGuard(std::vector<std::uint32_t>& p, std::uint32_t c) : path(p) { path.push_back(c); }
    ~PathGuard() { path.pop_back(); }
};

void lowerAscii(char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] = storage::AsciiLower(p[i]);
}

std::string lowerAscii(std::string s) {
    lowerAscii(s.data(), s.size());
    return s;
}

template <class E>
auto& dirRecord(E& e) {
    if constexpr (std::is_same_v<std::remove_const_t<E>, TMidEntry32>) {
        return e.FDT32Entry;
    } else {
        return e.FDTEntry;
    }
}

template <class E>
std::string progressName(const E& e) {
    if (!e.LongFileName.empty()) return e.LongFileName;
    return ShortDisplayName(dirRecord(e).filename, dirRecord(e).fileext);
}

}  // namespace

template <class E>
E* TUndelete::newEntry() {
    if constexpr (std::is_same_v<E, TMidEntry32>) {
        return &FMid32Entries.emplace_back();
    } else {
        return &FMidEntries.emplace_back();
    }
}

bool TUndelete::EnumDir(TScanEntry* Parent, bool Recurse, bool LabelOnly) {
    if (FileSystem() == storage::kFsFat32) return enumDir(Parent ? AsMid32(Parent) : nullptr, Recurse, LabelOnly);
    return enumDir(Parent ? AsMid(Parent) : nullptr, Recurse, LabelOnly);
}

template <class E>
bool TUndelete::enumDir(E* Parent, bool Recurse, bool LabelOnly) {
    constexpr bool fat32 = std::is_same_v<E, TMidEntry32>;
    try {
        if (stopRequested()) return true;
        if (FOnEnumDir) FOnEnumDir(0, Parent ? progressName(*Parent) : std::string(), 0);
        pump();

        const std::uint32_t bps = FGeo.bytesPerSector;
        const std::uint32_t spc = FGeo.sectorsPerCluster;
        if (bps < 32 || spc == 0) return false;
        const std::uint8_t fs = FileSystem();

        // The folder's passes: the fixed root area in one, otherwise one per chain cluster.
        std::uint32_t c = 0;
        TClusterBuf chain;
        const bool fixedRoot = !fat32 && !Parent;
        if (!fixedRoot) {
            c = Parent ? FirstCluster(*Parent) : FGeo.rootCluster;
            const auto first = FGeo.clusterSector(c);
            // A folder starting at the volume's end would be read from whatever follows it.
            if (!first || *first >= FGeo.totalSectors) return false;
            std::uint32_t count = 0;
            GetClusNumChain(c, chain, count);
            if (chain.empty()) return false;
            const std::uint64_t maxClusters = std::max<std::uint64_t>(1, kMaxFolderBytes / FGeo.clusterBytes());
            if (chain.size() > maxClusters) chain.resize(maxClusters);
        }
        if (FResumeSkipClus && FResumeSkipClus->count(c)) return true;

        PathGuard onPath(FPathClusters, c);
        const std::uint64_t passBytes = fixedRoot ? std::uint64_t{FGeo.rootEntries} * 32 : FGeo.clusterBytes();
        const std::size_t passes = fixedRoot ? 1 : chain.size();
        if (passBytes == 0) return false;
        // Contiguous clusters are read in one request; `buf` holds passes [bufFirst, bufEnd).
        const std::size_t perRead = fixedRoot ? 1 : std::max<std::size_t>(1, kFolderReadBytes / passBytes);
        std::vector<std::byte> buf;
        std::size_t bufFirst = 0, bufEnd = 0;

        FatLongNameJoiner longNames;
        // Entries pointing past the volume, or claiming more than it holds, are bytes of
        // something else read as a folder (a damaged root cluster, a file's data).
        FatVolumeBounds bounds;
        bounds.bytes = VolumeBytes();
        if (FGeo.dataClusters != 0) {
            const std::uint64_t heap = FGeo.firstDataSector * bps;
            const std::uint64_t fitting = bounds.bytes > heap ? (bounds.bytes - heap) / FGeo.clusterBytes() : 0;
            bounds.lastCluster = std::min<std::uint64_t>(FGeo.dataClusters, fitting) + 1;
        }

        for (std::size_t pass = 0; pass < passes; ++pass) {
            const std::uint64_t dirSector = fixedRoot ? FGeo.rootFirstSector : *FGeo.clusterSector(chain[pass]);
            if (pass >= bufEnd) {
                std::size_t run = 1;
                while (run < perRead && pass + run < passes && chain[pass + run] == chain[pass + run - 1] + 1) ++run;
                buf.resize(run * passBytes);
                if (fixedRoot) {
                    const std::uint64_t rootBytes = std::min<std::uint64_t>(std::uint64_t{FGeo.rootSectors} * bps, passBytes);
                    std::fill(buf.begin(), buf.end(), std::byte{0});
                    FReader->Read(dirSector * bps, std::span(buf).first(rootBytes));
                } else {
                    FReader->Read(dirSector * bps, buf);
                }
                bufFirst = pass;
                bufEnd = pass + run;
            }
            const std::span<const std::byte> data =
                std::span<const std::byte>(buf).subspan((pass - bufFirst) * passBytes, passBytes);

            // A folder's first cluster starts with "." or "..", or it is not a folder.
            if (!fixedRoot && Parent && pass == 0) {
                if (TrimmedShortName(*storage::readRecord<storage::TArray8>(data, 0)) != "." &&
                    TrimmedShortName(*storage::readRecord<storage::TArray8>(data, 32)) != "..") {
                    Parent->Status = kStatusDamaged;
                    return false;
                }
            }

            for (std::size_t off = 0; off + 32 <= data.size(); off += 32) {
                pump();
                if (FTerminated) return true;
                const FatEntry slot = *DecodeFatEntry(data, off);
                const std::optional<std::u16string_view> longName = longNames.Feed(slot);
                if (slot.kind == FatEntryKind::Dot || slot.kind == FatEntryKind::LongNamePart) continue;
                if (slot.kind == FatEntryKind::EndOfFolder) return false;

                if (LabelOnly) {
                    if (slot.kind == FatEntryKind::Label && !slot.deleted) {
                        FVolumeLabel = TrimmedLabel(slot.rec.filename, slot.rec.fileext);
                        return false;
                    }
                    continue;
                }
                if (slot.kind == FatEntryKind::Label) continue;
                if (WalkDropRule(slot, fat32, bounds) != FatDrop::Kept) continue;

                const bool deleted = slot.deleted;
                const bool folder = slot.folder;
                auto rec = slot.rec;
                E* entry = newEntry<E>();
                if constexpr (fat32) {
                    if (deleted && folder && rec.hi1stclusternumber == 0) {
                        const std::int64_t hi = FindHiClusNum("a.@$%", 0, rec.lo1stclusternumber);
                        if (hi < 0) {
                            entry->Status = kStatusDamaged;
                        } else {
                            rec.hi1stclusternumber = static_cast<std::uint16_t>(hi);
                        }
                    }
                }
                auto& copy = dirRecord(*entry);
                std::memcpy(&copy, &rec, sizeof rec);

                if (const auto listed = ListedLongName(*longName)) {
                    entry->LongFileName = *listed;
                } else {
                    ApplyCaseBits(copy.filename, copy.fileext, slot.caseBits());
                }
                entry->ClusNumber = c;
                entry->DirSectNum = static_cast<std::int64_t>(dirSector);
                entry->Parent = Parent;
                if (entry->Status != kStatusDamaged) {
                    entry->Status = deleted || (Parent && Parent->Status != kStatusLive) ? kStatusDeleted : kStatusLive;
                }
                if (deleted) copy.filename[0] = '_';
                ScannedFiles.push_back(entry);

                if (folder && Recurse && (!fat32 || entry->Status != kStatusDamaged)) {
                    const std::uint32_t sub = FirstCluster(*entry);
                    const bool onPathAlready = std::find(FPathClusters.begin(), FPathClusters.end(), sub) != FPathClusters.end();
                    // A folder's clusters are walked once as a live folder and once as a
                    // deleted one (whose first cluster another folder may have taken since);
                    // more visits only come from damaged trees.
                    const std::uint64_t walkKey = (std::uint64_t{sub} << 1) | (entry->Status != kStatusLive ? 1u : 0u);
                    if (!onPathAlready && FPathClusters.size() < kMaxFolderDepth && FWalkedDirs.insert(walkKey).second) {
                        enumDir(entry, true, false);
                        if (FTerminated) return true;
                    }
                }
            }
        }
        if (FOnScanCheckpoint) FOnScanCheckpoint(fs, -1, c, 0);
        return true;
    } catch (const std::exception& e) {
        ReportException(e);
        return false;
    }
}

template bool TUndelete::enumDir<TMidEntry>(TMidEntry*, bool, bool);
template bool TUndelete::enumDir<TMidEntry32>(TMidEntry32*, bool, bool);

std::uint32_t TUndelete::ParentClusterOf(const TScanEntry* e) const {
    return e->Kind() == EntryKind::Fat32 ? AsMid32(e)->ClusNumber : AsMid(e)->ClusNumber;
}

bool TUndelete::ScanFatVolume() {
    struct Busy {
        std::atomic<bool>& flag;
        explicit Busy(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(Processing);
    FPathClusters.clear();
    FWalkedDirs.clear();
    if (FileSystem() == storage::kFsExfat) {
        EnumExFatDir(nullptr, true, false);
    } else {
        if (FileSystem() == storage::kFsFat32) DeepScan = false;
        EnumDir(nullptr, true, false);
    }
    sortScannedFiles();
    rebuildScannedDirSectors();
    return true;
}

void TUndelete::sortScannedFiles() {
    // Folder first, then the lower-cased 8.3 name; the walk's order among equals is kept.
    struct Key {
        std::uint32_t clus;
        std::string name;
        TScanEntry* entry;
    };
    std::vector<Key> keys;
    keys.reserve(ScannedFiles.size());
    for (TScanEntry* e : ScannedFiles) {
        if (e->Kind() == EntryKind::Fat32) {
            const auto* m = AsMid32(e);
            keys.push_back({m->ClusNumber, lowerAscii(ShortDisplayName(m->FDT32Entry.filename, m->FDT32Entry.fileext)), e});
        } else {
            const auto* m = AsMid(e);
            keys.push_back({m->ClusNumber, lowerAscii(ShortDisplayName(m->FDTEntry.filename, m->FDTEntry.fileext)), e});
        }
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.clus != b.clus ? a.clus < b.clus : a.name < b.name;
    });
    for (std::size_t i = 0; i < keys.size(); ++i) ScannedFiles[i] = keys[i].entry;
}

void TUndelete::rebuildScannedDirSectors() {
    ScannedDirSectors.clear();
    const bool exfat = FileSystem() == storage::kFsExfat;
    const std::uint64_t spc = exfat ? ExFatSPC() : FGeo.sectorsPerCluster;
    auto addRun = [&](std::uint64_t first, std::uint64_t count) {
        for (std::uint64_t s = first; s < first + count && s <= 0xFFFFFFFFu; ++s) {
            ScannedDirSectors.push_back(static_cast<std::uint32_t>(s));
        }
    };
    if (!exfat && FileSystem() != storage::kFsFat32) addRun(FGeo.rootFirstSector, FGeo.rootSectors);
    std::vector<std::uint32_t> dirSectors;
    dirSectors.reserve(ScannedFiles.size());
    for (const TScanEntry* e : ScannedFiles) {
        dirSectors.push_back(static_cast<std::uint32_t>(e->Kind() == EntryKind::Fat32 ? AsMid32(e)->DirSectNum : AsMid(e)->DirSectNum));
    }
    std::sort(dirSectors.begin(), dirSectors.end());
    dirSectors.erase(std::unique(dirSectors.begin(), dirSectors.end()), dirSectors.end());
    // The fixed root was added above; its entries point into it.
    for (const std::uint32_t s : dirSectors) {
        if (!exfat && FileSystem() != storage::kFsFat32 && s == FGeo.rootFirstSector) continue;
        addRun(s, std::min<std::uint64_t>(spc, 1u << 16));
    }
}

bool TUndelete::GetFatBounds(const std::vector<TScanEntry*>& list, std::uint32_t ParentClusNum, std::int32_t& first,
                             std::int32_t& last) const {
    first = last = -1;
    if (list.empty()) return false;
    const auto lo = std::partition_point(list.begin(), list.end(),
                                         [&](const TScanEntry* e) { return ParentClusterOf(e) < ParentClusNum; });
    const auto hi = std::partition_point(lo, list.end(),
                                         [&](const TScanEntry* e) { return ParentClusterOf(e) == ParentClusNum; });
    if (lo == hi) return false;
    first = static_cast<std::int32_t>(lo - list.begin());
    last = static_cast<std::int32_t>(hi - list.begin()) - 1;
    return true;
}

bool TUndelete::GetDirBounds(std::uint64_t aDir, std::int32_t& first, std::int32_t& last) const {
    first = last = -1;
    const std::uint8_t fs = FileSystem();
    if (fs == storage::kFsNtfs) return getntfsbounds(ScannedFiles, aDir, first, last);
    // Cluster numbers are 32-bit: a wider key names no FAT folder.
    if ((fs != storage::kFsFat12 && fs != storage::kFsFat16 && fs != storage::kFsFat32 && fs != storage::kFsExfat) ||
        aDir > 0xFFFFFFFFu) {
        return false;
    }
    return GetFatBounds(ScannedFiles, static_cast<std::uint32_t>(aDir), first, last);
}

}  // namespace brenvale::scan
