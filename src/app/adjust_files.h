#pragma once
// The "Adjustment" dialog's rules without widgets: which file-list rows it takes, why it
// refuses one, and the text of its width page.

#include <cstdint>
#include <string>

#include "app/list_row.h"

namespace brenvale::app {

inline constexpr char kAdjustDropHint1[] = "Please drag a file to here";
inline constexpr char kAdjustDropHint2[] = "Please drag a file from another directory to here";
inline constexpr char kAdjustExplanation[] =
    "\"Adjustment\" is required if all recovered files are unreadable or unuseful when you are recovering files from "
    "formatted or lost FAT12/16/32 partition. ";
inline constexpr char kChangeFsButton[] = "The detected file system type is wrong";

// A row the drop boxes take: a rebuilt FAT entry read from a folder that began with "." and "..".
bool AdjustAccepts(const ListRow& row);
// Why the entry cannot be file 1 or 2 with `other` chosen in the other box (may be null);
// null when it can.
const char* AdjustDropRefusal(const scan::TScanEntry* entry, const scan::TScanEntry* other);
// "By analyzing the data in ... FAT32. Please press the button below if ..."
std::string ChangeFsTypeText(std::uint8_t fatType);

}  // namespace brenvale::app
