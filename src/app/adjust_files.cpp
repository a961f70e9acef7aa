#include "app/adjust_files.h"

#include "advscan/fat_entry_access.h"
#include "advscan/fat_stages.h"

namespace brenvale::app {

bool AdjustAccepts(const ListRow& row) {
    const scan::TScanEntry* e = row.Data.Entry();
    if (row.Origin != RowOrigin::AdvancedFat || !e || scan::IsNtfsEntry(e)) return false;
    return advscan::fatentry::regularDir(e);
}

const char* AdjustDropRefusal(const scan::TScanEntry* entry, const scan::TScanEntry* other) {
    if (!entry || advscan::fatentry::dirClus(entry) == 0) return advscan::kAdjustNoCluster;
    if (other && advscan::fatentry::dirClus(other) == advscan::fatentry::dirClus(entry)) return advscan::kAdjustSameDirectory;
    return nullptr;
}

std::string ChangeFsTypeText(std::uint8_t fatType) {
    return std::string("By analyzing the data in \"FAT Extra\" folder, Brenvale guess the original file system type of "
                       "current drive is ") +
           (fatType > advscan::kFat16 ? "FAT32" : "FAT12/16") +
           ". Please press the button below if the detected file system type is wrong.";
}

}  // namespace brenvale::app
