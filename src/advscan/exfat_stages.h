#pragma once
// What the advanced scan makes of the exFAT entry sets it harvested: the cluster size and the
// start of the cluster heap the folders imply (checked against the first bytes of the files),
// the folders the directory sectors form, and the tree those folders form, named after the
// entries that point at them.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scan/mid_entry.h"

namespace brenvale::advscan {

struct ExFatGeometry {
    std::int32_t SectorsPerClus = 0;  // 0: not inferred
    std::int64_t HeapOffset = -1;     // relative sector of cluster 2; -1: not inferred
    bool Usable() const { return SectorsPerClus >= 1 && HeapOffset >= 0; }
};

// Reads one sector at a relative sector number into `into`; false when it cannot.
using ReadRelSector = std::function<bool(std::int64_t rel, std::span<std::byte> into)>;

// How the geometry came to be accepted.
enum class ExFatAcceptedBy : std::uint8_t {
    None,
    Votes,              // a clear vote, confirmed by two files
    FilesAfterWeakVote, // a weaker vote, confirmed by most of the files looked at
    BootSector,         // no vote held, the boot sector's geometry is confirmed by the files
};

struct ExFatInference {
    ExFatGeometry Geometry;
    std::int32_t Votes = 0;        // of the best size and heap (before the check by content)
    std::int32_t RunnerUp = 0;     // the best count of the other sizes
    std::int32_t Confirmed = 0;    // files whose first sector carries their type's signature
    std::int32_t Checked = 0;      // files the stricter check looked at for the geometry accepted
    bool Sampled = false;          // too many folder and sector pairs to count them all
    ExFatAcceptedBy AcceptedBy = ExFatAcceptedBy::None;
};

// Every folder entry of `entries` votes, with every sector of `dirs` (ascending), for the heap
// that would put the folder's data there, under each cluster size from 1 to 65,536 sectors.
// The best size and heap need 3 votes and twice the votes of any other size, and two files
// whose first sector carries the signature of their extension. Failing that (a volume formatted
// again, or a card whose top folders were lost, leaves few folders to vote), each size's best
// heap with 2 votes or more, strongest first, then `boot` (the boot sector's geometry of an
// exFAT volume), is accepted when the files' first sectors confirm it: of up to 32 files with
// a known signature, 2 or more and at least three in four must carry it. `objectSectors`
// bounds the heap; `sectorBytes` is the size of one sector read.
ExFatInference InferExFatGeometry(std::span<scan::TMidEntry* const> entries, std::span<const std::int64_t> dirs,
                                  std::uint64_t objectSectors, std::uint32_t sectorBytes, const ReadRelSector& read,
                                  std::optional<ExFatGeometry> boot = std::nullopt);

// The folders (segments of directory sectors) and their tree.
struct ExFatFolders {
    std::vector<std::int64_t> SegStart, SegEnd;  // inclusive relative sectors, ascending
    std::vector<std::string> SegName;            // the entry that points at the folder; may be empty
    std::vector<std::int32_t> SegParent;         // -1: none
    std::vector<char> SegNamed;                  // an entry points at the folder (its name may be empty)
    std::int32_t RootSeg = -1;

    // The segment that holds relative sector `s`, or -1.
    std::int32_t SegOfSect(std::int64_t s) const;
    bool HierarchyBuilt() const { return !SegStart.empty() && SegParent.size() == SegStart.size(); }
};

// Runs of `dirs` (ascending) that belong together: sectors of one cluster when the geometry is
// usable, else adjacent sectors.
ExFatFolders BuildExFatSegments(std::span<const std::int64_t> dirs, const ExFatGeometry& geometry);

// Names each folder after the first folder entry whose data starts it, gives it the folder that
// holds that entry as parent, chooses the root and breaks parent cycles. The root is the first
// unnamed folder whose first sector (read through `read`, `sectorBytes` long) holds the
// allocation bitmap or up-case table entry only a root directory has; a volume formatted again
// lost its root, and has none: its unnamed folders are all top-level. Needs a cluster size and
// a heap above 0; else leaves the folders flat.
void BuildExFatHierarchy(std::span<scan::TMidEntry* const> entries, std::int32_t sectorsPerClus, std::int64_t heap,
                         ExFatFolders& folders, std::uint32_t sectorBytes, const ReadRelSector& read,
                         const std::function<void(int)>& progress = {});

// Cuts the parent of every folder whose chain of parents, as it stands when the folders are
// taken in index order, never ends: a folder on a cycle, or one whose chain runs into a cycle
// none of whose folders was taken before it. Linear in the number of folders.
void BreakParentCycles(std::vector<std::int32_t>& parent);

// `e` is a folder entry already shown as the segment folder below the folder that holds
// `parentSect` (the folder view lists it once).
bool ExFatSegChildOfEntry(const ExFatFolders& folders, std::int32_t sectorsPerClus, std::int64_t heap,
                          const scan::TMidEntry& e, std::int64_t parentSect);

}  // namespace brenvale::advscan
