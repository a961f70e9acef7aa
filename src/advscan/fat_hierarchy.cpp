// The FAT folder tree from the enumerated entries: reused folders marked damaged, the segments
// cut to whole clusters and to each other, the directories no entry leads to, and the parent
// links below them.

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "advscan/fat_entry_access.h"
#include "advscan/fat_stages.h"
#include "storage/device_events.h"

namespace brenvale::advscan {

void FatRebuild::AdvMarkBadDirs() {
    if (SectorsPerClus <= 0 || !RootSectNum) return;
    // Data sector -> the folder that claimed it first; the root's area is claimed by no entry.
    std::unordered_map<std::int64_t, std::int64_t> claimed{{*RootSectNum, -1}};
    for (std::size_t i = 0; i < FatFileList.size(); ++i) {
        if (storage::DeviceAborted) return;
        scan::TScanEntry* e = FatFileList[i];
        if (!fatentry::isFolder(e)) continue;
        const std::int64_t at = dataSectorOf(WidthClusOf(e));
        if (at < 0) continue;
        const auto [it, fresh] = claimed.emplace(at, static_cast<std::int64_t>(i));
        if (fresh) continue;
        if (fatentry::isDeleted(e)) {
            fatentry::setStatus(e, scan::kStatusDamaged);
        } else if (it->second >= 0 && fatentry::isDeleted(FatFileList[static_cast<std::size_t>(it->second)])) {
            fatentry::setStatus(FatFileList[static_cast<std::size_t>(it->second)], scan::kStatusDamaged);
        }
    }
}

void FatRebuild::resolveSegments() {
    if (SectorsPerClus <= 0 || !RootSectNum || *RootSectNum < 0) return;
    const std::int64_t root = *RootSectNum, spc = SectorsPerClus;
    const auto lastSector = static_cast<std::int64_t>(objectSectors_) - 1;
    std::vector<FatDirSegment> out;
    for (std::size_t i = 0; i < Segments.size();) {
        FatDirSegment g = Segments[i];
        std::size_t j = i + 1;
        while (j < Segments.size() && g.Owner != 0 && Segments[j].Owner == g.Owner) g.End = std::max(g.End, Segments[j++].End);
        const bool aligned = (g.Start == g.Owner && g.Owner != 0 && g.Clus > 1) || (g.Start >= root && (g.Start - root) % spc == 0);
        if (aligned) g.End = g.Start + ((g.End - g.Start) / spc + 1) * spc - 1;
        if (j < Segments.size()) g.End = std::min(g.End, Segments[j].Start - 1);
        if (objectSectors_ > 0) g.End = std::min(g.End, lastSector);
        g.End = std::max(g.End, g.Start);
        out.push_back(g);
        i = j;
    }
    // Segments of no known directory take the owner of one that encloses them, and their
    // entries that directory's sector; the list is sorted once, after every move.
    sortByDirSect();
    std::vector<std::pair<std::int32_t, std::int32_t>> moved;  // entry ranges
    std::vector<std::int64_t> movedTo;
    for (std::size_t k = 0; k < out.size(); ++k) {
        if (out[k].Owner != 0) continue;
        for (std::size_t m = k; m-- > 0 && out[m].Start == out[k].Start;) {
            if (out[m].Owner != 0 && out[m].End >= out[k].End) {
                out[k].Owner = out[m].Owner;
                out[k].Clus = out[m].Clus;
                break;
            }
        }
        std::int32_t first = -1, last = -1;
        if (out[k].Owner != 0 && AdvGetFatBoundsRange(out[k].Start, out[k].End, first, last)) {
            moved.emplace_back(first, last);
            movedTo.push_back(out[k].Owner);
        }
    }
    for (std::size_t i = 0; i < moved.size(); ++i) {
        for (std::int32_t e = moved[i].first; e <= moved[i].second; ++e) {
            fatentry::setDirSect(FatFileList[static_cast<std::size_t>(e)], movedTo[i]);
        }
    }
    if (!moved.empty()) sortByDirSect();
    Segments = std::move(out);
}

std::int64_t FatRebuild::FatDirOwnerOfSect(std::int64_t sect) const {
    // The segments are sorted by start and do not overlap once resolved.
    const auto it = std::upper_bound(Segments.begin(), Segments.end(), sect,
                                     [](std::int64_t s, const FatDirSegment& g) { return s < g.Start; });
    if (it == Segments.begin()) return 0;
    const FatDirSegment& g = *(it - 1);
    return sect <= g.End ? g.Owner : 0;
}

void FatRebuild::AdvCollectOrphanFatDirs(const std::vector<std::int64_t>& fdts, std::span<const std::int64_t> exFatDirs,
                                         const std::function<void(int)>& progress) {
    UnChainedFDTs.clear();
    if (fdts.empty() || FsCode == 4) return;
    std::stable_sort(FatFileList.begin(), FatFileList.end(),
                     [this](const scan::TScanEntry* a, const scan::TScanEntry* b) { return WidthClusOf(a) < WidthClusOf(b); });
    std::unordered_set<std::int64_t> dirSectors;
    for (const scan::TScanEntry* e : FatFileList) dirSectors.insert(fatentry::dirSect(e));
    if (progress) progress(30);
    std::unordered_set<std::int64_t> targets;
    if (SectorsPerClus > 0 && RootSectNum) {
        for (const scan::TScanEntry* e : FatFileList) {
            const std::uint32_t c = FatClusOf(e);
            if (fatentry::isFolder(e) && c > 1) targets.insert(dataSectorOf(c));
        }
        if (!targets.empty() && RootDirSectNum) targets.insert(*RootDirSectNum);
    }
    const std::unordered_set<std::int64_t> exfat(exFatDirs.begin(), exFatDirs.end());
    for (std::size_t i = 0; i < fdts.size(); ++i) {
        if (progress && i % 4096 == 0) progress(30 + static_cast<int>(70 * i / fdts.size()));
        const std::int64_t s = fdts[i];
        if (s < 0 || exfat.contains(s)) continue;
        const std::int64_t owner = FatDirOwnerOfSect(s);
        if (dirSectors.contains(s)) {
            if (targets.empty() || targets.contains(s) || (owner != 0 && owner != s)) continue;
        } else if (owner != 0) {
            continue;
        }
        UnChainedFDTs.push_back(s);
    }
    sortByDirSect();
    if (progress) progress(100);
}

void FatRebuild::AdvLinkFatEntries(const std::function<void(int)>& progress) {
    if (SectorsPerClus <= 0 || !RootSectNum) return;
    // Depth first with a stack of its own. A folder is left undescended when its data lies in
    // its own directory or an ancestor's (a loop the entries describe), and a directory's
    // sectors are descended once, by the first folder that reaches them: crafted directories
    // that point at each other, or many folders that claim one directory, cost no more than
    // the entries there are.
    struct Frame {
        scan::TScanEntry* dir;
        std::int32_t at, last;
    };
    std::vector<Frame> stack;
    std::unordered_map<std::int64_t, int> onPath;  // directory sectors of the folders being descended
    std::unordered_set<std::int64_t> descended;
    auto open = [&](scan::TScanEntry* dir, std::int64_t sector) {
        std::int32_t first = -1, last = -1;
        if (!AdvGetFatBounds(sector, first, last)) return;
        if (dir) ++onPath[fatentry::dirSect(dir)];
        stack.push_back({dir, first, last});
    };
    auto close = [&] {
        if (scan::TScanEntry* dir = stack.back().dir) {
            if (--onPath[fatentry::dirSect(dir)] == 0) onPath.erase(fatentry::dirSect(dir));
        }
        stack.pop_back();
    };
    for (std::size_t n = 0; n < UnChainedFDTs.size(); ++n) {
        if (progress && n % 64 == 0) progress(static_cast<int>(100 * n / UnChainedFDTs.size()));
        open(nullptr, UnChainedFDTs[n]);
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.at > f.last) {
                close();
                continue;
            }
            scan::TScanEntry* e = FatFileList[static_cast<std::size_t>(f.at++)];
            if (e == f.dir) continue;
            fatentry::setParent(e, f.dir);
            if (!fatentry::isFolder(e)) continue;
            const std::uint32_t own = FatClusOf(e);
            const std::int64_t ownData = own > 1 ? dataSectorOf(own) : -1;
            if (ownData == fatentry::dirSect(e) || onPath.contains(ownData)) continue;
            const std::int64_t data = dataSectorOf(WidthClusOf(e));
            if (descended.insert(data).second) open(e, data);
        }
    }
    if (progress) progress(100);
}

}  // namespace brenvale::advscan

namespace brenvale::advscan {

AdjustResult FatRebuild::DoAdjust(const scan::TScanEntry* file1, const scan::TScanEntry* file2,
                                  const std::vector<std::int64_t>& fdts, std::span<const std::int64_t> exFatDirs) {
    if (!file1 || !file2 || fatentry::dirClus(file1) == 0 || fatentry::dirClus(file2) == 0) return AdjustResult::NoCluster;
    if (fatentry::dirClus(file1) == fatentry::dirClus(file2)) return AdjustResult::SameDirectory;
    const std::int64_t ds = fatentry::dirSect(file1) - fatentry::dirSect(file2);
    const std::int64_t dc = std::int64_t{fatentry::dirClus(file1)} - fatentry::dirClus(file2);
    if ((ds > 0) != (dc > 0) || ds == 0) return AdjustResult::NotSameFileSystem;
    if (!AdvSolveFatGeometry(file1, file2)) return AdjustResult::NotSameFileSystem;
    sortByDirSect();
    resolveSegments();
    AdvCollectOrphanFatDirs(fdts, exFatDirs);
    AdvLinkFatEntries();
    return AdjustResult::Done;
}

void FatRebuild::DoChangeFS(std::vector<std::int64_t>& fdts, std::span<const std::int64_t> exFatDirs) {
    FatType = FatType > kFat16 ? kFat16 : kFat32;
    EnumFATFiles(fdts);
    AdvCollectOrphanFatDirs(fdts, exFatDirs);
    AdvLinkFatEntries();
}

}  // namespace brenvale::advscan
