#pragma once
// The rebuilt exFAT tree as the lists show it: under "exFAT Root", the folders (segments of
// directory sectors) hung below their parents and named after the entries that point at them
// ("Folder%.8X" with the first sector when none does), each holding the entries read from its
// sectors; the root's entries directly under "exFAT Root", and so the folders without a parent
// (all of them when there is no tree).

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "advscan/exfat_stages.h"

namespace brenvale::advscan {

inline constexpr char kExFatRoot[] = "exFAT Root";

// Every folder (entry null, `segment` its index) and entry in tree order, each folder before
// what it holds, with its path from "exFAT Root" and its depth below it. A folder entry shown
// as a folder of the tree is not reported again as an entry.
void WalkExFatTree(std::span<scan::TMidEntry* const> entries, const ExFatFolders& folders, std::int32_t sectorsPerClus,
                   std::int64_t heap,
                   const std::function<void(const scan::TMidEntry* entry, std::int32_t segment, const std::string& path, int depth)>& visit);

}  // namespace brenvale::advscan
