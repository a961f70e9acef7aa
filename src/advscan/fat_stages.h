#pragma once
// What the advanced scan makes of the FAT directory sectors it harvested, without trusting a
// boot sector or a FAT: the entries each directory block holds, the cluster size and the start
// of the data area those entries imply, a FAT that agrees with them (to follow directories past
// their first cluster), which sectors belong to which directory, reused folders marked damaged,
// the directories whose parent is lost, and the parent links below them.
//
// Sector numbers are relative to the scanned object and counted in the device's sectors.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "scan/entry_store.h"
#include "scan/mid_entry.h"
#include "storage/boot_sectors.h"

namespace brenvale::advscan {

// FAT widths as the stages count them.
inline constexpr std::uint8_t kFat12 = 0;
inline constexpr std::uint8_t kFat16 = 1;
inline constexpr std::uint8_t kFat32 = 2;
inline constexpr std::uint8_t kFatUnknown = 255;
// Fewer clusters than this make a FAT12 volume.
inline constexpr std::int64_t kFat12MaxClusters = 4085;

// The width a boot sector describes for file-system code `fsCode` (0 FAT12, 1 FAT16, 2 FAT32),
// or kFatUnknown when it holds no plausible FAT layout.
std::uint8_t FatTypeFromBootSector(const storage::TBootSector& boot, std::uint8_t fsCode);

// A stretch of directory sectors and the directory (its first sector; 0: not known) they
// belong to, with that directory's own first cluster.
struct FatDirSegment {
    std::int64_t Start = 0;
    std::int64_t End = 0;  // inclusive
    std::int64_t Owner = 0;
    std::uint32_t Clus = 0;
    bool operator==(const FatDirSegment&) const = default;
};

// Reads `count` sectors at relative sector `rel` into `into`; returns the bytes read.
using ReadRelSectors = std::function<std::size_t(std::int64_t rel, std::uint32_t count, std::span<std::byte> into)>;

// Corrections the user makes when the files copied out of the FAT tree come out unreadable.
enum class AdjustResult {
    Done,
    NoCluster,         // a file whose folder's own cluster is not known
    SameDirectory,     // both files lie in one folder
    NotSameFileSystem  // their positions contradict each other
};
inline constexpr char kAdjustNoCluster[] = "This file cannot be used by \"Adjustment\".";
inline constexpr char kAdjustSameDirectory[] = "\"File 1\" and \"File 2\" mustn't in the same directory.";
inline constexpr char kAdjustNotSameFileSystem[] =
    "\"File 1\" and \"File 2\" don't belong to same file system. Please\rselect other files to try again.";
inline constexpr char kAdjustCompleted[] =
    "Adjustment completed. \"!!! Advanced Extra !!!\\FAT Root\" has been\rre-organised.\r\rtip 1. it is better to choose 2 "
    "files which you want to recover;\rtip 2. if the result isn't approving, choose files from different\rdirectory to try again.";
inline constexpr char kChangeFsCompleted[] = "Operation completed. \"!!! Advanced Extra !!!\\FAT Root\" has been re-organised.";

class FatRebuild {
public:
    FatRebuild(ReadRelSectors read, std::uint32_t sectorBytes, std::uint64_t objectSectors);

    // Inputs: the width to read entries with and the object's boot-sector copy and code (for
    // the trusted-chain check).
    std::uint8_t FatType = kFat16;
    storage::TBootSector Boot{};
    std::uint8_t FsCode = 255;

    // Results.
    std::vector<scan::TScanEntry*> FatFileList;  // TMidEntry (FAT12/16) or TMidEntry32 (FAT32)
    std::int32_t SectorsPerClus = 0;
    std::optional<std::int64_t> RootSectNum;     // cluster 2; none: unknown
    std::optional<std::int64_t> RootDirSectNum;  // the root directory (a FAT12/16 root lies before cluster 2)
    std::vector<std::int64_t> RegDirSect;        // blocks that began with "." and "..", their clusters
    std::vector<std::uint32_t> RegDirClus;       // and their parents' (the ".." entry's; 0 for the root)
    std::vector<std::uint32_t> RegDirParent;
    bool FatOK = false;
    std::int64_t FatStart = -1;
    std::uint8_t FatEntryBytes = 2;
    std::uint32_t FatMaxClus = 0;
    std::uint32_t FatRootClus = 0;  // the FAT32 root's first cluster the found boot sector gives
    std::vector<FatDirSegment> Segments;
    std::vector<std::int64_t> UnChainedFDTs;  // directories whose parent entry was not found

    // The enumeration stage: every harvested block (`fdts`, ascending; consumed slots become
    // -1) read into entries, the geometry solved, the FAT looked for, directories followed
    // along their chains, reused folders marked and the segments resolved.
    void EnumFATFiles(std::vector<std::int64_t>& fdts, const std::function<void(int)>& progress = {});
    // Orphan directories: harvested blocks no entry leads to (`exFatDirs`: sectors that are
    // exFAT's, never orphans here).
    void AdvCollectOrphanFatDirs(const std::vector<std::int64_t>& fdts, std::span<const std::int64_t> exFatDirs,
                                 const std::function<void(int)>& progress = {});
    // Links every entry below the orphan directories.
    void AdvLinkFatEntries(const std::function<void(int)>& progress = {});

    // The geometry from two files the user knows, from two folders, and the tree again.
    AdjustResult DoAdjust(const scan::TScanEntry* file1, const scan::TScanEntry* file2, const std::vector<std::int64_t>& fdts,
                          std::span<const std::int64_t> exFatDirs);
    // The other width (FAT32 becomes FAT16, anything else FAT32) and every stage again.
    void DoChangeFS(std::vector<std::int64_t>& fdts, std::span<const std::int64_t> exFatDirs);

    // The geometry from two entries the user picked (false: they do not agree, nothing
    // changes), or (both null) from the harvested entries.
    bool AdvSolveFatGeometry(const scan::TScanEntry* file1, const scan::TScanEntry* file2);
    void AdvFindFatTable(const std::function<void(int)>& progress = {});
    void AdvMarkBadDirs();

    std::int64_t AdvClusSector(std::uint32_t clus) const;
    // The FAT's value for `clus`, or 0xFFFFFFFF when there is no FAT or it cannot be read.
    std::uint32_t AdvFatEntryOf(std::uint32_t clus);
    // The clusters of the directory starting at `firstClus`; 0 when the chain is unusable.
    std::uint32_t AdvDirClusChain(std::uint32_t firstClus, std::vector<std::uint32_t>& chain);
    // The owner of the first segment holding `sect`, 0 when none.
    std::int64_t FatDirOwnerOfSect(std::int64_t sect) const;
    // The boot-sector copy is a FAT layout that agrees with the solved geometry.
    bool AdvFatChainTrusted() const;

    // The entry's first cluster, checked against the object and the geometry, and as the width
    // reads it (FAT32: high word at offset 20).
    std::uint32_t FatClusOf(const scan::TScanEntry* e) const;
    std::uint32_t WidthClusOf(const scan::TScanEntry* e) const;

    // Index range of the entries (FatFileList sorted by directory sector) whose directory
    // sector is `sect`, or lies in [from, to].
    bool AdvGetFatBounds(std::int64_t sect, std::int32_t& first, std::int32_t& last) const;
    bool AdvGetFatBoundsRange(std::int64_t from, std::int64_t to, std::int32_t& first, std::int32_t& last) const;

private:
    struct BlockResult {
        bool ran = false;
        std::uint32_t used = 0;  // sectors the directory occupies
        std::uint32_t ownClus = 0;
        std::uint32_t parentClus = 0;
        bool added = false;
    };
    BlockResult enumBlock(std::int64_t sector, std::uint32_t inheritClus, std::int64_t inheritSect, std::int64_t forceDirSect,
                          std::uint32_t readLimit);
    scan::TScanEntry* newEntry(std::int64_t sector, std::uint32_t slot);
    void fallbackGeometry();
    void resolveSegments();
    // Further clusters of directories whose chain no FAT gives (a directory read on past its
    // first cluster, or a block that starts no directory) go to the directory their entries
    // point to: a subfolder's ".." names its parent, and a long name cut by the cluster's
    // start continues the cluster that holds its first parts.
    void settleContinuations();
    void addSegment(std::int64_t start, std::int64_t end, std::int64_t owner, std::uint32_t clus);
    void sortByDirSect();
    std::int64_t dataSectorOf(std::uint32_t clus) const;  // needs a geometry
    // The high word of a slot's first cluster only when the whole number is a cluster the
    // object can hold under the geometry (when one is solved).
    std::uint32_t checkedClus(std::span<const std::byte> slot) const;

    ReadRelSectors read_;
    std::uint32_t sectorBytes_;
    std::uint64_t objectSectors_;
    scan::EntryStore<scan::TMidEntry> mids_;
    scan::EntryStore<scan::TMidEntry32> mid32s_;
    // Directory blocks lie in ascending order and close together: they are read through a
    // window of sectors, one device read for many blocks.
    std::size_t readWindowed(std::int64_t rel, std::uint32_t count, std::span<std::byte> into);
    std::vector<std::byte> window_;
    std::int64_t windowStart_ = -1;
    std::size_t windowSectors_ = 0;
    std::uint32_t windowAhead_ = 0;  // sectors the next window read should cover
    std::vector<std::byte> block_;
    // Each entry and the sector and slot it was read from (its directory sector may be
    // another: a directory's block runs on into the sectors after it, and a block right after a
    // directory's end is taken to continue it).
    struct ReadPlace {
        scan::TScanEntry* entry;
        std::int64_t sector;
        std::uint32_t slot;  // within the sector
    };
    std::vector<ReadPlace> readAt_;
    // Each harvested block as enumerated: the directory its entries were given and where in
    // readAt_ they are.
    struct BlockSpan {
        std::int64_t start = 0;
        std::uint32_t used = 0;
        std::int64_t owner = 0;
        std::uint32_t clus = 0;
        bool regular = false;
        std::size_t firstRead = 0, endRead = 0;
    };
    std::vector<BlockSpan> blocks_;
    // Clusters a FAT chain gave to a directory, and where the cluster before them in the chain
    // ends (the sector after it).
    struct ChainedCluster {
        std::int64_t start = 0;
        std::int64_t owner = 0;
        std::uint32_t clus = 0;
        std::int64_t predEnd = 0;
        std::size_t firstRead = 0, endRead = 0;  // entries read only when the chain was followed
    };
    std::vector<ChainedCluster> chained_;
    // Long names a sector boundary cuts, or that a block begins in the middle of: the parts
    // before and after the boundary (slots in disk order, kept in nameSlots_) and the short
    // slot they end in; no entry when the walk ended at the boundary.
    using Slot = std::array<std::byte, 32>;
    struct NameSplit {
        std::int64_t boundary = 0;
        std::size_t at = 0;  // in nameSlots_
        std::uint32_t before = 0, after = 0;
        Slot shortSlot{};
        scan::TScanEntry* entry = nullptr;
    };
    std::vector<NameSplit> splits_;
    std::vector<Slot> nameSlots_;
    std::unordered_map<std::int64_t, std::vector<std::byte>> fatCache_;  // table sectors read
    std::vector<std::pair<std::int64_t, scan::TScanEntry*>> keyed_;       // sortByDirSect's keys
};

}  // namespace brenvale::advscan
