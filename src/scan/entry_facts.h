#pragma once
// One reading of a FAT or exFAT entry record, whichever of the two record types holds it, for
// the code that lists, filters and searches entries.

#include <cstdint>
#include <string>

#include "scan/undelete.h"

namespace brenvale::scan {

struct EntryFacts {
    std::string name;  // EntryDisplayName
    bool folder = false;
    std::uint8_t status = kStatusLive;
    std::uint32_t size = 0;
    std::uint16_t createdate = 0, createtime = 0;
    std::uint16_t updatedate = 0, updatetime = 0;
    std::uint16_t accessdate = 0;
    std::uint32_t firstCluster = 0;  // FAT: from the entry; exFAT: DirClusNum
    const TScanEntry* parent = nullptr;
};

// The entry must belong to `scan`, whose volume is FAT12/16/32 or exFAT.
EntryFacts DescribeEntry(const TUndelete& scan, const TScanEntry* entry);

}  // namespace brenvale::scan
