#pragma once
// The rebuilt FAT tree as the lists show it: under "FAT Root", a folder "Folder%.8X" for each
// directory no entry leads to, then the root directory's entries; a folder's contents are the
// entries of the directory its first cluster names.

#include <cstdint>
#include <functional>
#include <string>

#include "advscan/fat_stages.h"

namespace brenvale::advscan {

inline constexpr char kFatRoot[] = "FAT Root";

// The name the lists show: the long name, else the 8.3 name ("NAME.EXT"; a deleted entry
// starts with "_").
std::string FatDisplayName(const scan::TScanEntry* e);

// Every entry in tree order, each folder before what it holds, with its path from "FAT Root"
// ("FAT Root/Folder0000ABCD/a.txt") and its depth below "FAT Root" (the orphan folders
// themselves are reported with a null entry). A directory is listed once, under the first
// folder that leads to it.
void WalkFatTree(const FatRebuild& fat,
                 const std::function<void(const scan::TScanEntry* entry, const std::string& path, int depth)>& visit);

}  // namespace brenvale::advscan
