#include "advscan/exfat_stages.h"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "scan/file_signatures.h"
#include "storage/exfat_dir_entry.h"
#include "storage/le.h"

namespace brenvale::advscan {

namespace {

constexpr std::int32_t kMaxSpcShift = 16;  // 65,536 sectors per cluster
constexpr std::int64_t kLowestHeap = 24;
// Folder and sector pairs counted one by one per cluster size; above it the candidates come
// from a sample of the folders and only the strongest are counted over all of them.
constexpr std::uint64_t kExactPairs = 1u << 20;
constexpr std::size_t kRecounted = 16;
constexpr int kMatchesNeeded = 2;
// Files looked at for the check by content: a wrong geometry must not cost a read per file.
constexpr int kMaxChecks = 1024;
// Without a clear vote: the votes a candidate needs, how many candidates are checked, and the
// files each check looks at.
constexpr std::int32_t kWeakVotes = 2;
constexpr std::size_t kWeakCandidates = 8;
constexpr int kStrictChecks = 32;

bool isFolder(const scan::TMidEntry& e) {
    return (e.FDTEntry.attribute & 0x10) != 0 && e.DirClusNum > 1;
}

// Where the folder's data begins under a heap and a cluster size (64-bit: no overflow).
std::int64_t dataSector(const scan::TMidEntry& e, std::int64_t heap, std::int64_t spc) {
    return heap + (std::int64_t{e.DirClusNum} - 2) * spc;
}

struct Best {
    std::int32_t votes = 0;
    std::int64_t heap = -1;
    void offer(std::int32_t v, std::int64_t h) {
        // Equal counts: the lower heap, so the choice does not depend on a map's order.
        if (v > votes || (v == votes && v > 0 && h < heap)) votes = v, heap = h;
    }
};

// The best heap for one cluster size.
Best bestHeap(std::span<const scan::TMidEntry* const> folders, std::span<const std::int64_t> dirs,
              const std::unordered_set<std::int64_t>& dirSet, std::int64_t spc, std::int64_t limit, bool& sampled) {
    auto valid = [&](std::int64_t h) { return h >= kLowestHeap && h < limit; };
    const std::uint64_t pairs = std::uint64_t{folders.size()} * dirs.size();
    const std::size_t step = pairs <= kExactPairs ? 1 : static_cast<std::size_t>((pairs + kExactPairs - 1) / kExactPairs);
    std::unordered_map<std::int64_t, std::int32_t> counts;
    counts.reserve(std::min<std::uint64_t>(pairs / step + 1, kExactPairs));
    for (std::size_t i = 0; i < folders.size(); i += step) {
        const std::int64_t offset = (std::int64_t{folders[i]->DirClusNum} - 2) * spc;
        for (const std::int64_t x : dirs) {
            const std::int64_t h = x - offset;
            if (valid(h)) ++counts[h];
        }
    }
    Best best;
    if (step == 1) {
        for (const auto& [h, v] : counts) best.offer(v, h);
        return best;
    }
    sampled = true;
    // A heap's true count: the folders whose data would start at a harvested sector.
    std::vector<std::pair<std::int32_t, std::int64_t>> strongest;
    strongest.reserve(counts.size());
    for (const auto& [h, v] : counts) strongest.emplace_back(v, h);
    const std::size_t keep = std::min(kRecounted, strongest.size());
    std::partial_sort(strongest.begin(), strongest.begin() + static_cast<std::ptrdiff_t>(keep), strongest.end(),
                      [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
    for (std::size_t k = 0; k < keep; ++k) {
        const std::int64_t h = strongest[k].second;
        std::int32_t v = 0;
        for (const scan::TMidEntry* f : folders) v += dirSet.contains(dataSector(*f, h, spc)) ? 1 : 0;
        best.offer(v, h);
    }
    return best;
}

struct FileCheck {
    int checked = 0;  // files with a known signature looked at
    int matches = 0;  // of those, files whose first sector carries it
};

// Looks at the first sector of up to `maxChecks` files whose extension has a known signature,
// stopping once `enough` carry it.
FileCheck checkFiles(std::span<scan::TMidEntry* const> entries, const ExFatGeometry& g, std::uint32_t sectorBytes,
                     const ReadRelSector& read, int maxChecks, int enough) {
    FileCheck out;
    if (!read) return out;
    std::vector<std::byte> sector(std::max<std::uint32_t>(sectorBytes, 512));
    for (const scan::TMidEntry* e : entries) {
        if ((e->FDTEntry.attribute & 0x10) != 0 || e->DirClusNum <= 1 || scan::EntrySize(*e) == 0) continue;
        std::string ext(e->FDTEntry.fileext.begin(), e->FDTEntry.fileext.end());
        ext.erase(std::remove(ext.begin(), ext.end(), ' '), ext.end());
        ext.erase(std::find(ext.begin(), ext.end(), '\0'), ext.end());
        ext = ext.empty() ? scan::LowerExtension(e->LongFileName) : scan::LowerExtension("." + ext);
        const scan::ExtensionSignature* row = scan::SignatureOfExtension(ext);
        if (!row) continue;
        if (out.checked == maxChecks) break;
        ++out.checked;
        if (!read(dataSector(*e, g.HeapOffset, g.SectorsPerClus), sector)) continue;
        if (scan::HasSignature(sector, *row) && ++out.matches == enough) break;
    }
    return out;
}

// The stricter check a geometry no clear vote chose must pass.
bool filesConfirm(const FileCheck& c) {
    return c.matches >= kMatchesNeeded && 4 * c.matches >= 3 * c.checked;
}

// A root directory's first sector: its allocation bitmap or up-case table entry, which no other
// directory holds, before the end of the directory.
bool holdsRootEntries(std::span<const std::byte> sector) {
    for (std::size_t off = 0; storage::fits(sector, off, storage::kExfatDirEntrySize); off += storage::kExfatDirEntrySize) {
        const auto type = std::to_integer<std::uint8_t>(sector[off]);
        if (type == 0) break;
        std::uint32_t cluster = 0;
        std::uint64_t length = 0;
        if (type == (storage::kExfatInUse | storage::kExfatKindBitmap)) {
            const auto bitmap = *storage::readRecord<storage::TExfatBitmapEntry>(sector, off);
            cluster = bitmap.FirstCluster, length = bitmap.DataLength;
        } else if (type == (storage::kExfatInUse | storage::kExfatKindUpCase)) {
            const auto upcase = *storage::readRecord<storage::TExfatUpCaseEntry>(sector, off);
            cluster = upcase.FirstCluster, length = upcase.DataLength;
        } else {
            continue;
        }
        // A stray byte of 0x81 or 0x82 points at no cluster.
        if (cluster >= 2 && length > 0) return true;
    }
    return false;
}

}  // namespace

ExFatInference InferExFatGeometry(std::span<scan::TMidEntry* const> entries, std::span<const std::int64_t> dirs,
                                  std::uint64_t objectSectors, std::uint32_t sectorBytes, const ReadRelSector& read,
                                  std::optional<ExFatGeometry> boot) {
    ExFatInference out;
    if (sectorBytes == 0 || entries.size() < 2 || dirs.empty()) return out;
    std::vector<const scan::TMidEntry*> folders;
    for (const scan::TMidEntry* e : entries) {
        if (isFolder(*e)) folders.push_back(e);
    }
    const std::unordered_set<std::int64_t> dirSet(dirs.begin(), dirs.end());
    const auto limit = static_cast<std::int64_t>(std::min<std::uint64_t>(objectSectors, std::numeric_limits<std::int64_t>::max()));
    std::int32_t max = 0, second = 0;
    ExFatGeometry best;
    std::vector<std::pair<std::int32_t, ExFatGeometry>> perSize;  // each size's best heap
    for (std::int32_t shift = 0; shift <= kMaxSpcShift; ++shift) {
        const std::int64_t spc = std::int64_t{1} << shift;
        const Best b = bestHeap(folders, dirs, dirSet, spc, limit, out.Sampled);
        if (b.votes >= kWeakVotes) perSize.emplace_back(b.votes, ExFatGeometry{static_cast<std::int32_t>(spc), b.heap});
        if (b.votes > max) {
            second = max;
            max = b.votes;
            best = {static_cast<std::int32_t>(spc), b.heap};
        } else if (b.votes > second) {
            second = b.votes;
        }
    }
    out.Votes = max;
    out.RunnerUp = second;
    if (max >= 3 && max >= 2 * second) {
        out.Confirmed = checkFiles(entries, best, sectorBytes, read, kMaxChecks, kMatchesNeeded).matches;
        if (out.Confirmed >= kMatchesNeeded) {
            out.Geometry = best;
            out.AcceptedBy = ExFatAcceptedBy::Votes;
            return out;
        }
    }
    // No clear vote: the candidates in order of their votes (the smaller size first on equal
    // votes), each taken only when most of the files it places begin as their type does.
    std::stable_sort(perSize.begin(), perSize.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    if (perSize.size() > kWeakCandidates) perSize.resize(kWeakCandidates);
    auto tried = [&](const ExFatGeometry& g) {
        return std::any_of(perSize.begin(), perSize.end(), [&](const auto& c) {
            return c.second.SectorsPerClus == g.SectorsPerClus && c.second.HeapOffset == g.HeapOffset;
        });
    };
    auto accept = [&](const ExFatGeometry& g, ExFatAcceptedBy by) {
        const FileCheck c = checkFiles(entries, g, sectorBytes, read, kStrictChecks, kStrictChecks + 1);
        if (!filesConfirm(c)) return false;
        out.Geometry = g;
        out.Confirmed = c.matches;
        out.Checked = c.checked;
        out.AcceptedBy = by;
        return true;
    };
    for (const auto& [votes, g] : perSize) {
        if (accept(g, ExFatAcceptedBy::FilesAfterWeakVote)) return out;
    }
    // The boot sector of a volume formatted again describes the new volume, not the folders
    // found: it comes last, and only the files can speak for it.
    if (boot && boot->SectorsPerClus >= 1 && boot->SectorsPerClus <= (std::int32_t{1} << kMaxSpcShift) &&
        boot->HeapOffset >= kLowestHeap && boot->HeapOffset < limit && !tried(*boot)) {
        accept(*boot, ExFatAcceptedBy::BootSector);
    }
    return out;
}

std::int32_t ExFatFolders::SegOfSect(std::int64_t s) const {
    const auto it = std::upper_bound(SegStart.begin(), SegStart.end(), s);
    if (it == SegStart.begin()) return -1;
    const auto i = static_cast<std::size_t>(it - SegStart.begin() - 1);
    return s <= SegEnd[i] ? static_cast<std::int32_t>(i) : -1;
}

ExFatFolders BuildExFatSegments(std::span<const std::int64_t> dirs, const ExFatGeometry& geometry) {
    ExFatFolders out;
    if (dirs.empty()) return out;
    const bool usable = geometry.Usable();
    auto clusterOf = [&](std::int64_t x) { return (x - geometry.HeapOffset) / geometry.SectorsPerClus; };
    out.SegStart.push_back(dirs.front());
    out.SegEnd.push_back(dirs.front());
    for (std::size_t i = 1; i < dirs.size(); ++i) {
        const std::int64_t x = dirs[i];
        std::int64_t& end = out.SegEnd.back();
        if (usable ? clusterOf(x) == clusterOf(end) : x == end + 1) {
            end = x;
        } else {
            out.SegStart.push_back(x);
            out.SegEnd.push_back(x);
        }
    }
    return out;
}

void BreakParentCycles(std::vector<std::int32_t>& parent) {
    // Taken in index order, a folder's chain never ends exactly when it runs into a cycle and
    // every folder after it on the chain (the cycle included) comes later in the order: a
    // folder taken earlier would have been cut or would end, and the chain with it. So the
    // cut folders follow from two facts per folder of the graph as it stands: whether its
    // chain runs into a cycle, and the lowest index after it on the chain.
    const auto n = static_cast<std::int32_t>(parent.size());
    constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::max();
    std::vector<char> state(parent.size(), 0);  // 0 not seen, 1 on the walk, 2 done
    std::vector<char> cyclic(parent.size(), 0);
    std::vector<std::int32_t> lowest(parent.size(), kNone);  // lowest index after it on its chain
    std::vector<std::int32_t> walk;
    std::vector<std::int32_t> position(parent.size(), -1);
    auto next = [&](std::int32_t v) {
        const std::int32_t p = parent[static_cast<std::size_t>(v)];
        return p >= 0 && p < n ? p : -1;
    };
    for (std::int32_t s = 0; s < n; ++s) {
        if (state[static_cast<std::size_t>(s)]) continue;
        walk.clear();
        std::int32_t v = s;
        while (v >= 0 && state[static_cast<std::size_t>(v)] == 0) {
            state[static_cast<std::size_t>(v)] = 1;
            position[static_cast<std::size_t>(v)] = static_cast<std::int32_t>(walk.size());
            walk.push_back(v);
            v = next(v);
        }
        std::size_t tail = walk.size();  // the walk's folders before the cycle it closed, if any
        if (v >= 0 && state[static_cast<std::size_t>(v)] == 1) {
            tail = static_cast<std::size_t>(position[static_cast<std::size_t>(v)]);
            std::int32_t low = kNone;
            for (std::size_t i = tail; i < walk.size(); ++i) low = std::min(low, walk[i]);
            for (std::size_t i = tail; i < walk.size(); ++i) {
                cyclic[static_cast<std::size_t>(walk[i])] = 1;
                lowest[static_cast<std::size_t>(walk[i])] = low;
                state[static_cast<std::size_t>(walk[i])] = 2;
            }
        }
        for (std::size_t i = tail; i-- > 0;) {
            const auto w = static_cast<std::size_t>(walk[i]);
            const std::int32_t p = next(walk[i]);
            if (p >= 0) {
                cyclic[w] = cyclic[static_cast<std::size_t>(p)];
                lowest[w] = std::min(p, lowest[static_cast<std::size_t>(p)]);
            }
            state[w] = 2;
        }
    }
    // A folder on a cycle counts itself among those after it: it is cut when it is the
    // cycle's lowest; one before a cycle when everything after it is higher.
    for (std::int32_t i = 0; i < n; ++i) {
        if (cyclic[static_cast<std::size_t>(i)] && lowest[static_cast<std::size_t>(i)] >= i) parent[static_cast<std::size_t>(i)] = -1;
    }
}

void BuildExFatHierarchy(std::span<scan::TMidEntry* const> entries, std::int32_t sectorsPerClus, std::int64_t heap,
                         ExFatFolders& folders, std::uint32_t sectorBytes, const ReadRelSector& read,
                         const std::function<void(int)>& progress) {
    folders.SegName.clear();
    folders.SegParent.clear();
    folders.SegNamed.clear();
    folders.RootSeg = -1;
    const std::size_t n = folders.SegStart.size();
    if (n == 0 || sectorsPerClus <= 0 || heap <= 0) return;
    folders.SegName.assign(n, {});
    folders.SegParent.assign(n, -1);
    folders.SegNamed.assign(n, 0);
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (progress && k % 8192 == 0) progress(static_cast<int>(50 * k / entries.size()));
        const scan::TMidEntry& e = *entries[k];
        if (!isFolder(e)) continue;
        const std::int64_t at = dataSector(e, heap, sectorsPerClus);
        if (at < 0) continue;
        const std::int32_t seg = folders.SegOfSect(at);
        if (seg < 0 || folders.SegStart[static_cast<std::size_t>(seg)] != at || folders.SegNamed[static_cast<std::size_t>(seg)]) {
            continue;
        }
        const std::int32_t holder = folders.SegOfSect(e.DirSectNum);
        folders.SegNamed[static_cast<std::size_t>(seg)] = 1;
        folders.SegName[static_cast<std::size_t>(seg)] = e.LongFileName;
        folders.SegParent[static_cast<std::size_t>(seg)] = holder == seg ? -1 : holder;
    }
    // An unnamed folder is a lost folder or the root; only the root's first sector tells it
    // apart (one read per unnamed folder at most).
    if (read) {
        std::vector<std::byte> sector(std::max<std::uint32_t>(sectorBytes, 512));
        for (std::size_t i = 0; i < n && folders.RootSeg < 0; ++i) {
            if (folders.SegNamed[i]) continue;
            std::fill(sector.begin(), sector.end(), std::byte{0});
            if (read(folders.SegStart[i], sector) && holdsRootEntries(sector)) folders.RootSeg = static_cast<std::int32_t>(i);
        }
    }
    if (folders.RootSeg >= 0) folders.SegParent[static_cast<std::size_t>(folders.RootSeg)] = -1;
    BreakParentCycles(folders.SegParent);
    if (progress) progress(100);
}

bool ExFatSegChildOfEntry(const ExFatFolders& folders, std::int32_t sectorsPerClus, std::int64_t heap,
                          const scan::TMidEntry& e, std::int64_t parentSect) {
    if (sectorsPerClus <= 0 || heap <= 0 || !folders.HierarchyBuilt() || !isFolder(e)) return false;
    const std::int64_t at = dataSector(e, heap, sectorsPerClus);
    const std::int32_t i = folders.SegOfSect(at);
    if (i < 0 || folders.SegStart[static_cast<std::size_t>(i)] != at) return false;
    const std::int32_t j = folders.SegOfSect(parentSect);
    return j >= 0 && j != i && folders.SegParent[static_cast<std::size_t>(i)] == j;
}

}  // namespace brenvale::advscan
