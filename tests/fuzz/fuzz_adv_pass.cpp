// Arbitrary bytes as a stretch of disk for the advanced scan's harvest and its NTFS, FAT and
// exFAT stages. The first byte chooses the record length (none, 1, 2 or 4 KiB), the batch size
// and the FAT width; the harvest must not depend on where batches end, every harvested place
// must lie in the disk, the rebuilt trees list each entry at most once, and no stage may read
// outside what it is given (ASan) or overflow (UBSan).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "advscan/exfat_stages.h"
#include "advscan/exfat_tree.h"
#include "advscan/fat_stages.h"
#include "advscan/fat_tree.h"
#include "advscan/harvest.h"
#include "advscan/ntfs_stages.h"
#include "advscan/sector_tests.h"

namespace {

using namespace brenvale::advscan;

constexpr std::uint32_t kSector = 512;

struct Harvest {
    HarvestLists lists;
    KnownSets known;
};

void harvestIn(Harvest& h, std::span<const std::byte> disk, std::size_t batchSectors, std::uint32_t recordLength) {
    h.lists.RecordLength = recordLength;
    HarvestSetup setup;
    setup.ObjectSectors = disk.size() / kSector;
    SectorHarvester harvester(h.lists, h.known, setup);
    const std::size_t batch = batchSectors * kSector;
    for (std::size_t at = 0; at < disk.size(); at += batch) {
        harvester.Batch(disk.subspan(at, std::min(batch, disk.size() - at)), static_cast<std::int64_t>(at / kSector));
    }
    harvester.Finish();
    HarvestDeferredRecords(h.lists, h.known, kSector, kSector, [&](std::int64_t rel, std::span<std::byte> into) {
        const auto at = static_cast<std::size_t>(rel) * kSector;
        if (rel < 0 || at > disk.size() || into.size() > disk.size() - at) return false;
        std::memcpy(into.data(), disk.data() + at, into.size());
        return true;
    });
}

using Key = std::tuple<std::int64_t, std::int64_t, std::string, std::uint64_t>;

std::set<Key> keysOf(const Harvest& h, std::size_t sectors) {
    std::set<Key> out;
    for (const auto* r : h.lists.NTFSFileList) {
        if (r->sectornumber < 0 || static_cast<std::size_t>(r->sectornumber) >= sectors) std::abort();
        out.emplace(r->recordnumber, r->sectornumber, r->filename, r->realsize);
    }
    for (const auto* e : h.lists.FatFileList) {
        if (e->DirSectNum < 0 || static_cast<std::size_t>(e->DirSectNum) >= sectors) std::abort();
        out.emplace(-1, e->DirSectNum, e->LongFileName, e->DirClusNum);
    }
    for (std::int64_t s : h.lists.FDTs) {
        if (s < 0 || static_cast<std::size_t>(s) >= sectors) std::abort();
        out.emplace(-2, s, "", 0);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = bytes[0];
    const std::span<const std::byte> data(reinterpret_cast<const std::byte*>(bytes + 1), size - 1);
    const std::size_t sectors = data.size() / kSector;
    if (sectors == 0) return 0;
    const auto disk = data.first(sectors * kSector);
    static constexpr std::uint32_t kLengths[] = {0, 1024, 2048, 4096};
    std::uint32_t length = kLengths[mode & 3];
    if (length == 0) {
        if (const auto vote = DiscoverRecordLength(disk, kSector)) length = vote->length;
    }

    Harvest whole;
    harvestIn(whole, disk, sectors, length);
    Harvest parts;
    harvestIn(parts, disk, 1 + (mode >> 2) % 16, length);
    // With a known record length the harvest must not depend on where batches end.
    if (length != 0 && keysOf(whole, sectors) != keysOf(parts, sectors)) std::abort();

    brenvale::scan::tntfsfilerecord folderTemplate;
    const std::int32_t spc = ChooseSectorsPerCluster(parts.lists.Votes);
    AdvSortNtfsRecords(parts.lists, folderTemplate, {});
    AdvFixLegacyNtfsRecNumbers(parts.lists, kSector, {}, {});
    const auto start = AdvSolveNtfsGeometry(parts.lists, spc, kSector, {}, {});
    if (start.Solved && start.Base < 0) std::abort();

    auto readSectors = [&](std::int64_t rel, std::uint32_t count, std::span<std::byte> into) -> std::size_t {
        const auto at = static_cast<std::size_t>(rel) * kSector;
        if (rel < 0 || at >= disk.size()) return 0;
        const std::size_t n = std::min({std::size_t{count} * kSector, into.size(), disk.size() - at});
        std::memcpy(into.data(), disk.data() + at, n);
        return n;
    };
    FatRebuild fat(readSectors, kSector, sectors);
    fat.FatType = (mode & 0x40) ? kFat32 : kFat16;
    fat.EnumFATFiles(parts.lists.FDTs);
    fat.AdvCollectOrphanFatDirs(parts.lists.FDTs, parts.lists.ExFatDirs);
    fat.AdvLinkFatEntries();
    std::size_t listed = 0;
    WalkFatTree(fat, [&](const brenvale::scan::TScanEntry*, const std::string&, int) { ++listed; });
    if (listed > fat.FatFileList.size() + fat.UnChainedFDTs.size()) std::abort();
    if (fat.FatFileList.size() >= 2) {
        fat.DoAdjust(fat.FatFileList.front(), fat.FatFileList.back(), parts.lists.FDTs, parts.lists.ExFatDirs);
    }
    fat.DoChangeFS(parts.lists.FDTs, parts.lists.ExFatDirs);

    std::sort(parts.lists.ExFatDirs.begin(), parts.lists.ExFatDirs.end());
    // The boot candidate a made-up geometry, as a wiped exFAT volume's boot sector could give.
    const ExFatInference inferred = InferExFatGeometry(parts.lists.FatFileList, parts.lists.ExFatDirs, sectors, kSector,
                                                       [&](std::int64_t rel, std::span<std::byte> into) {
                                                           return readSectors(rel, 1, into) == into.size();
                                                       },
                                                       ExFatGeometry{std::int32_t{1} << (mode & 15), 24 + (mode >> 4)});
    if (inferred.Geometry.Usable() && static_cast<std::uint64_t>(inferred.Geometry.HeapOffset) >= sectors) std::abort();
    ExFatFolders folders = BuildExFatSegments(parts.lists.ExFatDirs, inferred.Geometry);
    // Without an inferred geometry, a made-up one: the tree must still be sound.
    const std::int32_t exSpc = inferred.Geometry.Usable() ? inferred.Geometry.SectorsPerClus : 1 + (mode >> 6);
    const std::int64_t heap = inferred.Geometry.Usable() ? inferred.Geometry.HeapOffset : 24;
    BuildExFatHierarchy(parts.lists.FatFileList, exSpc, heap, folders, kSector, [&](std::int64_t rel, std::span<std::byte> into) {
        return readSectors(rel, 1, into) == into.size();
    });
    listed = 0;
    WalkExFatTree(parts.lists.FatFileList, folders, exSpc, heap,
                  [&](const brenvale::scan::TMidEntry*, std::int32_t, const std::string&, int) { ++listed; });
    if (listed > parts.lists.FatFileList.size() + folders.SegStart.size()) std::abort();
    return 0;
}
