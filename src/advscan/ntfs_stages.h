#pragma once
// What the advanced scan does with the NTFS records it harvested once the pass is over: choose
// the cluster size the records voted for, sort them by folder, stand in placeholder folders for
// the parents no record was found for, number the records of the old layout from their
// neighbours, and find where the volume began from where its records lay.

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "advscan/harvest.h"

namespace brenvale::advscan {

using Diag = std::function<void(const std::string&)>;
using StageProgress = std::function<void(int percent)>;

// The size with the most votes, a larger size only with strictly more; 1 without votes.
std::int32_t ChooseSectorsPerCluster(const SpcVotes& votes);

// Sorted by parent record number, then by name (ordinal).
void SortByParentAndName(std::vector<scan::tntfsfilerecord*>& list);

struct NtfsFolders {
    std::vector<std::uint64_t> Dirs;     // parents of harvested records (not 0 or 5), ascending
    std::vector<std::uint64_t> TopDirs;  // of them, those no harvested record is
};

// Sorts the list, collects the parents and adds a placeholder folder ("Folder%.8X", under the
// root) for each parent that is no harvested record, copied from `folderTemplate`.
NtfsFolders AdvSortNtfsRecords(HarvestLists& lists, const scan::tntfsfilerecord& folderTemplate,
                               const StageProgress& progress);

// Gives the records of the old layout (number -1) the numbers their neighbours one record
// length away imply. `known` maps sectors to numbers of records found otherwise (the standard
// scan's). Returns how many records got a number.
std::size_t AdvFixLegacyNtfsRecNumbers(HarvestLists& lists, std::uint32_t bytesPerSector,
                                       const std::unordered_map<std::int64_t, std::int64_t>& known, const Diag& diag);

struct NtfsVolumeStart {
    bool Solved = false;
    std::int64_t Base = 0;  // relative to the object's first sector
};

// Where the NTFS volume began, from record 0's place and the first cluster of the master file
// table it gives, checked against the family of records 4 to 63 and, when record 0 was met in
// the mirror, against record 1's.
NtfsVolumeStart AdvSolveNtfsGeometry(const HarvestLists& lists, std::int32_t sectorsPerCluster,
                                     std::uint32_t bytesPerSector, const Diag& diag, const StageProgress& progress);

}  // namespace brenvale::advscan
