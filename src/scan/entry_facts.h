#pragma once
// One reading of an entry record of any of the three kinds, for the code that lists, filters
// and searches entries without caring which file system found them.

#include <cstdint>
#include <optional>
#include <string>

#include "scan/undelete.h"

namespace brenvale::scan {

struct EntryFacts {
    std::string name;  // EntryDisplayName; NTFS: filename
    bool folder = false;
    // kStatusLive, kStatusDeleted or kStatusDamaged; an NTFS entry counts as deleted when its
    // record or a folder above it is no longer in use.
    std::uint8_t status = kStatusLive;
    std::uint64_t size = 0;
    // Local time, "YYYY-MM-DDTHH:MM:SS"; nullopt where the entry holds no valid time.
    std::optional<std::string> modified, created, accessed;
    std::uint32_t firstCluster = 0;      // FAT: from the entry; exFAT: DirClusNum; NTFS: 0
    std::optional<std::int64_t> record;  // NTFS file record number
    const TScanEntry* parent = nullptr;
};

EntryFacts DescribeEntry(const TUndelete& scan, const TScanEntry* entry);

}  // namespace brenvale::scan
